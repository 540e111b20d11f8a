// Whole links for a module driver of Exec type 5 through Varnel and FbFit:
// packed driver and FBs, the planner's submit file, the linked RPs, and the
// module database the image builder makes of them.

#include <algorithm>

#include "image_fixture.h"
#include "support/m68objects.h"
#include "support/packer.h"
#include "support/plan_fixture.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

// An object of one AROM region holding `content`; at each offset of
// `pointers` a relocation item puts the image address of the region offset
// it names (two bytes, big-endian) in place of the content's two bytes.
std::string RegionObject(const std::string& module, const Data& content,
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
std::string ExampleRpObject() {
  Data b = {0x11, 0x11, 'P', 'I', 'D', '_', 0, 0, 0, 0, '1', '.', '0', 0};
  b.resize(0x1A, 0);
  b.insert(b.end(), {0xBD, 0xBD, 0xBD, 0xBE});
  b.resize(0x30, 0);
  b.insert(b.end(), {0x80, 0x01, 0x00, 0x05, 0xFF, 0xFF, 0xAA, 0xBB, 0xCC});
  return RegionObject("PIDRP", b, {{0x25, 0x30}, {0x27, 0x36}});
}

// TMR, version 2.1: sequence 8003, XData BB CC.
std::string TmrRpObject() {
  Data b = {0x11, 0x11, 'T', 'M', 'R', '_', 0, 0, 0, 0, '2', '.', '1', 0, 0xBD, 0xBD, 0xBD, 0xBE};
  b.resize(29, 0);
  b.insert(b.end(), {0x80, 0x03, 0xFF, 0xFF, 0xBB, 0xCC});
  return RegionObject("TMRRP", b, {{25, 29}, {27, 33}});
}

const std::string kExampleRpLines =
    "S109FF0352500000006Dxx\n"
    "S128FF02000000000000000000006D50494400000000000000000000000000312E3000000000000000xx\n"
    "S128FF0201000000200000000000000000000000000000000600000064000000030000006A00000000xx\n"
    "S128FF0202000000400000000000000000000000000000000000000000000000000000000000000000xx\n"
    "S115FF0203000000600000000080010005FFFFAABBCCxx\n"
    "S106FF04010000xx\n";
// The last RP: the second RPTERM's four bytes end up in its XData.
const std::string kTmrRpLines =
    "S109FF0352500000006Exx\n"
    "S128FF02000000000000000000006E544D5200000000000000000000000000322E3100000000000000xx\n"
    "S128FF0201000000200000000000000000000000000000000400000064000000060000006800000000xx\n"
    "S128FF0202000000400000000000000000000000000000000000000000000000000000000000000000xx\n"
    "S116FF020300000060000000008003FFFFBBCCFFFFFFFFxx\n"
    "S106FF04010000xx\n";
const std::string kScreen =
    "S109FF03534D00001000xx\n"
    "S128FF0200000000000000000000000800" + std::string(48, '0') + "xx\n"
    "S106FF04010000xx\n";

class ImageVarnelTest : public PlanFixture {
 protected:
  void SetUp() override {
    PlanFixture::SetUp();
    Lib("SCREEN1.SCR", kScreen);
    PackFb("PID", ExampleRpObject());
    PackFb("TMR", TmrRpObject());
  }

  void PackDriver(const std::string& firmware) {
    PackSpec spec;
    spec.kind = 4;
    spec.info = MakeDriverInfo("Exec 5 test driver", 5, {255});
    spec.members.push_back(Member(2, firmware));
    spec.members.push_back(Member(4, RegionObject("LIBDRV", {})));
    spec.members.push_back(Member(5, RegionObject("EEPDRV", {})));
    WritePackFile(lib + "DRV.MDV", spec);
  }
  void PackFb(const std::string& name, const std::string& rp) {
    PackSpec spec;
    spec.members.push_back(Member(2, CodeModule(name, TextBytes(name + "-CODE"))));
    spec.members.push_back(Member(3, rp));
    WritePackFile(lib + name + ".FB", spec);
  }
  // The ARG file: the driver, PID and TMR, the status token with the
  // module configuration in front, and the screen supplement.
  void Arg(std::string token) {
    token.replace(0, 12, "500000000000");
    WriteFile(work + "JOB.ARG", lib + "\n 15 DRV\n 3 PID\n 4 TMR\nXXX\n" + token +
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

TEST_F(ImageVarnelTest, ModuleDatabaseOfAWholeLink) {
  DriverSpec d;
  d.beforeMain = SRecord('0', 0, Text("SECTOR3"));
  PackDriver(DriverFirmware(d));
  Arg(StatusToken(8, 4, {Exec(), Core(), WithCrc(Main(), 0x4445)}));
  ASSERT_EQ(Link(), 0) << Message() << Log();
  EXPECT_EQ(Message(), "");

  std::string expected = ReplayAndSector3Groups(d) + "S103FF00xx\n";
  expected += kExampleRpLines + kTmrRpLines;
  expected += Ff07(15, "DRV") + Ff07(3, "PID") + Ff07(4, "TMR");
  expected += kScreen + "S9030000FC\n";
  EXPECT_EQ(ReadFile(work + "MODULE.DL"), Crlf(expected));
  const std::string log = Log();
  EXPECT_NE(log.find(Crlf("   RP PID uses   144 bytes.\n"
                          "   RP TMR uses   144 bytes.\n"
                          "   GFB 15 uses   648 bytes.\n"
                          "   GFB  3 uses   462 bytes.\n"
                          "   GFB  4 uses   510 bytes.\n"
                          "GFB memory used........... =    7.9 Kbytes ( 0.8%).\n")),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(Crlf("Process completed with no errors.\n")), std::string::npos);
}

TEST_F(ImageVarnelTest, NoFirmwareGroupWhenTheModuleHoldsTheDriver) {
  PackDriver(DriverFirmware());
  Arg(StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  ASSERT_EQ(Link(), 0) << Message() << Log();
  EXPECT_TRUE(ReadFile(work + "MODULE.DL").starts_with("S103FF00xx\r\n" + Crlf(kExampleRpLines)));
}

TEST_F(ImageVarnelTest, NoDownloadFileNameExaminesOnly) {
  DriverSpec d;
  d.main.ramNotUsedForGfb = 131072 - 8000;  // would not fit
  PackDriver(DriverFirmware(d));
  Arg(StatusToken(1, 4, {Exec()}));
  ASSERT_EQ(Link(nullptr), 0) << Message() << Log();
  EXPECT_FALSE(Exists(work + "MODULE.DL"));
  const std::string log = Log();
  EXPECT_NE(log.find("Examining Firmware Image.  Please wait ..."), std::string::npos);
  EXPECT_EQ(log.find("Replacing firmware"), std::string::npos);
  // 8116 x 100 / 8000 is 101.45 only in decimal; in single precision it
  // lies just below.
  EXPECT_NE(log.find(Crlf("GFB memory used........... =    7.9 Kbytes (101.4%).\nExec & Module Driver code  =   13.0 Kbytes.\n")),
            std::string::npos)
      << log;
}

TEST_F(ImageVarnelTest, FitFailuresComeAfterTheCompleteFile) {
  DriverSpec d;
  d.main.ramNotUsedForGfb = 131072 - 8000;  // 8,000 bytes of GFB memory, 8,116 used
  PackDriver(DriverFirmware(d));
  Arg(StatusToken(1, 4, {Boot(), Exec(), Core(), Main()}));
  EXPECT_EQ(Link(), 3006) << Log();
  EXPECT_EQ(Message(),
            "VARNEL.DLL  v3.03.002, Error 3006:\nThe FBs specified will not fit in this module.\nWhat to check - \n"
            "   1) Reduce the number of FB's in this module.\n   2) Reduce the size or complexity of these FB's.\n"
            "   3) If possible, upgrade the amount of memory in this module.\n");
  EXPECT_TRUE(ReadFile(work + "MODULE.DL").ends_with(Crlf(kScreen + "S9030000FC\n")));
}

TEST_F(ImageVarnelTest, FbFitExaminesAndSummarises) {
  DriverSpec d;
  d.main.ramNotUsedForGfb = 262144;
  PackDriver(DriverFirmware(d));
  Arg(StatusToken(8, 4, {}));
  ASSERT_EQ(Fit(0), 0) << Message() << Log();
  EXPECT_FALSE(Exists(work + "MODULE.DL"));
  EXPECT_EQ(Message(),
            "Module's total GFB memory\t=  768.0 Kbytes.\n"
            "GFB memory used\t\t=    7.9 Kbytes ( 1.0%).\n"
            "Trend memory available\t=  760.1 Kbytes (99.0%).\n\n"
            "Exec & Mod. Driver code\t=   13.0 Kbytes.\n");
  EXPECT_EQ(Log().find("Replacing firmware"), std::string::npos);

  // No RAM size in the token: the caller's 64 K of memory is no RAM unit.
  Arg(StatusToken(0, 4, {}));
  EXPECT_EQ(Fit(64), 1) << Log();
  EXPECT_TRUE(Message().starts_with("Module's total GFB memory\t=    0.0 Kbytes.\nGFB memory used\t\t=    7.9 Kbytes"))
      << Message();
  EXPECT_TRUE(Message().ends_with("*** This GFB configuration exceeds the module's available memory. ***\n\n"));
}

}  // namespace
}  // namespace varnel::testing
