// The packed FB file reader.  One packed file is open at a time, process-wide.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_info.h"

namespace varnel {

// The 256-byte scrambling key table.
extern const uint8_t kPackKeyTable[256];

// XORs each byte with the key at (position + i) & 0xFF; applying it twice
// restores the data.
void ScrambleBuffer(uint8_t* data, size_t length, uint32_t position);
// CRC-16/XMODEM, continuing from crc.
uint16_t PackCrc16(const uint8_t* data, size_t length, uint16_t crc);

// Tries dir + name + ".MDV", ".FB", then dir + "SYSV" + name + ".DAT"; returns
// the path of the first that opens with a good CRC (that file left open), or
// nullptr with no file open.
const char* FindPackFile(const char* name, const char* dir);
const char* OpenPackFile(const char* name, const char* dir, const char* ext);
void ClosePackFile();
int GetPackVersion();
int IsExtendedPack();
int PackKind();
int GetPackDriverInfo(DriverInfo* destination);
uint16_t GetPackMemberDate(int member);
uint16_t GetPackMemberTime(int member);
uint32_t PackMemberSize(int member);
// The last-write date and time of the open packed file, as
// platform::GetFileDosTime gives them; false when none is open.
bool GetPackFileDosTime(uint16_t* dosDate, uint16_t* dosTime);
// Copies a member into the file the format names; 1 when it was written
// completely, 0 when the member is absent or its file cannot be written.
int ExtractPackMember(int member, int unscramble, const char* format, ...);

}  // namespace varnel
