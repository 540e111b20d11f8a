// The submit file and the generated objects, for FBs and drivers found as
// plain object files.
#include <gtest/gtest.h>

#include <string>

#include "builders/files.h"
#include "format.h"
#include "planner.h"
#include "support/plan_fixture.h"

namespace varnel {
namespace {

using testing::Crlf;
using testing::Exec3Block;
using testing::Exists;
using testing::PlanFixture;
using testing::ReadFile;

// Every line an S-record with a good checksum and an LF end, nothing else.
void ExpectObjectLines(const std::string& bytes) {
  ASSERT_FALSE(bytes.empty());
  ASSERT_EQ(bytes.back(), '\n');
  EXPECT_EQ(bytes.find('\r'), std::string::npos);
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    std::string line = bytes.substr(start, end - start);
    start = end + 1;
    ASSERT_GE(line.size(), 4u) << line;
    ASSERT_EQ(line[0], 'S') << line;
    unsigned count = std::stoul(line.substr(2, 2), nullptr, 16);
    ASSERT_EQ(line.size(), 4 + 2 * count) << line;
    unsigned sum = 0;
    for (size_t i = 2; i + 2 < line.size(); i += 2) sum += std::stoul(line.substr(i, 2), nullptr, 16);
    EXPECT_EQ((~sum) & 0xFF, std::stoul(line.substr(line.size() - 2), nullptr, 16)) << line;
  }
}

class PlannerSubmitTest : public PlanFixture {};

TEST_F(PlannerSubmitTest, Exec32WithoutDriverSubmitFileAndObjects) {
  Arg({{2, "FBB"}, {1, "FBA"}}, "32C000000000");
  Lib("FBA.OBJ");
  Lib("FBB.OBJ");
  Lib("FBARP.OBJ");
  ASSERT_EQ(Run(0), 0) << log.text;
  const std::string W = work, L = lib;
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  8000-BFFF\n"
                           "SECTION   *      DSCT  6729-7FFF\n" +
                           Exec3Block() +
                           "FILE     " + W + "MXRAM.$$$\n"
                           "FILE     " + L + "EEPROM.OBJ\n"
                           "FILE     " + W + "CPNUM1.$$$\n"
                           "FILE     " + L + "FBA.OBJ\n"
                           "FILE     " + W + "CPNUM2.$$$\n"
                           "FILE     " + L + "FBB.OBJ\n"
                           "FILE     " + W + "CPNUM0CS.$$$\n"
                           "LIBRARY  " + L + "FBARP.OBJ\n"
                           "LIBRARY  " + L + "LIB.OBJ\n"));
  EXPECT_EQ(ReadFile(W + "MXRAM.$$$"),
            "S00800004D5852414D72\n"
            "S3080000455852414D7A\n"
            "S80D00000500004156415349474EE4\n"
            "S80C000A05000050414946494734\n"
            "S80B001E0500005041494E5356\n"
            "S4060000050031C3\n"
            "S9030000FC\n");
  EXPECT_EQ(ReadFile(W + "CPNUM0CS.$$$"),
            "S00C00004350302A434B53554D83\n"
            "S30800008541524F4D43\n"
            "S4060000050028CC\n"
            "S2060000050010E4\n"
            "S70A0001054D4F44454E4438\n"
            "S225000105C00000C5001CC5001CC5001CC5001CC5001DC50025C5001107464231352020203168\n"
            "S2150019050F2E3000396D6F64756C652020FFFFFFFF64\n"
            "S9030000FC\n");
  EXPECT_EQ(ReadFile(W + "CPNUM1.$$$"),
            "S009000043504E554D3142\nS30800008541524F4D43\nS4060000050000F4\nS2060000050001F3\nS9030000FC\n");
  ExpectObjectLines(ReadFile(W + "MXRAM.$$$"));
  ExpectObjectLines(ReadFile(W + "CPNUM0CS.$$$"));
  EXPECT_FALSE(Exists(W + "CPNUM0.$$$"));
  EXPECT_FALSE(Exists(W + "RPTERM.$$$"));
}

TEST_F(PlannerSubmitTest, EveryCpnumObject) {
  std::vector<std::pair<int, std::string>> fbs = {{15, "DIN"}};
  for (int n = 14; n >= 1; --n) fbs.push_back({n, Format("F%d", n)});
  for (const auto& fb : fbs) Lib(fb.second + ".OBJ");
  Arg(fbs, "33C000010000");
  ASSERT_EQ(Run(0), 0) << log.text;
  for (int n = 1; n <= 15; ++n) {
    SCOPED_TRACE(n);
    std::string name = "CPNUM" + std::to_string(n);
    std::string bytes = ReadFile(work + name + ".$$$");
    ExpectObjectLines(bytes);
    // S0 names the module, S2 holds the one byte n.
    std::string hexName;
    for (char c : name) hexName += Format("%02X", static_cast<unsigned>(c));
    std::string s0 = Format("S0%02X0000", static_cast<unsigned>(name.size() + 3)) + hexName;
    EXPECT_EQ(bytes.substr(0, s0.size()), s0);
    EXPECT_NE(bytes.find("\nS30800008541524F4D43\nS4060000050000F4\nS20600000500" +
                         Format("%02X", static_cast<unsigned>(n))),
              std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 11), "S9030000FC\n");
  }
  EXPECT_EQ(ReadFile(work + "CPNUM10.$$$"),
            "S00A000043504E554D313011\nS30800008541524F4D43\nS4060000050000F4\nS206000005000AEA\nS9030000FC\n");
  EXPECT_EQ(ReadFile(work + "CPNUM0.$$$"),
            "S00C00004350302A434B53554D83\nS30800008541524F4D43\nS4060000050000F4\nS2060000050000F4\nS9030000FC\n");
  EXPECT_FALSE(Exists(work + "CPNUM0CS.$$$"));
}

TEST_F(PlannerSubmitTest, Exec2FbOrderDuplicatesAndRpNames) {
  // The driver listed first still comes last; two rows numbered 3 each get
  // their CPNUM3; a name listed twice gets its FB lines twice and its RP once;
  // FBs numbered 0 or 16 get no FB line but their RP.
  Arg({{15, "CHL"}, {3, "FBA"}, {3, "FBB"}, {7, "FBA"}, {0, "FBZ"}, {16, "ABC-32"}, {2, "ABC-16"}},
      "33C000160000");
  for (const char* n : {"CHL.OBJ", "FBA.OBJ", "FBB.OBJ", "FBZ.OBJ", "ABC-32.OBJ", "ABC-16.OBJ", "FBARP.OBJ",
                        "FBZRP.OBJ", "ABCRP.OBJ", "ABC-16RP.OBJ", "EEPCOM.OBJ", "CHLRP.OBJ"})
    Lib(n);
  ASSERT_EQ(Run(0), 0) << log.text;
  const std::string W = work, L = lib;
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  8000-BFFF\n"
                           "SECTION   *      DSCT  6729-7FFF\n" +
                           Exec3Block() +
                           "FILE     " + W + "MXRAM.$$$\n"
                           "FILE     " + L + "EEPCOM.OBJ\n"
                           "FILE     " + W + "CPNUM2.$$$\n"
                           "FILE     " + L + "ABC-16.OBJ\n"
                           "FILE     " + W + "CPNUM3.$$$\n"
                           "FILE     " + L + "FBA.OBJ\n"
                           "FILE     " + W + "CPNUM3.$$$\n"
                           "FILE     " + L + "FBB.OBJ\n"
                           "FILE     " + W + "CPNUM7.$$$\n"
                           "FILE     " + L + "FBA.OBJ\n"
                           "FILE     " + W + "CPNUM15.$$$\n"
                           "FILE     " + L + "CHL.OBJ\n"
                           "FILE     " + W + "CPNUM0.$$$\n"
                           "LIBRARY  " + L + "CHLRP.OBJ\n"
                           "LIBRARY  " + L + "FBARP.OBJ\n"
                           "LIBRARY  " + L + "FBZRP.OBJ\n"
                           "LIBRARY  " + L + "ABCRP.OBJ\n"
                           "LIBRARY  " + L + "ABC-16RP.OBJ\n"
                           "LIBRARY  " + L + "LIB.OBJ\n"));
  EXPECT_EQ(params.rpFilesSubmitted, 5);
  EXPECT_EQ(PlannerFbList().rows[3].packed, 0);
}

TEST_F(PlannerSubmitTest, RpNamesOfDashVariants) {
  const struct {
    const char* fb;
    const char* rp;
  } cases[] = {
      {"ABC-8", "ABCRP.OBJ"},  {"ABC-80", "ABCRP.OBJ"}, {"ABC-32", "ABCRP.OBJ"},
      {"ABC-16", "ABC-16RP.OBJ"}, {"AB", "ABRP.OBJ"},   {"ABC-3", "ABC-3RP.OBJ"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fb);
    Arg({{1, c.fb}}, "32C000000000");
    Lib(std::string(c.fb) + ".OBJ");
    Lib(c.rp);
    ASSERT_EQ(Run(0), 0) << log.text;
    EXPECT_NE(Submit().find("LIBRARY  " + lib + c.rp + "\r\n"), std::string::npos) << Submit();
    ::remove((lib + c.rp).c_str());
  }
}

TEST_F(PlannerSubmitTest, Exec3PlainDriver) {
  Arg({{1, "FBA"}, {15, "OCI"}}, "40C000000000");
  for (const char* n : {"FBA.OBJ", "OCI.OBJ", "FBARP.OBJ", "EEP400.OBJ", "LIB400.OBJ"}) Lib(n);
  ASSERT_EQ(Run(1), 0) << log.text;
  const std::string W = work, L = lib;
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  8000-BFFF\n"
                           "SECTION   *      DSCT  5400-5FFF\n"
                           "SECTION   *      DSCT  6B00-7FFF\n"
                           "DEFINE   ENDHEAP        7FFF\n"
                           "DEFINE   DMP_423A        12\n"
                           "FILE     " + L + "EEP400.OBJ\n"
                           "FILE     " + W + "CPNUM1.$$$\n"
                           "FILE     " + L + "FBA.OBJ\n"
                           "FILE     " + W + "CPNUM15.$$$\n"
                           "FILE     " + L + "OCI.OBJ\n"
                           "FILE     " + W + "CPNUM0.$$$\n"
                           "LIBRARY  " + L + "FBARP.OBJ\n"
                           "LIBRARY  " + L + "LIB400.OBJ\n"));
  EXPECT_TRUE(Logged("Submitting constants for Exec 4.x & Exec 5.x\n"));
  // No *.SUP file: one line in each pass.
  const std::string none = "Checking for supplemental files (*.SUP) in \"" + L + "\"\nNo supplements found\n";
  size_t first = log.text.find(none);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(log.text.find(none, first + 1), std::string::npos);
  EXPECT_FALSE(Exists(W + "MXRAM.$$$"));
}

TEST_F(PlannerSubmitTest, Exec4PlainDriverWithDmpLines) {
  Arg({{1, "FBA"}, {15, "GP4"}}, "40C000180000");
  for (const char* n : {"FBA.OBJ", "GP4.OBJ", "FBARP.OBJ", "EEPQX4.OBJ", "LIB400.OBJ"}) Lib(n);
  ASSERT_EQ(Run(0), 0) << log.text;
  const std::string W = work, L = lib;
  // Row 7 (module type 0x18) wins over the Exec 4 rows; no RP line at all.
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  8000-BFFF\n"
                           "SECTION   *      DSCT  6B00-7FFF\n"
                           "DEFINE   ENDHEAP        7FFF\n"
                           "DEFINE   DMP_53DF        12\n"
                           "DEFINE   DMP_53E0        34\n"
                           "DEFINE   DMP_417E        07\n"
                           "DEFINE   DMP_417F        08\n"
                           "DEFINE   DMP_423A        12\n"
                           "FILE     " + L + "EEPQX4.OBJ\n"
                           "FILE     " + W + "CPNUM1.$$$\n"
                           "FILE     " + L + "FBA.OBJ\n"
                           "FILE     " + W + "CPNUM15.$$$\n"
                           "FILE     " + L + "GP4.OBJ\n"
                           "FILE     " + W + "CPNUM0.$$$\n"
                           "LIBRARY  " + L + "LIB400.OBJ\n"));
  EXPECT_EQ(params.rpFilesSubmitted, 0);
}

TEST_F(PlannerSubmitTest, Exec6HeaderWithAndWithoutEep360) {
  Arg({{1, "FBA"}, {15, "ODP"}}, "36C000210000");
  for (const char* n : {"FBA.OBJ", "ODP.OBJ"}) Lib(n);
  const std::string W = work, L = lib;
  auto expected = [&](const std::string& header) {
    return Crlf("0400-BFFF\n"
                "SECTION   AROM   PSCT  8000-BFFF\n"
                "SECTION   *      DSCT  6729-7FFF\n" +
                Exec3Block() +
                "FILE     " + W + "MXRAM.$$$\n"
                "FILE     " + L + header + "\n"
                "FILE     " + W + "CPNUM1.$$$\n"
                "FILE     " + L + "FBA.OBJ\n"
                "FILE     " + W + "CPNUM15.$$$\n"
                "FILE     " + L + "ODP.OBJ\n"
                "FILE     " + W + "CPNUM0.$$$\n"
                "LIBRARY  " + L + "LIB.OBJ\n");
  };
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(Submit(), expected("EEPROM.OBJ"));
  EXPECT_TRUE(Logged("EEP360.OBJ not found. Defaulting to the standard EEPROM.OBJ.\n"));
  Lib("EEP360.OBJ");
  ASSERT_EQ(Run(0), 0) << log.text;
  EXPECT_EQ(Submit(), expected("EEP360.OBJ"));
  EXPECT_TRUE(Logged("Including the special EEP360.OBJ header for Exec 3.6.\n"));
}

TEST_F(PlannerSubmitTest, Exec5RefusesPlainFbs) {
  // ALI is an Exec 5 driver by its table row; found as a plain object it is
  // refused at its own row, after the lines of the rows before it.
  Arg({{15, "ALI"}}, "500000000000");
  Lib("ALI.OBJ");
  Lib("EEP500.OBJ");
  EXPECT_EQ(Run(0), 15);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1015});
  EXPECT_EQ(LastError(), "\"ALI\" is not a packed FB.\nWhat to check - This module does not support unpacked "
                         "FB's. You should use the 'Pack FB' option in TESSALY to remake this FB. ");
  const std::string W = work, L = lib;
  EXPECT_EQ(Submit(), Crlf("0400-BFFF\n"
                           "SECTION   AROM   PSCT  0100-FFFE\n"
                           "SECTION   *      DSCT  0000-00FF\n"
                           "DEFINE   ENDHEAP        7FFF\n"
                           "FILE     " + L + "EEP500.OBJ\n"));
  EXPECT_EQ(ReadFile(W + "RPTERM.$$$"),
            "S009000052505445524D1C\nS30800008541524F4D43\nS4060000050003F1\nS20900000503FFFFFFFFF2\nS9030000FC\n");
  ExpectObjectLines(ReadFile(W + "RPTERM.$$$"));
}

TEST_F(PlannerSubmitTest, ErrorsOfTheSubmitSteps) {
  Lib("FBA.OBJ");
  Lib("DIN.OBJ");
  const std::string missingHeader = "Cannot open required file \"" + lib +
                                    "EEPROM.OBJ\"\nWhat to check - Is this file supposed to be downloading "
                                    "into this module?   Does the directory \"" + lib + "\" exist?";
  // A missing header: its FILE line is written, then error 12.
  ::remove((lib + "EEPROM.OBJ").c_str());
  Arg({{1, "FBA"}}, "32C000000000");
  EXPECT_EQ(Run(0), 12);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1012});
  EXPECT_EQ(LastError(), missingHeader);
  EXPECT_TRUE(Submit().ends_with("FILE     " + lib + "EEPROM.OBJ\r\n"));
  Lib("EEPROM.OBJ");
  // A missing library: the same after its LIBRARY line.
  ::remove((lib + "LIB.OBJ").c_str());
  EXPECT_EQ(Run(0), 12);
  EXPECT_TRUE(Submit().ends_with("LIBRARY  " + lib + "LIB.OBJ\r\n"));
  Lib("LIB.OBJ");
  // The submit file cannot be created.
  submitName = "NODIR/JOB.SUB";
  EXPECT_EQ(Run(0), 1);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1001});
  EXPECT_EQ(LastError(), "Cannot open file \"NODIR/JOB.SUB\" in directory \"" + work +
                             "\".\nWhat to check - Make sure the directory exists and the disk is not "
                             "full.  Note that compressed drives often report false free space. ");
  // The driver does not allow the module type.
  Arg({{15, "DIN"}}, "32C000020000");
  EXPECT_EQ(Run(0), 11);
  EXPECT_EQ(log.errorCodes, std::vector<int>{1011});
  EXPECT_EQ(LastError(),
            "This driver cannot be used to control this module.\nThe specified driver is \"Digital input "
            "driver, 16 points\".\nThe hardware module is type 2, which is \"Digital output module, 16 "
            "points\".\nWhat to check - The database must specify an FB #15 module driver for every module, "
            "including virtual modules, that matches the hardware module type.\n");
}

TEST_F(PlannerSubmitTest, DriverErrors) {
  const struct {
    const char* what;
    std::vector<std::pair<int, std::string>> fbs;
    const char* token;
    int error;
    std::string message;
  } cases[] = {
      {"no row for the name", {{15, "QQQ"}}, "32C000000000", 7,
       "No driver info available for \"QQQ\"\nWhat to check - This FB is not recognized as a module driver "
       "FB. (#15) "},
      {"four characters never match", {{15, "DINX"}}, "32C000000000", 7,
       "No driver info available for \"DINX\"\nWhat to check - This FB is not recognized as a module "
       "driver FB. (#15) "},
      {"no driver for Exec 4", {{1, "DIN"}}, "40C000000000", 8,
       "No driver FB specified for this module.\nWhat to check - The database must specify an FB #15 "
       "module driver for every module, including virtual modules, that matches the hardware module "
       "type.\n"},
      {"Exec 5 driver in an Exec 4 module", {{15, "ALI"}}, "40C000000000", 17,
       "The specified driver \"Alarm annunciator interface    \" is\nnot designed to be loaded into this "
       "module.\n"},
      {"type refused before Exec", {{15, "ALI"}}, "40C000010000", 11,
       "This driver cannot be used to control this module.\nThe specified driver is \"Alarm annunciator "
       "interface    \".\nThe hardware module is type 1, which is \"Digital input module, 16 points\".\n"
       "What to check - The database must specify an FB #15 module driver for every module, including "
       "virtual modules, that matches the hardware module type.\n"},
  };
  for (const char* n : {"QQQ.OBJ", "DINX.OBJ", "DIN.OBJ", "ALI.OBJ"}) Lib(n);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Arg(c.fbs, c.token);
    EXPECT_EQ(Run(0), c.error);
    EXPECT_EQ(log.errorCodes, std::vector<int>{1000 + c.error});
    EXPECT_EQ(LastError(), c.message);
    EXPECT_FALSE(Exists(work + "JOB.SUB"));
  }
}

TEST_F(PlannerSubmitTest, DriverTableLookupByExecByte) {
  // Names ending in I: their own row unless an Exec 5 module needs an Exec 5
  // row; then the "??I" rows in order.
  const struct {
    const char* driver;
    const char* token;
    const char* description;
  } cases[] = {
      {"ZZI", "40C000000000", "Generic interface driver       "},
      {"ZZI", "600000000000", "Generic interface driver       "},
      {"ZZI", "500000000000", "Generic interface driver, Exec5"},
      {"OCI", "500000000000", "Generic interface driver, Exec5"},
      {"OCI", "400000000000", "Occupancy interface driver     "},
      {"ALI", "500000000000", "Alarm annunciator interface    "},
      {"DIN", "510000000000", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.driver) + " " + c.token);
    Arg({{15, c.driver}}, c.token);
    Lib(std::string(c.driver) + ".OBJ");
    Run(0);
    if (c.description == nullptr) {
      EXPECT_EQ(log.errorCodes, std::vector<int>{1007});
    } else {
      EXPECT_TRUE(Logged(std::string("Driver description: \"") + c.description + "\"\n")) << log.text;
    }
  }
}

TEST_F(PlannerSubmitTest, FileDateLines) {
  const struct {
    int hour, minute;
    const char* shown;
  } cases[] = {
      {13, 5, "03-02-2009 01:05p"}, {9, 7, "03-02-2009 09:07a"}, {12, 5, "03-02-2009 12:05p"},
      {0, 30, "03-02-2009 00:30a"}, {23, 59, "03-02-2009 11:59p"},
  };
  Lib("FBA.OBJ");
  Arg({{1, "FBA"}}, "32C000000000");
  for (const auto& c : cases) {
    SetTime(lib + "FBA.OBJ", 2009, 3, 2, c.hour, c.minute);
    ASSERT_EQ(Run(0), 0);
    EXPECT_TRUE(Logged("USING THIS FILE -> " + lib + "FBA.OBJ  " + c.shown + "\n")) << log.text;
  }
}

}  // namespace
}  // namespace varnel
