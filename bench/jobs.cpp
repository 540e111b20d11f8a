#include "jobs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <stdexcept>

#include "builders/m68objects.h"
#include "format.h"

namespace varnel::bench {

namespace {

using testing::Crlf;
using testing::Lit;
using testing::operator+;
using testing::Rel;
using testing::S0;
using testing::S2;
using testing::S3;
using testing::S7;
using testing::S8;
using testing::S9;
using testing::WriteFile;

// The S4 record of a region of `size` bytes: its high offset is size - 1.
std::string RegionRecord(int region, uint32_t size) {
  return testing::S4(region, 0, static_cast<uint16_t>(size - 1));
}

}  // namespace

void RegionWriter::Item(const Bytes& item, uint32_t width) {
  if (payload_.size() + item.size() > 72) Flush();
  payload_ = payload_ + item;
  offset_ += width;
}

void RegionWriter::Relocation(int type, int target, uint32_t operand) {
  Item(Rel(type, target, static_cast<uint16_t>(operand)), (type == 0xC0 || type == 0xE0) ? 2 : 1);
}

void RegionWriter::Literal(uint32_t n) {
  Bytes run;
  for (uint32_t k = 0; k < n; ++k) run.push_back(static_cast<uint8_t>(offset_ + k));
  Item(Lit(run), n);
}

void RegionWriter::Flush() {
  if (!payload_.empty()) *out_ += S2(region_, static_cast<uint16_t>(start_), payload_);
  payload_.clear();
  start_ = offset_;
}

void RegionWriter::FillTo(uint32_t size) {
  bool relocate = true;
  while (offset_ < size) {
    uint32_t left = size - offset_;
    if (relocate && left >= 2) Relocation(0xC0, region_, offset_);
    else Literal(std::min<uint32_t>(left, 6));
    relocate = !relocate;
  }
  Flush();
}

uint32_t Share(uint32_t total, int parts, int i) {
  const uint32_t n = static_cast<uint32_t>(parts);
  return total / n + (static_cast<uint32_t>(i) < total % n ? 1 : 0);
}

std::string FileObject(const std::string& name, uint32_t aromSize, uint32_t xramSize,
                       const std::vector<std::string>& globals, const std::vector<External>& externals) {
  if (2 * externals.size() > xramSize) throw std::logic_error("no room for the relocation items");
  std::string obj =
      S0(name) + S3(1, "AROM") + RegionRecord(1, aromSize) + S3(2, "XRAM") + RegionRecord(2, xramSize);
  for (size_t g = 0; g < globals.size(); ++g) obj += S8(2, static_cast<uint16_t>(g), globals[g]);
  for (size_t k = 0; k < externals.size(); ++k)
    obj += S7(2, static_cast<uint16_t>(2 * k), externals[k].subtract, externals[k].name);
  RegionWriter xram(&obj, 2);
  for (size_t k = 0; k < externals.size(); ++k) xram.Relocation(0xC0, 1, static_cast<uint32_t>(k));
  xram.FillTo(xramSize);
  RegionWriter arom(&obj, 1);
  arom.FillTo(aromSize);
  return obj + S9();
}

std::string HalfNeededLibrary(int modules, int* needed, int* dropped) {
  // The unneeded ones first: a module's globals count against the table
  // until it is dropped, so they must come while there is room for them.
  std::string lib;
  for (int m = 0; m < modules; ++m) {
    if (m >= modules / 2) {
      lib += S0(varnel::Format("LM%05d", *needed)) + S3(1, "AROM") + RegionRecord(1, 2) +
             S8(1, 0, varnel::Format("L%05d", *needed)) + S2(1, 0, Lit({0xA5, 0x5A})) + S9();
      ++*needed;
    } else {
      lib += S0(varnel::Format("XM%05d", *dropped)) + S3(1, "AROM") + RegionRecord(1, 4);
      for (int g = 0; g < 5; ++g) lib += S8(1, static_cast<uint16_t>(g), varnel::Format("X%05d", *dropped * 5 + g));
      lib += S2(1, 0, Lit({1, 2, 3, 4})) + S9();
      ++*dropped;
    }
  }
  return lib;
}

int Scaled(int full, int percent) { return static_cast<int>(std::lround(full * percent / 100.0)); }

std::string CountsLine(int globals, int externs) {
  return varnel::Format("globals = %d/2000  externs = %d/5200  fixups  = %d/5200", globals, externs,
                        externs);
}

std::string CallJob::CountsLine() const { return bench::CountsLine(globals, externs); }

namespace {

// What the planner adds to every Exec 3.2 link of this job: the 260 DEFINEs
// of the Exec 3.x constants, three globals of its generated MXRAM object and
// MODEND of LIB.OBJ; one external (MODEND, with its fixup) of the generated
// CPNUM0CS object; program bytes of CPNUM0CS (41) and of each FB's CPNUMn
// (1).
constexpr int kPlannerGlobals = 260 + 3 + 1;
constexpr int kPlannerExterns = 1;
constexpr uint32_t kCpnum0csBytes = 41;
constexpr uint32_t kHeaderBytes = 16;  // EEPROM.OBJ, written here
constexpr uint32_t kModendBytes = 1;
// The data the image takes: from the data section's start at 0x1000, after
// the 50 bytes MXRAM reserves there (never written), up to 0x6000, where the
// download's data window ends.
constexpr int kDataWindow = 0x6000 - 0x1000 - 0x32;

constexpr int kRpModules = 40;  // per RP library, the second half needed
constexpr int kFbListMax = 60;

// Every library file's date: 15 March 2024, 10:30, as DOS date and time.
void SetFixedDate(const std::string& path) {
  namespace fs = std::filesystem;
  using namespace std::chrono;
  sys_seconds when = sys_days{year{2024} / March / 15} + hours{10} + minutes{30};
  fs::last_write_time(path, file_clock::from_sys(when));
}

void WriteLibraryFile(const std::string& path, const std::string& lfText) {
  WriteFile(path, Crlf(lfText));
  SetFixedDate(path);
}

}  // namespace

CallJob WriteCallJob(const std::string& root, const CallJobShape& shape) {
  namespace fs = std::filesystem;
  const int p = shape.percent;
  CallJob job;
  job.libraryDir = root + "lib/";
  job.workDir = root + "work/";
  fs::remove_all(job.libraryDir);
  fs::remove_all(job.workDir);
  fs::create_directories(job.libraryDir);
  fs::create_directories(job.workDir);

  const int n = Scaled(kFbListMax, p);
  std::vector<bool> hasRp(static_cast<size_t>(n));
  int rpLibraries = 0;
  for (int i = 0; i < n; ++i) rpLibraries += (hasRp[static_cast<size_t>(i)] = i % 4 == 0) ? 1 : 0;
  const int needed = rpLibraries * kRpModules / 2;
  job.fbs = n;
  job.rpLibraries = rpLibraries;
  // MXRAM, EEPROM.OBJ, a CPNUMn and the object of every FB, CPNUM0CS, the RP
  // libraries and LIB.OBJ.
  job.inputFiles = 2 + 2 * n + 1 + rpLibraries + 1;
  job.globals = Scaled(1999, p);
  job.externs = Scaled(5199, p);
  job.programBytes = static_cast<uint32_t>(Scaled(0x4000, p));
  job.dataBytes = static_cast<uint32_t>(Scaled(kDataWindow, p));

  const int fbGlobals = job.globals - kPlannerGlobals - needed;
  const int fbExterns = job.externs - kPlannerExterns;
  const uint32_t fixedProgram = kHeaderBytes + static_cast<uint32_t>(n) + kCpnum0csBytes +
                                2 * static_cast<uint32_t>(needed) + kModendBytes;
  const uint32_t fbProgram = job.programBytes - fixedProgram;

  // Every needed RP module is named by an external first; the others take
  // the FBs' globals in turn.
  std::vector<std::string> targets;
  for (int i = 0; i < needed; ++i) targets.push_back(varnel::Format("L%05d", i));
  for (int i = 0; static_cast<int>(targets.size()) < fbExterns; ++i)
    targets.push_back(varnel::Format("G%05d", i % fbGlobals));

  std::string arg = job.libraryDir + "\n";
  int globalBase = 0;
  int neededNext = 0;
  int dropped = 0;
  for (int f = 0; f < n; ++f) {
    const std::string name = varnel::Format("FB%02d", f);
    std::string listed = name;
    if (shape.lowerCaseNames)
      std::transform(listed.begin(), listed.end(), listed.begin(),
                     [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    arg += varnel::Format(" %d %s\n", 1 + f % 14, listed.c_str());

    std::vector<std::string> globals;
    for (int g = 0, count = static_cast<int>(Share(static_cast<uint32_t>(fbGlobals), n, f)); g < count; ++g)
      globals.push_back(varnel::Format("G%05d", globalBase++));
    std::vector<External> externals;
    for (int e = f; e < fbExterns; e += n) externals.push_back({targets[static_cast<size_t>(e)], e % 7 == 6});
    std::string obj = FileObject(name, Share(fbProgram, n, f), Share(job.dataBytes, n, f), globals, externals);
    WriteLibraryFile(job.libraryDir + name + ".OBJ", obj);

    if (!hasRp[static_cast<size_t>(f)]) continue;
    std::string lib = HalfNeededLibrary(kRpModules, &neededNext, &dropped);
    WriteLibraryFile(job.libraryDir + name + "RP.OBJ", lib);
  }
  arg += "XXX\n32FFFF000000\n";
  WriteFile(job.workDir + job.argFile, Crlf(arg));

  std::string header = S0("EEPROM") + S3(1, "AROM") + RegionRecord(1, kHeaderBytes);
  RegionWriter headerBytes(&header, 1);
  headerBytes.FillTo(kHeaderBytes);
  WriteLibraryFile(job.libraryDir + "EEPROM.OBJ", header + S9());
  // A module that is not needed, then MODEND, which CPNUM0CS names.
  WriteLibraryFile(job.libraryDir + "LIB.OBJ",
                   S0("DELAY") + S3(1, "AROM") + RegionRecord(1, 4) + S8(1, 0, "DELAY") +
                       S2(1, 0, Lit({0x4A, 0x26, 0xFD, 0x39})) + S9() + S0("MODEND") + S3(1, "AROM") +
                       RegionRecord(1, kModendBytes) + S8(1, 0, "MODEND") + S2(1, 0, Lit({0x4E})) + S9());

  AddUnrelatedFiles(job, shape.libraryCrowd, shape.workCrowd);
  return job;
}

void AddUnrelatedFiles(const CallJob& job, int libraryFiles, int workFiles) {
  // Other modules' files, as a shared library directory and a host's
  // working directory collect them.
  static const char* const kLibraryKinds[] = {"OBJ", "FB", "MDV", "DAT", "TXT"};
  for (int i = 0; i < libraryFiles; ++i)
    WriteFile(job.libraryDir + varnel::Format("U%04d.%s", i, kLibraryKinds[i % 5]), Crlf(S9()));
  static const char* const kWorkKinds[] = {"LOG", "ARG", "S1", "SUB", "TXT"};
  for (int i = 0; i < workFiles; ++i)
    WriteFile(job.workDir + varnel::Format("W%04d.%s", i, kWorkKinds[i % 5]), Crlf(S9()));
}

int64_t S1DataBytes(const std::string& text) {
  int64_t bytes = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.rfind("S9", 0) == 0) continue;
    if (line.size() < 4 || line.rfind("S1", 0) != 0) return -1;
    bytes += std::stoi(line.substr(2, 2), nullptr, 16) - 3;
  }
  return bytes;
}

}  // namespace varnel::bench
