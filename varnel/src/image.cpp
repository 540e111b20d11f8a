// The module image builder (stage 3).
#include "image.h"

namespace varnel {

// (to be built)
int RunImageBuilder(ImageParams*) { return 1; }

}  // namespace varnel
