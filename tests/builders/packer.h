// A test-only packer: writes packed FB and driver files in the format the
// reader takes, scrambled with the same key table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver_info.h"

namespace varnel::testing {

struct PackMember {
  int number = 0;               // 1 to 5, or 7 to 66 (extended files only)
  std::vector<uint8_t> data;    // the member's plain bytes
  bool scrambled = true;        // stored through the key table by file position
  uint16_t date = 0;            // DOS date and time in the directory entry
  uint16_t time = 0;
  std::optional<uint32_t> sizeField;  // stored size instead of data.size()
                                      // (absent markers, lies)
};

struct PackSpec {
  uint8_t version = 32;           // 32 or more (with the right magic): extended
  uint8_t kind = 0;               // kind byte of an extended file
  uint16_t magic = 0x4173;
  std::optional<DriverInfo> info;  // extended block's driver information
  std::vector<PackMember> members;
  bool badCrc = false;            // store a CRC that does not check
};

// The whole file: header, members 1 to 5, and for an extended file the
// extended block and members 7 to 66.  Members may be listed in any order;
// unlisted ones are stored with size 0.  Member data are written back to
// back whatever sizeField claims.  Throws std::invalid_argument for a member
// number the layout has no room for (6, above 66, or 7 and up in a file
// that is not extended) or given twice.
std::vector<uint8_t> BuildPackFile(const PackSpec& spec);
void WritePackFile(const std::string& path, const PackSpec& spec);
// Stores the CRC of bytes 48 to the end at 46, scrambled, for a file that a
// test has changed after building it.
void StorePackCrc(std::vector<uint8_t>& file);
// True when the reader takes a file of this spec as extended (magic 0x4173
// and version 32 or more), which is when the packer writes the extended block.
bool IsExtendedSpec(const PackSpec& spec);

// A member holding a text's bytes.
PackMember Member(int number, const std::string& data, bool scrambled = true);

// A DriverInfo with the description blank-padded to 31 characters.
DriverInfo MakeDriverInfo(const std::string& description, int16_t execType,
                          std::vector<uint16_t> allowedTypes);

}  // namespace varnel::testing
