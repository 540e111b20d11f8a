// The jobs the benchmarks time: generated objects and libraries, and whole
// link jobs (an ARG file in a working directory and the objects of a
// library directory) for a `Varnel` call, built from the test builders.
// The output-pinning test runs the same jobs, so what the benchmark times is
// what that test holds byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builders/files.h"

namespace varnel::bench {

using testing::Bytes;

// Writes a region's bytes as S2 records of at most 72 payload bytes.
class RegionWriter {
 public:
  RegionWriter(std::string* out, int region) : out_(out), region_(region) {}
  // A relocation item of `type` (0xC0 and 0xE0 take two bytes) against
  // region `target`.
  void Relocation(int type, int target, uint32_t operand);
  // A literal run of n (1 to 6) bytes.
  void Literal(uint32_t n);
  void Flush();
  // Fills the region up to `size` bytes with relocation items and literal
  // runs by turns.
  void FillTo(uint32_t size);

 private:
  void Item(const Bytes& item, uint32_t width);

  std::string* out_;
  int region_;
  Bytes payload_;
  uint32_t start_ = 0;
  uint32_t offset_ = 0;
};

// The share of `total` that part `i` of `parts` takes; the first parts take
// one more each while there is a remainder.
uint32_t Share(uint32_t total, int parts, int i);

struct External {
  std::string name;
  bool subtract;
};

// An object of `aromSize` program bytes (region 1) and `xramSize` data bytes
// (region 2): the globals at data offsets 0, 1, ..., and an external at
// every even data offset from 0, each with a relocation item there (as many
// stored fixups as externals); the rest of both regions filled.
std::string FileObject(const std::string& name, uint32_t aromSize, uint32_t xramSize,
                       const std::vector<std::string>& globals, const std::vector<External>& externals);

// A library of `modules` modules: the first half are not needed (five
// globals each), the second half are, each defining L%05d for the numbers
// from *needed on.  *needed and *dropped count on.
std::string HalfNeededLibrary(int modules, int* needed, int* dropped);

int Scaled(int full, int percent);

// The line the linker logs at level 0 for a link's table counts (as many
// stored fixups as externals).
std::string CountsLine(int globals, int externs);

// A whole link for one `Varnel` call, the largest the planner and the
// linker's tables allow at 100 percent: an Exec 3.2 module without a driver
// and with the memory map of 32 KiB program and 28 KiB data, 60 FBs found as
// plain objects (the most an ARG file may list), 15 of them with an RP
// library of 40 modules (half of them needed), so 139 input files;
// 1,999 globals, 5,199 externals and as many stored fixups; 16,384 program
// bytes (0x8000-0xBFFF) and 20,430 data bytes (0x1032-0x5FFF) written,
// 36,814 in all: every byte of the download's windows (0x0000-0x5FFF,
// 0x8000-0xBFFF) that a memory map reaches, but the 50 that MXRAM reserves.
// At 50 percent every figure the job chooses is halved.  Unrelated files can
// be added to either directory.
struct CallJobShape {
  int percent = 100;
  int libraryCrowd = 0;  // unrelated files added to the library directory
  int workCrowd = 0;     // and to the working directory
  // The ARG file names the FBs in lower case, the library's files are upper
  // case: every FB and RP file is then found ignoring case.
  bool lowerCaseNames = false;
};

struct CallJob {
  std::string libraryDir;  // with its trailing separator
  std::string workDir;     // with its trailing separator
  std::string argFile = "JOB.ARG";
  std::string logFile = "JOB.LOG";
  std::string submitFile = "JOB.SUB";
  std::string downloadFile = "JOB.S1";
  int fbs = 0;
  int rpLibraries = 0;
  int inputFiles = 0;
  int globals = 0;
  int externs = 0;
  uint32_t programBytes = 0;
  uint32_t dataBytes = 0;

  // The line the linker logs at level 0 for the job's table counts.
  std::string CountsLine() const;
};

// Writes the job under `root` (a directory with its trailing separator; its
// lib/ and work/ are made anew).  Every library file gets the same fixed
// date, so the log does not depend on when the job was written.
CallJob WriteCallJob(const std::string& root, const CallJobShape& shape);

// Adds unrelated files (other modules' objects, packed files, logs and the
// like) to the job's library and working directories; once per job.
void AddUnrelatedFiles(const CallJob& job, int libraryFiles, int workFiles);

// The data bytes of the S1 records of a download file; -1 when a line is no
// S1, S9 or empty line.
int64_t S1DataBytes(const std::string& downloadText);

}  // namespace varnel::bench
