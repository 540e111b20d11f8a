#include "builders/packer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "builders/files.h"
#include "packfile.h"

namespace varnel::testing {
namespace {

constexpr size_t kHeaderOffset = 46;
constexpr size_t kDataOffset = 96;
constexpr size_t kExtendedSize = 595;
constexpr uint8_t kFieldKeyStart = 0x5A;  // any start works; the reader takes it from the block

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}

void PutEntry(std::vector<uint8_t>& out, size_t at, const PackMember& m) {
  Put16(out, at, m.date);
  Put16(out, at + 2, m.time);
  Put32(out, at + 4, m.sizeField.value_or(static_cast<uint32_t>(m.data.size())));
}

}  // namespace

bool IsExtendedSpec(const PackSpec& spec) { return spec.magic == 0x4173 && spec.version >= 32; }

std::vector<uint8_t> BuildPackFile(const PackSpec& spec) {
  const bool extended = IsExtendedSpec(spec);
  std::vector<const PackMember*> members;
  for (const PackMember& m : spec.members) {
    bool valid = (m.number >= 1 && m.number <= 5) ||
                 (extended && m.number >= 7 && m.number <= 66);
    if (!valid) throw std::invalid_argument("packer: member number out of range");
    members.push_back(&m);
  }
  std::sort(members.begin(), members.end(),
            [](const PackMember* a, const PackMember* b) { return a->number < b->number; });
  for (size_t i = 1; i < members.size(); ++i) {
    if (members[i]->number == members[i - 1]->number) {
      throw std::invalid_argument("packer: member given twice");
    }
  }

  std::vector<uint8_t> out(kDataOffset, 0);
  const char prefix[] = "varnel test pack";
  std::memcpy(out.data(), prefix, sizeof prefix - 1);
  Put16(out, 92, spec.magic);
  out[94] = spec.version;
  out[95] = spec.kind;

  std::vector<uint8_t> block(kExtendedSize, 0);
  if (spec.info) std::memcpy(block.data(), &*spec.info, sizeof(DriverInfo));
  block[83] = kFieldKeyStart;
  ScrambleBuffer(block.data() + 92, 17, kFieldKeyStart);

  auto append = [&out](const PackMember& m) {
    std::vector<uint8_t> data = m.data;
    if (m.scrambled) ScrambleBuffer(data.data(), data.size(), static_cast<uint32_t>(out.size()));
    out.insert(out.end(), data.begin(), data.end());
  };
  for (const PackMember* m : members) {
    if (m->number <= 5) {
      PutEntry(out, 52 + 8 * (m->number - 1), *m);
      append(*m);
    } else {
      PutEntry(block, 109 + 8 * (m->number - 7), *m);
    }
  }
  if (extended) {
    out.insert(out.end(), block.begin(), block.end());
    for (const PackMember* m : members) {
      if (m->number >= 7) append(*m);
    }
  }

  // The CRC covers the file as stored, so the header is scrambled first and
  // its CRC field filled in (scrambled in place) afterwards.
  ScrambleBuffer(out.data() + kHeaderOffset, 50, kHeaderOffset);
  StorePackCrc(out);
  if (spec.badCrc) out[46] ^= 0x01;
  return out;
}

void StorePackCrc(std::vector<uint8_t>& file) {
  if (file.size() < 48) throw std::invalid_argument("packer: no room for the CRC");
  uint16_t crc = PackCrc16(file.data() + 48, file.size() - 48, 0);
  file[46] = static_cast<uint8_t>((crc & 0xFF) ^ kPackKeyTable[46]);
  file[47] = static_cast<uint8_t>((crc >> 8) ^ kPackKeyTable[47]);
}

void WritePackFile(const std::string& path, const PackSpec& spec) {
  WriteBytes(path, BuildPackFile(spec));
}

PackMember Member(int number, const std::string& data, bool scrambled) {
  PackMember m;
  m.number = number;
  m.data = TextBytes(data);
  m.scrambled = scrambled;
  return m;
}

DriverInfo MakeDriverInfo(const std::string& description, int16_t execType,
                          std::vector<uint16_t> allowedTypes) {
  DriverInfo info;
  std::memset(&info, 0, sizeof info);
  size_t n = std::min(description.size(), sizeof info.description);
  std::memcpy(info.description, description.data(), n);
  for (size_t i = n; i < 31; ++i) info.description[i] = ' ';
  info.SetExecType(execType);
  if (allowedTypes.size() > 8) throw std::invalid_argument("packer: more than 8 allowed types");
  for (size_t i = 0; i < allowedTypes.size(); ++i) {
    info.SetAllowedType(static_cast<int>(i), allowedTypes[i]);
  }
  return info;
}

}  // namespace varnel::testing
