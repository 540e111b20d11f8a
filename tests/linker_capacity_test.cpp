// Every table takes one entry fewer than its capacity: the entry that reaches
// it is stored and then refused.  Run at log level -1.
#include <gtest/gtest.h>

#include <functional>

#include "format.h"
#include "linker.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

std::string Repeat(int n, const std::function<std::string(int)>& line) {
  std::string out;
  for (int i = 0; i < n; ++i) out += line(i);
  return out;
}

std::string Name(const char* prefix, int i) { return prefix + std::to_string(i); }

// A submit file for `n` entries of one table, given the scratch directory.
using Builder = std::function<std::string(LinkHarness&, int n)>;

std::string InputFiles(LinkHarness& h, int n) {
  std::string empty = h.Object("E.OBJ", "");
  return Repeat(n, [&](int i) { return (i % 2 ? "LIBRARY  " : "FILE     ") + empty + "\n"; });
}

std::string Sections(LinkHarness&, int n) {
  return Repeat(n, [](int i) { return "SECTION   AROM   PSCT  " + Format("%04X-%04X\n", 0x8000 + i, 0xBFFF); });
}

std::string Defines(LinkHarness&, int n) {
  return Repeat(n, [](int i) { return "DEFINE   " + Name("D", i) + "        0001\n"; });
}

// 1998 DEFINEs, then a module with the rest as S8 globals.
std::string ModuleGlobals(LinkHarness& h, int n) {
  std::string m = S0("G") + S3(1, "AROM") + S4(1, 0, 0xFF) +
                  Repeat(n - 1998, [](int i) { return S8(1, 0, Name("G", i)); }) + S9();
  return std::string(kSections) + Defines(h, 1998) + "FILE     " + h.Object("G.OBJ", m) + "\n";
}

std::string Externs(LinkHarness& h, int n) {
  std::string m = S0("X") + S3(1, "AROM") + S4(1, 0, 0x3FFD) +
                  Repeat(n, [](int i) { return S7(1, static_cast<uint16_t>(i), i % 2, Name("X", i)); }) +
                  S9();
  return std::string(kSections) + "FILE     " + h.Object("X.OBJ", m) + "\n";
}

// One external and `n` relocation items at its address.
std::string Fixups(LinkHarness& h, int n) {
  std::string m = S0("F") + S3(1, "AROM") + S4(1, 0, 1) + S7(1, 0, false, "ONE") +
                  Repeat(n, [](int) { return S2(1, 0, Rel(0x20, 0, 1)); }) + S9();
  return std::string(kSections) + "DEFINE   ONE        0001\nFILE     " + h.Object("F.OBJ", m) + "\n";
}

TEST(LinkerCapacity, EveryTable) {
  const std::string tooMany =
      ".\nWhat happened - This combination of FB's is too big to handle.\nWhat to check - Try "
      "loading fewer FB's, or contact Technical Support to see if there is an updated linker.\n";
  struct Case {
    const char* what;
    Builder build;
    int usable;
    int error;
    std::string message;
  };
  const Case cases[] = {
      {"input files", InputFiles, 139, 4,
       "Too many files specified in submit file\nWhat to check - Try loading fewer FB's or fewer "
       "supplemental libs.\n"},
      {"sections", Sections, 15, 6,
       "Too many memdefs.\nWhat to check - This error is not normal.  Contact Technical Support\n"},
      {"DEFINEs", Defines, 1999, 5, "Too many Globals" + tooMany},
      {"module globals", ModuleGlobals, 1999, 5, "Too many Globals" + tooMany},
      {"externals", Externs, 5199, 5, "Too many Externs" + tooMany},
      {"fixups", Fixups, 5199, 5, "Too many Fixups" + tooMany},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      LinkHarness h;
      h.Submit(c.build(h, c.usable));
      EXPECT_EQ(h.Run(-1), 0) << h.log.text;
    }
    LinkHarness h;
    h.Submit(c.build(h, c.usable + 1));
    EXPECT_EQ(h.Run(-1), c.error);
    EXPECT_EQ(h.log.errorCodes, std::vector<int>{2000 + c.error});
    ASSERT_EQ(h.log.errors.size(), 1u);
    EXPECT_EQ(h.log.errors[0], c.message);
  }
}

// The submit line or record that fills its table is logged before it is
// refused.
TEST(LinkerCapacity, FailingEntryIsLogged) {
  struct Case {
    Builder build;
    int lines;
    std::string tail;
  };
  LinkHarness h;
  std::string empty = h.dir / "E.OBJ";
  const Case cases[] = {
      {InputFiles, 140, "LIBRARY - " + empty + "\n[error 2004]"},
      {Sections, 16, "SECTION - AROM = 800F-BFFF\n[error 2006]"},
      {Defines, 2000, "DEFINE -  D1999    = 0001\n[error 2005]"},
      // so are the module records that fill theirs, at the level of their lines
      {ModuleGlobals, 2000, "S8 - Global - at 0000 in #01 \"G1\"\n[error 2005]"},
      {Externs, 5200, "S7 - Extern - at 144F in region # 1 (944F) sub \"X5199\"\n[error 2005]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tail);
    h.Submit(c.build(h, c.lines));
    h.log.text.clear();
    EXPECT_NE(h.Run(3), 0);
    EXPECT_NE(h.log.text.find(c.tail), std::string::npos);
  }
}

}  // namespace
}  // namespace varnel::testing
