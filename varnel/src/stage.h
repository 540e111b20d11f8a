// What every stage shares: the records run control hands the three stages,
// the callbacks they print and report through, the exception that ends a
// stage once its error has been reported, and the frame each stage runs its
// steps in.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "driver_info.h"
#include "files.h"

namespace varnel {

// Levelled and progress print: a format and its argument list (format.h
// rules).  Writes one text and adds no line end.
using PrintCallback = void (*)(const char* format, va_list args);
// Error report: the format, the result code of the error and the arguments.
using ErrorCallback = void (*)(const char* format, int code, va_list args);

// Stage 1's record.
struct PlanParams {
  const char* argFileName;
  const char* submitFileName;
  int32_t logLevel;
  PrintCallback print;
  PrintCallback progress;
  ErrorCallback error;
  // results
  DriverInfo driverInfo;
  char statusToken[1001];
  char firmwareFileName[16];
  // inputs
  const char* workDir;
  const char* libraryDir;  // nullptr: take it from the ARG file
  uint16_t callerExec;
  uint16_t callerModuleType;
  int32_t callerMemoryK;
  // results stage 3 needs beyond the classic record: the library directory
  // stage 1 actually used, and how many RP files it submitted (Exec type 5).
  char libraryDirUsed[256];
  int32_t rpFilesSubmitted;
};

// Stage 2's record.
struct LinkParams {
  const char* submitFileName;
  const char* outputFileName;  // nullptr: no download file
  int32_t logLevel;
  PrintCallback print;
  PrintCallback progress;
  ErrorCallback error;
  int32_t execType;
  uint32_t programUsed;
  uint32_t dataUsed;
  uint32_t programCapacity;
  uint32_t dataCapacity;
  const char* workDir;
};

// Stage 3's record.
struct ImageParams {
  const char* outputFileName;  // nullptr: examine mode
  int32_t logLevel;
  PrintCallback print;
  PrintCallback progress;
  ErrorCallback error;
  const char* statusToken;       // PlanParams.statusToken
  const char* firmwareFileName;  // PlanParams.firmwareFileName
  uint32_t driverCodeBytes;
  uint32_t firmwareSpace;
  uint32_t gfbUsed;
  uint32_t gfbTotal;
  const char* workDir;
  const char* argFileName;
  const char* libraryDir;  // the caller's argument, as passed
  int32_t memoryK;
  const char* plannerLibraryDir;  // PlanParams.libraryDirUsed
  int32_t rpFilesSubmitted;       // PlanParams.rpFilesSubmitted
  // gfbUsed and gfbTotal before they are clipped to 32 bits: the figures
  // stage 3's fit check compares, and so does the fit summary.
  uint64_t gfbUsedWide;
  uint64_t gfbTotalWide;
};

// Thrown by a stage's error wrapper once the error has been reported; only
// the stage's own entry catches it, and nothing lets it leave the library.
struct StageAbort {
  int error;
};

// The frame of a stage: its record, its error number and the wrappers its
// steps print and report through.  A stage's state derives from it; its
// entry calls Begin, then Run with its steps and its clean-up.  A callback
// the record leaves null is not called.
template <typename Params>
struct StageFrame {
  // Error n of the stage is reported with messages[n] and the result code
  // errorBase + n.
  StageFrame(int errorBase, const char* const* messages) : errorBase_(errorBase), messages_(messages) {}

  Params* params = nullptr;
  int error = 0;  // the error number the stage ends with; 0 while none

  void Begin(Params* record) {
    params = record;
    error = 0;
  }

  // Whether a line of this level reaches the log.  The test comes before the
  // call: a line the log level leaves out (a link has one per image byte)
  // costs a compare, not a call.
  bool Logs(int level) const {
    return params != nullptr && params->print != nullptr && level <= params->logLevel;
  }

  template <typename... Args>
  void Print(int level, const char* format, Args... args) {
    if (Logs(level)) PrintAlways(format, args...);
  }

  // A line of the log whatever its level.
  template <typename... Args>
  void PrintAlways(const char* format, Args... args) {
    Send(params != nullptr ? params->print : nullptr, format, args...);
  }

  template <typename... Args>
  void Progress(const char* format, Args... args) {
    Send(params != nullptr ? params->progress : nullptr, format, args...);
  }

  // Reports error n with the arguments of its message and ends the stage.
  [[noreturn]] void Fail(int n, ...) {
    if (params != nullptr && params->error != nullptr) {
      va_list ap;
      va_start(ap, n);
      params->error(messages_[n], errorBase_ + n, ap);
      va_end(ap);
    }
    error = n;
    throw StageAbort{n};
  }

  // Opens the file `name` of the record's working directory with varnel's
  // share rule, its path logged first at `level` in `logFormat`.  A file that
  // does not open is error n, naming the file and the directory; so is one
  // whose path is longer than any stage opens, and nothing is logged for it.
  platform::Stream* OpenWorkFile(const char* name, const char* mode, int level, const char* logFormat,
                                 int n) {
    const char* dir = params->workDir != nullptr ? params->workDir : "";
    const char* file = name != nullptr ? name : "";
    const size_t dirLength = std::strlen(dir);
    const size_t fileLength = std::strlen(file);
    platform::Stream* stream = nullptr;
    if (dirLength + fileLength <= kMaxPath) {
      // No allocation: the path is formed where a stage may already be short
      // of memory.
      char path[kMaxPath + 1];
      std::memcpy(path, dir, dirLength);
      std::memcpy(path + dirLength, file, fileLength + 1);
      Print(level, logFormat, path);
      stream = OpenShared(path, mode);
    }
    if (stream == nullptr) Fail(n, name, dir);
    return stream;
  }

  // Runs the steps; 0 when they complete.  When an error ends them the
  // clean-up closes what they left open and the stage's error number is the
  // result; anything else that escapes them leaves after the clean-up too.
  template <typename Steps, typename Cleanup>
  int Run(Steps steps, Cleanup cleanup) {
    try {
      steps();
      return 0;
    } catch (const StageAbort&) {
      CleanUp(cleanup);
      return error;
    } catch (...) {
      CleanUp(cleanup);
      throw;
    }
  }

 private:
  static void Send(PrintCallback callback, const char* format, ...) {
    if (callback == nullptr) return;
    va_list ap;
    va_start(ap, format);
    callback(format, ap);
    va_end(ap);
  }

  // A clean-up that raises an error of its own (a file it closes turns out
  // incomplete) has reported it, and that error becomes the stage's; it runs
  // once more, and by then every file it closes is already closed.
  template <typename Cleanup>
  static void CleanUp(Cleanup& cleanup) {
    for (;;) {
      try {
        cleanup();
        return;
      } catch (const StageAbort&) {
      }
    }
  }

  const int errorBase_;
  const char* const* const messages_;
};

}  // namespace varnel
