// Whole link calls through Varnel and FbFit over a small library: an Exec
// 3.2 module without a driver, or an Exec 3.3 module with a packed driver,
// each with a packed FB (object and RP member) and a plain object FB; or an
// Exec 5 module with a packed driver carrying firmware, a packed FB and two
// screen files named as download supplements.
#pragma once

#include <string>

#include "builders/image_inputs.h"
#include "builders/library.h"
#include "support/plan_fixture.h"
#include "varnel.h"

namespace varnel::testing {

class LinkCallFixture : public PlanFixture {
 public:
  enum class Module { kExec32, kExec33WithDriver, kExec5 };

 protected:

  void SetUp() override {
    PlanFixture::SetUp();
    Lib("EEPROM.OBJ", HeaderObject("EEPROM"));
    Lib("LIB.OBJ", LibraryObject());
    WritePackFile(lib + "FBA.FB", PackedFb("FBA", true));
    Lib("FBB.OBJ", FbObject("FBB"));
    WritePackFile(lib + "DRV.MDV", PackedDriver(2, "Driver for whole links", 2));

    PackSpec exec5;
    exec5.kind = 4;
    exec5.info = MakeDriverInfo("Exec 5 driver for whole links", 5, {255});
    exec5.members = {Member(2, DriverFirmware()),
                     Member(4, CodeModule("LIB5", TextBytes("DRV5-END")), false),
                     Member(5, CodeModule("EEP5", TextBytes("DRV5-HEADER")), false)};
    WritePackFile(lib + "DRV5.MDV", exec5);
    WritePackFile(lib + "FBC.FB", PackedFb("FBC", false));
    // Screen objects of 0x100 bytes, with lines before and after them.
    for (const char* screen : {"SCREEN1.SCR", "SCREEN2.SCR"})
      Lib(screen, "S0030000FC\nS10DFF03534D00000100000000xx\nS105FF040000xx\n");
    UseModule(Module::kExec32);
  }

  void UseModule(Module m) { ArgText(ModuleArgText(m)); }
  std::string ModuleArgText(Module m) const {
    if (m == Module::kExec32) return ArgFileText({{1, "FBA"}, {2, "FBB"}}, "32C000000000");
    if (m == Module::kExec33WithDriver)
      return ArgFileText({{15, "DRV"}, {1, "FBA"}, {2, "FBB"}}, "33C000000000");
    std::string token = "500000000000" + StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}).substr(12);
    return lib + "\n 15 DRV5\n 1 FBC\nXXX\n" + token +
           "\nDOWNLOAD_SUPPLEMENT=SCREEN1.SCR\nDOWNLOAD_SUPPLEMENT=SCREEN2.SCR\n";
  }

  int Link(int logLevel = 3) {
    message.assign(kMessageLength, 'x');
    return Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "MODULE.S1", logLevel,
                  message.data(), kMessageLength);
  }
  int Fit(int logLevel = 3) {
    message.assign(kMessageLength, 'x');
    return FbFit("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", nullptr, logLevel,
                 message.data(), kMessageLength, 0, 0, 0, 0, 0);
  }
  // Either call: Varnel, or FbFit when `fit`.
  int Call(bool fit, int logLevel = 3) { return fit ? Fit(logLevel) : Link(logLevel); }

  std::string Message() const { return std::string(message.c_str()); }
  std::string Log() const { return ReadFile(work + "JOB.LOG"); }
  static std::string Header(int code) {
    return "VARNEL.DLL  v3.03.002, Error " + std::to_string(code) + ":\n";
  }

  static constexpr uint64_t kMessageLength = 1200;
  std::string message;
};

}  // namespace varnel::testing
