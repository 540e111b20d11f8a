// What a call finds in its working directory before it starts: generated
// objects and unpacked members of earlier calls, files of the user, links,
// and FB names that are the names of the call's own files.  A call links
// only what it wrote itself: each trap below either fails the call with its
// error, or the call succeeds with the download of the same job in a clean
// working directory.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/link_fixture.h"

namespace varnel {
namespace {

using testing::Exists;
using testing::ListDir;
using testing::ReadFile;
using testing::WriteFile;

const char* const kBadArgFile =
    "Bad *.ARG file format\nWhat to check - This error is not normal.  Contact Technical Support\n";

class WorkingDirectoryTest : public testing::LinkCallFixture {
 protected:
  // The download of this job (the ARG file as it stands) linked in a working
  // directory of its own that nothing has touched before.
  std::string CleanDownload() {
    const std::string clean = dir.Path() + "clean" + std::to_string(++cleanRuns) + "/";
    std::filesystem::create_directory(clean);
    WriteFile(clean + "JOB.ARG", ReadFile(work + "JOB.ARG"));
    std::string buffer(kMessageLength, 'x');
    int result = Varnel("JOB.ARG", nullptr, clean.c_str(), "JOB.LOG", "JOB.SUB", "MODULE.S1", 3,
                        buffer.data(), kMessageLength);
    EXPECT_EQ(result, 0) << buffer.c_str();
    return ReadFile(clean + "MODULE.S1");
  }

  // A successful link whose download is the clean one.
  void ExpectCleanLink() {
    const std::string expected = CleanDownload();
    ASSERT_FALSE(expected.empty());
    std::filesystem::remove(work + "MODULE.S1");
    EXPECT_EQ(Link(), 0) << Message() << Log();
    EXPECT_EQ(Message(), "");
    EXPECT_EQ(ReadFile(work + "MODULE.S1"), expected);
  }

  // A failed link that wrote no download.
  void ExpectFailure(int code, const std::string& text) {
    std::filesystem::remove(work + "MODULE.S1");
    EXPECT_EQ(Link(), code) << Log();
    EXPECT_EQ(Message(), Header(code) + text);
    EXPECT_FALSE(Exists(work + "MODULE.S1"));
  }

  std::string Incomplete(const std::string& name, int error) const {
    return "Temporary file \"" + work + name +
           "\" is incomplete.\nWhat to check - Is the disk full?.  Remember that compressed drives "
           "often report false free space.  The system error reported to me was \"" +
           platform::SystemErrorText(error) + "\".\n";
  }

  // An object that links and puts its own bytes into the image.
  static std::string StaleObject(const std::string& module) {
    return testing::CodeModule(module, testing::TextBytes("STALE-" + module + "-BYTES"));
  }

  int cleanRuns = 0;
};

// A generated object left by an earlier call that another writer still holds
// cannot be replaced; linking it would put the earlier call's bytes in the
// download, so the call stops where it writes it.  Once released, the same
// call writes its own object and links the clean download.
TEST_F(WorkingDirectoryTest, HeldGeneratedObjectStopsTheCallWhereItIsWritten) {
  const struct {
    Module module;
    const char* name;
  } cases[] = {
      {Module::kExec32, "MXRAM.$$$"},       {Module::kExec32, "CPNUM1.$$$"},
      {Module::kExec32, "CPNUM0CS.$$$"},    {Module::kExec33WithDriver, "CPNUM0.$$$"},
      {Module::kExec5, "RPTERM.$$$"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseModule(c.module);
    const std::string path = work + c.name;
    platform::Stream* holder = platform::Open(path.c_str(), "wb");
    ASSERT_NE(holder, nullptr);
    ASSERT_TRUE(platform::WriteText(holder, StaleObject("STALE").c_str()));
    ASSERT_TRUE(platform::Flush(holder));
    ExpectFailure(1013, Incomplete(c.name, EACCES));
    EXPECT_TRUE(ReadFile(path).starts_with(StaleObject("STALE")));
    ASSERT_TRUE(platform::Close(holder));
    ExpectCleanLink();
    EXPECT_FALSE(Exists(path));
  }
}

// A module driver has no RP: an RP file of its name in the working directory
// (a user's, or one left when the name was an FB's) is put aside, not linked.
TEST_F(WorkingDirectoryTest, StaleRpFileOfAPackedDriverIsPutAside) {
  UseModule(Module::kExec33WithDriver);
  const std::string expected = CleanDownload();
  WriteFile(work + "DRVRP.$$$", StaleObject("DRVRP"));
  std::filesystem::remove(work + "MODULE.S1");
  ASSERT_EQ(Link(), 0) << Message();
  EXPECT_EQ(ReadFile(work + "MODULE.S1"), expected);
  EXPECT_EQ(Submit().find("DRVRP"), std::string::npos) << Submit();
  EXPECT_EQ(ReadFile(work + "MODULE.S1").find("5354414C45"), std::string::npos);  // "STALE"
}

// The same name as the module driver and as another FB: the duplicate skip
// would unpack the first row as an FB and never the driver's members, so an
// earlier run's driver files would be linked.  Refused as soon as the list
// is read, in either order; the same driver named twice as FB 15 is fine,
// whatever the case of its letters.
TEST_F(WorkingDirectoryTest, DriverNameUnderAnotherNumberIsRefused) {
  // An earlier call of the driver's module that failed once it had
  // unpacked: its driver files stay in the working directory.
  UseModule(Module::kExec33WithDriver);
  message.assign(kMessageLength, 'x');
  ASSERT_NE(Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "NO-SUCH-DIR/MODULE.S1", 3,
                   message.data(), kMessageLength),
            0);
  ASSERT_TRUE(Exists(work + "EEPxxx.$$$"));
  ASSERT_TRUE(Exists(work + "LIBxxx.$$$"));

  for (const auto& list : std::vector<std::vector<std::pair<int, std::string>>>{
           {{3, "DRV"}, {15, "DRV"}, {1, "FBA"}},
           {{15, "DRV"}, {1, "FBA"}, {3, "DRV"}},
           {{1, "drv"}, {15, "DRV"}, {2, "FBB"}}}) {
    SCOPED_TRACE(list[0].second + " " + std::to_string(list[0].first));
    Arg(list, "33C000000000");
    std::filesystem::remove(work + "JOB.SUB");
    ExpectFailure(1003, kBadArgFile);
    EXPECT_FALSE(Exists(work + "JOB.SUB"));
  }

  Arg({{15, "DRV"}, {1, "FBA"}, {15, "drv"}, {2, "FBB"}}, "33C000000000");
  ExpectCleanLink();
}

// An FB whose files would be the call's own: a generated object or a driver
// member would replace its object, or its object would be submitted again
// as another FB's RP.  Refused when the list is read, with a line that says
// what collides; the comparisons ignore case as the file system does.
TEST_F(WorkingDirectoryTest, FbNamedLikeTheCallsOwnFilesIsRefused) {
  const struct {
    std::vector<std::pair<int, std::string>> fbs;
    const char* line;
  } cases[] = {
      {{{1, "FBA"}, {2, "MXRAM"}}, "FB \"MXRAM\" collides with the temporary file \"MXRAM.$$$\".\n"},
      {{{1, "cpnum1"}}, "FB \"cpnum1\" collides with the temporary file \"CPNUM1.$$$\".\n"},
      {{{4, "CPNUM0"}}, "FB \"CPNUM0\" collides with the temporary file \"CPNUM0.$$$\".\n"},
      {{{1, "FBA"}, {9, "CpNum9"}}, "FB \"CpNum9\" collides with the temporary file \"CPNUM9.$$$\".\n"},
      {{{3, "RPTERM"}}, "FB \"RPTERM\" collides with the temporary file \"RPTERM.$$$\".\n"},
      {{{3, "EEPXXX"}}, "FB \"EEPXXX\" collides with the temporary file \"EEPxxx.$$$\".\n"},
      {{{3, "libxxx"}}, "FB \"libxxx\" collides with the temporary file \"LIBxxx.$$$\".\n"},
      {{{1, "FBARP"}, {2, "FBA"}}, "FB \"FBARP\" collides with the RP of FB \"FBA\".\n"},
      {{{1, "FBA"}, {0, "fbaRp"}}, "FB \"fbaRp\" collides with the RP of FB \"FBA\".\n"},
      {{{1, "ABC-32"}, {2, "ABCRP"}}, "FB \"ABCRP\" collides with the RP of FB \"ABC-32\".\n"},
      {{{1, "ABCRP"}, {2, "abc-8"}}, "FB \"ABCRP\" collides with the RP of FB \"abc-8\".\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Arg(c.fbs, "32C000000000");
    std::filesystem::remove(work + "JOB.SUB");
    ExpectFailure(1003, kBadArgFile);
    const std::string log = Log();
    const size_t line = log.find(testing::Crlf(c.line));
    ASSERT_NE(line, std::string::npos) << log;
    EXPECT_LT(line, log.find("* ERROR MESSAGE BOX TEXT *"));
    EXPECT_EQ(log.find("Checking FB files."), std::string::npos);
    EXPECT_FALSE(Exists(work + "JOB.SUB"));
  }
  // Names that only look alike are FBs of their own.
  Lib("MXRAM2.OBJ", testing::CodeModule("MXRAM2", testing::TextBytes("MX2")));
  Lib("ABC-16.OBJ", testing::CodeModule("ABC16", testing::TextBytes("ABC16")));
  Lib("ABCRP.OBJ", testing::CodeModule("ABCRP", testing::TextBytes("ABCRP")));
  Arg({{1, "FBA"}, {2, "MXRAM2"}, {3, "ABC-16"}, {4, "ABCRP"}}, "32C000000000");
  ExpectCleanLink();
}

// Rows that differ only in case name one file: the second is the first's
// duplicate, gets its FB lines but no second RP line, and links as the same
// list written in one case does.
TEST_F(WorkingDirectoryTest, NamesThatDifferOnlyInCaseAreOneFb) {
  Arg({{1, "FBA"}, {2, "FBB"}, {3, "FBA"}}, "32C000000000");
  const std::string sameCase = CleanDownload();
  Arg({{1, "FBA"}, {2, "FBB"}, {3, "fba"}}, "32C000000000");
  ExpectCleanLink();
  EXPECT_EQ(ReadFile(work + "MODULE.S1"), sameCase);
  const std::string submit = ReadFile(work + "JOB.SUB");
  const std::string rpLine = "FILE     " + work + "FBARP.$$$\r\n";
  const size_t first = submit.find(rpLine);
  ASSERT_NE(first, std::string::npos) << submit;
  EXPECT_EQ(submit.find(rpLine, first + 1), std::string::npos) << submit;
  EXPECT_EQ(submit.find("fbaRP.$$$"), std::string::npos) << submit;
}

#ifndef _WIN32
// A link in the working directory named like one of the call's own files,
// whether it names a file outside or nothing at all: the call's file is
// written in the working directory itself and what the link names stays as
// it was.  An unpacked member puts the link aside like any earlier file; a
// generated object replaces it.
TEST_F(WorkingDirectoryTest, LinksInTheWorkingDirectoryAreNeverWrittenThrough) {
  const std::string outside = dir.Path() + "outside/";
  std::filesystem::create_directory(outside);
  const struct {
    Module module;
    const char* name;
    const char* backup;  // nullptr: a generated object
  } cases[] = {
      {Module::kExec32, "FBA.$$$", "FBA.$$~"},
      {Module::kExec32, "FBARP.$$$", "FBARP.$$~"},
      {Module::kExec32, "MXRAM.$$$", nullptr},
      {Module::kExec32, "CPNUM2.$$$", nullptr},
      {Module::kExec32, "CPNUM0CS.$$$", nullptr},
      {Module::kExec33WithDriver, "EEPxxx.$$$", "EEPxxx.$$~"},
      {Module::kExec33WithDriver, "LIBxxx.$$$", "LIBxxx.$$~"},
      {Module::kExec33WithDriver, "DRV.$$$", "DRV.$$~"},
      {Module::kExec5, "DRV5.$$$", "DRV5.$$~"},
      {Module::kExec5, "RPTERM.$$$", nullptr},
  };
  for (const auto& c : cases) {
    for (bool dangling : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (dangling ? ", dangling" : ", to a file"));
      UseModule(c.module);
      const std::string target = outside + "TARGET";
      std::filesystem::remove(target);
      if (!dangling) WriteFile(target, "outside the working directory");
      const std::string link = work + c.name;
      std::filesystem::create_symlink(target, link);
      if (c.backup != nullptr) std::filesystem::remove(work + c.backup);
      // A failed call keeps its files: the link's fate is seen before the
      // successful call deletes them.
      message.assign(kMessageLength, 'x');
      Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "NO-SUCH-DIR/MODULE.S1", 3,
             message.data(), kMessageLength);
      EXPECT_FALSE(std::filesystem::is_symlink(link));
      EXPECT_TRUE(std::filesystem::is_regular_file(link));
      if (c.backup != nullptr) {
        EXPECT_TRUE(std::filesystem::is_symlink(work + c.backup));
      }
      EXPECT_EQ(Exists(target), !dangling);
      if (!dangling) {
        EXPECT_EQ(ReadFile(target), "outside the working directory");
      }

      std::filesystem::remove(link);
      std::filesystem::create_symlink(target, link);
      ExpectCleanLink();
      EXPECT_EQ(Exists(target), !dangling);
      if (!dangling) {
        EXPECT_EQ(ReadFile(target), "outside the working directory");
      }
    }
  }
}
#else
TEST_F(WorkingDirectoryTest, LinksInTheWorkingDirectoryAreNeverWrittenThrough) {
  GTEST_SKIP() << "symbolic links need a privilege on Windows; PlatformEntries covers the reparse-point check";
}
#endif

// The jobs below add an Exec type 3 module with a driver of its own (kind
// 4) or with the library directory's standard objects (kind 5), and FBC, a
// packed FB without an RP, to the fixture's modules.
class TemporarySpellingsTest : public WorkingDirectoryTest {
 protected:
  void SetUp() override {
    WorkingDirectoryTest::SetUp();
    Lib("EEP400.OBJ", testing::HeaderObject("EEP400"));
    Lib("LIB400.OBJ", testing::LibraryObject());
    testing::WritePackFile(lib + "DR3.MDV", testing::PackedDriver(4, "Exec 3 driver, own objects", 3));
    testing::WritePackFile(lib + "DR5.MDV", testing::PackedDriver(5, "Exec 3 driver, standard objects", 3));
  }

  enum class Job { kExec32, kExec2Kind2, kExec3Kind4, kExec3Kind5, kExec5 };

  std::string JobArg(Job job) const {
    switch (job) {
      case Job::kExec32: return ArgFileText({{1, "FBA"}, {2, "FBB"}, {3, "FBC"}}, "32C000000000");
      case Job::kExec2Kind2: return ModuleArgText(Module::kExec33WithDriver);
      case Job::kExec3Kind4: return ArgFileText({{15, "DR3"}, {1, "FBA"}}, "40C000000000");
      case Job::kExec3Kind5: return ArgFileText({{15, "DR5"}, {1, "FBA"}, {2, "FBC"}}, "40C000000000");
      case Job::kExec5: return ModuleArgText(Module::kExec5);
    }
    return {};
  }

  // Empties the working directory but for the ARG file.
  void ClearWork() {
    for (const std::string& entry : ListDir(work))
      if (entry != "JOB.ARG") std::filesystem::remove_all(work + entry);
  }
};

#ifndef _WIN32
std::string Lower(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// The name with the case of its first letter turned.
std::string Turned(std::string name) {
  for (char& c : name) {
    if (std::isalpha(static_cast<unsigned char>(c))) {
      c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
      break;
    }
  }
  return name;
}

// Earlier calls and users leave files, links and dangling links under other
// spellings of the call's temporary names, beside the call's own spelling or
// without it.  A lookup that ignores case would find any of them; the call
// puts every one aside (unpacked members) or removes it (generated objects),
// writes its own file under its own spelling and links only what it wrote:
// the download is the clean one, and what a link names stays as it was.
TEST_F(TemporarySpellingsTest, StaleSpellingsOfEveryTemporaryFileAreNeverLinked) {
  const struct {
    Job job;
    std::vector<const char*> names;
  } jobs[] = {
      {Job::kExec32,
       {"FBA.$$$", "FBARP.$$$", "FBC.$$$", "FBCRP.$$$", "MXRAM.$$$", "CPNUM1.$$$", "CPNUM3.$$$", "CPNUM0CS.$$$"}},
      {Job::kExec2Kind2,
       {"DRV.$$$", "DRVRP.$$$", "EEPxxx.$$$", "LIBxxx.$$$", "MXRAM.$$$", "CPNUM15.$$$", "CPNUM0.$$$"}},
      {Job::kExec3Kind4, {"DR3.$$$", "DR3RP.$$$", "EEPxxx.$$$", "LIBxxx.$$$", "FBARP.$$$", "CPNUM0.$$$"}},
      {Job::kExec3Kind5, {"DR5.$$$", "DR5RP.$$$", "EEPxxx.$$$", "LIBxxx.$$$", "FBCRP.$$$", "CPNUM1.$$$"}},
      {Job::kExec5, {"DRV5.$$$", "DRV5RP.$$$", "EEPxxx.$$$", "LIBxxx.$$$", "FBC.$$$", "FBCRP.$$$", "RPTERM.$$$"}},
  };
  enum Kind { kFile, kLink, kDangling };
  // Which spelling stands as what: the call's own, all lower case, the
  // first letter's case turned.
  struct Spelled {
    std::string (*spell)(std::string);
    Kind kind;
  };
  const auto own = [](std::string n) { return n; };
  const std::vector<std::vector<Spelled>> traps = {
      {{Lower, kFile}},
      {{own, kFile}, {Lower, kFile}},
      {{own, kFile}, {Lower, kLink}},
      {{own, kLink}, {Lower, kFile}},
      {{Lower, kDangling}, {Turned, kFile}},
      {{own, kDangling}, {Lower, kFile}, {Turned, kLink}},
      {{own, kFile}, {Lower, kFile}, {Turned, kFile}},
  };
  const std::string outside = dir.Path() + "outside/";
  std::filesystem::create_directory(outside);
  const std::string target = outside + "STALE.OBJ";
  const std::string stale = StaleObject("STALE");
  for (const auto& j : jobs) {
    ArgText(JobArg(j.job));
    const std::string expected = CleanDownload();
    ASSERT_FALSE(expected.empty());
    for (const char* name : j.names) {
      for (size_t t = 0; t < traps.size(); ++t) {
        SCOPED_TRACE(std::string(name) + ", trap " + std::to_string(t));
        ClearWork();
        WriteFile(target, stale);
        std::filesystem::remove(outside + "NOTHING");
        for (const Spelled& sp : traps[t]) {
          const std::string path = work + sp.spell(name);
          if (sp.kind == kFile) WriteFile(path, stale);
          if (sp.kind == kLink) std::filesystem::create_symlink(target, path);
          if (sp.kind == kDangling) std::filesystem::create_symlink(outside + "NOTHING", path);
        }
        EXPECT_EQ(Link(), 0) << Message() << Log();
        EXPECT_EQ(Message(), "");
        EXPECT_EQ(ReadFile(work + "MODULE.S1"), expected);
        EXPECT_EQ(Submit().find("STALE"), std::string::npos);
        EXPECT_EQ(ReadFile(target), stale);
        EXPECT_FALSE(Exists(outside + "NOTHING"));
      }
    }
  }
}

// Each spelling goes aside under its own backup name, and the older backups
// of the name, in any spelling, make way for them; the call's member is
// written under its own spelling.  (A failed call keeps its files.)
TEST_F(TemporarySpellingsTest, EachSpellingKeepsABackupOfItsOwn) {
  WriteFile(work + "FBARP.$$$", "upper");
  WriteFile(work + "fbarp.$$$", "lower");
  WriteFile(work + "FBARP.$$~", "an older backup");
  WriteFile(work + "FbaRP.$$~", "another older backup");
  message.assign(kMessageLength, 'x');
  ASSERT_NE(Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "NO-SUCH-DIR/MODULE.S1", 3,
                   message.data(), kMessageLength),
            0);
  EXPECT_EQ(ReadFile(work + "FBARP.$$~"), "upper");
  EXPECT_EQ(ReadFile(work + "fbarp.$$~"), "lower");
  EXPECT_FALSE(Exists(work + "FbaRP.$$~"));
  EXPECT_FALSE(Exists(work + "fbarp.$$$"));
  EXPECT_TRUE(ReadFile(work + "FBARP.$$$").starts_with("S0"));
}
#else
TEST_F(TemporarySpellingsTest, StaleSpellingsOfEveryTemporaryFileAreNeverLinked) {
  GTEST_SKIP() << "one Windows directory holds a name in one spelling only";
}
#endif

// An earlier file in the way of the call's own that cannot be put aside,
// because a directory takes its backup name in any spelling: the call stops
// before it writes, naming that file, and the file stays as it was.  Without
// the directory the same call links the clean download.
TEST_F(TemporarySpellingsTest, AnEntryThatCannotBePutAsideStopsTheCall) {
  const struct {
    Job job;
    const char* stale;
    const char* backup;  // the directory
  } cases[] = {
      {Job::kExec32, "FBA.$$$", "FBA.$$~"},
      {Job::kExec32, "FBCRP.$$$", "FBCRP.$$~"},
      {Job::kExec2Kind2, "DRVRP.$$$", "DRVRP.$$~"},
      {Job::kExec3Kind5, "EEPxxx.$$$", "EEPxxx.$$~"},
#ifndef _WIN32
      {Job::kExec32, "fbarp.$$$", "FbaRP.$$~"},
      {Job::kExec5, "drv5.$$$", "DRV5.$$~"},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stale);
    ArgText(JobArg(c.job));
    ClearWork();
    WriteFile(work + c.stale, StaleObject("STALE"));
    std::filesystem::create_directory(work + c.backup);
    ExpectFailure(1013, Incomplete(c.stale, EEXIST));
    EXPECT_EQ(ReadFile(work + c.stale), StaleObject("STALE"));
    std::filesystem::remove(work + c.backup);
    ExpectCleanLink();
  }
}

// The clean-up after a successful call deletes every "*.$$?" file of the
// working directory but the open log itself: a file that only shares the
// log's name goes too.
TEST_F(WorkingDirectoryTest, CleanUpSparesOnlyTheOpenLogItself) {
  const std::string logs = dir.Path() + "logs/";
  std::filesystem::create_directory(logs);
  WriteFile(work + "RUN.$$$", "left by an earlier call");
  WriteFile(work + "OTHER.$$~", "a backup of an earlier call");
  message.assign(kMessageLength, 'x');
  ASSERT_EQ(Varnel("JOB.ARG", nullptr, work.c_str(), "../logs/RUN.$$$", "JOB.SUB", "MODULE.S1", 3,
                   message.data(), kMessageLength),
            0)
      << Message();
  EXPECT_FALSE(Exists(work + "RUN.$$$"));
  EXPECT_FALSE(Exists(work + "OTHER.$$~"));
  EXPECT_TRUE(ReadFile(logs + "RUN.$$$").starts_with("VARNEL.DLL  v3.03.002\r\n"));

  // The log in the working directory under such a name is kept, whatever
  // case the caller spells it in.
  for (const char* name : {"RUN.$$$", "run.$$$"}) {
    SCOPED_TRACE(name);
    WriteFile(work + "OTHER.$$$", "left by an earlier call");
    message.assign(kMessageLength, 'x');
    ASSERT_EQ(Varnel("JOB.ARG", nullptr, work.c_str(), name, "JOB.SUB", "MODULE.S1", 3, message.data(),
                     kMessageLength),
              0)
        << Message();
    EXPECT_FALSE(Exists(work + "OTHER.$$$"));
    std::vector<std::string> left;
    for (const std::string& entry : ListDir(work))
      if (entry.find(".$$") != std::string::npos) left.push_back(entry);
    EXPECT_EQ(left, std::vector<std::string>{"RUN.$$$"});
    EXPECT_TRUE(ReadFile(work + "RUN.$$$").starts_with("VARNEL.DLL  v3.03.002\r\n"));
  }
}

}  // namespace
}  // namespace varnel
