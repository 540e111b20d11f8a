// A fixture that runs stage 3 on the image builder's inputs in a scratch
// directory, and the module database lines the tests expect of it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "builders/files.h"
#include "builders/image_inputs.h"
#include "format.h"
#include "image.h"
#include "linker.h"
#include "planner.h"
#include "support/capture_log.h"

namespace varnel::testing {

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

// The firmware lines of the standard driver whose module lacks BOOT and
// holds another MAIN, with a SECTOR3 record before MAIN and 64 KiB sectors:
// the replay group of the chunk at 0x400, then MAIN onward in a later group
// moved to 0x30000.
inline std::string ReplayAndSector3Groups(const DriverSpec& d) {
  unsigned seq = 0;
  std::string out = "S103FF05xx\n";
  out += Group(seq, 0x0000, Data(16, 0xA5), 16);
  out += Group(seq, 0x0400, Chunk(Boot()), 20);
  out += "S103FF06xx\nS103FF05xx\n";
  seq = 0;
  const uint32_t offset = 0x30000 - 0x3000;
  out += Group(seq, 0x3000 + offset, MainHeader(Chunk(Main()), d.main), 32);
  out += Group(seq, 0x3100 + offset, DriverRp(d.pars, d.stat, d.vars, d.hist), 16);
  out += Group(seq, 0x3200 + offset, MicroblockTable(d.microblocks), 16);
  out += Group(seq, 0x3400 + offset, Data(16, 0x5A), 16);
  return out + "S103FF06xx\n";
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
