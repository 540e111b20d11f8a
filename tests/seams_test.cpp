// Whole calls across the stage boundaries: what one stage leaves for the
// next, and what one call in a process leaves for the calls after it.

#include <string>
#include <vector>

#include "linker.h"
#include "support/image_varnel_fixture.h"

namespace varnel::testing {
namespace {

// The image builder's part of a log: from its first progress line on.
std::string ImagePart(const std::string& log) {
  size_t at = log.find("Firmware Image.  Please wait ...");
  return at == std::string::npos ? std::string() : log.substr(at);
}

class SeamsTest : public Exec5LinkFixture {
 protected:
  void SetUp() override {
    Exec5LinkFixture::SetUp();
    Lib("EEP400.OBJ", HeaderObject("EEP400"));
    Lib("LIB400.OBJ", ModendModule());
    PackSpec spec;
    spec.kind = 5;
    spec.info = MakeDriverInfo("Exec 3 test driver", 3, {255});
    spec.members.push_back(Member(2, CodeModule("DRV3", TextBytes("DRIVER3-CODE"))));
    WritePackFile(lib + "DRV3.MDV", spec);
  }

  // An Exec 3 link of the same FBs as the Exec 5 one.
  void Exec3Arg() { ArgText(lib + "\n 15 DRV3\n 3 PID\n 4 TMR\nXXX\n40C000000000\n"); }

  std::vector<std::string> TemporaryFiles() const {
    std::vector<std::string> names;
    for (const std::string& name : ListDir(work))
      if (name.size() >= 4 && name.compare(name.size() - 4, 3, ".$$") == 0) names.push_back(name);
    return names;
  }

  struct Outcome {
    int result;
    std::string message;
    std::string download;
    std::string imageLog;
  };
  Outcome LinkOutcome(const char* download = "MODULE.DL") {
    std::filesystem::remove(work + "MODULE.DL");
    int result = Link(download);
    return {result, Message(), Exists(work + "MODULE.DL") ? ReadFile(work + "MODULE.DL") : "", ImagePart(Log())};
  }
  Outcome FitOutcome(int memoryK = 0) {
    std::filesystem::remove(work + "MODULE.DL");
    int result = Fit(memoryK);
    return {result, Message(), Exists(work + "MODULE.DL") ? ReadFile(work + "MODULE.DL") : "<none>",
            ImagePart(Log())};
  }
  static void ExpectSame(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.message, b.message);
    EXPECT_EQ(a.download, b.download);
    EXPECT_EQ(a.imageLog, b.imageLog);
  }
};

// The Exec type is a signed 16-bit field; values that sign-widen to
// something other than 1 to 6 never reach the linker.
TEST_F(SeamsTest, DriverExecTypeOutsideOneToSixStopsBeforeTheLink) {
  for (int16_t type : {int16_t{-1}, static_cast<int16_t>(0x8005), int16_t{0}, int16_t{0x0105}}) {
    SCOPED_TRACE(type);
    std::filesystem::remove(work + "JOB.SUB");
    PackDriver(DriverFirmware(), type);
    Arg(StatusToken(8, 4, {}));
    EXPECT_EQ(Link(), 1007) << Log();
    EXPECT_TRUE(Message().starts_with("VARNEL.DLL  v3.03.002, Error 1007:\n")) << Message();
    EXPECT_FALSE(Exists(work + "MODULE.DL"));
    EXPECT_FALSE(Exists(work + "JOB.SUB"));
    EXPECT_EQ(Log().find("Processing File"), std::string::npos);
    EXPECT_EQ(Log().find("Firmware Image"), std::string::npos);
    EXPECT_EQ(Fit(0), 1007);
  }
}

// Stage 2 writes no S1 file for Exec type 5: the download file is the
// module database alone, and the temporary files go only after stage 3.
TEST_F(SeamsTest, TemporaryFilesOfAnExec5LinkGoOnlyAfterStageThree) {
  DriverSpec d;
  d.main.ramNotUsedForGfb = 131072 - 8000;  // 8,000 bytes of GFB memory, 8,116 used
  PackDriver(DriverFirmware(d));
  Arg(StatusToken(1, 4, {Boot(), Exec(), Core(), Main()}));
  EXPECT_EQ(Link(), 3006);
  EXPECT_FALSE(TemporaryFiles().empty());
  EXPECT_TRUE(ReadFile(work + "MODULE.DL").starts_with("S103FF00xx\r\n"));

  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  ASSERT_EQ(Link(), 0) << Message() << Log();
  EXPECT_TRUE(ReadFile(work + "MODULE.DL").starts_with("S103FF00xx\r\n"));
  EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{});

  // Examine mode is a full success too.
  ASSERT_EQ(Fit(0), 0) << Message();
  EXPECT_EQ(TemporaryFiles(), std::vector<std::string>{});
}

// For Exec type 5 stage 2 only fills the image: no S1 file is opened and the
// image limits are not poked, so the one output is stage 3's.
TEST_F(SeamsTest, Exec5ImageIsLeftForStageThree) {
  PackDriver(DriverFirmware());
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  ASSERT_EQ(Link(), 0) << Message() << Log();
  const std::string log = Log();
  const size_t open = log.find("Opening Out File");
  ASSERT_NE(open, std::string::npos);
  EXPECT_GT(open, log.find("Building Firmware Image."));
  EXPECT_EQ(log.find("Opening Out File", open + 1), std::string::npos);
  EXPECT_EQ(log.find("loc: 32858 "), std::string::npos);  // 0x805A
  EXPECT_EQ(log.find("Program size"), std::string::npos);
}

// Stage 1 counts the RP files it submits; an RP that the chain from 0x100
// does not reach is an error of the whole call, not an RP missing from the
// module.
TEST_F(SeamsTest, RpNotReachedFromTheChainFailsTheCall) {
  PackFb("TMR", CodeModule("TMRRP", TextBytes("not an RP at all")));
  PackDriver(DriverFirmware());
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  EXPECT_EQ(Link(), 3005) << Log();
  EXPECT_TRUE(Message().starts_with("VARNEL.DLL  v3.03.002, Error 3005:\n")) << Message();
  EXPECT_EQ(Fit(0), 3005);
  EXPECT_FALSE(TemporaryFiles().empty());

  // Only PID's RP submitted: the one RP found is enough.
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}), " 15 DRV\n 3 PID\n");
  EXPECT_EQ(Link(), 0) << Message();
}

// With the caller's library directory the ARG file's one is not used, for
// the FBs nor for the supplements that stage 3 reads from the ARG file.
TEST_F(SeamsTest, CallersLibraryDirectoryReachesStageThree) {
  PackDriver(DriverFirmware());
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  ASSERT_EQ(Link(), 0) << Message();
  const std::string expected = ReadFile(work + "MODULE.DL");
  std::string arg = ReadFile(work + "JOB.ARG");
  WriteFile(work + "JOB.ARG", work + "nowhere/" + arg.substr(arg.find('\n')));
  std::filesystem::remove(work + "MODULE.DL");
  message.assign(550, 'x');
  ASSERT_EQ(Varnel("JOB.ARG", lib.c_str(), work.c_str(), "JOB.LOG", "JOB.SUB", "MODULE.DL", 2, message.data(), 550),
            0)
      << Message() << Log();
  EXPECT_EQ(ReadFile(work + "MODULE.DL"), expected);
}

// An FB named twice in the list: its RP is submitted and found once, each
// row gets its FB entry and its own GFB figure from that one RP.
TEST_F(SeamsTest, FbNamedTwiceSharesItsRp) {
  PackDriver(DriverFirmware());
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}), " 15 DRV\n 3 PID\n 7 PID\n");
  ASSERT_EQ(Link(), 0) << Message() << Log();
  const std::string download = ReadFile(work + "MODULE.DL");
  EXPECT_TRUE(download.ends_with(Crlf(Ff07(15, "DRV") + Ff07(3, "PID") + Ff07(7, "PID") + kScreen + "S9030000FC\n")))
      << download;
  size_t rps = 0;
  for (size_t at = download.find("FF0352500000"); at != std::string::npos; at = download.find("FF0352500000", at + 1))
    ++rps;
  EXPECT_EQ(rps, 1u);
  EXPECT_NE(Log().find(Crlf("   RP PID uses   148 bytes.\n"
                            "   GFB 15 uses   648 bytes.\n"
                            "   GFB  3 uses   462 bytes.\n"
                            "   GFB  7 uses   462 bytes.\n")),
            std::string::npos)
      << Log();
}

// A call leaves nothing for the next: a smaller Exec 5 link after a bigger
// one (other FBs, other RAM, other loaded sections, other driver figures)
// gives what it gives on its own.
TEST_F(SeamsTest, SecondExec5CallStartsClean) {
  DriverSpec small;
  PackDriver(DriverFirmware(small));
  const std::string smallToken = StatusToken(8, 4, {Boot(), Exec(), Core(), Main()});
  Arg(smallToken, " 15 DRV\n 3 PID\n");
  const Outcome smallLink = LinkOutcome();
  ASSERT_EQ(smallLink.result, 0) << smallLink.message << Log();
  const Outcome smallFit = FitOutcome();
  ASSERT_EQ(smallFit.result, 0) << smallFit.message;

  DriverSpec big;
  big.beforeMain = SRecord('0', 0, TextBytes("SECTOR3"));
  big.main.fbrunSize = 900;
  big.microblocks = {0x0100, 0x0200};
  PackDriver(DriverFirmware(big));
  Arg(StatusToken(16, 8, {Boot(), Exec(), Core(), WithCrc(Main(), 0x4445)}));
  const Outcome bigLink = LinkOutcome();
  ASSERT_EQ(bigLink.result, 0) << bigLink.message << Log();
  EXPECT_NE(bigLink.download, smallLink.download);

  PackDriver(DriverFirmware(small));
  Arg(smallToken, " 15 DRV\n 3 PID\n");
  ExpectSame(LinkOutcome(), smallLink);
  ExpectSame(FitOutcome(), smallFit);
}

// A call that fails in any stage leaves the next call as clean as one that
// succeeded.
TEST_F(SeamsTest, FailedCallsLeaveNothingForTheNext) {
  PackDriver(DriverFirmware());
  const std::string token = StatusToken(8, 4, {Boot(), Exec(), Core(), Main()});
  Arg(token);
  const Outcome good = LinkOutcome();
  ASSERT_EQ(good.result, 0) << good.message;
  const Outcome goodFit = FitOutcome();
  ASSERT_EQ(goodFit.result, 0) << goodFit.message;

  // Stage 3 stops inside the firmware pass, with its files open.
  Arg(StatusToken(8, 4, {Exec(), Core()}));
  EXPECT_EQ(Link(), 3015);
  Arg(token);
  ExpectSame(LinkOutcome(), good);

  // Stage 2 stops with its tables half filled.
  Lib("BIG.OBJ", S0("BIG") + S3(0x85, "AROM") + S4(5, 0, 0xFFF0) + S2(5, 0, Lit(TextBytes("BIG"))) + S9());
  ArgText(lib + "\n 1 BIG\nXXX\n32C000000000\n");
  EXPECT_EQ(Link("MODULE.S1"), 2001);
  Arg(token);
  ExpectSame(FitOutcome(), goodFit);

  // Stage 1 stops with the driver's packed file open.
  PackDriver(DriverFirmware(), -1);
  EXPECT_EQ(Link(), 1007);
  PackDriver(DriverFirmware());
  ExpectSame(LinkOutcome(), good);
  ExpectSame(FitOutcome(), goodFit);
}

// An Exec 5 call and an Exec 3 call in one process: each gets its own
// summary form and its own kind of download file, whichever ran first.
TEST_F(SeamsTest, Exec5AndExec3CallsInOneProcess) {
  Exec3Arg();
  const Outcome exec3Fit = FitOutcome();
  ASSERT_EQ(exec3Fit.result, 0) << exec3Fit.message << Log();
  EXPECT_TRUE(exec3Fit.message.starts_with("Program size is ")) << exec3Fit.message;
  EXPECT_EQ(exec3Fit.download, "<none>");  // whatever argument 6 holds
  EXPECT_EQ(exec3Fit.imageLog, "");
  const Outcome exec3Link = LinkOutcome();
  ASSERT_EQ(exec3Link.result, 0) << exec3Link.message;
  EXPECT_TRUE(exec3Link.download.starts_with("S1")) << exec3Link.download;

  PackDriver(DriverFirmware());
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  const Outcome exec5Fit = FitOutcome();
  ASSERT_EQ(exec5Fit.result, 0) << exec5Fit.message << Log();
  EXPECT_TRUE(exec5Fit.message.starts_with("Module's total GFB memory\t=")) << exec5Fit.message;
  EXPECT_TRUE(exec5Fit.message.ends_with("Exec & Mod. Driver code\t=   13.0 Kbytes.\n")) << exec5Fit.message;
  const Outcome exec5Link = LinkOutcome();
  ASSERT_EQ(exec5Link.result, 0) << exec5Link.message;

  Exec3Arg();
  ExpectSame(FitOutcome(), exec3Fit);
  ExpectSame(LinkOutcome(), exec3Link);
  PackDriver(DriverFirmware());
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  ExpectSame(FitOutcome(), exec5Fit);
  ExpectSame(LinkOutcome(), exec5Link);
}

// FbFit's result 1 for a use above the total comes from stage 3's figures of
// this call, not from those of an earlier Varnel that fitted.
TEST_F(SeamsTest, FitAfterAFittingLinkUsesItsOwnFigures) {
  DriverSpec d;
  d.main.ramNotUsedForGfb = 131072 - 8000;
  PackDriver(DriverFirmware(d));
  Arg(StatusToken(2, 4, {Boot(), Exec(), Core(), Main()}));
  ASSERT_EQ(Link(), 0) << Message();
  const std::string download = ReadFile(work + "MODULE.DL");
  Arg(StatusToken(1, 4, {Boot(), Exec(), Core(), Main()}));
  EXPECT_EQ(Fit(0), 1);
  EXPECT_EQ(Message(),
            "Module's total GFB memory\t=    7.8 Kbytes.\nGFB memory used\t\t=    7.9 Kbytes (101.4%).\n"
            "*** This GFB configuration exceeds the module's available memory. ***\n\n");
  // FbFit leaves the download file it was named alone.
  EXPECT_EQ(ReadFile(work + "MODULE.DL"), download);
}

// A region too big for the module's memory: Varnel reports the linker's
// error, FbFit says only that it does not fit.
TEST_F(SeamsTest, RegionThatCannotBePlacedIsNoFitForFbFit) {
  Lib("BIG.OBJ", S0("BIG") + S3(0x85, "AROM") + S4(5, 0, 0x47FF) + S2(5, 0, Lit(TextBytes("BIG"))) + S9());
  ArgText(lib + "\n 1 BIG\nXXX\n32C000000000\n");
  EXPECT_EQ(Link("MODULE.S1"), 2001) << Log();
  EXPECT_TRUE(Message().starts_with("VARNEL.DLL  v3.03.002, Error 2001:\n")) << Message();
  const std::string linkMessage = Message();
  EXPECT_EQ(Fit(0), 1) << Log();
  EXPECT_EQ(Message(), linkMessage);
  EXPECT_FALSE(Exists(work + "MODULE.DL"));
}

// The progress dots pace the modules since the library was loaded: whole
// calls of either kind continue them where the last call left off.
TEST_F(SeamsTest, ProgressDotsRunOnAcrossCalls) {
  PackDriver(DriverFirmware());
  std::string dots;
  for (int call = 0; call < 6; ++call) {
    SCOPED_TRACE(call);
    const bool exec5 = call % 2 == 0;
    if (exec5) {
      Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
    } else {
      Exec3Arg();
    }
    const int before = LinkerModuleCounter();
    message.assign(550, 'x');
    ASSERT_EQ(Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "MODULE.DL", -1, message.data(), 550),
              0)
        << Message();
    const int after = LinkerModuleCounter();
    EXPECT_GT(after, before);
    std::string expected;
    for (int k = before; k < after; ++k) expected += k % 8 == 0 ? "." : "";
    const std::string log = Log();
    const std::string start = "Linking with M68 files.";
    const size_t from = log.find(start);
    ASSERT_NE(from, std::string::npos);
    const size_t to = log.find(exec5 ? "\r\nComputing links.   Please wait" : "\r\nComputing links.", from);
    ASSERT_NE(to, std::string::npos) << log;
    EXPECT_EQ(log.substr(from + start.size(), to - from - start.size()), expected);
    dots += expected;
  }
  EXPECT_FALSE(dots.empty());
}

// The driver query shares the packed-file reader with stage 1; between two
// whole links it changes neither of them.
TEST_F(SeamsTest, DriverQueryBetweenTwoLinksChangesNeither) {
  for (bool exec5 : {true, false}) {
    SCOPED_TRACE(exec5 ? "Exec 5" : "Exec 3");
    if (exec5) {
      PackDriver(DriverFirmware());
      Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
    } else {
      Exec3Arg();
    }
    const Outcome first = LinkOutcome();
    ASSERT_EQ(first.result, 0) << first.message << Log();
    const Outcome firstFit = FitOutcome();

    // A driver file the query reads through the packed-file reader.
    PackSpec query;
    query.version = 32;
    query.kind = 5;
    query.info = MakeDriverInfo("Queried driver", exec5 ? 5 : 3, {255});
    query.members.push_back(Member(2, CodeModule("QRY", TextBytes("QRY"))));
    WritePackFile(lib + "QRYDRV.FB", query);
    char versions[16], sizes[16], typeName[16];
    uint16_t moduleType = 0;
    EXPECT_EQ(VarnelGetDriverData("QRYDRV", lib.c_str(), versions, sizes, &moduleType, typeName, 16), 1);
    EXPECT_EQ(moduleType, 255);

    ExpectSame(LinkOutcome(), first);
    ExpectSame(FitOutcome(), firstFit);
  }
}

}  // namespace
}  // namespace varnel::testing
