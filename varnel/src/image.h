// The module image builder, stage 3 of a link call (Exec type 5 only).
#pragma once

#include "runctl.h"

namespace varnel {

// Runs stage 3; 0, or the image builder error number.
int RunImageBuilder(ImageParams* params);

}  // namespace varnel
