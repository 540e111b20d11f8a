// Reading the linker submit file into the section, global and input tables.
#include <gtest/gtest.h>

#include <filesystem>

#include "linker.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

const std::vector<std::string> kTableLines = {"SECTION -", "DEFINE -", "FILE -", "LIBRARY -"};

TEST(LinkerSubmit, LinesAndFields) {
  LinkHarness h;
  std::string t = h.Object("T.OBJ", S0("T") + S3(1, "AROM") + S4(1, 0, 3) +
                                        S7(1, 0, false, "MS16.67") + S7(1, 2, false, "MS16_67") +
                                        S2(1, 0, Rel(0xC0, 0, 0) + Rel(0xC0, 0, 0)) + S9());
  h.Object("U.OBJ", S0("U") + S9());
  // The blanks after a path are part of it; a Windows-like file system drops
  // them when it opens the file, so both spellings exist here.
  WriteFile(t + "   ", ReadFile(t));
  h.Submit(
      "0400-BFFF\n"
      "SECTION   *      DSCT  6729-7FFF\n"
      "SECTION   XRAM   DSCT  0400-05ff\n"
      "SECTION   **     DSCT  0600-06FF\n"
      "SECTION   LONGSECTION  PSCT  0700-07FF\n"
      "SECTION   AROM   PSCT  8000-BFFF\n"
      "DEFINE RPEPROM  A000\n"
      "DEFINE XNEG32AT 3F7C\n"
      "DEFINE   DMP_53DF        12\n"
      "DEFINE MS16.67  1111\n"
      "DEFINE MS16_67  2222\n"
      "DEFINE NOVALUE\n"
      "DEFINE   LONGDEFINENAME   abcd\n"
      "define LOWER    1234\n"
      " DEFINE BLANK    1234\n"
      "section   AROM   PSCT  9000-9FFF\n"
      "; FILE     " + t + "\n"
      "FILE     " + t + "   \n"
      "LIBRARY \t " + h.dir.Path() + "U.OBJ\t; the tab ends the path\n");
  ASSERT_EQ(h.Run(2), 0) << h.log.text;
  EXPECT_EQ(LinesStarting(h.log.text, kTableLines),
            (std::vector<std::string>{
                "SECTION - XRAM = 6729-7FFF",
                "SECTION - XRAM = 0400-05FF",
                "SECTION -   ** = 0600-06FF",
                "SECTION - LONGSECT = 0700-07FF",
                "SECTION - AROM = 8000-BFFF",
                "DEFINE -  RPEPROM  = A000",
                "DEFINE -  XNEG32AT = 3F7C",
                "DEFINE -  DMP_53DF = 0012",
                "DEFINE -  MS16.67  = 1111",
                "DEFINE -  MS16_67  = 2222",
                "DEFINE -  NOVALUE  = 0000",
                "DEFINE -  LONGDEFI = ABCD",
                "FILE -    " + t + "   ",
                "LIBRARY - " + h.dir.Path() + "U.OBJ",
            }));
  EXPECT_NE(h.log.text.find("------------Globals---------------\n"
                            "RPEPROM  A000 \n"
                            "XNEG32AT 3F7C \n"
                            "DMP_53DF 0012 \n"
                            "MS16.67  1111 \n"
                            "MS16_67  2222 \n"
                            "NOVALUE  0000 \n"
                            "LONGDEFI ABCD \n"
                            "--------------End----------------\n"),
            std::string::npos);
  EXPECT_EQ(LinesStarting(h.log.text, {"Memory block"}),
            (std::vector<std::string>{
                "Memory block \"XRAM\" 6729 - 6729 - 7FFF",
                "Memory block \"XRAM\" 0400 - 0400 - 05FF",
                "Memory block \"**\" 0600 - 0600 - 06FF",
                "Memory block \"LONGSECT\" 0700 - 0700 - 07FF",
                "Memory block \"AROM\" 8000 - 8004 - BFFF",
            }));
  EXPECT_NE(h.log.text.find("Region  1 \"AROM\" located at 8000 through 8003\n"), std::string::npos);
  EXPECT_EQ(h.Output(), S1Line(0x53DF, {0x12}) + S1Line(0x8000, {0x11, 0x11, 0x22, 0x22}) +
                            LimitsLine(0xFFFF, 0x8003) + "S9030000FC\r\n");
  h.ExpectValidS1();
}

TEST(LinkerSubmit, KeywordsAreOnlyTheirLetters) {
  LinkHarness h;
  h.Submit("FILENAME.OBJ\n");
  EXPECT_EQ(h.Run(0), 3);
  EXPECT_EQ(h.log.errorCodes, std::vector<int>{2003});
  EXPECT_EQ(h.log.errors[0], "Cannot open required file \"NAME.OBJ\"\nWhat happened - This file "
                             "has been opened previously, so this shouldnot happen.  Please "
                             "contact Technical Support.\n");
  EXPECT_NE(h.log.text.find("FILE -    NAME.OBJ\nProcessing File \"NAME.OBJ\"\n"
                            "Cannot open input file NAME.OBJ\n[error 2003]"),
            std::string::npos)
      << h.log.text;
}

TEST(LinkerSubmit, EmptyFileLinksNothing) {
  LinkHarness h;
  h.Submit("");
  ASSERT_EQ(h.Run(0), 0);
  EXPECT_NE(h.log.text.find("globals = 0/2000  externs = 0/5200  fixups  = 0/5200  \n"),
            std::string::npos);
  EXPECT_EQ(h.Output(), LimitsLine(0xFFFF, 0xFFFF) + "S9030000FC\r\n");
  EXPECT_EQ(h.params.programCapacity + h.params.dataCapacity, 0u);
}

// A path of up to 255 characters is taken whole, however long its line; a
// longer one is refused, and no part of a long line is read as a line.
TEST(LinkerSubmit, LongLines) {
  LinkHarness h;
  // A path of `length` characters that ends in /name, in directories of at
  // most 200 characters each.
  auto pathOf = [&](size_t length, const std::string& name) {
    std::string dir = h.dir.Path();
    size_t need = length - name.size() - 1;
    while (dir.size() < need) {
      size_t room = need - dir.size();
      dir += room <= 200 ? std::string(room, 'p') : std::string(199, 'p') + "/";
    }
    std::filesystem::create_directories(dir);
    return dir + "/" + name;
  };
  const std::string object = S0("M") + S3(1, "AROM") + S9();
  // Read 254 characters at a time, the 264-character FILE line of a
  // 255-character path would leave "FILE12.OBJ" as a line of its own.
  for (size_t length : {246u, 255u}) {
    SCOPED_TRACE(length);
    std::string path = pathOf(length, "FILE12.OBJ");
    ASSERT_EQ(path.size(), length);
    WriteFile(path, Crlf(object));
    std::string define = "DEFINE   A        0001 ;";
    define += std::string(511 - define.size(), ' ') + "DEFINE   TAIL     0002";
    h.Submit(std::string(kSections) + "FILE     " + path + "\n" + "LIBRARY  " + path + "\n" +
             define + "\n");
    ASSERT_EQ(h.Run(1), 0) << h.log.text;
    EXPECT_EQ(LinesStarting(h.log.text, kTableLines),
              (std::vector<std::string>{"SECTION - XRAM = 0400-5FFF", "SECTION - AROM = 8000-BFFF",
                                        "FILE -    " + path, "LIBRARY - " + path,
                                        "DEFINE -  A        = 0001"}));
    EXPECT_NE(h.log.text.find("Locating Module \"M\""), std::string::npos);
    h.log.text.clear();
  }
  for (size_t length : {256u, 600u}) {
    SCOPED_TRACE(length);
    std::string path = pathOf(length, "M.OBJ");
    ASSERT_EQ(path.size(), length);
    WriteFile(path, Crlf(object));  // it exists, but no stage opens such a path
    h.Submit(std::string(kSections) + "FILE     " + path + "\n");
    h.log.errorCodes.clear();
    EXPECT_EQ(h.Run(0), 3);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2003});
    h.log.text.clear();
  }
}

}  // namespace
}  // namespace varnel::testing
