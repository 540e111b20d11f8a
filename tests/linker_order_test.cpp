// The library search, the fixups and the global lookups against a plain
// model that scans its tables from the start every time: random links over a
// small pool of names, so that DEFINEs hide module globals, dropped modules
// forget their globals, names repeat within a module and several externals
// share one location.  Whatever the linker keeps to answer quickly, its
// answers and their order must be those of the scans.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "format.h"
#include "linker.h"
#include "support/link_harness.h"

namespace varnel::testing {
namespace {

struct ModelGlobal {
  std::string name;
  uint32_t address;
};
struct ModelExtern {
  std::string name;
  uint32_t address;
  bool subtract;
};
struct ModelFixup {
  uint32_t loc;
  uint32_t value;
};

// One module: a single AROM region of `slots` two-byte locations, each
// patched by one 0xC0 item; externals before or after the item.
struct ModelModule {
  std::string name;
  int slots = 0;
  std::vector<std::pair<std::string, uint16_t>> globals;  // name, offset
  struct Ref {
    int slot;
    bool beforeItem;
    bool subtract;
    std::string name;
  };
  std::vector<Ref> refs;
  std::vector<uint16_t> operands;  // one per slot

  std::string Records() const {
    std::string r = S0(name) + S3(1, "AROM") + S4(1, 0, static_cast<uint16_t>(2 * slots - 1));
    for (const auto& [g, offset] : globals) r += S8(1, offset, g);
    for (int j = 0; j < slots; ++j) {
      auto off = static_cast<uint16_t>(2 * j);
      for (const Ref& ref : refs)
        if (ref.slot == j && ref.beforeItem) r += S7(1, off, ref.subtract, ref.name);
      r += S2(1, off, Rel(0xC0, 0, operands[j]));
      for (const Ref& ref : refs)
        if (ref.slot == j && !ref.beforeItem) r += S7(1, off, ref.subtract, ref.name);
    }
    return r + S9();
  }
};

struct ModelFile {
  bool isFile;
  std::vector<ModelModule> modules;
};

std::string Cut(const std::string& name) { return name.substr(0, 8); }

std::string Hex4(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "%04X", v);
  return b;
}

// The link as the linear scans make it: the search and fixup lines, the
// globals list, the patched bytes and the result.
struct ModelLink {
  std::vector<std::string> lines;
  std::vector<std::string> globalLines;
  std::vector<std::pair<uint32_t, uint8_t>> bytes;
  int result = 0;

  void Run(const std::vector<std::pair<std::string, uint32_t>>& defines,
           const std::vector<ModelFile>& files) {
    std::vector<ModelGlobal> globals;
    std::vector<ModelExtern> externs;
    std::vector<ModelFixup> fixups;
    for (const auto& [name, value] : defines) globals.push_back({Cut(name), value});
    uint32_t next = 0x9000;
    for (const ModelFile& f : files) {
      for (const ModelModule& m : f.modules) {
        size_t mark = globals.size();
        for (const auto& [g, offset] : m.globals) globals.push_back({Cut(g), offset});
        bool needed = f.isFile;
        for (size_t e = 0; !needed && e < externs.size(); ++e) {
          const std::string& want = externs[e].name;
          bool inModule = false;
          for (size_t i = mark; i < globals.size() && !inModule; ++i)
            inModule = globals[i].name == want;
          if (!inModule) continue;
          bool before = false;
          for (size_t i = 0; i < mark && !before; ++i) before = globals[i].name == want;
          if (before) {
            lines.push_back("Redundant global \"" + want + "\"");
          } else {
            lines.push_back("This module loaded because of \"" + want + "\"");
            needed = true;
          }
        }
        if (!needed) {
          globals.resize(mark);
          continue;
        }
        lines.push_back("Locating Module \"" + m.name + "\"");
        uint32_t base = next;
        next += static_cast<uint32_t>(2 * m.slots);
        for (size_t i = mark; i < globals.size(); ++i) globals[i].address += base;
        for (int j = 0; j < m.slots; ++j) {
          uint32_t loc = base + static_cast<uint32_t>(2 * j);
          for (const auto& ref : m.refs)
            if (ref.slot == j && ref.beforeItem)
              externs.push_back({Cut(ref.name), loc, ref.subtract});
          bool atExtern = false;
          for (const ModelExtern& e : externs) atExtern = atExtern || e.address == loc;
          if (atExtern) fixups.push_back({loc, m.operands[j]});
          else Patch(loc, m.operands[j]);
          for (const auto& ref : m.refs)
            if (ref.slot == j && !ref.beforeItem)
              externs.push_back({Cut(ref.name), loc, ref.subtract});
        }
      }
    }
    for (ModelFixup& f : fixups) {
      std::string line = "Fixup type C0 at " + Hex4(f.loc) + " is " + Hex4(f.value) + " ";
      for (const ModelExtern& e : externs) {
        if (e.address != f.loc) continue;
        line += std::string(e.subtract ? "-" : "+") + " " + e.name + " ";
        const ModelGlobal* g = nullptr;
        for (const ModelGlobal& c : globals)
          if (g == nullptr && c.name == e.name) g = &c;
        if (g == nullptr) {
          lines.push_back(line + "ERROR - Unresolved External Reference to \"" + e.name +
                          "\" at " + Hex4(f.loc));
          result = 9;
          return;
        }
        line += Format("(%04X) ", g->address);
        f.value = e.subtract ? f.value - g->address : f.value + g->address;
      }
      lines.push_back(line + "= " + Hex4(f.value));
      Patch(f.loc, f.value);
    }
    for (const ModelGlobal& g : globals) {
      std::string padded = (g.name + "        ").substr(0, 8);
      globalLines.push_back(padded + " " + Hex4(g.address) + " ");
    }
  }

  void Patch(uint32_t loc, uint32_t value) {
    bytes.push_back({loc, static_cast<uint8_t>(value >> 8)});
    bytes.push_back({loc + 1, static_cast<uint8_t>(value)});
  }
};

std::vector<std::string> GlobalsBlock(const std::string& log) {
  std::vector<std::string> out;
  const std::string open = "------------Globals---------------\n";
  size_t at = log.find(open);
  if (at == std::string::npos) return out;
  at += open.size();
  for (;;) {
    size_t end = log.find('\n', at);
    std::string line = log.substr(at, end - at);
    if (line.rfind("--------------End", 0) == 0 || end == std::string::npos) break;
    out.push_back(line);
    at = end + 1;
  }
  return out;
}

TEST(LinkerOrder, IndexesAnswerAsTheScans) {
  // LONGNAMEA and LONGNAMEB are one symbol to the linker.
  std::vector<std::string> pool = {"LONGNAMEA", "LONGNAMEB"};
  for (int i = 0; i < 40; ++i) pool.push_back("SYM" + std::to_string(i));
  int linked = 0;
  int unresolved = 0;
  for (unsigned seed = 1; seed <= 150; ++seed) {
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    // Smaller pools for some links, so that names meet more often.
    int poolSize = 2 + pick(static_cast<int>(pool.size()) - 1);
    auto name = [&] { return pool[static_cast<size_t>(pick(poolSize))]; };

    std::vector<std::pair<std::string, uint32_t>> defines;
    for (int i = pick(4); i > 0; --i)
      defines.push_back({name(), static_cast<uint32_t>(0x100 + pick(0xF00))});
    std::vector<ModelFile> files;
    int moduleNumber = 0;
    int fileCount = 2 + pick(4);
    for (int fi = 0; fi < fileCount; ++fi) {
      ModelFile f;
      f.isFile = fi == 0 || pick(3) == 0;
      for (int mi = 1 + pick(5); mi > 0; --mi) {
        ModelModule m;
        m.name = Format("M%d", moduleNumber++);
        m.slots = 1 + pick(4);
        for (int g = pick(4); g > 0; --g)
          m.globals.push_back({name(), static_cast<uint16_t>(pick(2 * m.slots))});
        for (int r = pick(6); r > 0; --r)
          m.refs.push_back({pick(m.slots), pick(4) != 0, pick(3) == 0, name()});
        for (int j = 0; j < m.slots; ++j) m.operands.push_back(static_cast<uint16_t>(pick(0x100)));
        f.modules.push_back(m);
      }
      files.push_back(f);
    }

    ModelLink model;
    model.Run(defines, files);

    LinkHarness h;
    std::string submit = "SECTION   AROM   PSCT  9000-BFFF\n";
    for (const auto& [n, v] : defines) submit += "DEFINE   " + n + "        " + Hex4(v) + "\n";
    for (size_t fi = 0; fi < files.size(); ++fi) {
      std::string records;
      for (const ModelModule& m : files[fi].modules) records += m.Records();
      submit += (files[fi].isFile ? "FILE     " : "LIBRARY  ") +
                h.Object(Format("F%zu.OBJ", fi), records) + "\n";
    }
    h.Submit(submit);
    int result = h.Run(2);
    SCOPED_TRACE("seed " + std::to_string(seed));
    ASSERT_EQ(result, model.result) << h.log.text;
    ASSERT_EQ(LinesStarting(h.log.text, {"Redundant global", "This module loaded",
                                         "Locating Module", "Fixup type"}),
              model.lines);
    if (result != 0) {
      ++unresolved;
      continue;
    }
    ++linked;
    EXPECT_EQ(GlobalsBlock(h.log.text), model.globalLines);
    for (const auto& [address, b] : model.bytes) {
      EXPECT_EQ(LinkedImage()[address], b) << std::hex << address;
      EXPECT_EQ(LinkedImageUsed()[address], 1) << std::hex << address;
    }
  }
  // Both endings must have been met for the comparison to mean anything.
  EXPECT_GT(linked, 20);
  EXPECT_GT(unresolved, 20);
}

}  // namespace
}  // namespace varnel::testing
