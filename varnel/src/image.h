// The module image builder, stage 3 of a link call (Exec type 5 only).
#pragma once

#include <cstdint>

#include "stage.h"

namespace varnel {

// Runs stage 3; 0, or the image builder error number n, whose result code
// is kImageErrorBase + n.
int RunImageBuilder(ImageParams* params);
constexpr int kImageErrorBase = 3000;

// One firmware section, as the module reports it or as a chunk header of
// the driver firmware gives it.
struct FirmwareSection {
  uint16_t id;         // 0 BOOT, 1 EXEC, 2 CORE, 3 MAIN
  uint32_t version;
  uint32_t blockSize;  // 0: an empty slot
  uint16_t crc;
};

constexpr int kLoadedSectionSlots = 8;

// The module status token, parsed.  Fields named by their token column are
// carried along but read by nobody.
struct ModuleStatus {
  uint8_t col0;
  uint16_t col2;
  uint8_t col6;
  uint16_t col8;
  uint16_t col12;
  uint8_t col16;
  uint8_t col18;
  uint8_t col20[11];
  uint16_t col40;
  uint16_t col44;
  uint16_t col48;
  uint32_t col52;
  uint16_t col60;
  uint8_t col64;
  uint8_t col66;
  uint8_t col68[11];
  uint16_t col88;
  uint16_t col92;
  uint16_t col96;
  uint32_t col100;
  uint8_t col108[24];
  uint8_t ramSize;    // RAM in units of 128 KiB; 0 = not reported
  uint8_t flashSize;  // x 128 KiB firmware space, x 16 KiB flash sector; 0 = not reported
  uint8_t col160;
  uint8_t col162[6];
  uint8_t col174[4];
  FirmwareSection sections[kLoadedSectionSlots];  // the loaded sections
  uint16_t loadedCount;                           // slots filled by the parse
};

// Clears status and converts what token holds (token may be nullptr);
// returns the running count of converted fields, 0 to 42.
int ParseModuleStatus(const char* token, ModuleStatus* status);

#if defined(VARNEL_TEST_SEAMS)
// Test-only: the record the last run parsed (and its replace decisions
// changed).
const ModuleStatus& CurrentModuleStatus();
#endif

#if defined(VARNEL_FAULT_HOOK)
// Test-only: the n-th RP list node allocated from now on fails (n >= 1);
// 0 disarms it.
void FailRpNodeAllocation(int n);
#endif

}  // namespace varnel
