// The driver information record: what a module driver is and which modules
// it may control.
#pragma once

#include <cstdint>

#include "byte_order.h"

namespace varnel {

// 83 bytes, the same layout in memory, in packed driver files and in the
// built-in tables; multi-byte fields are little-endian.
struct DriverInfo {
  char description[33];  // blank-padded to 31 characters, then NULs; "" = none
  uint8_t execType[2];   // signed 16-bit
  uint8_t allowedTypes[16];  // 8 x unsigned 16-bit; 0 empty, 255 any type
  uint8_t further[32];

  constexpr int16_t ExecType() const { return static_cast<int16_t>(GetLe16(execType)); }
  constexpr void SetExecType(int16_t t) { PutLe16(execType, static_cast<uint16_t>(t)); }
  constexpr uint16_t AllowedType(int i) const { return GetLe16(allowedTypes + 2 * i); }
  constexpr void SetAllowedType(int i, uint16_t t) { PutLe16(allowedTypes + 2 * i, t); }
};
static_assert(sizeof(DriverInfo) == 83, "DriverInfo is an 83-byte record");

}  // namespace varnel
