// The download planner, stage 1 of a link call, and the records and tables
// it shares with the later stages and the driver data query.
#pragma once

#include <cstdint>

#include "stage.h"

namespace varnel {

constexpr int kMaxFbs = 60;

// One row of the FB list.
struct FbEntry {
  char name[7];
  int32_t number;
  int32_t packed;
};

struct FbList {
  FbEntry rows[kMaxFbs];
  int32_t count;
};

// Runs stage 1; 0, or the planner error number n, whose result code is
// kPlannerErrorBase + n.
int RunPlanner(PlanParams* params);
constexpr int kPlannerErrorBase = 1000;

// The FB list of the last planner run (stage 3 reads it; tests fill it).
FbList& PlannerFbList();

// 0 when pattern and text match ('?' on either side matches any character).
int CompareWildcard(const char* pattern, const char* text);

// One row of the built-in driver table.
struct DriverTableRow {
  const char* pattern;  // 3 characters
  DriverInfo info;
  const char* execVersions[4];  // ended by nullptr
  const char* memorySizes[4];   // ended by nullptr
};
constexpr int kDriverTableRows = 80;
const DriverTableRow* DriverTable();

// Never nullptr.
const char* GetModuleTypeName(int type);

// The default driver information of an Exec 3.2 module linked without a
// module driver.
const DriverInfo& DefaultDriverInfo();

// The category text of an Exec type; "Unknown" outside 1 to 6.
const char* ExecTypeName(int execType);

// One block of a memory-map row: kind 0 empty, 1 program, 2 data; inclusive
// addresses.
struct MemoryBlock {
  int32_t kind;
  int32_t first;
  int32_t last;
};
struct MemoryMapRow {
  const char* pattern;  // 12 characters, '?' matches any
  const char* description;
  MemoryBlock blocks[6];
};
constexpr int kMemoryMapRows = 20;
const MemoryMapRow* MemoryMapTable();

// The 65 constant texts of Exec 3.x links, four DEFINE lines each.
constexpr int kExec3ConstantTexts = 65;
const char* const* Exec3Constants();

}  // namespace varnel
