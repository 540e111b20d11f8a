// The end of the run: download supplements, the memory summary, the fit
// checks, and the errors of the files the stage opens and closes.
#include <filesystem>

#include "support/image_fixture.h"

namespace varnel::testing {
namespace {

class ImageSummaryTest : public ImageTest {
 protected:
  // The standard driver with the given MAIN figures; the module holds it
  // already, so no firmware group is written.
  void Driver(uint32_t fbrunSize, uint32_t ramNotUsed, uint8_t ramSize, uint8_t flashSize, uint8_t browser = 0) {
    DriverSpec d;
    d.main.fbrunSize = fbrunSize;
    d.main.ramNotUsedForGfb = ramNotUsed;
    d.main.browserVersion = browser;
    Firmware(DriverFirmware(d));
    token = StatusToken(ramSize, flashSize, {Boot(), Exec(), Core(), Main()});
  }
};

const char* const kHead = "\n-------------------- Memory Summary --------------------------\n";
const char* const kTail = "--------------------------------------------------------------\n";
const char* const kNoFit =
    "The FBs specified will not fit in this module.\nWhat to check - \n   1) Reduce the number of FB's in this "
    "module.\n   2) Reduce the size or complexity of these FB's.\n   3) If possible, upgrade the amount of "
    "memory in this module.\n";

TEST_F(ImageSummaryTest, SummaryOfAFittingModule) {
  // 100,000 bytes used of 8 x 128 KiB less 256 KiB; the driver's GFB is its
  // FBRUN plus its three RP sizes, each with 32 more.
  Driver(100000 - 448, 262144, 8, 4);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Summary(), std::string(kHead) +
                           "Module's total GFB memory  =  768.0 Kbytes.\n"
                           "   GFB 15 uses 100000 bytes.\n"
                           "GFB memory used........... =   97.7 Kbytes (12.7%).\n"
                           "Trend memory available.... =  670.3 Kbytes (87.3%).\n\n"
                           "Exec & Module Driver code  =   13.0 Kbytes ( 2.5%).\n" +
                           kTail);
  EXPECT_EQ(params.gfbTotal, 786432u);
  EXPECT_EQ(params.gfbUsed, 100000u);
  EXPECT_EQ(params.firmwareSpace, 524288u);
  EXPECT_EQ(params.driverCodeBytes, 0x3410u);
  EXPECT_TRUE(log.text.ends_with("Process completed with no errors.\n"));
}

TEST_F(ImageSummaryTest, NegativeLogLevelLeavesOnlyTheProgressLines) {
  // The RP and GFB lines of the summary are levelled lines of level 0: a
  // log level below 0 drops them with every other levelled line.
  Driver(100000 - 448, 262144, 8, 4);
  PutRp(LinkedImage(), 0x100, {"PID"});
  AddFb("PID", 3);
  params.logLevel = -1;
  ASSERT_EQ(Run(), 0);
  // The decisions keep their question and answer, but not their reasons.
  EXPECT_EQ(log.text, std::string("Building Firmware Image.  Please wait ...\n"
                                  "  Replacing firmware section 0 (BOOT)? No.\n"
                                  "  Replacing firmware section 1 (EXEC)? No.\n"
                                  "  Replacing firmware section 2 (CORE)? No.\n"
                                  "  Replacing firmware section 3 (MAIN)? No.\n"
                                  "Building Module Database.\n") +
                          kHead +
                          "Module's total GFB memory  =  768.0 Kbytes.\n"
                          "GFB memory used........... =  195.3 Kbytes (25.4%).\n"
                          "Trend memory available.... =  572.7 Kbytes (74.6%).\n\n"
                          "Exec & Module Driver code  =   13.0 Kbytes ( 2.5%).\n" +
                          kTail + "Process completed with no errors.\n");
  EXPECT_EQ(params.gfbUsed, 140u + 100000u + (16u + 99552u + 262u));
}

TEST_F(ImageSummaryTest, HalvesRoundAwayFromZero) {
  Driver(2304 - 448, 0, 1, 1);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Summary(), std::string(kHead) +
                           "Module's total GFB memory  =  128.0 Kbytes.\n"
                           "   GFB 15 uses  2304 bytes.\n"
                           "GFB memory used........... =    2.3 Kbytes ( 1.8%).\n"
                           "Trend memory available.... =  125.8 Kbytes (98.2%).\n\n"
                           "Exec & Module Driver code  =   13.0 Kbytes (10.2%).\n" +
                           kTail);
}

TEST_F(ImageSummaryTest, ExactFitPasses) {
  Driver(200, 131072 - 648, 1, 4);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Summary(), std::string(kHead) +
                           "Module's total GFB memory  =    0.6 Kbytes.\n"
                           "   GFB 15 uses   648 bytes.\n"
                           "GFB memory used........... =    0.6 Kbytes (100.0%).\n"
                           "Trend memory available.... =    0.0 Kbytes ( 0.0%).\n\n"
                           "Exec & Module Driver code  =   13.0 Kbytes ( 2.5%).\n" +
                           kTail);
}

TEST_F(ImageSummaryTest, OneByteOverFailsAfterTheCompleteFile) {
  Driver(200, 131072 - 647, 1, 4);
  AddFb("DRV", 15);
  EXPECT_EQ(Run(), 6);
  EXPECT_EQ(Summary(), std::string(kHead) +
                           "Module's total GFB memory  =    0.6 Kbytes.\n"
                           "   GFB 15 uses   648 bytes.\n"
                           "GFB memory used........... =    0.6 Kbytes (100.2%).\n"
                           "Exec & Module Driver code  =   13.0 Kbytes ( 2.5%).\n" +
                           kTail);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3006});
  EXPECT_EQ(log.errors[0], kNoFit);
  EXPECT_EQ(Output(), Crlf("S103FF00xx\n" + Ff07(15, "DRV") + "S9030000FC\n"));
  EXPECT_EQ(log.text.find("Process completed"), std::string::npos);
}

// A driver whose code reaches beyond the module's 128 KiB of firmware space.
std::string BigDriver(uint32_t ramNotUsed) {
  DriverSpec d;
  d.main.ramNotUsedForGfb = ramNotUsed;
  std::string f = DriverFirmware(d);
  f.insert(f.size() - EndRecord().size(), SRecord('2', 0x20000, Chunk(Core())));
  return f;
}

TEST_F(ImageSummaryTest, DriverTooBigIsCheckedFirst) {
  Firmware(BigDriver(0xFFFFFFF0));  // no GFB memory either
  token = StatusToken(1, 1, {Boot(), Exec(), Core(), Main()});
  EXPECT_EQ(Run(), 7);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3007});
  EXPECT_EQ(log.errors[0], "The module driver is too big to fit in the available\nfirmware space of this module.\n");
  EXPECT_EQ(params.driverCodeBytes, 0x20014u);
  EXPECT_NE(log.text.find("Exec & Module Driver code  =  128.0 Kbytes (100.0%).\n"), std::string::npos);
  EXPECT_TRUE(Output().ends_with("S9030000FC\r\n"));

  // Without a flash size the firmware space is unknown: no check, and the
  // short line.
  Fresh();
  Firmware(BigDriver(0));
  token = StatusToken(1, 0, {Boot(), Exec(), Core(), Main()});
  EXPECT_EQ(Run(), 0);
  EXPECT_NE(log.text.find("Exec & Module Driver code  =  128.0 Kbytes.\n" + std::string(kTail)), std::string::npos);
  EXPECT_EQ(params.firmwareSpace, 0u);
}

TEST_F(ImageSummaryTest, ExamineModeReportsButDoesNotCheck) {
  Driver(200, 131072 - 100, 1, 4);
  params.outputFileName = nullptr;
  EXPECT_EQ(Run(), 0);
  EXPECT_TRUE(log.errorCodes.empty());
  EXPECT_EQ(params.gfbTotal, 100u);
  EXPECT_EQ(params.gfbUsed, 648u);
  EXPECT_EQ(params.firmwareSpace, 0u);
  EXPECT_NE(log.text.find("Exec & Module Driver code  =   13.0 Kbytes.\n"), std::string::npos);
}

TEST_F(ImageSummaryTest, RamKeptFromGfbAboveTheModulesRam) {
  Driver(200, 200000, 1, 4);
  EXPECT_EQ(Run(), 6);
  EXPECT_EQ(params.gfbTotal, 0u);
  EXPECT_NE(Summary().find("Module's total GFB memory  =    0.0 Kbytes.\n"
                           "   GFB 15 uses   648 bytes.\n"
                           "GFB memory used........... =    0.6 Kbytes ( 0.0%).\n"
                           "Exec & Module Driver code"),
            std::string::npos)
      << log.text;
}

TEST_F(ImageSummaryTest, FiguresBeyond32BitsSaturate) {
  Driver(0xFFFFFF00, 0, 8, 4);
  EXPECT_EQ(Run(), 6);
  EXPECT_NE(log.text.find("   GFB 15 uses 4294967295 bytes.\n"), std::string::npos) << log.text;
  EXPECT_EQ(params.gfbUsed, 0xFFFFFFFFu);
}

TEST_F(ImageSummaryTest, RamUnits) {
  struct Case {
    uint8_t ramSize;
    int32_t memoryK;
    uint32_t total;
  };
  const Case cases[] = {{2, 0, 262144},   {3, 256, 393216}, {0, 0, 1048576},
                        {0, 127, 0},      {0, 256, 262144}, {0, -5, 1048576}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Format("ramSize %d memoryK %d", c.ramSize, c.memoryK));
    Fresh();
    Driver(200, 0, c.ramSize, 4);
    params.outputFileName = nullptr;
    params.memoryK = c.memoryK;
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(params.gfbTotal, c.total);
  }
}

// ---------------------------------------------------------------------------
// Download supplements

const std::string kSmHeader = "S109FF03534D00001000xx\n";                        // 0x1000 + 32
const std::string kSmData = "S128FF0200000000000000000000000800" + std::string(48, '0') + "xx\n";  // 0x800 + 32
const std::string kObjectEnd = "S106FF04010000xx\n";

TEST_F(ImageSummaryTest, SupplementsAreCopiedAndCounted) {
  Driver(200, 0, 8, 4);
  AddFb("DRV", 15);
  std::filesystem::create_directory(libDir);
  // Line ends of either kind, a line that would be a format, and a Ctrl-Z
  // that ends the file.
  WriteFile(libDir + "SCREEN1.SCR", kSmHeader + kSmData + "REM 100% %s %n %d\r\n" + kObjectEnd + "\x1A" + "S1junk\n");
  Arg("; job\n"
      "DOWNLOAD_SUPPLEMENTS=A.SCR\n"
      "download_supplement=screen1.scr\n"
      "DOWNLOAD_SUPPLEMENT\n"
      "DOWNLOAD_SUPPLEMENT=\n"
      "DOWNLOAD_SUPPLEMENT=SCREEN1.SCR;again\n"
      "\tDOWNLOAD_SUPPLEMENT=/,<SCREEN1.SCR|X\n");
  ASSERT_EQ(Run(), 0) << log.text;
  const std::string screen = kSmHeader + kSmData + "REM 100% %s %n %d\n" + kObjectEnd;
  EXPECT_EQ(Output(), Crlf("S103FF00xx\n" + Ff07(15, "DRV") + screen + screen + screen + "S9030000FC\n"));
  const std::string path = libDir + "SCREEN1.SCR";
  EXPECT_EQ(Count(log.text, "GFB memory used by " + path + " ... =    4.0 Kbytes\n"), 3u);
  EXPECT_EQ(Count(log.text, "GFB memory used by screen work area ....... =    2.0 Kbytes\n"), 3u);
  EXPECT_EQ(params.gfbUsed, 648u + 3 * (4128 + 2080));
  EXPECT_NE(log.text.find("Opening Arg File \"" + dir.Path() + "JOB.ARG\"\n"), std::string::npos);
  EXPECT_NE(log.text.find("Closing Arg File\n\n----"), std::string::npos);
}

TEST_F(ImageSummaryTest, ScreenWorkArea) {
  struct Case {
    const char* what;
    uint8_t browser;
    std::string screen;
    uint32_t use;
  };
  const Case cases[] = {
      {"browser 0", 0, kSmHeader + kSmData, 4128 + 2080},
      {"browser 1", 1, kSmHeader + kSmData, 4128},
      {"another header first", 0, kSmHeader + "S109FF03414200000010xx\n" + kSmData, 4128 + 48},
      {"not an SM object", 0, "S109FF03414200001000xx\n" + kSmData, 4128},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    Driver(200, 0, 8, 4, c.browser);
    std::filesystem::create_directory(libDir);
    WriteFile(libDir + "S.SCR", c.screen);
    Arg("DOWNLOAD_SUPPLEMENT=S.SCR\n");
    params.outputFileName = nullptr;  // counted in examine mode too
    ASSERT_EQ(Run(), 0) << log.text;
    EXPECT_EQ(params.gfbUsed, 648u + c.use);
  }
}

TEST_F(ImageSummaryTest, SupplementPaths) {
  struct Case {
    std::string line;
    const char* libraryDir;  // nullptr: the planner's
    std::string path;
  };
  const std::string lib = dir.Path() + "lib/";
  const Case cases[] = {
      {"DOWNLOAD_SUPPLEMENT SCREEN1.SCR ;main screen", nullptr, lib + "SCREEN1.SCR "},
      {"DOWNLOAD_SUPPLEMENT = SCREEN1.SCR", nullptr, lib + "= SCREEN1.SCR"},
      {"DOWNLOAD_SUPPLEMENT X:\\SCREENS\\a.scr", nullptr, "X:\\SCREENS\\A.SCR"},
      {"DOWNLOAD_SUPPLEMENT D:/A.SCR", nullptr, lib + "D:"},
      {"download_supplement=missing.scr", "", "MISSING.SCR"},
      {"download_supplement=missing.scr", "/nowhere/", "/nowhere/MISSING.SCR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Fresh();
    Driver(200, 0, 8, 4);
    Arg(c.line + "\n");
    params.libraryDir = c.libraryDir;
    EXPECT_EQ(Run(), 13);
    ASSERT_EQ(log.errorCodes, std::vector<int>{3013});
    EXPECT_EQ(log.errors[0], "Download supplement (screen definition file) \n\"" + c.path + "\"\nnot found.");
    EXPECT_TRUE(log.text.ends_with("Closing Arg File\n")) << log.text;
    EXPECT_EQ(Output(), Crlf("S103FF00xx\n"));
  }
  Fresh();
  Driver(200, 0, 8, 4);
  Arg("DOWNLOAD_SUPPLEMENT=NONE.SCR\n");
  params.outputFileName = nullptr;
  EXPECT_EQ(Run(), 13);
}

// ---------------------------------------------------------------------------
// Files that do not open or do not close

TEST_F(ImageSummaryTest, ArgFileThatCannotBeReopened) {
  Driver(200, 0, 8, 4);
  params.argFileName = "NOPE.ARG";
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3001});
  EXPECT_EQ(log.errors[0], "Cannot open file \"NOPE.ARG\" in directory \"" + dir.Path() +
                               "\".\nWhat to check - Does the directory exist?  Is the disk full?  Remember that "
                               "compressed drives often report false free space.  ");
  EXPECT_EQ(Output(), Crlf("S103FF00xx\n"));
}

TEST_F(ImageSummaryTest, DownloadFileThatCannotBeOpened) {
  Driver(200, 0, 8, 4);
  params.outputFileName = "nodir/OUT.DL";
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3001});
  EXPECT_TRUE(log.errors[0].starts_with("Cannot open file \"nodir/OUT.DL\" in directory \"" + dir.Path() + "\".\n"));
  EXPECT_TRUE(log.text.ends_with("Closing module driver firmware file\n"));
}

class ImageWriteErrorTest : public ImageSummaryTest {
 protected:
  void SetUp() override {
    ImageSummaryTest::SetUp();
    if (!Exists("/dev/full")) GTEST_SKIP() << "a device that is always full is POSIX's (/dev/full)";
    std::error_code ec;
    std::filesystem::create_symlink("/dev/full", dir / "OUT.DL", ec);
    ASSERT_FALSE(ec) << ec.message();
  }
  std::string Incomplete() {
    return "Output file \"" + dir.Path() +
           "OUT.DL\" is incomplete.\nWhat to check - Is the disk full?.  Remember that compressed drives often "
           "report false free space.  The system error reported to me was \"No space left on device\".\n";
  }
};

TEST_F(ImageWriteErrorTest, WriteErrorFoundAtTheClose) {
  Driver(200, 0, 8, 4);
  EXPECT_EQ(Run(), 4);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3004});
  EXPECT_EQ(log.errors[0], Incomplete());
  EXPECT_EQ(log.text.find("Memory Summary"), std::string::npos);
}

TEST_F(ImageWriteErrorTest, WriteErrorReplacesAnEarlierError) {
  // The replay group is written, then a record fails its checksum.
  std::string f = DriverFirmware();
  f.insert(f.find("S1171000"), "S1030000FF\n");
  Firmware(f);
  token = StatusToken(8, 4, {Exec(), Core(), Main()});
  EXPECT_EQ(Run(), 4);
  EXPECT_EQ(log.errorCodes, (std::vector<int>{3009, 3004}));
  EXPECT_EQ(log.errors[1], Incomplete());
  EXPECT_NE(log.text.find("Closing module driver firmware file\n"), std::string::npos);
}

}  // namespace
}  // namespace varnel::testing
