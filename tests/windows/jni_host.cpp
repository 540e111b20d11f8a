// Calls jvarnel.dll's two native methods the way a JVM would, with the
// scripted JNI environment of the bridge's unit test: it holds exactly the
// functions the bridge uses (every other slot is null, so a call outside
// them crashes the host) and notes every JNI rule the bridge breaks.
//
//   jni_host <jvarnel.dll> with      run where .\bin holds varnel.dll
//   jni_host <jvarnel.dll> without   run in a directory without bin\ (the
//                                    host removes it); then varnel.dll
//                                    (argument 3) is put there and the
//                                    calls are made again
#include <jni.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>

#include "host_checks.h"
#include "scripted_jni.h"

namespace {

using host_checks::As;
using host_checks::Check;

// The JVM's side, and the strings the host hands to the natives.
scripted_jni::Jvm* jvm = nullptr;
std::deque<scripted_jni::String> arguments;

jstring Argument(const char* text) {
  return reinterpret_cast<jstring>(&arguments.emplace_back(scripted_jni::String{text, text}));
}

// ---- the natives and what they reach --------------------------------------

using VarnelNative = jint(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring, jstring, jstring,
                                    jstring, jstring, jobjectArray);
using VersionNative = jstring(JNICALL*)(JNIEnv*, jclass);
using VarnelEntry = int (*)(const char*, const char*, const char*, const char*, const char*,
                            const char*, int, char*, uint64_t);

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x100 ? static_cast<char>(c) : '?';
  return out;
}

std::string DllDirectory() {
  char dir[MAX_PATH] = "";
  DWORD n = GetDllDirectoryA(sizeof dir, dir);
  return std::string(dir, n);
}

struct Natives {
  VarnelNative varnel;
  VersionNative version;
};

// Both natives with varnel.dll reachable through .\bin.
void CallsReachVarnel(const Natives& natives, const std::string& when) {
  // Someone else moved the DLL directory: the bridge sets it again.
  SetDllDirectoryA("elsewhere");
  jvm->pending.clear();
  jvm->pendingMessage.clear();
  auto* version = reinterpret_cast<std::string*>(natives.version(&jvm->env, nullptr));
  Check(jvm->pending.empty(), when + ": VarnelGetVersion raises nothing (" + jvm->pendingMessage + ")");
  Check(version != nullptr && *version == "VARNEL.DLL  v3.03.002", when + ": the version text");
  Check(DllDirectory() == ".\\bin", when + ": the DLL directory is .\\bin after the call");

  HMODULE loaded = GetModuleHandleA("varnel.dll");
  char path[MAX_PATH] = "";
  GetModuleFileNameA(loaded, path, sizeof path);
  std::string where = path;
  Check(loaded != nullptr && where.size() > 15 &&
            _stricmp(where.substr(where.size() - 15).c_str(), "\\bin\\varnel.dll") == 0,
        when + ": varnel.dll came from bin (" + where + ")");
  if (loaded == nullptr) return;

  // The link request: what jvarnel hands back is what varnel itself says for
  // the same arguments (a working directory that does not exist).
  const char* texts[7] = {"LINK.ARG", "LIB\\", "no such dir\\", "LINK.LOG", "LINK.SUB", "LINK.DL", "x"};
  jstring args[7];
  for (int i = 0; i < 7; ++i) args[i] = Argument(texts[i]);
  scripted_jni::Array message{1};
  SetDllDirectoryA("elsewhere");
  jint result = natives.varnel(&jvm->env, nullptr, args[0], args[1], args[2], args[3], args[4], args[5],
                               args[6], reinterpret_cast<jobjectArray>(&message));
  Check(jvm->pending.empty(), when + ": Varnel raises nothing");
  Check(jvm->outstanding.empty(), when + ": every byte string is released");
  Check(DllDirectory() == ".\\bin", when + ": the DLL directory is .\\bin after Varnel");

  char direct[550];
  std::memset(direct, 0, sizeof direct);
  auto entry = As<VarnelEntry>(GetProcAddress(loaded, "Varnel"));
  int expected = entry(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5], 3, direct, sizeof direct);
  direct[549] = '\0';
  Check(result == expected, when + ": Varnel's result " + std::to_string(result) + " is varnel's own " +
                                std::to_string(expected));
  Check(message.stored && Narrow(message.element0) == direct, when + ": element 0 holds varnel's message text");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: jni_host <jvarnel.dll> with|without [varnel.dll]\n", stderr);
    return 2;
  }
  const std::string scenario = argv[2];
  if (scenario == "without") {
    // What an earlier run put into bin\ (it stays while that run's process
    // holds it) goes first.
    DeleteFileA("bin\\varnel.dll");
    RemoveDirectoryA("bin");
    Check(GetFileAttributesA("bin") == INVALID_FILE_ATTRIBUTES, "no bin directory to begin with");
  }

  scripted_jni::Jvm host;
  jvm = &host;

  HMODULE bridge = LoadLibraryA(argv[1]);
  Check(bridge != nullptr, std::string("jvarnel.dll loads from ") + argv[1]);
  if (bridge == nullptr) return 1;
  Natives natives{
      As<VarnelNative>(GetProcAddress(bridge, "Java_com_ostrial_quessa_core_gcp_InteropMemDownload_Varnel")),
      As<VersionNative>(
          GetProcAddress(bridge, "Java_com_ostrial_quessa_core_gcp_InteropMemDownload_VarnelGetVersion"))};
  Check(natives.varnel != nullptr && natives.version != nullptr, "both native methods are exported by name");
  if (natives.varnel == nullptr || natives.version == nullptr) return 1;
  Check(GetModuleHandleA("varnel.dll") == nullptr, "loading jvarnel.dll leaves varnel.dll unloaded");

  if (scenario == "with") {
    CallsReachVarnel(natives, "first calls");
    CallsReachVarnel(natives, "later calls");
  } else {
    auto* version = natives.version(&host.env, nullptr);
    Check(version == nullptr && host.pending == "java/lang/UnsatisfiedLinkError",
          "without varnel.dll VarnelGetVersion raises UnsatisfiedLinkError (" + host.pendingMessage + ")");
    // The message names the library and the system's error number.
    Check(host.pendingMessage.find("varnel.dll") != std::string::npos &&
              host.pendingMessage.find("(error 126)") != std::string::npos,
          "the UnsatisfiedLinkError names varnel.dll and error 126");
    host.pending.clear();
    jstring s = Argument("A");
    scripted_jni::Array message{1};
    jint result = natives.varnel(&host.env, nullptr, s, s, s, s, s, s, s, reinterpret_cast<jobjectArray>(&message));
    Check(result == 0 && host.pending == "java/lang/UnsatisfiedLinkError" && !message.stored,
          "without varnel.dll Varnel raises UnsatisfiedLinkError and stores nothing");
    Check(host.outstanding.empty(), "nothing obtained stays unreleased");
    Check(DllDirectory() == ".\\bin", "the DLL directory is .\\bin");

    // The binding is tried again once the library is there.
    if (argc > 3) {
      CreateDirectoryA("bin", nullptr);
      Check(CopyFileA(argv[3], "bin\\varnel.dll", FALSE) != 0, "varnel.dll copied into bin");
      CallsReachVarnel(natives, "once varnel.dll is in bin");
    }
  }
  Check(host.violations.empty(), "the bridge keeps the JNI rules" +
                                     (host.violations.empty() ? std::string() : ": " + host.violations[0]));

  return host_checks::ExitStatus();
}
