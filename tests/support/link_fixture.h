// Whole link calls through Varnel and FbFit over a small library: an Exec
// 3.2 module without a driver, or an Exec 3.3 module with a packed driver,
// each with a packed FB (object and RP member) and a plain object FB.
#pragma once

#include <string>

#include "support/plan_fixture.h"
#include "varnel.h"

namespace varnel::testing {

class LinkCallFixture : public PlanFixture {
 public:
  enum class Module { kExec32, kExec33WithDriver };

 protected:

  void SetUp() override {
    PlanFixture::SetUp();
    Lib("EEPROM.OBJ", CodeModule("EEPROM", TextBytes("HDR-EEPROM")));
    Lib("LIB.OBJ", CodeModule("MODEND", TextBytes("END"), {"MODEND"}) +
                       CodeModule("UNUSED", TextBytes("never linked"), {"NOBODY"}));
    PackSpec fb;
    fb.members = {Member(2, CodeModule("FBA", TextBytes("FBA-CODE"))),
                  Member(3, CodeModule("FBARP", TextBytes("FBA-RP")))};
    WritePackFile(lib + "FBA.FB", fb);
    Lib("FBB.OBJ", CodeModule("FBB", TextBytes("FBB-CODE")));
    PackSpec driver;
    driver.kind = 2;
    driver.info = MakeDriverInfo("Driver for whole links", 2, {255});
    driver.members = {Member(2, CodeModule("DRV", TextBytes("DRIVER-CODE"))),
                      Member(4, CodeModule("MODEND", TextBytes("DRV-END"), {"MODEND"})),
                      Member(5, CodeModule("EEPDRV", TextBytes("DRV-HEADER")))};
    WritePackFile(lib + "DRV.MDV", driver);
    UseModule(Module::kExec32);
  }

  void UseModule(Module m) {
    if (m == Module::kExec32) Arg({{1, "FBA"}, {2, "FBB"}}, "32C000000000");
    else Arg({{15, "DRV"}, {1, "FBA"}, {2, "FBB"}}, "33C000000000");
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
