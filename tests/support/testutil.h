// Helpers the tests share: scratch directories, whole-file reads and writes,
// and a log that collects what a stage prints through its callbacks.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "runctl.h"

namespace varnel::testing {

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes.  Path() carries a trailing '/'.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);  // byte for byte; "" when missing
std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool Exists(const std::string& path);
// The names in a directory, sorted.
std::vector<std::string> ListDir(const std::string& dir);

// LF line ends as CR LF, the form of every text file varnel writes.
std::string Crlf(const std::string& text);

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

  void Fill(PlanParams& p, int logLevel);
  void Fill(LinkParams& p, int logLevel);
  void Fill(ImageParams& p, int logLevel);
};

}  // namespace varnel::testing
