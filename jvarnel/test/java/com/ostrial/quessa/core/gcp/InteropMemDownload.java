package com.ostrial.quessa.core.gcp;

/** The host's view of jvarnel: the two native methods it implements. */
public class InteropMemDownload {
    public static native int Varnel(String argFile, String libraryDir, String workDir,
            String logFile, String submitFile, String downloadFile, String unused,
            String[] message);

    public static native String VarnelGetVersion();
}
