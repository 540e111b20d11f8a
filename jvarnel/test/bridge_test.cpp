// The bridge against a scripted JNI environment and a scripted loader: the
// JNI calls it makes, in order, what reaches varnel, and the paths a JVM
// rarely takes (a GetStringUTFChars that runs out of memory).
#include <gtest/gtest.h>
#include <jni.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "com_ostrial_quessa_core_gcp_InteropMemDownload.h"
#include "loader.h"
#include "scripted_jni.h"
#include "text.h"

namespace {

// ---- a scripted varnel behind a scripted loader ----------------------------------

struct FakeVarnel {
  int calls = 0;
  std::vector<std::string> texts;
  int logLevel = 0;
  uint64_t length = 0;
  std::string writes;  // bytes Varnel puts into the message buffer
  int result = 0;
  uint64_t versionLength = 0;
};

FakeVarnel* varnel = nullptr;
// The JNI environment's call log: the loader and varnel note their calls in
// it too, so one list shows the order of everything the bridge does.
std::vector<std::string>* callLog = nullptr;

int FakeVarnelEntry(const char* a1, const char* a2, const char* a3, const char* a4, const char* a5,
                    const char* a6, int logLevel, char* message, uint64_t length) {
  ++varnel->calls;
  callLog->push_back("Varnel");
  varnel->texts = {a1, a2, a3, a4, a5, a6};
  varnel->logLevel = logLevel;
  varnel->length = length;
  std::memcpy(message, varnel->writes.data(), std::min<size_t>(varnel->writes.size(), length));
  return varnel->result;
}

void FakeVersionEntry(char* buffer, uint64_t length) {
  callLog->push_back("VarnelGetVersion");
  varnel->versionLength = length;
  std::memset(buffer, 'v', length);  // no NUL at all
}

int libraryToken;

}  // namespace

namespace jvarnel::loader {

void PrepareSearch() { callLog->push_back("PrepareSearch"); }

void* OpenLibrary(char*, size_t) { return &libraryToken; }

void* FindEntry(void* library, const char* name, char* why, size_t whyLength) {
  EXPECT_EQ(library, &libraryToken);
  if (std::strcmp(name, "Varnel") == 0) return reinterpret_cast<void*>(&FakeVarnelEntry);
  if (std::strcmp(name, "VarnelGetVersion") == 0) {
    return reinterpret_cast<void*>(&FakeVersionEntry);
  }
  AppendAscii(why, whyLength, "no such entry");
  return nullptr;
}

}  // namespace jvarnel::loader

namespace {

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    varnel = &fakeVarnel;
    callLog = &fake.calls;
  }
  void TearDown() override {
    EXPECT_TRUE(fake.violations.empty()) << ::testing::PrintToString(fake.violations);
    EXPECT_TRUE(fake.outstanding.empty()) << "byte strings not released";
    varnel = nullptr;
    callLog = nullptr;
  }

  jstring S(int i) { return reinterpret_cast<jstring>(&strings[i]); }

  jint Link(std::vector<jstring> s, scripted_jni::Array* array) {
    return Java_com_ostrial_quessa_core_gcp_InteropMemDownload_Varnel(
        &fake.env, nullptr, s[0], s[1], s[2], s[3], s[4], s[5], nullptr,
        reinterpret_cast<jobjectArray>(array));
  }
  jint Link(scripted_jni::Array* array) {
    return Link({S(0), S(1), S(2), S(3), S(4), S(5)}, array);
  }

  scripted_jni::Jvm fake;
  FakeVarnel fakeVarnel;
  scripted_jni::String strings[6] = {{"argFile", "job.arg"},    {"libraryDir", "lib\xc3\xa9/"},
                           {"workDir", "w\xc0\x80/"}, {"logFile", "job.log"},
                           {"submitFile", "job.sub"}, {"downloadFile", "job.s1"}};
};

const std::vector<std::string> kGets = {
    "GetStringUTFChars argFile", "GetStringUTFChars libraryDir", "GetStringUTFChars workDir",
    "GetStringUTFChars logFile", "GetStringUTFChars submitFile", "GetStringUTFChars downloadFile"};
const std::vector<std::string> kReleases = {
    "ReleaseStringUTFChars argFile",    "ReleaseStringUTFChars libraryDir",
    "ReleaseStringUTFChars workDir",    "ReleaseStringUTFChars logFile",
    "ReleaseStringUTFChars submitFile", "ReleaseStringUTFChars downloadFile"};

std::vector<std::string> Joined(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST_F(BridgeTest, LinkHandsTheBytesToVarnelAndTheMessageBack) {
  fakeVarnel.writes = std::string("VARNEL.DLL  v3.03.002, Error 2005:\nM\xfcnchen") + '\0';
  fakeVarnel.result = 2005;
  scripted_jni::Array array{1};
  EXPECT_EQ(Link(&array), 2005);

  EXPECT_EQ(fakeVarnel.calls, 1);
  std::vector<std::string> expected;
  for (auto& s : strings) expected.push_back(s.utf);
  EXPECT_EQ(fakeVarnel.texts, expected);
  EXPECT_EQ(fakeVarnel.logLevel, 3);
  EXPECT_EQ(fakeVarnel.length, 550u);
  EXPECT_EQ(fake.calls, Joined({{"PrepareSearch"}, kGets, {"Varnel"}, kReleases,
                                {"NewString", "SetObjectArrayElement 0", "ExceptionCheck"}}));
  EXPECT_TRUE(array.stored);
  EXPECT_EQ(array.element0, u"VARNEL.DLL  v3.03.002, Error 2005:\nM\u00fcnchen");
}

TEST_F(BridgeTest, MessageBufferStartsEmpty) {
  // A varnel that leaves the buffer alone still gives an empty message.
  scripted_jni::Array array{1};
  EXPECT_EQ(Link(&array), 0);
  EXPECT_EQ(array.element0, u"");
}

TEST_F(BridgeTest, FailedGetStringUTFCharsReleasesWhatItHasAndSkipsVarnel) {
  for (int failing = 0; failing < 6; ++failing) {
    SCOPED_TRACE(failing);
    fake.calls.clear();
    fake.pending.clear();
    fake.getCount = 0;
    fake.failGetAt = failing;
    scripted_jni::Array array{1};
    EXPECT_EQ(Link(&array), 0);
    EXPECT_EQ(fakeVarnel.calls, 0);
    EXPECT_EQ(fake.pending, "java/lang/OutOfMemoryError");
    std::vector<std::string> expected{"PrepareSearch"};
    expected.insert(expected.end(), kGets.begin(), kGets.begin() + failing + 1);
    expected.insert(expected.end(), kReleases.begin(), kReleases.begin() + failing);
    EXPECT_EQ(fake.calls, expected);
    EXPECT_FALSE(array.stored);
  }
}

TEST_F(BridgeTest, NullParameterIsReportedByNameBeforeVarnel) {
  const char* names[] = {"argFile",    "libraryDir",   "workDir", "logFile",
                         "submitFile", "downloadFile", "message"};
  for (int i = 0; i < 7; ++i) {
    SCOPED_TRACE(names[i]);
    fake.calls.clear();
    fake.pending.clear();
    std::vector<jstring> s = {S(0), S(1), S(2), S(3), S(4), S(5)};
    if (i < 6) s[i] = nullptr;
    scripted_jni::Array array{1};
    EXPECT_EQ(Link(s, i < 6 ? &array : nullptr), 0);
    EXPECT_EQ(fake.calls,
              (std::vector<std::string>{
                  "FindClass java/lang/NullPointerException",
                  std::string("ThrowNew java/lang/NullPointerException: ") + names[i]}));
    EXPECT_EQ(fakeVarnel.calls, 0);
  }
}

TEST_F(BridgeTest, EmptyArrayRaisesAfterVarnelRan) {
  fakeVarnel.result = 1003;
  scripted_jni::Array array{0};
  Link(&array);
  EXPECT_EQ(fakeVarnel.calls, 1);
  EXPECT_EQ(fake.pending, "java/lang/ArrayIndexOutOfBoundsException");
  EXPECT_EQ(fake.calls, Joined({{"PrepareSearch"}, kGets, {"Varnel"}, kReleases,
                                {"NewString", "SetObjectArrayElement 0", "ExceptionCheck"}}));
}

TEST_F(BridgeTest, VersionTextEndsInsideTheBuffer) {
  jstring text =
      Java_com_ostrial_quessa_core_gcp_InteropMemDownload_VarnelGetVersion(&fake.env, nullptr);
  EXPECT_EQ(fakeVarnel.versionLength, 100u);
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"PrepareSearch", "VarnelGetVersion", "NewStringUTF"}));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(*reinterpret_cast<std::string*>(text), std::string(99, 'v'));
}

// ---- decoding the message buffer ---------------------------------------------------

struct DecodeCase {
  const char* name;
  std::string bytes;  // the buffer's first bytes; the rest is NUL unless full
  std::u16string expected;
  bool fillBuffer = false;  // bytes fill all 550 bytes of the buffer (a cut text)
};

std::string Filled(size_t count, char c) { return std::string(count, c); }
std::u16string Units(size_t count, char16_t c) { return std::u16string(count, c); }

std::u16string Decode(const std::string& bytes) {
  char buffer[jvarnel::kMessageBufferLength] = {};
  std::memcpy(buffer, bytes.data(), std::min(bytes.size(), sizeof buffer));
  uint16_t units[jvarnel::kMessageTextLimit];
  const size_t count = jvarnel::DecodeMessageText(buffer, units);
  return std::u16string(reinterpret_cast<const char16_t*>(units), count);
}

TEST(DecodeMessageText, KeepsModifiedUtf8AndTakesOtherBytesAsTheirValue) {
  const DecodeCase cases[] = {
      {"empty", "", u""},
      {"ASCII", "Error 1006:\nText\t\"x\"", u"Error 1006:\nText\t\"x\""},
      {"highest one-byte", "\x7f", u"\x7f"},
      {"two-byte", "\xc3\xa9", u"\u00e9"},
      {"highest two-byte", "\xdf\xbf", u"\u07ff"},
      {"U+0000 as C0 80",
       std::string("a\xc0\x80"
                   "b"),
       std::u16string(u"a\0b", 3)},
      {"overlong two-byte", "\xc1\x81", u"\u00c1\u0081"},
      {"lead without continuation",
       "\xc2"
       "A",
       u"\u00c2A"},
      {"three-byte", "\xe2\x82\xac", u"\u20ac"},
      {"lowest three-byte", "\xe0\xa0\x80", u"\u0800"},
      {"overlong three-byte", "\xe0\x9f\xbf", u"\u00e0\u009f\u00bf"},
      {"highest three-byte", "\xef\xbf\xbf", u"\uffff"},
      {"surrogate pair", "\xed\xa0\xbd\xed\xb8\x80", u"\xd83d\xde00"},
      {"three-byte broken after two",
       "\xe2\x82"
       "A",
       u"\u00e2\u0082A"},
      {"four-byte UTF-8 is not modified UTF-8", "\xf0\x9f\x98\x80", u"\u00f0\u009f\u0098\u0080"},
      {"lone continuation bytes", "\x80\xbf", u"\u0080\u00bf"},
      {"bytes that lead nothing", "\xf8\xfe\xff", u"\u00f8\u00fe\u00ff"},
      {"Latin-1 text",
       "Stra\xdf"
       "e M\xfcnchen",
       u"Stra\u00dfe M\u00fcnchen"},
      {"lead at the end of a text that was not cut", "ab\xc3", u"ab\u00c3"},
      {"two of three at the end of a text that was not cut", "ab\xe2\x82", u"ab\u00e2\u0082"},
      {"NUL ends the text", std::string("ab\0cd", 5), u"ab"},
      {"NUL first", std::string("\0cd", 3), u""},
  };
  for (const auto& c : cases) EXPECT_EQ(Decode(c.bytes), c.expected) << c.name;
}

TEST(DecodeMessageText, CutsAt549BytesAndDropsASequenceTheCutBroke) {
  const DecodeCase cases[] = {
      {"549 bytes, not cut", Filled(549, 'a'), Units(549, u'a')},
      {"549 bytes ending in a lead, not cut", Filled(548, 'a') + "\xc3",
       Units(548, u'a') + u"\u00c3"},
      {"550 bytes", Filled(550, 'a'), Units(549, u'a'), true},
      {"two-byte broken by the cut", Filled(548, 'a') + "\xc3\xa9", Units(548, u'a'), true},
      {"three-byte broken after one", Filled(548, 'a') + "\xe2\x82", Units(548, u'a'), true},
      {"three-byte broken after two", Filled(547, 'a') + "\xe2\x82\xac", Units(547, u'a'), true},
      {"C0 broken by the cut", Filled(548, 'a') + "\xc0\x80", Units(548, u'a'), true},
      {"three-byte ending at the cut", Filled(546, 'a') + "\xe2\x82\xac" + "b",
       Units(546, u'a') + u"\u20ac", true},
      {"lone continuation at the cut", Filled(548, 'a') + "\x80\x80", Units(548, u'a') + u"\u0080",
       true},
      {"byte that leads nothing at the cut", Filled(548, 'a') + "\xc1\x81",
       Units(548, u'a') + u"\u00c1", true},
      {"overlong start at the cut", Filled(547, 'a') + "\xe0\x80\x80",
       Units(547, u'a') + u"\u00e0\u0080", true},
      // Byte 549 lies beyond the cut but is still in the buffer: a lead whose
      // next byte there is no continuation started no sequence at all.
      {"Latin-1 lead before ASCII at the cut", Filled(548, 'a') + "\xe9" + "e",
       Units(548, u'a') + u"\u00e9", true},
      {"C0 before ASCII at the cut", Filled(548, 'a') + "\xc0" + "A",
       Units(548, u'a') + u"\u00c0", true},
      {"three-byte lead before ASCII at the cut", Filled(548, 'a') + "\xe2" + "b",
       Units(548, u'a') + u"\u00e2", true},
      {"overlong three-byte lead at the cut", Filled(548, 'a') + "\xe0\x9f",
       Units(548, u'a') + u"\u00e0", true},
      {"two of three before ASCII at the cut", Filled(547, 'a') + "\xe2\x82" + "b",
       Units(547, u'a') + u"\u00e2\u0082", true},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(c.bytes.size() >= jvarnel::kMessageBufferLength, c.fillBuffer) << c.name;
    EXPECT_EQ(Decode(c.bytes), c.expected) << c.name;
  }
}

TEST(AppendAscii, CutsToTheBufferAndReplacesBytesOutsideAscii) {
  char buffer[12] = "ab";
  jvarnel::AppendAscii(buffer, sizeof buffer,
                       "c\xc3\xa9"
                       "defghijkl");
  EXPECT_STREQ(buffer, "abc??defghi");
  char none[1] = "";
  jvarnel::AppendAscii(none, sizeof none, "x");
  EXPECT_STREQ(none, "");
}

}  // namespace
