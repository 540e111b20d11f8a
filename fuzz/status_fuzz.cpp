// The module status token: the input is the token, parsed on its own and
// then driving the replace decisions of a whole stage 3 run.
#include "image_harness.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ImageRun* run = &fuzz::ImageRun::Shared();
  run->token = fuzz::Text(data, size);
  ModuleStatus status;
  ParseModuleStatus(run->token.c_str(), &status);
  run->Run(size > 0 && data[size - 1] == '!' ? nullptr : "OUT.DL");
  return 0;
}
