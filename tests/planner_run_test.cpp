// Stage 1 from the ARG file to the memory map: the library directory, the FB
// list, the module configuration and its memory-map row, and the errors the
// ARG file can raise.
#include <gtest/gtest.h>

#include <filesystem>

#include <string>

#include "builders/files.h"
#include "format.h"
#include "planner.h"
#include "support/plan_fixture.h"

namespace varnel {
namespace {

using testing::PlanFixture;
using testing::WriteFile;

class PlannerRunTest : public PlanFixture {};

TEST_F(PlannerRunTest, PlainExec32ModuleWithoutDriverLogsEveryStep) {
  Arg({{1, "FBA"}, {2, "FBB"}}, "32C000000000");
  for (const char* name : {"FBA.OBJ", "FBB.OBJ", "FBARP.OBJ", "EEPROM.OBJ", "LIB.OBJ"}) {
    Lib(name);
    SetTime(lib + name, 2009, 3, 2, 13, 5);
  }
  ASSERT_EQ(Run(2), 0) << log.text;
  const std::string L = lib, W = work;
  std::string expected =
      "Analyzing FB list.\n"
      "Opening Arg File \"" + W + "JOB.ARG\"\n"
      "Looking for files in \"" + L + "\", which is \"" + L + "\".\n"
      "Results will be in \"" + W + "\"\n"
      "Reading FB List.\n"
      "FB #1 is \"FBA\"\n"
      "FB #2 is \"FBB\"\n"
      "Parsed args = 32C000000000\n"
      "Using module configuration provided in ARG file.\n"
      "Module configuration is \"32C000000000\"\n"
      "Closing Arg File\n"
      "Checking FB files.\n"
      "Checking for packed FB file for \"FBA\"\n"
      "Checking for unpacked FB file \"" + L + "FBA.OBJ\"\n"
      "USING THIS FILE -> " + L + "FBA.OBJ  03-02-2009 01:05p\n"
      "Unpacked files found\n"
      "Checking for packed FB file for \"FBB\"\n"
      "Checking for unpacked FB file \"" + L + "FBB.OBJ\"\n"
      "USING THIS FILE -> " + L + "FBB.OBJ  03-02-2009 01:05p\n"
      "Unpacked files found\n"
      "Determining memory configuration\n"
      "Memory is \"Assuming 16K Exec 3.2\"\n"
      "Module is type 0 = \"Unknown module type\"\n"
      "Reading driver info\n"
      "Linking for Exec 3.2 module with no driver.\n"
      "Validating driver type\n"
      "Opening Linker Submit File \"" + W + "JOB.SUB\"\n"
      "Submitting constants for Exec 3.x\n"
      "Submitting header: " + W + "MXRAM.$$$\n"
      "Submitting header: " + L + "EEPROM.OBJ\n"
      "USING THIS FILE -> " + L + "EEPROM.OBJ  03-02-2009 01:05p\n"
      "Submitting \"" + W + "CPNUM1.$$$\"\n"
      "Submitting FB \"" + L + "FBA.OBJ\"\n"
      "Submitting \"" + W + "CPNUM2.$$$\"\n"
      "Submitting FB \"" + L + "FBB.OBJ\"\n"
      "Terminating FB list with " + W + "CPNUM0CS\n"
      "Looking for RP files\n"
      "USING THIS FILE -> " + L + "FBARP.OBJ  03-02-2009 01:05p\n"
      "Submitting RP \"" + L + "FBARP.OBJ\"\n"
      "Submitting library: " + L + "LIB.OBJ\n"
      "USING THIS FILE -> " + L + "LIB.OBJ  03-02-2009 01:05p\n"
      "Closing Submit File\n";
  EXPECT_EQ(log.text, expected);
  EXPECT_STREQ(params.statusToken, "32C000000000");
  EXPECT_STREQ(params.libraryDirUsed, lib.c_str());
  EXPECT_EQ(params.rpFilesSubmitted, 1);
  EXPECT_EQ(std::string(params.driverInfo.description, 33),
            std::string(reinterpret_cast<const char*>(DefaultDriverInfo().description), 33));
  const FbList& list = PlannerFbList();
  ASSERT_EQ(list.count, 2);
  EXPECT_STREQ(list.rows[1].name, "FBB");
  EXPECT_EQ(list.rows[1].number, 2);
  EXPECT_EQ(list.rows[1].packed, 0);
}

TEST_F(PlannerRunTest, CallersLibraryDirectoryReplacesTheArgToken) {
  Arg({}, "32C000000000", "07:ELSEWHERE\\");
  params.libraryDir = lib.c_str();
  ASSERT_EQ(Run(0), 0) << log.text;
  // No alias mapping, and the two progress texts form one line.
  EXPECT_TRUE(Logged("Looking for files in \"" + lib + "\",Results will be in \"" + work + "\"\n"));
  EXPECT_STREQ(params.libraryDirUsed, lib.c_str());
}

TEST_F(PlannerRunTest, ArgLibraryDirectoryIsAliasMapped) {
  // "07:" selects an empty alias, so the text after the colon remains.
  Arg({}, "32C000000000", "07:" + lib);
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_TRUE(Logged("Looking for files in \"07:" + lib + "\", which is \"" + lib + "\".\n"));
  EXPECT_STREQ(params.libraryDirUsed, lib.c_str());
}

TEST_F(PlannerRunTest, FbListLayoutAndEnd) {
  // Pairs in any line layout; "XXX" right behind the last pair; a number
  // without a name is not a row.
  ArgText(lib + "  1\tAAA 2\n\n BBB -3 CCC XXX rest of line\n32C000000000\n");
  Lib("AAA.OBJ");
  Lib("BBB.OBJ");
  Lib("CCC.OBJ");
  Lib("EEPROM.OBJ");
  Lib("LIB.OBJ");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_TRUE(Logged("FB #1 is \"AAA\"\nFB #2 is \"BBB\"\nFB #-3 is \"CCC\"\nParsed args = 32C000000000\n"));
  EXPECT_EQ(PlannerFbList().count, 3);

  ArgText(lib + " 1 AAA 7");
  params.callerExec = 3;
  params.callerMemoryK = 16;
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(PlannerFbList().count, 1);
  EXPECT_TRUE(Logged("FB #1 is \"AAA\"\nExec 3.x module configuration provided by caller.\n"));
}

// Only a line (or a 254-character piece of a longer line) that begins with
// "XXX" ends the skipped text; the token after it gives the configuration.
TEST_F(PlannerRunTest, XxxLineIsFoundAtTheStartOfALineOrPiece) {
  const struct {
    const char* what;
    std::string afterList;
    bool found;
  } cases[] = {
      {"rest of the line ignored", "XXXjunk here\n40C000000000\n", true},
      {"second piece of a long line", std::string(254, 'a') + "XXX\n40C000000000\n", true},
      {"inside the first piece", std::string(253, 'a') + "XXX\n40C000000000\n", false},
      {"not at the line start", "junk\n XXX\n40C000000000\n", false},
      {"lower case", "xxx\n40C000000000\n", false},
  };
  Lib("AAA.OBJ");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ArgText(lib + "\n 1 AAA\n" + c.afterList);
    int result = Run(0);
    if (c.found) {
      EXPECT_EQ(result, 8);
      EXPECT_TRUE(Logged("Parsed args = 40C000000000\n")) << log.text;
      EXPECT_TRUE(Logged("Module configuration is \"40C000000000\"\n"));
    } else {
      EXPECT_EQ(result, 3);
      EXPECT_EQ(log.errorCodes, std::vector<int>{1003});
      EXPECT_FALSE(Logged("Parsed args"));
    }
  }
}

TEST_F(PlannerRunTest, SixtyFbsAcceptedSixtyFirstRefused) {
  std::vector<std::pair<int, std::string>> fbs;
  for (int i = 0; i < 60; ++i) fbs.push_back({0, Format("F%d", i)});
  Arg(fbs, "32C000000000");
  for (int i = 0; i < 61; ++i) Lib(Format("F%d.OBJ", i));
  Lib("EEPROM.OBJ");
  Lib("LIB.OBJ");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(PlannerFbList().count, 60);

  fbs.push_back({0, "F60"});
  Arg(fbs, "32C000000000");
  EXPECT_EQ(Run(0), 16);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1016});
  EXPECT_EQ(LastError(),
            "Too many Function Blocks.\nWhat to check - This module does not support more than 60 FB's. ");
  EXPECT_EQ(PlannerFbList().count, 60);
}

TEST_F(PlannerRunTest, ArgFileFormatErrors) {
  const std::string bad =
      "Bad *.ARG file format\nWhat to check - This error is not normal.  Contact Technical Support\n";
  const std::string longName(256, 'D');
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"empty file", ""},
      {"only blanks", " \r\n\t \n"},
      {"no XXX line", lib + "\n 1 AAA\n"},
      {"FB name of 7 characters", lib + "\n 1 ABCDEFG\nXXX\n32C000000000\n"},
      {"library directory of 256 characters", longName + "\n 1 AAA\nXXX\n32C000000000\n"},
      {"two different FBs numbered 15", lib + "\n 15 DIN 1 AAA 15 DOU\nXXX\n32C000000000\n"},
  };
  Lib("AAA.OBJ");
  Lib("DIN.OBJ");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ArgText(c.text);
    EXPECT_EQ(Run(0), 3);
    EXPECT_EQ(log.errorCodes, std::vector<int>{1003});
    EXPECT_EQ(LastError(), bad);
    EXPECT_FALSE(testing::Exists(work + "JOB.SUB"));
  }
  // The same FB numbered 15 twice is one driver, not two.
  ArgText(lib + "\n 15 DIN 15 DIN\nXXX\n32C000000000\n");
  Lib("EEPROM.OBJ");
  Lib("LIB.OBJ");
  EXPECT_EQ(Run(0), 0) << log.text;
  // A caller's library directory of 256 characters is refused the same way.
  Arg({}, "32C000000000");
  params.libraryDir = longName.c_str();
  EXPECT_EQ(Run(0), 3);
  params.libraryDir = nullptr;
}

TEST_F(PlannerRunTest, MissingArgFile) {
  params.libraryDir = nullptr;
  EXPECT_EQ(Run(0), 1);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1001});
  EXPECT_EQ(LastError(), "Cannot open file \"JOB.ARG\" in directory \"" + work +
                             "\".\nWhat to check - Make sure the directory exists and the disk is not "
                             "full.  Note that compressed drives often report false free space. ");
}

TEST_F(PlannerRunTest, StatusTokenLongerThan1000IsKeptAsItsFirst1000) {
  std::string token = "32C000000000" + std::string(1100, 'Z');
  Arg({}, token.c_str());
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(std::string(params.statusToken), token.substr(0, 1000));
}

// The module configuration from the token or the caller's values, and the
// memory-map row it selects.
TEST_F(PlannerRunTest, ModuleConfigurationAndMemoryMap) {
  const struct {
    const char* token;  // nullptr: no "XXX" line
    uint16_t exec;
    uint16_t type;
    int32_t memoryK;
    const char* sourceLine;
    const char* configuration;
    const char* memory;  // nullptr: planner error 6
  } cases[] = {
      {"32c000000000", 0, 0, 0, "Using module configuration provided in ARG file.\n", "32C000000000",
       "Assuming 16K Exec 3.2"},
      {"33C000000000", 0, 0, 0, "Using module configuration provided in ARG file.\n", "33C000000000",
       "16K Exec 3.x"},
      {"40C000180000", 0, 0, 0, "Using module configuration provided in ARG file.\n", "40C000180000",
       "General purpose controller, 16K"},
      {"40C000008000", 0, 0, 0, "Using module configuration provided in ARG file.\n", "40C000008000",
       "16K Exec 4.x, Virtual"},
      {"32FFFF800000", 0, 0, 0, "Using module configuration provided in ARG file.\n", "32FFFF800000",
       "FB FIT"},
      {"60000080ABCDextra", 0, 0, 0, "Using module configuration provided in ARG file.\n",
       "60000080ABCD", "Expansion bus master, 16K + 6K"},
      {"32C0", 0, 0, 0, "Module configuration not specified, assuming Exec 3.2\n", "32C000000000",
       "Assuming 16K Exec 3.2"},
      {"32C0", 4, 0x22, 8, "Exec 4.x module configuration provided by caller.\n", "400000220000",
       "Zone controller, split data"},
      {nullptr, 4, 0x16, 16, "Exec 4.x module configuration provided by caller.\n", "40C000160000",
       "16K Exec 4.x"},
      {nullptr, 4, 0x16, 8, "Exec 4.x module configuration provided by caller.\n", "400000160000",
       "16K Exec 4.x"},
      {nullptr, 3, 0x81, 8, "Exec 3.x module configuration provided by caller.\n", "320000810000",
       "Expansion bus I/O module, 8K"},
      {nullptr, 3, 0x105, 8, "Exec 3.x module configuration provided by caller.\n", "320000050000",
       nullptr},
      {nullptr, 3, 0, 31, "Exec 3.x module configuration provided by caller.\n", "32D000000000",
       "Large unit controller, 31K"},
      {nullptr, 3, 0, 22, "Exec 3.x module configuration provided by caller.\n", "32E000000000",
       nullptr},
      {nullptr, 3, 0, 24, "Exec 3.x module configuration provided by caller.\n", "32E000000000",
       nullptr},
      {nullptr, 3, 0, 12, "Exec 3.x module configuration provided by caller.\n", "32C000000000",
       "Assuming 16K Exec 3.2"},
      {nullptr, 6, 0, 16, "Exec 5.x or greater module configuration provided by caller.\n",
       "600000000000", "Exec 6.0x"},
      {nullptr, 5, 0x1B, 16, "Exec 5.x or greater module configuration provided by caller.\n",
       "5000001B0000", "Process controller, extended"},
      {nullptr, 16, 0, 16, "Exec 5.x or greater module configuration provided by caller.\n",
       "000000000000", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.configuration);
    Arg({}, c.token);
    params.callerExec = c.exec;
    params.callerModuleType = c.type;
    params.callerMemoryK = c.memoryK;
    int result = Run(0);
    EXPECT_TRUE(Logged(c.sourceLine)) << log.text;
    EXPECT_TRUE(Logged(std::string("Module configuration is \"") + c.configuration + "\"\n"));
    if (c.token != nullptr) {
      EXPECT_TRUE(Logged(std::string("Parsed args = ") + c.token + "\n"));
    }
    if (c.memory == nullptr) {
      EXPECT_EQ(result, 6);
      EXPECT_EQ(LastError(), std::string("Unrecognized module configuration \"") + c.configuration + "\"\n");
    } else {
      EXPECT_TRUE(Logged(std::string("Memory is \"") + c.memory + "\"\n")) << log.text;
      // Without a driver only "32" configurations link.
      EXPECT_EQ(result, c.configuration[0] == '3' && c.configuration[1] == '2' ? 0 : 8);
    }
  }
  params.callerExec = 0;
  params.callerModuleType = 0;
  params.callerMemoryK = 0;
}

TEST_F(PlannerRunTest, TokenKeptWhenCallersValuesAreUsed) {
  Arg({}, "NOTHEX");
  params.callerExec = 4;
  params.callerMemoryK = 16;
  EXPECT_EQ(Run(0), 8);
  EXPECT_STREQ(params.statusToken, "NOTHEX");
  EXPECT_TRUE(Logged("Module configuration is \"40C000000000\"\n"));
  params.callerExec = 0;
  params.callerMemoryK = 0;
}

TEST_F(PlannerRunTest, NegativeLogLevelLeavesOnlyProgressAndDriverLines) {
  Arg({{15, "DIN"}}, "32C000010000");
  Lib("DIN.OBJ");
  Lib("EEPROM.OBJ");
  Lib("LIB.OBJ");
  ASSERT_EQ(Run(-1), 0);
  const std::string expected =
      "Analyzing FB list.\n"
      "Looking for files in \"" + lib + "\", which is \"" + lib + "\".\n"
      "Results will be in \"" + work + "\"\n"
      "Checking FB files.\n"
      "Driver description: \"Digital input driver, 16 points\"\n"
      "Driver category: \"Exec 3.xx: EEPROM and LIB\"\n"
      "Allowed module type: 1 = \"Digital input module, 16 points\"\n";
  EXPECT_EQ(log.text, expected);
}

TEST_F(PlannerRunTest, MissingFbComesBeforeAnUnmatchedConfiguration) {
  Arg({{1, "NOPE"}}, "320000050000");
  EXPECT_EQ(Run(0), 5);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1005});
  EXPECT_EQ(LastError(), "No file(s) for FB \"NOPE\" found in \"" + lib +
                             "\"\nWhat to check - Is this FB supposed to be downloading into this "
                             "module?   Does the directory \"" + lib + "\" exist?");
}

TEST_F(PlannerRunTest, PathsBeyond255CharactersAreNotOpened) {
  // The library directory fits, the object's path does not: no file found.
  std::string longLib = lib + std::string(250 - lib.size(), 'd') + "/";
  std::filesystem::create_directory(longLib);
  WriteFile(longLib + "FBA.OBJ", "S9030000FC\n");
  Arg({{1, "FBA"}}, "32C000000000", longLib);
  EXPECT_EQ(Run(0), 5);
  EXPECT_EQ(LastError(), "No file(s) for FB \"FBA\" found in \"" + longLib +
                             "\"\nWhat to check - Is this FB supposed to be downloading into this "
                             "module?   Does the directory \"" + longLib + "\" exist?");
}

TEST_F(PlannerRunTest, FbNameIsNeverAPath) {
  // ../x and a\b would name files outside the library directory.
  WriteFile(dir.Path() + "OUT.OBJ", "S9030000FC\n");
  std::filesystem::create_directory(lib + "sub");
  WriteFile(lib + "sub/IN.OBJ", "S9030000FC\n");
  for (const char* name : {"../OUT", "sub/IN", "sub\\IN", "C:X"}) {
    SCOPED_TRACE(name);
    Arg({{1, name}}, "32C000000000");
    EXPECT_EQ(Run(1), 5);
    EXPECT_EQ(log.errorCodes, std::vector<int>{1005});
    EXPECT_FALSE(Logged("Checking for unpacked FB file"));
  }
}

TEST(CompareWildcardTest, Cases) {
  const struct {
    const char* pattern;
    const char* text;
    int result;
  } cases[] = {
      {"3?C000??????", "33C000000000", 0},
      {"ABX", "ABXY", -1},
      {"ABXY", "ABX", 1},
      {"A?X", "a1X", -1},
      {"a?X", "A1X", 1},
      {"ABC", "A?C", 0},  // '?' on the text's side too
      {"", "", 0},
      {"??I", "OCI", 0},
      {"??I", "OCIX", -1},
      {"\x80", "A", -1},  // bytes compare as signed
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareWildcard(c.pattern, c.text), c.result) << c.pattern << " / " << c.text;
  }
}

}  // namespace
}  // namespace varnel
