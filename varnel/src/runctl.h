// Run control: the stage parameter records, the callbacks every stage
// prints and reports through, and the link call that runs the stages.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace varnel {

// Levelled and progress print: a format and its argument list (format.h
// rules).  Writes one text and adds no line end.
using PrintCallback = void (*)(const char* format, va_list args);
// Error report: the format, the result code of the error and the arguments.
using ErrorCallback = void (*)(const char* format, int code, va_list args);

constexpr const char* kVersionText = "VARNEL.DLL  v3.03.002";

// Driver information, 83 bytes, the same layout in memory, in packed driver
// files and in the built-in tables; multi-byte fields are little-endian.
struct DriverInfo {
  char description[33];  // blank-padded to 31 characters, then NULs; "" = none
  uint8_t execType[2];   // signed 16-bit
  uint8_t allowedTypes[16];  // 8 x unsigned 16-bit; 0 empty, 255 any type
  uint8_t further[32];

  int16_t ExecType() const { return static_cast<int16_t>(execType[0] | (execType[1] << 8)); }
  void SetExecType(int16_t t) {
    execType[0] = static_cast<uint8_t>(t & 0xFF);
    execType[1] = static_cast<uint8_t>((static_cast<uint16_t>(t) >> 8) & 0xFF);
  }
  uint16_t AllowedType(int i) const {
    return static_cast<uint16_t>(allowedTypes[2 * i] | (allowedTypes[2 * i + 1] << 8));
  }
  void SetAllowedType(int i, uint16_t t) {
    allowedTypes[2 * i] = static_cast<uint8_t>(t & 0xFF);
    allowedTypes[2 * i + 1] = static_cast<uint8_t>(t >> 8);
  }
};
static_assert(sizeof(DriverInfo) == 83, "DriverInfo is an 83-byte record");

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

// The three stage entries run control calls.  Tests put stand-ins in place.
struct StageEntries {
  int (*planner)(PlanParams*);
  int (*linker)(LinkParams*);
  int (*imageBuilder)(ImageParams*);
};
// nullptr restores the real stages.
void SetStageEntries(const StageEntries* entries);

// The callbacks run control puts into every record.
void LogPrint(const char* format, va_list args);
void LogPrintf(const char* format, ...);
void ReportError(const char* format, int code, va_list args);
void ReportErrorf(const char* format, int code, ...);

// Held for the whole of each call that uses the process-wide state (Varnel,
// FbFit, VarnelGetDriverData): such calls from several threads run one after
// the other.  Taking it never throws.
class SerialCall {
 public:
  SerialCall() noexcept;
  ~SerialCall();
  SerialCall(const SerialCall&) = delete;
  SerialCall& operator=(const SerialCall&) = delete;
};

// The records of the last call, for tests and for stage 3's reading of what
// stage 1 left.
PlanParams& LastPlanParams();
LinkParams& LastLinkParams();
ImageParams& LastImageParams();

}  // namespace varnel
