// The firmware pass: the input is the module driver's firmware file.
#include "image_harness.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ImageRun* run = &fuzz::ImageRun::Shared();
  fuzz::Put(run->work + "DRV.$$$", data, size);
  run->Run();
  return 0;
}
