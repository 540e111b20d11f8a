// The file and path helpers: shared opens, existence, backups, bounded
// copies and alias prefixes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "builders/files.h"
#include "files.h"
#include "platform/platform.h"

namespace varnel {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// A path of exactly `length` characters naming a file in an existing
// directory, so only its length decides whether it opens.
std::string PathOfLength(const TempDir& dir, size_t length) {
  std::string base = dir.Path();
  std::string sub = base + std::string(100, 'd') + "/";
  std::filesystem::create_directories(sub);
  return sub + std::string(length - sub.size(), 'f');
}

TEST(OpenShared, PathsOverTheLimitDoNotOpen) {
  TempDir dir;
  std::string fits = PathOfLength(dir, 255);
  std::string over = PathOfLength(dir, 256);
  platform::Stream* s = OpenShared(fits.c_str(), "w");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(platform::WriteText(s, "x"));
  EXPECT_TRUE(platform::Close(s));
  EXPECT_EQ(FileExists(fits.c_str()), 1);

  EXPECT_EQ(OpenShared(over.c_str(), "w"), nullptr);
  EXPECT_FALSE(Exists(over));
  // The same file named through an over-long path does not count either.
  WriteFile(over, "y");
  EXPECT_EQ(OpenShared(over.c_str(), "r"), nullptr);
  EXPECT_EQ(FileExists(over.c_str()), 0);
  EXPECT_EQ(BackupExistingFile(over.c_str()), 0);
  EXPECT_EQ(ReadFile(over), "y");

  EXPECT_EQ(OpenShared(nullptr, "r"), nullptr);
  EXPECT_EQ(OpenShared(fits.c_str(), nullptr), nullptr);
}

TEST(FileExists, OnlyReadableFilesExist) {
  TempDir dir;
  WriteFile(dir / "FILE.TXT", "x");
  std::filesystem::create_directory(dir / "SUBDIR");
  struct Case {
    std::string path;
    int expected;
  };
  const Case cases[] = {
      {dir / "FILE.TXT", 1},
      {dir / "MISSING.TXT", 0},
      {dir / "SUBDIR", 0},
      {dir.Path(), 0},
      {"/dev/null", 0},
      {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FileExists(c.path.c_str()), c.expected) << c.path;
  EXPECT_EQ(FileExists(nullptr), 0);
}

TEST(BackupExistingFile, RenamesToTheBackupName) {
  struct Case {
    const char* name;
    const char* backup;
  };
  const Case cases[] = {
      {"TEST.$$$", "TEST.$$~"},
      {"NAME.OBJ", "NAME.OB~"},
      {"A", "~"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    WriteFile(dir / c.name, "new");
    EXPECT_EQ(BackupExistingFile((dir / c.name).c_str()), 1);
    EXPECT_FALSE(Exists(dir / c.name));
    EXPECT_EQ(ReadFile(dir / c.backup), "new");
  }
}

TEST(BackupExistingFile, ATrailingDotIsDroppedFirst) {
  // The file system takes "NAME." as NAME, so the backup of it is NAM~.
  TempDir dir;
  WriteFile(dir / "NAME", "data");
  EXPECT_EQ(BackupExistingFile((dir / "NAME.").c_str()), 1);
  EXPECT_FALSE(Exists(dir / "NAME"));
  EXPECT_EQ(ReadFile(dir / "NAM~"), "data");
}

TEST(BackupExistingFile, ReplacesAnOlderBackup) {
  TempDir dir;
  WriteFile(dir / "X.$$$", "newer");
  WriteFile(dir / "X.$$~", "older");
  EXPECT_EQ(BackupExistingFile((dir / "X.$$$").c_str()), 1);
  EXPECT_FALSE(Exists(dir / "X.$$$"));
  EXPECT_EQ(ReadFile(dir / "X.$$~"), "newer");
}

TEST(BackupExistingFile, NothingToPutAside) {
  TempDir dir;
  EXPECT_EQ(BackupExistingFile((dir / "MISSING.OBJ").c_str()), 0);
  EXPECT_TRUE(testing::ListDir(dir.Path()).empty());
  // Names with nothing left to mark once a trailing dot is gone.
  EXPECT_EQ(BackupExistingFile(""), 0);
  EXPECT_EQ(BackupExistingFile("."), 0);
  EXPECT_EQ(BackupExistingFile(nullptr), 0);
}

TEST(CopyBounded, AlwaysEndsWithinTheField) {
  struct Case {
    const char* source;
    size_t n;
    std::string expected;  // the n + 1 bytes of the field
  };
  const Case cases[] = {
      {"ABCDEFGHIJKL", 8, std::string("ABCDEFGH\0", 9)},
      {"ABC", 8, std::string("ABC\0\0\0\0\0\0", 9)},
      {nullptr, 4, std::string(5, '\0')},
      {"", 2, std::string(3, '\0')},
      {"ABC", 0, std::string(1, '\0')},
      {"ABCDEFGH", 8, std::string("ABCDEFGH\0", 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source ? c.source : "(none)");
    char field[16];
    std::memset(field, 'Z', sizeof field);
    CopyBounded(field, c.source, c.n);
    EXPECT_EQ(std::string(field, c.n + 1), c.expected);
    EXPECT_EQ(field[c.n + 1], 'Z');
  }
}

TEST(MapPathAlias, DropsANumberedPrefix) {
  struct Case {
    std::string path;
    std::string result;
  };
  const std::string tail200(200, 'p');
  const std::string tail260(260, 'p');
  const Case cases[] = {
      {"07:LIB\\", "LIB\\"},
      {"123:LIB\\", "LIB\\"},  // read as 12; the rest of the prefix goes with it
      {"5:TEMP\\", "TEMP\\"},
      {" 5:TEMP\\", "TEMP\\"},
      {"+5:TEMP\\", "TEMP\\"},
      {"20:", ""},
      {"0:A\\", "A\\"},
      {"D:\\LIB\\", "D:\\LIB\\"},
      {"LIB\\", "LIB\\"},
      {"LIB\\XXX\\", "LIB\\XXX\\"},  // no prefix: the XXX stays
      {"07:LIB\\XXX\\A\\", "LIB\\"},
      {"21:LIB\\", "21:LIB\\"},  // no such alias
      {"-1:LIB\\", "-1:LIB\\"},
      {"99:LIB\\", "99:LIB\\"},
      {"07:" + tail200, tail200},  // long paths are kept whole
      {"07:" + tail260, "07:" + tail260},  // over the limit: left alone
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    char buffer[300];
    std::memset(buffer, 'Z', sizeof buffer);
    std::memcpy(buffer, c.path.c_str(), c.path.size() + 1);
    EXPECT_EQ(MapPathAlias(buffer), 1);
    EXPECT_EQ(std::string(buffer), c.result);
    EXPECT_EQ(buffer[sizeof buffer - 1], 'Z');
  }
}

TEST(SubstituteXxx, EndsTheTextAtTheFirstXxx) {
  struct Case {
    std::string path;
    std::string result;
  };
  const Case cases[] = {
      {"LIB\\XXX\\A\\", "LIB\\"},
      {"XXXX", ""},
      {"XX\\X", "XX\\X"},
      {"AXX", "AXX"},
      {"", ""},
      {std::string(200, 'q'), std::string(200, 'q')},
      {std::string(255, 'q'), std::string(255, 'q')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(std::string(SubstituteXxx(c.path.c_str())), c.result);
  }
  // A text over the path limit stays over it rather than being cut into a
  // path that could be opened.
  EXPECT_GT(std::strlen(SubstituteXxx(std::string(400, 'q').c_str())), kMaxPath);
}

}  // namespace
}  // namespace varnel
