// Run control driven by stand-in stages: the log, the error blocks, the
// message text, the result codes, the clean-up and the fit summary.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "builders/files.h"
#include "platform/platform.h"
#include "runctl.h"
#include "varnel.h"

namespace varnel {
namespace {

using testing::Crlf;
using testing::Exists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

const std::string kVersion = "VARNEL.DLL  v3.03.002";
const std::string kStars(71, '*');

// The log's opening text as a reader sees it (before CR LF).
const std::string kOpening =
    "VARNEL.DLL  v3.03.002\n"
    "\n"
    "Please note: This log file is primarily technical in nature.\n"
    "Your best source of information for solving problems is the error message \n"
    "box that popped up before this log was built.  The message box contains \n"
    "information about what happened and suggestions for things to check. \n"
    "This file contains detailed information to allow Tech Support to analyze \n"
    "problems that cannot be solved otherwise.   For your convenience, the \n"
    "text of the error message box is included in this file under the heading \n"
    "\"ERROR MESSAGE BOX TEXT\".\n"
    "\n";

std::string Header(int code) { return kVersion + ", Error " + std::to_string(code) + ":\n"; }

std::string ErrorBlock(int code, const std::string& message) {
  return kStars + "\n" +
         "************************* ERROR MESSAGE BOX TEXT **********************\n" + kStars +
         "\n" + Header(code) + message + kStars + "\n";
}

// What the stand-in stages do; reset before every test.
struct Script {
  int failStage = 0;  // 1, 2 or 3: that stage reports `error` and returns it
  int error = 0;
  bool reportTwice = false;  // report error + 1 after the first, return it
  bool throwAbort = false;   // throw the error instead of returning it
  int16_t execType = 1;
  uint32_t programUsed = 0, dataUsed = 0, programCapacity = 0, dataCapacity = 0;
  uint32_t driverCodeBytes = 0, gfbUsed = 0, gfbTotal = 0;
  std::vector<int> calls;  // stage numbers in the order they ran
  PlanParams plan{};       // copies of the records as each stage saw them
  LinkParams link{};
  ImageParams image{};
};
Script g;

void Report(ErrorCallback error, int code, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  error(format, code, ap);
  va_end(ap);
}

void Print(PrintCallback print, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  print(format, ap);
  va_end(ap);
}

template <typename Params>
int Finish(int stage, Params* p) {
  if (g.failStage != stage) return 0;
  int base = stage * 1000;
  int n = g.error;
  // A message without a line end: the closing stars follow on its line.
  Report(p->error, base + n, "Stage %d failed with %s", stage, "a stand-in error");
  if (g.reportTwice) {
    ++n;
    Report(p->error, base + n, "Closing failed too.\n");
  }
  if (g.throwAbort) throw StageAbort{n};
  return n;
}

int FakePlanner(PlanParams* p) {
  g.calls.push_back(1);
  g.plan = *p;
  Print(p->print, "planner level %d\n", 0);
  Print(p->progress, "planner progress\n");
  p->driverInfo = DriverInfo{};
  p->driverInfo.SetExecType(g.execType);
  std::snprintf(p->statusToken, sizeof p->statusToken, "TOKEN");
  std::snprintf(p->firmwareFileName, sizeof p->firmwareFileName, "DRV.$$$");
  std::snprintf(p->libraryDirUsed, sizeof p->libraryDirUsed, "LIB/");
  p->rpFilesSubmitted = 4;
  return Finish(1, p);
}

int FakeLinker(LinkParams* p) {
  g.calls.push_back(2);
  g.link = *p;
  p->programUsed = g.programUsed;
  p->dataUsed = g.dataUsed;
  p->programCapacity = g.programCapacity;
  p->dataCapacity = g.dataCapacity;
  return Finish(2, p);
}

int FakeImageBuilder(ImageParams* p) {
  g.calls.push_back(3);
  g.image = *p;
  p->driverCodeBytes = g.driverCodeBytes;
  p->firmwareSpace = 0;
  p->gfbUsed = g.gfbUsed;
  p->gfbTotal = g.gfbTotal;
  p->gfbUsedWide = g.gfbUsed;
  p->gfbTotalWide = g.gfbTotal;
  return Finish(3, p);
}

const StageEntries kStandIns = {FakePlanner, FakeLinker, FakeImageBuilder};

class RunControl : public ::testing::Test {
 protected:
  void SetUp() override {
    g = Script{};
    SetStageEntries(&kStandIns);
    std::memset(message, 'Z', sizeof message);
  }
  void TearDown() override {
    SetStageEntries(nullptr);
    platform::ClearFaults();
  }

  int RunVarnel(uint64_t length = 200, int logLevel = 3, const char* download = "JOB.DL") {
    return Varnel("JOB.ARG", "LIBDIR/", dir.Path().c_str(), "RUN.LOG", "JOB.SUB", download,
                  logLevel, message, length);
  }
  int RunFbFit(uint64_t length = 200) {
    return FbFit("JOB.ARG", nullptr, dir.Path().c_str(), "RUN.LOG", "JOB.SUB", "IGNORED.DL", 2,
                 message, length, 77, 5, 99, 0x44, 24);
  }
  std::string Log() const { return ReadFile(dir / "RUN.LOG"); }
  std::string Message() const { return std::string(message, strnlen(message, sizeof message)); }

  TempDir dir;
  char message[400];
};

TEST_F(RunControl, NoMessageBufferEndsAtOnceWithoutALog) {
  EXPECT_EQ(Varnel("JOB.ARG", nullptr, dir.Path().c_str(), "RUN.LOG", "JOB.SUB", "JOB.DL", 3,
                   nullptr, 100),
            8);
  EXPECT_EQ(FbFit("JOB.ARG", nullptr, dir.Path().c_str(), "RUN.LOG", "JOB.SUB", nullptr, 3,
                  nullptr, 100, 0, 5, 0, 1, 24),
            7);
  EXPECT_TRUE(g.calls.empty());
  EXPECT_FALSE(Exists(dir / "RUN.LOG"));
}

TEST_F(RunControl, SuccessfulVarnelWritesTheOpeningTextAndEmptiesTheMessage) {
  EXPECT_EQ(RunVarnel(), 0);
  EXPECT_EQ(Log(), Crlf(kOpening + "planner level 0\nplanner progress\n"));
  EXPECT_EQ(g.calls, (std::vector<int>{1, 2}));  // Exec type 1: no stage 3
  // Empty: the first byte is a NUL, the rest is the caller's.
  EXPECT_EQ(message[0], '\0');
  EXPECT_EQ(message[1], 'Z');
}

TEST_F(RunControl, RecordsCarryTheCallersArguments) {
  g.execType = 5;
  ASSERT_EQ(RunVarnel(200, -2), 0);
  EXPECT_EQ(g.calls, (std::vector<int>{1, 2, 3}));
  EXPECT_STREQ(g.plan.argFileName, "JOB.ARG");
  EXPECT_STREQ(g.plan.submitFileName, "JOB.SUB");
  EXPECT_STREQ(g.plan.workDir, dir.Path().c_str());
  EXPECT_STREQ(g.plan.libraryDir, "LIBDIR/");
  EXPECT_EQ(g.plan.logLevel, -2);
  EXPECT_EQ(g.plan.callerExec, 0);
  EXPECT_EQ(g.plan.callerModuleType, 0);
  EXPECT_EQ(g.plan.callerMemoryK, 0);
  EXPECT_EQ(g.plan.print, &LogPrint);
  EXPECT_EQ(g.plan.progress, &LogPrint);
  EXPECT_EQ(g.plan.error, &ReportError);

  EXPECT_STREQ(g.link.submitFileName, "JOB.SUB");
  EXPECT_STREQ(g.link.outputFileName, "JOB.DL");
  EXPECT_EQ(g.link.execType, 5);
  EXPECT_EQ(g.link.logLevel, -2);
  EXPECT_EQ(g.link.error, &ReportError);

  EXPECT_STREQ(g.image.outputFileName, "JOB.DL");
  EXPECT_EQ(g.image.statusToken, LastPlanParams().statusToken);
  EXPECT_EQ(g.image.firmwareFileName, LastPlanParams().firmwareFileName);
  EXPECT_STREQ(g.image.firmwareFileName, "DRV.$$$");
  EXPECT_STREQ(g.image.argFileName, "JOB.ARG");
  EXPECT_STREQ(g.image.libraryDir, "LIBDIR/");
  EXPECT_STREQ(g.image.plannerLibraryDir, "LIB/");
  EXPECT_EQ(g.image.rpFilesSubmitted, 4);
  EXPECT_EQ(g.image.memoryK, 0);
  EXPECT_EQ(g.image.print, &LogPrint);

  // A negative log level still leaves the opening text and the stages' lines.
  EXPECT_EQ(Log(), Crlf(kOpening + "planner level 0\nplanner progress\n"));
}

TEST_F(RunControl, FbFitPassesTheModuleFiguresAndNoDownloadFile) {
  g.execType = 5;
  g.gfbTotal = 1024;
  ASSERT_EQ(RunFbFit(), 0);
  EXPECT_EQ(g.plan.callerExec, 5);
  EXPECT_EQ(g.plan.callerModuleType, 0x44);
  EXPECT_EQ(g.plan.callerMemoryK, 24);
  EXPECT_EQ(g.plan.libraryDir, nullptr);
  EXPECT_EQ(g.link.outputFileName, nullptr);
  EXPECT_EQ(g.image.outputFileName, nullptr);
  EXPECT_EQ(g.image.libraryDir, nullptr);
  EXPECT_EQ(g.image.memoryK, 24);
}

TEST_F(RunControl, VarnelWithoutDownloadFileStillRunsEveryStage) {
  g.execType = 5;
  EXPECT_EQ(RunVarnel(200, 3, nullptr), 0);
  EXPECT_EQ(g.calls, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(g.link.outputFileName, nullptr);
  EXPECT_EQ(g.image.outputFileName, nullptr);
}

TEST_F(RunControl, AFailingStageEndsTheCallWithItsCode) {
  struct Case {
    bool fit;
    int stage;
    int error;
    int16_t execType;
    int result;
    int code;  // in the block and the message text
    std::vector<int> calls;
  };
  const Case cases[] = {
      {false, 1, 6, 1, 1006, 1006, {1}},
      {true, 1, 16, 5, 1016, 1016, {1}},
      {false, 2, 1, 1, 2001, 2001, {1, 2}},
      {true, 2, 1, 1, 1, 2001, {1, 2}},  // the FBs do not fit
      {true, 2, 3, 1, 2003, 2003, {1, 2}},
      {false, 2, 9, 5, 2009, 2009, {1, 2}},
      {false, 3, 7, 5, 3007, 3007, {1, 2, 3}},
      {true, 3, 1, 5, 3001, 3001, {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << (c.fit ? "FbFit" : "Varnel") << " stage " << c.stage
                                      << " error " << c.error);
    g = Script{};
    g.failStage = c.stage;
    g.error = c.error;
    g.execType = c.execType;
    WriteFile(dir / "LEFT.$$$", "x");
    std::memset(message, 'Z', sizeof message);
    EXPECT_EQ(c.fit ? RunFbFit() : RunVarnel(), c.result);
    EXPECT_EQ(g.calls, c.calls);
    std::string text = "Stage " + std::to_string(c.stage) + " failed with a stand-in error";
    EXPECT_EQ(Message(), Header(c.code) + text);
    EXPECT_EQ(message[Message().size()], '\0');
    EXPECT_EQ(Log(), Crlf(kOpening + "planner level 0\nplanner progress\n" +
                          ErrorBlock(c.code, text)));
    EXPECT_TRUE(Exists(dir / "LEFT.$$$"));  // kept for inspection
  }
}

TEST_F(RunControl, TheLastErrorReportedWins) {
  for (bool thrown : {false, true}) {
    SCOPED_TRACE(thrown ? "thrown" : "returned");
    g = Script{};
    g.failStage = 2;
    g.error = 4;
    g.reportTwice = true;
    g.throwAbort = thrown;
    EXPECT_EQ(RunVarnel(), 2005);
    EXPECT_EQ(Message(), Header(2005) + "Closing failed too.\n");
    EXPECT_EQ(Log(), Crlf(kOpening + "planner level 0\nplanner progress\n" +
                          ErrorBlock(2004, "Stage 2 failed with a stand-in error") +
                          ErrorBlock(2005, "Closing failed too.\n")));
  }
}

int LinkerThatThrows(LinkParams*) { throw std::bad_alloc(); }

TEST_F(RunControl, AnythingEscapingAStageEndsThatStageOnly) {
  const StageEntries throwing = {FakePlanner, LinkerThatThrows, FakeImageBuilder};
  SetStageEntries(&throwing);
  WriteFile(dir / "KEEP.$$$", "t");
  EXPECT_EQ(RunVarnel(), 2000);
  EXPECT_EQ(Message(), Header(2000) + "Internal error.");
  EXPECT_EQ(Log(), Crlf(kOpening + "planner level 0\nplanner progress\n" +
                        ErrorBlock(2000, "Internal error.")));
  EXPECT_TRUE(Exists(dir / "KEEP.$$$"));
}

TEST_F(RunControl, LogThatCannotBeOpenedGives102NamingThePath) {
  // A directory in place of the log file.
  std::string path = dir.Path() + "SUB";
  ASSERT_TRUE(std::filesystem::create_directory(path.c_str()));
  EXPECT_EQ(Varnel("JOB.ARG", nullptr, dir.Path().c_str(), "SUB", "JOB.SUB", nullptr, 3, message,
                   sizeof message),
            102);
  EXPECT_EQ(Message(), Header(102) + "Can't open log file \"" + path + "\". ");
  EXPECT_TRUE(g.calls.empty());
}

TEST_F(RunControl, LogHeldByAnotherWriterIsLeftAsItWas) {
  platform::Stream* holder = platform::Open((dir / "RUN.LOG").c_str(), "w");
  ASSERT_NE(holder, nullptr);
  ASSERT_TRUE(platform::WriteText(holder, "earlier log\n"));
  ASSERT_TRUE(platform::Flush(holder));
  EXPECT_EQ(RunVarnel(), 102);
  EXPECT_EQ(Message(), Header(102) + "Can't open log file \"" + (dir / "RUN.LOG") + "\". ");
  EXPECT_TRUE(g.calls.empty());
  EXPECT_EQ(Log(), "earlier log\r\n");
  EXPECT_TRUE(platform::Close(holder));
}

// While the call runs, others may read the log but not write it.
int PlannerProbingTheLog(PlanParams* p) {
  std::string path = std::string(p->workDir) + "RUN.LOG";
  platform::Stream* writer = platform::Open(path.c_str(), "w");
  platform::Stream* reader = platform::Open(path.c_str(), "r");
  g.calls.push_back(writer == nullptr && reader != nullptr ? 1 : -1);
  if (writer) platform::Close(writer);
  if (reader) platform::Close(reader);
  p->driverInfo.SetExecType(1);
  return 0;
}

TEST_F(RunControl, TheOpenLogDeniesOtherWriters) {
  const StageEntries probing = {PlannerProbingTheLog, FakeLinker, FakeImageBuilder};
  SetStageEntries(&probing);
  EXPECT_EQ(RunVarnel(), 0);
  EXPECT_EQ(g.calls, (std::vector<int>{1, 2}));
  EXPECT_EQ(Log(), Crlf(kOpening));
}

TEST_F(RunControl, LogPathOverTheLimitIsNotOpened) {
  // Every component is a valid name and the directories exist, so only the
  // length keeps the log from being written.
  std::string work = dir.Path() + std::string(120, 'a') + "/";
  ASSERT_TRUE(std::filesystem::create_directory(work.c_str()));
  work += std::string(120, 'b') + "/";
  ASSERT_TRUE(std::filesystem::create_directory(work.c_str()));
  std::string name = "RUN.LOG";
  std::string path = work + name;
  ASSERT_GT(path.size(), 255u);
  EXPECT_EQ(Varnel("JOB.ARG", nullptr, work.c_str(), name.c_str(), "JOB.SUB", nullptr, 3, message,
                   sizeof message),
            102);
  EXPECT_EQ(Message(), Header(102) + "Can't open log file \"" + path + "\". ");
  EXPECT_FALSE(Exists(path));
  EXPECT_TRUE(g.calls.empty());
}

TEST_F(RunControl, MissingTextArgumentsCountAsEmpty) {
  // No log file name: the log path is the working directory itself.
  EXPECT_EQ(FbFit(nullptr, nullptr, dir.Path().c_str(), nullptr, nullptr, nullptr, 3, message,
                  sizeof message, 0, 0, 0, 0, 0),
            102);
  EXPECT_EQ(Message(), Header(102) + "Can't open log file \"" + dir.Path() + "\". ");

  // With a log, the stages receive empty texts rather than NULL.
  ASSERT_EQ(Varnel(nullptr, nullptr, dir.Path().c_str(), "RUN.LOG", nullptr, nullptr, 3, message,
                   sizeof message),
            0);
  ASSERT_NE(g.plan.argFileName, nullptr);
  EXPECT_STREQ(g.plan.argFileName, "");
  ASSERT_NE(g.plan.submitFileName, nullptr);
  EXPECT_STREQ(g.plan.submitFileName, "");
  ASSERT_NE(g.link.submitFileName, nullptr);
  EXPECT_STREQ(g.link.submitFileName, "");
}

TEST_F(RunControl, MessageTextIsCopiedBoundedByTheCallersLength) {
  g.failStage = 1;
  g.error = 6;
  const std::string full = Header(1006) + "Stage 1 failed with a stand-in error";
  for (uint64_t length : {0u, 1u, 21u, 22u, 200u}) {
    SCOPED_TRACE(length);
    std::memset(message, 'Z', sizeof message);
    EXPECT_EQ(RunVarnel(length), 1006);
    std::string expected = full.substr(0, std::min<size_t>(length, full.size()));
    if (length > full.size()) expected.append(length - full.size(), '\0');
    EXPECT_EQ(std::string(message, length), expected);
    EXPECT_EQ(message[length], 'Z');  // nothing beyond the declared length
  }
}

TEST_F(RunControl, NothingReachesTheBufferAfterTheCall) {
  ASSERT_EQ(RunVarnel(), 0);
  std::memset(message, 'Z', sizeof message);
  ReportErrorf("%s", 1001, "late");
  LogPrintf("late\n");
  EXPECT_EQ(message[0], 'Z');
}

TEST(VarnelGetVersion, CopiesBoundedByTheLength) {
  struct Case {
    uint64_t length;
    std::string expected;
  };
  const Case cases[] = {
      {0, ""},
      {1, "V"},
      {21, kVersion},
      {22, kVersion + std::string(1, '\0')},
      {30, kVersion + std::string(9, '\0')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    char buffer[40];
    std::memset(buffer, 'Z', sizeof buffer);
    VarnelGetVersion(buffer, c.length);
    EXPECT_EQ(std::string(buffer, c.length), c.expected);
    EXPECT_EQ(buffer[c.length], 'Z');
  }
  VarnelGetVersion(nullptr, 100);  // nothing to write into
}

TEST_F(RunControl, SuccessDeletesEveryTemporaryFileAndFailureNone) {
  const std::vector<std::string> temporary = {"A.$$$", "b.$$~", "OLD.$$X", "JOB.$$$"};
  const std::vector<std::string> kept = {"KEEP.TXT", "TWO.$$", "LONG.$$$$", "X$$$", "NOTE.$$$.TXT"};
  auto make = [&] {
    for (const auto& n : temporary) WriteFile(dir / n, "t");
    for (const auto& n : kept) WriteFile(dir / n, "k");
  };

  make();
  g.failStage = 3;
  g.error = 2;
  g.execType = 5;
  EXPECT_EQ(RunVarnel(), 3002);
  for (const auto& n : temporary) EXPECT_TRUE(Exists(dir / n)) << n;

  g = Script{};
  EXPECT_EQ(RunVarnel(), 0);
  for (const auto& n : temporary) EXPECT_FALSE(Exists(dir / n)) << n;
  for (const auto& n : kept) EXPECT_TRUE(Exists(dir / n)) << n;
}

TEST_F(RunControl, CleanUpLeavesTheOpenLogInPlace) {
  WriteFile(dir / "OTHER.$$$", "t");
  ASSERT_EQ(Varnel("JOB.ARG", nullptr, dir.Path().c_str(), "run.$$$", "JOB.SUB", nullptr, 3,
                   message, sizeof message),
            0);
  EXPECT_EQ(ReadFile(dir / "run.$$$"), Crlf(kOpening + "planner level 0\nplanner progress\n"));
  EXPECT_FALSE(Exists(dir / "OTHER.$$$"));
}

TEST_F(RunControl, FailedLogIsReportedAs103WithoutChangingTheResult) {
  const std::string text103 = Header(103) + "The log file could not be closed.";
  const std::string logPath = dir / "RUN.LOG";
  struct Case {
    platform::FaultOp op;
    bool blockInLog;  // the log was still open when the failure was noticed
  };
  const Case cases[] = {
      {platform::FaultOp::Write, true},
      {platform::FaultOp::Flush, true},
      {platform::FaultOp::Close, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.op));
    platform::ClearFaults();
    platform::InjectFault(logPath.c_str(), c.op);
    std::memset(message, 'Z', sizeof message);
    WriteFile(dir / "T.$$$", "t");
    EXPECT_EQ(RunVarnel(), 0);
    EXPECT_EQ(Message(), text103);
    EXPECT_FALSE(Exists(dir / "T.$$$"));  // the call itself succeeded
    std::string log = Log();
    std::string block = Crlf(ErrorBlock(103, "The log file could not be closed."));
    bool hasBlock = log.size() >= block.size() &&
                    log.compare(log.size() - block.size(), block.size(), block) == 0;
    EXPECT_EQ(hasBlock, c.blockInLog) << log;
  }
}

TEST_F(RunControl, LogOnAFullDeviceIsReportedAs103) {
  ASSERT_EQ(Varnel("JOB.ARG", nullptr, "/dev/", "full", "JOB.SUB", nullptr, 3, message,
                   sizeof message),
            0);
  EXPECT_EQ(Message(), Header(103) + "The log file could not be closed.");
}

TEST_F(RunControl, FbFitSummaryReplacesA103Text) {
  g.programUsed = 1;
  g.programCapacity = 3;
  platform::InjectFault((dir / "RUN.LOG").c_str(), platform::FaultOp::Write);
  EXPECT_EQ(RunFbFit(), 0);
  EXPECT_EQ(Message(), "Program size is 1 of 3 (33%)\nData size is 0 of 0 (0%)\n");
}

TEST_F(RunControl, FbFitSummary) {
  struct Case {
    const char* name;
    int16_t execType;
    uint32_t programUsed, programCapacity, dataUsed, dataCapacity;
    uint32_t gfbTotal, gfbUsed, driverCode;
    int result;
    std::string summary;
  };
  const Case cases[] = {
      {"program and data", 1, 1, 3, 2048, 4096, 0, 0, 0, 0,
       "Program size is 1 of 3 (33%)\nData size is 2048 of 4096 (50%)\n"},
      {"empty capacities", 3, 10, 0, 5, 0, 0, 0, 0, 0,
       "Program size is 10 of 0 (0%)\nData size is 5 of 0 (0%)\n"},
      // In single precision 16777216 * 100 / 16777217 is exactly 100.
      {"single precision", 6, 16777216, 16777217, 0, 1, 0, 0, 0, 0,
       "Program size is 16777216 of 16777217 (100%)\nData size is 0 of 1 (0%)\n"},
      {"over capacity", 2, 4000000000u, 1, 0, 1, 0, 0, 0, 0,
       "Program size is 4000000000 of 1 (399999991808%)\nData size is 0 of 1 (0%)\n"},
      {"GFB halves round up", 5, 0, 0, 0, 0, 4096, 2304, 2304, 0,
       "Module's total GFB memory\t=    4.0 Kbytes.\n"
       "GFB memory used\t\t=    2.3 Kbytes (56.3%).\n"
       "Trend memory available\t=    1.8 Kbytes (43.8%).\n\n"
       "Exec & Mod. Driver code\t=    2.3 Kbytes.\n"},
      {"GFB exact fit", 5, 0, 0, 0, 0, 16384, 16384, 6000, 0,
       "Module's total GFB memory\t=   16.0 Kbytes.\n"
       "GFB memory used\t\t=   16.0 Kbytes (100.0%).\n"
       "Trend memory available\t=    0.0 Kbytes ( 0.0%).\n\n"
       "Exec & Mod. Driver code\t=    5.9 Kbytes.\n"},
      {"GFB one byte over", 5, 0, 0, 0, 0, 16384, 16385, 6000, 1,
       "Module's total GFB memory\t=   16.0 Kbytes.\n"
       "GFB memory used\t\t=   16.0 Kbytes (100.0%).\n"
       "*** This GFB configuration exceeds the module's available memory. ***\n\n"},
      {"GFB none at all", 5, 0, 0, 0, 0, 0, 0, 0, 0,
       "Module's total GFB memory\t=    0.0 Kbytes.\n"
       "GFB memory used\t\t=    0.0 Kbytes ( 0.0%).\n"
       "Trend memory available\t=    0.0 Kbytes ( 0.0%).\n\n"
       "Exec & Mod. Driver code\t=    0.0 Kbytes.\n"},
      {"GFB used without total", 5, 0, 0, 0, 0, 0, 512, 0, 1,
       "Module's total GFB memory\t=    0.0 Kbytes.\n"
       "GFB memory used\t\t=    0.5 Kbytes ( 0.0%).\n"
       "*** This GFB configuration exceeds the module's available memory. ***\n\n"},
      // 2147483748 becomes 2147483648 in single precision: 2097152.0, not .1.
      {"GFB large figures", 5, 0, 0, 0, 0, 2147483748u, 0, 0, 0,
       "Module's total GFB memory\t= 2097152.0 Kbytes.\n"
       "GFB memory used\t\t=    0.0 Kbytes ( 0.0%).\n"
       "Trend memory available\t= 2097152.0 Kbytes (100.0%).\n\n"
       "Exec & Mod. Driver code\t=    0.0 Kbytes.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g = Script{};
    g.execType = c.execType;
    g.programUsed = c.programUsed;
    g.programCapacity = c.programCapacity;
    g.dataUsed = c.dataUsed;
    g.dataCapacity = c.dataCapacity;
    g.gfbTotal = c.gfbTotal;
    g.gfbUsed = c.gfbUsed;
    g.driverCodeBytes = c.driverCode;
    std::memset(message, 'Z', sizeof message);
    EXPECT_EQ(RunFbFit(), c.result);
    EXPECT_EQ(Message(), c.summary);
    // The summary is not written to the log.
    EXPECT_EQ(Log(), Crlf(kOpening + "planner level 0\nplanner progress\n"));
  }
}

TEST_F(RunControl, FbFitSummaryIsCopiedBoundedToo) {
  g.programUsed = 1;
  g.programCapacity = 3;
  const std::string full = "Program size is 1 of 3 (33%)\nData size is 0 of 0 (0%)\n";
  EXPECT_EQ(RunFbFit(21), 0);
  EXPECT_EQ(std::string(message, 22), full.substr(0, 21) + "Z");
  std::memset(message, 'Z', sizeof message);
  EXPECT_EQ(RunFbFit(0), 0);
  EXPECT_EQ(message[0], 'Z');
}

#if !defined(_WIN32)
TEST(SharedLibrary, ExportsOnlyTheFourEntries) {
  std::string command = std::string("nm -D --defined-only '") + VARNEL_SHARED_LIBRARY + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::set<std::string> names;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    // "address type name"; a name may carry "@version".
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    size_t space = s.find_last_of(' ');
    names.insert(space == std::string::npos ? s : s.substr(space + 1));
  }
  ASSERT_EQ(pclose(pipe), 0);
  EXPECT_EQ(names, (std::set<std::string>{"FbFit", "Varnel", "VarnelGetDriverData", "VarnelGetVersion"}));
}
#endif

}  // namespace
}  // namespace varnel
