// Links the largest link the linker's tables allow and times it.
//
// At full size the link has 139 input files (100 FILE objects and 39
// libraries of 40 modules, half of them needed), 1,999 globals, 5,199
// externals with as many stored fixups, relocation items beside them, and
// every byte of both program windows (0x0000-0x5FFF, 0x8000-0xBFFF) written.
// The half-size link halves every figure, so the two sizes show whether the
// cost grows linearly with the input.  Each size runs at log level -1 and at
// log level 0, where every image byte writes its own log line.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "builders/files.h"
#include "format.h"
#include "jobs.h"
#include "linker.h"
#include "platform/platform.h"

namespace {

using namespace varnel::bench;
using varnel::testing::Crlf;
using varnel::testing::WriteFile;

struct Workload {
  std::string dir;
  uint32_t programBytes = 0;
  uint32_t dataBytes = 0;
  int files = 0;
  int globals = 0;
  int externs = 0;
};

Workload Generate(int percent) {
  Workload w;
  w.dir = (std::filesystem::temp_directory_path() / ("varnel-bench-" + std::to_string(percent))).string() + "/";
  std::filesystem::remove_all(w.dir);
  std::filesystem::create_directories(w.dir);

  const int files = Scaled(139, percent);
  const int fileObjects = Scaled(100, percent);
  const int libraries = files - fileObjects;
  // Each library holds 20 modules that are not needed, then 20 that are:
  // a module's globals count against the table until it is dropped, so the
  // last library's unneeded ones must come while there is room for them.
  const int modulesPerLibrary = 40;
  const int neededModules = libraries * modulesPerLibrary / 2;
  const int globalsPerFile = 10;
  const int globals = Scaled(1999, percent);
  const int defines = globals - fileObjects * globalsPerFile - neededModules;
  const int externs = Scaled(5199, percent);
  w.programBytes = static_cast<uint32_t>(Scaled(0x4000, percent));
  w.dataBytes = static_cast<uint32_t>(Scaled(0x6000, percent));
  w.files = files;
  w.globals = globals;
  w.externs = externs;

  // Every library module that is needed is named by an external first; the
  // other externals take the DEFINEs and the FILE objects' globals in turn.
  std::vector<std::string> targets;
  for (int i = 0; i < neededModules; ++i) targets.push_back(varnel::Format("L%05d", i));
  std::vector<std::string> pool;
  for (int i = 0; i < defines; ++i) pool.push_back(varnel::Format("D%05d", i));
  for (int i = 0; i < fileObjects * globalsPerFile; ++i) pool.push_back(varnel::Format("G%05d", i));
  for (int i = 0; static_cast<int>(targets.size()) < externs; ++i) targets.push_back(pool[i % pool.size()]);

  std::string submit = "0400-BFFF\n";
  submit += varnel::Format("SECTION   *      DSCT  0000-%04X\n", w.dataBytes + 1);
  submit += varnel::Format("SECTION   AROM   PSCT  8000-%04X\n", 0x8000 + w.programBytes + 1);
  for (int i = 0; i < defines; ++i) submit += varnel::Format("DEFINE   D%05d        %04X\n", i, i);

  const uint32_t fileProgram = w.programBytes - static_cast<uint32_t>(neededModules) * 2;
  for (int f = 0; f < fileObjects; ++f) {
    std::vector<std::string> globals;
    for (int g = 0; g < globalsPerFile; ++g) globals.push_back(varnel::Format("G%05d", f * globalsPerFile + g));
    std::vector<External> mine;
    for (int e = f; e < externs; e += fileObjects) mine.push_back({targets[static_cast<size_t>(e)], e % 7 == 6});
    std::string name = varnel::Format("FILE%03d.OBJ", f);
    WriteFile(w.dir + name, Crlf(FileObject(varnel::Format("FILE%03d", f), Share(fileProgram, fileObjects, f),
                                            Share(w.dataBytes, fileObjects, f), globals, mine)));
    submit += "FILE     " + w.dir + name + "\n";
  }
  int needed = 0;
  int dropped = 0;
  for (int l = 0; l < libraries; ++l) {
    std::string name = varnel::Format("LIB%03d.OBJ", l);
    WriteFile(w.dir + name, Crlf(HalfNeededLibrary(modulesPerLibrary, &needed, &dropped)));
    submit += "LIBRARY  " + w.dir + name + "\n";
  }
  WriteFile(w.dir + "LINK.CMD", Crlf(submit));
  return w;
}

// The generated links, made once per size and removed at exit.
struct WorkloadCache {
  std::map<int, Workload> bySize;
  ~WorkloadCache() {
    std::error_code ec;
    for (const auto& entry : bySize) std::filesystem::remove_all(entry.second.dir, ec);
  }
};

const Workload& WorkloadFor(int percent) {
  static WorkloadCache cache;
  auto it = cache.bySize.find(percent);
  if (it == cache.bySize.end()) it = cache.bySize.emplace(percent, Generate(percent)).first;
  return it->second;
}

struct BenchLog {
  varnel::platform::Stream* stream = nullptr;
  int lastError = 0;
};
BenchLog g_log;

void Print(const char* format, va_list args) {
  if (g_log.stream != nullptr) varnel::platform::VPrintf(g_log.stream, format, args);
}
void Error(const char* format, int code, va_list args) {
  g_log.lastError = code;
  Print(format, args);
}

int LinkOnce(const Workload& w, int logLevel, varnel::LinkParams* p) {
  *p = varnel::LinkParams{};
  p->submitFileName = "LINK.CMD";
  p->outputFileName = "OUT.S1";
  varnel::testing::SetCallbacks(*p, logLevel, Print, Print, Error);
  p->execType = 1;
  p->workDir = w.dir.c_str();
  g_log.stream = varnel::platform::Open((w.dir + "LINK.LOG").c_str(), "w");
  int result = varnel::RunLinker(p);
  varnel::platform::Close(g_log.stream);
  g_log.stream = nullptr;
  return result;
}

// Peak resident memory of the process in KiB, from the kernel's status file.
double PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kib = 0;
      status >> kib;
      return kib;
    }
    status.ignore(1 << 20, '\n');
  }
  return 0;
}

void BM_WorstCaseLink(benchmark::State& state) {
  const int percent = static_cast<int>(state.range(0));
  const int logLevel = static_cast<int>(state.range(1));
  const Workload& w = WorkloadFor(percent);
  // One link at level 0 first shows that the link is the one intended: its
  // table counts and every byte of both windows, which both lie within the
  // download file's S1 records.
  varnel::LinkParams p{};
  int result = LinkOnce(w, 0, &p);
  const int64_t usedBytes = S1DataBytes(varnel::testing::ReadFile(w.dir + "OUT.S1"));
  std::string counts = CountsLine(w.globals, w.externs);
  bool countsSeen = false;
  std::ifstream logFile(w.dir + "LINK.LOG", std::ios::binary);
  for (std::string line; !countsSeen && std::getline(logFile, line);) countsSeen = line.rfind(counts, 0) == 0;
  if (result != 0 || p.programUsed != w.programBytes || p.dataUsed != w.dataBytes ||
      usedBytes != static_cast<int64_t>(w.programBytes + w.dataBytes) || !countsSeen) {
    state.SkipWithError(varnel::Format("not the intended link: result %d, error %d, %s bytes used", result,
                                       g_log.lastError, std::to_string(usedBytes).c_str())
                            .c_str());
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(LinkOnce(w, logLevel, &p));
  state.counters["files"] = w.files;
  state.counters["globals"] = w.globals;
  state.counters["externs"] = w.externs;
  state.counters["image_bytes"] = usedBytes;
  state.counters["peak_rss_KiB"] = PeakResidentKiB();
}

BENCHMARK(BM_WorstCaseLink)
    ->ArgNames({"percent", "loglevel"})
    ->Args({50, -1})
    ->Args({100, -1})
    ->Args({50, 0})
    ->Args({100, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
