// The module image builder (stage 3): for a module driver of Exec type 5 it
// writes the module database instead of a plain image -- the firmware
// sections the module must replace, the RPs taken back out of the linked
// image, one entry per FB and the screen files named as download
// supplements -- and then works out whether the module can hold it all.
#include "image.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <new>
#include <string>

#include "ascii.h"
#include "byte_order.h"
#include "figures.h"
#include "files.h"
#include "format.h"
#include "input_buffer.h"
#include "linker.h"
#include "planner.h"
#include "platform/platform.h"

namespace varnel {
namespace {

// ---------------------------------------------------------------------------
// Constants and the message table

// The tags of the module database's lines.
constexpr uint16_t kTagDatabaseStart = 0xFF00;
constexpr uint16_t kTagFirmwareData = 0xFF01;
constexpr uint16_t kTagRpData = 0xFF02;
constexpr uint16_t kTagObjectHeader = 0xFF03;
constexpr uint16_t kTagObjectEnd = 0xFF04;
constexpr uint16_t kTagFirmwareBegin = 0xFF05;
constexpr uint16_t kTagFirmwareEnd = 0xFF06;
constexpr uint16_t kTagFbEntry = 0xFF07;

constexpr uint64_t kRamUnitBytes = 131072;     // RAM and firmware space unit
constexpr uint32_t kFlashSectorUnit = 16384;   // flash sector unit
constexpr uint32_t kDefaultRamUnits = 8;

constexpr uint32_t kFirstRp = 0x100;
constexpr uint32_t kRpHeaderBytes = 100;
// Room for a header and the longest sequence and XData the image can yield.
constexpr uint32_t kRpRecordBytes = kRpHeaderBytes + 2 * (kImageSize + 1);
constexpr uint32_t kFbGfbOverhead = 262;
constexpr uint32_t kObjectOverhead = 32;

constexpr uint32_t kMainHeaderBytes = 128;
constexpr uint32_t kDriverRpBytes = 100;
constexpr uint32_t kMicroblockEntries = 256;
constexpr uint32_t kMicroblockBytes = 2 * kMicroblockEntries;
constexpr uint32_t kMaxRecordData = 64;

// The image builder's errors: error n is reported with kImageMessages[n]
// and the result code kImageErrorBase + n.
enum ImageErrorNumber {
  kErrOpen = 1,  // a file of the working directory
  kErrReopen = 2,  // raised nowhere
  kErrTooManyFiles = 3,  // raised nowhere
  kErrIncomplete = 4,
  kErrInternal = 5,
  kErrGfbFit = 6,
  kErrDriverFit = 7,
  kErrEndOfFile = 8,
  kErrChecksum = 9,
  kErrFormat = 10,
  kErrShortChunk = 11,
  kErrRecordLine = 12,  // raised nowhere
  kErrSupplement = 13,
  kErrScreenFile = 14,  // raised nowhere
  kErrSectorMap = 15,
  kErrNoFlashSize = 16,
  kImageErrorCount
};

constexpr const char* kImageMessages[] = {
    "No Error\n",
    "Cannot open file \"%s\" in directory \"%s\".\nWhat to check - Does the directory exist?  Is "
    "the disk full?  Remember that compressed drives often report false free space.  ",
    "Cannot open required file \"%s\"\nWhat happened - This file has been opened previously, so "
    "this shouldnot happen.  Please contact Technical Support.\n",
    "Too many files specified in submit file\nWhat to check - Try loading fewer FB's or fewer "
    "supplemental libs.\n",
    "Output file \"%s%s\" is incomplete.\nWhat to check - Is the disk full?.  Remember that "
    "compressed drives often report false free space.  The system error reported to me was "
    "\"%s\".\n",
    "Internal Problem.\nPlease Contact Technical Support.\n",
    "The FBs specified will not fit in this module.\nWhat to check - \n   1) Reduce the number of "
    "FB's in this module.\n   2) Reduce the size or complexity of these FB's.\n   3) If possible, "
    "upgrade the amount of memory in this module.\n",
    "The module driver is too big to fit in the available\nfirmware space of this module.\n",
    "End of file reached before S9 record on line %d\n",
    "Checksum error in S-record no. %d\n",
    "S-record format error on line %d - file probably not S-records\n",
    "S-record containing chunk header is too short on line %d\n",
    "Error %d on line %d of the S-record file.\n",
    "Download supplement (screen definition file) \n\"%s\"\nnot found.",
    "Screen file \"%s\" not found",
    "This module driver is incompatible with the flash memory map\nof the module being "
    "downloaded.  The driver is designed to load\nat address %ldK, and the module being "
    "downloaded has flash sector\nboundaries every %ldK. Check for a new module driver.",
    "The module did not report it's flash memory size\nat the start of the download.  This "
    "information is critical\nto the memory download process. Make sure you are online and\ntry "
    "downloading again.",
};
static_assert(std::size(kImageMessages) == kImageErrorCount);

constexpr const char* kSectionNames[kLoadedSectionSlots] = {"BOOT", "EXEC", "CORE", "MAIN",
                                                            "",     "",     "",     ""};

const char* SectionName(uint16_t id) { return id < kLoadedSectionSlots ? kSectionNames[id] : "????"; }

// ---------------------------------------------------------------------------
// State of the stage

// The figures the firmware pass takes from the module driver's firmware.
struct DriverFigures {
  uint32_t ramNotUsedForGfb;
  uint32_t fbrunSize;
  uint8_t browserVersion;
  uint32_t pars, stat, vars, hist;
  uint16_t microblockSizes[kMicroblockEntries];
  uint32_t microblocksRecognized;
  // The end of the last data record, load offset included, in 32 bits as
  // the next-sector rule takes it; and the same end unwrapped for the
  // memory figures, so that a record at the top of the space cannot make the
  // driver's code look small.
  uint32_t lastDataEnd;
  uint64_t codeEnd;
};

enum class MainHeaderState { NotSeen, Collecting, Taken };

struct CaptureState {
  MainHeaderState main;
  uint32_t mainChunkAddress;
  uint8_t mainHeader[kMainHeaderBytes];
  uint32_t driverRpAddress;
  uint32_t microblockTableAddress;
  uint8_t driverRpHeader[kDriverRpBytes];
  uint32_t driverRpFill;
  uint8_t microblockBytes[kMicroblockBytes];
  uint32_t microblockFill;
  bool captureDone;
};

struct RpListNode {
  RpListNode* next;
  uint64_t size;    // GFB use
  uint32_t length;  // bytes of record
  uint8_t* record;  // header big-endian, sequence words in host order
};

struct ImageState : StageFrame<ImageParams> {
  ImageState() : StageFrame(kImageErrorBase, kImageMessages) {}

  bool examine = false;
  const char* workDir = "";
  platform::Stream* output = nullptr;
  platform::Stream* firmware = nullptr;
  platform::Stream* screen = nullptr;
  InputBuffer input;  // the firmware or a screen file, whichever is read
  platform::Stream* argFile = nullptr;
  uint32_t ramUnits = 0;

  ModuleStatus status = {};
  DriverFigures figures = {};
  CaptureState capture = {};

  RpListNode* rpHead = nullptr;
  RpListNode* rpTail = nullptr;
  uint64_t fbGfbSizes[kMaxFbs] = {};
  uint64_t screenGfb = 0;

  // The memory figures of the summary, unclipped, for the fit checks.
  uint64_t gfbUsed = 0;
  uint64_t gfbTotal = 0;
  uint64_t driverCode = 0;

  uint32_t cursor = 0;
  uint8_t record[kRpRecordBytes] = {};
  std::string line;  // the download line being written

  int failNodeAt = 0;  // test hook: counts down to a failed node allocation
};

ImageState& State() {
  static ImageState state;
  return state;
}

uint32_t Saturate32(uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(v); }

uint32_t GetHost32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void PutHost32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

// ---------------------------------------------------------------------------
// The download file and its line writers

// The tagged lines carry "xx" in place of a checksum.
constexpr char kLineTail[] = "xx\n";

// Room for a tagged line of `length` data bytes: two digits per byte, and
// at most 27 characters besides -- "S1", a count of up to 8 digits, the tag,
// the chunk fields and the tail.
char* StartLine(size_t length) {
  std::string& line = State().line;
  line.resize(32 + 2 * length);
  char* p = line.data();
  *p++ = 'S';
  *p++ = '1';
  return p;
}

void FinishLine(platform::Stream* out, char* end) {
  end = std::copy_n(kLineTail, 3, end);
  const std::string& line = State().line;
  platform::Write(out, line.data(), static_cast<size_t>(end - line.data()));
}

void WriteTaggedRecord(uint16_t tag, const uint8_t* data, size_t length) {
  platform::Stream* out = State().output;
  if (out == nullptr) return;
  char* p = StartLine(length);
  p = PutHex(p, static_cast<uint32_t>(length + 3), 2);
  p = PutHex(p, tag, 4);
  p = PutHexBytes(p, data, length);
  FinishLine(out, p);
}

void WriteChunkedRecord(uint16_t tag, const uint8_t* data, size_t length) {
  platform::Stream* out = State().output;
  if (out == nullptr || length == 0) return;
  size_t offset = 0;
  unsigned sequence = 0;
  do {
    size_t n = length - offset < 32 ? length - offset : 32;
    char* p = StartLine(n);
    p = PutHex(p, static_cast<uint32_t>(n + 8), 2);
    p = PutHex(p, tag, 4);
    p = PutHex(p, sequence, 2);
    p = PutHex(p, static_cast<uint32_t>(offset), 8);
    p = PutHexBytes(p, data + offset, n);
    FinishLine(out, p);
    offset += n;
    if (++sequence == 256) sequence = 1;
  } while (offset < length);
}

void WriteEndRecord() {
  if (State().output != nullptr) platform::WriteText(State().output, "S9030000FC\n");
}

void OpenImageOutput() {
  ImageState& st = State();
  if (st.params->outputFileName == nullptr) return;
  st.output = st.OpenWorkFile(st.params->outputFileName, "w", 2, "Opening Out File \"%s\"\n", kErrOpen);
}

void CloseImageOutput() {
  ImageState& st = State();
  if (st.output == nullptr) return;
  platform::Stream* out = st.output;
  st.output = nullptr;
  // Only a close that flushed everything and found no error leaves a
  // complete file.
  if (!platform::Close(out)) {
    std::string why = platform::SystemErrorText(platform::LastError());
    st.Fail(kErrIncomplete, st.workDir, st.params->outputFileName, why.c_str());
  }
}

// ---------------------------------------------------------------------------
// The module status token

// The value of the field at `col`, or the empty text once the token ends,
// so that no conversion reads past it.
const char* Column(const char* token, size_t length, size_t col) {
  return col < length ? token + col : token + length;
}

// Converts `count` bytes of two columns each; false at the first byte that
// does not convert.
bool ScanByteList(const char* token, size_t length, size_t col, uint8_t* out, int count) {
  for (int i = 0; i < count; ++i) {
    size_t at = col + 2 * static_cast<size_t>(i);
    uint32_t v = 0;
    if (at >= length || ScanText(token + at, "%2x", &v) != 1) return false;
    out[i] = static_cast<uint8_t>(v);
  }
  return true;
}

// One group of the layout 16-bit, two bytes (columns 12 and 60).
int ScanShortGroup(const char* text, uint16_t* a, uint8_t* b, uint8_t* c) {
  uint32_t va = 0, vb = 0, vc = 0;
  int r = ScanText(text, "%4x%2x%2x", &va, &vb, &vc);
  *a = static_cast<uint16_t>(va);
  *b = static_cast<uint8_t>(vb);
  *c = static_cast<uint8_t>(vc);
  return r;
}

// One group of three 16-bit fields and a 32-bit one (columns 40 and 88).
int ScanWordGroup(const char* text, uint16_t* a, uint16_t* b, uint16_t* c, uint32_t* d) {
  uint32_t va = 0, vb = 0, vc = 0, vd = 0;
  int r = ScanText(text, "%4x%4x%4x%8lx", &va, &vb, &vc, &vd);
  *a = static_cast<uint16_t>(va);
  *b = static_cast<uint16_t>(vb);
  *c = static_cast<uint16_t>(vc);
  *d = vd;
  return r;
}

void PrintLoadedSections() {
  const ModuleStatus& s = State().status;
  State().Print(2, "\nFirmware sections currently loaded in the module:\n");
  for (const FirmwareSection& f : s.sections) {
    State().Print(2, "  ID=%d (%s), Version=%08lX, BlockSize=%08lX, CRC=%04X\n", f.id, SectionName(f.id),
                  f.version, f.blockSize, static_cast<unsigned>(f.crc));
    if (f.id == 3) break;
  }
}

// ---------------------------------------------------------------------------
// The firmware file

struct FirmwareRecord {
  int type;
  int count;
  uint32_t address;
  int length;
  uint8_t data[kMaxRecordData];
};

enum ReadResult { kRecordRead = 0, kRecordEof = 1, kRecordEnd = 2, kRecordChecksum = 3, kRecordType = 4 };

constexpr int ParseHexDigit(int c) {
  c = AsciiUpper(static_cast<unsigned char>(c));
  if (c >= '0' && c <= '9') return c - '0';
  return c - 55;
}

// ParseHexDigit of every byte, one look-up each.
constexpr auto kDigitValue = [] {
  std::array<int16_t, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<int16_t>(ParseHexDigit(c));
  return table;
}();

// Reads n bytes of two characters each into a big-endian value (and, with
// store, into it byte by byte); false when the file ends first.  A byte of
// characters other than hexadecimal digits can lie outside 0 to 255: the
// value takes it whole, so that such digits never pass for a plausible
// address or count, while the stored bytes and the checksum take its low
// 8 bits.
bool ReadHexBytes(int n, int& remaining, InputBuffer& s, uint8_t& sum, uint32_t& value,
                  uint8_t* store = nullptr) {
  value = 0;
  for (int i = 0; i < n; ++i) {
    int hi, lo;
    if (const uint8_t* p = s.Peek(2)) {
      hi = p[0];
      lo = p[1];
      s.Skip(2);
    } else {
      hi = s.Next();
      if (hi == platform::kEndOfFile) return false;
      lo = s.Next();
      if (lo == platform::kEndOfFile) return false;
    }
    const int byte = 16 * kDigitValue[hi] + kDigitValue[lo];
    const uint8_t low = static_cast<uint8_t>(byte & 0xFF);
    sum = static_cast<uint8_t>(sum + low);
    value = value * 256 + static_cast<uint32_t>(byte);
    if (store != nullptr) store[i] = low;
    --remaining;
  }
  return true;
}

int ReadFirmwareRecord(InputBuffer& s, FirmwareRecord& rec) {
  int c;
  do {
    c = s.Next();
    if (c == platform::kEndOfFile) return kRecordEof;
  } while (c != 'S');
  int type = s.Next();
  if (type == platform::kEndOfFile) return kRecordEof;
  int addressBytes = 0;
  bool endRecord = false;
  switch (type) {
    case '0': case '1': case '9': addressBytes = 2; break;
    case '2': case '8': addressBytes = 3; break;
    case '3': case '7': addressBytes = 4; break;
    default: return kRecordType;
  }
  endRecord = type >= '7';
  rec.type = type;
  uint8_t sum = 0;
  int remaining = 0;
  uint32_t value = 0;
  if (!ReadHexBytes(1, remaining, s, sum, value)) return kRecordEof;
  rec.count = static_cast<int>(value);
  remaining = rec.count;
  if (!ReadHexBytes(addressBytes, remaining, s, sum, rec.address)) return kRecordEof;
  rec.length = remaining - 1;
  // A count the address and checksum do not fit into, or one announcing
  // more data than a record holds, is no S-record of ours.
  if (rec.length < 0 || rec.length > static_cast<int>(kMaxRecordData)) return kRecordType;
  if (!ReadHexBytes(rec.length, remaining, s, sum, value, rec.data)) return kRecordEof;
  if (!ReadHexBytes(1, remaining, s, sum, value)) return kRecordEof;
  if (sum != 0xFF) return kRecordChecksum;
  return endRecord ? kRecordEnd : kRecordRead;
}

void OpenFirmwareFile() {
  ImageState& st = State();
  st.firmware = st.OpenWorkFile(st.params->firmwareFileName, "r", 2,
                                "Opening module driver firmware file \"%s\"\n", kErrOpen);
}

void CloseFirmwareFile() {
  ImageState& st = State();
  if (st.firmware == nullptr) return;
  st.Print(2, "Closing module driver firmware file\n");
  platform::Close(st.firmware);  // a read stream has nothing left to lose
  st.firmware = nullptr;
}

void ParseChunkHeader(const FirmwareRecord& rec, FirmwareSection& section) {
  section.crc = GetBe16(rec.data + 4);
  section.id = GetBe16(rec.data + 6);
  section.version = GetBe32(rec.data + 8);
  section.blockSize = GetBe32(rec.data + 16);
  CaptureState& cap = State().capture;
  if (section.id == 3 && !cap.captureDone) {
    cap.main = MainHeaderState::Collecting;
    cap.mainChunkAddress = rec.address;
  }
}

int ShouldReplaceSection(const FirmwareSection& s, bool log) {
  ImageState& st = State();
  if (st.examine) return 0;
  const char* name = SectionName(s.id);
  if (log) {
    st.Print(2, "Firmware section being considered for downloading:\n");
    st.Print(2, "  ID=%d (%s), Version=%08lX, BlockSize=%08lX, CRC=%04X\n", s.id, name, s.version,
             s.blockSize, static_cast<unsigned>(s.crc));
  }
  FirmwareSection* slot = nullptr;
  for (FirmwareSection& f : st.status.sections) {
    if (f.blockSize != 0 && f.id == s.id) {
      slot = &f;
      break;
    }
  }
  if (log) st.Progress("  Replacing firmware section %d (%s)? ", s.id, name);
  if (slot == nullptr) {
    if (log) {
      st.Progress("Yes!\n");
      st.Print(2, "  Why? This section is currently missing or corrupt in the module.\n\n");
    }
    return 1;
  }
  if (slot->crc == s.crc && (slot->version >> 16) == (s.version >> 16) && slot->blockSize == s.blockSize) {
    if (log) {
      st.Progress("No.\n");
      st.Print(2, "  Why? This section is an exact match of what is currently loaded in the module.\n\n");
    }
    return 0;
  }
  if (slot->blockSize != s.blockSize) {
    for (FirmwareSection& f : st.status.sections) f = FirmwareSection{};
  }
  if (log) {
    st.Progress("Yes!\n");
    st.Print(2, "  Why? This section is different than the section currently loaded in the module.\n\n");
  }
  return 1;
}

int ParseSectorNumber(const FirmwareRecord& rec) {
  if (rec.length == 0) return -1;
  char text[kMaxRecordData + 1];
  std::memcpy(text, rec.data, static_cast<size_t>(rec.length));
  text[rec.length] = '\0';
  int32_t n = 0;
  if (ScanText(text, "SECTOR%d", &n) != 1) return -1;
  return n;
}

void ReadMainSectionHeader() {
  ImageState& st = State();
  const uint8_t* h = st.capture.mainHeader;
  st.figures.ramNotUsedForGfb = GetBe32(h + 0x30);
  st.figures.fbrunSize = GetBe32(h + 0x34);
  st.capture.driverRpAddress = GetBe32(h + 0x38);
  st.capture.microblockTableAddress = GetBe32(h + 0x3C);
  st.Print(2, "Module driver RP found at address = 0x%lX\n", st.capture.driverRpAddress);
  st.Print(2, "Microblock memory requirements table found at address = 0x%lX\n",
           st.capture.microblockTableAddress);
  st.figures.browserVersion = h[0x50];
  st.Print(0, "Vistrel browser code = version %d\n", static_cast<int>(st.figures.browserVersion));
  st.capture.main = MainHeaderState::Taken;
  st.capture.driverRpFill = 0;
  st.capture.microblockFill = 0;
}

// Takes the driver figures from what the capture holds (bytes never
// captured read 0) and logs them.
void FinishDriverFigures() {
  ImageState& st = State();
  DriverFigures& f = st.figures;
  CaptureState& cap = st.capture;
  cap.captureDone = true;
  cap.driverRpAddress = 0;
  cap.microblockTableAddress = 0;
  f.pars = GetBe32(cap.driverRpHeader + 0x44);
  f.stat = GetBe32(cap.driverRpHeader + 0x48);
  f.vars = GetBe32(cap.driverRpHeader + 0x4C);
  f.hist = GetBe32(cap.driverRpHeader + 0x50);
  for (uint32_t k = 0; k < kMicroblockEntries; ++k) f.microblockSizes[k] = GetBe16(cap.microblockBytes + 2 * k);
  st.Print(2, "Size of module driver Pars = %lu\n", f.pars);
  st.Print(2, "Size of module driver Stat = %lu\n", f.stat);
  st.Print(2, "Size of module driver Vars = %lu\n", f.vars);
  st.Print(2, "Size of module driver Hist = %lu\n", f.hist);
  st.Print(2, "\nIndividual microblock memory requirements in bytes:\n");
  uint32_t k = 0;
  for (; k < kMicroblockEntries && f.microblockSizes[k] != 0xFFFF; ++k) {
    unsigned m = 0x8000 + k;
    if (f.microblockSizes[k] == 0xFFFE) {
      st.Print(2, "  Mb%X = Unsupported.\n", m);
    } else {
      st.Print(2, "  Mb%X = ", m);
      st.Print(2, "%u\n", static_cast<unsigned>(f.microblockSizes[k]));
    }
  }
  f.microblocksRecognized = k;
  st.Print(2, "\nTotal microblocks recognized = %u\n", k);
  st.Print(2, "Size of FBRUN structure = %lu\n", f.fbrunSize);
  st.Print(2, "Physical RAM not used for GFB storage = %lu\n", f.ramNotUsedForGfb);
}

void CaptureDriverTables(const FirmwareRecord& rec) {
  CaptureState& cap = State().capture;
  if (cap.captureDone) return;
  const uint64_t address = rec.address;
  const uint64_t end = address + static_cast<uint64_t>(rec.length);
  if (cap.main == MainHeaderState::Collecting) {
    const uint64_t m = cap.mainChunkAddress;
    if (address >= m + kMainHeaderBytes) {
      ReadMainSectionHeader();
    } else {
      for (int i = 0; i < rec.length; ++i) {
        uint64_t a = address + static_cast<uint64_t>(i);
        if (a >= m && a < m + kMainHeaderBytes) cap.mainHeader[a - m] = rec.data[i];
      }
    }
  }
  if (cap.microblockTableAddress != 0) {
    const uint64_t t = cap.microblockTableAddress;
    if (address >= t + kMicroblockBytes) {
      cap.microblockTableAddress = 0;
    } else if (end >= t) {
      for (int i = 0; i < rec.length; ++i) {
        uint64_t a = address + static_cast<uint64_t>(i);
        if (a >= t + kMicroblockBytes) {
          cap.microblockTableAddress = 0;
          break;
        }
        if (a >= t && cap.microblockFill < kMicroblockBytes) cap.microblockBytes[cap.microblockFill++] = rec.data[i];
      }
    }
  }
  if (cap.driverRpAddress != 0) {
    const uint64_t r = cap.driverRpAddress;
    if (address >= r + kDriverRpBytes) {
      cap.driverRpAddress = 0;
    } else if (end >= r) {
      uint64_t skip = address < r ? r - address : 0;
      uint64_t n = static_cast<uint64_t>(rec.length) - skip;
      if (cap.driverRpFill + n > kDriverRpBytes) {
        n = kDriverRpBytes - cap.driverRpFill;
        cap.driverRpAddress = 0;
      }
      std::memcpy(cap.driverRpHeader + cap.driverRpFill, rec.data + skip, n);
      cap.driverRpFill += static_cast<uint32_t>(n);
    }
  }
  if (cap.main == MainHeaderState::Taken && cap.driverRpAddress == 0 && cap.microblockTableAddress == 0)
    FinishDriverFigures();
}

// At the end record: figures whose tables reach up to the last data record
// are finished with what was captured, rather than left at 0 and
// understating what the driver needs.
void FinishCaptureAtEnd() {
  CaptureState& cap = State().capture;
  if (cap.captureDone || cap.main == MainHeaderState::NotSeen) return;
  if (cap.main == MainHeaderState::Collecting) ReadMainSectionHeader();
  FinishDriverFigures();
}

// State of one firmware pass; the replay starts the reading again and keeps it.
struct FirmwarePass {
  uint32_t sectorSize = 0;
  bool replace = false;
  bool groupOpen = false;
  bool replay = false;
  bool replayDone = false;
  unsigned sequence = 0;
  uint32_t sectionEnd = 0xFFFFFFFF;
  bool sectorFlag = false;
  uint32_t loadAddress = 0;
  uint32_t loadOffset = 0;
  int recordNumber = 0;
};

void CloseFirmwareGroup(FirmwarePass& pass) {
  if (pass.groupOpen) WriteTaggedRecord(kTagFirmwareEnd, nullptr, 0);
  pass.groupOpen = false;
}

void OpenFirmwareGroup(FirmwarePass& pass, uint32_t address) {
  if (!pass.replay) {
    if (pass.sectorSize == 0) {
      State().Print(0, "\nFlash sector size was not included in the ARG file.\n");
      State().Fail(kErrNoFlashSize);
    }
    if (pass.loadAddress != 0) {
      pass.loadOffset = pass.loadAddress - address;
      State().Print(0, "\nApplying a load offset of 0x%lX bytes.\n", pass.loadOffset);
    } else if (address % pass.sectorSize != 0) {
      State().Fail(kErrSectorMap, static_cast<int32_t>(address / 1024), static_cast<int32_t>(pass.sectorSize / 1024));
    }
  }
  WriteTaggedRecord(kTagFirmwareBegin, nullptr, 0);
  pass.groupOpen = true;
}

void WriteFirmwareData(FirmwarePass& pass, const FirmwareRecord& rec) {
  uint8_t payload[5 + kMaxRecordData];
  payload[0] = static_cast<uint8_t>(pass.sequence);
  PutBe32(payload + 1, rec.address + pass.loadOffset);
  std::memcpy(payload + 5, rec.data, static_cast<size_t>(rec.length));
  WriteTaggedRecord(kTagFirmwareData, payload, 5 + static_cast<size_t>(rec.length));
  pass.sequence = pass.sequence == 255 ? 1 : pass.sequence + 1;
}

void HandleHeaderRecord(FirmwarePass& pass, const FirmwareRecord& rec) {
  int n = ParseSectorNumber(rec);
  if (n == -1) return;
  State().Print(2, "\nPosition independent module driver detected.\n");
  pass.sectorFlag = true;
  if (pass.sectorSize == 0) return;
  if (n != 0) {
    pass.loadAddress = static_cast<uint32_t>(n) * pass.sectorSize;
    State().Print(0, "\nModule driver designed to load at sector %d, which is 0x%lX.\n", n, pass.loadAddress);
  } else {
    pass.loadAddress = (State().figures.lastDataEnd / pass.sectorSize + 1) * pass.sectorSize;
    State().Print(0, "\nModule driver designed to load at next sector, which is 0x%lX.\n", pass.loadAddress);
  }
}

// Returns true when the replay starts.
bool HandleChunkHeader(FirmwarePass& pass, const FirmwareRecord& rec) {
  if (rec.length < 20) State().Fail(kErrShortChunk, pass.recordNumber);
  FirmwareSection section = {};
  ParseChunkHeader(rec, section);
  const bool atReplayChunk = rec.address == 0x400;
  // The replay happens once; a later chunk at 0x400 is an ordinary chunk.
  if (atReplayChunk && !pass.replace && !pass.replayDone && ShouldReplaceSection(section, false)) {
    pass.sectionEnd = section.blockSize;
    pass.replace = true;
    pass.replay = true;
    pass.replayDone = true;
    return true;
  }
  if (pass.replay && !atReplayChunk) {
    CloseFirmwareGroup(pass);
    pass.replay = false;
    pass.sequence = 0;
  }
  pass.replace = ShouldReplaceSection(section, true) != 0;
  pass.sectionEnd = atReplayChunk ? section.blockSize : rec.address + section.blockSize;
  return false;
}

void ProcessFirmwareFile() {
  ImageState& st = State();
  FirmwarePass pass;
  pass.sectorSize = static_cast<uint32_t>(st.status.flashSize) * kFlashSectorUnit;
  for (;;) {  // one turn per pass; a second turn is the replay
    platform::Seek(st.firmware, 0);
    st.input.Start(st.firmware);
    pass.recordNumber = 0;
    bool restart = false;
    while (!restart) {
      FirmwareRecord rec;
      int result = ReadFirmwareRecord(st.input, rec);
      // A read error is no end of the file: the firmware counts as one that
      // did not open, never as records that end early.
      if (st.input.Failed()) st.Fail(kErrOpen, st.params->firmwareFileName, st.workDir);
      ++pass.recordNumber;
      switch (result) {
        case kRecordEof: st.Fail(kErrEndOfFile, pass.recordNumber);
        case kRecordChecksum: st.Fail(kErrChecksum, pass.recordNumber);
        case kRecordType: st.Fail(kErrFormat, pass.recordNumber);
        case kRecordEnd:
          CloseFirmwareGroup(pass);
          FinishCaptureAtEnd();
          return;
        default: break;
      }
      if (rec.type == '0') {
        HandleHeaderRecord(pass, rec);
        continue;
      }
      if (rec.address == 0x400 || rec.address >= pass.sectionEnd || pass.sectorFlag) {
        if (HandleChunkHeader(pass, rec)) {
          restart = true;
          continue;
        }
      }
      if (pass.replace) {
        if (!pass.groupOpen) OpenFirmwareGroup(pass, rec.address);
        WriteFirmwareData(pass, rec);
      }
      const uint32_t start = rec.address + pass.loadOffset;
      st.figures.lastDataEnd = start + static_cast<uint32_t>(rec.length);
      st.figures.codeEnd = static_cast<uint64_t>(start) + static_cast<uint64_t>(rec.length);
      CaptureDriverTables(rec);
      pass.sectorFlag = false;
    }
  }
}

// ---------------------------------------------------------------------------
// RP extraction, the RP list and the FB entries

// Converts the numeric header fields between host order and the big-endian
// form the module receives.
void SwapRpHeader(uint8_t* record) {
  uint16_t first;
  std::memcpy(&first, record, sizeof first);
  PutBe16(record, first);
  for (size_t offset : {2, 38, 44, 48, 52, 56, 60, 64}) PutBe32(record + offset, GetHost32(record + offset));
}

const char* RpName(const uint8_t* record) { return reinterpret_cast<const char*>(record + 6); }

void FreeRpList() {
  ImageState& st = State();
  for (RpListNode* n = st.rpHead; n != nullptr;) {
    RpListNode* next = n->next;
    ::operator delete(n);
    n = next;
  }
  st.rpHead = st.rpTail = nullptr;
}

void AppendRpList(const uint8_t* record, uint32_t length) {
  ImageState& st = State();
  void* memory = nullptr;
  if (st.failNodeAt == 0 || --st.failNodeAt != 0)
    memory = ::operator new(sizeof(RpListNode) + length, std::nothrow);
  // An RP the list cannot hold would vanish from the memory figures.
  if (memory == nullptr) st.Fail(kErrInternal);
  auto* node = static_cast<RpListNode*>(memory);
  node->next = nullptr;
  node->size = ((static_cast<uint64_t>(length) + 3) & ~uint64_t{3}) + kObjectOverhead;
  node->length = length;
  node->record = reinterpret_cast<uint8_t*>(node + 1);
  std::memcpy(node->record, record, length);
  uint32_t offset = GetBe32(node->record + 48);
  uint32_t end = offset + GetBe32(node->record + 44);
  for (uint32_t i = offset; i + 1 < end && i + 1 < length; i += 2) {
    uint16_t w = GetBe16(node->record + i);
    std::memcpy(node->record + i, &w, sizeof w);
    if (w == 0xFFFF) break;
  }
  if (st.rpTail == nullptr) st.rpHead = node;
  else st.rpTail->next = node;
  st.rpTail = node;
}

const RpListNode* FindParentRp(const char* fbName) {
  for (const RpListNode* n = State().rpHead; n != nullptr; n = n->next) {
    if (std::strncmp(RpName(n->record), fbName, 16) == 0) {
      State().Print(2, "Parent RP found: %.16s\n", RpName(n->record));
      return n;
    }
  }
  return nullptr;
}

uint64_t SumMicroblockSizes(const RpListNode& node) {
  const DriverFigures& f = State().figures;
  uint32_t offset = GetBe32(node.record + 48);
  uint32_t end = offset + GetBe32(node.record + 44);
  uint64_t sum = 0;
  for (uint32_t i = offset; i + 1 < end && i + 1 < node.length; i += 2) {
    uint16_t w;
    std::memcpy(&w, node.record + i, sizeof w);
    if (w == 0xFFFF) break;
    if ((w & 0x8000) == 0) continue;
    uint32_t k = w & 0x7FFFu;
    if (k < f.microblocksRecognized && k < kMicroblockEntries && f.microblockSizes[k] < 0xFFFE)
      sum += f.microblockSizes[k];
  }
  return sum;
}

// Every byte the extraction reads lies inside the image; one that would not
// means the image holds no RP of the expected form.
void NeedInImage(uint64_t index) {
  if (index >= kImageSize) State().Fail(kErrInternal);
}

int ExtractNextRp() {
  ImageState& st = State();
  const uint8_t* image = LinkedImage();
  uint8_t* record = st.record;
  st.Print(2, "Looking For RP.\n");
  const uint32_t start = st.cursor;
  if (static_cast<uint64_t>(start) + 1 >= kImageSize || image[start] != 0x11 || image[start + 1] != 0x11) {
    st.Print(2, "None found.\n");
    return 0;
  }
  std::memset(record, 0, kRpHeaderBytes);
  uint32_t p = start + 2;
  uint32_t underscore = p;
  for (;; ++underscore) {
    NeedInImage(underscore);
    if (image[underscore] == '_') break;
  }
  uint32_t nameLength = underscore - p < 16 ? underscore - p : 16;
  std::memcpy(record + 6, image + p, nameLength);
  p = underscore + 5;
  for (uint32_t i = 0; i < 16; ++i) {
    NeedInImage(static_cast<uint64_t>(p) + i);
    if (image[p + i] == 0) break;
    record[22 + i] = image[p + i];
  }
  st.Print(2, "Found \"%.16s\", version \"%.16s\".\n", RpName(record), reinterpret_cast<const char*>(record + 22));

  uint64_t m = p;
  for (;; ++m) {
    NeedInImage(m + 3);
    if (image[m] == 0xBD && image[m + 1] == 0xBD && image[m + 2] == 0xBD && image[m + 3] == 0xBE) break;
  }
  NeedInImage(m + 14);
  const uint32_t iSequence = GetBe16(image + m + 11);
  const uint32_t iXData = GetBe16(image + m + 13);
  st.Print(2, "iSequence = %04.4X  iXData = %04.4X.\n", iSequence, iXData);
  st.Print(2, "uSequenceOffset = 0x%lX\n", kRpHeaderBytes);

  uint32_t sequenceSize = 0;
  for (uint64_t i = iSequence;; i += 2) {
    NeedInImage(i + 1);
    record[kRpHeaderBytes + sequenceSize] = image[i];
    record[kRpHeaderBytes + sequenceSize + 1] = image[i + 1];
    sequenceSize += 2;
    if (image[i] == 0xFF && image[i + 1] == 0xFF) break;
  }
  st.Print(2, "uSequenceSize = %04.4X.\n", sequenceSize);
  const uint32_t xdataOffset = kRpHeaderBytes + sequenceSize;

  uint64_t t = iXData;
  for (;; ++t) {
    NeedInImage(t + 4);
    if (image[t] == 0xFF && image[t + 1] == 0xFF && image[t + 2] == 0xFF && image[t + 3] == 0xFF &&
        image[t + 4] != 0xFF)
      break;
  }
  const uint32_t xdataSize = static_cast<uint32_t>(t - iXData);
  std::memcpy(record + xdataOffset, image + iXData, xdataSize);
  // The cursor only moves forward, so the extraction always ends.
  if (t + 4 <= start) st.Fail(kErrInternal);
  st.cursor = static_cast<uint32_t>(t + 4);
  st.Print(2, "uXDataSize = %04.4X.\n", xdataSize);

  const uint32_t length = xdataOffset + xdataSize;
  PutHost32(record + 2, length);
  PutHost32(record + 44, sequenceSize);
  PutHost32(record + 48, kRpHeaderBytes);
  PutHost32(record + 52, xdataSize);
  PutHost32(record + 56, xdataOffset);
  st.Print(2, "dwLength = %04.4X.\n", length);
  return 1;
}

const FbList& FbRows(int* count) {
  const FbList& list = PlannerFbList();
  *count = list.count < 0 ? 0 : list.count > kMaxFbs ? kMaxFbs : list.count;
  return list;
}

void BuildModuleDatabase() {
  ImageState& st = State();
  WriteTaggedRecord(kTagDatabaseStart, nullptr, 0);
  st.cursor = kFirstRp;
  st.Print(2, "Extracting RP's.\n");
  int32_t extracted = 0;
  while (ExtractNextRp()) {
    const uint32_t length = GetHost32(st.record + 2);
    uint8_t header[6] = {'R', 'P', 0, 0, 0, 0};
    PutBe32(header + 2, length);
    SwapRpHeader(st.record);
    if (!st.examine) {
      static const uint8_t kObjectEnd[3] = {0x01, 0x00, 0x00};
      WriteTaggedRecord(kTagObjectHeader, header, sizeof header);
      WriteChunkedRecord(kTagRpData, st.record, length);
      WriteTaggedRecord(kTagObjectEnd, kObjectEnd, sizeof kObjectEnd);
    }
    AppendRpList(st.record, length);
    ++extracted;
  }
  // A break in the chain of RPs would leave the later ones out of the module
  // and out of its memory figures.
  if (extracted < st.params->rpFilesSubmitted) st.Fail(kErrInternal);

  st.Print(2, "Creating FB's.\n");
  int count = 0;
  const FbList& list = FbRows(&count);
  for (int i = 0; i < count; ++i) {
    const FbEntry& fb = list.rows[i];
    size_t nameLength = strnlen(fb.name, sizeof fb.name - 1);
    if (!st.examine) {
      uint8_t payload[7 + sizeof fb.name] = {};
      payload[5] = static_cast<uint8_t>(fb.number);
      std::memcpy(payload + 6, fb.name, nameLength);
      WriteTaggedRecord(kTagFbEntry, payload, nameLength + 7);
    }
    char name[sizeof fb.name];
    std::memcpy(name, fb.name, nameLength);
    name[nameLength] = '\0';
    if (const RpListNode* parent = FindParentRp(name)) {
      st.fbGfbSizes[i] = (SumMicroblockSizes(*parent) & ~uint64_t{3}) + st.figures.fbrunSize + kFbGfbOverhead;
    }
  }
}

// ---------------------------------------------------------------------------
// Download supplements

// Reads at most capacity - 1 bytes, up to and including a line end; the
// count is returned so that the copy keeps every byte the line held.
size_t ReadScreenLine(InputBuffer& in, char* buffer, size_t capacity) {
  size_t n = 0;
  buffer[0] = '\0';
  while (n + 1 < capacity) {
    int c = in.Next();
    if (c == platform::kEndOfFile) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = '\0';
  return n;
}

void CloseScreenFile() {
  ImageState& st = State();
  if (st.screen != nullptr) platform::Close(st.screen);
  st.screen = nullptr;
}

void CopyScreenFile(const std::string& path) {
  ImageState& st = State();
  st.screen = OpenShared(path.c_str(), "rt");
  if (st.screen == nullptr) st.Fail(kErrSupplement, path.c_str());
  st.input.Start(st.screen);
  bool smObject = false;
  char line[255];
  size_t length;
  while ((length = ReadScreenLine(st.input, line, sizeof line)) > 0) {
    if (st.output != nullptr) platform::Write(st.output, line, length);
    uint32_t count = 0, kind = 0, objectLength = 0, first = 0, second = 0;
    if (ScanText(line, "S1%2lXFF03%4lX%8lX", &count, &kind, &objectLength) == 3) {
      uint64_t use = static_cast<uint64_t>(objectLength) + kObjectOverhead;
      st.screenGfb += use;
      smObject = kind == 0x534D;
      st.Progress("GFB memory used by %s ... = %6.1f Kbytes\n", path.c_str(), Kbytes(use));
    } else if (smObject && st.figures.browserVersion == 0 &&
               ScanText(line, "S1%2lXFF020000000000%8lX%8lX", &count, &first, &second) == 3) {
      uint64_t use = static_cast<uint64_t>(second) + kObjectOverhead;
      st.screenGfb += use;
      smObject = false;
      st.Progress("GFB memory used by screen work area ....... = %6.1f Kbytes\n", Kbytes(use));
    }
  }
  // A screen file that fails to read would leave the download without its
  // rest: it counts as one that was not found.
  bool unreadable = st.input.Failed();
  CloseScreenFile();
  if (unreadable) st.Fail(kErrSupplement, path.c_str());
}

void ReopenArgFile() {
  ImageState& st = State();
  st.argFile = st.OpenWorkFile(st.params->argFileName, "r", 2, "Opening Arg File \"%s\"\n", kErrOpen);
}

void CloseReopenedArgFile() {
  ImageState& st = State();
  st.Print(2, "Closing Arg File\n");
  if (st.argFile != nullptr) platform::Close(st.argFile);
  st.argFile = nullptr;
}

bool IsNameStop(char c) { return c != '\0' && std::strchr("/,<>?*|", c) != nullptr; }
bool IsWordStop(char c) { return c == ' ' || c == '\t' || c == '='; }

void ScanDownloadSupplements() {
  ImageState& st = State();
  ReopenArgFile();
  // Without the caller's library directory, supplements come from the one
  // the planner took from the ARG file.
  const char* libraryDir = st.params->libraryDir != nullptr ? st.params->libraryDir
                           : st.params->plannerLibraryDir != nullptr ? st.params->plannerLibraryDir
                                                                     : "";
  char line[256];
  while (platform::ReadLine(st.argFile, line, 255)) {
    line[std::strcspn(line, ";\n\r")] = '\0';
    UpperCaseAscii(line);
    char* p = line;
    while (IsWordStop(*p)) ++p;
    char* word = p;
    while (*p != '\0' && !IsWordStop(*p)) ++p;
    if (p - word != 19 || std::strncmp(word, "DOWNLOAD_SUPPLEMENT", 19) != 0) continue;
    if (*p == '\0') continue;
    ++p;
    while (IsNameStop(*p)) ++p;
    char* name = p;
    while (*p != '\0' && !IsNameStop(*p)) ++p;
    if (p == name) continue;
    std::string file(name, p);
    CopyScreenFile(file.find('\\') != std::string::npos ? file : libraryDir + file);
  }
  // The lines after a read error could name further screen files.
  if (platform::ReadFailed(st.argFile)) st.Fail(kErrOpen, st.params->argFileName, st.workDir);
  CloseReopenedArgFile();
}

// ---------------------------------------------------------------------------
// Memory summary and fit checks

uint64_t ComputeDriverGfb() {
  const DriverFigures& f = State().figures;
  uint64_t use = f.fbrunSize;
  for (uint32_t size : {f.pars, f.stat, f.vars, f.hist})
    if (size != 0) use += static_cast<uint64_t>(size) + kObjectOverhead;
  return use;
}

void PrintMemorySummary() {
  ImageState& st = State();
  ImageParams* p = st.params;
  const uint64_t ram = static_cast<uint64_t>(st.ramUnits) * kRamUnitBytes;
  // More RAM kept from the GFBs than the module has leaves no room at all.
  st.gfbTotal = ram > st.figures.ramNotUsedForGfb ? ram - st.figures.ramNotUsedForGfb : 0;
  p->gfbTotal = Saturate32(st.gfbTotal);
  p->firmwareSpace = st.examine ? 0 : Saturate32(st.status.flashSize * kRamUnitBytes);
  st.Progress("\n-------------------- Memory Summary --------------------------\n");
  st.Progress("Module's total GFB memory  = %6.1f Kbytes.\n", Kbytes(st.gfbTotal));
  st.driverCode = st.figures.codeEnd;
  p->driverCodeBytes = Saturate32(st.driverCode);

  uint64_t used = 0;
  for (const RpListNode* n = st.rpHead; n != nullptr; n = n->next) {
    st.Print(0, "   RP %.16s uses %5lu bytes.\n", RpName(n->record), Saturate32(n->size));
    used += n->size;
  }
  const uint64_t driver = ComputeDriverGfb();
  st.Print(0, "   GFB %2d uses %5lu bytes.\n", 15, Saturate32(driver));
  used += driver;
  int count = 0;
  const FbList& list = FbRows(&count);
  for (int i = 0; i < count; ++i) {
    if (st.fbGfbSizes[i] == 0) continue;
    st.Print(0, "   GFB %2d uses %5lu bytes.\n", list.rows[i].number, Saturate32(st.fbGfbSizes[i]));
    used += st.fbGfbSizes[i];
  }
  used += st.screenGfb;
  st.gfbUsed = used;
  p->gfbUsed = Saturate32(used);
  p->gfbUsedWide = used;
  p->gfbTotalWide = st.gfbTotal;

  st.Progress("GFB memory used........... = %6.1f Kbytes (%4.1f%%).\n", Kbytes(used), Percent(used, st.gfbTotal));
  if (used <= st.gfbTotal) {
    uint64_t left = st.gfbTotal - used;
    st.Progress("Trend memory available.... = %6.1f Kbytes (%4.1f%%).\n\n", Kbytes(left),
                Percent(left, st.gfbTotal));
  }
  if (p->firmwareSpace != 0) {
    st.Progress("Exec & Module Driver code  = %6.1f Kbytes (%4.1f%%).\n", Kbytes(st.driverCode),
                Percent(st.driverCode, p->firmwareSpace));
  } else {
    st.Progress("Exec & Module Driver code  = %6.1f Kbytes.\n", Kbytes(st.driverCode));
  }
  st.Progress("--------------------------------------------------------------\n");
}

void CheckMemoryFit() {
  ImageState& st = State();
  if (st.params->firmwareSpace != 0 && st.driverCode > st.params->firmwareSpace) st.Fail(kErrDriverFit);
  if (st.gfbUsed > st.gfbTotal) st.Fail(kErrGfbFit);
}

// ---------------------------------------------------------------------------
// The run

void ImageCleanup() {
  CloseImageOutput();
  CloseFirmwareFile();
  CloseScreenFile();
  if (State().argFile != nullptr) CloseReopenedArgFile();
  FreeRpList();
}

void BuildImage() {
  ImageState& st = State();
  OpenFirmwareFile();
  OpenImageOutput();
  ProcessFirmwareFile();
  CloseFirmwareFile();
  st.Progress("Building Module Database.\n");
  BuildModuleDatabase();
  ScanDownloadSupplements();
  WriteEndRecord();
  CloseImageOutput();
  PrintMemorySummary();
  FreeRpList();
  if (!st.examine) CheckMemoryFit();
  st.Progress("Process completed with no errors.\n");
}

void ResetRun(ImageParams* params) {
  ImageState& st = State();
  FreeRpList();
  st.Begin(params);
  st.examine = params->outputFileName == nullptr;
  st.workDir = "";
  st.figures = DriverFigures{};
  st.capture = CaptureState{};
  for (uint64_t& size : st.fbGfbSizes) size = 0;
  st.screenGfb = 0;
  st.gfbUsed = st.gfbTotal = st.driverCode = 0;
  st.cursor = kFirstRp;
}

}  // namespace

int ParseModuleStatus(const char* token, ModuleStatus* s) {
  *s = ModuleStatus{};
  if (token == nullptr) return 0;
  const size_t len = std::strlen(token);
  if (len < 90) return 0;
  auto at = [&](size_t col) { return Column(token, len, col); };

  uint32_t c0 = 0, c2 = 0, c6 = 0, c8 = 0;
  int count = ScanText(at(0), "%2d%4x%2x%4x", &c0, &c2, &c6, &c8);
  s->col0 = static_cast<uint8_t>(c0);
  s->col2 = static_cast<uint16_t>(c2);
  s->col6 = static_cast<uint8_t>(c6);
  s->col8 = static_cast<uint16_t>(c8);

  count += ScanShortGroup(at(12), &s->col12, &s->col16, &s->col18);
  if (count < 7) return count;
  if (!ScanByteList(token, len, 20, s->col20, 10)) return 7;
  count += ScanWordGroup(at(40), &s->col40, &s->col44, &s->col48, &s->col52) + 1;
  if (count < 12) return count;
  count += ScanShortGroup(at(60), &s->col60, &s->col64, &s->col66);
  if (count < 15) return count;
  if (!ScanByteList(token, len, 68, s->col68, 10)) return 15;
  count += ScanWordGroup(at(88), &s->col88, &s->col92, &s->col96, &s->col100) + 1;
  if (count < 20) return count;
  if (!ScanByteList(token, len, 108, s->col108, 24)) return 20;

  uint32_t ram = 0, flash = 0, c160 = 0;
  count += ScanText(at(156), "%2x%2x%2x", &ram, &flash, &c160) + 1;
  s->ramSize = static_cast<uint8_t>(ram);
  s->flashSize = static_cast<uint8_t>(flash);
  s->col160 = static_cast<uint8_t>(c160);
  if (count < 24) return count;
  if (!ScanByteList(token, len, 162, s->col162, 6)) return 24;
  if (!ScanByteList(token, len, 174, s->col174, 4)) return 25;
  count += 2;

  for (size_t col = 182; s->loadedCount < 4; col += 24) {
    uint32_t id = 0, version = 0, blockSize = 0, crc = 0;
    if (ScanText(at(col), "%4x%8lx%8lx%4x", &id, &version, &blockSize, &crc) < 4) return count;
    FirmwareSection& f = s->sections[s->loadedCount++];
    f.id = static_cast<uint16_t>(id);
    f.version = version;
    f.blockSize = blockSize;
    f.crc = static_cast<uint16_t>(crc);
    count += 4;
  }
  return count;
}

#if defined(VARNEL_TEST_SEAMS)
const ModuleStatus& CurrentModuleStatus() { return State().status; }
#endif

#if defined(VARNEL_FAULT_HOOK)
void FailRpNodeAllocation(int n) { State().failNodeAt = n < 0 ? 0 : n; }
#endif

int RunImageBuilder(ImageParams* params) {
  ImageState& st = State();
  ResetRun(params);
  st.Progress(st.examine ? "Examining Firmware Image.  Please wait ...\n"
                         : "Building Firmware Image.  Please wait ...\n");
  if (ParseModuleStatus(params->statusToken, &st.status) != 0) PrintLoadedSections();
  // A negative memory size counts as none given.
  const uint32_t memoryK = params->memoryK > 0 ? static_cast<uint32_t>(params->memoryK) : 0;
  st.ramUnits = st.status.ramSize != 0 ? st.status.ramSize : memoryK != 0 ? memoryK >> 7 : kDefaultRamUnits;

  st.workDir = params->workDir != nullptr ? params->workDir : "";
  return st.Run(BuildImage, ImageCleanup);
}

}  // namespace varnel
