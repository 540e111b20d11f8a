// The benchmark's jobs (bench/jobs.h), linked through Varnel, give exactly
// the outputs whose SHA-256 digests are kept below: the download file, the
// submit file and the log, each whole, with only what differs from run to
// run made fixed (the scratch directories in the paths, and in the download
// the year code the linker stores at 0x805E with its record's checksum).
// The working directory must hold nothing else afterwards.  A changed byte
// anywhere fails; VARNEL_PRINT_DIGESTS=1 prints the digests a run computes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "builders/files.h"
#include "format.h"
#include "jobs.h"
#include "linker.h"
#include "support/link_harness.h"
#include "support/sha256.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

std::string WithFixedDirs(std::string text, const bench::CallJob& job) {
  ReplaceAll(text, job.libraryDir, "<LIB>/");
  ReplaceAll(text, job.workDir, "<WORK>/");
  return text;
}

// The year code's two digits and the checksum of the record that holds it
// become "yy" and "cc".
std::string WithFixedYear(std::string s1) {
  constexpr uint32_t kYearCode = 0x805E;
  size_t at = 0;
  while (at < s1.size()) {
    size_t end = s1.find('\n', at);
    if (end == std::string::npos) end = s1.size();
    size_t cr = end > at && s1[end - 1] == '\r' ? end - 1 : end;
    if (cr - at > 10 && s1.compare(at, 2, "S1") == 0) {
      uint32_t count = static_cast<uint32_t>(std::stoul(s1.substr(at + 2, 2), nullptr, 16));
      uint32_t address = static_cast<uint32_t>(std::stoul(s1.substr(at + 4, 4), nullptr, 16));
      if (kYearCode >= address && kYearCode < address + count - 3) {
        s1.replace(at + 8 + 2 * (kYearCode - address), 2, "yy");
        s1.replace(cr - 2, 2, "cc");
      }
    }
    at = end + 1;
  }
  return s1;
}

// The linker's module counter runs on from call to call and paces the
// progress dots of the log: each job starts where the counter is a multiple
// of 8, whatever ran before it.
void AlignModuleCounter() {
  LinkHarness h;
  std::string one = h.Object("ONE.OBJ", S0("ONE") + S3(1, "AROM") + S4(1, 0, 0) + S2(1, 0, Lit({0x4E})) + S9());
  h.Submit(std::string(kSections) + "FILE     " + one + "\n");
  while (LinkerModuleCounter() % 8 != 0) ASSERT_EQ(h.Run(-1, 1, false), 0);
}

struct Digests {
  const char* download;
  const char* submit;
  const char* log;
};

const Digests kFullQuiet = {"1825da3ca614c987a980fec23f90d06ff46f2e003a7c9463bf567f702f928cc9",
                            "d4d9c875d04e6930eb300dfe5da23d04feb05accf5aaf78540a4f914c3197270",
                            "374e971e9f072dce4db68785be1ddff4885851308410832ab3504f7fc2c804ad"};
const Digests kFullLevel0 = {"1825da3ca614c987a980fec23f90d06ff46f2e003a7c9463bf567f702f928cc9",
                             "d4d9c875d04e6930eb300dfe5da23d04feb05accf5aaf78540a4f914c3197270",
                             "0f92659b31ac1cdab453f6f7aabdc2131915627e81d50679849a2994465f184b"};
const Digests kHalfQuiet = {"a5276fc8f03393a2cbbedc4538c614d98350405a46a59ba052587b1270f26779",
                            "2c6cb2d0a54a55371baa6d4118d7ac5b160e415204b0f5f2a6e4c0ab22093c76",
                            "fe5dd93517d06382c80488c567b80622a558e2e46347497bfa325df7695d179f"};
const Digests kHalfLevel0 = {"a5276fc8f03393a2cbbedc4538c614d98350405a46a59ba052587b1270f26779",
                             "2c6cb2d0a54a55371baa6d4118d7ac5b160e415204b0f5f2a6e4c0ab22093c76",
                             "c8df5d595759744d1af9faf9e6d031f78caa8b988f569df25c054a9bd8a45fa3"};
const Digests kLowerLevel0 = {"a5276fc8f03393a2cbbedc4538c614d98350405a46a59ba052587b1270f26779",
                              "6c946acfe6c97bdeb3b3a14a4a398aa2ca2435cf120260395b8af35559ddddb2",
                              "71a71e40e64d2b6efc0c077d3f577fdea3acc50b2a4d4a82cbcac80f5b68610e"};

enum JobIndex { kFull, kHalf, kLower };

// One call on a job, after unrelated files were added to its directories.
struct Step {
  const char* what;
  JobIndex job;
  int addLibraryFiles;
  int addWorkFiles;
  int logLevel;
  Digests digests;
};

// The worst case and the half-size job at both levels.  Unrelated files in
// the directories (fewer than the benchmark's 5,000, to stay quick) leave
// every output as it was; FB names in another case change only the names.
const Step kSteps[] = {
    {"worst case", kFull, 0, 0, -1, kFullQuiet},
    {"worst case", kFull, 0, 0, 0, kFullLevel0},
    {"worst case, crowded library directory", kFull, 100, 0, 0, kFullLevel0},
    {"worst case, crowded working directory too", kFull, 0, 100, -1, kFullQuiet},
    {"half size", kHalf, 0, 0, -1, kHalfQuiet},
    {"half size", kHalf, 0, 0, 0, kHalfLevel0},
    {"half size, FB names in lower case", kLower, 0, 0, 0, kLowerLevel0},
};

TEST(BenchOutputs, EveryByteAsPinned) {
  const bool print = std::getenv("VARNEL_PRINT_DIGESTS") != nullptr;
  TempDir dir;
  const bench::CallJob jobs[] = {bench::WriteCallJob(dir / "full/", {100, 0, 0, false}),
                                 bench::WriteCallJob(dir / "half/", {50, 0, 0, false}),
                                 bench::WriteCallJob(dir / "lower/", {50, 0, 0, true})};
  for (const Step& step : kSteps) {
    SCOPED_TRACE(Format("%s, log level %d", step.what, step.logLevel));
    const bench::CallJob& job = jobs[step.job];
    bench::AddUnrelatedFiles(job, step.addLibraryFiles, step.addWorkFiles);
    std::vector<std::string> expected = ListDir(job.workDir);
    for (const std::string& name : {job.logFile, job.submitFile, job.downloadFile}) expected.push_back(name);
    std::sort(expected.begin(), expected.end());
    expected.erase(std::unique(expected.begin(), expected.end()), expected.end());

    AlignModuleCounter();
    std::vector<char> message(550, 'x');
    int result = Varnel(job.argFile.c_str(), job.libraryDir.c_str(), job.workDir.c_str(), job.logFile.c_str(),
                        job.submitFile.c_str(), job.downloadFile.c_str(), step.logLevel, message.data(),
                        message.size());
    ASSERT_EQ(result, 0) << message.data();
    EXPECT_EQ(std::string(message.data()), "");

    const std::string download = ReadFile(job.workDir + job.downloadFile);
    EXPECT_EQ(bench::S1DataBytes(download), job.programBytes + job.dataBytes);
    const std::string downloadDigest = Sha256Hex(WithFixedYear(download));
    const std::string submitDigest = Sha256Hex(WithFixedDirs(ReadFile(job.workDir + job.submitFile), job));
    const std::string logDigest = Sha256Hex(WithFixedDirs(ReadFile(job.workDir + job.logFile), job));
    if (print) {
      std::printf("%s, level %d:\n  {\"%s\",\n   \"%s\",\n   \"%s\"}\n", step.what, step.logLevel,
                  downloadDigest.c_str(), submitDigest.c_str(), logDigest.c_str());
    }
    EXPECT_EQ(downloadDigest, step.digests.download) << "the download file changed";
    EXPECT_EQ(submitDigest, step.digests.submit) << "the submit file changed";
    EXPECT_EQ(logDigest, step.digests.log) << "the log changed";
    EXPECT_EQ(ListDir(job.workDir), expected) << "the working directory holds other files";
  }
}

}  // namespace
}  // namespace varnel::testing
