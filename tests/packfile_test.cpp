#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builders/files.h"
#include "builders/packer.h"
#include "format.h"
#include "packfile.h"
#include "platform/platform.h"

namespace varnel {
namespace {

using testing::BuildPackFile;
using testing::Exists;
using testing::MakeDriverInfo;
using testing::PackMember;
using testing::PackSpec;
using testing::ReadBytes;
using testing::ReadFile;
using testing::StorePackCrc;
using testing::TempDir;
using testing::WriteBytes;
using testing::WriteFile;
using testing::WritePackFile;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return v;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

PackMember Member(int number, const std::string& text) {
  PackMember m;
  m.number = number;
  m.data = Bytes(text);
  return m;
}

PackMember Sized(int number, uint32_t sizeField, const std::string& text = "") {
  PackMember m = Member(number, text);
  m.sizeField = sizeField;
  return m;
}

PackSpec Plain(std::vector<PackMember> members) {
  PackSpec spec;
  spec.version = 31;
  spec.members = std::move(members);
  return spec;
}

class PackFileTest : public ::testing::Test {
 protected:
  void TearDown() override { ClosePackFile(); }

  // Writes the packed file as dir + file and opens it under name and ext.
  const char* Open(const PackSpec& spec, const std::string& file, const char* name,
                   const char* ext) {
    WritePackFile(dir / file, spec);
    return OpenPackFile(name, dir.Path().c_str(), ext);
  }

  // Extracts a member to dir + out and returns what was written ("" when
  // the call failed).
  std::string Extract(int member, int unscramble, const std::string& out) {
    if (ExtractPackMember(member, unscramble, "%s%s", dir.Path().c_str(), out.c_str()) != 1) {
      return "";
    }
    return ReadFile(dir / out);
  }

  TempDir dir;
};

TEST(PackCrc, XmodemCheckValueAndContinuation) {
  const uint8_t text[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  EXPECT_EQ(PackCrc16(text, 9, 0), 0x31C3);
  EXPECT_EQ(PackCrc16(text + 4, 5, PackCrc16(text, 4, 0)), 0x31C3);
  EXPECT_EQ(PackCrc16(text, 0, 0x1234), 0x1234);
}

TEST(PackScramble, TwiceRestoresAndPositionWraps) {
  std::vector<uint8_t> data = Pattern(600, 3);
  std::vector<uint8_t> copy = data;
  ScrambleBuffer(copy.data(), copy.size(), 250);
  EXPECT_NE(copy, data);
  // Position 250 + 256 selects the same keys as 250.
  std::vector<uint8_t> other = data;
  ScrambleBuffer(other.data(), other.size(), 250 + 256);
  EXPECT_EQ(other, copy);
  // In pieces, each from its own position, equals all at once.
  std::vector<uint8_t> pieces = data;
  ScrambleBuffer(pieces.data(), 7, 250);
  ScrambleBuffer(pieces.data() + 7, 593, 257);
  EXPECT_EQ(pieces, copy);
  ScrambleBuffer(copy.data(), copy.size(), 250);
  EXPECT_EQ(copy, data);
}

// The stored form the reader depends on: header scrambled by file offset,
// CRC over 48 to the end as stored, members back to back from 96.
TEST(PackLayout, PackerWritesTheStoredForm) {
  PackSpec spec;
  spec.version = 33;
  spec.kind = 4;
  spec.info = MakeDriverInfo("Test driver", 5, {12});
  spec.members = {Member(2, std::string(200, 'x')), Member(7, "seven")};
  std::vector<uint8_t> file = BuildPackFile(spec);
  ASSERT_EQ(file.size(), 96u + 200 + 595 + 5);
  std::vector<uint8_t> header(file.begin() + 46, file.begin() + 96);
  ScrambleBuffer(header.data(), header.size(), 46);
  EXPECT_EQ(header[92 - 46], 0x73);
  EXPECT_EQ(header[93 - 46], 0x41);
  EXPECT_EQ(header[94 - 46], 33);
  EXPECT_EQ(header[95 - 46], 4);
  uint16_t crc = static_cast<uint16_t>(header[0] | (header[1] << 8));
  EXPECT_EQ(crc, PackCrc16(file.data() + 48, file.size() - 48, 0));
  // Member 2's directory entry (file offset 60): size 200.
  EXPECT_EQ(header[60 - 46 + 4], 200);
  // The extended block lies plain at 296, right behind member 2.
  EXPECT_EQ(std::memcmp(file.data() + 296, &*spec.info, sizeof(DriverInfo)), 0);
  std::vector<uint8_t> member2(file.begin() + 96, file.begin() + 296);
  ScrambleBuffer(member2.data(), member2.size(), 96);
  EXPECT_EQ(member2, Bytes(std::string(200, 'x')));
}

TEST_F(PackFileTest, FindPackFileTriesMdvThenFbThenSysvDat) {
  struct Case {
    const char* label;
    int mdv, fb, dat;  // -1 missing, 0 bad CRC, 1 good
    const char* expected;  // file name, or nullptr
  };
  const Case cases[] = {
      {"all good", 1, 1, 1, "ABC.MDV"},
      {"bad MDV", 0, 1, 1, "ABC.FB"},
      {"no MDV", -1, 1, 1, "ABC.FB"},
      {"only DAT", -1, -1, 1, "SYSVABC.DAT"},
      {"bad MDV and FB", 0, 0, 1, "SYSVABC.DAT"},
      {"all bad", 0, 0, 0, nullptr},
      {"none", -1, -1, -1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir lib;
    auto put = [&lib](const char* file, int state, uint8_t kind) {
      if (state < 0) return;
      PackSpec spec;
      spec.kind = kind;
      spec.badCrc = state == 0;
      WritePackFile(lib / file, spec);
    };
    put("ABC.MDV", c.mdv, 1);
    put("ABC.FB", c.fb, 2);
    put("SYSVABC.DAT", c.dat, 3);
    // Not a name the search forms.
    put("ABC.DAT", 1, 9);
    const char* path = FindPackFile("ABC", lib.Path().c_str());
    if (c.expected == nullptr) {
      EXPECT_EQ(path, nullptr);
      // Nothing is left open to extract from.
      EXPECT_EQ(ExtractPackMember(6, 0, "%sOUT", lib.Path().c_str()), 0);
      EXPECT_FALSE(Exists(lib / "OUT"));
    } else {
      ASSERT_NE(path, nullptr);
      EXPECT_EQ(std::string(path), lib / c.expected);
      EXPECT_EQ(PackKind(), c.mdv == 1 ? 1 : c.fb == 1 ? 2 : 3);
    }
    ClosePackFile();
  }
}

TEST_F(PackFileTest, OpenPackFileFormsPathsAsGiven) {
  PackSpec spec;
  EXPECT_EQ(std::string(Open(spec, "SYSVabc.dat", "abc", "dat")), dir / "SYSVabc.dat");
  ClosePackFile();
  EXPECT_EQ(std::string(Open(spec, "Drv.Fb", "Drv", "Fb")), dir / "Drv.Fb");
  ClosePackFile();
  // A missing file opens nothing.
  EXPECT_EQ(OpenPackFile("NONE", dir.Path().c_str(), "FB"), nullptr);
}

TEST_F(PackFileTest, MagicAndVersionDecideTheLayout) {
  struct Case {
    const char* label;
    uint16_t magic;
    uint8_t version;
    int expectedVersion;
    int extended;
  };
  const Case cases[] = {
      {"version 31", 0x4173, 31, 31, 0},
      {"version 32", 0x4173, 32, 32, 1},
      {"version 33", 0x4173, 33, 33, 1},
      {"other magic", 0x7341, 33, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    PackSpec spec;
    spec.magic = c.magic;
    spec.version = c.version;
    spec.kind = 4;
    spec.info = MakeDriverInfo("Driver", 3, {7});
    PackMember m3 = Member(3, "rp");
    m3.date = 0x3A62;
    m3.time = 0x68AA;
    spec.members = {m3};
    ASSERT_NE(Open(spec, "A.FB", "A", "FB"), nullptr);
    EXPECT_EQ(GetPackVersion(), c.expectedVersion);
    EXPECT_EQ(IsExtendedPack(), c.extended);
    DriverInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(GetPackDriverInfo(&info), c.extended);
    if (c.extended) {
      EXPECT_EQ(std::memcmp(&info, &*spec.info, sizeof info), 0);
      EXPECT_EQ(PackKind(), 4);
      EXPECT_EQ(GetPackMemberDate(3), 0x3A62);
      EXPECT_EQ(GetPackMemberTime(3), 0x68AA);
      EXPECT_EQ(PackMemberSize(6), 595u);
    } else {
      EXPECT_EQ(info.description[0], static_cast<char>(0xEE));  // untouched
      EXPECT_EQ(PackKind(), 1);  // from member 3 alone
      EXPECT_EQ(GetPackMemberDate(3), 0);
      EXPECT_EQ(GetPackMemberTime(3), 0);
      EXPECT_EQ(ExtractPackMember(7, 1, "%sM7", dir.Path().c_str()), 0);
    }
    EXPECT_EQ(Extract(3, 1, "RP.$$$"), "rp");
    ClosePackFile();
  }
}

TEST_F(PackFileTest, ExtendedFileWithoutDescriptionCarriesNoDriverInfo) {
  PackSpec spec;
  spec.version = 32;
  spec.info = MakeDriverInfo("", 5, {9});
  spec.info->description[0] = '\0';
  ASSERT_NE(Open(spec, "A.FB", "A", "FB"), nullptr);
  DriverInfo info;
  std::memset(&info, 0xEE, sizeof info);
  EXPECT_EQ(GetPackDriverInfo(&info), 0);
  EXPECT_EQ(info.description[0], static_cast<char>(0xEE));
}

TEST_F(PackFileTest, MembersBehindTheExtendedBlock) {
  // Sizes 0, 200, 0, 0, 0: member 2 at 96, the block at 296, member 7 at 891.
  PackSpec spec;
  spec.version = 33;
  spec.kind = 2;
  spec.info = MakeDriverInfo("Block at 296", 1, {3, 255});
  std::vector<uint8_t> two = Pattern(200, 1);
  PackMember m2;
  m2.number = 2;
  m2.data = two;
  PackMember m7 = Member(7, "member seven");
  m7.scrambled = false;
  spec.members = {m7, m2, Member(66, "last")};
  ASSERT_NE(Open(spec, "A.MDV", "A", "MDV"), nullptr);
  EXPECT_EQ(PackMemberSize(2), 200u);
  EXPECT_EQ(PackMemberSize(7), 12u);
  EXPECT_EQ(PackMemberSize(8), 0u);
  EXPECT_EQ(PackMemberSize(66), 4u);
  EXPECT_EQ(Bytes(Extract(2, 1, "TWO")), two);
  EXPECT_EQ(Extract(7, 0, "SEVEN"), "member seven");
  EXPECT_EQ(Extract(66, 1, "LAST"), "last");
  // The block itself is member 6, 595 bytes as stored.
  std::vector<uint8_t> block = Bytes(Extract(6, 0, "SIX"));
  ASSERT_EQ(block.size(), 595u);
  EXPECT_EQ(std::memcmp(block.data(), &*spec.info, sizeof(DriverInfo)), 0);
  EXPECT_EQ(ExtractPackMember(0, 1, "%sZERO", dir.Path().c_str()), 0);
  EXPECT_EQ(ExtractPackMember(67, 1, "%sBIG", dir.Path().c_str()), 0);
}

TEST_F(PackFileTest, AbsentSizesTakeNoRoom) {
  // Each marker (and any size of 2^31 or more) leaves member 2 absent, so
  // member 3 starts at 96.
  const uint32_t absent[] = {0xFFFFFFFFu, 0x42797254u, 0x61676943u, 0x80000000u,
                             0xFFFFFFFEu, 0};
  for (uint32_t size : absent) {
    SCOPED_TRACE(size);
    TempDir d;
    WritePackFile(d / "A.FB", Plain({Sized(2, size), Member(3, "the rp")}));
    ASSERT_NE(OpenPackFile("A", d.Path().c_str(), "FB"), nullptr);
    EXPECT_EQ(PackMemberSize(2), 0u);
    EXPECT_EQ(PackMemberSize(3), 6u);
    // An absent member touches no file, not even one in its way.
    WriteFile(d / "A.$$$", "older");
    EXPECT_EQ(ExtractPackMember(2, 1, "%sA.$$$", d.Path().c_str()), 0);
    EXPECT_EQ(ReadFile(d / "A.$$$"), "older");
    EXPECT_FALSE(Exists(d / "A.$$~"));
    EXPECT_EQ(ExtractPackMember(3, 1, "%sARP.$$$", d.Path().c_str()), 1);
    EXPECT_EQ(ReadFile(d / "ARP.$$$"), "the rp");
    ClosePackFile();
  }
}

TEST_F(PackFileTest, MembersAtOrPastTheEndOfTheFile) {
  // Member 4 claims 50 bytes but only 10 follow: copied short.  Member 5
  // would start past the end.
  ASSERT_NE(Open(Plain({Member(2, "obj"), Sized(4, 50, "0123456789"), Sized(5, 8)}), "A.FB", "A",
                 "FB"),
            nullptr);
  EXPECT_EQ(PackMemberSize(4), 50u);
  EXPECT_EQ(PackMemberSize(5), 0u);
  EXPECT_EQ(Extract(4, 1, "LIB"), "0123456789");
  EXPECT_EQ(Extract(5, 1, "EEP"), "");
  EXPECT_FALSE(Exists(dir / "EEP"));
  ClosePackFile();

  // A last member that claims a size but has no byte left at its offset.
  ASSERT_NE(Open(Plain({Member(2, "obj"), Sized(3, 4)}), "B.FB", "B", "FB"), nullptr);
  EXPECT_EQ(PackMemberSize(3), 0u);
  EXPECT_EQ(PackKind(), 0);
}

TEST_F(PackFileTest, OffsetsDoNotWrapAt32Bits) {
  // Two sizes just below 2^31 would wrap a 32-bit offset back into the file
  // and bring member 3 to life.
  ASSERT_NE(Open(Plain({Sized(1, 0x7FFFFFFF, "head"), Sized(2, 0x7FFFFFFF), Member(3, "rp")}),
                 "A.FB", "A", "FB"),
            nullptr);
  EXPECT_EQ(PackMemberSize(1), 0x7FFFFFFFu);
  EXPECT_EQ(PackMemberSize(2), 0u);
  EXPECT_EQ(PackMemberSize(3), 0u);
  std::vector<uint8_t> copied = Bytes(Extract(1, 0, "ONE"));
  std::vector<uint8_t> file = ReadBytes(dir / "A.FB");
  EXPECT_EQ(copied, std::vector<uint8_t>(file.begin() + 96, file.end()));
}

TEST_F(PackFileTest, LargeMemberUnscramblesAcrossChunks) {
  // Member 1 of 3 bytes puts member 2 at 99, so every chunk of 4097 starts
  // at another key position.
  std::vector<uint8_t> data = Pattern(10000, 11);
  PackMember m2;
  m2.number = 2;
  m2.data = data;
  ASSERT_NE(Open(Plain({Member(1, "abc"), m2}), "A.FB", "A", "FB"), nullptr);
  EXPECT_EQ(Bytes(Extract(2, 1, "PLAIN")), data);
  std::vector<uint8_t> stored = data;
  ScrambleBuffer(stored.data(), stored.size(), 99);
  EXPECT_EQ(Bytes(Extract(2, 0, "STORED")), stored);
  // Any value but 1 copies as stored.
  EXPECT_EQ(Bytes(Extract(2, 2, "STORED2")), stored);
  // A member stored plain comes out as it is with unscramble 0.
  ClosePackFile();
  PackMember plain = Member(2, "plain text");
  plain.scrambled = false;
  ASSERT_NE(Open(Plain({plain}), "B.FB", "B", "FB"), nullptr);
  EXPECT_EQ(Extract(2, 0, "B.$$$"), "plain text");
}

TEST_F(PackFileTest, PackKindOfFilesThatAreNotExtended) {
  struct Case {
    bool member3, member5;
    const char* ext;
    int kind;
  };
  const Case cases[] = {
      {true, true, "FB", 0},   {true, true, "DAT", 0},  {false, true, "FB", 2},
      {false, true, "DAT", 2}, {true, false, "MDV", 1}, {true, false, "DAT", 1},
      {false, false, "DAT", 5}, {false, false, "dat", 5}, {false, false, "FB", 0},
      {false, false, "MDV", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ext) + (c.member3 ? " 3" : "") + (c.member5 ? " 5" : ""));
    TempDir d;
    std::vector<PackMember> members = {Member(2, "obj")};
    // The absent marker keeps member 3 from counting without moving member 5.
    members.push_back(c.member3 ? Member(3, "rp") : Sized(3, 0x42797254));
    if (c.member5) members.push_back(Member(5, "eep"));
    std::string file = std::string(std::strcmp(c.ext, "FB") == 0 || std::strcmp(c.ext, "MDV") == 0
                                       ? "K."
                                       : "SYSVK.") +
                       c.ext;
    WritePackFile(d / file, Plain(members));
    ASSERT_NE(OpenPackFile("K", d.Path().c_str(), c.ext), nullptr);
    EXPECT_EQ(PackKind(), c.kind);
    ClosePackFile();
  }
}

TEST_F(PackFileTest, ExtractionPutsAnOlderFileAside) {
  ASSERT_NE(Open(Plain({Member(2, "new object")}), "A.FB", "A", "FB"), nullptr);
  WriteFile(dir / "A.$$$", "old object");
  WriteFile(dir / "A.$$~", "older still");
  EXPECT_EQ(Extract(2, 1, "A.$$$"), "new object");
  EXPECT_EQ(ReadFile(dir / "A.$$~"), "old object");
  // A numbered alias prefix is taken off the output name.
  std::string aliased = "5:" + dir.Path() + "ALIAS.$$$";
  EXPECT_EQ(ExtractPackMember(2, 1, "%s", aliased.c_str()), 1);
  EXPECT_EQ(ReadFile(dir / "ALIAS.$$$"), "new object");
  // An output that cannot be created.
  EXPECT_EQ(ExtractPackMember(2, 1, "%sNO/SUCH/DIR", dir.Path().c_str()), 0);
}

TEST_F(PackFileTest, MemberDatesComeFromExtendedFilesOnly) {
  const uint16_t date = static_cast<uint16_t>((29 << 9) | (3 << 5) | 2);    // 2 March 2009
  const uint16_t time = static_cast<uint16_t>((13 << 11) | (5 << 5) | 10);  // 13:05:20
  PackMember dated = Member(2, "obj");
  dated.date = date;
  dated.time = time;
  PackMember undated = Member(3, "rp");  // 0 and 0: no valid date
  struct Case {
    uint8_t version;
    int member;
    bool takesDate;
  };
  const Case cases[] = {{32, 2, true}, {31, 2, false}, {32, 3, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(Format("version %d member %d", c.version, c.member));
    PackSpec spec;
    spec.version = c.version;
    spec.members = {dated, undated};
    ASSERT_NE(Open(spec, "D.FB", "D", "FB"), nullptr);
    ASSERT_EQ(ExtractPackMember(c.member, 1, "%sOUT", dir.Path().c_str()), 1);
    uint16_t gotDate = 0, gotTime = 0;
    ASSERT_TRUE(platform::GetFileDosTime((dir / "OUT").c_str(), &gotDate, &gotTime));
    if (c.takesDate) {
      EXPECT_EQ(gotDate, date);
      EXPECT_EQ(gotTime, time);
    } else {
      // The time of its writing, well after 2009.
      EXPECT_GT(gotDate >> 9, 29);
    }
    ClosePackFile();
  }
}

TEST_F(PackFileTest, MemberThatFailsToWriteIsNotUnpacked) {
  std::vector<uint8_t> data = Pattern(5000, 9);
  PackMember m2;
  m2.number = 2;
  m2.data = data;
  ASSERT_NE(Open(Plain({m2}), "A.FB", "A", "FB"), nullptr);
  int n = 0;
  for (platform::FaultOp op :
       {platform::FaultOp::Write, platform::FaultOp::Flush, platform::FaultOp::Close}) {
    SCOPED_TRACE(static_cast<int>(op));
    // A fresh name each time, so that no backup step meets the fault first.
    const std::string out = dir / Format("OUT%d.$$$", ++n);
    platform::InjectFault(out.c_str(), op);
    EXPECT_EQ(ExtractPackMember(2, 1, "%s", out.c_str()), 0);
    platform::ClearFaults();
  }
  // A packed file that fails to read mid-member gives no member, and is not
  // trusted for another until it is opened again.
  const std::string packed = dir / "A.FB";
  platform::InjectFault(packed.c_str(), platform::FaultOp::Read);
  EXPECT_EQ(Extract(2, 1, "READ.$$$"), "");
  platform::ClearFaults();
  EXPECT_EQ(Extract(2, 1, "AGAIN.$$$"), "");
  ASSERT_NE(OpenPackFile("A", dir.Path().c_str(), "FB"), nullptr);
  EXPECT_EQ(Bytes(Extract(2, 1, "OUT.$$$")), data);
}

TEST_F(PackFileTest, UnreadableFileDoesNotOpen) {
  WritePackFile(dir / "A.FB", Plain({Member(2, "obj")}));
  platform::InjectFault((dir / "A.FB").c_str(), platform::FaultOp::Read);
  EXPECT_EQ(OpenPackFile("A", dir.Path().c_str(), "FB"), nullptr);
  platform::ClearFaults();
  EXPECT_NE(OpenPackFile("A", dir.Path().c_str(), "FB"), nullptr);
}

TEST_F(PackFileTest, ShortFilesDoNotOpen) {
  // A header-only file, cut by one byte and given the CRC of what remains,
  // would check; its header runs outside the file, so it must not open.
  std::vector<uint8_t> whole = BuildPackFile(Plain({}));
  ASSERT_EQ(whole.size(), 96u);
  std::vector<uint8_t> cut(whole.begin(), whole.end() - 1);
  StorePackCrc(cut);
  WriteBytes(dir / "CUT.FB", cut);
  EXPECT_EQ(OpenPackFile("CUT", dir.Path().c_str(), "FB"), nullptr);
  WriteBytes(dir / "EMPTY.FB", {});
  EXPECT_EQ(OpenPackFile("EMPTY", dir.Path().c_str(), "FB"), nullptr);
  WriteBytes(dir / "WHOLE.FB", whole);
  EXPECT_NE(OpenPackFile("WHOLE", dir.Path().c_str(), "FB"), nullptr);
  EXPECT_EQ(GetPackVersion(), 31);
}

TEST_F(PackFileTest, ExtendedBlockMissingFromTheFile) {
  // A version-32 header on a file that ends after member 2: the block reads
  // as empty, not as what the previous file held.
  PackSpec full;
  full.info = MakeDriverInfo("Earlier driver", 5, {1});
  ASSERT_NE(Open(full, "FULL.FB", "FULL", "FB"), nullptr);
  ASSERT_EQ(GetPackDriverInfo(nullptr), 1);
  ClosePackFile();

  std::vector<uint8_t> file = BuildPackFile(Plain({Member(2, "obj")}));
  std::vector<uint8_t> header(file.begin() + 46, file.begin() + 96);
  ScrambleBuffer(header.data(), header.size(), 46);
  header[94 - 46] = 32;
  ScrambleBuffer(header.data(), header.size(), 46);
  std::copy(header.begin(), header.end(), file.begin() + 46);
  StorePackCrc(file);
  WriteBytes(dir / "CUT.FB", file);
  ASSERT_NE(OpenPackFile("CUT", dir.Path().c_str(), "FB"), nullptr);
  EXPECT_EQ(IsExtendedPack(), 1);
  DriverInfo info;
  EXPECT_EQ(GetPackDriverInfo(&info), 0);
  EXPECT_EQ(PackKind(), 0);
  EXPECT_EQ(PackMemberSize(7), 0u);
  EXPECT_EQ(Extract(2, 1, "OBJ"), "obj");
}

TEST_F(PackFileTest, OverlongNamesFailWithoutCutting) {
  // Paths of 256 characters; cut to 255 they would name a file that exists
  // or could be written.
  std::string name(256 - dir.Path().size() - 3, 'n');
  WritePackFile(dir / (name + ".F"), PackSpec{});
  EXPECT_EQ(OpenPackFile(name.c_str(), dir.Path().c_str(), "FB"), nullptr);
  EXPECT_EQ(FindPackFile(name.c_str(), dir.Path().c_str()), nullptr);

  ASSERT_NE(Open(Plain({Member(2, "obj")}), "A.FB", "A", "FB"), nullptr);
  std::string out(256 - dir.Path().size(), 'o');
  EXPECT_EQ(ExtractPackMember(2, 1, "%s%s", dir.Path().c_str(), out.c_str()), 0);
  out.pop_back();
  EXPECT_FALSE(Exists(dir / out));
  // 255 characters are still fine.
  EXPECT_EQ(ExtractPackMember(2, 1, "%s%s", dir.Path().c_str(), out.c_str()), 1);
  EXPECT_EQ(ReadFile(dir / out), "obj");
}

TEST_F(PackFileTest, OpeningAgainAndClosing) {
  ClosePackFile();  // none open: nothing happens
  ASSERT_NE(Open(Plain({Member(2, "first")}), "A.FB", "A", "FB"), nullptr);
  // A second open without a close replaces the first.
  ASSERT_NE(Open(Plain({Member(2, "second")}), "B.FB", "B", "FB"), nullptr);
  EXPECT_EQ(Extract(2, 1, "OUT"), "second");
  ClosePackFile();
  ClosePackFile();
  // The answers of the last file stay until the next open; extraction needs
  // an open file.
  EXPECT_EQ(PackMemberSize(2), 6u);
  EXPECT_EQ(GetPackVersion(), 31);
  EXPECT_EQ(ExtractPackMember(2, 1, "%sAFTER", dir.Path().c_str()), 0);
  // A failed open clears them.
  EXPECT_EQ(OpenPackFile("NONE", dir.Path().c_str(), "FB"), nullptr);
  EXPECT_EQ(PackMemberSize(2), 0u);
}

}  // namespace
}  // namespace varnel
