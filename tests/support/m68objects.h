// Builders for M68 object records and a harness that runs the linker stage
// on a submit file and objects written into a scratch directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "linker.h"
#include "support/testutil.h"

namespace varnel::testing {

using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b);

// One record line: "S", the type digit, the count, the data, the checksum
// and a line end.
std::string M68Record(int type, const Bytes& data);
// The same record with its checksum off by one.
std::string M68BadChecksum(int type, const Bytes& data);

std::string S0(const std::string& name);
std::string S3(int region, const std::string& name);
std::string S4(int region, uint16_t start, uint16_t end);
std::string S8(int region, uint16_t offset, const std::string& name);
std::string S2(int region, uint16_t offset, const Bytes& payload);
std::string S7(int region, uint16_t offset, bool subtract, const std::string& name);
std::string S9();

// S2 payload items: a literal run, and a relocation item of a type (0x20 to
// 0xE0) against a target region.
Bytes Lit(const Bytes& bytes);
Bytes Rel(int type, int target, uint16_t operand);

// An S1 data line (CR LF) for bytes from an address, independent of the
// linker's writer.
std::string S1Line(uint32_t address, const Bytes& bytes);

// The limits record the linker adds at 0x805A for every Exec type but 5:
// highest XRAM and AROM addresses used, and the year code of this year.
std::string LimitsLine(uint16_t xramLast, uint16_t aromLast);
uint8_t CurrentYearCode();

// The lines of a log that start with one of the prefixes, in order; the
// stage's opening progress text and progress dots before them on the same
// line are passed over.
std::vector<std::string> LinesStarting(const std::string& text,
                                       const std::vector<std::string>& prefixes);

// Runs `srec_info` on a file; true when it reads it without complaint.
// Always true on Windows, which has no such tool here.
bool SrecInfoAccepts(const std::string& path);

// A scratch working directory with a submit file, objects and a captured
// log, and one run of the linker stage over them.
class LinkHarness {
 public:
  LinkHarness();

  // Writes an object file; returns its full path for FILE and LIBRARY lines.
  std::string Object(const std::string& name, const std::string& records);
  // Writes the submit file LINK.CMD from LF-ended lines (stored with CR LF).
  void Submit(const std::string& lines);
  // Runs RunLinker; the download file is OUT.S1 unless `output` is false.
  int Run(int logLevel, int execType = 1, bool output = true);

  std::string Output() const { return ReadFile(dir / "OUT.S1"); }
  // Asserts (gtest) that the download file exists and srec_info takes it.
  void ExpectValidS1() const;

  TempDir dir;
  CaptureLog log;
  LinkParams params{};
};

// The usual memory map of the tests: data at 0400, program at 8000.
extern const char* const kSections;

}  // namespace varnel::testing
