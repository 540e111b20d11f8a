// The native methods of InteropMemDownload: a link request and the version
// query handed from the Java host to varnel.
#include <jni.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "com_ostrial_quessa_core_gcp_InteropMemDownload.h"
#include "loader.h"
#include "text.h"
#include "varnel.h"

// The header is generated from the Java class: these fail to compile when
// the class's declarations and the bridge drift apart.
static_assert(std::is_same_v<decltype(&Java_com_ostrial_quessa_core_gcp_InteropMemDownload_Varnel),
                             jint(JNICALL*)(JNIEnv*, jclass, jstring, jstring, jstring, jstring,
                                            jstring, jstring, jstring, jobjectArray)>);
static_assert(
    std::is_same_v<decltype(&Java_com_ostrial_quessa_core_gcp_InteropMemDownload_VarnelGetVersion),
                   jstring(JNICALL*)(JNIEnv*, jclass)>);
static_assert(std::is_same_v<jchar, uint16_t>);

namespace {

using VarnelEntry = decltype(&Varnel);
using VersionEntry = decltype(&VarnelGetVersion);

constexpr int kLogLevel = 3;
constexpr size_t kVersionBufferLength = 100;

// The one piece of state: varnel's library and its two entries, empty until
// first used and then kept for the life of the process.  A failed binding
// leaves its part empty, so the next call tries again.  The natives run on
// any Java thread: binding happens under the lock, one thread at a time, and
// a bound entry is read without it.
struct Binding {
  std::mutex lock;
  void* library = nullptr;
  std::atomic<VarnelEntry> varnel{nullptr};
  std::atomic<VersionEntry> version{nullptr};
};

Binding& TheBinding() {
  static Binding binding;
  return binding;
}

// Raises the Java exception `className` with `text` + `detail`.  A class that
// cannot be found leaves its own exception pending instead.
void Throw(JNIEnv* env, const char* className, const char* text, const char* detail = "") {
  char message[600] = "";
  jvarnel::AppendAscii(message, sizeof message, text);
  jvarnel::AppendAscii(message, sizeof message, detail);
  jclass type = env->FindClass(className);
  if (type != nullptr) env->ThrowNew(type, message);
}

// The entry `name`, bound into `slot` at its first use; nullptr with an
// UnsatisfiedLinkError pending when varnel or the entry cannot be found.
template <typename Entry>
Entry Bind(JNIEnv* env, std::atomic<Entry>& slot, const char* name) {
  jvarnel::loader::PrepareSearch();
  if (Entry bound = slot.load(std::memory_order_acquire)) return bound;
  Binding& binding = TheBinding();
  std::unique_lock<std::mutex> hold(binding.lock, std::defer_lock);
  try {
    hold.lock();
  } catch (...) {
    // Only a system out of resources refuses the lock.
    Throw(env, "java/lang/UnsatisfiedLinkError", "varnel cannot be bound: ", "no lock");
    return nullptr;
  }
  // Another thread may have bound it while this one waited.
  if (Entry bound = slot.load(std::memory_order_relaxed)) return bound;
  char why[480] = "";
  if (binding.library == nullptr) {
    binding.library = jvarnel::loader::OpenLibrary(why, sizeof why);
    if (binding.library == nullptr) {
      hold.unlock();
      Throw(env, "java/lang/UnsatisfiedLinkError", "varnel cannot be loaded: ", why);
      return nullptr;
    }
  }
  void* address = jvarnel::loader::FindEntry(binding.library, name, why, sizeof why);
  if (address == nullptr) {
    hold.unlock();
    char text[100] = "varnel has no entry ";
    jvarnel::AppendAscii(text, sizeof text, name);
    jvarnel::AppendAscii(text, sizeof text, ": ");
    Throw(env, "java/lang/UnsatisfiedLinkError", text, why);
    return nullptr;
  }
  Entry entry = reinterpret_cast<Entry>(address);
  slot.store(entry, std::memory_order_release);
  return entry;
}

constexpr int kStringCount = 6;

// The six texts of a link request, as varnel takes them.
struct RequestTexts {
  JNIEnv* env;
  jstring strings[kStringCount];
  const char* chars[kStringCount];
  int obtained;

  // Releases every text obtained so far, first to last.
  ~RequestTexts() {
    for (int i = 0; i < obtained; ++i) env->ReleaseStringUTFChars(strings[i], chars[i]);
  }
};

}  // namespace

extern "C" JNIEXPORT jint JNICALL Java_com_ostrial_quessa_core_gcp_InteropMemDownload_Varnel(
    JNIEnv* env, jclass, jstring argFile, jstring libraryDir, jstring workDir, jstring logFile,
    jstring submitFile, jstring downloadFile, jstring /*unused*/, jobjectArray message) {
  // A null would change the meaning of the call (no library directory: take
  // the ARG file's; no download file: examine only), so none reaches varnel.
  const jstring strings[kStringCount] = {argFile, libraryDir, workDir,
                                         logFile, submitFile, downloadFile};
  static constexpr const char* kParameterNames[kStringCount] = {
      "argFile", "libraryDir", "workDir", "logFile", "submitFile", "downloadFile"};
  for (int i = 0; i < kStringCount; ++i) {
    if (strings[i] == nullptr) {
      Throw(env, "java/lang/NullPointerException", kParameterNames[i]);
      return 0;
    }
  }
  if (message == nullptr) {
    Throw(env, "java/lang/NullPointerException", "message");
    return 0;
  }

  VarnelEntry varnel = Bind(env, TheBinding().varnel, "Varnel");
  if (varnel == nullptr) return 0;

  char buffer[jvarnel::kMessageBufferLength] = {};
  int result = 0;
  {
    RequestTexts texts{env, {}, {}, 0};
    for (int i = 0; i < kStringCount; ++i) {
      texts.strings[i] = strings[i];
      texts.chars[i] = env->GetStringUTFChars(strings[i], nullptr);
      // Out of memory: the JVM's exception is pending; what was obtained is
      // released on the way out.
      if (texts.chars[i] == nullptr) return 0;
      ++texts.obtained;
    }
    result = varnel(texts.chars[0], texts.chars[1], texts.chars[2], texts.chars[3], texts.chars[4],
                    texts.chars[5], kLogLevel, buffer, sizeof buffer);
  }

  jchar units[jvarnel::kMessageTextLimit];
  const size_t count = jvarnel::DecodeMessageText(buffer, units);
  jstring text = env->NewString(units, static_cast<jsize>(count));
  if (text == nullptr) return 0;
  // An empty array raises the JVM's own ArrayIndexOutOfBoundsException; the
  // caller gets that instead of the result.
  env->SetObjectArrayElement(message, 0, text);
  if (env->ExceptionCheck()) return 0;
  return result;
}

extern "C" JNIEXPORT jstring JNICALL
Java_com_ostrial_quessa_core_gcp_InteropMemDownload_VarnelGetVersion(JNIEnv* env, jclass) {
  VersionEntry version = Bind(env, TheBinding().version, "VarnelGetVersion");
  if (version == nullptr) return nullptr;
  char buffer[kVersionBufferLength] = {};
  version(buffer, sizeof buffer);
  // A text that filled the buffer ends at its last byte.
  buffer[kVersionBufferLength - 1] = '\0';
  return env->NewStringUTF(buffer);
}
