// The packed FB file reader.
//
// A packed file is a 96-byte header (bytes 46 to 95 scrambled by file
// offset), members 1 to 5 back to back behind it and, from format version 32
// on, an extended block (member 6) with the driver information and the
// directory of members 7 to 66.  A CRC-16 over bytes 48 to the end guards it.
#include "packfile.h"

#include <array>
#include <cstring>
#include <string>

#include "ascii.h"
#include "byte_order.h"
#include "files.h"
#include "format.h"
#include "platform/platform.h"

namespace varnel {
namespace {

constexpr int64_t kHeaderOffset = 46;   // first byte of the stored header
constexpr size_t kHeaderSize = 50;      // bytes 46 to 95
constexpr int64_t kDataOffset = 96;     // member 1 starts here
constexpr int64_t kCrcStart = 48;       // the CRC covers 48 to the end
constexpr size_t kExtendedSize = 595;   // member 6
constexpr size_t kChunkSize = 4097;     // the largest single member read
constexpr size_t kCrcChunk = 4096;
constexpr uint16_t kMagic = 0x4173;
constexpr int kExtendedVersion = 32;

// Offsets inside the unscrambled header (file offset minus 46).
constexpr size_t kHdrCrc = 0;
constexpr size_t kHdrDirectory = 6;
constexpr size_t kHdrMagic = 46;
constexpr size_t kHdrVersion = 48;
constexpr size_t kHdrKind = 49;

// Offsets inside the extended block.
constexpr size_t kExtKeyStart = 83;
constexpr size_t kExtField = 92;
constexpr size_t kExtFieldSize = 17;
constexpr size_t kExtDirectory = 109;

// These three stored sizes mark a member the packing tool left out.
constexpr uint32_t kAbsentMarkers[] = {0xFFFFFFFFu, 0x42797254u, 0x61676943u};

struct PackDirEntry {
  uint16_t date = 0;
  uint16_t time = 0;
  uint32_t size = 0;
};

struct PackReaderState {
  platform::Stream* file = nullptr;
  char path[kMaxPath + 1] = {};
  char extension[4] = {};
  int64_t length = 0;  // of the file last opened
  uint8_t header[kHeaderSize] = {};
  uint8_t extended[kExtendedSize] = {};
  uint8_t chunk[kChunkSize] = {};
};

PackReaderState& State() {
  static PackReaderState state;
  return state;
}

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    table[i] = crc;
  }
  return table;
}
constexpr std::array<uint16_t, 256> kCrcTable = MakeCrcTable();

bool IsDatExtension(const char* ext) { return EqualIgnoringCase(ext, "DAT"); }

PackDirEntry GetPackDirEntry(int member) {
  const PackReaderState& st = State();
  const uint8_t* p = nullptr;
  if (member >= 1 && member <= kPackHeaderMembers) {
    p = st.header + kHdrDirectory + 8 * (member - 1);
  } else if (member > kPackExtendedMember && member <= kPackLastMember) {
    p = st.extended + kExtDirectory + 8 * (member - kPackExtendedMember - 1);
  }
  PackDirEntry entry;
  if (p != nullptr) {
    entry.date = GetLe16(p);
    entry.time = GetLe16(p + 2);
    entry.size = GetLe32(p + 4);
  }
  return entry;
}

struct MemberPlace {
  int64_t offset = 0;
  uint32_t size = 0;  // 0: absent
};

// Walks the directory once up to the member asked for.  A stored size that
// is a marker, 2^31 or more, or that would start at or past the end of the
// file counts as absent and takes no room; the extended block always takes
// its fixed size, so members 7 and up keep their places.
MemberPlace LocatePackMember(int member) {
  const PackReaderState& st = State();
  MemberPlace place;
  if (member < 1 || member > kPackLastMember) return place;
  int64_t offset = kDataOffset;
  for (int m = 1; m <= member; ++m) {
    uint32_t size = m == kPackExtendedMember ? kExtendedSize : GetPackDirEntry(m).size;
    for (uint32_t marker : kAbsentMarkers) {
      if (size == marker) size = 0;
    }
    if (size >= 0x80000000u || offset >= st.length) size = 0;
    if (m == member) {
      place.offset = offset;
      place.size = size;
      break;
    }
    offset += m == kPackExtendedMember ? static_cast<int64_t>(kExtendedSize) : size;
  }
  return place;
}

bool ReadPackBytes(uint8_t* data, size_t count, int unscramble) {
  PackReaderState& st = State();
  int64_t position = platform::Tell(st.file);
  size_t got = platform::Read(st.file, data, count);
  if (unscramble == 1 && position >= 0) {
    ScrambleBuffer(data, got, static_cast<uint32_t>(position));
  }
  return got == count;
}

bool ReadPackHeader() {
  PackReaderState& st = State();
  if (!platform::Seek(st.file, kHeaderOffset) || !ReadPackBytes(st.header, kHeaderSize, 1)) {
    return false;
  }
  if (IsExtendedPack()) {
    MemberPlace block = LocatePackMember(kPackExtendedMember);
    // A block cut short by the end of the file reads zero where it is
    // missing, so nothing from outside the file counts as driver data.
    size_t got = 0;
    if (platform::Seek(st.file, block.offset)) {
      got = platform::Read(st.file, st.extended, kExtendedSize);
    }
    if (got >= kExtField + kExtFieldSize) {
      ScrambleBuffer(st.extended + kExtField, kExtFieldSize, st.extended[kExtKeyStart]);
    }
  }
  return !platform::ReadFailed(st.file);
}

bool PackComputeCrc(uint16_t* crc) {
  PackReaderState& st = State();
  *crc = 0;
  if (!platform::Seek(st.file, kCrcStart)) return false;
  for (;;) {
    size_t got = platform::Read(st.file, st.chunk, kCrcChunk);
    if (got == 0) break;
    *crc = PackCrc16(st.chunk, got, *crc);
  }
  return !platform::ReadFailed(st.file);
}

bool VerifyPackCrc() {
  uint16_t crc = 0;
  if (!PackComputeCrc(&crc)) return false;
  return crc == GetLe16(State().header + kHdrCrc);
}

}  // namespace

void ScrambleBuffer(uint8_t* data, size_t length, uint32_t position) {
  for (size_t i = 0; i < length; ++i) {
    data[i] ^= kPackKeyTable[(static_cast<size_t>(position) + i) & 0xFF];
  }
}

uint16_t PackCrc16(const uint8_t* data, size_t length, uint16_t crc) {
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
  }
  return crc;
}

const char* FindPackFile(const char* name, const char* dir) {
  for (const char* ext : {"MDV", "FB", "DAT"}) {
    const char* path = OpenPackFile(name, dir, ext);
    if (path != nullptr) return path;
  }
  return nullptr;
}

const char* OpenPackFile(const char* name, const char* dir, const char* ext) {
  PackReaderState& st = State();
  // A caller that forgot to close would otherwise lose the handle for good.
  ClosePackFile();
  std::memset(st.header, 0, sizeof st.header);
  std::memset(st.extended, 0, sizeof st.extended);
  st.path[0] = '\0';
  st.length = 0;
  if (name == nullptr || ext == nullptr) return nullptr;
  if (dir == nullptr) dir = "";

  const char* pattern = IsDatExtension(ext) ? "%sSYSV%s.%s" : "%s%s.%s";
  std::string path = Format(pattern, dir, name, ext);
  if (path.size() > kMaxPath) return nullptr;
  std::memcpy(st.path, path.c_str(), path.size() + 1);

  st.file = OpenShared(st.path, "rb");
  if (st.file == nullptr) return nullptr;
  CopyBounded(st.extension, ext, 3);
  st.length = platform::Length(st.file);

  // A file too short for its header holds no header to read.
  if (st.length < kDataOffset || !ReadPackHeader() || !VerifyPackCrc()) {
    ClosePackFile();
    return nullptr;
  }
  return st.path;
}

void ClosePackFile() {
  PackReaderState& st = State();
  if (st.file == nullptr) return;
  platform::Close(st.file);
  st.file = nullptr;
}

int GetPackVersion() {
  const PackReaderState& st = State();
  if (GetLe16(st.header + kHdrMagic) != kMagic) return 0;
  return st.header[kHdrVersion];
}

int IsExtendedPack() { return GetPackVersion() >= kExtendedVersion ? 1 : 0; }

int PackKind() {
  if (IsExtendedPack()) return State().header[kHdrKind];
  bool rp = PackMemberSize(kPackRpMember) != 0;
  bool driverHeader = PackMemberSize(kPackDriverHeaderMember) != 0;
  if (driverHeader && !rp) return 2;
  if (!driverHeader && rp) return 1;
  if (IsDatExtension(State().extension) && !rp) return 5;
  return 0;
}

int GetPackDriverInfo(DriverInfo* destination) {
  const PackReaderState& st = State();
  if (!IsExtendedPack() || st.extended[0] == 0) return 0;
  if (destination != nullptr) std::memcpy(destination, st.extended, sizeof(DriverInfo));
  return 1;
}

uint16_t GetPackMemberDate(int member) {
  return IsExtendedPack() ? GetPackDirEntry(member).date : 0;
}

uint16_t GetPackMemberTime(int member) {
  return IsExtendedPack() ? GetPackDirEntry(member).time : 0;
}

uint32_t PackMemberSize(int member) { return LocatePackMember(member).size; }

bool GetPackFileDosTime(uint16_t* dosDate, uint16_t* dosTime) {
  PackReaderState& st = State();
  return st.file != nullptr && platform::GetStreamDosTime(st.file, dosDate, dosTime);
}

int ExtractPackMember(int member, int unscramble, const char* format, ...) {
  PackReaderState& st = State();
  if (st.file == nullptr || format == nullptr) return 0;
  if (member > kPackExtendedMember && !IsExtendedPack()) return 0;
  MemberPlace place = LocatePackMember(member);
  if (place.size == 0) return 0;

  va_list args;
  va_start(args, format);
  std::string formatted = VFormat(format, args);
  va_end(args);
  // Too long a name is refused before any file is touched.
  if (formatted.size() > kMaxPath) return 0;
  char name[kMaxPath + 1];
  std::memcpy(name, formatted.c_str(), formatted.size() + 1);
  MapPathAlias(name);

  BackupExistingFile(name);
  platform::Stream* out = OpenTemporary(name);
  if (out == nullptr) return 0;

  bool ok = platform::Seek(st.file, place.offset);
  int64_t position = place.offset;
  uint32_t remaining = place.size;
  while (ok && remaining > 0) {
    size_t want = remaining < kChunkSize ? remaining : kChunkSize;
    size_t got = platform::Read(st.file, st.chunk, want);
    if (got == 0) break;
    if (unscramble == 1) ScrambleBuffer(st.chunk, got, static_cast<uint32_t>(position));
    ok = platform::Write(out, st.chunk, got);
    position += static_cast<int64_t>(got);
    remaining -= static_cast<uint32_t>(got);
  }
  // A member cut short by the end of the file is copied as far as it goes;
  // one the disk failed to read or take is not unpacked.
  if (platform::ReadFailed(st.file)) ok = false;
  if (!platform::Close(out) || !ok) return 0;

  // A member without a valid date keeps the time of its writing.
  platform::SetFileDosTime(name, GetPackMemberDate(member), GetPackMemberTime(member));
  return 1;
}

}  // namespace varnel
