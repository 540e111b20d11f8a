// Scratch directories, whole-file reads and writes, and the byte and text
// forms the builders share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnel::testing {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b);

// The bytes of a text, for packed members and object payloads.
Bytes TextBytes(const std::string& text);

// LF line ends as CR LF, the form of every text file varnel writes.
std::string Crlf(const std::string& text);

// A fresh directory under the system's temporary directory, named the
// prefix and eight random hexadecimal digits, removed with its contents
// when the object goes.  Path() carries a trailing '/'.
class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "varnel-test-");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);  // byte for byte; "" when missing
Bytes ReadBytes(const std::string& path);
// Throws std::runtime_error when the file cannot be written.
void WriteFile(const std::string& path, const std::string& bytes);
void WriteBytes(const std::string& path, const Bytes& bytes);
bool Exists(const std::string& path);
// The names in a directory, sorted.
std::vector<std::string> ListDir(const std::string& dir);

// Sets a stage record's log level and its print, progress and error
// callbacks.
template <typename StageParams, typename Print, typename Error>
void SetCallbacks(StageParams& p, int logLevel, Print print, Print progress, Error error) {
  p.logLevel = logLevel;
  p.print = print;
  p.progress = progress;
  p.error = error;
}

}  // namespace varnel::testing
