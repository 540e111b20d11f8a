// What every stage shares: the records run control hands the three stages,
// the callbacks they print and report through, and the exception that ends
// a stage once its error has been reported.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "driver_info.h"

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

}  // namespace varnel
