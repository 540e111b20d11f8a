// Relocation arithmetic, fixups kept for link time and their resolution
// against DEFINEs and module globals.
#include <gtest/gtest.h>

#include "linker.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

// Region 1 (AROM) is placed at 0x8000 and region 2 (XRAM) at 0x0400; target
// region 0 keeps base 0, so its operands are plain values.
TEST(LinkerRelocation, SevenTypes) {
  LinkHarness h;
  Bytes payload = Rel(0x20, 0, 0x1234) +  // 8000: 34
                  Rel(0x40, 0, 0x1234) +  // 8001: 34
                  Rel(0x60, 0, 0x8000) +  // 8002: value 2 below the byte: FE
                  Rel(0x80, 0, 0x1234) +  // 8003: 12
                  Rel(0xA0, 0, 0x8204) +  // 8004: (0x8204 - 0x8004) >> 8 = 02
                  Rel(0xC0, 0, 0x1234) +  // 8005: 12 34
                  Rel(0xE0, 0, 0x8107) +  // 8007: 0x100 above the first byte: 01 00
                  Rel(0xC0, 2, 0x0010) +  // 8009: base of region 2 + 0x10 = 04 10
                  Rel(0xE0, 0, 0x7000) +  // 800B: 0x7000 - 0x800B = EF F5
                  Lit({0x99});            // 800D
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("REL.OBJ", S0("REL") + S3(1, "AROM") + S4(1, 0, 0x0D) + S3(2, "XRAM") +
                                   S4(2, 0, 0x1F) + S2(1, 0, payload) + S9()) +
           "\n");
  ASSERT_EQ(h.Run(-1), 0) << h.log.text;
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0x34, 0x34, 0xFE, 0x12, 0x02, 0x12, 0x34, 0x01, 0x00,
                                            0x04, 0x10, 0xEF, 0xF5, 0x99}) +
                            LimitsLine(0x041F, 0x800D) + "S9030000FC\r\n");
  h.ExpectValidS1();
}

// Region 0 writes only from 0x8000 on.
TEST(LinkerRelocation, RegionZeroBelow8000IsSkipped) {
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("Z.OBJ", S0("Z") + S2(0, 0x7FFF, Lit({0x01})) + S2(0, 0x8000, Lit({0x02})) +
                                 S9()) +
           "\n");
  ASSERT_EQ(h.Run(3), 0);
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0x02}) + LimitsLine(0xFFFF, 0x7FFF) + "S9030000FC\r\n");
  EXPECT_NE(h.log.text.find("S2 - Relocate - at 7FFF in region # 0 - skipped\n"
                            "S2 - Relocate - at 8000 in region # 0\n"),
            std::string::npos);
}

// Module A defines GA, GB and HIDDEN; module B refers to them.
class LinkerFixups : public ::testing::Test {
 protected:
  void SetUp() override {
    moduleA = h.Object("A.OBJ", S0("A") + S3(1, "AROM") + S4(1, 0, 0x2F) + S8(1, 0x10, "GA") +
                                    S8(1, 0x20, "GB") + S8(1, 0x28, "HIDDEN") + S9());
  }
  std::string Submit(const std::string& moduleB) {
    return std::string(kSections) + "DEFINE   HIDDEN        0040\n" + "FILE     " + moduleA +
           "\nFILE     " + h.Object("B.OBJ", moduleB) + "\n";
  }
  LinkHarness h;
  std::string moduleA;
};

TEST_F(LinkerFixups, SeveralExternalsDefinesAndOrder) {
  h.Submit(Submit(S0("B") + S3(1, "AROM") + S4(1, 0, 7) +
                  // two externals at one location: + GA - GB
                  S7(1, 0, false, "GA") + S7(1, 0, true, "GB") + S2(1, 0, Rel(0xC0, 1, 0x0005)) +
                  // a DEFINE hides the module global of its name
                  S7(1, 2, false, "HIDDEN") + S2(1, 2, Rel(0x20, 0, 0x0001)) +
                  // an external read after its relocation item does not make a fixup
                  S2(1, 3, Rel(0x20, 0, 0x0077)) + S7(1, 3, false, "GA") +
                  // an external without any relocation item is never resolved
                  S7(1, 6, false, "NOWHERE") + S9()));
  ASSERT_EQ(h.Run(3), 0) << h.log.text;
  // 0x8035 + GA 0x8010 - GB 0x8020 = 0x8025; 1 + 0x40 = 0x41.
  EXPECT_EQ(h.Output(), S1Line(0x8030, {0x80, 0x25, 0x41, 0x77}) + LimitsLine(0xFFFF, 0x8037) +
                            "S9030000FC\r\n");
  h.ExpectValidS1();
  for (const char* line :
       {"Type C0 at 8030 put 8035  + \"GA\"  - \"GB\" \n", "Type 20 at 8032 put 0001  + \"HIDDEN\" \n",
        "Fixup type C0 at 8030 is 8035 + GA (8010) - GB (8020) = 8025\n",
        "Fixup type 20 at 8032 is 0001 + HIDDEN (0040) = 0041\n",
        "globals = 4/2000  externs = 5/5200  fixups  = 2/5200  \n"}) {
    EXPECT_NE(h.log.text.find(line), std::string::npos) << line;
  }
}

// Names are cut to 8 characters, so two that agree in 8 are one symbol.
TEST_F(LinkerFixups, LongNamesMeetInTheirFirstEight) {
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("L.OBJ", S0("L") + S3(1, "AROM") + S4(1, 0, 1) + S8(1, 1, "LONGNAME1") +
                                 S7(1, 0, false, "LONGNAME2") + S2(1, 0, Rel(0x20, 0, 0)) + S9()) +
           "\n");
  ASSERT_EQ(h.Run(2), 0) << h.log.text;
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0x01}) + LimitsLine(0xFFFF, 0x8001) + "S9030000FC\r\n");
  EXPECT_NE(h.log.text.find("LONGNAME 8001 \n"), std::string::npos);
}

TEST_F(LinkerFixups, FirstUnresolvedExternalEndsTheLink) {
  h.Submit(Submit(S0("B") + S3(1, "AROM") + S4(1, 0, 7) + S7(1, 0, false, "GA") +
                  S7(1, 0, false, "MISSING") + S7(1, 0, false, "ALSOGONE") +
                  S2(1, 0, Rel(0xC0, 0, 0)) + S7(1, 4, false, "LATER") +
                  S2(1, 4, Rel(0xC0, 0, 0)) + S9()));
  EXPECT_EQ(h.Run(0), 9);
  EXPECT_EQ(h.log.errorCodes, std::vector<int>{2009});
  EXPECT_EQ(h.log.errors[0],
            "Unresolved reference to \"MISSING\".\nFor packed module drivers, this indicates an FB "
            "that is using a feature or microblock that is not implemented in this version of the "
            "driver.  For unpacked drivers, this indicates a mismatch between the FB or driver "
            "files and the library files lib.obj, lib400.obj, eeprom.obj, eep400.obj, or "
            "eep500.obj. Check the dates and times of the files. All the files that were used are "
            "noted in the log file with the words \"USING THIS FILE ->\".\n");
  const std::string tail = "Computing links.\n"
                           "ERROR - Unresolved External Reference to \"MISSING\" at 8030\n"
                           "[error 2009]Unresolved reference to \"MISSING\".\n";
  EXPECT_NE(h.log.text.find(tail), std::string::npos) << h.log.text;
  EXPECT_EQ(h.Output(), "");  // made before the link, never written
}

// Resolution takes the first global of a name: an earlier module's hides a
// later FILE module's, which is loaded all the same.
TEST_F(LinkerFixups, EarlierModuleGlobalWins) {
  h.Submit(Submit(S0("B") + S3(1, "AROM") + S4(1, 0, 3) + S8(1, 3, "GA") +
                  S7(1, 0, false, "GA") + S2(1, 0, Rel(0xC0, 0, 0)) + S9()));
  ASSERT_EQ(h.Run(1), 0) << h.log.text;
  EXPECT_EQ(h.Output(), S1Line(0x8030, {0x80, 0x10}) + LimitsLine(0xFFFF, 0x8033) +
                            "S9030000FC\r\n");
  EXPECT_NE(h.log.text.find("Locating Module \"B\"\n"), std::string::npos);
}

}  // namespace
}  // namespace varnel::testing
