// The figures of the memory summaries (the fit summary, the image builder's
// memory summary and the linker's sizes): kilobytes and percentages in
// single precision, each step rounded to float, as the summaries have always
// computed them.
#pragma once

#include <cstdint>

namespace varnel {

// Each step goes through a volatile float, so that no compiler carries it
// in more precision than a float has (as x87 code would).
inline float Kbytes(uint64_t bytes) {
  volatile float k = static_cast<float>(bytes) * (1.0f / 1024.0f);
  return k;
}

// 0 when the whole is 0.
inline float Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return 0.0f;
  volatile float times100 = static_cast<float>(part) * 100.0f;
  volatile float quotient = times100 / static_cast<float>(whole);
  return quotient;
}

}  // namespace varnel
