#include "builders/image_inputs.h"

#include <algorithm>
#include <cstring>

#include "builders/m68objects.h"
#include "format.h"

namespace varnel::testing {
namespace {

int AddressBytes(char type) {
  switch (type) {
    case '2': case '8': return 3;
    case '3': case '7': return 4;
    default: return 2;
  }
}

void PutBe(Data& b, size_t at, uint64_t v, int width) {
  if (b.size() < at + width) b.resize(at + width);
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

Data ChunkHeader(uint16_t id, uint32_t version, uint32_t blockSize, uint16_t crc) {
  Data b(20, 0);
  PutBe(b, 4, crc, 2);
  PutBe(b, 6, id, 2);
  PutBe(b, 8, version, 4);
  PutBe(b, 16, blockSize, 4);
  return b;
}

}  // namespace

std::string SRecord(char type, uint32_t address, const Data& data) {
  Data all;
  PutBe(all, 0, address, AddressBytes(type));
  return M68Record(type - '0', all + data);
}

std::string EndRecord() { return S9(); }

std::string DataRecords(uint32_t address, const Data& bytes, size_t perRecord, char type) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += perRecord) {
    size_t n = std::min(perRecord, bytes.size() - i);
    out += SRecord(type, address + static_cast<uint32_t>(i), Data(bytes.begin() + i, bytes.begin() + i + n));
  }
  return out;
}

Data MainHeader(const Data& chunk, const MainFigures& f) {
  Data b(128, 0);
  std::copy(chunk.begin(), chunk.end(), b.begin());
  PutBe(b, 0x30, f.ramNotUsedForGfb, 4);
  PutBe(b, 0x34, f.fbrunSize, 4);
  PutBe(b, 0x38, f.driverRpAddress, 4);
  PutBe(b, 0x3C, f.microblockTableAddress, 4);
  b[0x50] = f.browserVersion;
  return b;
}

Data DriverRp(uint32_t pars, uint32_t stat, uint32_t vars, uint32_t hist) {
  Data b(100, 0);
  PutBe(b, 0x44, pars, 4);
  PutBe(b, 0x48, stat, 4);
  PutBe(b, 0x4C, vars, 4);
  PutBe(b, 0x50, hist, 4);
  return b;
}

Data MicroblockTable(const std::vector<uint16_t>& entries) {
  Data b(512, 0);
  size_t i = 0;
  for (; i < entries.size(); ++i) PutBe(b, 2 * i, entries[i], 2);
  if (i < 256) PutBe(b, 2 * i, 0xFFFF, 2);
  return b;
}

FirmwareSection Boot() { return {0, 0x00010001, 0x1000, 0x1111}; }
FirmwareSection Exec() { return {1, 0x00020001, 0x1000, 0x2222}; }
FirmwareSection Core() { return {2, 0x00030001, 0x1000, 0x3333}; }
FirmwareSection Main() { return {3, 0x00040001, 0x1000, 0x4444}; }

Data Chunk(const FirmwareSection& s) { return ChunkHeader(s.id, s.version, s.blockSize, s.crc); }

FirmwareSection WithVersion(FirmwareSection s, uint32_t version) {
  s.version = version;
  return s;
}
FirmwareSection WithBlockSize(FirmwareSection s, uint32_t blockSize) {
  s.blockSize = blockSize;
  return s;
}
FirmwareSection WithCrc(FirmwareSection s, uint16_t crc) {
  s.crc = crc;
  return s;
}

std::string DriverFirmware(const DriverSpec& d) {
  std::string f = SRecord('0', 0, TextBytes("HDR"));
  f += SRecord('1', 0x0000, Data(16, 0xA5));
  f += SRecord('1', 0x0400, Chunk(Boot()));
  f += SRecord('1', 0x1000, Chunk(Exec()));
  f += SRecord('1', 0x2000, Chunk(Core()));
  f += d.beforeMain;
  f += DataRecords(0x3000, MainHeader(Chunk(Main()), d.main), 32);
  f += DataRecords(0x3100, DriverRp(d.pars, d.stat, d.vars, d.hist));
  f += DataRecords(0x3200, MicroblockTable(d.microblocks));
  if (d.trailingRecord) f += SRecord('1', 0x3400, Data(16, 0x5A));
  f += EndRecord();
  return f;
}

std::string StatusToken(uint8_t ramSize, uint8_t flashSize, const std::vector<FirmwareSection>& sections) {
  std::string t(156, '0');
  t += Format("%02X%02X", ramSize, flashSize);
  t += std::string(182 - t.size(), '0');
  for (const FirmwareSection& s : sections)
    t += Format("%04X%08lX%08lX%04X", s.id, s.version, s.blockSize, static_cast<unsigned>(s.crc));
  return t;
}

uint32_t PutRp(uint8_t* image, uint32_t at, const RpSpec& rp) {
  // Up to the marker the RP is text: its tag, its name, four zero bytes and
  // its version with the zero that ends it.
  Data b = TextBytes("\x11\x11" + rp.name + '_' + std::string(4, '\0') + rp.version + '\0');
  size_t marker = b.size();
  b.insert(b.end(), {0xBD, 0xBD, 0xBD, 0xBE});
  b.resize(marker + 15, 0);
  uint32_t sequence = at + static_cast<uint32_t>(b.size());
  for (uint16_t w : rp.sequence) PutBe(b, b.size(), w, 2);
  PutBe(b, b.size(), 0xFFFF, 2);
  uint32_t xdata = at + static_cast<uint32_t>(b.size());
  b.insert(b.end(), rp.xdata.begin(), rp.xdata.end());
  b.insert(b.end(), 4, 0xFF);
  PutBe(b, marker + 11, sequence, 2);
  PutBe(b, marker + 13, xdata, 2);
  std::memcpy(image + at, b.data(), b.size());
  return at + static_cast<uint32_t>(b.size());
}

}  // namespace varnel::testing
