// A JNI environment scripted for driving the bridge's native methods without
// a JVM.  It holds exactly the functions the bridge calls (every other slot
// stays null, so a call outside them crashes the caller), logs the calls in
// order and notes each JNI rule the bridge breaks: a call made with an
// exception pending, an is-copy flag asked for, bytes released that were not
// obtained from that string.  Header only, so that the native unit test and
// the Windows host share it without a library of its own.
#pragma once

#include <jni.h>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace scripted_jni {

// A java.lang.String handed to the bridge: its name in the call log and its
// modified UTF-8 form.
struct String {
  std::string name;
  std::string utf;
};

// A String[] of `length` elements, of which only element 0 is kept.
struct Array {
  Array() = default;
  explicit Array(jsize n) : length(n) {}
  jsize length = 0;
  std::u16string element0;
  bool stored = false;
};

class Jvm {
 public:
  Jvm() {
    // The functions find their Jvm through the table's first reserved slot,
    // so any number of environments can live side by side.
    table.reserved0 = this;
    table.GetStringUTFChars = GetStringUTFChars;
    table.ReleaseStringUTFChars = ReleaseStringUTFChars;
    table.NewString = NewString;
    table.NewStringUTF = NewStringUTF;
    table.SetObjectArrayElement = SetObjectArrayElement;
    table.FindClass = FindClass;
    table.ThrowNew = ThrowNew;
    table.ExceptionCheck = ExceptionCheck;
    env.functions = &table;
  }
  Jvm(const Jvm&) = delete;
  Jvm& operator=(const Jvm&) = delete;

  JNINativeInterface_ table{};
  JNIEnv env{};
  std::vector<std::string> calls;
  std::vector<std::string> violations;  // JNI rules broken by the bridge
  int getCount = 0;
  int failGetAt = -1;  // the GetStringUTFChars call (0-based) that runs out of memory
  std::string pending;  // class of the pending exception, "" for none
  std::string pendingMessage;
  std::deque<std::string> handedOut;     // byte strings given to the bridge
  std::vector<const char*> outstanding;  // ... and not yet released
  std::deque<std::u16string> made;       // strings made by NewString
  std::deque<std::string> madeUtf;       // ... and by NewStringUTF
  std::deque<std::string> classes;

 private:
  static Jvm& Of(JNIEnv* env) { return *static_cast<Jvm*>(env->functions->reserved0); }

  void RequireNoPending(const char* function) {
    if (!pending.empty()) {
      violations.push_back(std::string(function) + " with " + pending + " pending");
    }
  }

  static const char* JNICALL GetStringUTFChars(JNIEnv* env, jstring s, jboolean* isCopy) {
    Jvm& jvm = Of(env);
    jvm.RequireNoPending("GetStringUTFChars");
    auto* str = reinterpret_cast<String*>(s);
    jvm.calls.push_back("GetStringUTFChars " + str->name);
    if (isCopy != nullptr) jvm.violations.push_back("is-copy flag requested");
    if (jvm.getCount++ == jvm.failGetAt) {
      jvm.pending = "java/lang/OutOfMemoryError";
      return nullptr;
    }
    const char* chars = jvm.handedOut.emplace_back(str->utf).c_str();
    jvm.outstanding.push_back(chars);
    return chars;
  }

  static void JNICALL ReleaseStringUTFChars(JNIEnv* env, jstring s, const char* chars) {
    Jvm& jvm = Of(env);
    auto* str = reinterpret_cast<String*>(s);
    jvm.calls.push_back("ReleaseStringUTFChars " + str->name);
    auto& out = jvm.outstanding;
    auto it = std::find(out.begin(), out.end(), chars);
    if (it == out.end() || *it != str->utf) {
      jvm.violations.push_back("released bytes not obtained from " + str->name);
    } else {
      out.erase(it);
    }
  }

  static jstring JNICALL NewString(JNIEnv* env, const jchar* units, jsize length) {
    Jvm& jvm = Of(env);
    jvm.RequireNoPending("NewString");
    jvm.calls.push_back("NewString");
    auto& s = jvm.made.emplace_back(reinterpret_cast<const char16_t*>(units),
                                    static_cast<std::size_t>(length));
    return reinterpret_cast<jstring>(&s);
  }

  static jstring JNICALL NewStringUTF(JNIEnv* env, const char* bytes) {
    Jvm& jvm = Of(env);
    jvm.RequireNoPending("NewStringUTF");
    jvm.calls.push_back("NewStringUTF");
    return reinterpret_cast<jstring>(&jvm.madeUtf.emplace_back(bytes));
  }

  static void JNICALL SetObjectArrayElement(JNIEnv* env, jobjectArray array, jsize index,
                                            jobject value) {
    Jvm& jvm = Of(env);
    jvm.RequireNoPending("SetObjectArrayElement");
    jvm.calls.push_back("SetObjectArrayElement " + std::to_string(index));
    auto* a = reinterpret_cast<Array*>(array);
    if (index < 0 || index >= a->length) {
      jvm.pending = "java/lang/ArrayIndexOutOfBoundsException";
      return;
    }
    a->element0 = *reinterpret_cast<std::u16string*>(value);
    a->stored = true;
  }

  static jclass JNICALL FindClass(JNIEnv* env, const char* name) {
    Jvm& jvm = Of(env);
    jvm.RequireNoPending("FindClass");
    jvm.calls.push_back(std::string("FindClass ") + name);
    return reinterpret_cast<jclass>(&jvm.classes.emplace_back(name));
  }

  static jint JNICALL ThrowNew(JNIEnv* env, jclass type, const char* message) {
    Jvm& jvm = Of(env);
    jvm.RequireNoPending("ThrowNew");
    const std::string& name = *reinterpret_cast<std::string*>(type);
    jvm.calls.push_back("ThrowNew " + name + ": " + message);
    jvm.pending = name;
    jvm.pendingMessage = message;
    return 0;
  }

  static jboolean JNICALL ExceptionCheck(JNIEnv* env) {
    Jvm& jvm = Of(env);
    jvm.calls.push_back("ExceptionCheck");
    return jvm.pending.empty() ? JNI_FALSE : JNI_TRUE;
  }
};

}  // namespace scripted_jni
