// The driver data query VarnelGetDriverData: what a module driver supports,
// from its packed .FB file and the built-in driver table, without a link and
// without a log.
#include <cstring>

#include "packfile.h"
#include "planner.h"
#include "runctl.h"
#include "varnel.h"

namespace varnel {
namespace {

// The lists for a driver that only its packed file knows.
struct DefaultDriverLists {
  const char* const* versions;
  const char* const* sizes;
};
constexpr const char* kExec5Versions[] = {"6.0", nullptr};
constexpr const char* kExec5Sizes[] = {"1024", "128", "256", "512", "2048", nullptr};
constexpr const char* kOtherVersions[] = {"4.0", nullptr};
constexpr const char* kOtherSizes[] = {"16", nullptr};

DefaultDriverLists DefaultListsFor(int16_t execType) {
  if (execType == 5) return {kExec5Versions, kExec5Sizes};
  return {kOtherVersions, kOtherSizes};
}

int FindDriverData(const char* driverName, const char* dir, DriverInfo* info,
                   const char* const** versionList, const char* const** sizeList) {
  int fileInfo = 0;
  // Only name.FB answers this question; a path too long to open counts as no file.
  if (OpenPackFile(driverName, dir, "FB") != nullptr) {
    fileInfo = GetPackDriverInfo(info);
    ClosePackFile();
  }
  const DriverTableRow* rows = DriverTable();
  for (int i = 0; i < kDriverTableRows; ++i) {
    const DriverTableRow& row = rows[i];
    if (CompareWildcard(row.pattern, driverName) != 0) continue;
    if (fileInfo == 1 && info->ExecType() == 5 && row.info.ExecType() != 5) continue;
    *versionList = row.execVersions;
    *sizeList = row.memorySizes;
    if (fileInfo == 0) std::memcpy(info, &row.info, sizeof(DriverInfo));
    return 1;
  }
  if (fileInfo == 0) return 0;
  DefaultDriverLists lists = DefaultListsFor(info->ExecType());
  *versionList = lists.versions;
  *sizeList = lists.sizes;
  return 1;
}

// Texts one after another, each with its NUL, and one more NUL after the
// last; a text that does not fit together with that final NUL is left out.
void CopyTextList(char* buffer, const char* const* list, uint32_t length) {
  if (buffer == nullptr) return;
  uint32_t remaining = length;
  size_t used = 0;
  for (; *list != nullptr; ++list) {
    size_t n = std::strlen(*list) + 1;
    if (n >= remaining) continue;
    std::memcpy(buffer + used, *list, n);
    buffer[used + n] = '\0';
    used += n;
    remaining -= static_cast<uint32_t>(n);
  }
}

void CopyModuleTypeName(int type, char* buffer, uint32_t length) {
  // NUL-filled when shorter than the buffer, unterminated when not.
  std::strncpy(buffer, GetModuleTypeName(type), length);
}

}  // namespace
}  // namespace varnel

extern "C" int VarnelGetDriverData(const char* driverName, const char* dir, char* versions,
                                   char* sizes, uint16_t* moduleType, char* typeName,
                                   uint32_t bufferLength) {
  using namespace varnel;
  if (driverName == nullptr) return 0;
  if (dir == nullptr) dir = "";
  // The packed-file reader is the planner's: a link call must not use it meanwhile.
  SerialCall serial;
  DriverInfo info;
  std::memset(&info, 0, sizeof info);
  const char* const* versionList = nullptr;
  const char* const* sizeList = nullptr;
  try {
    if (FindDriverData(driverName, dir, &info, &versionList, &sizeList) == 0) return 0;
  } catch (...) {
    // Out of memory while forming the path: no answer, and no file left open.
    ClosePackFile();
    return 0;
  }
  CopyTextList(versions, versionList, bufferLength);
  CopyTextList(sizes, sizeList, bufferLength);
  uint16_t first = info.AllowedType(0);
  if (moduleType != nullptr) *moduleType = first;
  if (typeName != nullptr) CopyModuleTypeName(first & 0xFF, typeName, bufferLength);
  return 1;
}
