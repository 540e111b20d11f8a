// RP extraction over an arbitrary image: the input is laid into the linked
// image from the first RP's address on (the rest stays zero); its first
// byte, taken off, says how many RPs the planner submitted.
#include "image_harness.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ImageRun* run = &fuzz::ImageRun::Shared();
  constexpr size_t kFirstRp = 0x100;
  int32_t rpFiles = size > 0 ? data[0] % 4 : 0;
  if (size > 0) {
    ++data;
    --size;
  }
  uint8_t* image = LinkedImage();
  std::memset(image, 0, kImageSize);
  std::memcpy(image + kFirstRp, data, std::min(size, kImageSize - kFirstRp));
  run->Run("OUT.DL", rpFiles);
  return 0;
}
