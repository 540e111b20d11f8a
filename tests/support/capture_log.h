// A log that collects what a stage prints through its callbacks.
#pragma once

#include <cstdarg>
#include <string>
#include <vector>

#include "builders/files.h"

namespace varnel::testing {

// Collects the print, progress and error callbacks of a stage record.
// Only one CaptureLog is active at a time (the callbacks are plain
// functions); the newest one constructed receives the text.
class CaptureLog {
 public:
  CaptureLog();
  ~CaptureLog();
  CaptureLog(const CaptureLog&) = delete;
  CaptureLog& operator=(const CaptureLog&) = delete;

  static void Print(const char* format, va_list args);
  static void Progress(const char* format, va_list args);
  static void Error(const char* format, int code, va_list args);

  std::string text;                // everything, in order
  std::vector<int> errorCodes;     // codes of the errors reported
  std::vector<std::string> errors; // their formatted messages

  // Points a stage record (PlanParams, LinkParams or ImageParams) here.
  template <typename StageParams>
  void Fill(StageParams& p, int logLevel) {
    SetCallbacks(p, logLevel, &Print, &Progress, &Error);
  }
};

}  // namespace varnel::testing
