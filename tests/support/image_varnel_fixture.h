// A whole link for a module driver of Exec type 5: a packed driver with
// firmware, two packed FBs with RPs, a screen supplement, and the ARG file
// that names them, linked through Varnel and FbFit.
#pragma once

#include <algorithm>

#include "builders/library.h"
#include "builders/m68objects.h"
#include "builders/packer.h"
#include "support/image_fixture.h"
#include "support/plan_fixture.h"
#include "varnel.h"

namespace varnel::testing {

// An object of one AROM region holding `content`; at each offset of
// `pointers` a relocation item puts the image address of the region offset
// it names (two bytes, big-endian) in place of the content's two bytes.
inline std::string RegionObject(const std::string& module, const Data& content,
                         const std::vector<std::pair<size_t, uint16_t>>& pointers = {}) {
  std::string text = S0(module) + S3(0x85, "AROM");
  if (content.empty()) return text + S9();
  text += S4(5, 0, static_cast<uint16_t>(content.size() - 1));
  auto pointerAt = [&](size_t at) {
    return std::find_if(pointers.begin(), pointers.end(), [&](const auto& p) { return p.first == at; });
  };
  for (size_t at = 0; at < content.size();) {
    const size_t offset = at;
    Bytes payload;
    while (at < content.size() && payload.size() < 48) {
      if (auto p = pointerAt(at); p != pointers.end()) {
        payload = payload + Rel(0xC0, 5, p->second);
        at += 2;
        continue;
      }
      size_t n = 0;
      while (n < 32 && at + n < content.size() && pointerAt(at + n) == pointers.end()) ++n;
      payload = payload + Lit(Bytes(content.begin() + at, content.begin() + at + n));
      at += n;
    }
    text += S2(5, static_cast<uint16_t>(offset), payload);
  }
  return text + S9();
}

// The RP of the worked example, 57 bytes: it lands at 0x100 as the first
// object of the program section.
inline std::string ExampleRpObject() {
  Data b = {0x11, 0x11, 'P', 'I', 'D', '_', 0, 0, 0, 0, '1', '.', '0', 0};
  b.resize(0x1A, 0);
  b.insert(b.end(), {0xBD, 0xBD, 0xBD, 0xBE});
  b.resize(0x30, 0);
  b.insert(b.end(), {0x80, 0x01, 0x00, 0x05, 0xFF, 0xFF, 0xAA, 0xBB, 0xCC});
  return RegionObject("PIDRP", b, {{0x25, 0x30}, {0x27, 0x36}});
}

// TMR, version 2.1: sequence 8003, XData BB CC.
inline std::string TmrRpObject() {
  Data b = {0x11, 0x11, 'T', 'M', 'R', '_', 0, 0, 0, 0, '2', '.', '1', 0, 0xBD, 0xBD, 0xBD, 0xBE};
  b.resize(29, 0);
  b.insert(b.end(), {0x80, 0x03, 0xFF, 0xFF, 0xBB, 0xCC});
  return RegionObject("TMRRP", b, {{25, 29}, {27, 33}});
}

inline const std::string kExampleRpLines =
    "S109FF0352500000006Dxx\n"
    "S128FF02000000000000000000006D50494400000000000000000000000000312E3000000000000000xx\n"
    "S128FF0201000000200000000000000000000000000000000600000064000000030000006A00000000xx\n"
    "S128FF0202000000400000000000000000000000000000000000000000000000000000000000000000xx\n"
    "S115FF0203000000600000000080010005FFFFAABBCCxx\n"
    "S106FF04010000xx\n";
// The last RP: the second RPTERM's four bytes end up in its XData.
inline const std::string kTmrRpLines =
    "S109FF0352500000006Exx\n"
    "S128FF02000000000000000000006E544D5200000000000000000000000000322E3100000000000000xx\n"
    "S128FF0201000000200000000000000000000000000000000400000064000000060000006800000000xx\n"
    "S128FF0202000000400000000000000000000000000000000000000000000000000000000000000000xx\n"
    "S116FF020300000060000000008003FFFFBBCCFFFFFFFFxx\n"
    "S106FF04010000xx\n";
inline const std::string kScreen =
    "S109FF03534D00001000xx\n"
    "S128FF0200000000000000000000000800" + std::string(48, '0') + "xx\n"
    "S106FF04010000xx\n";

class Exec5LinkFixture : public PlanFixture {
 protected:
  void SetUp() override {
    PlanFixture::SetUp();
    Lib("SCREEN1.SCR", kScreen);
    PackFb("PID", ExampleRpObject());
    PackFb("TMR", TmrRpObject());
  }

  void PackDriver(const std::string& firmware, int16_t execType = 5) {
    PackSpec spec;
    spec.kind = 4;
    spec.info = MakeDriverInfo("Exec 5 test driver", execType, {255});
    spec.members.push_back(Member(2, firmware));
    spec.members.push_back(Member(4, RegionObject("LIBDRV", {})));
    spec.members.push_back(Member(5, RegionObject("EEPDRV", {})));
    WritePackFile(lib + "DRV.MDV", spec);
  }
  void PackFb(const std::string& name, const std::string& rp) {
    PackSpec spec = PackedFb(name, false);
    spec.members.push_back(Member(3, rp));
    WritePackFile(lib + name + ".FB", spec);
  }
  // The ARG file: the driver, PID and TMR, the status token with the
  // module configuration in front, and the screen supplement.
  void Arg(std::string token, const std::string& fbs = " 15 DRV\n 3 PID\n 4 TMR\n") {
    token.replace(0, 12, "500000000000");
    WriteFile(work + "JOB.ARG", lib + "\n" + fbs + "XXX\n" + token +
                                    "\nDOWNLOAD_SUPPLEMENT=SCREEN1.SCR\n");
  }
  int Link(const char* download = "MODULE.DL") {
    message.assign(550, 'x');
    return Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", download, 2, message.data(), 550);
  }
  int Fit(int memoryK) {
    message.assign(550, 'x');
    return FbFit("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "MODULE.DL", 2, message.data(), 550, 0, 5,
                 0, 0, memoryK);
  }
  std::string Message() const { return std::string(message.c_str()); }
  std::string Log() const { return ReadFile(work + "JOB.LOG"); }

  std::string message;
};

}  // namespace varnel::testing
