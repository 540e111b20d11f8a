#include "jobs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "format.h"

namespace varnel::bench {

std::string Record(int type, const Bytes& data) {
  unsigned count = static_cast<unsigned>(data.size()) + 1;
  unsigned sum = count;
  std::string line = varnel::Format("S%X%02X", static_cast<unsigned>(type), count);
  for (uint8_t b : data) {
    sum += b;
    line += varnel::Format("%02X", static_cast<unsigned>(b));
  }
  return line + varnel::Format("%02X\n", ~sum & 0xFFu);
}

Bytes Word(uint32_t v) { return {static_cast<uint8_t>((v >> 8) & 0xFF), static_cast<uint8_t>(v & 0xFF)}; }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string S0(const std::string& name) { return Record(0, Cat({0, 0}, Text(name))); }
std::string S3(int r, const std::string& name) {
  return Record(3, Cat({0, 0, static_cast<uint8_t>(r)}, Text(name)));
}
std::string S4(int r, uint32_t size) {
  return Record(4, Cat(Cat(Word(0), {static_cast<uint8_t>(r)}), Word(size - 1)));
}
std::string S8(int r, uint32_t offset, const std::string& name) {
  return Record(8, Cat(Cat(Word(offset), {static_cast<uint8_t>(r), 0, 0}), Text(name)));
}
std::string S7(int r, uint32_t offset, bool subtract, const std::string& name) {
  return Record(7, Cat(Cat(Word(offset), {static_cast<uint8_t>(r | (subtract ? 0x20 : 0))}), Text(name)));
}
std::string S9() { return "S9030000FC\n"; }

void RegionWriter::Item(const Bytes& item, uint32_t width) {
  if (payload_.size() + item.size() > 72) Flush();
  payload_ = Cat(payload_, item);
  offset_ += width;
}

void RegionWriter::Relocation(int type, int target, uint32_t operand) {
  Item(Cat({static_cast<uint8_t>(type | target)}, Word(operand)), (type == 0xC0 || type == 0xE0) ? 2 : 1);
}

void RegionWriter::Literal(uint32_t n) {
  Bytes run = {static_cast<uint8_t>(n - 1)};
  for (uint32_t k = 0; k < n; ++k) run.push_back(static_cast<uint8_t>(offset_ + k));
  Item(run, n);
}

void RegionWriter::Flush() {
  if (!payload_.empty()) *out_ += Record(2, Cat(Cat(Word(start_), {static_cast<uint8_t>(region_)}), payload_));
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
  std::string obj = S0(name) + S3(1, "AROM") + S4(1, aromSize) + S3(2, "XRAM") + S4(2, xramSize);
  for (size_t g = 0; g < globals.size(); ++g) obj += S8(2, static_cast<uint32_t>(g), globals[g]);
  for (size_t k = 0; k < externals.size(); ++k)
    obj += S7(2, static_cast<uint32_t>(2 * k), externals[k].subtract, externals[k].name);
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
      lib += S0(varnel::Format("LM%05d", *needed)) + S3(1, "AROM") + S4(1, 2) +
             S8(1, 0, varnel::Format("L%05d", *needed)) + Record(2, {0, 0, 1, 1, 0xA5, 0x5A}) + S9();
      ++*needed;
    } else {
      lib += S0(varnel::Format("XM%05d", *dropped)) + S3(1, "AROM") + S4(1, 4);
      for (int g = 0; g < 5; ++g) lib += S8(1, static_cast<uint32_t>(g), varnel::Format("X%05d", *dropped * 5 + g));
      lib += Record(2, {0, 0, 1, 3, 1, 2, 3, 4}) + S9();
      ++*dropped;
    }
  }
  return lib;
}

void WriteCrlf(const std::string& path, const std::string& lfText) {
  std::string crlf;
  crlf.reserve(lfText.size() + lfText.size() / 16);
  for (char c : lfText) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << crlf;
  if (!out) throw std::runtime_error("cannot write " + path);
}

int Scaled(int full, int percent) { return static_cast<int>(std::lround(full * percent / 100.0)); }

std::string CallJob::CountsLine() const {
  return varnel::Format("globals = %d/2000  externs = %d/5200  fixups  = %d/5200", globals, externs,
                        externs);
}

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
  WriteCrlf(path, lfText);
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
  WriteCrlf(job.workDir + job.argFile, arg);

  std::string header = S0("EEPROM") + S3(1, "AROM") + S4(1, kHeaderBytes);
  RegionWriter headerBytes(&header, 1);
  headerBytes.FillTo(kHeaderBytes);
  WriteLibraryFile(job.libraryDir + "EEPROM.OBJ", header + S9());
  // A module that is not needed, then MODEND, which CPNUM0CS names.
  WriteLibraryFile(job.libraryDir + "LIB.OBJ",
                   S0("DELAY") + S3(1, "AROM") + S4(1, 4) + S8(1, 0, "DELAY") +
                       Record(2, {0, 0, 1, 3, 0x4A, 0x26, 0xFD, 0x39}) + S9() + S0("MODEND") + S3(1, "AROM") +
                       S4(1, kModendBytes) + S8(1, 0, "MODEND") + Record(2, {0, 0, 1, 0, 0x4E}) + S9());

  AddUnrelatedFiles(job, shape.libraryCrowd, shape.workCrowd);
  return job;
}

void AddUnrelatedFiles(const CallJob& job, int libraryFiles, int workFiles) {
  // Other modules' files, as a shared library directory and a host's
  // working directory collect them.
  static const char* const kLibraryKinds[] = {"OBJ", "FB", "MDV", "DAT", "TXT"};
  for (int i = 0; i < libraryFiles; ++i)
    WriteCrlf(job.libraryDir + varnel::Format("U%04d.%s", i, kLibraryKinds[i % 5]), S9());
  static const char* const kWorkKinds[] = {"LOG", "ARG", "S1", "SUB", "TXT"};
  for (int i = 0; i < workFiles; ++i)
    WriteCrlf(job.workDir + varnel::Format("W%04d.%s", i, kWorkKinds[i % 5]), S9());
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
