// What the platform layer keeps of the directories during one call
// (BeginCallCache to EndCallCache): every answer is the one it gives
// outside a call, what the call itself creates, renames and removes is seen
// at once, and nothing is kept from one call to the next.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "builders/files.h"
#include "builders/library.h"
#include "builders/m68objects.h"
#include "format.h"
#include "platform/platform.h"
#include "support/descriptors.h"
#include "varnel.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace varnel::platform {
namespace {

using varnel::testing::CodeModule;
using varnel::testing::ListDir;
using varnel::testing::ModendModule;
using varnel::testing::TextBytes;
using varnel::testing::ReadFile;
using varnel::testing::TempDir;
using varnel::testing::WriteFile;

// A call that links from an ARG file naming one FB that the library lacks
// until a later call.
TEST(CallCache, NothingIsKeptFromOneCallToTheNext) {
  TempDir dir;
  const std::string lib = dir / "lib/";
  std::filesystem::create_directory(lib);
  WriteFile(lib + "EEPROM.OBJ", CodeModule("EEPROM", TextBytes("HDR")));
  WriteFile(lib + "LIB.OBJ", ModendModule());
  WriteFile(dir / "JOB.ARG", lib + "\r\n 1 LATE\r\nXXX\r\n32C000000000\r\n");
  std::vector<char> message(550);
  auto call = [&] {
    return Varnel("JOB.ARG", nullptr, dir.Path().c_str(), "JOB.LOG", "JOB.SUB", "JOB.S1", 0, message.data(),
                  message.size());
  };
  EXPECT_EQ(call(), 1005);
  // Another spelling than the ARG file's: found only through a listing of
  // the library directory made anew.
  WriteFile(lib + "late.obj", CodeModule("LATE", TextBytes("late")));
  EXPECT_EQ(call(), 0) << message.data();
}

#if !defined(_WIN32)

struct CallScope {
  CallScope() { BeginCallCache(); }
  ~CallScope() { EndCallCache(); }
};

std::string ReadThrough(const std::string& path) {
  Stream* s = Open(path.c_str(), "rb");
  if (s == nullptr) return "(no open)";
  std::string out;
  for (int c; (c = Getc(s)) != kEndOfFile;) out += static_cast<char>(c);
  EXPECT_TRUE(Close(s));
  return out;
}

void WriteThrough(const std::string& path, const std::string& bytes) {
  Stream* s = Open(path.c_str(), "wb");
  ASSERT_NE(s, nullptr) << path;
  EXPECT_TRUE(Write(s, bytes.data(), bytes.size()));
  EXPECT_TRUE(Close(s));
}

bool Readable(const std::string& path) { return IsReadableFile(path.c_str()); }

// The same questions outside a call and twice within one give the same
// answers: names in other cases, the smallest of several, trailing blanks
// and separators, links, dots and names that stand nowhere.
TEST(CallCache, SameAnswersAsOutsideACall) {
  TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directories(dir / "Sub/Deeper");
  fs::create_directory(dir / "lib");
  fs::create_directory(dir / "LIB");
  WriteFile(dir / "Sub/File.Txt", "file");
  WriteFile(dir / "Sub/Deeper/X.obj", "x");
  WriteFile(dir / "abc.txt", "lower");
  WriteFile(dir / "Abc.txt", "mixed");
  WriteFile(dir / "ABC.txt", "upper");
  WriteFile(dir / "lib/a.obj", "in lib");
  WriteFile(dir / "LIB/b.obj", "in LIB");
  fs::create_symlink("abc.txt", dir / "Link.txt");
  fs::create_symlink("nowhere", dir / "Dangle");
  fs::create_directory_symlink("Sub", dir / "Alias");

  const std::vector<std::string> paths = {
      "Sub\\File.Txt",   "SUB\\FILE.TXT",  "sub/file.txt ",   "Sub.\\file.txt . ", "sub\\..\\SUB\\file.TXT",
      "Sub\\File.Txt\\", "Sub\\Fil.Txt",   "Nope\\File.Txt",  "NOPE\\..\\Sub\\File.Txt",
      "sub\\deeper\\x.OBJ", "SUB\\DEEPER\\",  "abc.txt",       "ABC.TXT",          "aBc.TxT",
      "Lib\\B.OBJ",      "Lib\\A.OBJ",     "lib\\A.OBJ",      "LINK.TXT",          "link.txt",
      "DANGLE",          "dangle",         "alias\\FILE.TXT", "ALIAS\\deeper\\X.OBJ", ".",
      "",                "Sub\\.",         "Sub\\..\\abc.txt",
  };
  auto answers = [&] {
    std::vector<std::string> out;
    for (const std::string& p : paths) {
      const std::string path = dir / p;
      uint16_t date = 0, time = 0;
      out.push_back(p + ": " + ReadThrough(path) + (Readable(path) ? " readable" : "") +
                    (EntryExists(path.c_str()) ? " entry" : "") + (IsLink(path.c_str()) ? " link" : "") +
                    (GetFileDosTime(path.c_str(), &date, &time) ? " dated" : ""));
    }
    for (const char* d : {"", "SUB\\", "sub\\DEEPER\\", "lib\\", "LIB\\", "NOPE\\", "Alias\\"})
      for (std::string name : FindFiles((dir / d).c_str(), "*")) out.push_back(std::string(d) + "* " + name);
    return out;
  };
  const std::vector<std::string> outside = answers();
  CallScope call;
  EXPECT_EQ(answers(), outside);
  EXPECT_EQ(answers(), outside);
}

TEST(CallCache, KeptInStepWithTheCallsOwnChanges) {
  TempDir dir;
  WriteFile(dir / "Old.$$$", "old");
  std::filesystem::create_symlink("Old.$$$", dir / "Ln.$$$");
  CallScope call;
  // The first name that stands nowhere has the directory listed.
  EXPECT_FALSE(Readable(dir / "NONE.OBJ"));

  WriteThrough(dir / "new.$$$", "n");
  EXPECT_EQ(ReadThrough(dir / "NEW.$$$"), "n");
  EXPECT_EQ(FindFiles(dir.Path().c_str(), "*.$$$"), (std::vector<std::string>{"Ln.$$$", "new.$$$", "Old.$$$"}));

  EXPECT_TRUE(Rename((dir / "NEW.$$$").c_str(), (dir / "Moved.$$$").c_str()));
  EXPECT_FALSE(Readable(dir / "new.$$$"));
  EXPECT_EQ(ReadThrough(dir / "MOVED.$$$"), "n");
  EXPECT_TRUE(Rename((dir / "moved.$$$").c_str(), (dir / "MOVED.$$$").c_str()));  // a change of case
  EXPECT_EQ(FindFiles(dir.Path().c_str(), "*.$$$"), (std::vector<std::string>{"Ln.$$$", "MOVED.$$$", "Old.$$$"}));

  EXPECT_TRUE(Remove((dir / "moved.$$$").c_str()));
  EXPECT_FALSE(Readable(dir / "MOVED.$$$"));
  EXPECT_FALSE(EntryExists((dir / "Moved.$$$").c_str()));
  EXPECT_FALSE(Remove((dir / "MOVED.$$$").c_str()));
  // Created anew, a file takes the caller's spelling again.
  WriteThrough(dir / "mOVED.$$$", "again");
  EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"Ln.$$$", "Old.$$$", "mOVED.$$$"}));
  EXPECT_EQ(FindFiles(dir.Path().c_str(), "*.$$$"),
            (std::vector<std::string>{"Ln.$$$", "mOVED.$$$", "Old.$$$"}));

  // A link where a file is to be written is removed, and the file written
  // in its place.
  EXPECT_TRUE(IsLink((dir / "ln.$$$").c_str()));
  EXPECT_TRUE(Remove((dir / "LN.$$$").c_str()));
  Stream* s = OpenNoLink((dir / "ln.$$$").c_str(), "wb");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(Close(s));
  EXPECT_FALSE(IsLink((dir / "LN.$$$").c_str()));
  EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"Old.$$$", "ln.$$$", "mOVED.$$$"}));
}

// Two spellings of one directory (here a link to it) share what the call
// knows of it.
TEST(CallCache, OneDirectoryUnderTwoPathsIsOneDirectory) {
  TempDir dir;
  std::filesystem::create_directory(dir / "work");
  std::filesystem::create_directory_symlink("work", dir / "alias");
  CallScope call;
  EXPECT_FALSE(Readable(dir / "alias/NONE"));
  EXPECT_FALSE(Readable(dir / "work/NONE"));
  WriteThrough(dir / "work/New.$$$", "n");
  EXPECT_EQ(ReadThrough(dir / "alias/NEW.$$$"), "n");
  EXPECT_TRUE(Remove((dir / "ALIAS/new.$$$").c_str()));
  EXPECT_FALSE(Readable(dir / "work/new.$$$"));
  EXPECT_EQ(FindFiles((dir / "work/").c_str(), "*"), std::vector<std::string>{});
}

TEST(CallCache, AMovedDirectoryLeadsElsewhere) {
  TempDir dir;
  std::filesystem::create_directory(dir / "d1");
  WriteFile(dir / "d1/F.OBJ", "f");
  CallScope call;
  EXPECT_EQ(ReadThrough(dir / "D1/f.obj"), "f");
  EXPECT_TRUE(Rename((dir / "d1").c_str(), (dir / "d2").c_str()));
  EXPECT_FALSE(Readable(dir / "D1/f.obj"));
  EXPECT_EQ(ReadThrough(dir / "D2/f.obj"), "f");
  EXPECT_EQ(FindFiles((dir / "D2/").c_str(), "*"), std::vector<std::string>{"F.OBJ"});
}

// Another spelling the listing offers is asked after once more before it is
// taken: one gone meanwhile is not written into.
TEST(CallCache, AnotherSpellingGoneMeanwhileIsNotTaken) {
  TempDir dir;
  WriteFile(dir / "Foo.obj", "foo");
  CallScope call;
  EXPECT_EQ(ReadThrough(dir / "FOO.OBJ"), "foo");
  std::filesystem::remove(dir / "Foo.obj");
  WriteThrough(dir / "FOO.OBJ", "new");
  EXPECT_EQ(ListDir(dir.Path()), std::vector<std::string>{"FOO.OBJ"});
}

// A file read once in a call and opened again is the file that stands under
// that name now: what the call wrote over it, moved there or removed.
TEST(CallCache, AFileOpenedAgainIsTheOneThatStandsThere) {
  TempDir dir;
  WriteFile(dir / "A.OBJ", "first");
  WriteFile(dir / "B.OBJ", "b");
  CallScope call;
  EXPECT_EQ(ReadThrough(dir / "a.obj"), "first");
  WriteThrough(dir / "A.OBJ", "second");
  EXPECT_EQ(ReadThrough(dir / "A.OBJ"), "second");
  uint16_t date, time;
  EXPECT_TRUE(GetFileDosTime((dir / "B.OBJ").c_str(), &date, &time));
  EXPECT_TRUE(Remove((dir / "B.OBJ").c_str()));
  EXPECT_FALSE(Readable(dir / "B.OBJ"));
  EXPECT_TRUE(Rename((dir / "A.OBJ").c_str(), (dir / "B.OBJ").c_str()));
  EXPECT_FALSE(Readable(dir / "A.OBJ"));
  EXPECT_EQ(ReadThrough(dir / "B.OBJ"), "second");
  WriteThrough(dir / "A.OBJ", "third");
  EXPECT_EQ(ReadThrough(dir / "A.OBJ"), "third");
  // Read part way, then from the start again.
  Stream* s = Open((dir / "A.OBJ").c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Getc(s), 't');
  EXPECT_TRUE(Close(s));
  EXPECT_EQ(ReadThrough(dir / "A.OBJ"), "third");
}

// The descriptors a call keeps give way when the process runs short of
// them.
TEST(CallCache, KeptDescriptorsGiveWayWhenTheProcessRunsShort) {
  TempDir dir;
  for (int i = 0; i < 40; ++i) WriteFile(dir / Format("F%d", i), "f");
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  const int64_t open = varnel::testing::OpenDescriptors();
  struct rlimit tight = old;
  tight.rlim_cur = static_cast<rlim_t>(open + 16);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  {
    CallScope call;
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(Readable(dir / Format("F%d", i))) << i;
    WriteThrough(dir / "NEW", "n");
    for (int i = 0; i < 40; ++i) EXPECT_EQ(ReadThrough(dir / Format("f%d", i)), "f") << i;
    EXPECT_EQ(FindFiles(dir.Path().c_str(), "NEW"), std::vector<std::string>{"NEW"});
  }
  setrlimit(RLIMIT_NOFILE, &old);
}

// Only the thread in the call uses what the call keeps.
TEST(CallCache, OtherThreadsAskTheSystem) {
  TempDir dir;
  CallScope call;
  EXPECT_FALSE(Readable(dir / "LATE.OBJ"));
  WriteFile(dir / "late.obj", "late");
  bool seen = false;
  std::thread other([&] { seen = Readable(dir / "LATE.OBJ"); });
  other.join();
  EXPECT_TRUE(seen);
}

#else  // _WIN32

// Windows finds names ignoring case itself: the layer keeps nothing there.
#define VARNEL_POSIX_ONLY(name) \
  TEST(CallCache, name) { GTEST_SKIP() << "the layer keeps no directories on Windows"; }
VARNEL_POSIX_ONLY(SameAnswersAsOutsideACall)
VARNEL_POSIX_ONLY(KeptInStepWithTheCallsOwnChanges)
VARNEL_POSIX_ONLY(OneDirectoryUnderTwoPathsIsOneDirectory)
VARNEL_POSIX_ONLY(AMovedDirectoryLeadsElsewhere)
VARNEL_POSIX_ONLY(AnotherSpellingGoneMeanwhileIsNotTaken)
VARNEL_POSIX_ONLY(AFileOpenedAgainIsTheOneThatStandsThere)
VARNEL_POSIX_ONLY(KeptDescriptorsGiveWayWhenTheProcessRunsShort)
VARNEL_POSIX_ONLY(OtherThreadsAskTheSystem)
#undef VARNEL_POSIX_ONLY

#endif  // _WIN32

}  // namespace
}  // namespace varnel::platform
