// Whole links for a module driver of Exec type 5 through Varnel and FbFit:
// packed driver and FBs, the planner's submit file, the linked RPs, and the
// module database the image builder makes of them.

#include "support/image_varnel_fixture.h"

namespace varnel::testing {
namespace {

class ImageVarnelTest : public Exec5LinkFixture {};

TEST_F(ImageVarnelTest, ModuleDatabaseOfAWholeLink) {
  DriverSpec d;
  d.beforeMain = SRecord('0', 0, TextBytes("SECTOR3"));
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

// A character that is no hexadecimal digit reads by its code in an address
// as anywhere else, and the byte it gives counts whole: "03G0" is
// 3 x 256 + 0x100, the chunk at 0x400, and not 0x300.
TEST_F(ImageVarnelTest, AddressDigitsCountWhole) {
  Arg(StatusToken(8, 4, {Exec(), Core(), Main()}));  // BOOT missing: the chunk at 0x400 is replayed
  PackDriver(DriverFirmware());
  ASSERT_EQ(Link(), 0) << Message() << Log();
  const std::string standard = ReadFile(work + "MODULE.DL");
  ASSERT_NE(standard.find(Crlf("S103FF05xx\n" + Ff01(0, 0, Data(16, 0xA5)) + Ff01(1, 0x400, Chunk(Boot())))),
            std::string::npos);

  std::string firmware = DriverFirmware();
  const std::string chunk = SRecord('1', 0x400, Chunk(Boot()));
  // The checksum takes the low 8 bits of each byte: those of 03 and G0 are
  // those of 03 00.
  std::string odd = SRecord('1', 0x300, Chunk(Boot()));
  odd.replace(4, 4, "03G0");
  firmware.replace(firmware.find(chunk), chunk.size(), odd);
  PackDriver(firmware);
  ASSERT_EQ(Link(), 0) << Message() << Log();
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(ReadFile(work + "MODULE.DL"), standard);
}

// Data that ends at 2^32 ends at 0 in 32 bits, so with sectors of 48 KiB the
// next sector is 0xC000 (in 64 bits it would be 0x100008000, or 0x8000 once
// cut, which is no sector boundary).  The driver's code size does not wrap:
// the same data as the driver's last reaches beyond any firmware space.
TEST_F(ImageVarnelTest, NextSectorAfterDataEndingAt4GiB) {
  const FirmwareSection boot = WithBlockSize(Boot(), 0xFFFFFFFF);
  const std::string top = SRecord('1', 0x400, Chunk(boot)) + SRecord('3', 0xFFFFFFF0, Data(16, 0x77));
  PackDriver(top + SRecord('0', 0, TextBytes("SECTOR0")) + SRecord('1', 0x1000, Chunk(Exec())) + EndRecord());
  Arg(StatusToken(8, 3, {boot}));  // flash size 3: sectors of 0xC000 bytes
  ASSERT_EQ(Link(), 0) << Message() << Log();
  EXPECT_EQ(Message(), "");
  const std::string log = Log();
  EXPECT_NE(log.find(Crlf("\nModule driver designed to load at next sector, which is 0xC000.\n")), std::string::npos)
      << log;
  EXPECT_NE(log.find(Crlf("\nApplying a load offset of 0xB000 bytes.\n")), std::string::npos);
  EXPECT_TRUE(ReadFile(work + "MODULE.DL")
                  .starts_with(Crlf("S103FF05xx\n" + Ff01(0, 0xC000, Chunk(Exec())) + "S103FF06xx\nS103FF00xx\n")))
      << ReadFile(work + "MODULE.DL");
  EXPECT_NE(log.find(Crlf("Exec & Module Driver code  =   48.0 Kbytes (12.5%).\n")), std::string::npos) << log;

  PackDriver(top + EndRecord());
  EXPECT_EQ(Link(), 3007) << Log();
  EXPECT_EQ(Message(),
            "VARNEL.DLL  v3.03.002, Error 3007:\nThe module driver is too big to fit in the available\n"
            "firmware space of this module.\n");
}

// Beyond 4 GiB both GFB figures print clipped to 32 bits, but whether the
// use exceeds the total is judged on the figures themselves, as stage 3
// judges them.
TEST_F(ImageVarnelTest, FitOfGfbFiguresBeyond4GiB) {
  DriverSpec d;
  d.main.fbrunSize = 0xFFFFFF00;
  d.pars = 0xFFFFFF00;  // the driver and each FB use some 8 GiB
  PackDriver(DriverFirmware(d));
  Arg(StatusToken(0, 4, {}));
  const std::string clipped =
      "Module's total GFB memory\t= 4194304.0 Kbytes.\n"
      "GFB memory used\t\t= 4194304.0 Kbytes (100.0%).\n";
  // 40,000 RAM units: 5,242,880,000 bytes.
  EXPECT_EQ(Fit(40000 * 128), 1) << Log();
  EXPECT_EQ(Message(), clipped + "*** This GFB configuration exceeds the module's available memory. ***\n\n");
  // 160,000 units hold it.
  EXPECT_EQ(Fit(160000 * 128), 0) << Log();
  EXPECT_EQ(Message(), clipped +
                           "Trend memory available\t=    0.0 Kbytes ( 0.0%).\n\n"
                           "Exec & Mod. Driver code\t=   13.0 Kbytes.\n");
}

}  // namespace
}  // namespace varnel::testing
