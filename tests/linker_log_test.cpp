// The whole log of one small link at every log level.
#include <gtest/gtest.h>

#include "format.h"
#include "linker.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

constexpr int kProgress = -100;  // written whatever the log level

struct LogLine {
  int level;  // the lowest log level that shows it
  std::string text;
};

std::string Loc(uint32_t loc, uint8_t b) {
  return Format("loc: %d  b: %d  sizeof(abOutputData): 65535\n", static_cast<int>(loc),
                static_cast<int>(b));
}

TEST(LinkerLog, EveryLevel) {
  LinkHarness h;
  const std::string dir = h.dir.Path();
  h.Object("MAIN.OBJ", S0("MAIN(2)") + S3(1, "AROM") + S4(1, 0, 2) + S8(1, 0, "START") +
                           S7(1, 1, false, "HELPER") + S2(1, 0, Lit({0x4E}) + Rel(0xC0, 0, 0)) +
                           S9());
  h.Object("LIB.OBJ", S0("UNUSED") + S3(1, "AROM") + S4(1, 0, 0) + S8(1, 0, "NOBODY") +
                          S2(1, 0, Lit({0xFF})) + S9() + S0("HELP") + S3(2, "XRAM") +
                          S4(2, 0, 1) + S8(2, 1, "HELPER") + S2(2, 0, Lit({0xAB, 0xCD})) + S9());
  h.Submit(std::string(kSections) + "DEFINE   DMP_0410        5A\n" + "FILE     " + dir +
           "MAIN.OBJ\nLIBRARY  " + dir + "LIB.OBJ\n");
  const uint8_t year = CurrentYearCode();

  for (int level : {-1, 0, 1, 2, 3, 4}) {
    SCOPED_TRACE(level);
    int counter = LinkerModuleCounter();
    auto dot = [&](int k) { return (counter + k) % 8 == 0 ? std::string(".") : std::string(); };
    const std::vector<LogLine> lines = {
        {kProgress, "Linking with M68 files."},
        {2, "Opening Out File \"" + dir + "OUT.S1\"\n"},
        {2, "Opening Sub File \"" + dir + "LINK.CMD\"\n"},
        {0, "SECTION - XRAM = 0400-5FFF\n"},
        {0, "SECTION - AROM = 8000-BFFF\n"},
        {1, "DEFINE -  DMP_0410 = 005A\n"},
        {0, "FILE -    " + dir + "MAIN.OBJ\n"},
        {0, "LIBRARY - " + dir + "LIB.OBJ\n"},
        {0, "Processing File \"" + dir + "MAIN.OBJ\"\n"},
        {3, "S0 - Module name - \"MAIN(2)\"\n"},
        {3, "S3 - Region - # 1 is \"AROM\"\n"},
        {3, "S4 - Size - # 1 from 0000 to 0002\n"},
        {3, "S8 - Global - at 0000 in #01 \"START\"\n"},
        {2, "----------Header Summary----------\n"},
        {2, "Module name \"MAIN(2)\"\n"},
        {2, "Region  1 \"AROM\" 0000 - 0002\n"},
        {2, "There are 1 globals in this module, with 2 total\n"},
        {2, "-------------------------------\n"},
        {kProgress, dot(0)},
        {1, "Processing Module \"MAIN(2)\"\n"},
        {1, "Reading MAIN\n"},
        {0, "Locating Module \"MAIN\"\n"},
        {0, "Region  1 \"AROM\" located at 8000 through 8002\n"},
        {3, "S7 - Extern - at 0001 in region # 1 (8001) add \"HELPER\"\n"},
        {3, "S2 - Relocate - at 0000 in region # 1\n"},
        {0, Loc(0x8000, 0x4E)},
        {4, "\n"},
        {3, "------------Fixups---------------\n"},
        {3, "Type C0 at 8001 put 0000  + \"HELPER\" \n"},
        {3, "----------------------------------\n"},
        {0, "Processing File \"" + dir + "LIB.OBJ\"\n"},
        {3, "S0 - Module name - \"UNUSED\"\n"},
        {3, "S3 - Region - # 1 is \"AROM\"\n"},
        {3, "S4 - Size - # 1 from 0000 to 0000\n"},
        {3, "S8 - Global - at 0000 in #01 \"NOBODY\"\n"},
        {2, "----------Header Summary----------\n"},
        {2, "Module name \"UNUSED\"\n"},
        {2, "Region  1 \"AROM\" 0000 - 0000\n"},
        {2, "There are 1 globals in this module, with 3 total\n"},
        {2, "-------------------------------\n"},
        {kProgress, dot(1)},
        {1, "Processing Module \"UNUSED\"\n"},
        {1, "Reading UNUSED\n"},
        {3, "S0 - Module name - \"HELP\"\n"},
        {3, "S3 - Region - # 2 is \"XRAM\"\n"},
        {3, "S4 - Size - # 2 from 0000 to 0001\n"},
        {3, "S8 - Global - at 0001 in #02 \"HELPER\"\n"},
        {2, "----------Header Summary----------\n"},
        {2, "Module name \"HELP\"\n"},
        {2, "Region  2 \"XRAM\" 0000 - 0001\n"},
        {2, "There are 1 globals in this module, with 3 total\n"},
        {2, "-------------------------------\n"},
        {kProgress, dot(2)},
        {1, "Processing Module \"HELP\"\n"},
        {1, "Reading HELP\n"},
        {1, "This module loaded because of \"HELPER\"\n"},
        {0, "Locating Module \"HELP\"\n"},
        {0, "Region  2 \"XRAM\" located at 0400 through 0401\n"},
        {3, "S2 - Relocate - at 0000 in region # 2\n"},
        {0, Loc(0x0400, 0xAB)},
        {0, Loc(0x0401, 0xCD)},
        {4, "\n"},
        {3, "------------Fixups---------------\n"},
        {3, "----------------------------------\n"},
        {kProgress, "\n"},
        {kProgress, "Computing links.\n"},
        {2, "Fixup type C0 at 8001 is 0000 + HELPER (0401) = 0401\n"},
        {0, Loc(0x8001, 0x04)},
        {0, Loc(0x8002, 0x01)},
        {kProgress, "Writing results.\n"},
        {0, "------------Globals---------------\n"},
        {2, "DMP_0410 005A \n"},
        {0, "START    8000 \n"},
        {2, "HELPER   0401 \n"},
        {0, "--------------End----------------\n"},
        {0, "------------Summary---------------\n"},
        {0, "Memory block \"XRAM\" 0400 - 0402 - 5FFF\n"},
        {0, "Memory block \"AROM\" 8000 - 8003 - BFFF\n"},
        {0, "globals = 3/2000  externs = 1/5200  fixups  = 1/5200  \n"},
        {0, "---------------------------------\n"},
        {0, "Total program size is 0.0K.   Total data size is 0.0K\n"},
        {0, "---------------------------------\n"},
        {0, Loc(0x805A, 0x04)},
        {0, Loc(0x805B, 0x01)},
        {0, Loc(0x805C, 0x80)},
        {0, Loc(0x805D, 0x02)},
        {0, Loc(0x805E, year)},
        {2, "Poke \"DMP_0410\" 0410 = 5A\n"},
        {0, Loc(0x0410, 0x5A)},
        {kProgress, "Process completed with no errors.\n"},
    };
    std::string expected;
    for (const LogLine& l : lines)
      if (l.level <= level) expected += l.text;
    ASSERT_EQ(h.Run(level), 0);
    EXPECT_EQ(h.log.text, expected);
    EXPECT_EQ(h.Output(), S1Line(0x0400, {0xAB, 0xCD}) + S1Line(0x0410, {0x5A}) +
                              S1Line(0x8000, {0x4E, 0x04, 0x01}) + LimitsLine(0x0401, 0x8002) +
                              "S9030000FC\r\n");
    h.ExpectValidS1();
    h.log.text.clear();
  }
}

// The progress dots run on from one link to the next: every eighth module
// since the library was loaded gets one.
TEST(LinkerLog, ProgressDotsRunOn) {
  LinkHarness h;
  std::string modules;
  for (int i = 0; i < 5; ++i) modules += S0(Format("M%d", i)) + S9();
  h.Submit("FILE     " + h.Object("FIVE.OBJ", modules) + "\n");
  std::string dots;
  for (int run = 0; run < 4; ++run) {
    int counter = LinkerModuleCounter();
    h.log.text.clear();
    ASSERT_EQ(h.Run(-1), 0);
    std::string expected;
    for (int k = 0; k < 5; ++k) expected += (counter + k) % 8 == 0 ? "." : "";
    EXPECT_EQ(h.log.text, "Linking with M68 files." + expected +
                              "\nComputing links.\nWriting results.\nProcess completed with no "
                              "errors.\n");
    EXPECT_EQ(LinkerModuleCounter(), counter + 5);
    dots += expected;
  }
  EXPECT_GE(dots.size(), 2u);  // 20 modules give two or three dots
}

}  // namespace
}  // namespace varnel::testing
