#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "builders/files.h"
#include "builders/packer.h"
#include "packfile.h"
#include "planner.h"
#include "support/plan_fixture.h"
#include "varnel.h"

namespace varnel {
namespace {

using testing::MakeDriverInfo;
using testing::PackSpec;
using testing::TempDir;
using testing::WritePackFile;

constexpr uint8_t kFill = 0xAA;
constexpr size_t kGuard = 8;  // bytes past bufferLength that must stay untouched

// The first row whose pattern matches name (of Exec type 5 only, when asked).
int FirstMatch(const std::string& name, bool exec5Only = false) {
  const DriverTableRow* rows = DriverTable();
  for (int i = 0; i < kDriverTableRows; ++i) {
    if (CompareWildcard(rows[i].pattern, name.c_str()) != 0) continue;
    if (exec5Only && rows[i].info.ExecType() != 5) continue;
    return i;
  }
  return -1;
}

bool IsFixed(const DriverTableRow& row) { return std::strchr(row.pattern, '?') == nullptr; }

// A fixed code whose own row is its first match and that meets the condition.
template <typename Pred>
int FindRow(Pred pred) {
  const DriverTableRow* rows = DriverTable();
  for (int i = 0; i < kDriverTableRows; ++i) {
    if (IsFixed(rows[i]) && FirstMatch(rows[i].pattern) == i && pred(rows[i], i)) return i;
  }
  return -1;
}

bool ListIs(const char* const* list, std::vector<std::string> texts) {
  size_t i = 0;
  for (; list[i] != nullptr; ++i) {
    if (i >= texts.size() || texts[i] != list[i]) return false;
  }
  return i == texts.size();
}

// The list as it reads when every text fits.
std::string Joined(const char* const* list) {
  std::string out;
  for (; *list != nullptr; ++list) out += std::string(*list) + '\0';
  return out + '\0';
}

// A 3-character name no row matches.
std::string UnknownName() {
  for (const char* name : {"QQQ", "ZZZ", "QZX", "XQZ"}) {
    if (FirstMatch(name) < 0) return name;
  }
  return "";
}

struct Answer {
  int result = 0;
  std::string versions, sizes, typeName;  // bufferLength + kGuard bytes each
  uint16_t moduleType = 0xBEEF;
};

Answer Query(const char* name, const char* dir, uint32_t bufferLength, bool withTypeName = true) {
  Answer a;
  a.versions.assign(bufferLength + kGuard, static_cast<char>(kFill));
  a.sizes = a.typeName = a.versions;
  a.result = VarnelGetDriverData(name, dir, a.versions.data(), a.sizes.data(), &a.moduleType,
                                 withTypeName ? a.typeName.data() : nullptr, bufferLength);
  return a;
}

// text, cut or NUL-filled to n bytes, then the untouched fill.
std::string Field(const std::string& text, size_t n, size_t total) {
  std::string out = text.substr(0, n);
  out.resize(n, '\0');
  out.resize(total, static_cast<char>(kFill));
  return out;
}

std::string Untouched(size_t total) { return std::string(total, static_cast<char>(kFill)); }

PackSpec DriverFile(int16_t execType, uint16_t allowed, uint8_t version = 32) {
  PackSpec spec;
  spec.version = version;
  spec.kind = 5;
  spec.info = MakeDriverInfo("Driver from its packed file", execType, {allowed, 3});
  return spec;
}

class DriverQueryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // The query itself leaves nothing open.
    EXPECT_EQ(ExtractPackMember(6, 0, "%sLEFT", dir.Path().c_str()), 0);
  }
  TempDir dir;
};

TEST_F(DriverQueryTest, TableRowWithoutFile) {
  int i = FindRow([](const DriverTableRow& r, int) {
    return r.info.ExecType() != 5 && ListIs(r.execVersions, {"4.0"}) && ListIs(r.memorySizes, {"16"});
  });
  ASSERT_GE(i, 0);
  const DriverTableRow& row = DriverTable()[i];
  Answer a = Query(row.pattern, dir.Path().c_str(), 16);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.versions, Field(std::string("4.0\0", 5), 5, 24));
  EXPECT_EQ(a.sizes, Field(std::string("16\0", 4), 4, 24));
  uint16_t type = row.info.AllowedType(0);
  EXPECT_EQ(a.moduleType, type);
  EXPECT_EQ(a.typeName, Field(GetModuleTypeName(type), 16, 24));
}

TEST_F(DriverQueryTest, FileAndTableTogether) {
  // A fixed code of another Exec type that no Exec type 5 row matches.
  int lone = FindRow([](const DriverTableRow& r, int) {
    return r.info.ExecType() != 5 && FirstMatch(r.pattern, true) < 0;
  });
  // A fixed code of another Exec type with an Exec type 5 row behind it.
  int shadowed = FindRow([](const DriverTableRow& r, int i) {
    return r.info.ExecType() != 5 && FirstMatch(r.pattern, true) > i;
  });
  ASSERT_GE(lone, 0);
  ASSERT_GE(shadowed, 0);
  const DriverTableRow* rows = DriverTable();
  const DriverTableRow& exec5Row = rows[FirstMatch(rows[shadowed].pattern, true)];
  const std::string unknown = UnknownName();
  ASSERT_FALSE(unknown.empty());
  const std::string exec5Sizes("1024\0" "128\0" "256\0" "512\0" "2048\0\0", 23);
  const std::string exec5Versions("6.0\0\0", 5);
  const std::string otherVersions("4.0\0\0", 5);
  const std::string otherSizes("16\0\0", 4);

  struct Case {
    const char* label;
    std::string name;
    std::optional<PackSpec> file;
    int result;
    std::string versions, sizes;  // the lists (64-byte buffers)
    uint16_t moduleType;
  };
  const Case cases[] = {
      {"Exec type 5 file, no Exec type 5 row: the defaults", rows[lone].pattern,
       DriverFile(5, 44), 1, exec5Versions, exec5Sizes, 44},
      {"Exec type 5 file passes a row of another type over", rows[shadowed].pattern,
       DriverFile(5, 45), 1, Joined(exec5Row.execVersions), Joined(exec5Row.memorySizes), 45},
      {"Exec type 3 file keeps the first row", rows[shadowed].pattern, DriverFile(3, 46), 1,
       Joined(rows[shadowed].execVersions), Joined(rows[shadowed].memorySizes), 46},
      {"Exec type 3 file, no row", unknown, DriverFile(3, 47), 1, otherVersions, otherSizes, 47},
      {"4-character name, only the file knows it", "ABCD", DriverFile(5, 48), 1, exec5Versions,
       exec5Sizes, 48},
      {"4-character name, no file", "ABCD", std::nullopt, 0, "", "", 0xBEEF},
      {"no row, no file", unknown, std::nullopt, 0, "", "", 0xBEEF},
      {"no row, bad CRC", unknown,
       [] {
         PackSpec s = DriverFile(3, 47);
         s.badCrc = true;
         return s;
       }(),
       0, "", "", 0xBEEF},
      {"no row, version 31", unknown, DriverFile(3, 47, 31), 0, "", "", 0xBEEF},
      {"row, version 31: the row's information", rows[lone].pattern, DriverFile(5, 44, 31), 1,
       Joined(rows[lone].execVersions), Joined(rows[lone].memorySizes),
       rows[lone].info.AllowedType(0)},
      {"row, empty description: the row's information", rows[lone].pattern,
       [] {
         PackSpec s = DriverFile(5, 44);
         s.info->description[0] = '\0';
         return s;
       }(),
       1, Joined(rows[lone].execVersions), Joined(rows[lone].memorySizes),
       rows[lone].info.AllowedType(0)},
      {"any module type", unknown, DriverFile(3, 255), 1, otherVersions, otherSizes, 255},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir d;
    if (c.file) WritePackFile(d / (c.name + ".FB"), *c.file);
    Answer a = Query(c.name.c_str(), d.Path().c_str(), 64);
    EXPECT_EQ(a.result, c.result);
    EXPECT_EQ(a.moduleType, c.moduleType);
    if (c.result == 0) {
      EXPECT_EQ(a.versions, Untouched(72));
      EXPECT_EQ(a.sizes, Untouched(72));
      EXPECT_EQ(a.typeName, Untouched(72));
      continue;
    }
    EXPECT_EQ(a.versions, Field(c.versions, c.versions.size(), 72));
    EXPECT_EQ(a.sizes, Field(c.sizes, c.sizes.size(), 72));
    EXPECT_EQ(a.typeName, Field(GetModuleTypeName(c.moduleType), 64, 72));
  }
}

TEST_F(DriverQueryTest, OnlyTheFbFileCounts) {
  const std::string unknown = UnknownName();
  WritePackFile(dir / (unknown + ".MDV"), DriverFile(3, 47));
  WritePackFile(dir / ("SYSV" + unknown + ".DAT"), DriverFile(3, 47));
  EXPECT_EQ(Query(unknown.c_str(), dir.Path().c_str(), 32).result, 0);
}

TEST_F(DriverQueryTest, SmallBuffers) {
  const std::string unknown = UnknownName();
  WritePackFile(dir / (unknown + ".FB"), DriverFile(5, 255));
  // 9 bytes: "1024" takes 5, and no later text fits with the final NUL.
  Answer a = Query(unknown.c_str(), dir.Path().c_str(), 9);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.sizes, Field(std::string("1024\0", 6), 6, 17));
  EXPECT_EQ(a.versions, Field(std::string("6.0\0", 5), 5, 17));
  EXPECT_EQ(a.typeName, Field("Unrecognized (new) module type", 9, 17));  // no NUL
  // 5 bytes: "1024" is left out, and the shorter "128" behind it still fits.
  a = Query(unknown.c_str(), dir.Path().c_str(), 5);
  EXPECT_EQ(a.sizes, Field(std::string("128\0", 5), 5, 13));
  EXPECT_EQ(a.versions, Field(std::string("6.0\0", 5), 5, 13));

  // 4 bytes: "4.0" needs 4 and the final NUL, so its buffer stays as it was;
  // "16" fits.
  WritePackFile(dir / (unknown + ".FB"), DriverFile(3, 47));
  a = Query(unknown.c_str(), dir.Path().c_str(), 4);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.versions, Untouched(12));
  EXPECT_EQ(a.sizes, Field(std::string("16\0", 4), 4, 12));
  EXPECT_EQ(a.moduleType, 47);
  EXPECT_EQ(a.typeName, Field(GetModuleTypeName(47), 4, 12));

  // 0 bytes: nothing is written but the module type.
  a = Query(unknown.c_str(), dir.Path().c_str(), 0);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.versions, Untouched(8));
  EXPECT_EQ(a.sizes, Untouched(8));
  EXPECT_EQ(a.typeName, Untouched(8));
  EXPECT_EQ(a.moduleType, 47);
}

TEST_F(DriverQueryTest, MissingArgumentsAreSkipped) {
  const std::string unknown = UnknownName();
  WritePackFile(dir / (unknown + ".FB"), DriverFile(3, 47));
  Answer a = Query(unknown.c_str(), dir.Path().c_str(), 16, /*withTypeName=*/false);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.versions, Field(std::string("4.0\0", 5), 5, 24));
  EXPECT_EQ(a.moduleType, 47);
  EXPECT_EQ(a.typeName, Untouched(24));

  EXPECT_EQ(VarnelGetDriverData(unknown.c_str(), dir.Path().c_str(), nullptr, nullptr, nullptr,
                                nullptr, 16),
            1);
  char sizes[16];
  std::memset(sizes, kFill, sizeof sizes);
  EXPECT_EQ(VarnelGetDriverData(unknown.c_str(), dir.Path().c_str(), nullptr, sizes, nullptr,
                                nullptr, sizeof sizes),
            1);
  EXPECT_EQ(std::string(sizes, 4), std::string("16\0\0", 4));

  EXPECT_EQ(Query(nullptr, dir.Path().c_str(), 16).result, 0);
  // No directory: the name alone, relative to the current directory, where
  // no such file lies; the table still answers for a row's code.
  int row = FindRow([](const DriverTableRow&, int) { return true; });
  ASSERT_GE(row, 0);
  a = Query(DriverTable()[row].pattern, nullptr, 16);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.moduleType, DriverTable()[row].info.AllowedType(0));
  EXPECT_EQ(Query(unknown.c_str(), nullptr, 16).result, 0);
}

TEST_F(DriverQueryTest, OverlongPathCountsAsNoFile) {
  const std::string unknown = UnknownName();
  std::string longDir = dir.Path() + std::string(260, 'd') + "/";
  EXPECT_EQ(Query(unknown.c_str(), longDir.c_str(), 16).result, 0);
  int row = FindRow([](const DriverTableRow&, int) { return true; });
  Answer a = Query(DriverTable()[row].pattern, longDir.c_str(), 64);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.moduleType, DriverTable()[row].info.AllowedType(0));
  EXPECT_EQ(a.versions, Field(Joined(DriverTable()[row].execVersions),
                              Joined(DriverTable()[row].execVersions).size(), 72));
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

class DriverQueryBetweenRuns : public testing::PlanFixture {};

// The query shares the packed-file reader with stage 1; a planner run before
// and after it gives the same results.
TEST_F(DriverQueryBetweenRuns, LeavesPlannerRunsUnchanged) {
  PackSpec spec;
  spec.version = 32;
  spec.kind = 5;
  spec.info = MakeDriverInfo("Packed Exec 4 driver", 3, {255});
  testing::PackMember object;
  object.number = 2;
  object.data = {'S', '9', '0', '3', '0', '0', '0', '0', 'F', 'C', '\n'};
  spec.members = {object};
  const std::string name = UnknownName();
  WritePackFile(lib + name + ".FB", spec);
  Lib("FBA.OBJ");
  Lib("EEP400.OBJ");
  Lib("LIB400.OBJ");
  Arg({{15, name}, {1, "FBA"}}, "40C000000000");

  ASSERT_EQ(Run(2), 0) << log.text;
  const std::string firstLog = log.text;
  const std::string firstSubmit = Submit();
  const DriverInfo firstInfo = params.driverInfo;

  Answer a = Query(name.c_str(), lib.c_str(), 16);
  EXPECT_EQ(a.result, 1);
  EXPECT_EQ(a.moduleType, 255);
  EXPECT_EQ(a.versions, Field(std::string("4.0\0", 5), 5, 24));

  params = PlanParams{};
  ASSERT_EQ(Run(2), 0) << log.text;
  EXPECT_EQ(log.text, firstLog);
  EXPECT_EQ(Submit(), firstSubmit);
  EXPECT_EQ(std::memcmp(&params.driverInfo, &firstInfo, sizeof firstInfo), 0);
  EXPECT_EQ(std::memcmp(&params.driverInfo, &*spec.info, sizeof firstInfo), 0);
}

#if !defined(_WIN32)
// The shared object answers through its exported name.
TEST(DriverQueryExport, AnswersThroughTheSharedObject) {
  void* library = dlopen(VARNEL_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using Query = int (*)(const char*, const char*, char*, char*, uint16_t*, char*, uint32_t);
  auto query = reinterpret_cast<Query>(dlsym(library, "VarnelGetDriverData"));
  ASSERT_NE(query, nullptr);
  const DriverTableRow& row = DriverTable()[0];
  char versions[32], sizes[32], typeName[32];
  uint16_t type = 0;
  EXPECT_EQ(query(row.pattern, "", versions, sizes, &type, typeName, 32), 1);
  EXPECT_STREQ(versions, row.execVersions[0]);
  EXPECT_EQ(type, row.info.AllowedType(0));
  EXPECT_STREQ(typeName, GetModuleTypeName(type));
  EXPECT_EQ(query("ABCD", "", versions, sizes, &type, typeName, 32), 0);
  dlclose(library);
}
#endif

}  // namespace
}  // namespace varnel
