// The object linker, stage 2 of a link call.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "stage.h"

namespace varnel {

// The linked image: addresses 0x0000 to 0xFFFE.
constexpr uint32_t kImageSize = 0xFFFF;

// Runs stage 2; 0, or the linker error number n, whose result code is
// kLinkerErrorBase + n.
int RunLinker(LinkParams* params);
constexpr int kLinkerErrorBase = 2000;
// The linker's error for a region that no memory block can take: the FBs do
// not fit.
constexpr int kLinkerErrorNoFit = 1;

// The image of the last link (stage 3 reads it; tests fill it).
uint8_t* LinkedImage();

// Writes the S1 records of the used bytes of the image from 0x0000 to 0xBFFF
// and the end record to an open text stream.
void WriteS1Records(platform::Stream* stream);

#if defined(VARNEL_TEST_SEAMS)
// Test-only: the used-byte flags beside the image, 1 where the last link
// wrote a byte.
uint8_t* LinkedImageUsed();

// Test-only: modules processed since the library was loaded; it paces the
// progress dots and runs on from one link to the next.
int LinkerModuleCounter();
#endif

}  // namespace varnel
