// Stage 1 with packed FB and driver files: which members are unpacked, the
// header and library the submit file then names, the driver information
// from the packed file, and the errors of unpacking.
#include <gtest/gtest.h>

#include <filesystem>

#include <cerrno>
#include <cstdio>
#include <string>

#include "builders/packer.h"
#include "planner.h"
#include "support/capture_log.h"
#include "support/plan_fixture.h"

namespace varnel {
namespace {

using testing::TextBytes;
using testing::Crlf;
using testing::Exists;
using testing::MakeDriverInfo;
using testing::Member;
using testing::PackMember;
using testing::PackSpec;
using testing::PlanFixture;
using testing::ReadFile;
using testing::WritePackFile;

PackSpec FbPack(const std::string& name, bool withRp = true) {
  PackSpec pack;
  pack.members.push_back(Member(2, name + " object"));
  if (withRp) pack.members.push_back(Member(3, name + " rp"));
  return pack;
}

PackSpec DriverPack(uint8_t kind, const DriverInfo& info) {
  PackSpec pack;
  pack.kind = kind;
  pack.info = info;
  bool scrambled = kind != 4;
  pack.members.push_back(Member(2, "driver object"));
  if (kind == 2 || kind == 4) {
    pack.members.push_back(Member(4, "driver library", scrambled));
    pack.members.push_back(Member(5, "driver header", scrambled));
  }
  return pack;
}

const DriverInfo kAnyType1 = MakeDriverInfo("Packed driver for tests", 1, {255});

class PlannerPackedTest : public PlanFixture {
 protected:
  void Pack(const std::string& file, const PackSpec& pack) { WritePackFile(lib + file, pack); }
};

TEST_F(PlannerPackedTest, Exec1WithKind4DriverUsesItsOwnHeaderAndLibrary) {
  Pack("DRV.MDV", DriverPack(4, kAnyType1));
  Pack("FBA.FB", FbPack("FBA"));
  Pack("FBB.FB", FbPack("FBB", false));
  Arg({{1, "FBA"}, {2, "FBB"}, {15, "DRV"}}, "32C000000000");
  ASSERT_EQ(Run(1), 0) << log.text;
  const std::string W = work;
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  8000-BFFF\n"
                           "SECTION   *      DSCT  6729-7FFF\n" +
                           testing::Exec3Block() +
                           "FILE     " + W + "MXRAM.$$$\n"
                           "FILE     " + W + "EEPxxx.$$$\n"
                           "FILE     " + W + "CPNUM1.$$$\n"
                           "FILE     " + W + "FBA.$$$\n"
                           "FILE     " + W + "CPNUM2.$$$\n"
                           "FILE     " + W + "FBB.$$$\n"
                           "FILE     " + W + "CPNUM15.$$$\n"
                           "FILE     " + W + "DRV.$$$\n"
                           "FILE     " + W + "CPNUM0CS.$$$\n"
                           "FILE     " + W + "FBARP.$$$\n"
                           "LIBRARY  " + W + "LIBxxx.$$$\n"));
  // Members 2 unscrambled, members 4 and 5 of kind 4 as stored.
  EXPECT_EQ(ReadFile(W + "DRV.$$$"), "driver object");
  EXPECT_EQ(ReadFile(W + "LIBxxx.$$$"), "driver library");
  EXPECT_EQ(ReadFile(W + "EEPxxx.$$$"), "driver header");
  EXPECT_EQ(ReadFile(W + "FBA.$$$"), "FBA object");
  EXPECT_EQ(ReadFile(W + "FBARP.$$$"), "FBA rp");
  EXPECT_FALSE(Exists(W + "FBBRP.$$$"));
  EXPECT_STREQ(params.firmwareFileName, "DRV.$$$");
  EXPECT_EQ(std::string(params.driverInfo.description, 33), std::string(kAnyType1.description, 33));
  EXPECT_TRUE(Logged("Unpacking Module Driver files from \"" + lib + "DRV.MDV\"\n"));
  EXPECT_TRUE(Logged("Unpacking FB files from \"" + lib + "FBA.FB\"\n"));
  EXPECT_TRUE(Logged("Driver name is \"DRV\"\n"
                     "Driver description: \"Packed driver for tests        \"\n"
                     "Driver category: \"Exec 3.xx: EEPROM and LIB\"\n"
                     "Allowed module type: 255 = \"Unrecognized (new) module type\"\n"));
  const FbList& list = PlannerFbList();
  for (int i = 0; i < list.count; ++i) EXPECT_EQ(list.rows[i].packed, 1);
}

TEST_F(PlannerPackedTest, Kind2DriverIsUnscrambledAndKind5TakesTheStandardObjects) {
  // Kind 2: members 4 and 5 unscrambled; the header of Exec type 2 is the
  // unpacked one.
  Pack("DRV.MDV", DriverPack(2, MakeDriverInfo("Exec 2 driver", 2, {255})));
  Arg({{15, "DRV"}}, "33C000000000");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(ReadFile(work + "EEPxxx.$$$"), "driver header");
  EXPECT_EQ(ReadFile(work + "LIBxxx.$$$"), "driver library");
  EXPECT_NE(Submit().find("FILE     " + work + "EEPxxx.$$$\r\n"), std::string::npos);

  // Kind 5 of Exec type 3: the library directory's EEP400 and LIB400, and
  // the files the kind 2 driver left are put aside, not taken.
  Pack("DRV.MDV", DriverPack(5, MakeDriverInfo("Exec 3 driver", 3, {255})));
  Lib("EEP400.OBJ");
  Lib("LIB400.OBJ");
  Arg({{15, "DRV"}}, "40C000000000");
  ASSERT_EQ(Run(0), 0) << log.text;
  const std::string W = work, L = lib;
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  8000-BFFF\n"
                           "SECTION   *      DSCT  5400-5FFF\n"
                           "SECTION   *      DSCT  6B00-7FFF\n"
                           "DEFINE   ENDHEAP        7FFF\n"
                           "DEFINE   DMP_423A        12\n"
                           "FILE     " + L + "EEP400.OBJ\n"
                           "FILE     " + W + "CPNUM15.$$$\n"
                           "FILE     " + W + "DRV.$$$\n"
                           "FILE     " + W + "CPNUM0.$$$\n"
                           "LIBRARY  " + L + "LIB400.OBJ\n"));
  EXPECT_FALSE(Exists(W + "EEPxxx.$$$"));
  EXPECT_FALSE(Exists(W + "LIBxxx.$$$"));
  EXPECT_EQ(ReadFile(W + "EEPxxx.$$~"), "driver header");
  EXPECT_EQ(ReadFile(W + "LIBxxx.$$~"), "driver library");
}

TEST_F(PlannerPackedTest, Exec5SubmitFile) {
  Pack("DRV.MDV", DriverPack(4, MakeDriverInfo("Exec 5 driver", 5, {255})));
  Pack("FBA.FB", FbPack("FBA"));
  Pack("FBB.FB", FbPack("FBB", false));
  Pack("FBC.FB", FbPack("FBC"));
  Arg({{1, "FBA"}, {2, "FBB"}, {3, "FBC"}, {15, "DRV"}}, "500000000000");
  ASSERT_EQ(Run(1), 0) << log.text;
  const std::string W = work;
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  0100-FFFE\n"
                           "SECTION   *      DSCT  0000-00FF\n"
                           "DEFINE   ENDHEAP        7FFF\n"
                           "FILE     " + W + "EEPxxx.$$$\n"
                           "FILE     " + W + "FBARP.$$$\n"
                           "FILE     " + W + "RPTERM.$$$\n"
                           "FILE     " + W + "FBCRP.$$$\n"
                           "FILE     " + W + "RPTERM.$$$\n"
                           "FILE     " + W + "RPTERM.$$$\n"));
  EXPECT_EQ(params.rpFilesSubmitted, 2);
  EXPECT_TRUE(Logged("Terminating RP list with " + W + "RPTERM.$$$ x 2\n"));
  EXPECT_FALSE(Exists(W + "CPNUM1.$$$"));
  EXPECT_FALSE(Exists(W + "MXRAM.$$$"));
}

TEST_F(PlannerPackedTest, Exec5WithoutRpFilesAndWithAKind5Driver) {
  Pack("DRV.MDV", DriverPack(4, MakeDriverInfo("Exec 5 driver", 5, {255})));
  Pack("FBA.FB", FbPack("FBA", false));
  Arg({{1, "FBA"}, {15, "DRV"}}, "510000000000");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_TRUE(Submit().ends_with("FILE     " + work + "EEPxxx.$$$\r\nFILE     " + work + "RPTERM.$$$\r\n"));
  EXPECT_EQ(params.rpFilesSubmitted, 0);

  // A kind 5 driver brings no header: the one an earlier run left is put
  // aside, and the header line fails.
  Pack("DRV.MDV", DriverPack(5, MakeDriverInfo("Exec 5 driver", 5, {255})));
  EXPECT_EQ(Run(0), 2);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1002});
  EXPECT_EQ(LastError(), "Cannot open unpacked temporary file \"" + work +
                             "EEPxxx.$$$\".\nWhat to check - Make sure the directory exists and the disk is "
                             "not full.  Note that compressed drives often report false free space. ");
  EXPECT_EQ(ReadFile(work + "EEPxxx.$$~"), "driver header");
}

TEST_F(PlannerPackedTest, PackedFileIsPreferredInItsOrder) {
  // FBA.MDV with a bad CRC is passed over for FBA.FB; FBA.OBJ is not used.
  PackSpec bad = FbPack("MDV");
  bad.badCrc = true;
  Pack("FBA.MDV", bad);
  Pack("FBA.FB", FbPack("FB"));
  Pack("SYSVFBA.DAT", FbPack("DAT"));
  Lib("FBA.OBJ");
  Arg({{1, "FBA"}}, "32C000000000");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(ReadFile(work + "FBA.$$$"), "FB object");
  EXPECT_TRUE(Logged("USING THIS FILE -> " + lib + "FBA.FB  "));
  ::remove((lib + "FBA.FB").c_str());
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(ReadFile(work + "FBA.$$$"), "DAT object");
  // The earlier run's object was put aside before it was replaced.
  EXPECT_EQ(ReadFile(work + "FBA.$$~"), "FB object");
}

TEST_F(PlannerPackedTest, RepeatedNameIsCheckedOnceAndKeepsItsPackedFlag) {
  Pack("FBA.FB", FbPack("FBA"));
  Arg({{1, "FBA"}, {2, "FBA"}}, "32C000000000");
  ASSERT_EQ(Run(1), 0) << log.text;
  size_t first = log.text.find("Checking for packed FB file for \"FBA\"");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(log.text.find("Checking for packed FB file for \"FBA\"", first + 1), std::string::npos);
  const std::string W = work;
  EXPECT_NE(Submit().find("FILE     " + W + "CPNUM1.$$$\r\nFILE     " + W + "FBA.$$$\r\nFILE     " + W +
                          "CPNUM2.$$$\r\nFILE     " + W + "FBA.$$$\r\nFILE     " + W +
                          "CPNUM0CS.$$$\r\nFILE     " + W + "FBARP.$$$\r\nLIBRARY"),
            std::string::npos)
      << Submit();
  EXPECT_EQ(PlannerFbList().rows[1].packed, 1);
}

TEST_F(PlannerPackedTest, StaleRpOfAnEarlierRunIsPutAside) {
  testing::WriteFile(work + "FBARP.$$$", "an earlier FB's RP");
  Pack("FBA.FB", FbPack("FBA", false));
  Arg({{1, "FBA"}}, "32C000000000");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_FALSE(Exists(work + "FBARP.$$$"));
  EXPECT_EQ(ReadFile(work + "FBARP.$$~"), "an earlier FB's RP");
  EXPECT_EQ(Submit().find("FBARP"), std::string::npos);
  EXPECT_EQ(params.rpFilesSubmitted, 0);
}

TEST_F(PlannerPackedTest, DriverWithoutDriverInfoFallsBackToTheTable) {
  // Version 31: not extended, so no driver information and kind 2 from its
  // members.
  PackSpec pack = DriverPack(2, kAnyType1);
  pack.version = 31;
  pack.info.reset();
  Pack("DIN.MDV", pack);
  Pack("QQQ.MDV", pack);
  Arg({{15, "DIN"}}, "32C000010000");
  ASSERT_EQ(Run(1), 0) << log.text;
  EXPECT_TRUE(Logged("Packed driver does not contain \"driver info\"\n"
                     "Driver description: \"Digital input driver, 16 points\"\n"));
  // An extended file with an empty description counts as none too.
  PackSpec empty = DriverPack(2, MakeDriverInfo("", 1, {255}));
  empty.info->description[0] = '\0';
  Pack("QQQ.FB", empty);
  ::remove((lib + "QQQ.MDV").c_str());
  Arg({{15, "QQQ"}}, "32C000010000");
  EXPECT_EQ(Run(1), 7);
  EXPECT_TRUE(Logged("Packed driver does not contain \"driver info\"\n"));
  EXPECT_EQ(LastError(), "No driver info available for \"QQQ\"\nWhat to check - This FB is not recognized as a "
                         "module driver FB. (#15) ");
}

TEST_F(PlannerPackedTest, DriverExecTypeOutsideOneToSixIsRefused) {
  for (int16_t type : {0, 7, 9, -1}) {
    SCOPED_TRACE(type);
    Pack("DRV.MDV", DriverPack(4, MakeDriverInfo("Odd driver", type, {255})));
    Arg({{15, "DRV"}}, "32C000000000");
    EXPECT_EQ(Run(0), 7);
    EXPECT_EQ(log.errorCodes, std::vector<int>{1007});
    EXPECT_TRUE(Logged("Driver category: \"Unknown\"\n")) << log.text;
    EXPECT_EQ(LastError(), "No driver info available for \"DRV\"\nWhat to check - This FB is not recognized as "
                           "a module driver FB. (#15) ");
    EXPECT_FALSE(Exists(work + "JOB.SUB"));
  }
}

TEST_F(PlannerPackedTest, DescriptionWithoutNulPrintsAtMost33Bytes) {
  DriverInfo info = MakeDriverInfo("", 1, {1, 2});
  for (char& c : info.description) c = 'D';
  Pack("DRV.MDV", DriverPack(4, info));
  Arg({{15, "DRV"}}, "32C000000000");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_TRUE(Logged("Driver description: \"" + std::string(33, 'D') + "\"\n"
                     "Driver category: \"Exec 3.xx: EEPROM and LIB\"\n"
                     "Allowed module type: 1 = \"Digital input module, 16 points\"\n"
                     "Allowed module type: 2 = \"Digital output module, 16 points\"\n"))
      << log.text;
}

// The printed list stops at the first entry whose low byte is 0 and shows
// low bytes; the check compares all eight entries as 16-bit values.
TEST_F(PlannerPackedTest, AllowedTypesPrintedByLowByteAndCheckedWhole) {
  Pack("DRV.MDV", DriverPack(4, MakeDriverInfo("Wide types", 1, {0x0105, 0x0100, 7})));
  const std::string listed =
      "Driver category: \"Exec 3.xx: EEPROM and LIB\"\n"
      "Allowed module type: 5 = \"Analog output module, 4 channels\"\n"
      "Validating driver type\n";
  const struct {
    const char* token;
    int result;
  } cases[] = {
      {"32C000070000", 0},   // entry 3 still allows 7
      {"32C000050000", 11},  // 0x0105 is not 5
      {"32C000000000", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.token);
    Arg({{15, "DRV"}}, c.token);
    EXPECT_EQ(Run(1), c.result) << log.text;
    EXPECT_TRUE(Logged(listed)) << log.text;
    if (c.result == 11) {
      EXPECT_EQ(LastError().substr(0, 51), "This driver cannot be used to control this module.\n");
    }
  }
}

TEST_F(PlannerPackedTest, UnpackingErrors) {
  const auto cantUnpack = [&](const std::string& what, const std::string& file) {
    return "Can't unpack \"" + what + ".OBJ\" from the packed file \"" + lib + file +
           "\".\nWhat to check - Check the contents of the packed file using KORVAP. ";
  };
  const auto notDriver = [&](const std::string& file) {
    return "\"" + lib + file + "\" is not packed as a module driver.\nWhat to check - Is this the correct name "
           "for the module driver? If it is, you can use KORVAP to check the type and integrity of the file \"" +
           lib + file + "\".\n";
  };
  PackSpec noObject;
  noObject.members.push_back(Member(3, "rp only"));
  PackSpec noLib = DriverPack(4, kAnyType1);
  noLib.members.erase(noLib.members.begin() + 1);
  PackSpec noHeader = DriverPack(4, kAnyType1);
  noHeader.members.pop_back();
  PackSpec kind1 = DriverPack(1, kAnyType1);
  PackSpec kind0 = DriverPack(0, kAnyType1);
  // A size that runs beyond 2^31 counts as absent.
  PackSpec hugeObject = FbPack("FBA");
  hugeObject.members[0].sizeField = 0x80000000u;
  const struct {
    const char* what;
    const char* file;
    PackSpec pack;
    int number;
    int error;
    std::string message;
  } cases[] = {
      {"FB without member 2", "FBA.FB", noObject, 1, 10, cantUnpack("FBA", "FBA.FB")},
      {"FB member 2 of 2^31 bytes", "FBA.FB", hugeObject, 1, 10, cantUnpack("FBA", "FBA.FB")},
      {"driver without library", "FBA.MDV", noLib, 15, 10, cantUnpack("LIBxxx", "FBA.MDV")},
      {"driver without header", "FBA.MDV", noHeader, 15, 10, cantUnpack("EEPxxx", "FBA.MDV")},
      {"driver of kind 1", "FBA.MDV", kind1, 15, 9, notDriver("FBA.MDV")},
      {"driver of kind 0", "FBA.MDV", kind0, 15, 9, notDriver("FBA.MDV")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* f : {"FBA.FB", "FBA.MDV"}) ::remove((lib + f).c_str());
    Pack(c.file, c.pack);
    Arg({{c.number, "FBA"}}, "32C000000000");
    EXPECT_EQ(Run(0), c.error);
    EXPECT_EQ(log.errorCodes, std::vector<int>{1000 + c.error});
    EXPECT_EQ(LastError(), c.message);
  }
}

TEST_F(PlannerPackedTest, MemberThatCannotBeWrittenIsNotUnpacked) {
  // A directory in the way of an output file: nothing can be written there.
  Pack("FBA.FB", FbPack("FBA"));
  Arg({{1, "FBA"}}, "32C000000000");
  ASSERT_TRUE(std::filesystem::create_directory(work + "FBARP.$$$"));
  EXPECT_EQ(Run(0), 10);
  EXPECT_EQ(LastError(), "Can't unpack \"FBARP.OBJ\" from the packed file \"" + lib +
                             "FBA.FB\".\nWhat to check - Check the contents of the packed file using KORVAP. ");
  ::rmdir((work + "FBARP.$$$").c_str());
  ::remove((work + "FBA.$$$").c_str());
  ASSERT_TRUE(std::filesystem::create_directory(work + "FBA.$$$"));
  EXPECT_EQ(Run(0), 10);
  EXPECT_EQ(LastError(), "Can't unpack \"FBA.OBJ\" from the packed file \"" + lib +
                             "FBA.FB\".\nWhat to check - Check the contents of the packed file using KORVAP. ");
  ::rmdir((work + "FBA.$$$").c_str());
  // A generated object that cannot be replaced: whatever stands there is
  // not this run's object, so the run stops where it writes it.
  ASSERT_TRUE(std::filesystem::create_directory(work + "MXRAM.$$$"));
#ifdef _WIN32
  const std::string reason = platform::SystemErrorText(EACCES);
#else
  const std::string reason = platform::SystemErrorText(EISDIR);
#endif
  EXPECT_EQ(Run(0), 13);
  EXPECT_EQ(LastError(), "Temporary file \"" + work +
                             "MXRAM.$$$\" is incomplete.\nWhat to check - Is the disk full?.  Remember that "
                             "compressed drives often report false free space.  The system error reported "
                             "to me was \"" + reason + "\".\n");
}

// Reports the lines as CaptureLog does and removes the driver's packed file
// once the driver information is about to be read.
std::string g_removeAtDriverInfo;
void PrintAndRemove(const char* format, va_list args) {
  if (std::string(format) == "Reading driver info\n") ::remove(g_removeAtDriverInfo.c_str());
  testing::CaptureLog::Print(format, args);
}

TEST_F(PlannerPackedTest, DriverFileThatNoLongerOpens) {
  Pack("DRV.MDV", DriverPack(4, kAnyType1));
  Arg({{15, "DRV"}}, "32C000000000");
  g_removeAtDriverInfo = lib + "DRV.MDV";
  params.argFileName = "JOB.ARG";
  params.submitFileName = "JOB.SUB";
  params.workDir = work.c_str();
  log.Fill(params, 1);
  params.print = &PrintAndRemove;
  EXPECT_EQ(RunPlanner(&params), 4);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1004});
  EXPECT_EQ(log.errors.back(),
            "Bad or corrupted packed FB file \"DRV\"\nWhat to check - Verify the file using KORVAP.\n");
}

}  // namespace
}  // namespace varnel
