#include "support/testutil.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "format.h"

namespace varnel::testing {

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string();
  std::string templ = base + "/varnel-test-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = std::string(buf.data()) + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::string s = ReadFile(path);
  return std::vector<uint8_t>(s.begin(), s.end());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

bool Exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

namespace {
CaptureLog* g_active = nullptr;
}

CaptureLog::CaptureLog() { g_active = this; }
CaptureLog::~CaptureLog() {
  if (g_active == this) g_active = nullptr;
}

void CaptureLog::Print(const char* format, va_list args) {
  if (g_active) g_active->text += VFormat(format, args);
}

void CaptureLog::Progress(const char* format, va_list args) {
  if (g_active) g_active->text += VFormat(format, args);
}

void CaptureLog::Error(const char* format, int code, va_list args) {
  if (!g_active) return;
  std::string message = VFormat(format, args);
  g_active->errorCodes.push_back(code);
  g_active->errors.push_back(message);
  g_active->text += Format("[error %d]", code) + message;
}

void CaptureLog::Fill(PlanParams& p, int logLevel) {
  p.logLevel = logLevel;
  p.print = &Print;
  p.progress = &Progress;
  p.error = &Error;
}
void CaptureLog::Fill(LinkParams& p, int logLevel) {
  p.logLevel = logLevel;
  p.print = &Print;
  p.progress = &Progress;
  p.error = &Error;
}
void CaptureLog::Fill(ImageParams& p, int logLevel) {
  p.logLevel = logLevel;
  p.print = &Print;
  p.progress = &Progress;
  p.error = &Error;
}

}  // namespace varnel::testing
