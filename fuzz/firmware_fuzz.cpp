// The firmware pass: the input is the module driver's firmware file.
#include "image_harness.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzz::ImageRun* run = [] {
    auto* r = new fuzz::ImageRun;
    fuzz::ImageRun::StandardImage();
    return r;
  }();
  fuzz::Put(run->work + "DRV.$$$", data, size);
  run->Run();
  return 0;
}
