// Run control: the exports Varnel, FbFit and VarnelGetVersion, the log, the
// message text and the order of the stages.
#include "runctl.h"

#include <cmath>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "figures.h"
#include "files.h"
#include "format.h"
#include "image.h"
#include "linker.h"
#include "planner.h"
#include "platform/platform.h"
#include "varnel.h"

namespace varnel {
namespace {

constexpr const char* kLogNote =
    "\nPlease note: This log file is primarily technical in nature.\n"
    "Your best source of information for solving problems is the error message \n"
    "box that popped up before this log was built.  The message box contains \n"
    "information about what happened and suggestions for things to check. \n"
    "This file contains detailed information to allow Tech Support to analyze \n"
    "problems that cannot be solved otherwise.   For your convenience, the \n"
    "text of the error message box is included in this file under the heading \n"
    "\"ERROR MESSAGE BOX TEXT\".\n\n";

constexpr const char* kStarLine =
    "***********************************************************************\n";
constexpr const char* kBannerLine =
    "************************* ERROR MESSAGE BOX TEXT **********************\n";
constexpr const char* kErrorHeader = "%s, Error %d:\n";

constexpr int kNoBufferVarnel = 8;
constexpr int kNoBufferFbFit = 7;
constexpr int kLogOpenFailed = 102;
constexpr int kLogCloseFailed = 103;

constexpr StageEntries kRealStages = {RunPlanner, RunLinker, RunImageBuilder};

// The whole state of a link call; SerialCall lets one call run at a time.
struct RunState {
  char* message = nullptr;
  uint64_t messageLength = 0;
  // The working directory, held from before the log opens until after it
  // closes, so that a call of another process waits for this one.
  platform::DirectoryLock* workDirLock = nullptr;
  platform::Stream* log = nullptr;
  // What the call has reached; the result if something unforeseen stops it.
  int result = 0;
  PlanParams plan{};
  LinkParams link{};
  ImageParams image{};
  StageEntries stages = kRealStages;
};

RunState& State() {
  static RunState state;
  return state;
}

// SerialCall's.  Set up at its first use (not every runtime can build a
// mutex at compile time), which the language makes safe for several threads.
std::mutex& CallMutex() {
  static std::mutex mutex;
  return mutex;
}

// The caller's copy of a text: shorter texts are NUL-filled to the length,
// longer ones fill it without a NUL.
void CopyToCaller(char* buffer, uint64_t length, const char* text, size_t textLength) {
  uint64_t i = 0;
  for (; i < length && i < textLength; ++i) buffer[i] = text[i];
  for (; i < length; ++i) buffer[i] = '\0';
}

void SetMessageText(const std::string& text) {
  RunState& st = State();
  if (st.message == nullptr) return;
  CopyToCaller(st.message, st.messageLength, text.data(), text.size());
}

int OpenLog(const std::string& path, const char* mode) {
  RunState& st = State();
  st.log = OpenShared(path.c_str(), mode);
  if (st.log == nullptr) {
    ReportErrorf("Can't open log file \"%s\". ", kLogOpenFailed, path.c_str());
    return kLogOpenFailed;
  }
  return 0;
}

// A log whose writes, flush or close failed is incomplete: say so while the
// log can still take the block, and in the message text in any case.
void CloseLog() {
  RunState& st = State();
  if (st.log == nullptr) return;
  if (!platform::Flush(st.log) || platform::Failed(st.log)) {
    ReportErrorf("%s", kLogCloseFailed, "The log file could not be closed.");
    platform::Close(st.log);
    st.log = nullptr;
    return;
  }
  platform::Stream* log = st.log;
  st.log = nullptr;
  if (!platform::Close(log)) {
    ReportErrorf("%s", kLogCloseFailed, "The log file could not be closed.");
  }
}

void DeleteTempFiles(const char* directory) {
  RunState& st = State();
  std::vector<std::string> names = platform::FindFiles(directory, "*.$$?");
  for (const std::string& name : names) {
    std::string path = std::string(directory) + name;
    // Deleting the open log would lose it on POSIX and fail on Windows; a
    // file of the same name is no reason to spare another.
    if (st.log != nullptr && platform::IsStreamFile(st.log, path.c_str())) continue;
    platform::Remove(path.c_str());
  }
}

// The "%d" form: the quotient truncated toward zero.  It can exceed the
// range of an int when the capacity is tiny, so it is printed from 64 bits.
int64_t WholePercent(uint32_t part, uint32_t whole) {
  return static_cast<int64_t>(std::trunc(Percent(part, whole)));
}

int BuildFitSummary() {
  RunState& st = State();
  std::string text;
  int result = 0;
  if (st.plan.driverInfo.ExecType() == 5) {
    uint32_t total = st.image.gfbTotal;
    uint32_t used = st.image.gfbUsed;
    text += Format("Module's total GFB memory\t= %6.1f Kbytes.\n", Kbytes(total));
    text += Format("GFB memory used\t\t= %6.1f Kbytes (%4.1f%%).\n", Kbytes(used),
                   Percent(used, total));
    // Both figures clip at 4 GiB; whether the use exceeds the total is
    // judged on the figures stage 3 judged.
    if (st.image.gfbUsedWide > st.image.gfbTotalWide) {
      text += "*** This GFB configuration exceeds the module's available memory. ***\n\n";
      result = 1;
    } else {
      text += Format("Trend memory available\t= %6.1f Kbytes (%4.1f%%).\n\n", Kbytes(total - used),
                     Percent(total - used, total));
      text += Format("Exec & Mod. Driver code\t= %6.1f Kbytes.\n", Kbytes(st.image.driverCodeBytes));
    }
  } else {
    const LinkParams& l = st.link;
    text = Format("Program size is %u of %u (%lld%%)\nData size is %u of %u (%lld%%)\n",
                  l.programUsed, l.programCapacity,
                  static_cast<long long>(WholePercent(l.programUsed, l.programCapacity)),
                  l.dataUsed, l.dataCapacity,
                  static_cast<long long>(WholePercent(l.dataUsed, l.dataCapacity)));
  }
  SetMessageText(text);
  return result;
}

// Runs one stage entry and gives the call's result code for it: 0, or the
// stage's error number plus its base.  A stage reports its own errors; one
// that lets something escape still ends as a failure of that stage.
template <typename Params>
int RunStage(int (*entry)(Params*), Params* params, int base) {
  try {
    int n = entry(params);
    return n == 0 ? 0 : base + n;
  } catch (const StageAbort& abort) {
    if (abort.error > 0) return base + abort.error;
  } catch (...) {
  }
  ReportErrorf("%s", base, "Internal error.");
  return base;
}

struct CallArgs {
  const char* argFile;
  const char* libraryDir;
  const char* workDir;
  const char* logFile;
  const char* submitFile;
  const char* downloadFile;
  int logLevel;
  char* message;
  uint64_t messageLength;
  bool fit;
  uint16_t execMajor;
  uint16_t moduleType;
  int memoryK;
};

// Every record begins with the log level and the same three callbacks.
template <typename Params>
void FillCallbacks(Params& p, int logLevel) {
  p.logLevel = logLevel;
  p.print = LogPrint;
  p.progress = LogPrint;
  p.error = ReportError;
}

const char* TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

int RunLinkCall(const CallArgs& a) {
  RunState& st = State();
  st.message = a.message;
  st.messageLength = a.messageLength;
  st.result = kLogOpenFailed;
  if (a.messageLength > 0) a.message[0] = '\0';

  const char* argFile = TextOrEmpty(a.argFile);
  const char* workDir = TextOrEmpty(a.workDir);
  const char* logFile = TextOrEmpty(a.logFile);
  const char* submitFile = TextOrEmpty(a.submitFile);
  const char* downloadFile = a.fit ? nullptr : a.downloadFile;

  st.workDirLock = platform::LockDirectory(workDir);
  if (OpenLog(std::string(workDir) + logFile, "w") != 0) return kLogOpenFailed;
  st.result = 0;
  LogPrintf("%s", kVersionText);
  LogPrintf("\n");
  LogPrintf("%s", kLogNote);

  PlanParams& plan = st.plan;
  plan.argFileName = argFile;
  plan.submitFileName = submitFile;
  FillCallbacks(plan, a.logLevel);
  plan.workDir = workDir;
  plan.libraryDir = a.libraryDir;
  plan.callerExec = a.fit ? a.execMajor : 0;
  plan.callerModuleType = a.fit ? a.moduleType : 0;
  plan.callerMemoryK = a.fit ? a.memoryK : 0;
  st.result = RunStage(st.stages.planner, &plan, kPlannerErrorBase);
  if (st.result != 0) {
    CloseLog();
    return st.result;
  }
  const int16_t execType = plan.driverInfo.ExecType();

  LinkParams& link = st.link;
  link.submitFileName = submitFile;
  link.outputFileName = downloadFile;
  FillCallbacks(link, a.logLevel);
  link.execType = execType;
  link.workDir = workDir;
  st.result = RunStage(st.stages.linker, &link, kLinkerErrorBase);
  if (st.result != 0) {
    // For a fit check a region that cannot be placed just means "does not fit".
    if (a.fit && st.result == kLinkerErrorBase + kLinkerErrorNoFit) st.result = 1;
    CloseLog();
    return st.result;
  }

  if (execType == 5) {
    ImageParams& image = st.image;
    image.outputFileName = downloadFile;
    FillCallbacks(image, a.logLevel);
    image.statusToken = plan.statusToken;
    image.firmwareFileName = plan.firmwareFileName;
    image.workDir = workDir;
    image.argFileName = argFile;
    image.libraryDir = a.libraryDir;
    image.memoryK = a.fit ? a.memoryK : 0;
    image.plannerLibraryDir = plan.libraryDirUsed;
    image.rpFilesSubmitted = plan.rpFilesSubmitted;
    st.result = RunStage(st.stages.imageBuilder, &image, kImageErrorBase);
    if (st.result != 0) {
      CloseLog();
      return st.result;
    }
  }

  DeleteTempFiles(workDir);
  CloseLog();
  if (!a.fit) return 0;
  st.result = BuildFitSummary();
  return st.result;
}

// What the platform layer learns of the directories during one call, and
// only during it.
struct CallCacheScope {
  CallCacheScope() { platform::BeginCallCache(); }
  ~CallCacheScope() { platform::EndCallCache(); }
  CallCacheScope(const CallCacheScope&) = delete;
  CallCacheScope& operator=(const CallCacheScope&) = delete;
};

// Every export ends here: no exception leaves the library, no stream stays
// open, the working directory is free again, and no later report writes
// into the caller's buffer.
int GuardedLinkCall(const CallArgs& a) {
  SerialCall serial;
  RunState& st = State();
  int result;
  {
    // What the call kept of its directories goes before another process
    // may have the working directory.
    CallCacheScope cache;
    try {
      result = RunLinkCall(a);
    } catch (...) {
      result = st.result;
      if (st.log != nullptr) platform::Close(st.log);
      st.log = nullptr;
    }
  }
  platform::UnlockDirectory(st.workDirLock);
  st.workDirLock = nullptr;
  st.message = nullptr;
  st.messageLength = 0;
  return result;
}

}  // namespace

SerialCall::SerialCall() noexcept {
  try {
    CallMutex().lock();
    return;
  } catch (...) {
  }
  // lock() fails only when the system cannot set the mutex up; taking turns
  // by polling still keeps the calls apart.
  while (!CallMutex().try_lock()) std::this_thread::yield();
}

SerialCall::~SerialCall() { CallMutex().unlock(); }

void LogPrint(const char* format, va_list args) {
  RunState& st = State();
  if (st.log == nullptr) return;
  try {
    platform::VPrintf(st.log, format, args);
  } catch (...) {
    // A line that cannot even be formed is lost; the stage goes on.
  }
}

void LogPrintf(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  LogPrint(format, ap);
  va_end(ap);
}

void ReportError(const char* format, int code, va_list args) {
  RunState& st = State();
  try {
    std::string text = Format(kErrorHeader, kVersionText, code);
    va_list copy;
    va_copy(copy, args);
    text += VFormat(format, copy);
    va_end(copy);
    if (st.log != nullptr) {
      platform::WriteText(st.log, kStarLine);
      platform::WriteText(st.log, kBannerLine);
      platform::WriteText(st.log, kStarLine);
      platform::Write(st.log, text.data(), text.size());
      platform::WriteText(st.log, kStarLine);
    }
    SetMessageText(text);
  } catch (...) {
    // Out of memory while forming the text: the code still reaches the caller.
  }
}

void ReportErrorf(const char* format, int code, ...) {
  va_list ap;
  va_start(ap, code);
  ReportError(format, code, ap);
  va_end(ap);
}

#if defined(VARNEL_TEST_SEAMS)
void SetStageEntries(const StageEntries* entries) {
  State().stages = entries != nullptr ? *entries : kRealStages;
}

PlanParams& LastPlanParams() { return State().plan; }
#endif

}  // namespace varnel

extern "C" VARNEL_API void VarnelGetVersion(char* buffer, uint64_t length) {
  if (buffer == nullptr) return;
  varnel::CopyToCaller(buffer, length, varnel::kVersionText, std::strlen(varnel::kVersionText));
}

extern "C" VARNEL_API int Varnel(const char* argFile, const char* libraryDir, const char* workDir,
                                 const char* logFile, const char* submitFile,
                                 const char* downloadFile, int logLevel, char* message,
                                 uint64_t messageLength) {
  if (message == nullptr) return varnel::kNoBufferVarnel;
  varnel::CallArgs a{argFile, libraryDir, workDir, logFile, submitFile, downloadFile, logLevel,
                     message, messageLength, false, 0, 0, 0};
  return varnel::GuardedLinkCall(a);
}

extern "C" VARNEL_API int FbFit(const char* argFile, const char* libraryDir, const char* workDir,
                                const char* logFile, const char* submitFile, const char*,
                                int logLevel, char* message, uint64_t messageLength, uint64_t,
                                uint16_t execMajor, uint64_t, uint16_t moduleType, int memoryK) {
  if (message == nullptr) return varnel::kNoBufferFbFit;
  varnel::CallArgs a{argFile, libraryDir, workDir, logFile, submitFile, nullptr, logLevel,
                     message, messageLength, true, execMajor, moduleType, memoryK};
  return varnel::GuardedLinkCall(a);
}
