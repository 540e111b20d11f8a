// The firmware pass: reading the driver's S-records, deciding which
// sections the module must receive, the firmware groups with their sector
// checks and load offset, and the driver figures taken on the way.
#include "support/image_fixture.h"

namespace varnel::testing {
namespace {

class ImageFirmwareTest : public ImageTest {};

const char* const kMissing = "Yes!\n  Why? This section is currently missing or corrupt in the module.\n\n";
const char* const kDifferent = "Yes!\n  Why? This section is different than the section currently loaded in the module.\n\n";
const char* const kMatch = "No.\n  Why? This section is an exact match of what is currently loaded in the module.\n\n";

TEST_F(ImageFirmwareTest, ReplayGroupAndLaterGroupWithLoadOffset) {
  DriverSpec d;
  d.beforeMain = SRecord('0', 0, TextBytes("SECTOR3"));
  Firmware(DriverFirmware(d));
  // BOOT missing, MAIN different: the chunk at 0x400 is replayed, MAIN goes
  // into a later group moved to sector 3 of 64 KiB.
  token = StatusToken(8, 4, {Exec(), Core(), WithCrc(Main(), 0x4445)});
  ASSERT_EQ(Run(), 0) << log.text;

  const std::string expected = ReplayAndSector3Groups(d) + "S103FF00xx\nS9030000FC\n";
  EXPECT_EQ(Output(), Crlf(expected));

  EXPECT_EQ(Count(log.text, "Replacing firmware section 0 (BOOT)? "), 1u);
  EXPECT_NE(log.text.find(std::string("  Replacing firmware section 0 (BOOT)? ") + kMissing), std::string::npos);
  EXPECT_NE(log.text.find(std::string("  Replacing firmware section 3 (MAIN)? ") + kDifferent), std::string::npos);
  EXPECT_NE(log.text.find("\nPosition independent module driver detected.\n"
                          "\nModule driver designed to load at sector 3, which is 0x30000.\n"),
            std::string::npos);
  EXPECT_NE(log.text.find("\nApplying a load offset of 0x2D000 bytes.\n"), std::string::npos);
  EXPECT_NE(log.text.find("Module driver RP found at address = 0x3100\n"
                          "Microblock memory requirements table found at address = 0x3200\n"
                          "Vistrel browser code = version 0\n"
                          "Size of module driver Pars = 256\n"
                          "Size of module driver Stat = 64\n"
                          "Size of module driver Vars = 32\n"
                          "Size of module driver Hist = 0\n"
                          "\nIndividual microblock memory requirements in bytes:\n"
                          "  Mb8000 = 16\n  Mb8001 = Unsupported.\n  Mb8002 = 32\n  Mb8003 = 48\n"
                          "\nTotal microblocks recognized = 4\n"
                          "Size of FBRUN structure = 200\n"
                          "Physical RAM not used for GFB storage = 0\n"),
            std::string::npos)
      << log.text;
  EXPECT_EQ(params.driverCodeBytes, 0x30410u);
}

TEST_F(ImageFirmwareTest, ReplayGroupAloneIsClosedOnce) {
  Firmware(DriverFirmware());
  token = StatusToken(8, 0, {Exec(), Core(), Main()});  // no flash size: fine for the replay
  ASSERT_EQ(Run(), 0) << log.text;
  unsigned seq = 0;
  std::string expected = "S103FF05xx\n" + Group(seq, 0, Data(16, 0xA5), 16);
  expected += Group(seq, 0x400, Chunk(Boot()), 20);
  EXPECT_EQ(Output(), Crlf(expected + "S103FF06xx\nS103FF00xx\nS9030000FC\n"));
}

TEST_F(ImageFirmwareTest, LowerCaseDigitsReadLikeUpperCase) {
  token = StatusToken(8, 0, {Exec(), Core(), Main()});
  Firmware(DriverFirmware());
  ASSERT_EQ(Run(), 0);
  std::string upper = Output();
  std::string lower = DriverFirmware();
  for (char& c : lower)
    if (c != 'S' && c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
  // A lower-case "s" starts no record: this whole line is skipped.
  Firmware("s1130000" + std::string(32, '0') + "ec\n" + lower);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Output(), upper);
}

TEST_F(ImageFirmwareTest, AnyCharacterCountsAsADigitByItsCode) {
  // Upper-cased, a character other than 0 to 9 gives its code minus 55, so
  // "1G" is 0x20, "G0" is 0x100 (kept as 0x00), "gz" is 16 x 16 + 35 and
  // "2/" is 32 - 8.  The checksum is taken over the bytes so formed.
  const Data bytes = {0x20, 0x00, 0x23, 0x18};
  std::string record = SRecord('1', 0, bytes);
  record.replace(8, 8, "1GG0gz2/");
  Firmware(SRecord('0', 0, TextBytes("HDR")) + record + SRecord('1', 0x400, Chunk(Boot())) + EndRecord());
  token = StatusToken(8, 0, {Exec(), Core(), Main()});
  ASSERT_EQ(Run(), 0) << log.text;
  EXPECT_EQ(Output(), Crlf("S103FF05xx\n" + Ff01(0, 0, bytes) + Ff01(1, 0x400, Chunk(Boot())) +
                           "S103FF06xx\nS103FF00xx\nS9030000FC\n"));
}

// Inside a record every character counts as a digit, so the text rules show
// there: CR LF reads as LF ("1" and LF make 0xE3), a lone CR stays ("1" and
// CR make 0xE6), and a Ctrl-Z ends the file.  The same holds wherever the
// edge of the reader's 64 KiB window falls, the CR of a CR LF the last byte
// of one window and the LF the first of the next included; and the replay
// reads the file again from its start.
TEST_F(ImageFirmwareTest, TextRulesInsideRecordsAndAcrossTheWindowEdge) {
  constexpr size_t kWindow = 64 * 1024;
  Data vector(16, 0xA5);
  vector[0] = 0xE3;
  vector[1] = 0xE6;
  std::string record = SRecord('1', 0, vector);
  record.replace(8, 4, "1\r\n1\r");
  const std::string head = Crlf(SRecord('0', 0, TextBytes("HDR")));
  const std::string rest = Crlf(SRecord('1', 0x400, Chunk(Boot())) + EndRecord());
  const std::string expected = Crlf("S103FF05xx\n" + Ff01(0, 0, vector) + Ff01(1, 0x400, Chunk(Boot())) +
                                    "S103FF06xx\nS103FF00xx\nS9030000FC\n");
  auto filler = [](size_t n) {
    std::string f;
    while (f.size() < n) f += "no record here\r\n";
    f.resize(n);
    return f;
  };
  // From the CR LF at record offset 9 to the lone CR at offset 12, each at
  // the window's last byte, and a few positions around them.
  const size_t crLast = kWindow - 1 - head.size() - 9;
  std::vector<size_t> leads = {0};
  for (size_t lead = crLast - 3; lead <= crLast + 6; ++lead) leads.push_back(lead);
  for (size_t lead : leads) {
    SCOPED_TRACE(lead);
    Fresh();
    token = StatusToken(8, 0, {Exec(), Core(), Main()});
    Firmware(filler(lead) + head + record + rest);
    ASSERT_EQ(Run(), 0) << log.text;
    EXPECT_EQ(Output(), expected);
  }
  // A Ctrl-Z ends the file where it stands, with a whole firmware after it.
  Fresh();
  token = StatusToken(8, 0, {Exec(), Core(), Main()});
  Firmware(filler(kWindow + 7) + head + record + "\x1a" + rest);
  EXPECT_EQ(Run(), 8);
  ASSERT_EQ(log.errors.size(), 1u);
  EXPECT_EQ(log.errors[0], "End of file reached before S9 record on line 3\n");
}

TEST_F(ImageFirmwareTest, RecordErrors) {
  const std::string s0 = SRecord('0', 0, TextBytes("HDR"));
  std::string badSum = SRecord('1', 0x10, Data(4, 1));
  badSum[badSum.size() - 2] ^= 1;
  std::string badEnd = EndRecord();
  badEnd[badEnd.size() - 2] = 'D';
  const std::string longest = SRecord('1', 0x10, Data(64, 0));
  std::string tooLong = longest;
  tooLong.replace(2, 2, "44");
  struct Case {
    const char* what;
    std::string firmware;
    int error;
    std::string message;
  };
  const Case cases[] = {
      {"S5 record", s0 + SRecord('1', 0, Data(4, 0)) + "S5030001FB\n" + EndRecord(), 10,
       "S-record format error on line 3 - file probably not S-records\n"},
      {"no end record", s0 + SRecord('1', 0, Data(4, 0)), 8, "End of file reached before S9 record on line 3\n"},
      {"end directly after an S", s0 + "S", 8, "End of file reached before S9 record on line 2\n"},
      {"end inside a record", s0 + "S1130000AB", 8, "End of file reached before S9 record on line 2\n"},
      {"checksum", s0 + badSum + EndRecord(), 9, "Checksum error in S-record no. 2\n"},
      {"checksum of the end record", s0 + badEnd, 9, "Checksum error in S-record no. 2\n"},
      {"more than 64 data bytes", s0 + tooLong + EndRecord(), 10,
       "S-record format error on line 2 - file probably not S-records\n"},
      {"count below address and checksum", s0 + "S1020000FD\n" + EndRecord(), 10,
       "S-record format error on line 2 - file probably not S-records\n"},
      // "G5" is 261, whose low 8 bits would make a fine count of 5.
      {"count above 255", s0 + "S1G50000AABB95\n" + EndRecord(), 10,
       "S-record format error on line 2 - file probably not S-records\n"},
      {"chunk header of 19 bytes", s0 + SRecord('1', 0x400, Data(19, 0)) + EndRecord(), 11,
       "S-record containing chunk header is too short on line 2\n"},
      {"64 data bytes are fine", s0 + longest + EndRecord(), 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    Firmware(c.firmware);
    EXPECT_EQ(Run(), c.error);
    if (c.error == 0) {
      EXPECT_TRUE(log.errorCodes.empty());
      continue;
    }
    ASSERT_EQ(log.errorCodes, std::vector<int>{3000 + c.error});
    EXPECT_EQ(log.errors[0], c.message);
    EXPECT_NE(log.text.find("Closing module driver firmware file\n"), std::string::npos);
    EXPECT_EQ(Output(), "");  // created, closed, nothing in it
  }
}

// Chunk headers at 0x400 and at the start of each 64 KiB sector after it.
std::string AlignedFirmware(const std::vector<FirmwareSection>& sections) {
  std::string f = SRecord('0', 0, TextBytes("HDR"));
  for (const FirmwareSection& s : sections)
    f += SRecord('2', s.id == 0 ? 0x400 : 0x10000u * s.id, Chunk(s));
  return f + EndRecord();
}

FirmwareSection Aligned(FirmwareSection s) { return WithBlockSize(s, 0x10000); }

TEST_F(ImageFirmwareTest, ReplaceDecisions) {
  const FirmwareSection boot = Aligned(Boot()), exec = Aligned(Exec()), core = Aligned(Core()),
                        main = Aligned(Main());
  struct Case {
    const char* what;
    std::vector<FirmwareSection> loaded;
    std::vector<std::string> answers;  // EXEC, CORE, MAIN
    bool cleared;
  };
  const Case cases[] = {
      {"version differs in its lower half", {boot, exec, core, WithVersion(main, 0x0004FFFF)},
       {kMatch, kMatch, kMatch}, false},
      {"version differs in its upper half", {boot, exec, core, WithVersion(main, 0x00050001)},
       {kMatch, kMatch, kDifferent}, false},
      {"crc differs", {boot, WithCrc(exec, 1), core, main}, {kDifferent, kMatch, kMatch}, false},
      {"block size differs", {boot, WithBlockSize(exec, 0x20000), core, main},
       {kDifferent, kMissing, kMissing}, true},
      {"reported with block size 0", {boot, exec, WithBlockSize(core, 0), main}, {kMatch, kMissing, kMatch}, false},
      {"not reported", {boot, exec, main}, {kMatch, kMissing, kMatch}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    Firmware(AlignedFirmware({boot, exec, core, main}));
    token = StatusToken(8, 4, c.loaded);
    ASSERT_EQ(Run(), 0) << log.text;
    EXPECT_NE(log.text.find(std::string("  Replacing firmware section 0 (BOOT)? ") + kMatch), std::string::npos);
    EXPECT_NE(log.text.find(std::string("  Replacing firmware section 1 (EXEC)? ") + c.answers[0]), std::string::npos);
    EXPECT_NE(log.text.find(std::string("  Replacing firmware section 2 (CORE)? ") + c.answers[1]), std::string::npos);
    EXPECT_NE(log.text.find(std::string("  Replacing firmware section 3 (MAIN)? ") + c.answers[2]), std::string::npos);
    EXPECT_EQ(CurrentModuleStatus().sections[0].blockSize, c.cleared ? 0u : 0x10000u);
  }
  EXPECT_NE(log.text.find("Firmware section being considered for downloading:\n"
                          "  ID=2 (CORE), Version=00030001, BlockSize=00010000, CRC=3333\n"),
            std::string::npos);
}

TEST_F(ImageFirmwareTest, LaterGroupNeedsASectorBoundary) {
  const std::string boot = SRecord('1', 0x400, Chunk(Boot()));
  token = StatusToken(8, 4, {Boot()});
  Firmware(SRecord('0', 0, TextBytes("HDR")) + boot + SRecord('2', 0x12000, Chunk(Main())) + EndRecord());
  EXPECT_EQ(Run(), 15);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3015});
  EXPECT_EQ(log.errors[0],
            "This module driver is incompatible with the flash memory map\nof the module being downloaded.  "
            "The driver is designed to load\nat address 72K, and the module being downloaded has flash "
            "sector\nboundaries every 64K. Check for a new module driver.");

  Fresh();
  token = StatusToken(8, 4, {Boot()});
  Firmware(SRecord('0', 0, TextBytes("HDR")) + boot + SRecord('2', 0x20000, Chunk(Main())) + EndRecord());
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Output(), Crlf("S103FF05xx\n" + Ff01(0, 0x20000, Chunk(Main())) + "S103FF06xx\nS103FF00xx\nS9030000FC\n"));
}

TEST_F(ImageFirmwareTest, LaterGroupNeedsTheFlashSize) {
  token = StatusToken(8, 0, {Boot()});
  Firmware(SRecord('1', 0x400, Chunk(Boot())) + SRecord('2', 0x20000, Chunk(Main())) + EndRecord());
  EXPECT_EQ(Run(), 16);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3016});
  EXPECT_EQ(log.errors[0],
            "The module did not report it's flash memory size\nat the start of the download.  This "
            "information is critical\nto the memory download process. Make sure you are online and\ntry "
            "downloading again.");
  EXPECT_NE(log.text.find("\nFlash sector size was not included in the ARG file.\n[error 3016]"), std::string::npos);
  EXPECT_EQ(Output(), "");
}

TEST_F(ImageFirmwareTest, SectorRecordSetsTheLoadAddress) {
  token = StatusToken(8, 4, {});
  Firmware(SRecord('0', 0, TextBytes("SECTOR3")) + SRecord('1', 0x1000, Chunk(Exec())) +
           SRecord('1', 0x1014, Data(4, 7)) + EndRecord());
  ASSERT_EQ(Run(), 0) << log.text;
  EXPECT_EQ(Output(), Crlf("S103FF05xx\n" + Ff01(0, 0x30000, Chunk(Exec())) + Ff01(1, 0x30014, Data(4, 7)) +
                           "S103FF06xx\nS103FF00xx\nS9030000FC\n"));
  EXPECT_NE(log.text.find("\nModule driver designed to load at sector 3, which is 0x30000.\n"), std::string::npos);
  EXPECT_NE(log.text.find("\nApplying a load offset of 0x2F000 bytes.\n"), std::string::npos);
  EXPECT_EQ(params.driverCodeBytes, 0x30018u);
}

TEST_F(ImageFirmwareTest, SectorZeroLoadsAtTheNextSector) {
  const FirmwareSection boot = WithBlockSize(Boot(), 0x30000);
  for (uint32_t lastData : {0x25000u, 0x1FFF0u}) {
    SCOPED_TRACE(lastData);
    Fresh();
    token = StatusToken(8, 4, {boot});
    Firmware(SRecord('1', 0x400, Chunk(boot)) + SRecord('2', lastData, Data(16, 1)) +
             SRecord('0', 0, TextBytes("SECTOR0")) + SRecord('2', 0x40000, Chunk(Exec())) + EndRecord());
    ASSERT_EQ(Run(), 0) << log.text;
    EXPECT_NE(log.text.find("\nModule driver designed to load at next sector, which is 0x30000.\n"),
              std::string::npos);
    EXPECT_NE(Output().find(Ff01(0, 0x30000, Chunk(Exec())).substr(0, 18)), std::string::npos);
  }
}

TEST_F(ImageFirmwareTest, HeaderRecordsThatMarkAChunk) {
  struct Case {
    const char* header;
    bool marks;
  };
  const Case cases[] = {{"SECTOR2", true}, {"SECTOR 2", true}, {"HEADER", false}, {"SECTOR-1", false},
                        {"sector2", false}, {"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    Fresh();
    token = StatusToken(8, 0, {WithBlockSize(Boot(), 0x10000), Exec()});
    Firmware(SRecord('1', 0x400, Chunk(WithBlockSize(Boot(), 0x10000))) + SRecord('0', 0, TextBytes(c.header)) +
             SRecord('1', 0x800, Chunk(Exec())) + EndRecord());
    ASSERT_EQ(Run(), 0) << log.text;
    EXPECT_EQ(log.text.find("\nPosition independent module driver detected.\n") != std::string::npos, c.marks);
    EXPECT_EQ(log.text.find("Replacing firmware section 1 (EXEC)? No.") != std::string::npos, c.marks);
    // Without a flash size there is no load address to announce.
    EXPECT_EQ(log.text.find("designed to load"), std::string::npos);
  }
}

TEST_F(ImageFirmwareTest, ExamineModeDecidesNothingButTakesTheFigures) {
  DriverSpec d;
  d.beforeMain = SRecord('0', 0, TextBytes("SECTOR3"));
  Firmware(DriverFirmware(d));
  token = StatusToken(8, 4, {});
  params.outputFileName = nullptr;
  ASSERT_EQ(Run(), 0);
  EXPECT_FALSE(Exists(dir / "OUT.DL"));
  EXPECT_EQ(log.text.find("Replacing firmware"), std::string::npos);
  EXPECT_EQ(log.text.find("considered"), std::string::npos);
  EXPECT_NE(log.text.find("\nModule driver designed to load at sector 3, which is 0x30000.\n"), std::string::npos);
  EXPECT_NE(log.text.find("\nTotal microblocks recognized = 4\n"), std::string::npos);
  EXPECT_EQ(params.driverCodeBytes, 0x3410u);  // no load offset in examine mode
}

TEST_F(ImageFirmwareTest, LongGroupSequenceAndThreeByteAddresses) {
  const FirmwareSection boot = WithBlockSize(Boot(), 0x10000);
  const FirmwareSection exec = WithBlockSize(Exec(), 0x10000);
  std::string f = SRecord('1', 0x400, Chunk(boot)) + SRecord('2', 0x10000, Chunk(exec));
  for (uint32_t i = 0; i < 299; ++i) f += SRecord('2', 0x12340 + 16 * i, Data(16, static_cast<uint8_t>(i)));
  Firmware(f + EndRecord());
  token = StatusToken(8, 4, {boot});
  ASSERT_EQ(Run(), 0) << log.text;
  std::string out = Output();
  EXPECT_NE(out.find("\r\n" + Crlf(Ff01(1, 0x12340, Data(16, 0)))), std::string::npos);
  EXPECT_NE(out.find("S118FF01FF00013320"), std::string::npos);  // line 256
  EXPECT_NE(out.find("S118FF010100013330"), std::string::npos);  // line 257
  EXPECT_NE(out.find("S118FF012C000135E0"), std::string::npos);  // line 300
  EXPECT_EQ(Count(out, "FF01"), 300u);
}

TEST_F(ImageFirmwareTest, MainHeaderWithoutTablesGivesTheFiguresAtOnce) {
  DriverSpec d;
  d.main.driverRpAddress = 0;
  d.main.microblockTableAddress = 0;
  Firmware(DriverFirmware(d));
  token = StatusToken(8, 4, {Boot(), Exec(), Core(), Main()});
  ASSERT_EQ(Run(), 0);
  EXPECT_NE(log.text.find("Module driver RP found at address = 0x0\n"
                          "Microblock memory requirements table found at address = 0x0\n"
                          "Vistrel browser code = version 0\n"
                          "Size of module driver Pars = 0\n"
                          "Size of module driver Stat = 0\n"
                          "Size of module driver Vars = 0\n"
                          "Size of module driver Hist = 0\n"
                          "\nIndividual microblock memory requirements in bytes:\n"
                          "  Mb8000 = 0\n"),
            std::string::npos)
      << log.text;
}

TEST_F(ImageFirmwareTest, MainChunkAtAddressZeroStillGivesItsFigures) {
  DriverSpec d;
  d.main.driverRpAddress = 0x100;
  d.main.microblockTableAddress = 0x200;
  std::string f = SRecord('0', 0, TextBytes("SECTOR1")) + DataRecords(0, MainHeader(Chunk(Main()), d.main), 32);
  f += DataRecords(0x100, DriverRp(0x100, 0x40, 0x20, 0), 16);
  f += DataRecords(0x200, MicroblockTable({0x10}), 16);
  f += SRecord('1', 0x500, Data(4, 0)) + EndRecord();
  Firmware(f);
  params.outputFileName = nullptr;
  ASSERT_EQ(Run(), 0) << log.text;
  EXPECT_NE(log.text.find("  Mb8000 = 16\n\nTotal microblocks recognized = 1\nSize of FBRUN structure = 200\n"),
            std::string::npos)
      << log.text;
  EXPECT_NE(log.text.find("   GFB 15 uses   648 bytes.\n"), std::string::npos);
}

TEST_F(ImageFirmwareTest, TablesReachingTheLastRecordAreFinishedAtTheEnd) {
  // The microblock table's last byte is the last data byte of the file.
  DriverSpec table;
  table.trailingRecord = false;
  // The driver RP comes last, in records that fill its 100 bytes exactly.
  DriverSpec rp;
  rp.main.microblockTableAddress = 0;
  std::string rpLast = SRecord('0', 0, TextBytes("HDR")) + SRecord('1', 0x400, Chunk(Boot())) +
                       DataRecords(0x3000, MainHeader(Chunk(Main()), rp.main), 32) +
                       DataRecords(0x3100, DriverRp(0x100, 0x40, 0x20, 0), 20) + EndRecord();
  struct Case {
    const char* what;
    std::string firmware;
    const char* figures;
  };
  const Case cases[] = {
      {"microblock table", DriverFirmware(table), "  Mb8003 = 48\n\nTotal microblocks recognized = 4\n"},
      {"driver RP", rpLast, "Size of module driver Pars = 256\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    Firmware(c.firmware);
    token = StatusToken(8, 4, {Boot(), Exec(), Core(), Main()});
    ASSERT_EQ(Run(), 0) << log.text;
    EXPECT_NE(log.text.find(c.figures), std::string::npos) << log.text;
    EXPECT_NE(log.text.find("   GFB 15 uses   648 bytes.\n"), std::string::npos) << log.text;
  }
}

TEST_F(ImageFirmwareTest, ReplayHappensOnce) {
  // A second chunk at 0x400, after a section that is not replaced, is an
  // ordinary chunk header: it opens the later group, moved to sector 2.
  token = StatusToken(8, 1, {Exec()});
  Firmware(SRecord('1', 0x400, Chunk(Boot())) + SRecord('1', 0x1000, Chunk(Exec())) +
           SRecord('0', 0, TextBytes("SECTOR2")) + SRecord('1', 0x400, Chunk(Core())) + EndRecord());
  ASSERT_EQ(Run(), 0) << log.text;
  EXPECT_EQ(Output(), Crlf("S103FF05xx\n" + Ff01(0, 0x400, Chunk(Boot())) + "S103FF06xx\nS103FF05xx\n" +
                           Ff01(0, 0x8000, Chunk(Core())) + "S103FF06xx\nS103FF00xx\nS9030000FC\n"));
}

TEST_F(ImageFirmwareTest, NoFigureSurvivesIntoTheNextRun) {
  Firmware(DriverFirmware());
  token = StatusToken(8, 4, {Boot(), Exec(), Core(), Main()});
  PutRp(LinkedImage(), 0x100, {"AAA", "1", {0x8000}, {0x01}});
  AddFb("AAA", 1);
  ASSERT_EQ(Run(), 0);
  EXPECT_NE(log.text.find("   GFB  1 uses   478 bytes.\n"), std::string::npos);
  log.text.clear();
  // The same FB and RP with a firmware that has no MAIN section.
  Firmware(SRecord('1', 0x400, Chunk(Boot())) + EndRecord());
  ASSERT_EQ(Run(), 0);
  EXPECT_NE(log.text.find("   GFB 15 uses     0 bytes.\n   GFB  1 uses   262 bytes.\n"), std::string::npos)
      << log.text;
  EXPECT_EQ(log.text.find("FBRUN"), std::string::npos);
}

TEST_F(ImageFirmwareTest, FirmwareFileThatCannotBeOpened) {
  token = "";
  EXPECT_EQ(Run(), 1);
  ASSERT_EQ(log.errorCodes, std::vector<int>{3001});
  EXPECT_EQ(log.errors[0], "Cannot open file \"DRV.$$$\" in directory \"" + dir.Path() +
                               "\".\nWhat to check - Does the directory exist?  Is the disk full?  Remember that "
                               "compressed drives often report false free space.  ");
  EXPECT_FALSE(Exists(dir / "OUT.DL"));
}

// ---------------------------------------------------------------------------
// The module status token

std::string Digits(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += static_cast<char>('0' + i % 10);
  return s;
}

TEST(ImageStatusToken, RunningCount) {
  std::string badCrc = StatusToken(8, 4, {Boot(), Exec(), Core()});
  badCrc[182 + 24 + 20] = 'G';  // EXEC's crc
  struct Case {
    const char* what;
    std::string token;
    int count;
    uint16_t loaded;
  };
  const Case cases[] = {
      {"89 digits", Digits(89), 0, 0},
      {"90 digits", Digits(90), 17, 0},
      {"108 digits", Digits(108), 20, 0},
      {"156 digits", Digits(156), 20, 0},
      {"182 digits", Digits(182), 26, 0},
      {"278 digits", Digits(278), 42, 4},
      {"first columns not decimal", "AB" + Digits(200), 3, 0},
      {"a list byte that does not convert", Digits(30) + "G" + Digits(200), 7, 0},
      {"a section with a bad crc", badCrc, 30, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ModuleStatus s;
    EXPECT_EQ(ParseModuleStatus(c.token.c_str(), &s), c.count);
    EXPECT_EQ(s.loadedCount, c.loaded);
    if (c.count < 24) {
      EXPECT_EQ(s.ramSize, 0);
      EXPECT_EQ(s.flashSize, 0);
    }
  }
  ModuleStatus s;
  EXPECT_EQ(ParseModuleStatus(nullptr, &s), 0);
  EXPECT_EQ(s.col0, 0);
}

// Groups and lists cut short by the token's end: a group counts the fields
// it converted (one digit is enough for a field), a list that ends early
// stops the parse at its fixed count.
TEST(ImageStatusToken, TokenEndingInsideAGroupOrList) {
  struct Case {
    size_t length;
    int count;
    uint8_t ramSize, flashSize;
  };
  const Case cases[] = {
      {100, 19, 0, 0},        // column 88: three fields, the fourth begins at the end
      {157, 22, 0x06, 0},     // column 156: one field of one digit
      {160, 23, 0x67, 0x89},  // column 156: two fields, still below 24
      {170, 24, 0x67, 0x89},  // the 6-byte list at 162 runs out
      {175, 25, 0x67, 0x89},  // the 4-byte list at 174 runs out after one digit
      {181, 26, 0x67, 0x89},  // both lists complete, no section
      {200, 26, 0x67, 0x89},  // a section of fewer than four fields
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    ModuleStatus s;
    EXPECT_EQ(ParseModuleStatus(Digits(c.length).c_str(), &s), c.count);
    EXPECT_EQ(s.ramSize, c.ramSize);
    EXPECT_EQ(s.flashSize, c.flashSize);
    EXPECT_EQ(s.loadedCount, 0);
  }
}

TEST(ImageStatusToken, FieldsAndSections) {
  std::string token = Digits(156) + "0810" + Digits(22) + "0003" + "0004aBcD" + "00001000" + "4444";
  ModuleStatus s;
  ASSERT_EQ(ParseModuleStatus(token.c_str(), &s), 30);
  EXPECT_EQ(s.col0, 1);
  EXPECT_EQ(s.col2, 0x2345);
  EXPECT_EQ(s.col52, 0x23456789u);
  EXPECT_EQ(s.col20[0], 0x01);
  EXPECT_EQ(s.col20[10], 0);
  EXPECT_EQ(s.ramSize, 8);
  EXPECT_EQ(s.flashSize, 16);
  EXPECT_EQ(s.sections[0].id, 3);
  EXPECT_EQ(s.sections[0].version, 0x0004ABCDu);
  EXPECT_EQ(s.sections[0].blockSize, 0x1000u);
  EXPECT_EQ(s.sections[0].crc, 0x4444);
}

TEST_F(ImageFirmwareTest, LoadedSectionsInTheLog) {
  const std::string heading = "\nFirmware sections currently loaded in the module:\n";
  const std::string empty = "  ID=0 (BOOT), Version=00000000, BlockSize=00000000, CRC=0000\n";
  Firmware(SRecord('1', 0x400, Chunk(Boot())) + EndRecord());
  token = StatusToken(8, 4, {Boot(), Exec(), Core(), Main()});
  ASSERT_EQ(Run(), 0);
  EXPECT_NE(log.text.find(heading +
                          "  ID=0 (BOOT), Version=00010001, BlockSize=00001000, CRC=1111\n"
                          "  ID=1 (EXEC), Version=00020001, BlockSize=00001000, CRC=2222\n"
                          "  ID=2 (CORE), Version=00030001, BlockSize=00001000, CRC=3333\n"
                          "  ID=3 (MAIN), Version=00040001, BlockSize=00001000, CRC=4444\n"
                          "Opening module driver"),
            std::string::npos)
      << log.text;

  Fresh();
  Firmware(SRecord('1', 0x400, Chunk(Boot())) + EndRecord());
  token = StatusToken(8, 4, {Boot(), {9, 1, 2, 3}});
  ASSERT_EQ(Run(), 0);
  std::string slots;
  for (int i = 0; i < 6; ++i) slots += empty;
  EXPECT_NE(log.text.find(heading + "  ID=0 (BOOT), Version=00010001, BlockSize=00001000, CRC=1111\n" +
                          "  ID=9 (?\?\?\?), Version=00000001, BlockSize=00000002, CRC=0003\n" + slots +
                          "Opening module driver"),
            std::string::npos)
      << log.text;

  // Nothing converted, or a log level below 2: no list.
  for (int level : {4, 1}) {
    Fresh();
    Firmware(SRecord('1', 0x400, Chunk(Boot())) + EndRecord());
    token = level == 4 ? Digits(89) : StatusToken(8, 4, {Boot()});
    params.logLevel = level;
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(log.text.find("currently loaded"), std::string::npos);
  }
}

}  // namespace
}  // namespace varnel::testing
