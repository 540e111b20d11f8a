// Times whole Varnel calls, each as one process (call_host: load the
// library, one call, exit), side by side with srec_cat copying an S1 file of
// the same data volume (the worst case's own download file), in one run:
// every round runs each case once, in turn, and each figure is the median of
// the rounds.  Before each run the disk is given what earlier runs left for
// it to write (sync, outside the time): a call that writes a 1.5 MB log at
// log level 0 would otherwise make whichever case comes next pay for it.
//
//   call_bench [--runs N] [--library PATH] [--baseline PATH] [--host PATH] [--dir DIR] [--keep]
//
// The jobs (jobs.h): the worst case, the half-size case, and the worst case
// with 5,000 unrelated files in its library directory and again with 5,000
// in its working directory; each at log level -1 and 0.  The jobs are
// written under DIR (default: the system's temporary directory) and removed
// at the end unless --keep is given, in which case the command line of each
// case is printed, to be run again under strace or perf.  --baseline times
// every Varnel case again with another build of the library (an older one,
// say), in the same rounds, for a before-and-after in one run; the goals are
// judged on --library alone.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "builders/files.h"
#include "format.h"
#include "jobs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using varnel::bench::CallJob;
using varnel::bench::CallJobShape;
using varnel::Format;
using varnel::testing::ReadFile;

constexpr int kCrowd = 5000;

struct Outcome {
  int status = -1;      // exit status, -1 when it did not exit normally
  double millis = 0;    // wall time from spawn to reaped
};

// Runs a command with its output thrown away (or written to `output`) and
// reaps it.
Outcome Run(const std::vector<std::string>& command, const char* output = "/dev/null") {
  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  Outcome out;
  auto start = std::chrono::steady_clock::now();
  pid_t pid;
  int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + command[0] + ": " + std::strerror(spawned));
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("wait4 failed");
  }
  auto end = std::chrono::steady_clock::now();
  out.millis = std::chrono::duration<double, std::milli>(end - start).count();
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

struct Case {
  std::string name;
  int logLevel = 0;  // for the Varnel cases
  const CallJob* job = nullptr;
  bool baseline = false;
  std::vector<std::string> command;
  std::vector<double> millis;
  long peakKiB = 0;

  double Median() const {
    std::vector<double> v = millis;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
};

std::vector<std::string> HostCommand(const std::string& host, const std::string& library, const CallJob& job,
                                     int logLevel) {
  return {host, library, job.argFile, job.libraryDir, job.workDir, job.logFile, job.submitFile,
          job.downloadFile, std::to_string(logLevel)};
}

// The peak resident memory of one call, as the host itself reports it.
long PeakKiB(std::vector<std::string> command, const std::string& scratch) {
  command.push_back("--peak-rss");
  std::string report = scratch + "peak-rss.txt";
  if (Run(command, report.c_str()).status != 0) throw std::runtime_error("the call failed");
  return std::atol(ReadFile(report).c_str());
}

// One call at level 0 shows that the job links as intended: result 0, the
// table counts in the log, and every byte in the download file.
void CheckJob(const std::string& name, const std::vector<std::string>& command, const CallJob& job) {
  Outcome o = Run(command);
  std::string log = ReadFile(job.workDir + job.logFile);
  int64_t bytes = varnel::bench::S1DataBytes(ReadFile(job.workDir + job.downloadFile));
  if (o.status != 0 || log.find(job.CountsLine()) == std::string::npos ||
      bytes != static_cast<int64_t>(job.programBytes + job.dataBytes)) {
    throw std::runtime_error(name + ": not the intended link (exit " + std::to_string(o.status) + ", " +
                             std::to_string(bytes) + " bytes; see " + job.workDir + job.logFile + ")");
  }
}

std::string Option(int argc, char** argv, const char* name, const std::string& fallback) {
  for (int i = 1; i + 1 < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return argv[i + 1];
  return fallback;
}

bool Flag(int argc, char** argv, const char* name) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], name) == 0) return true;
  return false;
}

void Goal(const char* what, double value, double limit, const char* unit) {
  std::printf("  %-58s %7.2f%s  (goal <= %.2f%s)  %s\n", what, value, unit, limit, unit,
              value <= limit ? "met" : "MISSED");
}

int Main(int argc, char** argv) {
  fs::path self = fs::canonical("/proc/self/exe").parent_path();
  const int runs = std::max(1, std::atoi(Option(argc, argv, "--runs", "15").c_str()));
  const std::string library = Option(argc, argv, "--library", (self.parent_path() / "lib" / "libvarnel.so").string());
  const std::string host = Option(argc, argv, "--host", (self / "call_host").string());
  const std::string baseline = Option(argc, argv, "--baseline", "");
  const bool keep = Flag(argc, argv, "--keep");
  fs::path base = Option(argc, argv, "--dir", (fs::temp_directory_path() / "varnel-call-bench").string());
  fs::remove_all(base);
  fs::create_directories(base);
  base = fs::canonical(base);
  auto root = [&](const char* name) { return (base / name).string() + "/"; };

  std::printf("writing the jobs under %s\n", base.string().c_str());
  const CallJob full = varnel::bench::WriteCallJob(root("full"), {});
  const CallJob half = varnel::bench::WriteCallJob(root("half"), {50, 0, 0});
  const CallJob crowdLib = varnel::bench::WriteCallJob(root("crowded-lib"), {100, kCrowd, 0});
  const CallJob crowdWork = varnel::bench::WriteCallJob(root("crowded-work"), {100, 0, kCrowd});

  std::vector<Case> cases;
  struct Planned {
    const char* name;
    const CallJob* job;
  };
  const Planned planned[] = {{"worst case", &full},
                             {"half size", &half},
                             {"worst case, 5,000 more files in the library dir", &crowdLib},
                             {"worst case, 5,000 more files in the working dir", &crowdWork}};
  std::vector<std::string> libraries = {library};
  if (!baseline.empty()) libraries.push_back(baseline);
  for (const std::string& lib : libraries) {
    for (const Planned& p : planned) {
      CheckJob(p.name, HostCommand(host, lib, *p.job, 0), *p.job);
      for (int level : {-1, 0}) {
        Case c;
        c.name = p.name;
        c.logLevel = level;
        c.job = p.job;
        c.baseline = lib != library;
        if (c.baseline) c.name += " (baseline)";
        c.command = HostCommand(host, lib, *p.job, level);
        c.peakKiB = PeakKiB(c.command, base.string() + "/");
        cases.push_back(c);
      }
    }
  }
  // The crowded jobs link the very same download.
  const std::string download = ReadFile(full.workDir + full.downloadFile);
  for (const CallJob* job : {&crowdLib, &crowdWork})
    if (ReadFile(job->workDir + job->downloadFile) != download)
      throw std::runtime_error("a crowded job linked another download");

  const std::string srecDir = root("srec");
  fs::create_directories(srecDir);
  fs::copy_file(full.workDir + full.downloadFile, srecDir + "in.s19", fs::copy_options::overwrite_existing);
  Case srec;
  srec.name = "srec_cat in.s19 -o out.s19";
  srec.command = {"srec_cat", srecDir + "in.s19", "-o", srecDir + "out.s19"};
  if (Run(srec.command).status != 0) throw std::runtime_error("srec_cat failed; is srecord installed?");
  cases.insert(cases.begin(), srec);

  std::printf("S1 data: %u bytes in %s\n", full.programBytes + full.dataBytes,
              (srecDir + "in.s19").c_str());
  std::printf("timing %zu cases, %d rounds, each case once a round in turn\n", cases.size(), runs);
  for (int r = 0; r < runs; ++r) {
    // Each round starts at another case, so that no case always follows the
    // same one.
    for (size_t k = 0; k < cases.size(); ++k) {
      Case& c = cases[(k + static_cast<size_t>(r)) % cases.size()];
      // What the last process left for the disk to write goes out before
      // this one starts, outside its time: no case pays for another's.
      sync();
      Outcome o = Run(c.command);
      if (o.status != 0) throw std::runtime_error(c.name + ": the call failed");
      c.millis.push_back(o.millis);
    }
  }

  const double srecMs = cases[0].Median();
  std::printf("\n%-61s %5s %10s %12s %10s\n", "case", "level", "median ms", "x srec_cat", "peak RSS");
  for (const Case& c : cases) {
    std::string level = c.job == nullptr ? "" : std::to_string(c.logLevel);
    std::string rss = c.job == nullptr ? "" : Format("%6.1f MiB", static_cast<double>(c.peakKiB) / 1024.0);
    std::printf("%-61s %5s %10.2f %12.2f %10s\n", c.name.c_str(), level.c_str(), c.Median(),
                c.Median() / srecMs, rss.c_str());
  }

  auto at = [&](const CallJob& job, int level) -> const Case& {
    for (const Case& c : cases)
      if (c.job == &job && c.logLevel == level && !c.baseline) return c;
    throw std::logic_error("no such case");
  };
  long peak = 0;
  for (size_t i = 1; i < cases.size(); ++i)
    if (!cases[i].baseline) peak = std::max(peak, cases[i].peakKiB);
  std::printf("\ngoals\n");
  Goal("worst case, level -1, over srec_cat", at(full, -1).Median() / srecMs, 1.0, " x");
  Goal("worst case, level 0, over srec_cat", at(full, 0).Median() / srecMs, 2.0, " x");
  for (int level : {-1, 0}) {
    std::string l = " (level " + std::to_string(level) + ")";
    Goal(("crowded library dir over the worst case" + l).c_str(),
         at(crowdLib, level).Median() / at(full, level).Median(), 1.2, " x");
    Goal(("crowded working dir over the worst case" + l).c_str(),
         at(crowdWork, level).Median() / at(full, level).Median(), 1.2, " x");
    Goal(("worst case over half size" + l).c_str(), at(full, level).Median() / at(half, level).Median(), 2.0,
         " x");
  }
  Goal("peak RSS of a Varnel call", static_cast<double>(peak) / 1024.0, 16.0, " MiB");

  if (keep) {
    std::printf("\nthe jobs stay under %s; one call of each case:\n", base.string().c_str());
    for (size_t i = 1; i < cases.size(); ++i) {
      std::string line;
      for (const std::string& a : cases[i].command) line += (line.empty() ? "" : " ") + a;
      std::printf("  %s\n", line.c_str());
    }
  } else {
    fs::remove_all(base);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "call_bench: %s\n", e.what());
    return 1;
  }
}
