// The S1 download file, the address windows of the image, the memory-limit
// and DMP_ pokes, the link summary figures and the download file's errors.
#include <gtest/gtest.h>

#include <cstring>

#include "linker.h"
#include "platform/platform.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

void ClearImage() {
  std::memset(LinkedImage(), 0, kImageSize);
  std::memset(LinkedImageUsed(), 0, kImageSize);
}

void Use(uint32_t address, uint8_t b) {
  LinkedImage()[address] = b;
  LinkedImageUsed()[address] = 1;
}

std::string WriteImage(const TempDir& dir) {
  platform::Stream* s = platform::Open((dir / "IMAGE.S1").c_str(), "w");
  EXPECT_NE(s, nullptr);
  WriteS1Records(s);
  EXPECT_TRUE(platform::Close(s));
  EXPECT_TRUE(SrecInfoAccepts(dir / "IMAGE.S1"));
  return ReadFile(dir / "IMAGE.S1");
}

void ExpectEndsWith(const std::string& text, const std::string& tail) {
  ASSERT_GE(text.size(), tail.size()) << text;
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

Bytes Counting(int from, int n) {
  Bytes b;
  for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(from + i));
  return b;
}

TEST(LinkerS1, RecordBreaks) {
  struct Case {
    const char* what;
    uint32_t first;
    int n;
    std::string expected;
  };
  const Case cases[] = {
      {"empty image", 0, 0, "S9030000FC\r\n"},
      {"lone byte", 0x8000, 1, "S10480001269\r\nS9030000FC\r\n"},
      {"36 bytes: 35 and 1", 0x8000, 36,
       S1Line(0x8000, Counting(0x12, 35)) + S1Line(0x8023, {0x35}) + "S9030000FC\r\n"},
      {"across a 4 KiB boundary", 0x0FFE, 4,
       S1Line(0x0FFE, {0x12, 0x13}) + S1Line(0x1000, {0x14, 0x15}) + "S9030000FC\r\n"},
      {"nothing from 0xC000 on", 0xBFFE, 4, S1Line(0xBFFE, {0x12, 0x13}) + "S9030000FC\r\n"},
      {"35 bytes end at 0x0FFF", 0x0FDD, 36,
       S1Line(0x0FDD, Counting(0x12, 35)) + S1Line(0x1000, {0x35}) + "S9030000FC\r\n"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearImage();
    for (int i = 0; i < c.n; ++i) Use(c.first + static_cast<uint32_t>(i), static_cast<uint8_t>(0x12 + i));
    EXPECT_EQ(WriteImage(dir), c.expected);
  }
}

TEST(LinkerS1, GapsSplitRecords) {
  TempDir dir;
  ClearImage();
  Use(0x0100, 0xA1);
  Use(0x0102, 0xA3);
  Use(0x0103, 0xA4);
  EXPECT_EQ(WriteImage(dir),
            S1Line(0x0100, {0xA1}) + S1Line(0x0102, {0xA3, 0xA4}) + "S9030000FC\r\n");
}

// A module of 40 program bytes and 4 data bytes that straddle 0x1000.
TEST(LinkerS1, SmallLink) {
  LinkHarness h;
  std::string obj = h.Object(
      "MAIN.OBJ", S0("MAIN") + S3(1, "AROM") + S4(1, 0, 0x27) + S3(2, "XRAM") + S4(2, 0, 3) +
                      S2(1, 0, Lit(Counting(0, 32)) + Lit(Counting(32, 8))) +
                      S2(2, 0, Lit({0xAA, 0xBB, 0xCC, 0xDD})) + S9());
  h.Submit(
      "0400-BFFF\n"
      "SECTION   *      DSCT  0FFE-5FFF\n"
      "SECTION   AROM   PSCT  8000-BFFF\n"
      "FILE     " + obj + "\n");
  ASSERT_EQ(h.Run(-1), 0) << h.log.text;
  EXPECT_EQ(h.Output(), S1Line(0x0FFE, {0xAA, 0xBB}) + S1Line(0x1000, {0xCC, 0xDD}) +
                            S1Line(0x8000, Counting(0, 35)) + S1Line(0x8023, Counting(35, 5)) +
                            LimitsLine(0x1001, 0x8027) + "S9030000FC\r\n");
  h.ExpectValidS1();
}

// The program and data windows of every Exec type but 5, and the whole
// image below 0xFFFF for Exec type 5.
TEST(LinkerImage, AddressWindows) {
  const std::string objects =
      S0("WIN") + S3(1, "XRAM") + S4(1, 0, 1) + S2(1, 0, Lit({0x11, 0x22})) +
      S2(0, 0xBFFF, Lit({0x33, 0x44})) + S2(0, 0x67FF, Lit({0x55})) + S9();
  const std::string sections =
      "SECTION   *      DSCT  5FFF-6803\n"
      "SECTION   AROM   PSCT  8000-BFFF\n";
  for (int execType : {1, 2, 3, 4, 6, 0}) {
    SCOPED_TRACE(execType);
    LinkHarness h;
    h.Submit(sections + "FILE     " + h.Object("WIN.OBJ", objects) + "\n");
    ASSERT_EQ(h.Run(0, execType), 0) << h.log.text;
    EXPECT_EQ(h.Output(), S1Line(0x5FFF, {0x11}) + LimitsLine(0x6000, 0x7FFF) +
                              S1Line(0xBFFF, {0x33}) + "S9030000FC\r\n");
    h.ExpectValidS1();
    // Dropped bytes still show their log line.
    EXPECT_NE(h.log.text.find("loc: 24576  b: 34  sizeof(abOutputData): 65535\n"), std::string::npos);
    EXPECT_NE(h.log.text.find("loc: 49152  b: 68  sizeof(abOutputData): 65535\n"), std::string::npos);
    EXPECT_EQ(LinkedImageUsed()[0x6000], 0);
    EXPECT_EQ(LinkedImageUsed()[0xC000], 0);
  }
  LinkHarness h;
  h.Submit(sections + "FILE     " + h.Object("WIN.OBJ", objects) + "\n");
  const char* dot = LinkerModuleCounter() % 8 == 0 ? "." : "";
  ASSERT_EQ(h.Run(-1, 5), 0) << h.log.text;
  EXPECT_FALSE(Exists(h.dir / "OUT.S1"));  // Exec type 5 leaves the image in memory
  const uint8_t* image = LinkedImage();
  const uint8_t* used = LinkedImageUsed();
  EXPECT_EQ(image[0x5FFF], 0x11);
  EXPECT_EQ(image[0x6000], 0x22);
  EXPECT_EQ(image[0xBFFF], 0x33);
  EXPECT_EQ(image[0xC000], 0x44);
  EXPECT_EQ(used[0xC000], 1);
  EXPECT_EQ(used[0x805A], 0);  // no limits are poked
  EXPECT_EQ(h.log.text, std::string("Linking with M68 files.") + dot +
                            "\nComputing links.   Please wait ...\n");
}

// Exec type 5 ends with the globals and the table counts: no summary, no
// figures, no pokes.
TEST(LinkerImage, ExecType5Ending) {
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("A.OBJ", S0("A") + S3(1, "AROM") + S4(1, 0, 1) + S8(1, 1, "HI") + S9()) +
           "\n");
  h.params = LinkParams{};
  h.log.Fill(h.params, 0);
  h.params.submitFileName = "LINK.CMD";
  h.params.outputFileName = "OUT.S1";
  h.params.execType = 5;
  h.params.workDir = h.dir.Path().c_str();
  h.params.programUsed = h.params.programCapacity = 77;
  ASSERT_EQ(RunLinker(&h.params), 0);
  const std::string tail =
      "Computing links.   Please wait ...\n"
      "------------Globals---------------\n"
      "HI       8001 \n"
      "--------------End----------------\n"
      "globals = 1/2000  externs = 0/5200  fixups  = 0/5200  \n";
  ExpectEndsWith(h.log.text, tail);
  EXPECT_EQ(h.log.text.find("Summary"), std::string::npos);
  EXPECT_EQ(h.log.text.find("Opening Out File"), std::string::npos);
  EXPECT_EQ(h.params.programUsed, 77u);
  EXPECT_EQ(h.params.programCapacity, 77u);
  EXPECT_FALSE(Exists(h.dir / "OUT.S1"));
}

TEST(LinkerImage, ExecType5StopsAtFFFF) {
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("TOP.OBJ", S0("TOP") + S2(0, 0xFFFE, Lit({0x01, 0x02})) + S9()) + "\n");
  EXPECT_EQ(h.Run(0, 5), 10);
  EXPECT_EQ(h.log.errorCodes, std::vector<int>{2010});
  EXPECT_EQ(LinkedImage()[0xFFFE], 0x01);
  EXPECT_EQ(LinkedImageUsed()[0xFFFE], 1);
  const std::string tail =
      "loc: 65534  b: 1  sizeof(abOutputData): 65535\n"
      "loc: 65535  b: 2  sizeof(abOutputData): 65535\n"
      "[error 2010]Output image exceeded linker capacity.\nWhat happened - This combination of "
      "FB's is too big to handle.\nWhat to check - Try loading fewer FB's, or contact Technical "
      "Support to see if there is an updated linker.\n";
  ExpectEndsWith(h.log.text, tail);
}

TEST(LinkerImage, LaterStoreWinsAndNextLinkStartsEmpty) {
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("TWICE.OBJ", S0("TWICE") + S2(0, 0x9000, Lit({0x01})) +
                                     S2(0, 0x9000, Lit({0x02})) + S9()) +
           "\n");
  ASSERT_EQ(h.Run(-1), 0);
  EXPECT_EQ(h.Output(), LimitsLine(0xFFFF, 0x7FFF) + S1Line(0x9000, {0x02}) + "S9030000FC\r\n");
  h.ExpectValidS1();

  LinkHarness empty;
  empty.Submit(kSections);
  ASSERT_EQ(empty.Run(-1), 0);
  EXPECT_EQ(LinkedImageUsed()[0x9000], 0);
  EXPECT_EQ(LinkedImage()[0x9000], 0);
  EXPECT_EQ(empty.Output(), LimitsLine(0xFFFF, 0x7FFF) + "S9030000FC\r\n");
  empty.ExpectValidS1();
}

// Highest used XRAM and AROM addresses, the year code and DMP_ pokes.
TEST(LinkerImage, PokeLimits) {
  LinkHarness h;
  h.Submit(
      "SECTION   *      DSCT  6729-7FFF\n"
      "SECTION   AROM   PSCT  8000-BFFF\n"
      "DEFINE   DMP_53DF        12\n"
      "DEFINE   DMP_C000        34\n"
      "DEFINE   DMP_        56\n"
      "DEFINE   DMP_41x        08\n"
      "FILE     " +
      h.Object("BIG.OBJ", S0("BIG") + S3(1, "AROM") + S4(1, 0, 0x1233) + S9()) + "\n");
  ASSERT_EQ(h.Run(2), 0) << h.log.text;
  EXPECT_EQ(h.Output(), S1Line(0x0041, {0x08}) + S1Line(0x53DF, {0x12}) +
                            LimitsLine(0xFFFF, 0x9233) + "S9030000FC\r\n");
  h.ExpectValidS1();
  EXPECT_NE(h.log.text.find("Poke \"DMP_53DF\" 53DF = 12\n"
                            "loc: 21471  b: 18  sizeof(abOutputData): 65535\n"
                            "Poke \"DMP_C000\" C000 = 34\n"
                            "loc: 49152  b: 52  sizeof(abOutputData): 65535\n"
                            "Poke \"DMP_41x\" 0041 = 08\n"
                            "loc: 65  b: 8  sizeof(abOutputData): 65535\n"),
            std::string::npos)
      << h.log.text;
  EXPECT_EQ(h.params.programUsed, 0x1234u);
  EXPECT_EQ(h.params.programCapacity, 0x3FFFu);
  EXPECT_EQ(h.params.dataUsed, 0u);
  EXPECT_EQ(h.params.dataCapacity, 0x18D6u);
  EXPECT_NE(h.log.text.find("Total program size is 4.6K.   Total data size is 0.0K\n"),
            std::string::npos);
}

// The kilobyte figures round half away from zero: 2304 bytes are 2.25K and
// 3328 bytes 3.25K.
TEST(LinkerImage, SummaryRoundsHalfUp) {
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("M.OBJ", S0("M") + S3(1, "AROM") + S4(1, 0, 0x8FF) + S3(2, "XRAM") +
                                 S4(2, 0, 0xCFF) + S9()) +
           "\n");
  ASSERT_EQ(h.Run(0), 0) << h.log.text;
  EXPECT_EQ(h.params.programUsed, 2304u);
  EXPECT_EQ(h.params.dataUsed, 3328u);
  EXPECT_NE(h.log.text.find("---------------------------------\n"
                            "Total program size is 2.3K.   Total data size is 3.3K\n"
                            "---------------------------------\n"),
            std::string::npos)
      << h.log.text;
}

TEST(LinkerImage, LimitsTakeTheHighestNonEmptyXram) {
  LinkHarness h;
  h.Submit(
      "SECTION   *      DSCT  0400-05FF\n"
      "SECTION   XRAM   DSCT  1000-1FFF\n"
      "SECTION   *      DSCT  3000-3FFF\n"
      "SECTION   AROM   PSCT  8000-BFFF\n"
      "SECTION   AROM   PSCT  A000-BFFF\n"
      "FILE     " +
      h.Object("M.OBJ", S0("M") + S3(1, "XRAM") + S4(1, 0, 0x1FF) + S3(2, "XRAM") +
                            S4(2, 0, 0x0F) + S9()) +
      "\n");
  ASSERT_EQ(h.Run(-1), 0) << h.log.text;
  // Region 1 overflows the first block into the second; region 2 goes back
  // to the first.  Empty blocks do not count for XRAM; for AROM they do.
  EXPECT_EQ(h.Output(), LimitsLine(0x11FF, 0x9FFF) + "S9030000FC\r\n");
  EXPECT_EQ(h.params.dataUsed, 0x210u);
  EXPECT_EQ(h.params.dataCapacity, 0x1FFu + 0xFFFu + 0xFFFu);
  EXPECT_EQ(h.params.programCapacity, 0x3FFFu + 0x1FFFu);
}

TEST(LinkerOutput, NoDownloadFileName) {
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("A.OBJ", S0("A") + S3(1, "AROM") + S4(1, 0, 9) + S9()) + "\n");
  ASSERT_EQ(h.Run(-1, 1, false), 0);
  EXPECT_EQ(ListDir(h.dir.Path()), (std::vector<std::string>{"A.OBJ", "LINK.CMD"}));
  EXPECT_EQ(h.params.programUsed, 10u);
  EXPECT_EQ(LinkedImage()[0x805D], 0x09);  // the limits are poked all the same
}

TEST(LinkerOutput, FilesThatCannotBeOpened) {
  {
    LinkHarness h;  // no submit file
    EXPECT_EQ(h.Run(2), 2);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2002});
    EXPECT_EQ(h.log.errors[0], "Cannot open file \"LINK.CMD\" in directory \"" + h.dir.Path() +
                                   "\".\nWhat to check - Does the directory exist?  Is the disk "
                                   "full?  Remember that compressed drives often report false "
                                   "free space.\n");
    // The download file is made before the submit file is read.
    EXPECT_TRUE(Exists(h.dir / "OUT.S1"));
    EXPECT_EQ(h.Output(), "");
  }
  {
    LinkHarness h;  // the download file names a directory that is missing
    h.Submit(kSections);
    h.params = LinkParams{};
    h.log.Fill(h.params, 2);
    std::string workDir = h.dir / "missing/";
    h.params.submitFileName = "../LINK.CMD";
    h.params.outputFileName = "OUT.S1";
    h.params.execType = 1;
    h.params.workDir = workDir.c_str();
    EXPECT_EQ(RunLinker(&h.params), 2);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2002});
    EXPECT_EQ(h.log.errors[0].substr(0, 40), "Cannot open file \"OUT.S1\" in directory \"");
    EXPECT_EQ(h.log.text.find("Opening Sub File"), std::string::npos);
  }
  {
    // A working directory and name of more than 255 characters are refused.
    LinkHarness h;
    h.Submit(kSections);
    h.params = LinkParams{};
    h.log.Fill(h.params, 2);
    std::string workDir = h.dir.Path();
    workDir += std::string(255 - workDir.size() - 5, 'd') + "/";  // 251 characters
    h.params.submitFileName = "LINK.CMD";
    h.params.outputFileName = "O.S1";  // 255 in all: opened
    h.params.execType = 1;
    h.params.workDir = workDir.c_str();
    EXPECT_EQ(RunLinker(&h.params), 2);  // no such directory
    EXPECT_NE(h.log.text.find("Opening Out File"), std::string::npos);
    h.log.text.clear();
    h.log.errorCodes.clear();
    h.params.outputFileName = "OU.S1";  // 256
    EXPECT_EQ(RunLinker(&h.params), 2);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2002});
    EXPECT_EQ(h.log.text.find("Opening Out File"), std::string::npos);
  }
}

// A download file whose data never reach the disk is error 7 with the
// system's reason, not a success.
TEST(LinkerOutput, FullDiskIsError7) {
#ifdef _WIN32
  GTEST_SKIP() << "needs /dev/full";
#else
  if (!Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("A.OBJ", S0("A") + S3(1, "AROM") + S4(1, 0, 9) + S9()) + "\n");
  h.params = LinkParams{};
  h.log.Fill(h.params, -1);
  std::string submit = ".." + h.dir.Path() + "LINK.CMD";
  h.params.submitFileName = submit.c_str();
  h.params.outputFileName = "full";
  h.params.execType = 1;
  h.params.workDir = "/dev/";
  EXPECT_EQ(RunLinker(&h.params), 7);
  EXPECT_EQ(h.log.errorCodes, std::vector<int>{2007});
  EXPECT_EQ(h.log.errors[0],
            "Output file \"/dev/full\" is incomplete.\nWhat to check - Is the disk full?.  "
            "Remember that compressed drives often report false free space.  The system error "
            "reported to me was \"No space left on device\".\n");
  EXPECT_EQ(h.log.text.find("Process completed"), std::string::npos);
#endif
}

#if defined(VARNEL_FAULT_HOOK)
// True when the platform layer honours injected faults.
bool FaultHookActive(const TempDir& dir) {
  std::string probe = dir / "PROBE.TXT";
  platform::InjectFault(probe.c_str(), platform::FaultOp::Open);
  platform::Stream* s = platform::Open(probe.c_str(), "w");
  platform::ClearFaults();
  if (s == nullptr) return true;
  platform::Close(s);
  return false;
}
#endif

TEST(LinkerOutput, FailingDownloadFile) {
#if !defined(VARNEL_FAULT_HOOK)
  GTEST_SKIP() << "built without the fault hook";
#else
  struct Case {
    const char* what;
    platform::FaultOp op;
    bool unresolved;
    std::vector<int> codes;
  };
  const Case cases[] = {
      {"a write fails", platform::FaultOp::Write, false, {2007}},
      {"the flush fails", platform::FaultOp::Flush, false, {2007}},
      {"the close fails", platform::FaultOp::Close, false, {2007}},
      // The cleanup after the first error meets the failing file: error 7
      // is reported as well and becomes the result.
      {"a failed link's file fails to close", platform::FaultOp::Close, true, {2009, 2007}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkHarness h;
    if (!FaultHookActive(h.dir)) GTEST_SKIP() << "the platform layer ignores injected faults";
    std::string body = S0("A") + S3(1, "AROM") + S4(1, 0, 9) + S2(1, 0, Lit({1, 2, 3}));
    if (c.unresolved) body += S7(1, 3, false, "NOWHERE") + S2(1, 3, Rel(0xC0, 0, 0));
    h.Submit(std::string(kSections) + "FILE     " + h.Object("A.OBJ", body + S9()) + "\n");
    std::string out = h.dir / "OUT.S1";
    platform::InjectFault(out.c_str(), c.op);
    int result = h.Run(-1);
    platform::ClearFaults();
    EXPECT_EQ(result, 7);
    EXPECT_EQ(h.log.errorCodes, c.codes);
    const std::string& last = h.log.errors.back();
    EXPECT_EQ(last.rfind("Output file \"" + out + "\" is incomplete.\n", 0), 0u) << last;
    EXPECT_EQ(h.log.text.find("Process completed"), std::string::npos);
    EXPECT_TRUE(Exists(out));  // what was written stays
  }
#endif
}

}  // namespace
}  // namespace varnel::testing
