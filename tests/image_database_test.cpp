// The module database: RPs taken out of the linked image, their FF02 lines,
// the FB entries and the GFB use each FB gets from its parent RP.
#include "support/image_fixture.h"

namespace varnel::testing {
namespace {

class ImageDatabaseTest : public ImageTest {
 protected:
  void SetUp() override {
    ImageTest::SetUp();
    Firmware(DriverFirmware());
    // The module holds exactly this firmware: no firmware group.
    token = StatusToken(8, 4, {Boot(), Exec(), Core(), Main()});
  }
  // The database part of the output, after the FF00 line and before the
  // FF07 lines.
  std::string RpLines() {
    std::string out = Output();
    size_t from = out.find("S103FF00xx\r\n");
    if (from == std::string::npos) return "";
    from += 12;
    size_t to = out.find("S9030000FC\r\n");
    size_t fb = out.find("FF07");
    if (fb != std::string::npos) to = out.rfind("\r\n", fb) + 2;
    if (to == std::string::npos) to = out.size();
    return out.substr(from, to - from);
  }
  std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
      size_t end = text.find("\r\n", at);
      lines.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return lines;
  }
};

// Offsets in an RP named AAA of version 1 as PutRp lays it out.
constexpr uint32_t kISequence = 23;
constexpr uint32_t kIXData = 25;
constexpr uint32_t kTerminator = 30;

// The RP of the worked example: PID, version 1.0, marker at 0x11A,
// sequence 8001 0005 FFFF at 0x130, XData AA BB CC at 0x136.
void PutExampleRp(uint8_t* image) {
  const Data head = {0x11, 0x11, 'P', 'I', 'D', '_', 0, 0, 0, 0, '1', '.', '0', 0};
  std::memcpy(image + 0x100, head.data(), head.size());
  const Data marker = {0xBD, 0xBD, 0xBD, 0xBE};
  std::memcpy(image + 0x11A, marker.data(), marker.size());
  const Data pointers = {0x01, 0x30, 0x01, 0x36};
  std::memcpy(image + 0x125, pointers.data(), pointers.size());
  const Data body = {0x80, 0x01, 0x00, 0x05, 0xFF, 0xFF, 0xAA, 0xBB, 0xCC, 0xFF, 0xFF, 0xFF, 0xFF};
  std::memcpy(image + 0x130, body.data(), body.size());
}

TEST_F(ImageDatabaseTest, ExampleRpSecondRpAndFbEntries) {
  PutExampleRp(LinkedImage());
  PutRp(LinkedImage(), 0x13D, {"TMR", "2.1", {0x8003}, {0xBB, 0xCC}});
  AddFb("PID", 3);
  AddFb("TMR", 4);
  AddFb("DRV", 15);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Output(),
            Crlf("S103FF00xx\n"
                 "S109FF0352500000006Dxx\n"
                 "S128FF02000000000000000000006D50494400000000000000000000000000312E3000000000000000xx\n"
                 "S128FF0201000000200000000000000000000000000000000600000064000000030000006A00000000xx\n"
                 "S128FF0202000000400000000000000000000000000000000000000000000000000000000000000000xx\n"
                 "S115FF0203000000600000000080010005FFFFAABBCCxx\n"
                 "S106FF04010000xx\n"
                 "S109FF0352500000006Axx\n"
                 "S128FF02000000000000000000006A544D5200000000000000000000000000322E3100000000000000xx\n"
                 "S128FF0201000000200000000000000000000000000000000400000064000000020000006800000000xx\n"
                 "S128FF0202000000400000000000000000000000000000000000000000000000000000000000000000xx\n"
                 "S112FF020300000060000000008003FFFFBBCCxx\n"
                 "S106FF04010000xx\n"
                 "S10DFF0700000000000350494400xx\n"
                 "S10DFF07000000000004544D5200xx\n"
                 "S10DFF0700000000000F44525600xx\n"
                 "S9030000FC\n"));
  EXPECT_NE(log.text.find("Extracting RP's.\n"
                          "Looking For RP.\n"
                          "Found \"PID\", version \"1.0\".\n"
                          "iSequence = 0130  iXData = 0136.\n"
                          "uSequenceOffset = 0x64\n"
                          "uSequenceSize = 0006.\n"
                          "uXDataSize = 0003.\n"
                          "dwLength = 006D.\n"
                          "Looking For RP.\n"
                          "Found \"TMR\", version \"2.1\".\n"),
            std::string::npos)
      << log.text;
  EXPECT_NE(log.text.find("Looking For RP.\nNone found.\nCreating FB's.\n"
                          "Parent RP found: PID\nParent RP found: TMR\n"),
            std::string::npos);
  // 109 bytes round up to 112, plus 32; PID's 8001 is unsupported, so its
  // FB takes 0 + 200 + 262; TMR's 8003 needs 48.
  EXPECT_NE(log.text.find("   RP PID uses   144 bytes.\n"
                          "   RP TMR uses   140 bytes.\n"
                          "   GFB 15 uses   648 bytes.\n"
                          "   GFB  3 uses   462 bytes.\n"
                          "   GFB  4 uses   510 bytes.\n"),
            std::string::npos)
      << log.text;
}

TEST_F(ImageDatabaseTest, NoRpAtTheStartGivesOnlyFbEntries) {
  LinkedImage()[0x100] = 0x11;  // one 0x11 is not the start of an RP
  AddFb("AI", 1);
  AddFb("DRV", 15);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(Output(), Crlf("S103FF00xx\n" + Ff07(1, "AI") + Ff07(15, "DRV") + "S9030000FC\n"));
  EXPECT_NE(log.text.find("Extracting RP's.\nLooking For RP.\nNone found.\nCreating FB's.\n"), std::string::npos);
  EXPECT_NE(log.text.find("   GFB 15 uses   648 bytes.\nGFB memory used"), std::string::npos) << log.text;
}

TEST_F(ImageDatabaseTest, ChainOfRpsEndsAtTheFirstGap) {
  struct Case {
    const char* what;
    Data between;          // bytes after the first RP's terminator
    int rps;                // RPs found
    uint32_t firstXData;    // uXDataSize of the first
  };
  const Case cases[] = {
      {"directly adjacent", {}, 2, 2},
      {"a byte in between", {0x00}, 1, 2},
      {"a fifth 0xFF belongs to the XData", {0xFF}, 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    uint8_t* image = LinkedImage();
    uint32_t next = PutRp(image, 0x100, {"AAA", "1", {}, {0x01, 0x02}});
    for (uint8_t b : c.between) image[next++] = b;
    PutRp(image, next, {"BBB", "1", {}, {0x03}});
    ASSERT_EQ(Run(), 0);
    int found = 0;
    for (size_t at = 0; (at = log.text.find("Found \"", at)) != std::string::npos; ++at) ++found;
    EXPECT_EQ(found, c.rps);
    EXPECT_NE(log.text.find(Format("uXDataSize = %04X.\n", c.firstXData)), std::string::npos);
  }
}

TEST_F(ImageDatabaseTest, LastRpBeforeTwoTerminatorObjects) {
  uint8_t* image = LinkedImage();
  uint32_t next = PutRp(image, 0x100, {"AAA", "1", {}, {0x01, 0x02}});
  std::memset(image + next, 0xFF, 4);  // the extra RPTERM
  ASSERT_EQ(Run(), 0);
  // The first four 0xFF bytes go with the XData, the cursor lands on the
  // zero byte after the eight.
  EXPECT_NE(log.text.find("uXDataSize = 0006.\ndwLength = 006C.\nLooking For RP.\nNone found.\n"),
            std::string::npos)
      << log.text;
}

TEST_F(ImageDatabaseTest, FbGfbFromTheParentRpSequence) {
  DriverSpec d;
  d.main.fbrunSize = 100;
  d.microblocks = {10, 20, 30, 40};
  Firmware(DriverFirmware(d));
  uint8_t* image = LinkedImage();
  uint32_t next = PutRp(image, 0x100, {"AAA", "1", {0x8003, 0x0005, 0x8001}, {0x01}});
  next = PutRp(image, next, {"BBB", "1", {0x8004, 0x8001, 0x8003}, {0x01}});  // 8004 unknown
  next = PutRp(image, next, {"AAA", "2", {0x8000}, {0x01}});                  // not the parent
  PutRp(image, next, {"ORPHAN", "1", {0x8000}, {0x01}});
  AddFb("AAA", 1);
  AddFb("BBB", 2);
  AddFb("NONE", 3);
  ASSERT_EQ(Run(), 0);
  // 40 + 20 = 60 for both: B's unknown 8004 adds nothing.
  EXPECT_NE(log.text.find("   GFB  1 uses   422 bytes.\n   GFB  2 uses   422 bytes.\nGFB memory used"),
            std::string::npos)
      << log.text;
  EXPECT_NE(log.text.find("   RP ORPHAN uses"), std::string::npos);
  EXPECT_EQ(log.text.find("   GFB  3 uses"), std::string::npos);
}

TEST_F(ImageDatabaseTest, MicroblockSumIsRoundedDownAndSkipsUnusable) {
  DriverSpec d;
  d.main.fbrunSize = 100;
  d.microblocks = {10, 23, 0xFFFE, 40};  // Mb8004 onward: not recognized
  Firmware(DriverFirmware(d));
  PutRp(LinkedImage(), 0x100, {"AAA", "1", {0x8003, 0x0005, 0x8001, 0x8002, 0x8004, 0x0003}, {0x01}});
  AddFb("AAA", 1);
  ASSERT_EQ(Run(), 0);
  // 40 + 23 = 63, rounded down to 60.
  EXPECT_NE(log.text.find("   GFB  1 uses   422 bytes.\n"), std::string::npos) << log.text;
}

TEST_F(ImageDatabaseTest, RecordFieldsAreClearedBetweenRps) {
  uint8_t* image = LinkedImage();
  uint32_t next = PutRp(image, 0x100, {"ABCDEFGHIJKLMNOPQRST", "0123456789ABCDEFGH", {}, {0x01}});
  PutRp(image, next, {"PID", "1.0", {}, {0x01}});
  ASSERT_EQ(Run(), 0);
  std::vector<std::string> lines = Lines(RpLines());
  ASSERT_EQ(lines.size(), 12u);
  // A long name and version keep their first 16 characters, with no NUL.
  EXPECT_EQ(lines[1].substr(18, 64),
            "000000000067" "4142434445464748494A4B4C4D4E4F50" "30313233343536373839");
  EXPECT_EQ(lines[7].substr(18, 64),
            "000000000067" "504944" + std::string(26, '0') + "312E30" + std::string(14, '0'));
  EXPECT_NE(log.text.find("Found \"ABCDEFGHIJKLMNOP\", version \"0123456789ABCDEF\".\n"), std::string::npos);
  EXPECT_NE(log.text.find("   RP ABCDEFGHIJKLMNOP uses"), std::string::npos);
}

TEST_F(ImageDatabaseTest, SequenceOfOnlyTheEndWord) {
  uint8_t* image = LinkedImage();
  PutRp(image, 0x100, {"AAA", "1", {}, {0x01}});
  // The sequence is only the end word, and the word before it is 0xFFFF
  // too; the copy still takes the end word at the sequence itself.
  std::memset(image + 0x8000, 0xFF, 4);
  image[0x100 + kISequence] = 0x80;
  image[0x100 + kISequence + 1] = 0x02;
  ASSERT_EQ(Run(), 0);
  EXPECT_NE(log.text.find("uSequenceSize = 0002.\n"), std::string::npos) << log.text;
}

TEST_F(ImageDatabaseTest, ChunkedLinesAndSequenceBytes) {
  struct Case {
    size_t xdata;  // XData bytes; the record is 100 + 2 + xdata
    size_t lines;
    std::string last;  // head of the last FF02 line
  };
  const Case cases[] = {
      {26, 4, "S128FF020300000060"},
      {27, 5, "S109FF020400000080"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.xdata);
    Fresh();
    PutRp(LinkedImage(), 0x100, {"AAA", "1", {}, Data(c.xdata, 0x11)});
    ASSERT_EQ(Run(), 0);
    std::vector<std::string> lines = Lines(RpLines());
    ASSERT_EQ(lines.size(), c.lines + 2);
    EXPECT_EQ(lines[1].substr(0, 18), "S128FF020000000000");
    EXPECT_EQ(lines[c.lines].substr(0, 18), c.last);
  }
}

TEST_F(ImageDatabaseTest, SequenceByteWrapsToOneAfter255) {
  // 100 + 2 + 8162 bytes: 258 full lines and one of 8 bytes.
  PutRp(LinkedImage(), 0x100, {"BIG", "1", {}, Data(8162, 0x42)});
  ASSERT_EQ(Run(), 0);
  std::vector<std::string> lines = Lines(RpLines());
  ASSERT_EQ(lines.size(), 259u + 2);
  EXPECT_EQ(lines[255].substr(0, 18), "S128FF02FE00001FC0");
  EXPECT_EQ(lines[256].substr(0, 18), "S128FF02FF00001FE0");
  EXPECT_EQ(lines[257].substr(0, 18), "S128FF020100002000");
  EXPECT_EQ(lines[259].substr(0, 18), "S110FF020300002040");
}

TEST_F(ImageDatabaseTest, MalformedImagesAreInternalErrors) {
  struct Case {
    const char* what;
    void (*damage)(uint8_t* image);
  };
  const Case cases[] = {
      {"no '_' before the end of the image",
       [](uint8_t* image) {
         image[0x100] = 0x11;
         image[0x101] = 0x11;
       }},
      {"no marker",
       [](uint8_t* image) {
         const Data b = {0x11, 0x11, 'A', '_', 0, 0, 0, 0, '1', 0};
         std::memcpy(image + 0x100, b.data(), b.size());
       }},
      {"marker too close to the end for its pointers",
       [](uint8_t* image) {
         const Data b = {0x11, 0x11, 'A', '_', 0, 0, 0, 0, '1', 0};
         std::memcpy(image + 0x100, b.data(), b.size());
         const Data m = {0xBD, 0xBD, 0xBD, 0xBE};
         std::memcpy(image + 0xFFF2, m.data(), m.size());
       }},
      {"version running into the end",
       [](uint8_t* image) {
         image[0x100] = 0x11;
         image[0x101] = 0x11;
         std::memset(image + 0x102, 'A', 0xFFF5 - 0x102);
         image[0xFFF5] = '_';
         std::memset(image + 0xFFFA, '1', 5);
       }},
      {"XData without its terminator",
       [](uint8_t* image) {
         PutRp(image, 0x100, {"AAA", "1", {}, {0x01}});
         std::memset(image + 0x100 + kTerminator, 0x00, 4);
       }},
      {"sequence without its end word",
       [](uint8_t* image) {
         PutRp(image, 0x100, {"AAA", "1", {}, {0x01}});
         image[0x100 + kISequence] = 0xFF;  // only zeros from 0xFF00 to the end
         image[0x100 + kISequence + 1] = 0x00;
       }},
      {"XData pointing back before the RP",
       [](uint8_t* image) {
         PutRp(image, 0x100, {"AAA", "1", {}, {0x01}});
         std::memset(image + 0x20, 0xFF, 4);
         image[0x100 + kIXData] = 0x00;
         image[0x100 + kIXData + 1] = 0x20;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    c.damage(LinkedImage());
    EXPECT_EQ(Run(), 5);
    ASSERT_EQ(log.errorCodes, std::vector<int>{3005});
    EXPECT_EQ(log.errors[0], "Internal Problem.\nPlease Contact Technical Support.\n");
    EXPECT_EQ(Output(), Crlf("S103FF00xx\n"));  // closed as far as written
  }
}

TEST_F(ImageDatabaseTest, FewerRpsThanSubmittedIsAnInternalError) {
  uint8_t* image = LinkedImage();
  uint32_t next = PutRp(image, 0x100, {"AAA", "1", {}, {0x01}});
  image[next] = 0x00;  // a broken chain: the second RP is not found
  PutRp(image, next + 1, {"BBB", "1", {}, {0x01}});
  params.rpFilesSubmitted = 2;
  EXPECT_EQ(Run(), 5);
  EXPECT_EQ(log.errorCodes, std::vector<int>{3005});
  params.rpFilesSubmitted = 1;
  log.errorCodes.clear();
  EXPECT_EQ(Run(), 0);
}

#if defined(VARNEL_FAULT_HOOK)
TEST_F(ImageDatabaseTest, RpListNodeThatCannotBeAllocated) {
  uint8_t* image = LinkedImage();
  uint32_t next = PutRp(image, 0x100, {"AAA", "1", {}, {0x01}});
  PutRp(image, next, {"BBB", "1", {}, {0x01}});
  FailRpNodeAllocation(2);
  EXPECT_EQ(Run(), 5);
  EXPECT_EQ(log.errorCodes, std::vector<int>{3005});
  // The lines of both RPs were written before the second node failed.
  EXPECT_EQ(Lines(RpLines()).size(), 2u * 6);
}
#endif

TEST_F(ImageDatabaseTest, ExamineModeWritesNothingButCountsTheRps) {
  params.outputFileName = nullptr;
  PutRp(LinkedImage(), 0x100, {"AAA", "1", {0x8000}, {0x01}});
  AddFb("AAA", 1);
  ASSERT_EQ(Run(), 0);
  EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"DRV.$$$", "JOB.ARG"}));
  EXPECT_NE(log.text.find("Examining Firmware Image.  Please wait ...\n"), std::string::npos);
  EXPECT_NE(log.text.find("   RP AAA uses   140 bytes.\n   GFB 15 uses   648 bytes.\n   GFB  1 uses   478 bytes.\n"),
            std::string::npos)
      << log.text;
  EXPECT_EQ(params.gfbUsed, 140u + 648 + 478);
  EXPECT_EQ(params.firmwareSpace, 0u);
}

}  // namespace
}  // namespace varnel::testing
