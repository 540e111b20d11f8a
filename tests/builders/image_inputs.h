// Builders for the image builder's inputs: firmware S-records, module status
// tokens, and RPs laid out in the linked image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builders/files.h"
#include "image.h"

namespace varnel::testing {

using Data = Bytes;

// One S-record line of a type digit ('0' to '9') with a correct checksum;
// the address takes two, three or four bytes as the type says.
std::string SRecord(char type, uint32_t address, const Data& data);
// The end record, the same line as an object's S9.
std::string EndRecord();

// Data records of `perRecord` bytes (the last one shorter) from address on.
std::string DataRecords(uint32_t address, const Data& bytes, size_t perRecord = 16, char type = '1');

struct MainFigures {
  uint32_t ramNotUsedForGfb = 0;
  uint32_t fbrunSize = 200;
  uint32_t driverRpAddress = 0x3100;
  uint32_t microblockTableAddress = 0x3200;
  uint8_t browserVersion = 0;
};

// The 128-byte MAIN header, its first 20 bytes the chunk header.
Data MainHeader(const Data& chunk, const MainFigures& f);
// A driver RP header carrying the four sizes.
Data DriverRp(uint32_t pars, uint32_t stat, uint32_t vars, uint32_t hist);
// A microblock table: the entries given, then 0xFFFF, then zeros.
Data MicroblockTable(const std::vector<uint16_t>& entries);

// The sections of the standard test driver, as the module would report
// them when it holds exactly this firmware.
FirmwareSection Boot();
FirmwareSection Exec();
FirmwareSection Core();
FirmwareSection Main();

// The 20 data bytes of a section's chunk header record.
Data Chunk(const FirmwareSection& s);

FirmwareSection WithVersion(FirmwareSection s, uint32_t version);
FirmwareSection WithBlockSize(FirmwareSection s, uint32_t blockSize);
FirmwareSection WithCrc(FirmwareSection s, uint16_t crc);

struct DriverSpec {
  MainFigures main;
  uint32_t pars = 0x100, stat = 0x40, vars = 0x20, hist = 0;
  std::vector<uint16_t> microblocks = {0x0010, 0xFFFE, 0x0020, 0x0030};
  std::string beforeMain;      // records placed right before the MAIN chunk
  bool trailingRecord = true;  // a record at 0x3400 that ends the table capture
};

// The standard test driver: a vector record at 0, BOOT at 0x400, EXEC at
// 0x1000, CORE at 0x2000, MAIN at 0x3000 with its header, the driver RP at
// 0x3100 and the microblock table at 0x3200.
std::string DriverFirmware(const DriverSpec& d = DriverSpec());

// A module status token: every column up to 181 a zero digit but the RAM
// and flash figures, then the loaded sections.
std::string StatusToken(uint8_t ramSize, uint8_t flashSize, const std::vector<FirmwareSection>& sections);

struct RpSpec {
  std::string name;
  std::string version = "1.0";
  std::vector<uint16_t> sequence = {0x8000};  // 0xFFFF is added
  Data xdata = {0x01, 0x02};
};

// Lays an RP out in the image from `at`: its bytes, the marker right after
// the version, then the sequence and the XData with its terminator.
// Returns the position after the terminator.
uint32_t PutRp(uint8_t* image, uint32_t at, const RpSpec& rp);

}  // namespace varnel::testing
