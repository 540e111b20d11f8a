#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "format.h"

namespace fs = std::filesystem;

namespace varnel::fuzz {
namespace {

void Discard(const char* format, va_list args) { (void)VFormat(format, args); }
void DiscardError(const char* format, int, va_list args) { (void)VFormat(format, args); }

std::string& RootPath() {
  static std::string path;
  return path;
}

void RemoveRoot() {
  std::error_code ec;
  fs::remove_all(RootPath(), ec);
}

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

const std::string& Root() {
  std::string& path = RootPath();
  if (path.empty()) {
    std::random_device random;
    for (;;) {
      fs::path candidate = fs::temp_directory_path() / Format("varnel-fuzz-%08lX", static_cast<uint32_t>(random()));
      if (fs::create_directory(candidate)) {
        path = candidate.string() + "/";
        break;
      }
    }
    std::atexit(RemoveRoot);
  }
  return path;
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
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Put(const std::string& path, const std::string& bytes) {
  Put(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
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

void Quiet(PlanParams& p, int logLevel) {
  p.logLevel = logLevel;
  p.print = p.progress = Discard;
  p.error = DiscardError;
}
void Quiet(LinkParams& p, int logLevel) {
  p.logLevel = logLevel;
  p.print = p.progress = Discard;
  p.error = DiscardError;
}
void Quiet(ImageParams& p, int logLevel) {
  p.logLevel = logLevel;
  p.print = p.progress = Discard;
  p.error = DiscardError;
}

void CheckDescriptors() {
  std::vector<std::string> open = OpenScratchFiles();
  if (open.empty()) return;
  std::fprintf(stderr, "descriptor leak: %zu files left open\n", open.size());
  for (const std::string& path : open) std::fprintf(stderr, "  %s\n", path.c_str());
  std::abort();
}

}  // namespace varnel::fuzz

#include "support/m68objects.h"
#include "support/packer.h"

namespace varnel::fuzz {
testing::PackMember Member(int number, const std::string& data, bool scrambled) {
  testing::PackMember m;
  m.number = number;
  m.data.assign(data.begin(), data.end());
  m.scrambled = scrambled;
  return m;
}

namespace {

testing::PackSpec DriverPack(int16_t execType) {
  testing::PackSpec pack;
  pack.kind = 4;
  pack.info = testing::MakeDriverInfo("Driver for fuzzing", execType, {255});
  pack.members.push_back(Member(2, Module("DRV", "DRIVER-CODE")));
  pack.members.push_back(Member(4, Module("MODEND", "DRV-END", "MODEND"), false));
  pack.members.push_back(Member(5, Module("EEPDRV", "DRV-HEADER"), false));
  return pack;
}

}  // namespace

std::string Module(const std::string& name, const std::string& code, const std::string& global) {
  using namespace testing;
  std::string text = S0(name) + S3(0x85, "AROM") + S4(5, 0, static_cast<uint16_t>(code.size() - 1));
  if (!global.empty()) text += S8(5, 0, global);
  return text + S2(5, 0, Lit(Bytes(code.begin(), code.end()))) + S9();
}

void WriteLibrary(const std::string& dir) {
  for (const char* header : {"EEPROM", "EEPCOM", "EEP400"})
    Put(dir + header + ".OBJ", Module(header, std::string("HDR-") + header));
  Put(dir + "LIB.OBJ", Module("MODEND", "END", "MODEND") + Module("UNUSED", "never linked", "NOBODY"));
  Put(dir + "FBA.OBJ", Module("FBA", "FBA-CODE"));
  testing::PackSpec withRp;
  withRp.members.push_back(Member(2, Module("FBB", "FBB-CODE")));
  withRp.members.push_back(Member(3, Module("FBBRP", "FBB-RP")));
  testing::WritePackFile(dir + "FBB.FB", withRp);
  testing::PackSpec withoutRp;
  withoutRp.members.push_back(Member(2, Module("FBC", "FBC-CODE")));
  testing::WritePackFile(dir + "FBC.FB", withoutRp);
  testing::WritePackFile(dir + "DRV.MDV", DriverPack(1));
  testing::WritePackFile(dir + "DRV5.MDV", DriverPack(5));
}

}  // namespace varnel::fuzz
