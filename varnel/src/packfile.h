// The packed FB file reader.  One packed file is open at a time, process-wide.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver_info.h"

namespace varnel {

// Member numbers.  Members 1 to 5 follow the header, which lists them; from
// format version 32 on, member 6 is the extended block, which lists members
// 7 to 66 behind it.  The file does not say what a member holds; the planner
// reads these:
constexpr int kPackObjectMember = 2;         // an FB's object; a driver's object or firmware
constexpr int kPackRpMember = 3;             // an FB's RP object
constexpr int kPackDriverLibraryMember = 4;  // a driver's library
constexpr int kPackDriverHeaderMember = 5;   // a driver's header object
constexpr int kPackHeaderMembers = 5;
constexpr int kPackExtendedMember = 6;
constexpr int kPackLastMember = 66;

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
