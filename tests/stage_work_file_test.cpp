// The first file of the working directory each stage opens: a path that
// just fits is logged and tried, one a character longer is refused without
// a log line, and either way the stage ends with its open error naming the
// file and the directory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builders/files.h"
#include "image.h"
#include "linker.h"
#include "planner.h"
#include "support/capture_log.h"

namespace varnel::testing {
namespace {

int RunPlannerOn(const std::string& workDir, const char* name, CaptureLog& log) {
  PlanParams p{};
  p.argFileName = name;
  p.submitFileName = "JOB.SUB";
  p.workDir = workDir.c_str();
  log.Fill(p, 2);
  return RunPlanner(&p);
}

int RunLinkerOn(const std::string& workDir, const char* name, CaptureLog& log) {
  LinkParams p{};
  p.submitFileName = name;
  p.execType = 1;
  p.workDir = workDir.c_str();
  log.Fill(p, 2);
  return RunLinker(&p);
}

int RunImageBuilderOn(const std::string& workDir, const char* name, CaptureLog& log) {
  ImageParams p{};
  p.firmwareFileName = name;
  p.outputFileName = "OUT.DL";
  p.argFileName = "JOB.ARG";
  p.statusToken = "";
  p.workDir = workDir.c_str();
  log.Fill(p, 2);
  return RunImageBuilder(&p);
}

struct StageCase {
  const char* stage;
  int (*run)(const std::string& workDir, const char* name, CaptureLog& log);
  const char* name;     // the file the stage opens first
  const char* logLine;  // the line logged before it is tried, up to the path
  int error;            // the stage's error for a file that does not open
  int errorBase;
};

TEST(StageWorkFile, PathOfMoreThan255CharactersIsRefusedUnlogged) {
  const StageCase cases[] = {
      {"planner", RunPlannerOn, "JOB.ARG", "Opening Arg File \"", 1, kPlannerErrorBase},
      {"linker", RunLinkerOn, "LINK.CMD", "Opening Sub File \"", 2, kLinkerErrorBase},
      {"image builder", RunImageBuilderOn, "DRV.$$$", "Opening module driver firmware file \"", 1,
       kImageErrorBase},
  };
  TempDir dir;
  for (const StageCase& c : cases) {
    for (size_t length : {size_t{255}, size_t{256}}) {
      SCOPED_TRACE(std::string(c.stage) + ", " + std::to_string(length) + " characters");
      // A directory that does not exist: even the path that fits does not open.
      const size_t padding = length - dir.Path().size() - std::strlen(c.name) - 1;
      ASSERT_LT(dir.Path().size() + std::strlen(c.name) + 1, length);
      const std::string workDir = dir.Path() + std::string(padding, 'd') + "/";
      const std::string path = workDir + c.name;
      ASSERT_EQ(path.size(), length);

      CaptureLog log;
      EXPECT_EQ(c.run(workDir, c.name, log), c.error);
      EXPECT_EQ(log.errorCodes, std::vector<int>{c.errorBase + c.error});
      ASSERT_EQ(log.errors.size(), 1u);
      EXPECT_TRUE(log.errors[0].starts_with("Cannot open file \"" + std::string(c.name) + "\" in directory \"" +
                                            workDir + "\".\n"))
          << log.errors[0];
      if (length == 255) EXPECT_NE(log.text.find(c.logLine + path + "\"\n"), std::string::npos) << log.text;
      else EXPECT_EQ(log.text.find(c.logLine), std::string::npos) << log.text;
    }
  }
}

}  // namespace
}  // namespace varnel::testing
