// The planner's built-in tables: the rules every row must keep.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "planner.h"

namespace varnel {
namespace {

std::string Description(const DriverInfo& info) { return std::string(info.description, 31); }

TEST(PlannerTablesTest, DriverRowsKeepTheirShape) {
  const DriverTableRow* rows = DriverTable();
  std::set<int> execTypes;
  int rowsWithAny = 0;
  for (int i = 0; i < kDriverTableRows; ++i) {
    const DriverTableRow& row = rows[i];
    SCOPED_TRACE(row.pattern);
    ASSERT_EQ(std::strlen(row.pattern), 3u);
    // 31 characters, blank-padded, no NUL inside, two NULs behind.
    std::string d = Description(row.info);
    EXPECT_EQ(d.find('\0'), std::string::npos);
    EXPECT_NE(d[0], ' ');
    EXPECT_EQ(row.info.description[31], '\0');
    EXPECT_EQ(row.info.description[32], '\0');
    int exec = row.info.ExecType();
    ASSERT_GE(exec, 1);
    ASSERT_LE(exec, 6);
    execTypes.insert(exec);
    int used = 0;
    bool any = false;
    for (int t = 0; t < 8; ++t) {
      uint16_t type = row.info.AllowedType(t);
      if (type == 0) {
        for (int u = t; u < 8; ++u) EXPECT_EQ(row.info.AllowedType(u), 0);
        break;
      }
      ++used;
      if (type == 255) any = true;
    }
    EXPECT_GE(used, any ? 2 : 1);
    EXPECT_LE(used, 3);
    rowsWithAny += any ? 1 : 0;
    for (uint8_t b : row.info.further) EXPECT_EQ(b, 0);
    // One or two entries in each list, in the range the Exec type allows.
    int versions = 0, sizes = 0;
    while (versions < 4 && row.execVersions[versions] != nullptr) {
      std::string v = row.execVersions[versions++];
      if (exec == 1 || exec == 2 || exec == 6) {
        EXPECT_TRUE(v.size() == 3 && v >= "3.2" && v <= "3.9") << v;
      } else if (exec == 5) {
        EXPECT_EQ(v, "6.0");
      } else {
        EXPECT_EQ(v, "4.0");
      }
    }
    while (sizes < 4 && row.memorySizes[sizes] != nullptr) {
      int k = std::stoi(row.memorySizes[sizes++]);
      if (exec == 1 || exec == 2 || exec == 6) {
        EXPECT_TRUE(k >= 8 && k <= 31) << k;
      } else if (exec == 5) {
        EXPECT_TRUE(k >= 128 && k <= 1024) << k;
      } else {
        EXPECT_EQ(k, 16);
      }
    }
    EXPECT_GE(versions, 1);
    EXPECT_LE(versions, 2);
    EXPECT_GE(sizes, 1);
    EXPECT_LE(sizes, 2);
  }
  EXPECT_EQ(execTypes, (std::set<int>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(rowsWithAny, 2);
}

TEST(PlannerTablesTest, WildcardRowsStandBehindEveryCodeEndingInI) {
  const DriverTableRow* rows = DriverTable();
  std::vector<int> wild;
  std::set<std::string> codes;
  int lastFixedI = -1;
  for (int i = 0; i < kDriverTableRows; ++i) {
    std::string p = rows[i].pattern;
    if (p == "??I") {
      wild.push_back(i);
      continue;
    }
    EXPECT_EQ(p.find('?'), std::string::npos) << p;
    EXPECT_TRUE(codes.insert(p).second) << "code twice: " << p;
    if (p[2] == 'I') lastFixedI = i;
  }
  ASSERT_EQ(wild.size(), 2u);
  EXPECT_EQ(rows[wild[0]].info.ExecType(), 3);
  EXPECT_EQ(rows[wild[1]].info.ExecType(), 5);
  EXPECT_LT(lastFixedI, wild[0]);
  // Both kinds of fixed I codes exist, so the Exec 5 condition can be seen.
  bool fixedIExec5 = false, fixedIOther = false;
  for (int i = 0; i < wild[0]; ++i) {
    std::string p = rows[i].pattern;
    if (p[2] != 'I') continue;
    (rows[i].info.ExecType() == 5 ? fixedIExec5 : fixedIOther) = true;
  }
  EXPECT_TRUE(fixedIExec5);
  EXPECT_TRUE(fixedIOther);
}

TEST(PlannerTablesTest, DefaultDriverInfoBytes) {
  const DriverInfo& info = DefaultDriverInfo();
  EXPECT_EQ(std::string(info.description, 33),
            std::string("Exec 3.2 with no driver        ") + std::string(2, '\0'));
  EXPECT_EQ(info.execType[0], 1);
  EXPECT_EQ(info.execType[1], 0);
  EXPECT_EQ(info.AllowedType(0), 255);
  for (int t = 1; t < 8; ++t) EXPECT_EQ(info.AllowedType(t), 0);
  for (uint8_t b : info.further) EXPECT_EQ(b, 0);
}

TEST(PlannerTablesTest, ExecTypeNames) {
  const struct {
    int type;
    const char* name;
  } cases[] = {
      {0, "Unknown"},
      {1, "Exec 3.xx: EEPROM and LIB"},
      {2, "Exec 3.xx: EEPCOM and LIB"},
      {3, "Exec 4.0x: EEP400 and LIB400"},
      {4, "Exec 4.0x: EEPQX4 and LIB400"},
      {5, "Exec 5.x: EEP5xx and LIB5xx"},
      {6, "Exec 3.6: EEP360 and LIB"},
      {7, "Unknown"},
      {8, "Unknown"},
      {-1, "Unknown"},
      {32767, "Unknown"},
  };
  for (const auto& c : cases) EXPECT_STREQ(ExecTypeName(c.type), c.name) << c.type;
}

TEST(PlannerTablesTest, ModuleTypeNames) {
  const std::string unknownType = "Unknown module type";
  const std::string unrecognized = "Unrecognized (new) module type";
  for (int t : {4, 9, 10, 16, 18, 19, 20, 21, 35, 69, 70}) EXPECT_STREQ(GetModuleTypeName(t), "???") << t;
  for (int t : {78, 79, 87, 127, 143, 200, 255}) EXPECT_EQ(GetModuleTypeName(t), unrecognized) << t;
  EXPECT_EQ(GetModuleTypeName(0), unknownType);
  EXPECT_EQ(GetModuleTypeName(256), unknownType);  // the low 8 bits count
  EXPECT_EQ(GetModuleTypeName(256 + 78), unrecognized);
  // 129 to 142 share one name, 128 has another.
  std::string expansion = GetModuleTypeName(129);
  for (int t = 130; t <= 142; ++t) EXPECT_EQ(GetModuleTypeName(t), expansion);
  EXPECT_NE(std::string(GetModuleTypeName(128)), expansion);
  // The 73 model names are all different and none is a fixed entry.
  std::set<std::string> models;
  for (int t = 1; t <= 86; ++t) {
    std::string n = GetModuleTypeName(t);
    if (n == "???" || n == unrecognized) continue;
    EXPECT_NE(n, unknownType);
    models.insert(n);
  }
  EXPECT_EQ(models.size(), 73u);
  models.insert(GetModuleTypeName(128));
  models.insert(expansion);
  EXPECT_EQ(models.size(), 75u);
}

TEST(PlannerTablesTest, Exec3ConstantsLines) {
  const char* const* texts = Exec3Constants();
  std::set<std::string> names;
  for (int i = 0; i < kExec3ConstantTexts; ++i) {
    std::string text = texts[i];
    SCOPED_TRACE(i + 1);
    ASSERT_EQ(text.size(), 4u * 21u);
    for (int line = 0; line < 4; ++line) {
      std::string l = text.substr(line * 21, 21);
      EXPECT_EQ(l.substr(0, 7), "DEFINE ");
      EXPECT_EQ(l[15], ' ');
      EXPECT_EQ(l[20], '\n');
      for (int k = 16; k < 20; ++k) EXPECT_TRUE(std::isxdigit(l[k]) && !std::islower(l[k]));
      std::string name = l.substr(7, 8);
      name.erase(name.find_last_not_of(' ') + 1);
      EXPECT_TRUE(names.insert(name).second) << name;
    }
  }
  EXPECT_EQ(names.size(), 260u);
  EXPECT_EQ(std::string(texts[0]).substr(0, 21), "DEFINE RPEPROM  A000\n");
  EXPECT_EQ(std::string(texts[64]),
            "DEFINE XNEG32AT 3F7C\nDEFINE XSETAOUT 3F7D\nDEFINE L2_SCH   44D0\nDEFINE XSADD321 3F7B\n");
}

TEST(PlannerTablesTest, MemoryMapRows) {
  const MemoryMapRow* rows = MemoryMapTable();
  for (int i = 0; i < kMemoryMapRows; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::strlen(rows[i].pattern), 12u);
    EXPECT_GT(std::strlen(rows[i].description), 0u);
    bool empty = false;
    for (const MemoryBlock& b : rows[i].blocks) {
      if (b.kind == 0) {
        empty = true;
        EXPECT_EQ(b.first, 0);
        EXPECT_EQ(b.last, 0);
        continue;
      }
      EXPECT_FALSE(empty) << "used slot behind an empty one";
      EXPECT_LE(b.first, b.last);
    }
  }
  EXPECT_STREQ(rows[0].description, "Assuming 16K Exec 3.2");
  EXPECT_STREQ(rows[19].pattern, "60??????????");
}

}  // namespace
}  // namespace varnel
