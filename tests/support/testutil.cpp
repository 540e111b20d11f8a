#include "support/testutil.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "format.h"

namespace varnel::testing {

TempDir::TempDir() {
  // create_directory is false for a name that already exists, so a name
  // another test process took is never shared.
  namespace fs = std::filesystem;
  fs::path base = fs::temp_directory_path();
  static std::mt19937_64 random(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path dir = base / Format("varnel-test-%08lX", static_cast<uint32_t>(random()));
    std::error_code ec;
    if (fs::create_directory(dir, ec)) {
      path_ = dir.generic_string() + "/";
      return;
    }
  }
  throw std::runtime_error("cannot create a scratch directory");
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
  std::error_code ec;
  return std::filesystem::exists(path, ec);
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
