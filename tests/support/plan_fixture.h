// A stage-1 test bench: a working directory and a library directory, an ARG
// file written from FB pairs and a status token, and RunPlanner called with a
// record that CaptureLog fills.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "builders/files.h"
#include "builders/m68objects.h"
#include "builders/packer.h"
#include "format.h"
#include "planner.h"
#include "platform/platform.h"
#include "support/capture_log.h"

namespace varnel::testing {

// The 260 DEFINE lines of an Exec 3.x submit file, in order.
inline std::string Exec3Block() {
  std::string all;
  for (int i = 0; i < kExec3ConstantTexts; ++i) all += Exec3Constants()[i];
  return all;
}

class PlanFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    work = dir.Path() + "work/";
    lib = dir.Path() + "lib/";
    std::filesystem::create_directory(work);
    std::filesystem::create_directory(lib);
    // The header and library every Exec 3.x link without a packed driver takes.
    Lib("EEPROM.OBJ");
    Lib("LIB.OBJ");
  }

  // The ARG file: the library directory, the FB pairs, an "XXX" line and the
  // token (no "XXX" line when the token is nullptr).
  void Arg(const std::vector<std::pair<int, std::string>>& fbs, const char* token,
           const std::string& libToken = "") {
    WriteFile(work + "JOB.ARG", ArgFileText(fbs, token, libToken));
  }
  std::string ArgFileText(const std::vector<std::pair<int, std::string>>& fbs, const char* token,
                          const std::string& libToken = "") const {
    std::string text = (libToken.empty() ? lib : libToken) + "\n";
    for (const auto& [number, name] : fbs) text += Format(" %d %s\n", number, name.c_str());
    if (token != nullptr) text += std::string("XXX\n") + token + "\n";
    return text;
  }
  void ArgText(const std::string& text) { WriteFile(work + "JOB.ARG", text); }

  void Lib(const std::string& name, const std::string& content = "S9030000FC\n") {
    WriteFile(lib + name, content);
  }

  int Run(int logLevel = 2) {
    log.text.clear();
    log.errors.clear();
    log.errorCodes.clear();
    params.argFileName = "JOB.ARG";
    params.submitFileName = submitName.c_str();
    params.workDir = work.c_str();
    log.Fill(params, logLevel);
    return RunPlanner(&params);
  }

  std::string Submit() const { return ReadFile(work + submitName); }
  std::string LastError() const { return log.errors.empty() ? "" : log.errors.back(); }
  bool Logged(const std::string& piece) const { return log.text.find(piece) != std::string::npos; }

  // Sets a file's last-write time (UTC).
  static void SetTime(const std::string& path, int year, int month, int day, int hour, int minute) {
    uint16_t date = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
    uint16_t time = static_cast<uint16_t>((hour << 11) | (minute << 5));
    ASSERT_TRUE(platform::SetFileDosTime(path.c_str(), date, time)) << path;
  }

  TempDir dir;
  std::string work;
  std::string lib;
  std::string submitName = "JOB.SUB";
  PlanParams params{};
  CaptureLog log;
};

}  // namespace varnel::testing
