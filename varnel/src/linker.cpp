// The object linker (stage 2): reads the submit file and the M68 objects it
// lists, places each module's regions into the memory blocks, loads library
// modules on demand, resolves the references between modules and writes the
// S1 download file.
#include "linker.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <string_view>

#include "ascii.h"
#include "byte_order.h"
#include "figures.h"
#include "files.h"
#include "format.h"
#include "input_buffer.h"

namespace varnel {
namespace {

// Table capacities.  Storing the entry that reaches a capacity raises the
// table's error, so one entry fewer is usable.
constexpr int kFileCapacity = 140;
constexpr int kSectionCapacity = 16;
constexpr int kRegionCount = 32;
constexpr int kGlobalCapacity = 2000;
constexpr int kExternCapacity = 5200;
constexpr int kFixupCapacity = 5200;

constexpr int kNameLength = 8;
constexpr int kRecordDataSize = 80;  // 79 data bytes and the appended zero
constexpr int kSubmitLineSize = 512;

// Hash index sizes: powers of two well above the tables they cover.
constexpr int kGlobalBucketBits = 12;
constexpr int kExternSlotBits = 13;

// Image windows for every Exec type but 5.
constexpr uint32_t kS1End = 0xC000;

// The linker's errors: error n is reported with kLinkMessages[n] and the
// result code kLinkerErrorBase + n.
enum LinkerErrorNumber {
  kErrNoFit = kLinkerErrorNoFit,
  kErrOpen = 2,  // a file of the working directory
  kErrObjectOpen = 3,
  kErrTooManyFiles = 4,
  kErrTableFull = 5,
  kErrTooManySections = 6,
  kErrIncomplete = 7,
  kErrCorruptFile = 8,
  kErrUnresolved = 9,
  kErrImageCapacity = 10,
  kLinkerErrorCount
};

const char* const kLinkMessages[] = {
    "No Error\n",
    "The FB's specified will not fit in this module.\nWhat to check - 1) Reduce the number of "
    "FB's in this module.  2) Reduce the size or complexity of these FB's.  3) If this module "
    "supports virtual modules, try moving some FB's to other virtual modules\n",
    "Cannot open file \"%s\" in directory \"%s\".\nWhat to check - Does the directory exist?  Is "
    "the disk full?  Remember that compressed drives often report false free space.\n",
    "Cannot open required file \"%s\"\nWhat happened - This file has been opened previously, so "
    "this shouldnot happen.  Please contact Technical Support.\n",
    "Too many files specified in submit file\nWhat to check - Try loading fewer FB's or fewer "
    "supplemental libs.\n",
    "Too many %s.\nWhat happened - This combination of FB's is too big to handle.\nWhat to check "
    "- Try loading fewer FB's, or contact Technical Support to see if there is an updated "
    "linker.\n",
    "Too many memdefs.\nWhat to check - This error is not normal.  Contact Technical Support\n",
    "Output file \"%s%s\" is incomplete.\nWhat to check - Is the disk full?.  Remember that "
    "compressed drives often report false free space.  The system error reported to me was "
    "\"%s\".\n",
    "Corrupt FB file.\nWhat to check - Try rebuilding the FB's in Tessaly.\n",
    "Unresolved reference to \"%s\".\nFor packed module drivers, this indicates an FB that is "
    "using a feature or microblock that is not implemented in this version of the driver.  For "
    "unpacked drivers, this indicates a mismatch between the FB or driver files and the library "
    "files lib.obj, lib400.obj, eeprom.obj, eep400.obj, or eep500.obj. Check the dates and times "
    "of the files. All the files that were used are noted in the log file with the words \"USING "
    "THIS FILE ->\".\n",
    "Output image exceeded linker capacity.\nWhat happened - This combination of FB's is too big "
    "to handle.\nWhat to check - Try loading fewer FB's, or contact Technical Support to see if "
    "there is an updated linker.\n",
};
static_assert(std::size(kLinkMessages) == kLinkerErrorCount);

struct InputFileEntry {
  char path[kMaxPath + 1];
  bool overlong;  // the submit file's path did not fit: it cannot be opened
  int isFile;
};

struct SectionEntry {
  char name[kNameLength + 1];
  uint32_t start;
  uint32_t end;
  uint32_t next;
};

struct RegionEntry {
  int defined;
  bool sized;  // an S4 record of the current module named it
  char name[kNameLength + 1];
  uint32_t low;
  uint32_t high;
  uint32_t base;
};

struct GlobalEntry {
  int region;
  int offset;
  char name[kNameLength + 1];
  uint32_t address;
  int32_t olderSameName;  // the previous global of this name, or -1
  int32_t group;          // its name group in the global index
};

struct ExternEntry {
  uint32_t address;
  uint8_t subtract;
  char name[kNameLength + 1];
  int32_t nextSameAddress;  // the next external at this address, or -1
  int32_t nextSameName;     // the next external of this name, or -1
};

struct FixupEntry {
  uint32_t loc;
  uint32_t type;
  uint32_t value;
};

struct ObjectRecord {
  int type;
  int count;
  uint8_t data[kRecordDataSize];
  int valid;
  int recordNumber;
};

// All globals of one name, oldest and newest.  Groups are made and
// unmade in stack order, because globals are only ever dropped from the top
// of their table.
struct GlobalGroup {
  uint64_t key;
  int32_t first;
  int32_t newest;
  int32_t bucketNext;
};

// Externals of one name or at one address, in table order.
struct ExternSlot {
  uint64_t key;
  int32_t first;  // -1: the slot is free
  int32_t last;
};

enum class ReadResult { kValid, kEnd, kDamaged };

struct LinkerState : StageFrame<LinkParams> {
  LinkerState() : StageFrame(kLinkerErrorBase, kLinkMessages) {}

  InputFileEntry files[kFileCapacity];
  int fileCount = 0;
  SectionEntry sections[kSectionCapacity];
  int sectionCount = 0;
  RegionEntry regions[kRegionCount];
  GlobalEntry globals[kGlobalCapacity];
  int globalCount = 0;
  int globalMark = 0;
  ExternEntry externs[kExternCapacity];
  int externCount = 0;
  FixupEntry fixups[kFixupCapacity];
  int fixupCount = 0;
  int fixupMark = 0;

  uint8_t image[kImageSize];
  uint8_t used[kImageSize];

  // Indexes over the tables, so that each lookup costs the same however
  // full the tables are; they keep the tables' first-match order.
  GlobalGroup globalGroups[kGlobalCapacity];
  int globalGroupCount = 0;
  int32_t globalBuckets[1 << kGlobalBucketBits];
  ExternSlot externsByName[1 << kExternSlotBits];
  ExternSlot externsByAddress[1 << kExternSlotBits];
  int32_t scratch[kExternCapacity];

  // Survives from link to link.
  char moduleName[kNameLength + 1] = {};
  int moduleCounter = 0;
  ObjectRecord record = {};
  bool recordDamaged = false;

  const InputFileEntry* currentFile = nullptr;
  platform::Stream* objectFile = nullptr;
  InputBuffer objectInput;
  platform::Stream* submitFile = nullptr;
  platform::Stream* outputFile = nullptr;
};

LinkerState g_state;

LinkerState& State() { return g_state; }

// ---- names and indexes ----------------------------------------------------

// A stored name (at most 8 characters, NUL-padded) as one comparable key.
uint64_t NameKey(const char* name) {
  uint64_t key = 0;
  std::memcpy(&key, name, kNameLength);
  return key;
}

uint32_t HashKey(uint64_t key, int bits) {
  return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

// Stores the first 8 characters of a text of `length` characters.
void StoreName(char* field, const char* text, size_t length) {
  size_t n = std::min(length, static_cast<size_t>(kNameLength));
  std::memcpy(field, text, n);
  std::memset(field + n, 0, kNameLength + 1 - n);
}

void StoreName(char* field, const char* text) { CopyBounded(field, text, kNameLength); }

int32_t FindGlobalGroup(uint64_t key) {
  LinkerState& st = State();
  for (int32_t g = st.globalBuckets[HashKey(key, kGlobalBucketBits)]; g >= 0;
       g = st.globalGroups[g].bucketNext) {
    if (st.globalGroups[g].key == key) return g;
  }
  return -1;
}

void IndexGlobal(int i) {
  LinkerState& st = State();
  GlobalEntry& e = st.globals[i];
  uint64_t key = NameKey(e.name);
  int32_t g = FindGlobalGroup(key);
  if (g < 0) {
    uint32_t b = HashKey(key, kGlobalBucketBits);
    g = st.globalGroupCount++;
    st.globalGroups[g] = {key, i, i, st.globalBuckets[b]};
    st.globalBuckets[b] = g;
    e.olderSameName = -1;
  } else {
    e.olderSameName = st.globalGroups[g].newest;
    st.globalGroups[g].newest = i;
  }
  e.group = g;
}

// Forgets the globals from `mark` on, newest first.
void TruncateGlobals(int mark) {
  LinkerState& st = State();
  while (st.globalCount > mark) {
    int i = --st.globalCount;
    GlobalEntry& e = st.globals[i];
    GlobalGroup& grp = st.globalGroups[e.group];
    grp.newest = e.olderSameName;
    if (grp.newest < 0) {
      // A group empties when its oldest global goes, and every group made
      // after it has emptied before: it is the newest group and heads its
      // bucket.
      st.globalBuckets[HashKey(grp.key, kGlobalBucketBits)] = grp.bucketNext;
      --st.globalGroupCount;
    }
    std::memset(&e, 0, sizeof e);
  }
}

// The first global of a name in table order, or -1.
int32_t FindGlobal(const char* name) {
  int32_t g = FindGlobalGroup(NameKey(name));
  return g < 0 ? -1 : State().globalGroups[g].first;
}

ExternSlot* FindSlot(ExternSlot* slots, uint64_t key, bool create) {
  constexpr uint32_t mask = (1u << kExternSlotBits) - 1;
  for (uint32_t h = HashKey(key, kExternSlotBits);; h = (h + 1) & mask) {
    ExternSlot& s = slots[h];
    if (s.first < 0) {
      if (!create) return nullptr;
      s.key = key;
      return &s;
    }
    if (s.key == key) return &s;
  }
}

void IndexExtern(int i) {
  LinkerState& st = State();
  ExternEntry& e = st.externs[i];
  e.nextSameAddress = -1;
  e.nextSameName = -1;
  ExternSlot* byAddress = FindSlot(st.externsByAddress, e.address, true);
  if (byAddress->first < 0) byAddress->first = i;
  else st.externs[byAddress->last].nextSameAddress = i;
  byAddress->last = i;
  ExternSlot* byName = FindSlot(st.externsByName, NameKey(e.name), true);
  if (byName->first < 0) byName->first = i;
  else st.externs[byName->last].nextSameName = i;
  byName->last = i;
}

// The first external at an address in table order, or -1.
int32_t FirstExternAt(uint32_t loc) {
  ExternSlot* s = FindSlot(State().externsByAddress, loc, false);
  return s == nullptr ? -1 : s->first;
}

bool HasExternAt(uint32_t loc) { return FirstExternAt(loc) >= 0; }

// ---- tables and image -----------------------------------------------------

void ClearLinkTables() {
  LinkerState& st = State();
  st.globalCount = st.globalMark = st.externCount = 0;
  st.fixupCount = st.fixupMark = st.sectionCount = st.fileCount = 0;
  std::memset(st.regions, 0, sizeof st.regions);
  std::memset(st.sections, 0, sizeof st.sections);
  std::memset(st.files, 0, sizeof st.files);
  std::memset(st.globals, 0, sizeof st.globals);
  std::memset(st.externs, 0, sizeof st.externs);
  std::memset(st.fixups, 0, sizeof st.fixups);
  std::memset(st.image, 0, sizeof st.image);
  std::memset(st.used, 0, sizeof st.used);
  st.globalGroupCount = 0;
  std::fill(std::begin(st.globalBuckets), std::end(st.globalBuckets), -1);
  for (ExternSlot& s : st.externsByName) s = {0, -1, -1};
  for (ExternSlot& s : st.externsByAddress) s = {0, -1, -1};
}

// The line every byte put into the image logs:
//   "loc: %d  b: %d  sizeof(abOutputData): %d\n" with loc, b and kImageSize,
// encoded directly, since at log level 0 a link writes tens of thousands.
void LogPoke(uint32_t loc, uint8_t b) {
  static_assert(kImageSize == 65535, "the size the line ends with");
  constexpr std::string_view kTail = "  sizeof(abOutputData): 65535\n";
  char line[80];
  char* p = line;
  p = std::copy_n("loc: ", 5, p);
  p = PutDecimal(p, static_cast<int32_t>(loc));
  p = std::copy_n("  b: ", 5, p);
  p = PutDecimal(p, static_cast<int32_t>(b));
  p = std::copy(kTail.begin(), kTail.end(), p);
  *p = '\0';
  State().PrintAlways("%s", line);
}

void PokeImage(uint32_t loc, uint8_t b) {
  LinkerState& st = State();
  if (st.Logs(0)) LogPoke(loc, b);
  if (st.params->execType == 5) {
    if (loc >= kImageSize) st.Fail(kErrImageCapacity);
  } else if (!(loc < 0x6000 || (loc >= 0x8000 && loc <= 0xBFFF))) {
    return;
  }
  st.image[loc] = b;
  st.used[loc] = 1;
}

void AddFixup(uint32_t loc, uint32_t type, uint32_t value) {
  LinkerState& st = State();
  st.fixups[st.fixupCount] = {loc, type, value};
  if (++st.fixupCount == kFixupCapacity) st.Fail(kErrTableFull, "Fixups");
}

// Stores a global and counts it; the one that fills the table is stored
// before the error.
void AddGlobal(int region, int offset, const char* name, size_t length, uint32_t address) {
  LinkerState& st = State();
  int i = st.globalCount;
  GlobalEntry& e = st.globals[i];
  e.region = region;
  e.offset = offset;
  StoreName(e.name, name, length);
  e.address = address;
  IndexGlobal(i);
  if (++st.globalCount == kGlobalCapacity) st.Fail(kErrTableFull, "Globals");
}

// ---- object records ---------------------------------------------------------

// What a byte of an object file is to the record reader: the value of a
// hexadecimal digit, kBlankByte or kOtherByte; one look-up per byte.
constexpr int8_t kBlankByte = 16;
constexpr int8_t kOtherByte = 17;
constexpr auto kByteClass = [] {
  std::array<int8_t, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const int digit = HexDigitValue(c);
    table[c] = static_cast<int8_t>(digit >= 0 ? digit : IsAsciiSpace(c) ? kBlankByte : kOtherByte);
  }
  return table;
}();

// Reads a field of exactly `digits` hexadecimal digits after optional white
// space; false when the field is not that many digits, whatever follows the
// ones there are.
bool ReadHexField(InputBuffer& in, int digits, int* value) {
  int c = in.Next();
  while (c != platform::kEndOfFile && kByteClass[c] == kBlankByte) c = in.Next();
  int v = 0;
  for (int n = 0; n < digits; ++n) {
    if (n > 0) c = in.Next();
    if (c == platform::kEndOfFile || kByteClass[c] >= kBlankByte) return false;
    v = v * 16 + kByteClass[c];
  }
  *value = v;
  return true;
}

// A byte of two digits, as ReadHexField(in, 2, value) reads it; the digits
// straight from the window where both are there and nothing stands before
// them.
bool ReadHexByte(InputBuffer& in, int* value) {
  if (const uint8_t* p = in.Peek(2)) {
    const int high = kByteClass[p[0]];
    const int low = kByteClass[p[1]];
    if (high < kBlankByte && low < kBlankByte) {
      in.Skip(2);
      *value = high * 16 + low;
      return true;
    }
  }
  return ReadHexField(in, 2, value);
}

ReadResult ReadObjectRecord() {
  LinkerState& st = State();
  ObjectRecord& r = st.record;
  ++r.recordNumber;
  r.valid = 0;
  // A record shorter than its layout reads its missing bytes as 0.
  std::memset(r.data, 0, sizeof r.data);
  InputBuffer& in = st.objectInput;
  int c;
  do {
    c = in.Next();
    if (c == platform::kEndOfFile) return ReadResult::kEnd;
  } while (c != 'S');
  int type = 0;
  int count = 0;
  // Without a type and a count the text is not a record at all: the file's
  // records end there, as they always have for text after the last one.
  if (!ReadHexField(in, 1, &type) || !ReadHexField(in, 2, &count)) return ReadResult::kEnd;
  r.type = type;
  r.count = count;
  // From here on it is a record: one that does not fit, a byte that is not
  // two hexadecimal digits (the end of the file included) and a wrong
  // checksum all make it a damaged one.
  if (count > kRecordDataSize) return ReadResult::kDamaged;
  int sum = count;
  // The data bytes straight from the window while they are two digits each,
  // then byte by byte from where that stopped.
  int i = 0;
  if (count > 1) {
    const uint8_t* p = in.Peek(0);
    const int inWindow = static_cast<int>(std::min<size_t>(in.Available() / 2, static_cast<size_t>(count - 1)));
    for (; i < inWindow; ++i) {
      const int high = kByteClass[p[2 * i]];
      const int low = kByteClass[p[2 * i + 1]];
      if (high >= kBlankByte || low >= kBlankByte) break;
      r.data[i] = static_cast<uint8_t>(high * 16 + low);
      sum += r.data[i];
    }
    in.Skip(2 * static_cast<size_t>(i));
  }
  for (; i + 1 < count; ++i) {
    int b = 0;
    if (!ReadHexByte(in, &b)) return ReadResult::kDamaged;
    r.data[i] = static_cast<uint8_t>(b);
    sum += b;
  }
  int checksum = 0;
  if (!ReadHexByte(in, &checksum)) return ReadResult::kDamaged;
  if (checksum != (~sum & 0xFF)) return ReadResult::kDamaged;
  r.valid = 1;
  return ReadResult::kValid;
}

uint8_t GetRecordByte(int n) { return State().record.data[n]; }

uint16_t GetRecordWord(int n) { return GetBe16(State().record.data + n); }

const char* GetRecordText(int n) { return reinterpret_cast<const char*>(State().record.data + n); }

// The number of data bytes of the current record.
int RecordDataLength() { return std::max(State().record.count - 1, 0); }

[[noreturn]] void DamagedRecord() {
  LinkerState& st = State();
  st.Print(0, "ERROR - Damaged record %d in file \"%s\"\n", st.record.recordNumber,
           st.currentFile->path);
  st.Fail(kErrCorruptFile);
}

// An object file that cannot be opened, or that fails to read: the link
// never goes on with what was read of it.
[[noreturn]] void UnreadableObject(const InputFileEntry& f) {
  State().Print(0, "Cannot open input file %s\n", f.path);
  State().Fail(kErrObjectOpen, f.path);
}

// Reads the next record.  Damage is fatal where a module is being loaded;
// elsewhere it only ends the file's valid records.  A read error is never
// the end of the file.
void NextRecord(bool damageIsFatal) {
  LinkerState& st = State();
  ReadResult result = ReadObjectRecord();
  if (st.objectInput.Failed()) UnreadableObject(*st.currentFile);
  st.recordDamaged = result == ReadResult::kDamaged;
  if (st.recordDamaged && damageIsFatal) DamagedRecord();
}

int GetFixupWidth(uint32_t type) { return (type == 0xC0 || type == 0xE0) ? 2 : 1; }

void ApplyFixup(uint32_t loc, uint32_t type, uint32_t value) {
  uint32_t d = value - loc;
  switch (type) {
    case 0x20:
    case 0x40: PokeImage(loc, static_cast<uint8_t>(value & 0xFF)); break;
    case 0x60: PokeImage(loc, static_cast<uint8_t>(d & 0xFF)); break;
    case 0x80: PokeImage(loc, static_cast<uint8_t>((value >> 8) & 0xFF)); break;
    case 0xA0: PokeImage(loc, static_cast<uint8_t>((d >> 8) & 0xFF)); break;
    case 0xC0:
      PokeImage(loc, static_cast<uint8_t>((value >> 8) & 0xFF));
      PokeImage(loc + 1, static_cast<uint8_t>(value & 0xFF));
      break;
    case 0xE0:
      PokeImage(loc, static_cast<uint8_t>((d >> 8) & 0xFF));
      PokeImage(loc + 1, static_cast<uint8_t>(d & 0xFF));
      break;
    default: break;
  }
}

void RelocateData() {
  LinkerState& st = State();
  int r = GetRecordByte(2) & 0x1F;
  uint32_t offset = GetRecordWord(0);
  uint32_t loc = st.regions[r].base + offset;
  st.Print(3, "S2 - Relocate - at %04X in region #%2d", offset, r);
  if (r == 0 && offset < 0x8000) {
    st.Print(3, " - skipped\n");
    return;
  }
  st.Print(3, "\n");
  const uint8_t* d = st.record.data;
  int end = RecordDataLength();
  int pos = 3;
  while (pos < end) {
    uint8_t h = d[pos];
    if ((h & 0xE0) == 0) {
      int n = (h & 0x1F) + 1;
      if (pos + 1 + n > end) DamagedRecord();
      for (int k = 1; k <= n; ++k) PokeImage(loc++, d[pos + k]);
      pos += 1 + n;
    } else {
      if (pos + 3 > end) DamagedRecord();
      uint32_t type = h & 0xE0;
      uint32_t value = st.regions[h & 0x1F].base + GetRecordWord(pos + 1);
      if (HasExternAt(loc)) AddFixup(loc, type, value);
      else ApplyFixup(loc, type, value);
      loc += static_cast<uint32_t>(GetFixupWidth(type));
      pos += 3;
    }
  }
  st.Print(4, "\n");
}

// ---- submit file ------------------------------------------------------------

// Closes a stream that is only read, if it is open, and forgets it.
void CloseInput(platform::Stream*& stream) {
  if (stream != nullptr) platform::Close(stream);
  stream = nullptr;
}

void OpenSubmitFile() {
  LinkerState& st = State();
  st.submitFile = st.OpenWorkFile(st.params->submitFileName, "r", 2, "Opening Sub File \"%s\"\n", kErrOpen);
}

void CloseSubmitFile() { CloseInput(State().submitFile); }

// A submit file that fails to read counts as one that did not open: the
// lines after the error would be missing from the link.
void CheckSubmitRead() {
  LinkerState& st = State();
  if (platform::ReadFailed(st.submitFile))
    st.Fail(kErrOpen, st.params->submitFileName, st.params->workDir);
}

// Reads one whole line; a line longer than the buffer keeps its start and
// *overlong tells that the rest was passed over.
bool ReadSubmitLine(char* line, bool* overlong) {
  platform::Stream* in = State().submitFile;
  *overlong = false;
  if (!platform::ReadLine(in, line, kSubmitLineSize)) {
    CheckSubmitRead();
    return false;
  }
  size_t n = std::strlen(line);
  if (n == 0 || n + 1 < kSubmitLineSize || line[n - 1] == '\n') return true;
  char rest[kSubmitLineSize];
  while (platform::ReadLine(in, rest, sizeof rest)) {
    *overlong = true;
    size_t m = std::strlen(rest);
    if (m > 0 && rest[m - 1] == '\n') break;
  }
  CheckSubmitRead();
  return true;
}

const char* SkipBlanks(const char* p) {
  while (*p != '\0' && IsAsciiSpace(static_cast<unsigned char>(*p))) ++p;
  return p;
}

// The next white-space-delimited word: its start, its length, and the text
// after it.
const char* TakeWord(const char* p, const char** word, size_t* length) {
  p = SkipBlanks(p);
  *word = p;
  while (*p != '\0' && !IsAsciiSpace(static_cast<unsigned char>(*p))) ++p;
  *length = static_cast<size_t>(p - *word);
  return p;
}

void ReadInputFileLine(const char* rest, int isFile, bool lineOverlong) {
  LinkerState& st = State();
  while (*rest == ' ' || *rest == '\t') ++rest;
  size_t n = std::strcspn(rest, "\t\r\n");
  InputFileEntry& f = st.files[st.fileCount];
  f.isFile = isFile;
  f.overlong = n > kMaxPath || (rest[n] == '\0' && lineOverlong);
  std::memcpy(f.path, rest, std::min(n, kMaxPath));
  f.path[std::min(n, kMaxPath)] = '\0';
  st.Print(0, isFile ? "FILE -    %s\n" : "LIBRARY - %s\n", f.path);
  if (++st.fileCount == kFileCapacity) st.Fail(kErrTooManyFiles);
}

void ReadDefineLine(const char* rest) {
  const char* word;
  size_t length;
  rest = TakeWord(rest, &word, &length);
  uint32_t value = 0;
  ScanText(rest, "%x", &value);
  char name[kNameLength + 1];
  StoreName(name, word, length);
  State().Print(1, "DEFINE -  %-8s = %04X\n", name, value);
  AddGlobal(0, 0, word, length, value);
}

void ReadSectionLine(const char* rest) {
  LinkerState& st = State();
  const char* word;
  size_t length;
  rest = TakeWord(rest, &word, &length);
  SectionEntry& s = st.sections[st.sectionCount];
  if (length == 1 && word[0] == '*') StoreName(s.name, "XRAM");
  else StoreName(s.name, word, length);
  const char* cls;
  size_t clsLength;
  rest = TakeWord(rest, &cls, &clsLength);
  ScanText(rest, "%x-%x", &s.start, &s.end);
  s.next = s.start;
  st.Print(0, "SECTION - %4s = %04X-%04X\n", s.name, s.start, s.end);
  if (++st.sectionCount == kSectionCapacity) st.Fail(kErrTooManySections);
}

void ReadSubmitFile() {
  OpenSubmitFile();
  char line[kSubmitLineSize];
  bool overlong = false;
  while (ReadSubmitLine(line, &overlong)) {
    if (std::strncmp(line, "LIBRARY", 7) == 0) ReadInputFileLine(line + 7, 0, overlong);
    else if (std::strncmp(line, "FILE", 4) == 0) ReadInputFileLine(line + 4, 1, overlong);
    else if (std::strncmp(line, "DEFINE", 6) == 0) ReadDefineLine(line + 6);
    else if (std::strncmp(line, "SECTION", 7) == 0) ReadSectionLine(line + 7);
  }
  CloseSubmitFile();
}

// ---- modules ------------------------------------------------------------------

void CloseObjectFile() { CloseInput(State().objectFile); }

bool OpenObjectFile(const InputFileEntry& f) {
  LinkerState& st = State();
  st.objectFile = f.overlong ? nullptr : OpenShared(f.path, "r");
  if (st.objectFile == nullptr) return false;
  st.objectInput.Start(st.objectFile);
  return true;
}

void ReadModuleHeader() {
  LinkerState& st = State();
  bool fatal = st.currentFile->isFile != 0;
  st.globalMark = st.globalCount;
  st.fixupMark = st.fixupCount;
  for (RegionEntry& r : st.regions) {
    r.defined = 0;
    r.sized = false;
    r.low = r.high = 0;
    // A region the module does not name is based at 0, never at an earlier
    // module's placement.
    r.base = 0;
  }
  while (st.record.valid) {
    int r = GetRecordByte(2) & 0x1F;
    switch (st.record.type) {
      case 0:
        st.Print(3, "S0 - Module name - \"%s\"\n", GetRecordText(2));
        StoreName(st.moduleName, GetRecordText(2));
        break;
      case 3:
        st.Print(3, "S3 - Region - #%2d is \"%s\"\n", r, GetRecordText(3));
        StoreName(st.regions[r].name, GetRecordText(3));
        st.regions[r].defined = 1;
        break;
      case 4: {
        uint32_t start = GetRecordWord(0);
        uint32_t end = GetRecordWord(3);
        st.Print(3, "S4 - Size - #%2d from %04X to %04X\n", r, start, end);
        RegionEntry& e = st.regions[r];
        e.low = e.sized ? std::min(e.low, start) : start;
        e.high = std::max(e.high, end);
        e.sized = true;
        break;
      }
      case 8: {
        uint32_t offset = GetRecordWord(0);
        const char* name = GetRecordText(5);
        st.Print(3, "S8 - Global - at %04X in #%02X \"%s\"\n", offset, r, name);
        AddGlobal(r, static_cast<int>(offset), name, std::strlen(name), 0);
        break;
      }
      default: return;
    }
    NextRecord(fatal);
  }
}

void PrintHeaderSummary() {
  LinkerState& st = State();
  if (st.params->logLevel < 2) return;
  st.Print(0, "----------Header Summary----------\n");
  st.Print(0, "Module name \"%s\"\n", st.moduleName);
  for (int i = 0; i < kRegionCount; ++i) {
    const RegionEntry& r = st.regions[i];
    if (r.defined) st.Print(0, "Region %2d \"%s\" %04X - %04X\n", i, r.name, r.low, r.high);
  }
  st.Print(0, "There are %d globals in this module, with %d total\n",
           st.globalCount - st.globalMark, st.globalCount);
  st.Print(0, "-------------------------------\n");
}

// The externals of a name defined by the current module, once per name:
// nullptr for a name the module repeats or that no external refers to.
const ExternSlot* ExternsOfModuleGlobal(int i) {
  LinkerState& st = State();
  const GlobalEntry& g = st.globals[i];
  if (g.olderSameName >= st.globalMark) return nullptr;
  return FindSlot(st.externsByName, NameKey(g.name), false);
}

// Whether a library module defines a name that an external entered so far
// refers to and that nothing before it defines.  The answer and the lines
// are those of trying every external in table order against the module's
// globals; the name indexes spare the scan, and the work is bounded by the
// module's globals and the lines printed.
bool ModuleIsNeeded() {
  LinkerState& st = State();
  const int mark = st.globalMark;
  auto definedBefore = [&](int i) { return st.globalGroups[st.globals[i].group].first < mark; };
  // The first external in table order that a new name of the module meets.
  int32_t firstNeeded = -1;
  for (int i = mark; i < st.globalCount; ++i) {
    const ExternSlot* s = ExternsOfModuleGlobal(i);
    if (s != nullptr && !definedBefore(i) && (firstNeeded < 0 || s->first < firstNeeded))
      firstNeeded = s->first;
  }
  // Every external before it that meets a name already defined.
  if (st.params->logLevel >= 2) {
    int count = 0;
    for (int i = mark; i < st.globalCount; ++i) {
      const ExternSlot* s = ExternsOfModuleGlobal(i);
      if (s == nullptr || !definedBefore(i)) continue;
      for (int32_t e = s->first; e >= 0 && (firstNeeded < 0 || e < firstNeeded);
           e = st.externs[e].nextSameName)
        st.scratch[count++] = e;
    }
    std::sort(st.scratch, st.scratch + count);
    for (int k = 0; k < count; ++k)
      st.Print(2, "Redundant global \"%s\"\n", st.externs[st.scratch[k]].name);
  }
  if (firstNeeded < 0) return false;
  st.Print(1, "This module loaded because of \"%s\"\n", st.externs[firstNeeded].name);
  return true;
}

void DropModuleGlobals() { TruncateGlobals(State().globalMark); }

void SkipToNextModule() {
  LinkerState& st = State();
  while (st.record.valid && st.record.type != 0) NextRecord(false);
}

void LocateRegions() {
  LinkerState& st = State();
  for (int i = 0; i < kRegionCount; ++i) {
    RegionEntry& r = st.regions[i];
    if (!r.defined) continue;
    SectionEntry* chosen = nullptr;
    for (int k = 0; k < st.sectionCount && chosen == nullptr; ++k) {
      SectionEntry& s = st.sections[k];
      if (std::strcmp(s.name, r.name) == 0 && r.high + s.next + 1 < s.end) chosen = &s;
    }
    if (chosen == nullptr) {
      st.Print(0, "Error - can't locate region %s\n", r.name);
      st.Fail(kErrNoFit);
    }
    r.base = chosen->next;
    chosen->next = chosen->next + r.high + 1;
    st.Print(0, "Region %2d \"%s\" located at %04X through %04X\n", i, r.name, r.base,
             r.base + r.high);
  }
}

void SetGlobalAddresses() {
  LinkerState& st = State();
  for (int i = st.globalMark; i < st.globalCount; ++i) {
    GlobalEntry& g = st.globals[i];
    g.address = st.regions[g.region].base + static_cast<uint32_t>(g.offset);
  }
}

void AddExtern() {
  LinkerState& st = State();
  int r = GetRecordByte(2) & 0x1F;
  uint32_t offset = GetRecordWord(0);
  int i = st.externCount;
  ExternEntry& e = st.externs[i];
  StoreName(e.name, GetRecordText(3));
  e.address = st.regions[r].base + offset;
  e.subtract = (GetRecordByte(2) >> 5) & 1;
  IndexExtern(i);
  st.Print(3, "S7 - Extern - at %04X in region #%2d (%04X) %s \"%s\"\n", offset, r, e.address,
           e.subtract ? "sub" : "add", e.name);
  if (++st.externCount == kExternCapacity) st.Fail(kErrTableFull, "Externs");
}

void ReadModuleBody() {
  LinkerState& st = State();
  while (st.record.valid) {
    switch (st.record.type) {
      case 0: return;
      case 2: RelocateData(); break;
      case 7: AddExtern(); break;
      case 9:
      case 13: break;
      default:
        st.Print(0, "ERROR - Bad Body Line Type %d, line %d\n", st.record.type,
                 st.record.recordNumber);
        st.Fail(kErrCorruptFile);
    }
    NextRecord(true);
  }
}

void PrintModuleFixups() {
  LinkerState& st = State();
  if (st.params->logLevel < 3) return;
  st.Print(0, "------------Fixups---------------\n");
  for (int i = st.fixupMark; i < st.fixupCount; ++i) {
    const FixupEntry& f = st.fixups[i];
    st.Print(0, "Type %02X at %04X put %04X ", f.type, f.loc, f.value);
    for (int32_t e = FirstExternAt(f.loc); e >= 0; e = st.externs[e].nextSameAddress)
      st.Print(0, " %c \"%s\" ", st.externs[e].subtract ? '-' : '+', st.externs[e].name);
    st.Print(0, "\n");
  }
  st.Print(0, "----------------------------------\n");
}

void LinkObjectFile(const InputFileEntry& f) {
  LinkerState& st = State();
  st.currentFile = &f;
  st.Print(0, "Processing File \"%s\"\n", f.path);
  if (!OpenObjectFile(f)) UnreadableObject(f);
  st.record.recordNumber = 0;
  NextRecord(f.isFile != 0);
  while (st.record.valid) {
    ReadModuleHeader();
    PrintHeaderSummary();
    if (st.moduleCounter % 8 == 0) st.Progress(".");
    ++st.moduleCounter;
    st.Print(1, "Processing Module \"%s\"\n", st.moduleName);
    if (char* paren = std::strchr(st.moduleName, '(')) std::memset(paren, 0, std::strlen(paren));
    if (st.params->logLevel >= 1) st.Progress("Reading %s\n", st.moduleName);
    if (f.isFile || ModuleIsNeeded()) {
      // A library module cut short in its header is never linked truncated.
      if (st.recordDamaged) DamagedRecord();
      st.Print(0, "Locating Module \"%s\"\n", st.moduleName);
      LocateRegions();
      SetGlobalAddresses();
      ReadModuleBody();
      PrintModuleFixups();
    } else {
      DropModuleGlobals();
      SkipToNextModule();
    }
  }
  CloseObjectFile();
  st.currentFile = nullptr;
}

void LinkAllFiles() {
  LinkerState& st = State();
  for (int i = 0; i < st.fileCount; ++i) LinkObjectFile(st.files[i]);
  st.Progress("\n");
}

// ---- resolution and output ----------------------------------------------------

[[noreturn]] void ReportUnresolved(const FixupEntry& f, const ExternEntry& e) {
  State().Print(0, "ERROR - Unresolved External Reference to \"%s\" at %04X\n", e.name, f.loc);
  State().Fail(kErrUnresolved, e.name);
}

void ResolveFixups() {
  LinkerState& st = State();
  for (int i = 0; i < st.fixupCount; ++i) {
    FixupEntry& f = st.fixups[i];
    st.Print(2, "Fixup type %02X at %04X is %04X ", f.type, f.loc, f.value);
    for (int32_t k = FirstExternAt(f.loc); k >= 0; k = st.externs[k].nextSameAddress) {
      const ExternEntry& e = st.externs[k];
      st.Print(2, "%c %s ", e.subtract ? '-' : '+', e.name);
      int32_t g = FindGlobal(e.name);
      if (g < 0) ReportUnresolved(f, e);
      uint32_t address = st.globals[g].address;
      st.Print(2, "(%04X) ", address);
      if (e.subtract) f.value -= address;
      else f.value += address;
    }
    st.Print(2, "= %04X\n", f.value);
    ApplyFixup(f.loc, f.type, f.value);
  }
}

void PrintGlobals() {
  LinkerState& st = State();
  st.Print(0, "------------Globals---------------\n");
  for (int i = 0; i < st.globalCount; ++i) {
    const GlobalEntry& g = st.globals[i];
    if (st.params->logLevel > 1 || (g.address > 0x5000 && g.address < 0xC000))
      st.Print(0, "%-8.8s %04X \n", g.name, g.address);
  }
  st.Print(0, "--------------End----------------\n");
}

void PrintTableCounts() {
  LinkerState& st = State();
  st.Print(0, "globals = %d/%d  ", st.globalCount, kGlobalCapacity);
  st.Print(0, "externs = %d/%d  ", st.externCount, kExternCapacity);
  st.Print(0, "fixups  = %d/%d  ", st.fixupCount, kFixupCapacity);
  st.Print(0, "\n");
}

void LinkSummary() {
  LinkerState& st = State();
  LinkParams& p = *st.params;
  st.Print(0, "------------Summary---------------\n");
  p.programUsed = p.dataUsed = p.programCapacity = p.dataCapacity = 0;
  for (int i = 0; i < st.sectionCount; ++i) {
    const SectionEntry& s = st.sections[i];
    if (std::strcmp(s.name, "AROM") == 0) {
      p.programUsed += s.next - s.start;
      p.programCapacity += s.end - s.start;
    } else {
      p.dataUsed += s.next - s.start;
      p.dataCapacity += s.end - s.start;
    }
    st.Print(0, "Memory block \"%s\" %04X - %04X - %04X\n", s.name, s.start, s.next, s.end);
  }
  PrintTableCounts();
  st.Print(0, "---------------------------------\n");
  st.Print(0, "Total program size is %.1fK.   Total data size is %.1fK\n",
           Kbytes(p.programUsed), Kbytes(p.dataUsed));
  st.Print(0, "---------------------------------\n");
}

int GetCurrentYear() { return platform::CurrentLocalYear(); }

// A global named DMP_ and one to four hexadecimal digits pokes its value's
// low byte at the address the digits give.
bool ReadDumpTarget(const char* name, uint32_t* target) {
  if (std::strncmp(name, "DMP_", 4) != 0) return false;
  uint32_t v = 0;
  int n = 0;
  for (const char* p = name + 4; n < 4 && HexDigitValue(static_cast<unsigned char>(*p)) >= 0; ++p, ++n)
    v = v * 16 + static_cast<uint32_t>(HexDigitValue(static_cast<unsigned char>(*p)));
  *target = v;
  return n > 0;
}

void PokeLimits() {
  LinkerState& st = State();
  uint32_t xram = 0;
  uint32_t arom = 0;
  for (int i = 0; i < st.sectionCount; ++i) {
    const SectionEntry& s = st.sections[i];
    if (std::strcmp(s.name, "XRAM") == 0 && s.next != s.start) xram = std::max(xram, s.next);
    if (std::strcmp(s.name, "AROM") == 0) arom = std::max(arom, s.next);
  }
  xram -= 1;
  arom -= 1;
  PokeImage(0x805A, static_cast<uint8_t>((xram >> 8) & 0xFF));
  PokeImage(0x805B, static_cast<uint8_t>(xram & 0xFF));
  PokeImage(0x805C, static_cast<uint8_t>((arom >> 8) & 0xFF));
  PokeImage(0x805D, static_cast<uint8_t>(arom & 0xFF));
  int year = GetCurrentYear();
  if (year >= 1984) PokeImage(0x805E, static_cast<uint8_t>((year - 1984) / 4));
  for (int i = 0; i < st.globalCount; ++i) {
    const GlobalEntry& g = st.globals[i];
    uint32_t target = 0;
    if (!ReadDumpTarget(g.name, &target)) continue;
    st.Print(2, "Poke \"%s\" %04X = %02X\n", g.name, target, g.address);
    PokeImage(target, static_cast<uint8_t>(g.address & 0xFF));
  }
}

void OpenLinkOutput() {
  LinkerState& st = State();
  if (st.params->outputFileName == nullptr) return;
  st.outputFile = st.OpenWorkFile(st.params->outputFileName, "w", 2, "Opening Out File \"%s\"\n", kErrOpen);
}

void WriteS1Image() {
  LinkerState& st = State();
  if (st.outputFile != nullptr) WriteS1Records(st.outputFile);
}

// The download file is complete only when its flush, its error flag and its
// close all succeed.
void CloseLinkOutput() {
  LinkerState& st = State();
  if (st.outputFile == nullptr) return;
  platform::Stream* out = st.outputFile;
  st.outputFile = nullptr;
  if (!platform::Close(out)) {
    std::string why = platform::SystemErrorText(platform::LastError());
    st.Fail(kErrIncomplete, st.params->workDir, st.params->outputFileName, why.c_str());
  }
}

void LinkCleanup() {
  CloseLinkOutput();
  CloseObjectFile();
  CloseSubmitFile();
  State().currentFile = nullptr;
}

void LinkStage() {
  LinkerState& st = State();
  ClearLinkTables();
  if (st.params->execType == 5) {
    ReadSubmitFile();
    LinkAllFiles();
    st.Progress("Computing links.   Please wait ...\n");
    ResolveFixups();
    PrintGlobals();
    PrintTableCounts();
    return;
  }
  OpenLinkOutput();
  ReadSubmitFile();
  LinkAllFiles();
  st.Progress("Computing links.\n");
  ResolveFixups();
  st.Progress("Writing results.\n");
  PrintGlobals();
  LinkSummary();
  PokeLimits();
  WriteS1Image();
  CloseLinkOutput();
  st.Progress("Process completed with no errors.\n");
}

}  // namespace

int RunLinker(LinkParams* params) {
  LinkerState& st = State();
  st.Begin(params);
  st.Progress("Linking with M68 files.");
  return st.Run(LinkStage, LinkCleanup);
}

uint8_t* LinkedImage() { return State().image; }

void WriteS1Records(platform::Stream* stream) {
  const uint8_t* data = State().image;
  const uint8_t* used = State().used;
  uint32_t addr = 0;
  while (addr < kS1End) {
    if (!used[addr]) {
      ++addr;
      continue;
    }
    uint32_t start = addr;
    uint32_t n = 0;
    do {
      ++addr;
      ++n;
    } while (n < 35 && addr < kS1End && used[addr] && addr % 0x1000 != 0);
    char line[96];
    uint32_t count = n + 3;
    uint32_t sum = count + (start >> 8) + (start & 0xFF);
    for (uint32_t k = 0; k < n; ++k) sum += data[start + k];
    char* end = line;
    *end++ = 'S';
    *end++ = '1';
    end = PutHex(end, count, 2);
    end = PutHex(end, start, 4);
    end = PutHexBytes(end, data + start, n);
    end = PutHex(end, ~sum & 0xFF, 2);
    *end++ = '\n';
    platform::Write(stream, line, static_cast<size_t>(end - line));
  }
  platform::WriteText(stream, "S9030000FC\n");
}

#if defined(VARNEL_TEST_SEAMS)
uint8_t* LinkedImageUsed() { return State().used; }

int LinkerModuleCounter() { return State().moduleCounter; }
#endif

}  // namespace varnel
