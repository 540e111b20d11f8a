// The download planner (stage 1): reads the ARG file, finds and unpacks every
// FB, matches the module configuration against the memory map, reads the
// module driver's information and writes the linker submit file with the
// small objects it names.
#include "planner.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "ascii.h"
#include "files.h"
#include "format.h"
#include "packfile.h"
#include "platform/platform.h"

namespace varnel {
namespace {

constexpr size_t kMaxStatusToken = 1000;
constexpr size_t kMaxFbName = 6;

struct ModuleConfiguration {
  uint8_t exec;
  uint16_t memory;
  uint8_t type;
  uint16_t further;
  char text[13];
};

// The planner's errors: error n is reported with kPlanMessages[n] and the
// result code kPlannerErrorBase + n.
enum PlannerErrorNumber {
  kErrOpen = 1,  // a file of the working directory
  kErrTemporaryMissing = 2,
  kErrArgFormat = 3,
  kErrPackedFile = 4,
  kErrNoFbFile = 5,
  kErrConfiguration = 6,
  kErrNoDriverInfo = 7,
  kErrNoDriver = 8,
  kErrDriverNotPacked = 9,
  kErrUnpack = 10,
  kErrDriverForOtherType = 11,
  kErrRequiredFile = 12,
  kErrIncomplete = 13,
  kErrBlank = 14,  // raised nowhere; its text is empty
  kErrNotPacked = 15,
  kErrTooManyFbs = 16,
  kErrDriverNotForModule = 17,
  kErrConfigurationData = 18,  // raised nowhere
  kPlannerErrorCount
};

const char* const kPlanMessages[] = {
    /* 0 */ "No Error\n",
    /* 1 */
    "Cannot open file \"%s\" in directory \"%s\".\nWhat to check - Make sure the directory exists "
    "and the disk is not full.  Note that compressed drives often report false free space. ",
    /* 2 */
    "Cannot open unpacked temporary file \"%s\".\nWhat to check - Make sure the directory exists and "
    "the disk is not full.  Note that compressed drives often report false free space. ",
    /* 3 */
    "Bad *.ARG file format\nWhat to check - This error is not normal.  Contact Technical Support\n",
    /* 4 */ "Bad or corrupted packed FB file \"%s\"\nWhat to check - Verify the file using KORVAP.\n",
    /* 5 */
    "No file(s) for FB \"%s\" found in \"%s\"\nWhat to check - Is this FB supposed to be downloading "
    "into this module?   Does the directory \"%s\" exist?",
    /* 6 */ "Unrecognized module configuration \"%s\"\n",
    /* 7 */
    "No driver info available for \"%s\"\nWhat to check - This FB is not recognized as a module "
    "driver FB. (#15) ",
    /* 8 */
    "No driver FB specified for this module.\nWhat to check - The database must specify an FB #15 "
    "module driver for every module, including virtual modules, that matches the hardware module "
    "type.\n",
    /* 9 */
    "\"%s\" is not packed as a module driver.\nWhat to check - Is this the correct name for the "
    "module driver? If it is, you can use KORVAP to check the type and integrity of the file "
    "\"%s\".\n",
    /* 10 */
    "Can't unpack \"%s%s\" from the packed file \"%s\".\nWhat to check - Check the contents of the "
    "packed file using KORVAP. ",
    /* 11 */
    "This driver cannot be used to control this module.\nThe specified driver is \"%s\".\nThe "
    "hardware module is type %d, which is \"%s\".\nWhat to check - The database must specify an FB "
    "#15 module driver for every module, including virtual modules, that matches the hardware "
    "module type.\n",
    /* 12 */
    "Cannot open required file \"%s\"\nWhat to check - Is this file supposed to be downloading into "
    "this module?   Does the directory \"%s\" exist?",
    /* 13 */
    "Temporary file \"%s%s\" is incomplete.\nWhat to check - Is the disk full?.  Remember that "
    "compressed drives often report false free space.  The system error reported to me was "
    "\"%s\".\n",
    /* 14 */ "",
    /* 15 */
    "\"%s\" is not a packed FB.\nWhat to check - This module does not support unpacked FB's. You "
    "should use the 'Pack FB' option in TESSALY to remake this FB. ",
    /* 16 */
    "Too many Function Blocks.\nWhat to check - This module does not support more than %d FB's. ",
    /* 17 */
    "The specified driver \"%s\" is\nnot designed to be loaded into this module.\n",
    /* 18 */ "Module configuration data is missing or invalid.",
};
static_assert(std::size(kPlanMessages) == kPlannerErrorCount);

struct PlannerState : StageFrame<PlanParams> {
  PlannerState() : StageFrame(kPlannerErrorBase, kPlanMessages) {}

  platform::Stream* argFile = nullptr;
  char libraryDir[kMaxPath + 1] = {};
  FbList fbList = {};
  ModuleConfiguration config = {};
  MemoryMapRow memoryMap = {};
  char driverName[kMaxFbName + 1] = {};
  int driverPacked = 0;
  int standardObjects = 0;
  platform::Stream* submit = nullptr;
  // The paths of the temporary files this run wrote.  What the submit file
  // names of the working directory's own is this run's because it is on
  // this list, never because a file of that name is found there: an earlier
  // call's file, in whatever spelling, is never linked.
  std::vector<std::string> written;
  // The *.SUP entries, listed once per run and used by both passes.
  bool supplementsListed = false;
  std::vector<std::string> supplements;
};

PlannerState& State() {
  static PlannerState state;
  return state;
}

// ---------------------------------------------------------------------------
// Paths

const char* WorkDir() { return State().params->workDir; }
const char* LibDir() { return State().libraryDir; }

// ---------------------------------------------------------------------------
// ARG file

void OpenArgFile() {
  PlannerState& st = State();
  st.argFile = st.OpenWorkFile(st.params->argFileName, "r", 2, "Opening Arg File \"%s\"\n", kErrOpen);
}

void CloseArgFile() {
  PlannerState& st = State();
  if (st.argFile == nullptr) return;
  st.Print(2, "Closing Arg File\n");
  platform::Close(st.argFile);
  st.argFile = nullptr;
}

// A read error is no end of the ARG file: what was read so far would plan a
// download without the rest of the FB list, so the file counts as one that
// did not open.
void CheckArgRead() {
  PlannerState& st = State();
  if (platform::ReadFailed(st.argFile)) st.Fail(kErrOpen, st.params->argFileName, WorkDir());
}

int ArgGetc() {
  int c = platform::Getc(State().argFile);
  if (c == platform::kEndOfFile) CheckArgRead();
  return c;
}

// Skips white space; returns the first other byte (left unread) or kEndOfFile.
int SkipBlanks() {
  platform::Stream* f = State().argFile;
  int c;
  do c = ArgGetc();
  while (c != platform::kEndOfFile && IsAsciiSpace(c));
  if (c != platform::kEndOfFile) platform::Ungetc(f, c);
  return c;
}

// Reads the next whitespace-delimited token.  The whole token is returned;
// callers decide what a token beyond their limit means.  false at the end of
// the file.
bool ReadToken(std::string& token) {
  token.clear();
  if (SkipBlanks() == platform::kEndOfFile) return false;
  platform::Stream* f = State().argFile;
  for (int c = ArgGetc(); c != platform::kEndOfFile; c = ArgGetc()) {
    if (IsAsciiSpace(c)) {
      platform::Ungetc(f, c);
      break;
    }
    token += static_cast<char>(c);
  }
  return true;
}

// A decimal number with optional sign, as "%d" reads it.
bool ReadNumber(int32_t& value) {
  if (SkipBlanks() == platform::kEndOfFile) return false;
  platform::Stream* f = State().argFile;
  int c = ArgGetc();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = ArgGetc();
  }
  if (c == platform::kEndOfFile || c < '0' || c > '9') {
    if (c != platform::kEndOfFile) platform::Ungetc(f, c);
    return false;
  }
  int64_t v = 0;
  while (c != platform::kEndOfFile && c >= '0' && c <= '9') {
    if (v < INT64_C(1) << 40) v = v * 10 + (c - '0');
    c = ArgGetc();
  }
  if (c != platform::kEndOfFile) platform::Ungetc(f, c);
  if (negative) v = -v;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  value = static_cast<int32_t>(v);
  return true;
}

void ReadLibraryDirectory() {
  PlannerState& st = State();
  std::string token;
  if (!ReadToken(token)) st.Fail(kErrArgFormat);
  if (st.params->libraryDir != nullptr) {
    if (std::strlen(st.params->libraryDir) > kMaxPath) st.Fail(kErrArgFormat);
    CopyBounded(st.libraryDir, st.params->libraryDir, kMaxPath);
    st.Progress("Looking for files in \"%s\",", st.libraryDir);
  } else {
    if (token.size() > kMaxPath) st.Fail(kErrArgFormat);
    CopyBounded(st.libraryDir, token.c_str(), kMaxPath);
    st.Progress("Looking for files in \"%s\",", st.libraryDir);
    MapPathAlias(st.libraryDir);
    st.Progress(" which is \"%s\".\n", st.libraryDir);
  }
  CopyBounded(st.params->libraryDirUsed, st.libraryDir, kMaxPath);
  st.Progress("Results will be in \"%s\"\n", WorkDir());
}

// The planner's own temporary files in the working directory, by the FB
// name that would unpack over them.
const char* const kTemporaryFbNames[] = {"MXRAM",  "CPNUM0", "CPNUM1", "CPNUM2", "CPNUM3",
                                         "CPNUM4", "CPNUM5", "CPNUM6", "CPNUM7", "CPNUM8",
                                         "CPNUM9", "RPTERM", "EEPxxx", "LIBxxx"};

// The name of the RP an FB's name leads to: the -8 and -32 variants share
// their three-character base name's RP.
std::string RpFbName(const char* name) {
  std::string n = name;
  if ((n.size() >= 5 && n.compare(3, 2, "-8") == 0) || (n.size() >= 6 && n.compare(3, 3, "-32") == 0))
    n.resize(3);
  return n + "RP";
}

// Every FB's files must be its own.  The names compare as the file system
// compares them, so rows that differ only in case are one FB.
void CheckFbNames() {
  const FbList& list = State().fbList;
  for (int i = 0; i < list.count; ++i) {
    const FbEntry& row = list.rows[i];
    for (int j = 0; j < list.count; ++j) {
      const FbEntry& other = list.rows[j];
      if (!EqualIgnoringCase(row.name, other.name)) continue;
      // A driver listed under another number as well would be unpacked as
      // an FB, and an earlier run's driver files linked in its place.
      if (row.number == 15 && other.number != 15) State().Fail(kErrArgFormat);
    }
  }
  // One module driver per module: a second, different FB 15 would unpack
  // over the first one's files.
  const FbEntry* driver = nullptr;
  for (int i = 0; i < list.count; ++i) {
    const FbEntry& row = list.rows[i];
    if (row.number != 15) continue;
    if (driver == nullptr) {
      driver = &row;
    } else if (!EqualIgnoringCase(driver->name, row.name)) {
      State().Fail(kErrArgFormat);
    }
  }
  // An FB of a temporary file's name would have its object replaced by the
  // generated one; an FB of another FB's RP name would be linked twice.
  for (int i = 0; i < list.count; ++i) {
    const FbEntry& row = list.rows[i];
    for (const char* temporary : kTemporaryFbNames) {
      if (!EqualIgnoringCase(row.name, temporary)) continue;
      State().Print(0, "FB \"%s\" collides with the temporary file \"%s.$$$\".\n", row.name, temporary);
      State().Fail(kErrArgFormat);
    }
    for (int j = 0; j < list.count; ++j) {
      const FbEntry& other = list.rows[j];
      if (!EqualIgnoringCase(row.name, RpFbName(other.name).c_str())) continue;
      State().Print(0, "FB \"%s\" collides with the RP of FB \"%s\".\n", row.name, other.name);
      State().Fail(kErrArgFormat);
    }
  }
}

void ReadFbList() {
  PlannerState& st = State();
  st.Print(1, "Reading FB List.\n");
  st.fbList.count = 0;
  for (;;) {
    int32_t number = 0;
    std::string name;
    if (!ReadNumber(number) || !ReadToken(name)) break;
    if (st.fbList.count == kMaxFbs) st.Fail(kErrTooManyFbs, kMaxFbs);
    if (name.size() > kMaxFbName) st.Fail(kErrArgFormat);
    FbEntry& row = st.fbList.rows[st.fbList.count];
    CopyBounded(row.name, name.c_str(), kMaxFbName);
    row.number = number;
    row.packed = 0;
    st.Print(0, "FB #%d is \"%s\"\n", number, row.name);
    ++st.fbList.count;
  }
  CheckFbNames();
}

void ReadModuleConfiguration() {
  PlannerState& st = State();
  PlanParams* p = st.params;
  char line[256];
  bool found = false;
  while (platform::ReadLine(st.argFile, line, 255)) {
    if (std::strncmp(line, "XXX", 3) == 0) {
      found = true;
      break;
    }
  }
  CheckArgRead();
  if (!found && p->callerExec == 0) st.Fail(kErrArgFormat);

  ModuleConfiguration& c = st.config;
  std::memset(p->statusToken, 0, sizeof p->statusToken);
  bool fromToken = false;
  std::string token;
  if (found && ReadToken(token)) {
    // Nothing reads beyond the first 1000 characters of the token.
    CopyBounded(p->statusToken, token.c_str(), kMaxStatusToken);
    st.Print(0, "Parsed args = %s\n", p->statusToken);
    uint32_t exec = 0, memory = 0, type = 0, further = 0;
    if (ScanText(p->statusToken, "%2lX%4lX%2lX%4lX", &exec, &memory, &type, &further) == 4) {
      c.exec = static_cast<uint8_t>(exec);
      c.memory = static_cast<uint16_t>(memory);
      c.type = static_cast<uint8_t>(type);
      c.further = static_cast<uint16_t>(further);
      st.Print(0, "Using module configuration provided in ARG file.\n");
      fromToken = true;
    }
  }
  if (!fromToken) {
    uint16_t memory = 0xC000;
    switch (p->callerMemoryK) {
      case 8: memory = 0x0000; break;
      case 22:
      case 24: memory = 0xE000; break;
      case 31: memory = 0xD000; break;
      default: break;
    }
    c.further = 0;
    if (p->callerExec == 3 || p->callerExec == 4) {
      st.Print(0, p->callerExec == 3 ? "Exec 3.x module configuration provided by caller.\n"
                                     : "Exec 4.x module configuration provided by caller.\n");
      c.exec = p->callerExec == 3 ? 0x32 : 0x40;
      c.memory = memory;
      c.type = static_cast<uint8_t>(p->callerModuleType);
    } else if (p->callerExec <= 2) {
      st.Print(0, "Module configuration not specified, assuming Exec 3.2\n");
      c.exec = 0x32;
      c.memory = 0xC000;
      c.type = 0;
    } else {
      st.Print(0, "Exec 5.x or greater module configuration provided by caller.\n");
      c.exec = static_cast<uint8_t>(p->callerExec * 16);
      c.memory = 0x0000;
      c.type = static_cast<uint8_t>(p->callerModuleType);
    }
  }
  FormatTo(c.text, sizeof c.text, "%02X%04X%02X%04X", static_cast<unsigned>(c.exec),
           static_cast<unsigned>(c.memory), static_cast<unsigned>(c.type),
           static_cast<unsigned>(c.further));
  st.Print(0, "Module configuration is \"%s\"\n", c.text);
}

// ---------------------------------------------------------------------------
// Memory map

void MatchMemoryMap() {
  PlannerState& st = State();
  st.Print(1, "Determining memory configuration\n");
  const MemoryMapRow* rows = MemoryMapTable();
  for (int i = 0; i < kMemoryMapRows; ++i) {
    if (CompareWildcard(rows[i].pattern, st.config.text) == 0) {
      st.memoryMap = rows[i];
      st.Print(0, "Memory is \"%s\"\n", rows[i].description);
      return;
    }
  }
  st.Fail(kErrConfiguration, st.config.text);
}

void PrintModuleType() {
  int type = State().config.type;
  State().Print(0, "Module is type %d = \"%s\"\n", type, GetModuleTypeName(type));
}

// ---------------------------------------------------------------------------
// FB files

int CheckDuplicateFb(int index) {
  FbList& list = State().fbList;
  for (int i = 0; i < index; ++i) {
    if (EqualIgnoringCase(list.rows[i].name, list.rows[index].name)) {
      list.rows[index].packed = list.rows[i].packed;
      return 1;
    }
  }
  return 0;
}

// The rest of a "USING THIS FILE -> " line: the path and its date.
void PrintFileDate(const char* path, uint16_t date, uint16_t time) {
  int hour = (time >> 11) & 0x1F;
  char letter = hour < 12 ? 'a' : 'p';
  int shown = hour == 12 ? 12 : hour % 12;
  State().Print(0, "%s  %02d-%02d-%d %02d:%02d%c\n", path, (date >> 5) & 0x0F, date & 0x1F,
                ((date >> 9) & 0x7F) + 1980, shown, (time >> 5) & 0x3F, letter);
}

void LogFileDate(const char* path) {
  State().Print(0, "USING THIS FILE -> ");
  uint16_t date = 0, time = 0;
  if (!platform::GetFileDosTime(path, &date, &time)) State().Fail(kErrRequiredFile, path, LibDir());
  PrintFileDate(path, date, time);
}

// FileExists and LogFileDate with one open of the file: false, and nothing
// logged, when it cannot be opened for reading.
bool LogDateIfReadable(const char* path) {
  platform::Stream* s = OpenShared(path, "r");
  if (s == nullptr) return false;
  uint16_t date = 0, time = 0;
  platform::GetStreamDosTime(s, &date, &time);
  platform::Close(s);
  State().Print(0, "USING THIS FILE -> ");
  PrintFileDate(path, date, time);
  return true;
}

// LogFileDate for the packed file FindPackFile left open.
void LogPackFileDate(const char* path) {
  State().Print(0, "USING THIS FILE -> ");
  uint16_t date = 0, time = 0;
  if (!GetPackFileDosTime(&date, &time)) State().Fail(kErrRequiredFile, path, LibDir());
  PrintFileDate(path, date, time);
}

void NoteWritten(const std::string& path) { State().written.push_back(path); }

bool Written(const std::string& path) {
  const std::vector<std::string>& written = State().written;
  return std::any_of(written.begin(), written.end(),
                     [&](const std::string& w) { return EqualIgnoringCase(w, path); });
}

// An entry in the way of a temporary file that cannot be moved or removed
// would be found in place of this run's file: the run stops before it
// writes.
[[noreturn]] void FailOnEntry(const EntryFailure& failure) {
  std::string reason = platform::SystemErrorText(failure.error);
  State().Fail(kErrIncomplete, WorkDir(), failure.name.c_str(), reason.c_str());
}

// A stale temporary file of an earlier run must not pass for this run's:
// it goes aside under every spelling of its name.
void PutAside(const char* fileName) {
  std::string path = std::string(WorkDir()) + fileName;
  // Too long a path names no file this run writes.
  if (path.size() > kMaxPath) return;
  EntryFailure failure;
  if (!BackupEverySpelling(WorkDir(), fileName, &failure)) FailOnEntry(failure);
  std::erase_if(State().written, [&](const std::string& w) { return EqualIgnoringCase(w, path); });
}

// Unpacks one required member; a member that is absent or cannot be written
// is error 10.
void UnpackRequired(int member, int unscramble, const char* errorName, const char* packPath,
                    const char* fileName) {
  if (PackMemberSize(member) == 0) State().Fail(kErrUnpack, errorName, ".OBJ", packPath);
  PutAside(fileName);
  if (!ExtractPackMember(member, unscramble, "%s%s", WorkDir(), fileName))
    State().Fail(kErrUnpack, errorName, ".OBJ", packPath);
  NoteWritten(std::string(WorkDir()) + fileName);
}

void UnpackDriver(const FbEntry& row, const char* packPath) {
  PlannerState& st = State();
  st.Progress("Unpacking Module Driver files from \"%s\"\n", packPath);
  FormatTo(st.params->firmwareFileName, sizeof st.params->firmwareFileName, "%s.$$$", row.name);
  UnpackRequired(kPackObjectMember, 1, row.name, packPath, st.params->firmwareFileName);
  // A driver has no RP; the submit writer would still take the one an
  // earlier run left under this name.
  PutAside((std::string(row.name) + "RP.$$$").c_str());
  switch (PackKind()) {
    case 4:
    case 2: {
      int unscramble = PackKind() == 2 ? 1 : 0;
      UnpackRequired(kPackDriverLibraryMember, unscramble, "LIBxxx", packPath, "LIBxxx.$$$");
      UnpackRequired(kPackDriverHeaderMember, unscramble, "EEPxxx", packPath, "EEPxxx.$$$");
      break;
    }
    case 5:
      st.standardObjects = 1;
      PutAside("EEPxxx.$$$");
      PutAside("LIBxxx.$$$");
      break;
    default:
      st.Fail(kErrDriverNotPacked, packPath, packPath);
  }
  ClosePackFile();
}

void UnpackFb(const FbEntry& row, const char* packPath) {
  State().Progress("Unpacking FB files from \"%s\"\n", packPath);
  std::string objName = std::string(row.name) + ".$$$";
  std::string rpName = std::string(row.name) + "RP.$$$";
  UnpackRequired(kPackObjectMember, 1, row.name, packPath, objName.c_str());
  if (PackMemberSize(kPackRpMember) != 0) {
    std::string rp = std::string(row.name) + "RP";
    UnpackRequired(kPackRpMember, 1, rp.c_str(), packPath, rpName.c_str());
  } else {
    PutAside(rpName.c_str());
  }
  ClosePackFile();
}

void CheckFbFiles() {
  PlannerState& st = State();
  for (int i = 0; i < st.fbList.count; ++i) {
    if (CheckDuplicateFb(i)) continue;
    FbEntry& row = st.fbList.rows[i];
    st.Print(1, "Checking for packed FB file for \"%s\"\n", row.name);
    // The name is a file name inside the library directory, never a path.
    if (std::strpbrk(row.name, "/\\:") != nullptr) st.Fail(kErrNoFbFile, row.name, LibDir(), LibDir());
    const char* found = FindPackFile(row.name, LibDir());
    if (found != nullptr) {
      std::string packPath = found;
      LogPackFileDate(packPath.c_str());
      row.packed = 1;
      if (row.number == 15) {
        UnpackDriver(row, packPath.c_str());
      } else {
        UnpackFb(row, packPath.c_str());
      }
      continue;
    }
    std::string path = std::string(LibDir()) + row.name + ".OBJ";
    st.Print(1, "Checking for unpacked FB file \"%s\"\n", path.c_str());
    if (!LogDateIfReadable(path.c_str())) st.Fail(kErrNoFbFile, row.name, LibDir(), LibDir());
    row.packed = 0;
    st.Print(1, "Unpacked files found\n");
  }
}

// ---------------------------------------------------------------------------
// Driver information

// Printed whatever the log level.
void PrintDriverInfo(const DriverInfo& info) {
  PlannerState& st = State();
  if (info.description[0] == '\0') {
    st.PrintAlways("No driver info available\n");
    return;
  }
  // A description from a packed file need not hold a NUL: 33 bytes at most.
  st.PrintAlways("Driver description: \"%.33s\"\n", info.description);
  st.PrintAlways("Driver category: \"%s\"\n", ExecTypeName(info.ExecType()));
  for (int i = 0; i < 8; ++i) {
    int low = info.AllowedType(i) & 0xFF;
    if (low == 0) break;
    st.PrintAlways("Allowed module type: %d ", low);
    st.PrintAlways("= \"%s\"", GetModuleTypeName(low));
    st.PrintAlways("\n");
  }
}

int LookupDriverInfo(const char* name) {
  PlannerState& st = State();
  bool exec5 = st.config.exec >= 0x50 && st.config.exec <= 0x5F;
  const DriverTableRow* rows = DriverTable();
  for (int i = 0; i < kDriverTableRows; ++i) {
    if (CompareWildcard(rows[i].pattern, name) != 0) continue;
    if (exec5 && rows[i].info.ExecType() != 5) continue;
    st.params->driverInfo = rows[i].info;
    return 1;
  }
  return 0;
}

void ReadDriverInfo() {
  PlannerState& st = State();
  PlanParams* p = st.params;
  st.Print(1, "Reading driver info\n");
  const FbEntry* driver = nullptr;
  for (int i = 0; i < st.fbList.count && driver == nullptr; ++i)
    if (st.fbList.rows[i].number == 15) driver = &st.fbList.rows[i];
  if (driver == nullptr) {
    if (std::strncmp(st.config.text, "32", 2) != 0) st.Fail(kErrNoDriver);
    st.Print(0, "Linking for Exec 3.2 module with no driver.\n");
    p->driverInfo = DefaultDriverInfo();
    return;
  }
  CopyBounded(st.driverName, driver->name, kMaxFbName);
  st.driverPacked = driver->packed;
  st.Print(0, "Driver name is \"%s\"\n", driver->name);
  if (st.driverPacked) {
    if (FindPackFile(driver->name, LibDir()) == nullptr) st.Fail(kErrPackedFile, driver->name);
    if (!GetPackDriverInfo(&p->driverInfo)) {
      st.Print(1, "Packed driver does not contain \"driver info\"\n");
      if (!LookupDriverInfo(driver->name)) st.Fail(kErrNoDriverInfo, driver->name);
    }
    ClosePackFile();
  } else if (!LookupDriverInfo(driver->name)) {
    st.Fail(kErrNoDriverInfo, driver->name);
  }
  PrintDriverInfo(p->driverInfo);
}

void ValidateDriverType() {
  PlannerState& st = State();
  const DriverInfo& info = st.params->driverInfo;
  st.Print(1, "Validating driver type\n");
  // A driver of no known Exec type would link a download without any FB.
  int execType = info.ExecType();
  if (execType < 1 || execType > 6) st.Fail(kErrNoDriverInfo, st.driverName);
  int type = st.config.type;
  if (type != 0) {
    bool allowed = false;
    for (int i = 0; i < 8; ++i) {
      uint16_t entry = info.AllowedType(i);
      if (entry == type || entry == 255) allowed = true;
    }
    std::string description(info.description, strnlen(info.description, sizeof info.description));
    if (!allowed) st.Fail(kErrDriverForOtherType, description.c_str(), type, GetModuleTypeName(type));
  }
  if (execType == 5 && (st.config.exec & 0xF0) < 0x50) {
    std::string description(info.description, strnlen(info.description, sizeof info.description));
    st.Fail(kErrDriverNotForModule, description.c_str());
  }
}

// ---------------------------------------------------------------------------
// Submit file and generated objects

const char kMxramObject[] =
    "S00800004D5852414D72\n"
    "S3080000455852414D7A\n"
    "S80D00000500004156415349474EE4\n"
    "S80C000A05000050414946494734\n"
    "S80B001E0500005041494E5356\n"
    "S4060000050031C3\n"
    "S9030000FC\n";

const char kCpnum0Object[] =
    "S00C00004350302A434B53554D83\n"
    "S30800008541524F4D43\n"
    "S4060000050000F4\n"
    "S2060000050000F4\n"
    "S9030000FC\n";

const char kCpnum0CsObject[] =
    "S00C00004350302A434B53554D83\n"
    "S30800008541524F4D43\n"
    "S4060000050028CC\n"
    "S2060000050010E4\n"
    "S70A0001054D4F44454E4438\n"
    "S225000105C00000C5001CC5001CC5001CC5001CC5001DC50025C5001107464231352020203168\n"
    "S2150019050F2E3000396D6F64756C652020FFFFFFFF64\n"
    "S9030000FC\n";

const char kRptermObject[] =
    "S009000052505445524D1C\n"
    "S30800008541524F4D43\n"
    "S4060000050003F1\n"
    "S20900000503FFFFFFFFF2\n"
    "S9030000FC\n";

const char* const kCpnumS0[16] = {
    nullptr,
    "S009000043504E554D3142",
    "S009000043504E554D3241",
    "S009000043504E554D3340",
    "S009000043504E554D343F",
    "S009000043504E554D353E",
    "S009000043504E554D363D",
    "S009000043504E554D373C",
    "S009000043504E554D383B",
    "S009000043504E554D393A",
    "S00A000043504E554D313011",
    "S00A000043504E554D313110",
    "S00A000043504E554D31320F",
    "S00A000043504E554D31330E",
    "S00A000043504E554D31340D",
    "S00A000043504E554D31350C",
};

const char* const kCpnumS2[16] = {
    nullptr,
    "S2060000050001F3",
    "S2060000050002F2",
    "S2060000050003F1",
    "S2060000050004F0",
    "S2060000050005EF",
    "S2060000050006EE",
    "S2060000050007ED",
    "S2060000050008EC",
    "S2060000050009EB",
    "S206000005000AEA",
    "S206000005000BE9",
    "S206000005000CE8",
    "S206000005000DE7",
    "S206000005000EE6",
    "S206000005000FE5",
};

// Writes a generated object byte for byte and enters it on the run's list.
// One that cannot be created is left to the step that names it; one that is
// created but not written completely would pass for a valid object, so it
// ends the stage.
void WriteTemplateFile(const char* fileName, const std::string& text) {
  std::string path = std::string(WorkDir()) + fileName;
  // Written in the working directory itself, never where a link points,
  // and under no other spelling than this one.
  EntryFailure failure;
  if (path.size() <= kMaxPath && !RemoveOtherSpellings(WorkDir(), fileName, &failure)) FailOnEntry(failure);
  platform::Stream* f = OpenTemporary(path.c_str());
  if (f == nullptr) {
    // An earlier object of that name that cannot be replaced would be
    // linked in place of this one.
    std::string reason = platform::SystemErrorText(platform::LastError());
    if (path.size() <= kMaxPath && platform::EntryExists(path.c_str()))
      State().Fail(kErrIncomplete, WorkDir(), fileName, reason.c_str());
    return;
  }
  platform::Printf(f, "%s", text.c_str());
  if (!platform::Close(f)) {
    std::string reason = platform::SystemErrorText(platform::LastError());
    State().Fail(kErrIncomplete, WorkDir(), fileName, reason.c_str());
  }
  NoteWritten(path);
}

void WriteMxramObject() { WriteTemplateFile("MXRAM.$$$", kMxramObject); }
void WriteCpnum0Object() { WriteTemplateFile("CPNUM0.$$$", kCpnum0Object); }
void WriteCpnum0CsObject() { WriteTemplateFile("CPNUM0CS.$$$", kCpnum0CsObject); }
void WriteRptermObject() { WriteTemplateFile("RPTERM.$$$", kRptermObject); }

// Every FB of a number is preceded by the same CPNUMn object: it is written
// once a run.
void WriteCpnumObject(int number) {
  std::string name = Format("CPNUM%d.$$$", number);
  if (Written(std::string(WorkDir()) + name)) return;
  std::string text = Format("%s\nS30800008541524F4D43\nS4060000050000F4\n%s\nS9030000FC\n",
                            kCpnumS0[number], kCpnumS2[number]);
  WriteTemplateFile(name.c_str(), text);
}

void SubmitLine(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  platform::VPrintf(State().submit, format, ap);
  va_end(ap);
}

int ExecType() { return State().params->driverInfo.ExecType(); }

// The driver brought its own header and library objects.
bool OwnDriverObjects() {
  PlannerState& st = State();
  return st.driverPacked == 1 && st.standardObjects == 0;
}

void CreateSubmitFile() {
  PlannerState& st = State();
  st.submit =
      st.OpenWorkFile(st.params->submitFileName, "w", 1, "Opening Linker Submit File \"%s\"\n", kErrOpen);
}

void WriteSectionLines() {
  SubmitLine("0400-BFFF\n");
  for (const MemoryBlock& b : State().memoryMap.blocks) {
    if (b.kind == 1) {
      SubmitLine("SECTION   AROM   PSCT  %04X-%04X\n", b.first, b.last);
    } else if (b.kind == 2) {
      SubmitLine("SECTION   *      DSCT  %04X-%04X\n", b.first, b.last);
    }
  }
}

void WriteExecConstants() {
  switch (ExecType()) {
    case 1:
    case 2:
    case 6: {
      State().Print(1, "Submitting constants for Exec 3.x\n");
      const char* const* texts = Exec3Constants();
      for (int i = 0; i < kExec3ConstantTexts; ++i) SubmitLine("%s", texts[i]);
      break;
    }
    case 3:
    case 4:
    case 5:
      State().Print(1, "Submitting constants for Exec 4.x & Exec 5.x\n");
      SubmitLine("DEFINE   ENDHEAP        7FFF\n");
      break;
    default:
      break;
  }
}

void WriteDmpDefines() {
  const char* text = State().config.text;
  if (std::strcmp(text, "40C000180000") == 0) {
    SubmitLine("DEFINE   DMP_53DF        12\n");
    SubmitLine("DEFINE   DMP_53E0        34\n");
    SubmitLine("DEFINE   DMP_417E        07\n");
    SubmitLine("DEFINE   DMP_417F        08\n");
  }
  if (std::strncmp(text, "40", 2) == 0) SubmitLine("DEFINE   DMP_423A        12\n");
}

// A header of the working directory (`temporary`) is one this run wrote.
void SubmitHeaderFile(const std::string& path, bool temporary) {
  State().Print(1, "Submitting header: %s\n", path.c_str());
  SubmitLine("FILE     %s\n", path.c_str());
  if (temporary) {
    if (!Written(path)) State().Fail(kErrTemporaryMissing, path.c_str());
  } else if (path.find("$$$") != std::string::npos) {
    if (!FileExists(path.c_str())) State().Fail(kErrTemporaryMissing, path.c_str());
  } else {
    LogFileDate(path.c_str());
  }
}

// The header object of a driver: its own, unpacked by this run, or the
// library directory's standard one.
void SubmitDriverHeader(bool own, const std::string& standard) {
  if (own) {
    SubmitHeaderFile(std::string(WorkDir()) + "EEPxxx.$$$", true);
  } else {
    SubmitHeaderFile(std::string(LibDir()) + standard, false);
  }
}

void SubmitMxram() {
  WriteMxramObject();
  SubmitHeaderFile(std::string(WorkDir()) + "MXRAM.$$$", true);
}

void SubmitExecHeader() {
  std::string lib = LibDir();
  switch (ExecType()) {
    case 1:
      SubmitMxram();
      SubmitDriverHeader(OwnDriverObjects(), "EEPROM.OBJ");
      break;
    case 2:
      SubmitMxram();
      SubmitDriverHeader(OwnDriverObjects(), "EEPCOM.OBJ");
      break;
    case 3:
      SubmitDriverHeader(OwnDriverObjects(), "EEP400.OBJ");
      break;
    case 4:
      SubmitDriverHeader(OwnDriverObjects(), "EEPQX4.OBJ");
      break;
    case 5:
      SubmitDriverHeader(State().driverPacked != 0, "EEP500.OBJ");
      break;
    case 6: {
      SubmitMxram();
      std::string special = lib + "EEP360.OBJ";
      if (FileExists(special.c_str())) {
        State().Progress("Including the special EEP360.OBJ header for Exec 3.6.\n");
        SubmitHeaderFile(special, false);
      } else {
        State().Progress("EEP360.OBJ not found. Defaulting to the standard EEPROM.OBJ.\n");
        SubmitHeaderFile(lib + "EEPROM.OBJ", false);
      }
      break;
    }
    default:
      break;
  }
}

void SubmitFbsWithNumber(int number) {
  const FbList& list = State().fbList;
  for (int i = 0; i < list.count; ++i) {
    const FbEntry& row = list.rows[i];
    if (row.number != number) continue;
    WriteCpnumObject(number);
    State().Print(1, "Submitting \"%sCPNUM%d.$$$\"\n", WorkDir(), number);
    SubmitLine("FILE     %sCPNUM%d.$$$\n", WorkDir(), number);
    if (row.packed) {
      State().Print(1, "Submitting FB \"%s%s.$$$\"\n", WorkDir(), row.name);
      SubmitLine("FILE     %s%s.$$$\n", WorkDir(), row.name);
    } else {
      State().Print(1, "Submitting FB \"%s%s.OBJ\"\n", LibDir(), row.name);
      SubmitLine("FILE     %s%s.OBJ\n", LibDir(), row.name);
    }
  }
}

void SubmitFbObjects() {
  int type = ExecType();
  if (type < 1 || type > 6 || type == 5) return;
  for (int number = 1; number <= 15; ++number) SubmitFbsWithNumber(number);
  if (State().config.exec >= 0x33) {
    WriteCpnum0Object();
    State().Print(1, "Terminating FB list with %sCPNUM0\n", WorkDir());
    SubmitLine("FILE     %sCPNUM0.$$$\n", WorkDir());
  } else {
    WriteCpnum0CsObject();
    State().Print(1, "Terminating FB list with %sCPNUM0CS\n", WorkDir());
    SubmitLine("FILE     %sCPNUM0CS.$$$\n", WorkDir());
  }
}

// The RP library of an FB found as a plain object; the -8 and -32 variants
// of an FB share the RP of their three-character base name.
std::string PlainRpPath(const char* name) {
  return std::string(LibDir()) + RpFbName(name) + ".OBJ";
}

void SubmitRpFiles() {
  PlannerState& st = State();
  int type = ExecType();
  if (type == 1 || type == 2 || type == 3 || type == 6) {
    st.Print(1, "Looking for RP files\n");
    for (int i = 0; i < st.fbList.count; ++i) {
      if (CheckDuplicateFb(i)) continue;
      const FbEntry& row = st.fbList.rows[i];
      if (row.packed) {
        std::string path = std::string(WorkDir()) + row.name + "RP.$$$";
        if (!Written(path)) continue;
        st.Print(1, "Submitting RP \"%s\"\n", path.c_str());
        SubmitLine("FILE     %s\n", path.c_str());
      } else {
        std::string path = PlainRpPath(row.name);
        if (!LogDateIfReadable(path.c_str())) continue;
        st.Print(1, "Submitting RP \"%s\"\n", path.c_str());
        SubmitLine("LIBRARY  %s\n", path.c_str());
      }
      ++st.params->rpFilesSubmitted;
    }
  } else if (type == 5) {
    WriteRptermObject();
    st.Print(1, "Looking for RP files\n");
    for (int i = 0; i < st.fbList.count; ++i) {
      if (CheckDuplicateFb(i)) continue;
      const FbEntry& row = st.fbList.rows[i];
      if (!row.packed) st.Fail(kErrNotPacked, row.name);
      std::string path = std::string(WorkDir()) + row.name + "RP.$$$";
      if (!Written(path)) continue;
      st.Print(1, "Submitting RP \"%s\"\n", path.c_str());
      SubmitLine("FILE     %s\n", path.c_str());
      ++st.params->rpFilesSubmitted;
      st.Print(1, "Delimiting RP with %sRPTERM.$$$\n", WorkDir());
      SubmitLine("FILE     %sRPTERM.$$$\n", WorkDir());
    }
    st.Print(1, "Terminating RP list with %sRPTERM.$$$ x 2\n", WorkDir());
    SubmitLine("FILE     %sRPTERM.$$$\n", WorkDir());
  }
}

void SubmitSupplements(bool firstPass) {
  PlannerState& st = State();
  int type = ExecType();
  if (type != 3 && type != 4) return;
  st.Print(1, "Checking for supplemental files (*.SUP) in \"%s\"\n", LibDir());
  if (!st.supplementsListed) {
    st.supplements = platform::FindFiles(LibDir(), "*.SUP");
    st.supplementsListed = true;
  }
  if (st.supplements.empty()) {
    st.Print(1, "No supplements found\n");
    return;
  }
  for (const std::string& entry : st.supplements) {
    std::string path = std::string(LibDir()) + entry;
    if (firstPass) st.Progress("\aNOTICE: linking with supplemental library \"%s\"\n", path.c_str());
    st.Print(1, "Submitting \"%s\"\n", path.c_str());
    if (firstPass) LogFileDate(path.c_str());
    SubmitLine("LIBRARY  %s\n", path.c_str());
  }
}

void SubmitLibrary() {
  std::string path;
  switch (ExecType()) {
    case 1:
    case 2:
    case 6:
    case 3:
    case 4:
      break;
    default:
      return;
  }
  if (OwnDriverObjects()) {
    State().Print(1, "Submitting library: %sLIBxxx.$$$\n", WorkDir());
    SubmitLine("LIBRARY  %sLIBxxx.$$$\n", WorkDir());
    return;
  }
  const char* name = ExecType() == 3 || ExecType() == 4 ? "LIB400" : "LIB";
  State().Print(1, "Submitting library: %s%s.OBJ\n", LibDir(), name);
  SubmitLine("LIBRARY  %s%s.OBJ\n", LibDir(), name);
  path = std::string(LibDir()) + name + ".OBJ";
  LogFileDate(path.c_str());
}

void FinishSubmitFile() {
  PlannerState& st = State();
  if (st.submit == nullptr) return;
  st.Print(1, "Closing Submit File\n");
  platform::Stream* f = st.submit;
  st.submit = nullptr;
  if (!platform::Close(f)) {
    std::string reason = platform::SystemErrorText(platform::LastError());
    st.Fail(kErrIncomplete, WorkDir(), st.params->submitFileName, reason.c_str());
  }
}

// ---------------------------------------------------------------------------
// The stage

void PlanCleanup() {
  CloseArgFile();
  ClosePackFile();
  FinishSubmitFile();
}

void RunSteps() {
  OpenArgFile();
  ReadLibraryDirectory();
  ReadFbList();
  ReadModuleConfiguration();
  CloseArgFile();
  State().Progress("Checking FB files.\n");
  CheckFbFiles();
  MatchMemoryMap();
  PrintModuleType();
  ReadDriverInfo();
  ValidateDriverType();
  CreateSubmitFile();
  WriteSectionLines();
  WriteExecConstants();
  WriteDmpDefines();
  SubmitExecHeader();
  SubmitFbObjects();
  SubmitRpFiles();
  SubmitSupplements(true);
  SubmitLibrary();
  SubmitSupplements(false);
  FinishSubmitFile();
}

}  // namespace

int RunPlanner(PlanParams* params) {
  PlannerState& st = State();
  st.Begin(params);
  st.driverPacked = 0;
  st.standardObjects = 0;
  st.driverName[0] = '\0';
  st.libraryDir[0] = '\0';
  st.supplementsListed = false;
  st.supplements.clear();
  st.written.clear();
  st.fbList.count = 0;
  std::memset(params->statusToken, 0, sizeof params->statusToken);
  std::memset(params->firmwareFileName, 0, sizeof params->firmwareFileName);
  std::memset(params->libraryDirUsed, 0, sizeof params->libraryDirUsed);
  params->rpFilesSubmitted = 0;
  st.Progress("Analyzing FB list.\n");
  return st.Run(RunSteps, PlanCleanup);
}

FbList& PlannerFbList() { return State().fbList; }

int CompareWildcard(const char* pattern, const char* text) {
  for (; *pattern != '\0' && *text != '\0'; ++pattern, ++text) {
    if (*pattern == '?' || *text == '?') continue;
    auto a = static_cast<signed char>(*pattern);
    auto b = static_cast<signed char>(*text);
    if (a != b) return a < b ? -1 : 1;
  }
  if (*pattern == '\0') return *text == '\0' ? 0 : -1;
  return 1;
}

}  // namespace varnel
