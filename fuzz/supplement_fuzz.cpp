// The DOWNLOAD_SUPPLEMENT lines with the screen file copy: the input is the
// ARG file, then after each "\n@@\n" a screen file, stored as lib/S1.SCR,
// lib/S2.SCR, ...
#include "image_harness.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ImageRun* run = &fuzz::ImageRun::Shared();
  std::vector<std::string> parts = fuzz::Split(data, size);
  fuzz::ClearDir(run->lib);
  run->Arg(parts[0]);
  for (size_t i = 1; i < parts.size() && i <= 8; ++i)
    testing::WriteFile(run->lib + "S" + std::to_string(i) + ".SCR", parts[i]);
  run->Run();
  return 0;
}
