// The object linker (stage 2).
#include "linker.h"

namespace varnel {

// (to be built)
int RunLinker(LinkParams*) { return 2; }

uint8_t* LinkedImage() {
  static uint8_t image[kImageSize];
  return image;
}

}  // namespace varnel
