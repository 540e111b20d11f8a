// Reading M68 object records: their syntax, short records, damaged records
// and malformed relocatable data.
#include <gtest/gtest.h>

#include <cctype>

#include "linker.h"
#include "support/m68objects.h"

namespace varnel::testing {
namespace {

// The record with lower-case hexadecimal digits.
std::string LowerHex(std::string s) {
  for (size_t i = 1; i < s.size(); ++i)
    s[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(s[i])));
  return s;
}

// The record with a blank before every field after the type.
std::string Spaced(const std::string& record) {
  std::string out = record.substr(0, 2);
  for (size_t i = 2; i + 1 < record.size() && record[i] != '\n'; i += 2)
    out += " " + record.substr(i, 2);
  return out + "\n";
}

TEST(LinkerRecords, SyntaxAsTheReaderTakesIt) {
  LinkHarness h;
  std::string text = "a line of text without the capital letter\n" + LowerHex(S0("LOW")) +
                     "s: a lower-case s starts nothing\n" + Spaced(S3(1, "AROM")) +
                     LowerHex(S4(1, 0, 1)) + "trailing text;" + S2(1, 0, Lit({0xAB, 0xCD})) + "  \n" +
                     S9();
  h.Submit(std::string(kSections) + "FILE     " + h.Object("SYN.OBJ", text) + "\n");
  ASSERT_EQ(h.Run(1), 0) << h.log.text;
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0xAB, 0xCD}) + LimitsLine(0xFFFF, 0x8001) + "S9030000FC\r\n");
  EXPECT_NE(h.log.text.find("Processing Module \"LOW\"\n"), std::string::npos);
}

// 79 data bytes and the checksum: the largest record there is.
TEST(LinkerRecords, LargestRecord) {
  Bytes run1, run2, run3;
  for (int i = 0; i < 32; ++i) run1.push_back(static_cast<uint8_t>(i));
  for (int i = 32; i < 64; ++i) run2.push_back(static_cast<uint8_t>(i));
  for (int i = 64; i < 73; ++i) run3.push_back(static_cast<uint8_t>(i));
  std::string s2 = S2(1, 0, Lit(run1) + Lit(run2) + Lit(run3));
  ASSERT_EQ(s2.substr(0, 4), "S250");
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("BIG.OBJ", S0("BIG") + S3(1, "AROM") + S4(1, 0, 72) + s2 + S9()) + "\n");
  ASSERT_EQ(h.Run(-1), 0) << h.log.text;
  Bytes all = run1 + run2 + run3;  // 0 to 72
  EXPECT_EQ(h.Output(), S1Line(0x8000, Bytes(all.begin(), all.begin() + 35)) +
                            S1Line(0x8023, Bytes(all.begin() + 35, all.begin() + 70)) +
                            S1Line(0x8046, Bytes(all.begin() + 70, all.end())) +
                            LimitsLine(0xFFFF, 0x8048) + "S9030000FC\r\n");
}

// Text after an "S" that does not read as a record ends the file's records
// without a word, as stored files with notes after their last record rely on.
TEST(LinkerRecords, TextThatIsNoRecordEndsTheFile) {
  for (const char* stop : {"See the notes below.\n", "S", "S1", "S1\n04", "S205000001G2\n"}) {
    SCOPED_TRACE(stop);
    LinkHarness h;
    std::string text = S0("END") + S3(1, "AROM") + S4(1, 0, 1) + S2(1, 0, Lit({0x01})) + stop +
                       S2(1, 1, Lit({0x02})) + S9();
    h.Submit(std::string(kSections) + "FILE     " + h.Object("END.OBJ", text) + "\n");
    ASSERT_EQ(h.Run(-1), 0) << h.log.text;
    EXPECT_EQ(h.Output(), S1Line(0x8000, {0x01}) + LimitsLine(0xFFFF, 0x8001) + "S9030000FC\r\n");
  }
}

// Missing bytes of a short record read as 0, never as an earlier record's.
TEST(LinkerRecords, ShortRecordsReadZeros) {
  LinkHarness h;
  std::string text = S0("SHORT") + S3(1, "AROM") +
                     M68Record(4, {0x00, 0x00, 0x01}) +    // no end offset: one byte
                     M68Record(8, {0x00, 0x00}) +          // region 0, no name
                     S7(1, 0, false, "") +                 // refers to the empty name
                     S2(1, 0, Rel(0x20, 0, 0x0042)) + M68Record(2, {0x00}) + S9();
  h.Submit(std::string(kSections) + "FILE     " + h.Object("SHORT.OBJ", text) + "\n");
  ASSERT_EQ(h.Run(3), 0) << h.log.text;
  EXPECT_EQ(h.params.programUsed, 1u);
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0x42}) + LimitsLine(0xFFFF, 0x8000) + "S9030000FC\r\n");
  EXPECT_NE(h.log.text.find("Region  1 \"AROM\" 0000 - 0000\n"), std::string::npos);
  EXPECT_NE(h.log.text.find("S2 - Relocate - at 0000 in region # 0 - skipped\n"), std::string::npos);
}

// The ways a record can be damaged, each applied to one record of a fixture.
enum class Damage { kChecksum, kCutByEnd, kCountAbove80 };

std::string Damaged(Damage d, int type, const Bytes& data) {
  std::string good = M68Record(type, data);
  switch (d) {
    case Damage::kChecksum: return M68BadChecksum(type, data);
    case Damage::kCutByEnd: return good.substr(0, 6);  // the file ends here
    case Damage::kCountAbove80: {
      Bytes wide = data;
      wide.resize(80, 0);
      return M68Record(type, wide);
    }
  }
  return good;
}

// MAIN (a FILE) needs LIBFN from LIB.OBJ, whose first module SKIPME is not
// needed and whose second module NEEDED is.  Record numbers:
//   MAIN.OBJ: 1 S0, 2 S3, 3 S4, 4 S7, 5 S2, 6 S9
//   LIB.OBJ:  1 S0, 2 S3, 3 S8, 4 S4, 5 S2, 6 S9 (SKIPME)
//             7 S0, 8 S3, 9 S8, 10 S4, 11 S2, 12 S9 (NEEDED)
struct Fixture {
  std::string main;
  std::string lib;
};

enum class Where { kMainHeader, kMainBody, kNeededHeader, kNeededBody, kSkippedHeader, kSkippedBody };

Fixture Build(Where where, Damage d) {
  auto pick = [&](Where w, int type, const Bytes& data, bool* cut) {
    if (w != where) return M68Record(type, data);
    *cut = d == Damage::kCutByEnd;
    return Damaged(d, type, data);
  };
  Fixture f;
  bool cut = false;
  const Bytes s4 = {0x00, 0x00, 0x01, 0x00, 0x03};
  const Bytes mainS2 = Bytes{0x00, 0x00, 0x01} + Rel(0xC0, 0, 0) + Lit({0x11, 0x22});
  const Bytes libS2 = Bytes{0x00, 0x00, 0x01} + Lit({0x33});
  f.main = S0("MAIN") + S3(1, "AROM") + pick(Where::kMainHeader, 4, s4, &cut);
  if (!cut) f.main += S7(1, 0, false, "LIBFN") + pick(Where::kMainBody, 2, mainS2, &cut);
  if (!cut) f.main += S9();
  f.lib = S0("SKIPME") + S3(1, "AROM") + S8(1, 0, "OTHER") + pick(Where::kSkippedHeader, 4, s4, &cut);
  if (!cut) f.lib += pick(Where::kSkippedBody, 2, libS2, &cut);
  if (!cut) f.lib += S9() + S0("NEEDED") + S3(1, "AROM") + S8(1, 0, "LIBFN") +
                     pick(Where::kNeededHeader, 4, s4, &cut);
  if (!cut) f.lib += pick(Where::kNeededBody, 2, libS2, &cut);
  if (!cut) f.lib += S9();
  return f;
}

TEST(LinkerRecords, DamagedRecords) {
  struct Case {
    Where where;
    bool inMain;
    int record;
    int result;  // 8: the module would be linked truncated; 9: LIBFN never loaded
  };
  const Case cases[] = {
      {Where::kMainHeader, true, 3, 8},   {Where::kMainBody, true, 5, 8},
      {Where::kNeededHeader, false, 10, 8}, {Where::kNeededBody, false, 11, 8},
      {Where::kSkippedHeader, false, 4, 9}, {Where::kSkippedBody, false, 5, 9},
  };
  for (const Case& c : cases) {
    for (Damage d : {Damage::kChecksum, Damage::kCutByEnd, Damage::kCountAbove80}) {
      SCOPED_TRACE(::testing::Message() << "record " << c.record << " of "
                                        << (c.inMain ? "MAIN" : "LIB") << ", damage "
                                        << static_cast<int>(d));
      LinkHarness h;
      Fixture f = Build(c.where, d);
      std::string mainPath = h.Object("MAIN.OBJ", f.main);
      std::string libPath = h.Object("LIB.OBJ", f.lib);
      h.Submit(std::string(kSections) + "FILE     " + mainPath + "\nLIBRARY  " + libPath + "\n");
      EXPECT_EQ(h.Run(0), c.result) << h.log.text;
      ASSERT_EQ(h.log.errorCodes.size(), 1u);
      if (c.result == 8) {
        EXPECT_EQ(h.log.errorCodes[0], 2008);
        std::string line = "ERROR - Damaged record " + std::to_string(c.record) + " in file \"" +
                           (c.inMain ? mainPath : libPath) + "\"\n";
        EXPECT_NE(h.log.text.find(line + "[error 2008]Corrupt FB file.\nWhat to check - Try "
                                         "rebuilding the FB's in Tessaly.\n"),
                  std::string::npos)
            << h.log.text;
        EXPECT_EQ(h.log.text.find("Locating Module \"NEEDED\""), std::string::npos);
      } else {
        EXPECT_EQ(h.log.errorCodes[0], 2009);
        EXPECT_EQ(h.log.text.find("Damaged record"), std::string::npos);
        EXPECT_EQ(h.log.text.find("Processing Module \"NEEDED\""), std::string::npos);
      }
    }
  }
}

TEST(LinkerRecords, DamageInTheFirstRecordOfALibraryEndsItQuietly) {
  LinkHarness h;
  std::string lib = M68BadChecksum(0, {0, 0, 'L'}) + S3(1, "AROM") + S9();
  h.Submit(std::string(kSections) + "LIBRARY  " + h.Object("LIB.OBJ", lib) + "\n");
  EXPECT_EQ(h.Run(0), 0) << h.log.text;
  h.ExpectValidS1();
}

// Literal runs and relocation items must lie within their record.
TEST(LinkerRecords, DataPastTheEndOfARecord) {
  const Bytes payloads[] = {
      {0x03, 0x01, 0x02},        // a run of 4 with 2 bytes
      {0x00, 0x01, 0xC0, 0x00},  // a relocation item with one operand byte
      {0x20},                    // a relocation item with none
  };
  for (const Bytes& payload : payloads) {
    SCOPED_TRACE(payload.size());
    LinkHarness h;
    std::string path = h.Object("RUN.OBJ", S0("RUN") + S3(1, "AROM") + S4(1, 0, 7) +
                                               S2(1, 0, Lit({0x55})) + S2(1, 1, payload) + S9());
    h.Submit(std::string(kSections) + "FILE     " + path + "\n");
    EXPECT_EQ(h.Run(0), 8);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2008});
    EXPECT_NE(h.log.text.find("ERROR - Damaged record 5 in file \"" + path + "\"\n[error 2008]"),
              std::string::npos)
        << h.log.text;
  }
}

TEST(LinkerRecords, HeaderRecordsInABody) {
  for (int type : {1, 3, 4, 5, 6, 8, 0xA, 0xB, 0xC, 0xE, 0xF}) {
    SCOPED_TRACE(type);
    LinkHarness h;
    h.Submit(std::string(kSections) + "FILE     " +
             h.Object("BODY.OBJ", S0("BODY") + S3(1, "AROM") + S4(1, 0, 1) +
                                      S2(1, 0, Lit({0x01})) + M68Record(type, {0, 0, 1, 0, 0}) +
                                      S9()) +
             "\n");
    EXPECT_EQ(h.Run(0), 8);
    EXPECT_NE(h.log.text.find("ERROR - Bad Body Line Type " + std::to_string(type) +
                              ", line 5\n[error 2008]Corrupt FB file.\n"),
              std::string::npos)
        << h.log.text;
  }
  // S9 and SD records stand anywhere in a body.
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("BODY.OBJ", S0("BODY") + S3(1, "AROM") + S4(1, 0, 1) + S9() +
                                    M68Record(13, {0, 0}) + S2(1, 0, Lit({0x01})) + S9()) +
           "\n");
  EXPECT_EQ(h.Run(-1), 0);
  EXPECT_EQ(h.Output(), S1Line(0x8000, {0x01}) + LimitsLine(0xFFFF, 0x8001) + "S9030000FC\r\n");
}

TEST(LinkerRecords, ModuleNames) {
  LinkHarness h;
  h.Submit(std::string(kSections) + "FILE     " +
           h.Object("N.OBJ", S0("ABC(1)") + S3(1, "AROM") + S9() + S0("NINECHARS(2)") +
                                 S3(1, "AROM") + S9()) +
           "\n");
  ASSERT_EQ(h.Run(1), 0);
  for (const char* line : {"Processing Module \"ABC(1)\"\n", "Reading ABC\n",
                           "Locating Module \"ABC\"\n", "Processing Module \"NINECHAR\"\n",
                           "Reading NINECHAR\n", "Locating Module \"NINECHAR\"\n"}) {
    EXPECT_NE(h.log.text.find(line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace varnel::testing
