// File and path helpers.
#include "files.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "format.h"

namespace varnel {
namespace {

struct FileHelperState {
  // Path prefixes selected by a number before a ':'; a site could fill them,
  // this system never does.
  char pathAliases[21][255] = {};
  // Replaces each "XXX" of a mapped path; never set, so three NULs.
  char xxxCode[3] = {};
  // Room for every path a stage may open, and one character more, so that a
  // longer text stays over the limit instead of being cut into another path.
  char substituted[kMaxPath + 2] = {};
};

FileHelperState& State() {
  static FileHelperState state;
  return state;
}

}  // namespace

platform::Stream* OpenShared(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || std::strlen(path) > kMaxPath) return nullptr;
  return platform::Open(path, mode);
}

platform::Stream* OpenTemporary(const char* path) {
  if (path == nullptr || std::strlen(path) > kMaxPath) return nullptr;
  return platform::OpenNoLink(path, "wb");
}

int FileExists(const char* path) {
  platform::Stream* s = OpenShared(path, "r");
  if (s == nullptr) return 0;
  platform::Close(s);
  return 1;
}

namespace {

// The backup name of a name: a trailing '.' dropped, then the last character
// replaced by '~'.  false when nothing is left to mark.
bool MarkAsBackup(std::string& name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  if (name.empty()) return false;
  name.back() = '~';
  return true;
}

}  // namespace

int BackupExistingFile(const char* path) {
  // A link is put aside as well, even one that names nothing: a file written
  // in its place would land wherever it points.
  if (path == nullptr || std::strlen(path) > kMaxPath) return 0;
  if (!FileExists(path) && !platform::IsLink(path)) return 0;
  std::string backup = path;
  // Nothing left to mark as a backup: leave the file where it is.
  if (!MarkAsBackup(backup)) return 0;
  platform::Remove(backup.c_str());
  platform::Rename(path, backup.c_str());
  return 1;
}

bool BackupEverySpelling(const char* directory, const char* name, EntryFailure* failure) {
  std::vector<platform::Spelling> spellings = platform::FindSpellings(directory, name);
  std::erase_if(spellings, [](const platform::Spelling& s) { return s.kind == platform::EntryKind::kDirectory; });
  std::string backup = name;
  if (spellings.empty() || !MarkAsBackup(backup)) return true;
  // The older backups go first, so that each spelling put aside below keeps
  // a backup of its own.  What cannot go (a directory) takes the backup
  // name from every spelling, as one name of any case does on Windows.
  int taken = 0;  // why the backup name is not free, 0 while it is
  for (const platform::Spelling& older : platform::FindSpellings(directory, backup.c_str())) {
    if (older.kind == platform::EntryKind::kDirectory) {
      taken = EEXIST;
    } else if (!platform::RemoveSpelling(directory, older.name.c_str())) {
      taken = platform::LastError();
    }
  }
  for (const platform::Spelling& s : spellings) {
    std::string aside = s.name;
    MarkAsBackup(aside);
    if (taken == 0 && platform::RenameSpelling(directory, s.name.c_str(), aside.c_str())) continue;
    *failure = {s.name, taken != 0 ? taken : platform::LastError()};
    return false;
  }
  return true;
}

bool RemoveOtherSpellings(const char* directory, const char* name, EntryFailure* failure) {
  for (const platform::Spelling& s : platform::FindSpellings(directory, name)) {
    if (s.kind == platform::EntryKind::kDirectory) continue;
    if (s.kind == platform::EntryKind::kFile && s.name == name) continue;
    if (!platform::RemoveSpelling(directory, s.name.c_str())) {
      *failure = {s.name, platform::LastError()};
      return false;
    }
  }
  return true;
}

void CopyBounded(char* destination, const char* source, size_t n) {
  if (source == nullptr) source = "";
  size_t i = 0;
  for (; i < n && source[i] != '\0'; ++i) destination[i] = source[i];
  for (; i < n; ++i) destination[i] = '\0';
  destination[n] = '\0';
}

int MapPathAlias(char* path) {
  if (path == nullptr) return 1;
  const char* colon = std::strchr(path, ':');
  if (colon == nullptr) return 1;
  int32_t number = 0;
  if (ScanText(path, "%2d", &number) != 1) return 1;
  // Only the 21 numbered entries exist; any other number leaves the path alone.
  if (number < 0 || number > 20) return 1;
  FileHelperState& st = State();
  const char* alias = st.pathAliases[number];
  if (std::strncmp(alias, "NULL", 255) == 0) return 0;
  char mapped[kMaxPath + 1];
  CopyBounded(mapped, alias, kMaxPath);
  size_t used = std::strlen(mapped);
  // A mapped path over the limit could not be opened; cutting it could name
  // another file, so the path stays as it is.
  if (used + std::strlen(colon + 1) > kMaxPath) return 1;
  CopyBounded(mapped + used, colon + 1, kMaxPath - used);
  std::strcpy(path, SubstituteXxx(mapped));
  return 1;
}

char* SubstituteXxx(const char* path) {
  FileHelperState& st = State();
  char* out = st.substituted;
  CopyBounded(out, path, sizeof st.substituted - 1);
  for (size_t i = 0; out[i] != '\0';) {
    if (out[i] == 'X' && out[i + 1] == 'X' && out[i + 2] == 'X') {
      std::memcpy(out + i, st.xxxCode, 3);
      i += 3;
    } else {
      ++i;
    }
  }
  return out;
}

}  // namespace varnel
