// Builders for the image builder's inputs: firmware S-records, module status
// tokens, RPs laid out in the linked image, and a fixture that runs stage 3
// on them in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "format.h"
#include "image.h"
#include "linker.h"
#include "planner.h"
#include "support/testutil.h"

namespace varnel::testing {

using Data = std::vector<uint8_t>;

inline int AddressBytes(char type) {
  switch (type) {
    case '2': case '8': return 3;
    case '3': case '7': return 4;
    default: return 2;
  }
}

// One S-record line with a correct checksum.
inline std::string SRecord(char type, uint32_t address, const Data& data) {
  int addressBytes = AddressBytes(type);
  Data all;
  all.push_back(static_cast<uint8_t>(addressBytes + data.size() + 1));
  for (int i = addressBytes - 1; i >= 0; --i) all.push_back(static_cast<uint8_t>(address >> (8 * i)));
  all.insert(all.end(), data.begin(), data.end());
  unsigned sum = 0;
  std::string line = "S";
  line += type;
  for (uint8_t b : all) {
    sum += b;
    line += Format("%02X", b);
  }
  line += Format("%02X\n", (~sum) & 0xFF);
  return line;
}

inline std::string EndRecord() { return "S9030000FC\n"; }

inline void PutBe(Data& b, size_t at, uint64_t v, int width) {
  if (b.size() < at + width) b.resize(at + width);
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

// The 20 data bytes of a chunk header record.
inline Data ChunkHeader(uint16_t id, uint32_t version, uint32_t blockSize, uint16_t crc) {
  Data b(20, 0);
  PutBe(b, 4, crc, 2);
  PutBe(b, 6, id, 2);
  PutBe(b, 8, version, 4);
  PutBe(b, 16, blockSize, 4);
  return b;
}

// Data records of `perRecord` bytes (the last one shorter) from address on.
inline std::string DataRecords(uint32_t address, const Data& bytes, size_t perRecord = 16, char type = '1') {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += perRecord) {
    size_t n = std::min(perRecord, bytes.size() - i);
    out += SRecord(type, address + static_cast<uint32_t>(i), Data(bytes.begin() + i, bytes.begin() + i + n));
  }
  return out;
}

inline Data Text(const std::string& s) { return Data(s.begin(), s.end()); }

struct MainFigures {
  uint32_t ramNotUsedForGfb = 0;
  uint32_t fbrunSize = 200;
  uint32_t driverRpAddress = 0x3100;
  uint32_t microblockTableAddress = 0x3200;
  uint8_t browserVersion = 0;
};

// The 128-byte MAIN header, its first 20 bytes the chunk header.
inline Data MainHeader(const Data& chunk, const MainFigures& f) {
  Data b(128, 0);
  std::copy(chunk.begin(), chunk.end(), b.begin());
  PutBe(b, 0x30, f.ramNotUsedForGfb, 4);
  PutBe(b, 0x34, f.fbrunSize, 4);
  PutBe(b, 0x38, f.driverRpAddress, 4);
  PutBe(b, 0x3C, f.microblockTableAddress, 4);
  b[0x50] = f.browserVersion;
  return b;
}

// A driver RP header carrying the four sizes.
inline Data DriverRp(uint32_t pars, uint32_t stat, uint32_t vars, uint32_t hist) {
  Data b(100, 0);
  PutBe(b, 0x44, pars, 4);
  PutBe(b, 0x48, stat, 4);
  PutBe(b, 0x4C, vars, 4);
  PutBe(b, 0x50, hist, 4);
  return b;
}

// A microblock table: the entries given, then 0xFFFF, then zeros.
inline Data MicroblockTable(const std::vector<uint16_t>& entries) {
  Data b(512, 0);
  size_t i = 0;
  for (; i < entries.size(); ++i) PutBe(b, 2 * i, entries[i], 2);
  if (i < 256) PutBe(b, 2 * i, 0xFFFF, 2);
  return b;
}

// The sections of the standard test driver, as the module would report
// them when it holds exactly this firmware.
inline FirmwareSection Boot() { return {0, 0x00010001, 0x1000, 0x1111}; }
inline FirmwareSection Exec() { return {1, 0x00020001, 0x1000, 0x2222}; }
inline FirmwareSection Core() { return {2, 0x00030001, 0x1000, 0x3333}; }
inline FirmwareSection Main() { return {3, 0x00040001, 0x1000, 0x4444}; }

inline Data Chunk(const FirmwareSection& s) { return ChunkHeader(s.id, s.version, s.blockSize, s.crc); }

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
inline std::string DriverFirmware(const DriverSpec& d = DriverSpec()) {
  std::string f = SRecord('0', 0, Text("HDR"));
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

// A module status token: every column up to 181 a zero digit but the RAM
// and flash figures, then the loaded sections.
inline std::string StatusToken(uint8_t ramSize, uint8_t flashSize, const std::vector<FirmwareSection>& sections) {
  std::string t(156, '0');
  t += Format("%02X%02X", ramSize, flashSize);
  t += std::string(182 - t.size(), '0');
  for (const FirmwareSection& s : sections)
    t += Format("%04X%08lX%08lX%04X", s.id, s.version, s.blockSize, static_cast<unsigned>(s.crc));
  return t;
}

struct RpSpec {
  std::string name;
  std::string version = "1.0";
  std::vector<uint16_t> sequence = {0x8000};  // 0xFFFF is added
  Data xdata = {0x01, 0x02};
};

// Lays an RP out in the image from `at`: its bytes, the marker right after
// the version, then the sequence and the XData with its terminator.
// Returns the position after the terminator.
inline uint32_t PutRp(uint8_t* image, uint32_t at, const RpSpec& rp) {
  Data b = {0x11, 0x11};
  b.insert(b.end(), rp.name.begin(), rp.name.end());
  b.push_back('_');
  b.insert(b.end(), 4, 0);
  b.insert(b.end(), rp.version.begin(), rp.version.end());
  b.push_back(0);
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

// The lines of one firmware data record as the module database carries it.
inline std::string Ff01(unsigned sequence, uint32_t address, const Data& data) {
  std::string line = Format("S1%02XFF01%02X%08lX", static_cast<unsigned>(data.size() + 8), sequence, address);
  for (uint8_t b : data) line += Format("%02X", b);
  return line + "xx\n";
}

// Firmware lines of consecutive records from address on, `per` bytes each.
inline std::string Group(unsigned& sequence, uint32_t address, const Data& bytes, size_t per) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += per) {
    size_t n = std::min(per, bytes.size() - i);
    out += Ff01(sequence, address + static_cast<uint32_t>(i), Data(bytes.begin() + i, bytes.begin() + i + n));
    sequence = sequence == 255 ? 1 : sequence + 1;
  }
  return out;
}

inline FirmwareSection WithVersion(FirmwareSection s, uint32_t version) {
  s.version = version;
  return s;
}
inline FirmwareSection WithBlockSize(FirmwareSection s, uint32_t blockSize) {
  s.blockSize = blockSize;
  return s;
}
inline FirmwareSection WithCrc(FirmwareSection s, uint16_t crc) {
  s.crc = crc;
  return s;
}

inline std::string Ff07(int number, const std::string& name) {
  std::string line = Format("S1%02XFF070000000000%02X", static_cast<unsigned>(name.size() + 10), number & 0xFF);
  for (char c : name) line += Format("%02X", static_cast<uint8_t>(c));
  return line + "00xx\n";
}

inline size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size()) ++n;
  return n;
}

// Runs stage 3 in a scratch directory: DRV.$$$ is the firmware, JOB.ARG the
// ARG file, OUT.DL the download file; the FB list and the image start empty.
class ImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(LinkedImage(), 0, kImageSize);
    PlannerFbList() = FbList{};
    libDir = dir.Path() + "lib/";
    WriteFile(dir / "JOB.ARG", "");
    params = ImageParams{};
    params.outputFileName = "OUT.DL";
    params.firmwareFileName = "DRV.$$$";
    params.workDir = dir.Path().c_str();
    params.argFileName = "JOB.ARG";
    params.libraryDir = nullptr;
    params.plannerLibraryDir = libDir.c_str();
    log.Fill(params, 4);
  }
  void TearDown() override {
#if defined(VARNEL_FAULT_HOOK)
    FailRpNodeAllocation(0);
#endif
  }

  // A fresh start for the next case of a table.
  void Fresh() {
    TearDown();
    SetUp();
    log.text.clear();
    log.errorCodes.clear();
    log.errors.clear();
  }

  void Firmware(const std::string& text) { WriteFile(dir / "DRV.$$$", text); }
  void Arg(const std::string& text) { WriteFile(dir / "JOB.ARG", text); }
  void AddFb(const std::string& name, int number) {
    FbList& list = PlannerFbList();
    FbEntry& e = list.rows[list.count++];
    std::memset(e.name, 0, sizeof e.name);
    std::memcpy(e.name, name.data(), name.size());
    e.number = number;
  }
  int Run() {
    params.statusToken = token.c_str();
    return RunImageBuilder(&params);
  }
  std::string Output() { return ReadFile(dir / "OUT.DL"); }
  // The memory summary block of the log.
  std::string Summary() {
    size_t from = log.text.find("\n-------------------- Memory Summary");
    const std::string dashes = "--------------------------------------------------------------\n";
    size_t to = log.text.find(dashes, from + 10);
    if (from == std::string::npos || to == std::string::npos) return "";
    return log.text.substr(from, to + dashes.size() - from);
  }

  TempDir dir;
  std::string libDir;
  CaptureLog log;
  ImageParams params{};
  std::string token;
};

}  // namespace varnel::testing
