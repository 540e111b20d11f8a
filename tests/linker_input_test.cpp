// The bytes of an object file as the record reader takes them: the text
// rules (CR LF, lone CRs, Ctrl-Z), files larger than the reader's window
// with records and line ends across its edge, and read errors in such files.
#include <gtest/gtest.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "format.h"
#include "linker.h"
#include "platform/platform.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

// The reader's window (InputBuffer::kWindowSize): a file larger than this
// is read in more than one piece.
constexpr size_t kWindow = 64 * 1024;

// An object of two data records, LF line ends.
std::string TwoRecords() {
  return S0("TXT") + S3(1, "AROM") + S4(1, 0, 3) + S2(1, 0, Lit({0x01, 0x02})) + S2(1, 2, Lit({0x03, 0x04})) +
         S9();
}

// Bytes that start no record: no capital S anywhere.
std::string Filler(size_t n) {
  const std::string line = "filler text, no records here\r\n";
  std::string out;
  while (out.size() < n) out += line;
  out.resize(n);
  return out;
}

struct Outcome {
  int result;
  std::string log;
  std::string output;
  std::vector<int> errors;
};

// Links TXT.OBJ holding exactly `bytes`.  Progress goes nowhere: its dots
// follow a module count that runs on from link to link.
Outcome LinkBytes(LinkHarness& h, const std::string& bytes, int logLevel = 3) {
  WriteFile(h.dir / "TXT.OBJ", bytes);
  h.Submit(std::string(kSections) + "FILE     " + h.dir / "TXT.OBJ" + "\n");
  h.log.text.clear();
  h.log.errorCodes.clear();
  h.log.errors.clear();
  h.params = LinkParams{};
  h.log.Fill(h.params, logLevel);
  h.params.progress = nullptr;
  h.params.submitFileName = "LINK.CMD";
  h.params.outputFileName = "OUT.S1";
  h.params.execType = 1;
  h.params.workDir = h.dir.Path().c_str();
  int result = RunLinker(&h.params);
  return {result, h.log.text, h.Output(), h.log.errorCodes};
}

void ExpectSame(const Outcome& a, const Outcome& b) {
  EXPECT_EQ(a.result, b.result);
  EXPECT_EQ(a.log, b.log);
  EXPECT_EQ(a.output, b.output);
  EXPECT_EQ(a.errors, b.errors);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
  return text;
}

// Each file reads as the text beside it: CR LF as LF, a lone CR as a blank,
// and nothing after a Ctrl-Z -- not even a damaged record.
TEST(LinkerInput, TextRulesOfObjectFiles) {
  const std::string lf = TwoRecords();
  const std::string firstHalf = S0("TXT") + S3(1, "AROM") + S4(1, 0, 3) + S2(1, 0, Lit({0x01, 0x02}));
  const std::string second = S2(1, 2, Lit({0x03, 0x04}));
  struct Case {
    const char* what;
    std::string bytes;
    std::string readsAs;
  };
  const Case cases[] = {
      {"CR LF line ends", Crlf(lf), lf},
      {"CR CR LF line ends", Replace(lf, "\n", "\r\r\n"), lf},
      {"lone CRs between fields", Replace(lf, "S2", "\rS2\r"), lf},
      {"a Ctrl-Z after the last record", Crlf(lf) + "\x1a" + M68BadChecksum(2, {0, 0, 1, 9}), lf},
      {"a Ctrl-Z between records", Crlf(firstHalf) + "\x1a" + Crlf(second + S9()), firstHalf},
      {"a Ctrl-Z inside a record", Crlf(firstHalf) + second.substr(0, 9) + "\x1a" + second.substr(9),
       firstHalf + second.substr(0, 9)},
      {"a Ctrl-Z right after a CR", Crlf(firstHalf) + "\r\x1a" + Crlf(second), firstHalf + "\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinkHarness h;
    Outcome expected = LinkBytes(h, c.readsAs);
    ExpectSame(LinkBytes(h, c.bytes), expected);
  }
  // The cases are links, not all failures alike.
  LinkHarness h;
  EXPECT_EQ(LinkBytes(h, lf).result, 0);
  EXPECT_EQ(LinkBytes(h, firstHalf + second.substr(0, 9)).result, 8);
}

// Records, CR LF pairs and a Ctrl-Z at every position across the edge of the
// reader's window read as they do anywhere else.
TEST(LinkerInput, RecordsAcrossTheWindowEdge) {
  LinkHarness h;
  const std::string records = Crlf(TwoRecords());
  const Outcome expected = LinkBytes(h, records);
  ASSERT_EQ(expected.result, 0) << expected.log;
  for (size_t lead = kWindow - records.size() - 2; lead <= kWindow + 1; ++lead) {
    SCOPED_TRACE(lead);
    ExpectSame(LinkBytes(h, Filler(lead) + records), expected);
  }
  // A file of several windows whose end comes at a Ctrl-Z in its second one,
  // with more records after it.
  ExpectSame(LinkBytes(h, Filler(kWindow + 100) + records + "\x1a" + Filler(3 * kWindow) + records), expected);
  // A CR at the very end of a window, its LF in the next.
  std::string crAtEdge = Filler(kWindow - 1) + "\r\n" + records;
  ASSERT_EQ(crAtEdge[kWindow - 1], '\r');
  ExpectSame(LinkBytes(h, crAtEdge), expected);
}

// A library of several windows that fails to read, in its first window or
// in its last, fails the link: what was read before is never linked.
TEST(LinkerInput, ReadErrorInALibraryOfSeveralWindows) {
#if !defined(VARNEL_FAULT_HOOK)
  GTEST_SKIP() << "needs the fault hook";
#else
  std::string library;
  for (int i = 0; i < 1300; ++i) {
    std::string name = Format("M%04d", i);
    library += S0(name) + S3(1, "AROM") + S4(1, 0, 1) + S8(1, 0, name) + S2(1, 0, Lit({0x01, 0x02})) + S9();
  }
  const std::string read = library;  // what the reader gets: CR LF read as LF
  library = Crlf(library);
  ASSERT_GT(library.size(), 2 * kWindow);  // three windows
  for (const char* module : {"", "M0010", "M1290"}) {
    SCOPED_TRACE(module);
    LinkHarness h;
    const std::string lib = h.dir / "BIG.LIB";
    WriteFile(lib, library);
    h.Submit(std::string(kSections) + "FILE     " + h.Object("MAIN.OBJ", TwoRecords()) + "\nLIBRARY  " + lib +
             "\n");
    // Without a fault the library is read to its end.
    if (*module == '\0') {
      ASSERT_EQ(h.Run(3), 0) << h.log.text;
      EXPECT_NE(h.log.text.find("S0 - Module name - \"M1299\""), std::string::npos);
      continue;
    }
    // The disk fails just behind the record that names the module.
    const std::string named = S0(module);
    platform::InjectReadFaultAfter(lib.c_str(), read.find(named) + named.size());
    EXPECT_EQ(h.Run(3), 3);
    platform::ClearFaults();
    EXPECT_NE(h.log.text.find(Format("S0 - Module name - \"%s\"", module)), std::string::npos);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2003});
    EXPECT_NE(h.log.text.find("Cannot open input file " + lib + "\n"), std::string::npos);
    EXPECT_EQ(h.log.text.find("S0 - Module name - \"M1299\""), std::string::npos);
    EXPECT_EQ(h.Output().find("S9030000FC"), std::string::npos);
  }
#endif
}

}  // namespace
}  // namespace varnel::testing
