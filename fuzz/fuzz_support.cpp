#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "builders/library.h"
#include "builders/packer.h"
#include "format.h"

namespace fs = std::filesystem;

namespace varnel::fuzz {
namespace {

// Descriptors open on files of the scratch directory: the only files a
// target's stage opens.  (libFuzzer and the sanitizers keep pipes of their
// own that come and go.)
std::vector<std::string> OpenScratchFiles() {
  std::vector<std::string> open;
  std::error_code ec;
  for (auto it = fs::directory_iterator("/proc/self/fd", ec); !ec && it != fs::directory_iterator(); ++it) {
    std::string target = fs::read_symlink(it->path(), ec).string();
    if (!ec && target.compare(0, Root().size(), Root()) == 0) open.push_back(target);
  }
  return open;
}

}  // namespace

void Discard(const char* format, va_list args) { (void)VFormat(format, args); }
void DiscardError(const char* format, int, va_list args) { (void)VFormat(format, args); }

const std::string& Root() {
  static const testing::TempDir root("varnel-fuzz-");
  return root.Path();
}

std::string Dir(const std::string& name) {
  std::string path = Root() + name + "/";
  fs::create_directories(path);
  return path;
}

void ClearDir(const std::string& dir) {
  std::error_code ec;
  for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); ++it)
    fs::remove_all(it->path(), ec);
}

void Put(const std::string& path, const uint8_t* data, size_t size) {
  testing::WriteFile(path, std::string(reinterpret_cast<const char*>(data), size));
}

std::vector<std::string> Split(const uint8_t* data, size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  const std::string separator = "\n@@\n";
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = all.find(separator, from)) != std::string::npos; from = at + separator.size())
    parts.push_back(all.substr(from, at - from));
  parts.push_back(all.substr(from));
  return parts;
}

std::string Text(const uint8_t* data, size_t size) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  return all.substr(0, all.find('\0'));
}

std::string AtRoot(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '@') out += Root();
    else out += c;
  }
  return out;
}

void CheckDescriptors() {
  std::vector<std::string> open = OpenScratchFiles();
  if (open.empty()) return;
  std::fprintf(stderr, "descriptor leak: %zu files left open\n", open.size());
  for (const std::string& path : open) std::fprintf(stderr, "  %s\n", path.c_str());
  std::abort();
}

void WriteLibrary(const std::string& dir) {
  using namespace testing;
  for (const char* header : {"EEPROM", "EEPCOM", "EEP400"}) WriteFile(dir + header + ".OBJ", HeaderObject(header));
  WriteFile(dir + "LIB.OBJ", LibraryObject());
  WriteFile(dir + "FBA.OBJ", FbObject("FBA"));
  WritePackFile(dir + "FBB.FB", PackedFb("FBB", true));
  WritePackFile(dir + "FBC.FB", PackedFb("FBC", false));
  WritePackFile(dir + "DRV.MDV", PackedDriver(4, "Driver for fuzzing", 1));
  WritePackFile(dir + "DRV5.MDV", PackedDriver(4, "Driver for fuzzing", 5));
}

}  // namespace varnel::fuzz
