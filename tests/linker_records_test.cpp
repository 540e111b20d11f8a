// Reading M68 object records: their syntax, short records, damaged records
// and malformed relocatable data; and, through Varnel, what a damaged record
// in an FB object or a library does to the whole call.
#include <gtest/gtest.h>

#include <cctype>

#include "linker.h"
#include "support/link_harness.h"
#include "support/plan_fixture.h"
#include "varnel.h"

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
    out.append(1, ' ').append(record, i, 2);
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

// Text after an "S" that gives no type and two-digit count ends the file's
// records without a word, as stored files with notes after their last record
// rely on.  Once type and count stand, the text is a record, and one whose
// bytes or checksum are not two hexadecimal digits each is damaged.
TEST(LinkerRecords, TextAfterAnS) {
  const struct {
    const char* stop;
    bool damaged;
  } cases[] = {
      {"See the notes below.\n", false},
      {"S", false},
      {"S1", false},
      {"S2 6 0 0 1 0 F8 0\n", false},  // a count of one digit
      {"S1\n04", true},                // the next record's "S" where a byte belongs
      {"S205000001G2\n", true},        // a data digit that is none
      {"S204000001G0\n", true},        // a checksum digit that is none
      {"S2 06 0 0 1 0 F8 0\n", true},  // bytes of one digit
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stop);
    LinkHarness h;
    std::string text = S0("END") + S3(1, "AROM") + S4(1, 0, 1) + S2(1, 0, Lit({0x01})) + c.stop +
                       S2(1, 1, Lit({0x02})) + S9();
    std::string path = h.Object("END.OBJ", text);
    h.Submit(std::string(kSections) + "FILE     " + path + "\n");
    if (!c.damaged) {
      ASSERT_EQ(h.Run(-1), 0) << h.log.text;
      EXPECT_EQ(h.Output(), S1Line(0x8000, {0x01}) + LimitsLine(0xFFFF, 0x8001) + "S9030000FC\r\n");
      continue;
    }
    EXPECT_EQ(h.Run(0), 8);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2008});
    EXPECT_NE(h.log.text.find("ERROR - Damaged record 5 in file \"" + path + "\"\n[error 2008]"),
              std::string::npos)
        << h.log.text;
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
enum class Damage { kChecksum, kCutByEnd, kCountAbove80, kNonHexData, kNonHexChecksum };

std::string Damaged(Damage d, int type, const Bytes& data) {
  std::string good = M68Record(type, data);
  switch (d) {
    case Damage::kChecksum: return M68BadChecksum(type, data);
    case Damage::kCutByEnd: return good.substr(0, 6);  // the file ends here
    case Damage::kNonHexData: return good.replace(good.size() - 5, 1, "G");
    case Damage::kNonHexChecksum: return good.replace(good.size() - 3, 1, "G");
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
    for (Damage d : {Damage::kChecksum, Damage::kCutByEnd, Damage::kCountAbove80, Damage::kNonHexData,
                     Damage::kNonHexChecksum}) {
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

// ---------------------------------------------------------------------------
// Whole calls: the FB object FBA.OBJ (a FILE of the submit file), and LIB.OBJ
// with the needed module MODEND and then the module UNUSED that nothing
// needs.  Every S2 record has the checksum 00.

// The S2 line of a module's text.
size_t S2LineAt(const std::string& module) { return module.find("\nS2") + 1; }

// A module of one AROM region holding `text` and one byte more, chosen so
// that the checksum of its S2 record is 00.
std::string ModuleWithChecksum00(const std::string& name, const std::string& text,
                                 const std::vector<std::string>& globals = {}) {
  for (int pad = 0; pad < 256; ++pad) {
    Bytes code = TextBytes(text);
    code.push_back(static_cast<uint8_t>(pad));
    std::string module = CodeModule(name, code, globals);
    if (module.compare(module.find('\n', S2LineAt(module)) - 2, 3, "00\n") == 0) return module;
  }
  ADD_FAILURE() << "no pad byte gives the checksum 00";
  return "";
}

enum class Part { kFile, kNeeded, kUnneeded };
enum class Harm { kNonHexDigit, kCutAfterOneChecksumDigit };

class DamagedObjectsThroughVarnel : public PlanFixture {
 protected:
  void SetUp() override {
    PlanFixture::SetUp();
    Arg({{1, "FBA"}}, "32C000000000");
  }

  // The objects, with one S2 record harmed (none for nullptr).
  void Objects(const Part* part = nullptr, Harm harm = Harm::kNonHexDigit) {
    std::string modules[] = {ModuleWithChecksum00("FBA", "FBA-CODE"),
                             ModuleWithChecksum00("MODEND", "END", {"MODEND"}),
                             ModuleWithChecksum00("UNUSED", "never linked", {"NOBODY"})};
    if (part != nullptr) {
      std::string& m = modules[static_cast<int>(*part)];
      const size_t line = S2LineAt(m);
      if (harm == Harm::kNonHexDigit) {
        m[line + 14] = 'G';  // the first digit of the second byte of code
      } else {
        m.resize(m.find('\n', line) - 1);  // the file ends in the checksum
      }
    }
    Lib("FBA.OBJ", modules[0]);
    Lib("LIB.OBJ", modules[1] + modules[2]);
  }

  int Link() {
    message.assign(550, 'x');
    return Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "MODULE.S1", 0, message.data(), 550);
  }
  std::string Message() const { return std::string(message.c_str()); }
  std::string Download() const { return ReadFile(work + "MODULE.S1"); }
  std::string Log() const { return ReadFile(work + "JOB.LOG"); }

  std::string message;
};

// A byte that is not two hexadecimal digits, or a checksum of one digit at
// the end of the file, is a damaged record wherever a module is linked from
// it; while an unneeded library module is skipped it ends the library as
// quietly as a wrong checksum does.
TEST_F(DamagedObjectsThroughVarnel, RecordsWhoseFieldsAreNotTwoHexDigits) {
  Objects();
  ASSERT_EQ(Link(), 0) << Message() << Log();
  const std::string clean = Download();
  const std::string corrupt =
      "VARNEL.DLL  v3.03.002, Error 2008:\nCorrupt FB file.\nWhat to check - Try rebuilding the FB's in "
      "Tessaly.\n";
  const struct {
    Part part;
    const char* file;
    int record;  // 0: skipped quietly
  } parts[] = {{Part::kFile, "FBA.OBJ", 4}, {Part::kNeeded, "LIB.OBJ", 5}, {Part::kUnneeded, "LIB.OBJ", 0}};
  for (const auto& p : parts) {
    for (Harm harm : {Harm::kNonHexDigit, Harm::kCutAfterOneChecksumDigit}) {
      SCOPED_TRACE(::testing::Message() << p.file << " record " << p.record << " harm " << static_cast<int>(harm));
      Objects(&p.part, harm);
      const int result = Link();
      const std::string log = Log();
      if (p.record == 0) {
        EXPECT_EQ(result, 0) << log;
        EXPECT_EQ(Message(), "");
        EXPECT_EQ(Download(), clean);
        EXPECT_EQ(log.find("Damaged record"), std::string::npos);
        continue;
      }
      EXPECT_EQ(result, 2008) << log;
      EXPECT_EQ(Message(), corrupt);
      EXPECT_NE(log.find(Crlf("ERROR - Damaged record " + std::to_string(p.record) + " in file \"" + lib +
                              p.file + "\"\n")),
                std::string::npos)
          << log;
      EXPECT_EQ(Download(), "");  // created before the objects are read, and nothing written
    }
  }
}

// A count of one digit gives no record: the FB's records end there, as with
// any other text after an "S", and the record's byte is not linked.
TEST_F(DamagedObjectsThroughVarnel, RecordWithOneDigitFieldsIsNone) {
  Objects();
  Lib("FBA.OBJ", S0("FBA") + S3(1, "AROM") + S4(1, 0, 1) + S9());
  ASSERT_EQ(Link(), 0) << Message() << Log();
  const std::string withoutData = Download();
  Lib("FBA.OBJ", S0("FBA") + S3(1, "AROM") + S4(1, 0, 1) + "S2 6 0 0 1 0 F8 0\n" + S2(1, 1, Lit({0x02})) + S9());
  ASSERT_EQ(Link(), 0) << Message() << Log();
  EXPECT_EQ(Message(), "");
  EXPECT_EQ(Download(), withoutData);
}

}  // namespace
}  // namespace varnel::testing
