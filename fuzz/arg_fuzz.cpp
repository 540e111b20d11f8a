// The ARG file with its module configuration and FB list: the input is the
// ARG file of stage 1 over a generated library directory, which an ARG file
// names as "@lib/" on its first line.
#include "fuzz_support.h"
#include "planner.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string work = [] {
    fuzz::CheckDescriptors();
    fuzz::WriteLibrary(fuzz::Dir("lib"));
    return fuzz::Dir("work");
  }();
  fuzz::ClearDir(work);
  testing::WriteFile(work + "JOB.ARG", fuzz::AtRoot(std::string(reinterpret_cast<const char*>(data), size)));
  PlanParams params{};
  fuzz::Quiet(params, 4);
  params.argFileName = "JOB.ARG";
  params.submitFileName = "JOB.SUB";
  params.workDir = work.c_str();
  RunPlanner(&params);
  fuzz::CheckDescriptors();
  return 0;
}
