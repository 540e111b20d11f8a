// The open file descriptors of this process, as /proc/self/fd lists them
// (not on Windows).
#pragma once

#if !defined(_WIN32)
#include <cstdint>
#include <filesystem>

namespace varnel::testing {

inline int64_t OpenDescriptors() {
  int64_t n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++n;
  }
  return n;
}

}  // namespace varnel::testing
#endif
