// The object linker, stage 2 of a link call.
#pragma once

#include <cstdint>

#include "runctl.h"

namespace varnel {

// The linked image: addresses 0x0000 to 0xFFFE.
constexpr uint32_t kImageSize = 0xFFFF;

// Runs stage 2; 0, or the linker error number.
int RunLinker(LinkParams* params);

// The image of the last link (stage 3 reads it; tests fill it).
uint8_t* LinkedImage();

}  // namespace varnel
