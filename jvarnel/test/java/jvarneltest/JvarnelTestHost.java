package jvarneltest;

import com.ostrial.quessa.core.gcp.InteropMemDownload;

import java.io.ByteArrayOutputStream;
import java.io.DataOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.CyclicBarrier;

/**
 * A Java host for jvarnel's tests.  It runs in the working directory the test
 * driver prepared (bin/libvarnel.so is whatever library the scenario puts
 * there) and runs one scenario, named by its argument.  Every failed check
 * is printed; the exit status is 1 when any failed.
 */
public final class JvarnelTestHost {
    private static final List<String> failures = new ArrayList<>();

    public static void main(String[] args) throws Exception {
        System.load(System.getProperty("jvarnel.library"));
        switch (args[0]) {
            case "fake": fake(); break;
            case "no-version-entry": noVersionEntry(); break;
            case "search-path": searchPath(); break;
            case "missing-then-present": missingThenPresent(); break;
            case "version": version(); break;
            case "link-success": linkSuccess(); break;
            case "link-failure": linkFailure(); break;
            case "link-long-message": linkLongMessage(); break;
            case "link-non-ascii-workdir": linkNonAsciiWorkdir(); break;
            case "link-latin1-input": linkLatin1Input(); break;
            case "link-empty-array": linkEmptyArray(); break;
            case "link-threads": linkThreads(); break;
            default: throw new IllegalArgumentException("no scenario " + args[0]);
        }
        for (String failure : failures) System.out.println("FAILED: " + failure);
        System.out.println(failures.isEmpty() ? "ok" : failures.size() + " checks failed");
        System.exit(failures.isEmpty() ? 0 : 1);
    }

    // ---- checks ----------------------------------------------------------

    private static void check(boolean ok, String what) {
        if (!ok) failures.add(what);
    }

    private static void checkEqual(Object expected, Object actual, String what) {
        if (!expected.equals(actual)) {
            failures.add(what + ": expected " + show(expected) + ", got " + show(actual));
        }
    }

    private static String show(Object value) {
        if (!(value instanceof String)) return String.valueOf(value);
        StringBuilder out = new StringBuilder("\"");
        for (char c : ((String) value).toCharArray()) {
            if (c >= 0x20 && c < 0x7F) out.append(c);
            else out.append(String.format("\\u%04X", (int) c));
        }
        return out.append('"').toString();
    }

    private interface NativeCall {
        void run() throws Exception;
    }

    /** Runs the call and returns the Throwable it raised, or null. */
    private static Throwable thrown(NativeCall call) {
        try {
            call.run();
            return null;
        } catch (Throwable t) {
            return t;
        }
    }

    private static void checkThrows(Class<?> type, String messagePart, NativeCall call,
            String what) {
        Throwable t = thrown(call);
        if (t == null) {
            failures.add(what + ": nothing thrown");
        } else if (!type.isInstance(t)) {
            failures.add(what + ": " + t + " thrown instead of " + type.getName());
        } else if (t.getMessage() == null || !t.getMessage().contains(messagePart)) {
            failures.add(what + ": message " + show(t.getMessage()) + " lacks "
                    + show(messagePart));
        }
    }

    // ---- helpers ---------------------------------------------------------

    /** The JVM's modified UTF-8 form of a string. */
    static byte[] modifiedUtf8(String s) throws IOException {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        new DataOutputStream(bytes).writeUTF(s);
        return Arrays.copyOfRange(bytes.toByteArray(), 2, bytes.size());
    }

    static String hex(byte[] bytes) {
        StringBuilder out = new StringBuilder();
        for (byte b : bytes) out.append(String.format("%02x", b & 0xFF));
        return out.toString();
    }

    static byte[] bytes(int... values) {
        byte[] out = new byte[values.length];
        for (int i = 0; i < values.length; ++i) out[i] = (byte) values[i];
        return out;
    }

    static byte[] concat(byte[]... parts) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (byte[] part : parts) out.write(part, 0, part.length);
        return out.toByteArray();
    }

    static byte[] ascii(String s) {
        return s.getBytes(StandardCharsets.ISO_8859_1);
    }

    static byte[] repeat(char c, int count) {
        byte[] out = new byte[count];
        Arrays.fill(out, (byte) c);
        return out;
    }

    static String repeatString(char c, int count) {
        return String.valueOf(c).repeat(count);
    }

    static String[] freshMessage() {
        return new String[] {"not written"};
    }

    // ---- scenarios with the fake varnel ------------------------------------

    /** The fake varnel in bin/: arguments, message decoding, nulls, array. */
    static void fake() throws Exception {
        checkEqual("fake varnel, buffer of 100 bytes" + repeatString('.', 99 - 32),
                InteropMemDownload.VarnelGetVersion(), "a version text that fills the buffer");

        argumentsReachVarnel();
        messageTexts();

        // The fake leaves the buffer as it found it when the ARG file is
        // missing: the bridge's own buffer starts empty.
        String[] message = freshMessage();
        int code = InteropMemDownload.Varnel("missing.bin", "", "", "untouched.rec", "s", "d",
                "x", message);
        checkEqual(99, code, "untouched buffer: result");
        checkEqual("", message[0], "untouched buffer: message");

        nullParameters();

        // JNI's own exception for element 0 of an empty array, after varnel
        // has run and written its files.
        Files.write(Paths.get("empty-array.bin"), ascii("some error"));
        checkThrows(ArrayIndexOutOfBoundsException.class, "", () ->
                InteropMemDownload.Varnel("empty-array.bin", "", "", "empty-array.rec", "s", "d",
                        "x", new String[0]), "empty message array");
        check(Files.exists(Paths.get("empty-array.rec")), "empty message array: varnel ran");
    }

    static void argumentsReachVarnel() throws Exception {
        Path work = Files.createDirectories(Paths.get("W\u00f6rk"));
        String workDir = work.getFileName() + "/";
        Files.write(work.resolve("args.bin"), ascii("done"));
        String[] texts = {
            "args.bin",
            "Biblioth\u00e8que/",
            workDir,
            "args.rec",
            "\u20ac-\ud83d\ude00.sub",  // a supplementary character: a surrogate pair
            "nul\u0000inside",        // U+0000 is C0 80, not an end of the text
        };
        String[] message = freshMessage();
        int code = InteropMemDownload.Varnel(texts[0], texts[1], texts[2], texts[3], texts[4],
                texts[5], null, message);
        checkEqual(7004, code, "arguments: result");
        checkEqual("done", message[0], "arguments: message");
        List<String> record = Files.readAllLines(work.resolve("args.rec"));
        checkEqual(8, record.size(), "arguments: record lines");
        if (record.size() != 8) return;
        for (int i = 0; i < texts.length; ++i) {
            checkEqual(hex(modifiedUtf8(texts[i])), record.get(i),
                    "argument " + (i + 1) + " bytes");
        }
        checkEqual("level 3", record.get(6), "log level");
        checkEqual("length 550", record.get(7), "message buffer length");
    }

    /** The message buffer's bytes and the String the caller receives. */
    static void messageTexts() throws Exception {
        Object[][] cases = {
            {"empty", new byte[0], ""},
            {"header and text", ascii("VARNEL.DLL  v3.03.002, Error 1006:\nNo FB list.\n"),
                "VARNEL.DLL  v3.03.002, Error 1006:\nNo FB list.\n"},
            {"Latin-1 byte", concat(ascii("dir M"), bytes(0xFC), ascii("nchen\\")),
                "dir M\u00fcnchen\\"},
            {"UTF-8 sequence", concat(ascii("M"), bytes(0xC3, 0xBC), ascii("nchen")),
                "M\u00fcnchen"},
            {"text of 549 bytes", repeat('a', 549), repeatString('a', 549)},
            {"longer text cut to 549 bytes", repeat('b', 700), repeatString('b', 549)},
            {"sequence broken by the cut", concat(repeat('c', 548), bytes(0xC3, 0xA9), ascii("z")),
                repeatString('c', 548)},
            {"lone byte at the cut", concat(repeat('d', 548), bytes(0xFC), ascii("zz")),
                repeatString('d', 548) + "\u00fc"},
            {"Latin-1 lead byte at the cut", concat(repeat('e', 548), bytes(0xE9), ascii("zz")),
                repeatString('e', 548) + "\u00e9"},
            {"NUL ends the text", concat(ascii("ab"), bytes(0), ascii("cd")), "ab"},
        };
        int n = 0;
        for (Object[] c : cases) {
            String name = (String) c[0];
            byte[] bytes = (byte[]) c[1];
            String file = "message" + (++n) + ".bin";
            Files.write(Paths.get(file), bytes);
            String[] message = freshMessage();
            int code = InteropMemDownload.Varnel(file, "", "", "message.rec", "s", "d", "x",
                    message);
            checkEqual(7000 + bytes.length, code, name + ": result");
            checkEqual(c[2], message[0], name + ": message");
        }
    }

    static void nullParameters() throws Exception {
        String[] names = {"argFile", "libraryDir", "workDir", "logFile", "submitFile",
            "downloadFile", "message"};
        Files.write(Paths.get("null.bin"), ascii("x"));
        for (int i = 0; i < names.length; ++i) {
            String[] s = {"null.bin", "", "", "null" + i + ".rec", "s", "d"};
            if (i < 6) s[i] = null;
            String[] message = i == 6 ? null : freshMessage();
            checkThrows(NullPointerException.class, names[i], () ->
                    InteropMemDownload.Varnel(s[0], s[1], s[2], s[3], s[4], s[5], "x", message),
                    "null " + names[i]);
            check(!Files.exists(Paths.get("null" + i + ".rec")),
                    "null " + names[i] + ": varnel was called");
            if (message != null) checkEqual("not written", message[0], "null " + names[i]);
        }
    }

    /** A varnel without VarnelGetVersion: that entry fails, every time, alone. */
    static void noVersionEntry() throws Exception {
        for (int attempt = 1; attempt <= 2; ++attempt) {
            checkThrows(UnsatisfiedLinkError.class, "VarnelGetVersion",
                    InteropMemDownload::VarnelGetVersion, "missing entry, attempt " + attempt);
        }
        Files.write(Paths.get("link.bin"), ascii("linked"));
        String[] message = freshMessage();
        checkEqual(7006, InteropMemDownload.Varnel("link.bin", "", "", "link.rec", "s", "d", "x",
                message), "the other entry still binds: result");
        checkEqual("linked", message[0], "the other entry still binds: message");
    }

    /** No bin/libvarnel.so: the loader's own search finds varnel. */
    static void searchPath() throws Exception {
        checkEqual("fake varnel, buffer of 100 bytes" + repeatString('.', 99 - 32),
                InteropMemDownload.VarnelGetVersion(), "version through the search path");
        Files.write(Paths.get("search.bin"), ascii("found"));
        String[] message = freshMessage();
        checkEqual(7005, InteropMemDownload.Varnel("search.bin", "", "", "search.rec", "s", "d",
                "x", message), "link through the search path: result");
        checkEqual("found", message[0], "link through the search path: message");
    }

    // ---- scenarios with the real varnel --------------------------------------

    static final String VERSION = "VARNEL.DLL  v3.03.002";

    /** No varnel anywhere at first; the JVM goes on and binds it once it is there. */
    static void missingThenPresent() throws Exception {
        for (int attempt = 1; attempt <= 2; ++attempt) {
            checkThrows(UnsatisfiedLinkError.class, "libvarnel.so", () ->
                    InteropMemDownload.Varnel("a.arg", "", "", "a.log", "a.sub", "a.s1", "x",
                            freshMessage()), "Varnel without varnel, attempt " + attempt);
            checkThrows(UnsatisfiedLinkError.class, "libvarnel.so",
                    InteropMemDownload::VarnelGetVersion,
                    "VarnelGetVersion without varnel, attempt " + attempt);
        }
        Files.copy(Paths.get(System.getProperty("jvarnel.spare")), Paths.get("bin/libvarnel.so"),
                StandardCopyOption.REPLACE_EXISTING);
        checkEqual(VERSION, InteropMemDownload.VarnelGetVersion(), "version once varnel is there");
        String[] message = freshMessage();
        Throwable t = thrown(() -> InteropMemDownload.Varnel("a.arg", "", "", "a.log", "a.sub",
                "a.s1", "x", message));
        check(t == null, "link once varnel is there: " + t);
        check(!"not written".equals(message[0]), "link once varnel is there: message stored");
    }

    static void version() throws Exception {
        checkEqual(VERSION, InteropMemDownload.VarnelGetVersion(), "version text");
        checkEqual(VERSION, InteropMemDownload.VarnelGetVersion(), "version text, again");
    }

    static final String HEADER_FORMAT = VERSION + ", Error %d:\n";

    static String header(int code) {
        return String.format(HEADER_FORMAT, code);
    }

    static final String OPEN_FAILED_TEXT = "Cannot open file \"%s\" in directory \"%s\".\n"
            + "What to check - Make sure the directory exists and the disk is not full.  "
            + "Note that compressed drives often report false free space. ";

    /** One M68 object record line: type, count, data, checksum. */
    static String record(int type, byte[] data) {
        StringBuilder line = new StringBuilder(String.format("S%X%02X", type, data.length + 1));
        int sum = data.length + 1;
        for (byte b : data) {
            sum += b & 0xFF;
            line.append(String.format("%02X", b & 0xFF));
        }
        return line.append(String.format("%02X\r\n", ~sum & 0xFF)).toString();
    }

    /** An object with one AROM region holding `code`, defining `global` at its start. */
    static byte[] object(String module, byte[] code, String global) {
        int last = code.length - 1;
        StringBuilder text = new StringBuilder();
        text.append(record(0, concat(bytes(0, 0), ascii(module))));
        text.append(record(3, concat(bytes(0, 0, 0x85), ascii("AROM"))));
        text.append(record(4, bytes(0, 0, 5, last >> 8, last & 0xFF)));
        if (global != null) text.append(record(8, concat(bytes(0, 0, 5, 0, 0), ascii(global))));
        text.append(record(2, concat(bytes(0, 0, 5, last), code)));
        text.append("S9030000FC\r\n");
        return ascii(text.toString());
    }

    /** A module of an Exec 3.2 controller without driver: two FBs, a header and a library. */
    static void writeModule(Path work) throws IOException {
        Path lib = Files.createDirectories(Paths.get("lib"));
        Files.write(lib.resolve("EEPROM.OBJ"), ascii("S9030000FC\r\n"));
        Files.write(lib.resolve("LIB.OBJ"), object("LIB", bytes(0x39), "MODEND"));
        Files.write(lib.resolve("FBA.OBJ"), object("FBA", bytes(0x12, 0x34, 0x56), null));
        Files.write(lib.resolve("FBB.OBJ"), object("FBB", bytes(0x78), null));
        Files.createDirectories(work);
        Files.write(work.resolve("job.arg"),
                ascii("lib/\r\n1 FBA\r\n2 FBB\r\nXXX\r\n32C000000000\r\n"));
    }

    /** A link that succeeds: result 0, the empty message and the download file. */
    static void linkSuccess() throws Exception {
        for (String dir : new String[] {"w/", "W\u00f6rk \u20ac/"}) {
            Path work = Paths.get(dir);
            writeModule(work);
            String[] message = freshMessage();
            int code = InteropMemDownload.Varnel("job.arg", "lib/", dir, "job.log", "job.sub",
                    "job.s1", "x", message);
            checkEqual(0, code, dir + ": result");
            checkEqual("", message[0], dir + ": message");
            Path download = work.resolve("job.s1");
            check(Files.exists(download) && new String(Files.readAllBytes(download),
                    StandardCharsets.ISO_8859_1).startsWith("S1"), dir + ": download file");
        }
    }

    /** A link that fails: the header line and the message text. */
    static void linkFailure() throws Exception {
        Files.createDirectories(Paths.get("w"));
        String[] message = freshMessage();
        int code = InteropMemDownload.Varnel("job.arg", "lib/", "w/", "job.log", "job.sub",
                "job.s1", "x", message);
        checkEqual(1001, code, "missing ARG file: result");
        checkEqual(header(1001) + String.format(OPEN_FAILED_TEXT, "job.arg", "w/"), message[0],
                "missing ARG file: message");
    }

    /** Message texts longer than the 549 bytes that reach the caller. */
    static void linkLongMessage() throws Exception {
        String prefix = header(102) + "Can't open log file \"";
        // ASCII: the first 549 bytes.
        String dir = repeatString('d', 560) + "/";
        String[] message = freshMessage();
        checkEqual(102, InteropMemDownload.Varnel("job.arg", "lib/", dir, "job.log", "job.sub",
                "job.s1", "x", message), "long ASCII path: result");
        checkEqual((prefix + dir).substring(0, 549), message[0], "long ASCII path: message");

        // Two bytes a character, placed so that the cut breaks one: it is dropped.
        String pad = (549 - prefix.length()) % 2 == 0 ? "x" : "";
        int whole = (549 - prefix.length() - pad.length()) / 2;
        String wide = pad + repeatString('\u00e9', 300) + "/";
        message = freshMessage();
        checkEqual(102, InteropMemDownload.Varnel("job.arg", "lib/", wide, "job.log", "job.sub",
                "job.s1", "x", message), "long non-ASCII path: result");
        checkEqual(prefix + pad + repeatString('\u00e9', whole), message[0],
                "long non-ASCII path: message");
    }

    /** A working directory outside ASCII reaches varnel in modified UTF-8. */
    static void linkNonAsciiWorkdir() throws Exception {
        String dir = "W\u00f6rk \u20ac/";
        Files.createDirectories(Paths.get(dir));
        String[] message = freshMessage();
        int code = InteropMemDownload.Varnel("job.arg", "lib/", dir, "job.log", "job.sub",
                "job.s1", "x", message);
        checkEqual(1001, code, "non-ASCII working directory: result");
        checkEqual(header(1001) + String.format(OPEN_FAILED_TEXT, "job.arg", dir), message[0],
                "non-ASCII working directory: message");
        Path log = Paths.get(dir, "job.log");
        check(Files.exists(log), "non-ASCII working directory: the log is in it");
        if (Files.exists(log)) {
            String text = new String(Files.readAllBytes(log), StandardCharsets.ISO_8859_1);
            check(text.startsWith(VERSION + "\r\n"), "non-ASCII working directory: log text");
        }
        List<String> names = new ArrayList<>();
        try (var entries = Files.list(Paths.get("."))) {
            entries.forEach(e -> names.add(e.getFileName().toString()));
        }
        names.sort(null);
        checkEqual(List.of("W\u00f6rk \u20ac", "bin"), names, "nothing written elsewhere");
    }

    /** A byte of an input file that is not modified UTF-8 arrives as its Latin-1 character. */
    static void linkLatin1Input() throws Exception {
        Files.createDirectories(Paths.get("w"));
        Files.write(Paths.get("w/job.arg"), concat(ascii("bibl"), bytes(0xE9), ascii("/\r\n1 F"),
                bytes(0xE9), ascii("\r\nXXX\r\n32C000000000\r\n")));
        String[] message = freshMessage();
        int code = InteropMemDownload.Varnel("job.arg", "lib/", "w/", "job.log", "job.sub",
                "job.s1", "x", message);
        checkEqual(1005, code, "Latin-1 FB name: result");
        checkEqual(header(1005) + "No file(s) for FB \"F\u00e9\" found in \"lib/\"\n"
                + "What to check - Is this FB supposed to be downloading into this module?   "
                + "Does the directory \"lib/\" exist?", message[0], "Latin-1 FB name: message");
    }

    static final int THREAD_CALLS = 100;

    /**
     * Call i of thread t on the working directory w/: a link of its own copy
     * of the module's ARG file (every fourth call has none and fails), with
     * log, submit and download names of its own, all removed after the call;
     * every fifth call asks for the version first.  The outcome: code,
     * message and download.
     */
    static String threadCall(int t, int i) throws IOException {
        String name = "t" + t + "_" + i;
        Path work = Paths.get("w");
        Path download = work.resolve(name + ".s1");
        if (i % 4 != 3) Files.copy(work.resolve("job.arg"), work.resolve(name + ".arg"));
        String version = i % 5 == 0 ? InteropMemDownload.VarnelGetVersion() + "\n" : "";
        String[] message = freshMessage();
        int code = InteropMemDownload.Varnel(name + ".arg", "lib/", "w/", name + ".log",
                name + ".sub", name + ".s1", "x", message);
        String bytes = Files.exists(download)
                ? new String(Files.readAllBytes(download), StandardCharsets.ISO_8859_1)
                : "<no download>";
        for (String extension : new String[] {".arg", ".log", ".sub", ".s1"}) {
            Files.deleteIfExists(work.resolve(name + extension));
        }
        return version + code + "\n" + message[0] + "\n" + bytes;
    }

    /**
     * Two Java threads on one working directory, starting together while
     * varnel is not yet bound: no crash, and every call gives what the same
     * call gives when the calls are made one after the other.
     */
    static void linkThreads() throws Exception {
        writeModule(Paths.get("w"));
        String[][] together = new String[2][THREAD_CALLS];
        Throwable[] thrown = new Throwable[2];
        CyclicBarrier start = new CyclicBarrier(2);
        Thread[] threads = new Thread[2];
        for (int t = 0; t < 2; ++t) {
            final int lane = t;
            threads[t] = new Thread(() -> {
                try {
                    start.await();
                    for (int i = 0; i < THREAD_CALLS; ++i) together[lane][i] = threadCall(lane, i);
                } catch (Throwable e) {
                    thrown[lane] = e;
                }
            });
            threads[t].start();
        }
        for (Thread thread : threads) thread.join();
        for (int t = 0; t < 2; ++t) check(thrown[t] == null, "thread " + t + ": " + thrown[t]);

        String success = "0\n\n";
        for (int t = 0; t < 2; ++t) {
            for (int i = 0; i < THREAD_CALLS; ++i) {
                String alone = threadCall(t, i);
                String what = "thread " + t + ", call " + i;
                checkEqual(alone, String.valueOf(together[t][i]), what);
                String result = i % 5 == 0 ? alone.substring(VERSION.length() + 1) : alone;
                if (i % 4 == 3) {
                    checkEqual("1001\n" + header(1001) + String.format(OPEN_FAILED_TEXT,
                            "t" + t + "_" + i + ".arg", "w/") + "\n<no download>", result, what);
                } else {
                    check(result.startsWith(success + "S1"), what + ": a download");
                }
                if (i % 5 == 0) check(alone.startsWith(VERSION + "\n"), what + ": version");
            }
        }
    }

    /** An empty message array: JNI's exception, after varnel has written its files. */
    static void linkEmptyArray() throws Exception {
        writeModule(Paths.get("w"));
        checkThrows(ArrayIndexOutOfBoundsException.class, "", () ->
                InteropMemDownload.Varnel("job.arg", "lib/", "w/", "job.log", "job.sub",
                        "job.s1", "x", new String[0]), "empty message array");
        for (String file : new String[] {"w/job.log", "w/job.sub", "w/job.s1"}) {
            Path path = Paths.get(file);
            check(Files.exists(path) && Files.size(path) > 0,
                    "empty message array: varnel wrote " + file);
        }
    }
}
