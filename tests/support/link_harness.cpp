#include "support/link_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace varnel::testing {

std::vector<std::string> LinesStarting(const std::string& text,
                                       const std::vector<std::string>& prefixes) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::string stage = "Linking with M68 files.";
    if (line.rfind(stage, 0) == 0) line.erase(0, stage.size());
    line.erase(0, std::min(line.find_first_not_of('.'), line.size()));  // progress dots
    for (const std::string& p : prefixes) {
      if (line.rfind(p, 0) == 0) {
        out.push_back(line);
        break;
      }
    }
  }
  return out;
}

bool SrecInfoAccepts(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  std::string command = "srec_info '" + path + "' > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
#endif
}

LinkHarness::LinkHarness() = default;

std::string LinkHarness::Object(const std::string& name, const std::string& records) {
  WriteFile(dir / name, Crlf(records));
  return dir / name;
}

void LinkHarness::Submit(const std::string& lines) { WriteFile(dir / "LINK.CMD", Crlf(lines)); }

int LinkHarness::Run(int logLevel, int execType, bool output) {
  params = LinkParams{};
  log.Fill(params, logLevel);
  params.submitFileName = "LINK.CMD";
  params.outputFileName = output ? "OUT.S1" : nullptr;
  params.execType = execType;
  params.workDir = dir.Path().c_str();
  return RunLinker(&params);
}

void LinkHarness::ExpectValidS1() const {
  ASSERT_TRUE(Exists(dir / "OUT.S1"));
  EXPECT_TRUE(SrecInfoAccepts(dir / "OUT.S1")) << Output();
}

}  // namespace varnel::testing
