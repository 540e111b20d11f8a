// The one-pass library search and the placement of regions into sections.
#include <gtest/gtest.h>

#include "linker.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

const std::vector<std::string> kSearchLines = {"Processing Module", "This module loaded",
                                               "Redundant global", "Locating Module"};

std::string LibModule(const std::string& name, const std::vector<std::string>& globals,
                      const std::string& body = "") {
  std::string m = S0(name) + S3(1, "AROM") + S4(1, 0, 1);
  for (const std::string& g : globals) m += S8(1, 1, g);
  return m + body + S2(1, 0, Lit({0xEE})) + S9();
}

TEST(LinkerLibrary, LoadsOnlyWhatEarlierModulesNeed) {
  LinkHarness h;
  std::string main = S0("MAIN") + S3(1, "AROM") + S4(1, 0, 7) + S7(1, 0, false, "DUP") +
                     S7(1, 2, false, "FN1") + S7(1, 4, false, "DUP") +
                     S2(1, 0, Rel(0xC0, 0, 0) + Rel(0xC0, 0, 0) + Rel(0xC0, 0, 0)) + S9();
  std::string lib =
      LibModule("GHOSTDEF", {"GHOST"}) +              // nothing refers to it yet: dropped
      LibModule("BOTH", {"DUP", "FN1"},               // DUP is a DEFINE, FN1 is needed
                S7(1, 0, false, "GHOST") + S2(1, 0, Rel(0x20, 0, 0))) +
      LibModule("AGAIN", {"FN1"}) +                   // FN1 is defined now: redundant
      LibModule("ONLYDUP", {"DUP"}) +                 // DUP twice: two lines
      LibModule("GHOST2", {"GHOST"});                 // the dropped GHOST was forgotten
  h.Submit(std::string(kSections) + "DEFINE   DUP        0077\n" + "FILE     " +
           h.Object("MAIN.OBJ", main) + "\nLIBRARY  " + h.Object("LIB.OBJ", lib) + "\n");
  ASSERT_EQ(h.Run(2), 0) << h.log.text;
  EXPECT_EQ(LinesStarting(h.log.text, kSearchLines),
            (std::vector<std::string>{
                "Processing Module \"MAIN\"",
                "Locating Module \"MAIN\"",
                "Processing Module \"GHOSTDEF\"",
                "Processing Module \"BOTH\"",
                // the externals are tried in table order and the search
                // stops at the first that loads the module
                "Redundant global \"DUP\"",
                "This module loaded because of \"FN1\"",
                "Locating Module \"BOTH\"",
                "Processing Module \"AGAIN\"",
                "Redundant global \"FN1\"",
                "Processing Module \"ONLYDUP\"",
                "Redundant global \"DUP\"",
                "Redundant global \"DUP\"",
                "Processing Module \"GHOST2\"",
                "This module loaded because of \"GHOST\"",
                "Locating Module \"GHOST2\"",
            }));
  // BOTH at 8008, GHOST2 at 800A; the fixup puts GHOST's low byte over
  // BOTH's literal at 8008.
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0x00, 0x77, 0x80, 0x09, 0x00, 0x77}) +
                            S1Line(0x8008, {0x0B}) + S1Line(0x800A, {0xEE}) +
                            LimitsLine(0xFFFF, 0x800B) + "S9030000FC\r\n");
  h.ExpectValidS1();
  EXPECT_NE(h.log.text.find("------------Globals---------------\n"
                            "DUP      0077 \n"
                            "DUP      8009 \n"
                            "FN1      8009 \n"
                            "GHOST    800B \n"
                            "--------------End----------------\n"),
            std::string::npos);
}

TEST(LinkerLibrary, NeededModuleMustComeAfterItsUser) {
  LinkHarness h;
  std::string main = S0("MAIN") + S3(1, "AROM") + S4(1, 0, 1) + S7(1, 0, false, "USER") +
                     S2(1, 0, Rel(0xC0, 0, 0)) + S9();
  std::string lib = LibModule("NEEDED", {"LATE"}) +
                    LibModule("USER", {"USER"}, S7(1, 0, false, "LATE") +
                                                    S2(1, 0, Rel(0xC0, 0, 0)));
  h.Submit(std::string(kSections) + "FILE     " + h.Object("MAIN.OBJ", main) + "\nLIBRARY  " +
           h.Object("LIB.OBJ", lib) + "\n");
  EXPECT_EQ(h.Run(1), 9);
  EXPECT_EQ(h.log.errorCodes, std::vector<int>{2009});
  EXPECT_NE(h.log.text.find("ERROR - Unresolved External Reference to \"LATE\" at 8002\n"),
            std::string::npos);
}

// Placement: first fit over the sections of a name, in submit order.
TEST(LinkerPlacement, FirstFitAndTheTopAddresses) {
  LinkHarness h;
  std::string one = S0("ONE") + S3(1, "AROM") + S4(1, 0, 0x1F) + S3(2, "AROM") + S4(2, 0, 3) +
                    S3(3, "XRAM") + S9();
  // From 0x8004, 11 bytes would end at 0x800E, the section's end - 1: they
  // go to the second section.  10 bytes end at 0x800D, end - 2: they fit.
  std::string two = S0("TWO") + S3(1, "AROM") + S4(1, 0, 0x0A) + S3(4, "AROM") + S4(4, 0, 0x09) +
                    S3(5, "XRAM") + S4(5, 2, 4) + S4(5, 0, 1) + S4(6, 0, 0x100) + S9();
  h.Submit(
      "SECTION   AROM   PSCT  8000-800F\n"
      "SECTION   AROM   PSCT  9000-9FFF\n"
      "SECTION   *      DSCT  0400-5FFF\n"
      "FILE     " + h.Object("ONE.OBJ", one) + "\nFILE     " + h.Object("TWO.OBJ", two) + "\n");
  ASSERT_EQ(h.Run(2), 0) << h.log.text;
  EXPECT_EQ(LinesStarting(h.log.text, {"Region", "Memory block"}),
            (std::vector<std::string>{
                "Region  1 \"AROM\" 0000 - 001F",
                "Region  2 \"AROM\" 0000 - 0003",
                "Region  3 \"XRAM\" 0000 - 0000",
                "Region  1 \"AROM\" located at 9000 through 901F",
                "Region  2 \"AROM\" located at 8000 through 8003",
                // a region without an S4 record takes one byte
                "Region  3 \"XRAM\" located at 0400 through 0400",
                // an S4 record for a region no S3 record names places nothing
                "Region  1 \"AROM\" 0000 - 000A",
                "Region  4 \"AROM\" 0000 - 0009",
                "Region  5 \"XRAM\" 0000 - 0004",
                "Region  1 \"AROM\" located at 9020 through 902A",
                "Region  4 \"AROM\" located at 8004 through 800D",
                "Region  5 \"XRAM\" located at 0401 through 0405",
                "Memory block \"AROM\" 8000 - 800E - 800F",
                "Memory block \"AROM\" 9000 - 902B - 9FFF",
                "Memory block \"XRAM\" 0400 - 0406 - 5FFF",
            }));
  EXPECT_EQ(h.params.programUsed, 0x0Eu + 0x2Bu);
}

TEST(LinkerPlacement, RegionThatFitsNowhere) {
  for (const char* sectionName : {"AROM", "ZRAM"}) {
    SCOPED_TRACE(sectionName);
    LinkHarness h;
    // 0x8000 + 0x3FFE + 1 is the section's end: one byte too many.
    h.Submit(std::string(kSections) + "FILE     " +
             h.Object("BIG.OBJ", S0("BIG") + S3(1, sectionName) + S4(1, 0, 0x3FFE) + S9()) + "\n");
    EXPECT_EQ(h.Run(0), 1);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2001});
    EXPECT_NE(h.log.text.find(std::string("Error - can't locate region ") + sectionName +
                              "\n[error 2001]The FB's specified will not fit in this module.\n"),
              std::string::npos);
  }
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("BIG.OBJ", S0("BIG") + S3(1, "AROM") + S4(1, 0, 0x3FFD) + S9()) + "\n");
  EXPECT_EQ(h.Run(-1), 0);
  EXPECT_EQ(h.params.programUsed, 0x3FFEu);
}

// A region number the module does not name is based at 0, not where an
// earlier module's region of that number went.
TEST(LinkerPlacement, UnnamedRegionsAreBasedAtZero) {
  LinkHarness h;
  std::string first = S0("FIRST") + S3(2, "AROM") + S4(2, 0, 0x0F) + S2(2, 0, Lit({0x01})) + S9();
  std::string second = S0("SECOND") + S3(1, "AROM") + S4(1, 0, 1) + S8(2, 0x9000, "ABS") +
                       S2(2, 0x8100, Lit({0x02})) + S7(1, 0, false, "ABS") +
                       S2(1, 0, Rel(0xC0, 2, 0x0001)) + S9();
  h.Submit(std::string(kSections) + "FILE     " + h.Object("A.OBJ", first) + "\nFILE     " +
           h.Object("B.OBJ", second) + "\n");
  ASSERT_EQ(h.Run(-1), 0) << h.log.text;
  // SECOND's region 1 at 0x8010; its fixup is 0 + 1 + ABS (0x9000).
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0x01}) + S1Line(0x8010, {0x90, 0x01}) +
                            LimitsLine(0xFFFF, 0x8011) + S1Line(0x8100, {0x02}) +
                            "S9030000FC\r\n");
}

}  // namespace
}  // namespace varnel::testing
