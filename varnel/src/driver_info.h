// The driver information record: what a module driver is and which modules
// it may control.
#pragma once

#include <cstdint>

namespace varnel {

// 83 bytes, the same layout in memory, in packed driver files and in the
// built-in tables; multi-byte fields are little-endian.
struct DriverInfo {
  char description[33];  // blank-padded to 31 characters, then NULs; "" = none
  uint8_t execType[2];   // signed 16-bit
  uint8_t allowedTypes[16];  // 8 x unsigned 16-bit; 0 empty, 255 any type
  uint8_t further[32];

  int16_t ExecType() const { return static_cast<int16_t>(execType[0] | (execType[1] << 8)); }
  void SetExecType(int16_t t) {
    execType[0] = static_cast<uint8_t>(t & 0xFF);
    execType[1] = static_cast<uint8_t>((static_cast<uint16_t>(t) >> 8) & 0xFF);
  }
  uint16_t AllowedType(int i) const {
    return static_cast<uint16_t>(allowedTypes[2 * i] | (allowedTypes[2 * i + 1] << 8));
  }
  void SetAllowedType(int i, uint16_t t) {
    allowedTypes[2 * i] = static_cast<uint8_t>(t & 0xFF);
    allowedTypes[2 * i + 1] = static_cast<uint8_t>(t >> 8);
  }
};
static_assert(sizeof(DriverInfo) == 83, "DriverInfo is an 83-byte record");

}  // namespace varnel
