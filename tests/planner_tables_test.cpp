// The planner's built-in tables: the rules every row must keep.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "format.h"
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

// Every name and value in table order: a wrong figure here would be linked
// into the download without any error.
TEST(PlannerTablesTest, Exec3ConstantsNamesAndValues) {
  const char* const expected[kExec3ConstantTexts] = {
      "RPEPROM A000 STACK2 4541 OAHUM 41A6 XWRHEXL 3F2A",
      "RP4321 A000 STACK3 45A1 HALTTIME 41AC XWRMESEN 3F2B",
      "RPLOAD A004 STACK0 45E1 DC_ERR 41B3 XRDCHR 3F2C",
      "RPNAME A006 STACK1 4621 DC_CP1 41B4 XWRHEXBL 3F2D",
      "CHARACTE 7B00 STACK7 4661 DC_CH1 41B5 XWRREPEN 3F2E",
      "INBUF 4000 STACK4 4661 DC_CP2 41B6 XASCBINA 3F2F",
      "OUTBUF 4080 CLREND 4799 DC_CH2 41B7 XASCBIN1 3F30",
      "R0 4140 NONCLR 4799 LEGAL 41B8 XASCBIN2 3F31",
      "R0H 4140 HALTED 4799 MESBUF 41FC XASCBIN4 3F32",
      "R0L 4141 HALT_C 479A NETTIMER 428E XWRACK 3F33",
      "R1 4142 HALT_D 479B GRABLINE 4290 XWRSTR 3F34",
      "R1H 4142 HALT_X 479D GOTTOKEN 4291 XWRSTR2 3F35",
      "R1L 4143 HALT_S 479F ONLINE 4292 XWRSTXAL 3F36",
      "R2 4144 HALT_STK 47A1 READBACK 4295 XCALLREZ 3F37",
      "R2H 4144 HALT_TIM 47C1 DESTCM 4299 XJMPLIST 3F3A",
      "R2L 4145 HALT_DAT 47C3 RTC_Y1 42A1 XVTSCHED 3F3B",
      "R3 4146 INITACT 47C5 RTC_MO1 42A3 XCLOCKWR 3F3C",
      "R3H 4146 MYADDR 47C6 STROFF 42B6 XWRSTRO 3F3D",
      "R3L 4147 MYTYPE 47C7 NORP 42BC XWRSTRO2 3F3E",
      "R4 4148 INITCNT 47C8 NORPCP 42BD XGETOUTS 3F3F",
      "R4H 4148 INIT_TIM 47C9 PERMIT 42BE XGETINST 3F40",
      "R4L 4149 INIT_DAT 47CB STOP 42BF XGETAIST 3F41",
      "R5 414A IBZ 47CD HOLD 42C0 XSCHED 3F42",
      "R5H 414A BADEE 47CE SUSPEND 42C1 XFINDMOD 3F43",
      "R5L 414B L5INIT 47CF STOP_TIM 42C2 XRDACK 3F44",
      "R6 414C WDT_STK 47D0 STOP_DAT 42C4 XRDACKAL 3F45",
      "R6H 414C XRAMOK 47F0 ALA0 42CD XWRSTREP 3F46",
      "R6L 414D LASTEEWR 47F1 NEWALA0 42D0 XWRNAK 3F47",
      "R7 414E NONCLREN 47F3 L5_CP 42D2 XWREOT 3F48",
      "R7H 414E BITS C236 L5_HEADE 42D3 XWRLAST 3F49",
      "R7L 414F DOWNBUF 7C00 L5_RAM 42D5 XWRBIGBL 3F4B",
      "R00 4150 UPBUF 7B80 L5_PAR 42D7 XWRHEX1 3F4C",
      "R11 4152 LEFTBUF 7B00 OATIMER 42E1 XCP0MES 3F4D",
      "R22 4154 RIGHTBUF 7A80 WSBRKEN 42F7 XUNPACKD 3F4E",
      "R33 4156 XBRKPNT 3F00 STACK5 4376 XUNPACKT 3F4F",
      "RS0 4158 XDELAY 3F01 DOUTS 4377 XCP0TOK 3F50",
      "RS1 415C XWAKEUP 3F02 DINS 4378 XTR_CONF 3F53",
      "RS2 4160 XSLEEP 3F03 AINS 4379 XTR_SAMP 3F54",
      "RS3 4164 XRESTART 3F04 AOUTS 4389 XTR_DUMP 3F55",
      "STACKS 4168 XACIAIN 3F05 RTDOMINS 4399 XL6INIT 3F56",
      "XEQ 417A XRESET 3F07 RTDIMINS 43A1 XL6START 3F57",
      "HIPRI 417C XHALT 3F08 PULSES 43AD XINPULSE 3F58",
      "WDT 4186 XMOVEB 3F09 DVASIGN 43B2 XCKSUMEE 3F59",
      "MINWDT 4188 XMOVEW 3F0A DOFIG 43BA XDOREQ 3F5A",
      "MINXEQ 4189 XSETHI 3F0B DIFIG 43FA XWRSTRO1 3F5B",
      "MIN_DAY 418A XRESTORE 3F0C AIFIG 440A XWRSTR1 3F5C",
      "MIN_WEK 418C XREADTIM 3F18 AOFIG 442A XTR_NORM 3F5D",
      "DATE 418E XTIMER 3F19 OUTSENSE 444A XRUNTIME 3F5E",
      "MINUTES 4190 XRDBUF 3F1A INSENSE 444B XSETSUME 3F5F",
      "HR 4191 XWRBUF 3F1B DOUTREQ 4451 XGETPULS 3F60",
      "DOW 4192 XDEVCON 3F1C DIGOUT 4452 XDOUTPUT 3F61",
      "DAY 4193 XSCI.PUT 3F1D MUXPOINT 4465 XDINPUT 3F62",
      "MONTH 4194 XDIVIDE 3F1E HOASTAT 446A XAOUTPUT 3F63",
      "YEAR 4195 XACIA_RD 3F1F STACK6 44A6 XAINPUT 3F64",
      "SEC_REL 4196 XACIA_WR 3F20 SC_NEARE 44A7 XSMUL12. 3F65",
      "SEC_PUP 4198 XCLOCKRD 3F21 SC_NEXT 44A9 XBIVAR 3F66",
      "SECOND 4199 XWRCHR 3F22 SC_NEXD 44AB XHOLD2 3F73",
      "MS16.67 419A XWRCHR1 3F23 SC_ONOFF 44AD XRELEASE 3F74",
      "MS16_67 419A XWRCHR2 3F24 SC_TIME 44AE XGETAOST 3F75",
      "BADEP1 419F XWRSTX 3F25 SC_DATE 44B0 XMULTIPL 3F76",
      "BADRP 41A0 XWRSTXGC 3F26 L2_CP 44C9 XSMULTIP 3F77",
      "BADCLK 41A1 XWRHEXW 3F27 L2_HEADE 44CA XSDIVIDE 3F78",
      "OATEMP 41A2 XWRHEX2 3F28 L2_RAM 44CC XSDIV321 3F79",
      "OANLP 41A4 XWRHEXB 3F29 L2_PAR 44CE XDIV3216 3F7A",
      "XNEG32AT 3F7C XSETAOUT 3F7D L2_SCH 44D0 XSADD321 3F7B",
  };
  const char* const* texts = Exec3Constants();
  for (int i = 0; i < kExec3ConstantTexts; ++i) {
    SCOPED_TRACE(i + 1);
    std::istringstream cells(expected[i]);
    std::string lines, name, value;
    while (cells >> name >> value) lines += "DEFINE " + (name + "        ").substr(0, 8) + " " + value + "\n";
    EXPECT_EQ(std::string(texts[i]), lines);
  }
}

// Each row's pattern and blocks in slot order (P program, D data); the slots
// behind them are empty.
TEST(PlannerTablesTest, MemoryMapPatternsAndBlocks) {
  const struct {
    const char* pattern;
    const char* blocks;
  } expected[kMemoryMapRows] = {
      {"32C000??????", "P8000-BFFF D6729-7FFF"},
      {"??FFFF??????", "P8000-FFFF D1000-7FFF"},
      {"??????80????", "P8000-BFFF P4800-5FFF D6729-7B7F"},
      {"??????8?????", "P8000-9FFF D6729-7A7F"},
      {"??????1A????", "P8000-B5FF PB800-BFFF D5400-5FFF D6B00-7FFF"},
      {"??????1B????", "P8000-B5FF PB800-BFFF P4800-5FFF D6729-7FFF"},
      {"??????22????", "P8000-B5FF PB800-BFFF D5400-5FFF D6B00-7FFF"},
      {"??????18????", "P8000-BFFF D6B00-7FFF"},
      {"??D000??????", "P8000-BFFF P2000-3FFF P0400-1FFF D6729-7FFF"},
      {"33E000??????", "P8000-BFFF P2000-3FFF D6729-7FFF"},
      {"34E000??????", "P8000-BFFF P4800-5FFF D6729-7FFF"},
      {"3?C000??????", "P8000-BFFF D6729-7FFF"},
      {"40C000??8???", "P8000-BFFF D5400-5FFF D6B00-7FFF"},
      {"40C000??????", "P8000-BFFF D5400-5FFF D6B00-7FFF"},
      {"400040??????", "P8000-BFFF D5400-5FFF D6B00-7FFF"},
      {"404000??????", "P8000-BFFF D5400-5FFF D6B00-7FFF"},
      {"400000??????", "P8000-BFFF D5400-5FFF D6B00-7FFF"},
      {"50??????????", "P0100-FFFE D0000-00FF"},
      {"51??????????", "P0100-FFFE D0000-00FF"},
      {"60??????????", "P0100-FFFE D0000-00FF"},
  };
  const MemoryMapRow* rows = MemoryMapTable();
  for (int i = 0; i < kMemoryMapRows; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(rows[i].pattern, expected[i].pattern);
    std::string blocks;
    for (const MemoryBlock& b : rows[i].blocks) {
      if (b.kind == 0) continue;
      if (!blocks.empty()) blocks += ' ';
      blocks += Format("%c%04X-%04X", b.kind == 1 ? 'P' : b.kind == 2 ? 'D' : '?', b.first, b.last);
    }
    EXPECT_EQ(blocks, expected[i].blocks);
  }
  const struct {
    int row;
    const char* description;
  } fixed[] = {
      {0, "Assuming 16K Exec 3.2"},
      {1, "FB FIT"},
      {9, "24K Exec 3.x"},
      {11, "16K Exec 3.x"},
      {12, "16K Exec 4.x, Virtual"},
      {13, "16K Exec 4.x"},
      {14, "16K Exec 4.x"},
      {15, "16K Exec 4.x"},
      {16, "16K Exec 4.x"},
      {17, "Exec 5.0x"},
      {18, "Exec 5.1x"},
      {19, "Exec 6.0x"},
  };
  for (const auto& f : fixed) EXPECT_STREQ(rows[f.row].description, f.description) << f.row;
}

}  // namespace
}  // namespace varnel
