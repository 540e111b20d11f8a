#include "builders/files.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "format.h"

namespace varnel::testing {

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TempDir::TempDir(const std::string& prefix) {
  // create_directory is false for a name that already exists, so a name
  // another test process took is never shared.
  namespace fs = std::filesystem;
  fs::path base = fs::temp_directory_path();
  static std::mt19937_64 random(
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
      std::random_device{}());
  for (int attempt = 0; attempt < 100; ++attempt) {
    fs::path dir = base / (prefix + Format("%08lX", static_cast<uint32_t>(random())));
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

Bytes ReadBytes(const std::string& path) {
  std::string s = ReadFile(path);
  return Bytes(s.begin(), s.end());
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
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

}  // namespace varnel::testing
