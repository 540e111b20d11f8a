// A harness that runs the linker stage on a submit file and objects written
// into a scratch directory, and readers of what it leaves.
#pragma once

#include <string>
#include <vector>

#include "builders/files.h"
#include "builders/m68objects.h"
#include "linker.h"
#include "support/capture_log.h"

namespace varnel::testing {

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

}  // namespace varnel::testing
