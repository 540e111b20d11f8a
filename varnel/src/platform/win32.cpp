// Win32 implementation of the platform layer.
//
// Windows already does most of what the layer's rules ask (backslashes,
// case-insensitive names, dropped trailing blanks and dots, share modes, the
// C runtime's text mode), so this side leaves those to the system.  What is
// not Windows' own -- regular files only, the match and order of a directory
// search, the error texts for 0 and unknown numbers, DOS dates read as UTC
// -- comes from platform/common.h, as on POSIX, so that both builds give the
// same bytes for the same inputs.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <direct.h>
#include <io.h>
#include <share.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "ascii.h"
#include "format.h"
#include "platform/common.h"

namespace varnel::platform {

struct Stream {
  FILE* file = nullptr;
  std::string path;  // as passed to Open: the fault hook's key
  bool reading = false;
  bool readFailed = false;
  bool failed = false;
  bool atEnd = false;
  int error = 0;  // errno of the first failure
  int pushback = kEndOfFile;
#if defined(VARNEL_FAULT_HOOK)
  // A read fault after so many bytes: those the reader got so far.
  bool limited = false;
  uint64_t limit = 0;
  uint64_t delivered = 0;
#endif
};

namespace {

#if defined(VARNEL_FAULT_HOOK)
struct FaultState {
  common::ArmedFaults armed;
};

FaultState& Faults() {
  static FaultState state;
  return state;
}

#define VARNEL_FAULT(path, op) Faults().armed.Fire(path, FaultOp::op)
#else
#define VARNEL_FAULT(path, op) false
#endif

// Only a file on a disk counts as a file to read: CON, NUL, COM1 and pipes
// open through the runtime as well, but are no files.
bool IsDiskFile(FILE* f) {
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

using common::SetFailed;
using common::SetReadFailed;

int ErrnoOr(int fallback) { return errno != 0 ? errno : fallback; }

// After fgetc or fread came back short: a read error, or the end.
void NoteShortRead(Stream* s) {
  if (std::ferror(s->file)) {
    SetReadFailed(s, ErrnoOr(EIO));
    std::clearerr(s->file);
  } else {
    s->atEnd = true;
  }
}

}  // namespace

Stream* Open(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || (mode[0] != 'r' && mode[0] != 'w') ||
      (mode[1] != '\0' && ((mode[1] != 't' && mode[1] != 'b') || mode[2] != '\0'))) {
    errno = EINVAL;
    return nullptr;
  }
  if (VARNEL_FAULT(path, Open)) {
    errno = EIO;
    return nullptr;
  }
  bool reading = mode[0] == 'r';
  // Say 't' outright, so that a changed runtime default cannot make a text
  // stream binary.  The share mode is the rule itself: readers let everyone
  // in, writers keep other writers out, and a refused open empties nothing.
  const char runtimeMode[3] = {mode[0], mode[1] == '\0' ? 't' : mode[1], '\0'};
  FILE* f = _fsopen(path, runtimeMode, reading ? _SH_DENYNO : _SH_DENYWR);
  if (f == nullptr) return nullptr;
  if (reading && !IsDiskFile(f)) {
    std::fclose(f);
    errno = EACCES;
    return nullptr;
  }
  Stream* s = new Stream;
  s->file = f;
  s->path = path;
  s->reading = reading;
#if defined(VARNEL_FAULT_HOOK)
  if (reading) s->limited = Faults().armed.ReadAfter(s->path, &s->limit);
#endif
  return s;
}

namespace {

// The counted read fault of the test hook: true when the stream has given
// its bytes and now fails (once); else *room is how many more it may give.
bool CountedFaultFires(Stream* s, size_t* room) {
#if defined(VARNEL_FAULT_HOOK)
  if (s->limited) {
    if (s->delivered == s->limit) {
      s->limited = false;
      Faults().armed.FiredReadAfter(s->path);
      SetReadFailed(s, EIO);
      return true;
    }
    if (s->limit - s->delivered < *room) *room = static_cast<size_t>(s->limit - s->delivered);
  }
#else
  (void)s;
  (void)room;
#endif
  return false;
}

void CountDelivered(Stream* s, size_t n) {
#if defined(VARNEL_FAULT_HOOK)
  if (s->limited) s->delivered += n;
#else
  (void)s;
  (void)n;
#endif
}

}  // namespace

// A reparse point (a symbolic link or a junction) at the path is never
// written through.
Stream* OpenNoLink(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || mode[0] != 'w') {
    errno = EINVAL;
    return nullptr;
  }
  if (IsLink(path)) {
    errno = EACCES;
    return nullptr;
  }
  return Open(path, mode);
}

int Getc(Stream* s) {
  size_t room = 1;
  if (CountedFaultFires(s, &room)) return kEndOfFile;
  if (s->pushback != kEndOfFile) {
    int c = s->pushback;
    s->pushback = kEndOfFile;
    CountDelivered(s, 1);
    return c;
  }
  if (!s->reading) {
    SetReadFailed(s, EBADF);
    return kEndOfFile;
  }
  if (s->atEnd) return kEndOfFile;
  if (VARNEL_FAULT(s->path, Read)) {
    SetReadFailed(s, EIO);
    return kEndOfFile;
  }
  errno = 0;
  int c = std::fgetc(s->file);
  if (c != EOF) {
    CountDelivered(s, 1);
    return c;
  }
  NoteShortRead(s);
  return kEndOfFile;
}

void Ungetc(Stream* s, int c) {
  if (c == kEndOfFile || !s->reading) return;
#if defined(VARNEL_FAULT_HOOK)
  if (s->limited && s->delivered > 0) --s->delivered;
#endif
  s->pushback = c & 0xFF;
  s->atEnd = false;
}

size_t Read(Stream* s, void* data, size_t count) {
  auto* out = static_cast<unsigned char*>(data);
  size_t n = 0;
  if (count == 0) return 0;
  size_t room = count;
  if (CountedFaultFires(s, &room)) return 0;
  if (room < count) {
    // The bytes before the fault, then the fault itself.
    n = Read(s, data, room);
    if (n == room) Getc(s);
    return n;
  }
  if (s->pushback != kEndOfFile) {
    out[n++] = static_cast<unsigned char>(s->pushback);
    s->pushback = kEndOfFile;
    CountDelivered(s, 1);
  }
  if (n == count) return n;
  if (!s->reading) {
    SetReadFailed(s, EBADF);
    return n;
  }
  if (VARNEL_FAULT(s->path, Read)) {
    SetReadFailed(s, EIO);
    return n;
  }
  errno = 0;
  size_t got = std::fread(out + n, 1, count - n, s->file);
  CountDelivered(s, got);
  n += got;
  if (n < count) NoteShortRead(s);
  return n;
}

bool Write(Stream* s, const void* data, size_t count) {
  if (s->reading) {
    SetFailed(s, EBADF);
    return false;
  }
  if (VARNEL_FAULT(s->path, Write)) {
    SetFailed(s, EIO);
    return false;
  }
  errno = 0;
  if (count > 0 && std::fwrite(data, 1, count, s->file) != count) {
    SetFailed(s, ErrnoOr(EIO));
    return false;
  }
  return true;
}

bool Seek(Stream* s, int64_t offset) {
  if (offset < 0) {
    errno = EINVAL;
    return false;
  }
  // The runtime's seek writes out the buffer and drops it when that fails:
  // the failure is the stream's, as with any other write.
  if (!s->reading) {
    errno = 0;
    if (std::fflush(s->file) != 0) {
      SetFailed(s, ErrnoOr(EIO));
      return false;
    }
  }
  s->pushback = kEndOfFile;
  s->atEnd = false;
  return fseeko64(s->file, offset, SEEK_SET) == 0;
}

int64_t Tell(Stream* s) {
  int64_t at = static_cast<int64_t>(ftello64(s->file));
  if (at < 0) return -1;
  return at - (s->pushback != kEndOfFile ? 1 : 0);
}

int64_t Length(Stream* s) {
  // What is still buffered counts.
  if (!s->reading && std::fflush(s->file) != 0) {
    SetFailed(s, ErrnoOr(EIO));
    return -1;
  }
  return static_cast<int64_t>(_filelengthi64(_fileno(s->file)));
}

bool AtEnd(Stream* s) { return s->atEnd; }
bool ReadFailed(Stream* s) { return s->readFailed; }
bool Failed(Stream* s) { return s->failed; }

bool Flush(Stream* s) {
  if (!s->reading) {
    if (VARNEL_FAULT(s->path, Flush)) {
      SetFailed(s, EIO);
    } else {
      errno = 0;
      if (std::fflush(s->file) != 0) SetFailed(s, ErrnoOr(EIO));
    }
  }
  return !s->failed;
}

bool Close(Stream* s) {
  if (s == nullptr) {
    errno = EBADF;
    return false;
  }
  bool ok = Flush(s);
  int error = s->error;
  if (VARNEL_FAULT(s->path, Close)) {
    ok = false;
    if (error == 0) error = EIO;
  }
  errno = 0;
  if (std::fclose(s->file) != 0) {
    if (ok) error = ErrnoOr(EIO);
    ok = false;
  }
  delete s;
  if (!ok) errno = error != 0 ? error : EIO;
  return ok;
}

bool IsReadableFile(const char* path) {
  if (path == nullptr) return false;
  FILE* f = _fsopen(path, "rb", _SH_DENYNO);
  if (f == nullptr) return false;
  bool disk = IsDiskFile(f);
  std::fclose(f);
  return disk;
}

bool EntryExists(const char* path) {
  return path != nullptr && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsLink(const char* path) {
  if (path == nullptr) return false;
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsStreamFile(Stream* s, const char* path) {
  if (s == nullptr || path == nullptr) return false;
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(s->file)));
  BY_HANDLE_FILE_INFORMATION open;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &open)) return false;
  // No access asked, every share allowed: the look never disturbs anyone.
  HANDLE named = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION other;
  bool same = GetFileInformationByHandle(named, &other) &&
              open.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
              open.nFileIndexHigh == other.nFileIndexHigh && open.nFileIndexLow == other.nFileIndexLow;
  CloseHandle(named);
  return same;
}

bool Remove(const char* path) { return path != nullptr && DeleteFileA(path) != 0; }

// The runtime's rename never replaces an existing file, as the rule wants.
bool Rename(const char* from, const char* to) {
  return from != nullptr && to != nullptr && std::rename(from, to) == 0;
}

std::vector<Spelling> FindSpellings(const char* directory, const char* name) {
  std::vector<Spelling> found;
  if (directory == nullptr || name == nullptr) return found;
  std::string search = std::string(directory) + name;
  WIN32_FIND_DATAA entry;
  HANDLE h = FindFirstFileA(search.c_str(), &entry);
  if (h == INVALID_HANDLE_VALUE) return found;
  do {
    // A '?' or '*' of the name is a wildcard to the search, and the search
    // matches 8.3 aliases too: only the name itself counts.
    if (!EqualIgnoringCase(entry.cFileName, name)) continue;
    DWORD a = entry.dwFileAttributes;
    EntryKind kind = (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? EntryKind::kLink
                     : (a & FILE_ATTRIBUTE_DIRECTORY) != 0   ? EntryKind::kDirectory
                     : (a & FILE_ATTRIBUTE_DEVICE) != 0      ? EntryKind::kOther
                                                             : EntryKind::kFile;
    found.push_back({entry.cFileName, kind});
  } while (FindNextFileA(h, &entry));
  FindClose(h);
  std::sort(found.begin(), found.end(), [](const Spelling& a, const Spelling& b) { return a.name < b.name; });
  return found;
}

// Through the runtime, which sets errno.  A link to a directory is removed
// as a directory, the link itself and not what it names.
bool RemoveSpelling(const char* directory, const char* name) {
  if (directory == nullptr || name == nullptr) return false;
  std::string path = std::string(directory) + name;
  DWORD a = GetFileAttributesA(path.c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
      (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
    return _rmdir(path.c_str()) == 0;
  return std::remove(path.c_str()) == 0;
}

bool RenameSpelling(const char* directory, const char* from, const char* to) {
  if (directory == nullptr || from == nullptr || to == nullptr) return false;
  return Rename((std::string(directory) + from).c_str(), (std::string(directory) + to).c_str());
}

namespace {

// The last-write time of an open file as DOS date and time, 0 and 0 when it
// cannot be read or converted.
void DosTimeOf(HANDLE h, uint16_t* dosDate, uint16_t* dosTime) {
  FILETIME lastWrite;
  SYSTEMTIME utc;
  WORD date = 0;
  WORD time = 0;
  // The time stays UTC: no conversion to local time before the DOS form.
  // Not every FileTimeToDosDateTime refuses a year past 2107 (some wrap it
  // into 1980), so the range is checked here as well.
  if (h == INVALID_HANDLE_VALUE || !GetFileTime(h, nullptr, nullptr, &lastWrite) ||
      !FileTimeToSystemTime(&lastWrite, &utc) || utc.wYear < 1980 || utc.wYear > 2107 ||
      !FileTimeToDosDateTime(&lastWrite, &date, &time)) {
    date = 0;
    time = 0;
  }
  *dosDate = date;
  *dosTime = time;
}

}  // namespace

bool GetFileDosTime(const char* path, uint16_t* dosDate, uint16_t* dosTime) {
  if (path == nullptr) return false;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return false;
  }
  DosTimeOf(h, dosDate, dosTime);
  CloseHandle(h);
  return true;
}

bool GetStreamDosTime(Stream* s, uint16_t* dosDate, uint16_t* dosTime) {
  if (s == nullptr) return false;
  DosTimeOf(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(s->file))), dosDate, dosTime);
  return true;
}

bool SetFileDosTime(const char* path, uint16_t dosDate, uint16_t dosTime) {
  // The service's own check of a DOS date differs between Windows versions;
  // the shared one decides, so both builds refuse the same dates.
  int64_t seconds;
  FILETIME stamp;
  if (path == nullptr || !common::DosDateTimeToUtc(dosDate, dosTime, &seconds) ||
      !DosDateTimeToFileTime(dosDate, dosTime, &stamp)) {
    errno = EINVAL;
    return false;
  }
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  // Creation and last-write time; the last-access time stays.
  bool ok = SetFileTime(h, &stamp, nullptr, &stamp) != 0;
  CloseHandle(h);
  return ok;
}

std::vector<std::string> FindFiles(const char* directory, const char* pattern) {
  std::vector<std::string> names;
  if (pattern == nullptr) return names;
  std::string search = std::string(directory != nullptr ? directory : "") + pattern;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(search.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) continue;
    // FindFirstFileA's own match is looser (8.3 aliases, a trailing '?'
    // that matches nothing): every name it returns is checked again.
    if (common::MatchWildcard(pattern, found.cFileName)) names.emplace_back(found.cFileName);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  common::SortSearchResults(names);
  return names;
}

// Windows finds names ignoring case itself: there is nothing to keep.
void BeginCallCache() {}
void EndCallCache() {}

std::string SystemErrorText(int error) {
  bool known = error > 0 && error < _sys_nerr;
  return common::TidyErrorText(error, known ? std::strerror(error) : nullptr);
}

int LastError() { return errno; }

int CurrentLocalYear() {
  time_t now = std::time(nullptr);
  const struct tm* local = std::localtime(&now);
  return local != nullptr ? local->tm_year + 1900 : 1980;
}

#if defined(VARNEL_FAULT_HOOK)
void InjectFault(const char* path, FaultOp op) {
  if (path != nullptr) Faults().armed.Arm(path, op);
}
void InjectReadFaultAfter(const char* path, uint64_t bytes) {
  if (path != nullptr) Faults().armed.ArmAfter(path, bytes);
}
void ClearFaults() { Faults().armed.Clear(); }
#endif

// ---------------------------------------------------------------------------
// The working directory's lock: a named mutex of the session, named after
// the directory's full path.  A mutex whose holder ended without releasing
// it is abandoned, and the next waiter gets it; nothing lies in the
// directory.

struct DirectoryLock {
  HANDLE mutex = nullptr;
};

namespace {

// The path Windows knows the open directory by: links, short names and
// relative parts resolved, so that every spelling of one directory gives the
// same path.  Its full path from the spelling when the system cannot say.
std::string DirectoryPath(HANDLE directory, const std::string& spelled) {
  std::string path(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD n = GetFinalPathNameByHandleA(directory, path.data(), static_cast<DWORD>(path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) break;
    if (n < path.size()) return path.substr(0, n);
    path.assign(n + 1, '\0');
  }
  DWORD n = GetFullPathNameA(spelled.c_str(), static_cast<DWORD>(path.size()), path.data(), nullptr);
  if (n >= path.size()) {
    path.assign(n + 1, '\0');
    n = GetFullPathNameA(spelled.c_str(), static_cast<DWORD>(path.size()), path.data(), nullptr);
  }
  path.resize(n < path.size() ? n : 0);
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// A mutex name may not hold a backslash and is compared with its case: the
// path, upper-cased as Windows compares names, goes in as a hash (FNV-1a).
std::string MutexName(const std::string& path) {
  return Format("Local\\varnel-directory-%016llX", static_cast<unsigned long long>(common::FoldedHash(path)));
}

}  // namespace

DirectoryLock* LockDirectory(const char* workDir) {
  std::string dir = common::PrefixDirectory(workDir);
  if (dir.empty()) dir = ".";
  std::string name;
  {
    // Opened only to learn its path: the directory stays free to be renamed
    // or removed.
    struct Opened {
      HANDLE handle;
      ~Opened() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
      }
    } directory{CreateFileA(dir.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)};
    BY_HANDLE_FILE_INFORMATION info;
    if (directory.handle == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandle(directory.handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      return nullptr;
    name = MutexName(DirectoryPath(directory.handle, dir));
  }
  auto* lock = new DirectoryLock;
  lock->mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (lock->mutex != nullptr) {
    DWORD waited = WaitForSingleObject(lock->mutex, INFINITE);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return lock;
    CloseHandle(lock->mutex);
  }
  delete lock;
  return nullptr;
}

void UnlockDirectory(DirectoryLock* lock) {
  if (lock == nullptr) return;
  ReleaseMutex(lock->mutex);
  CloseHandle(lock->mutex);
  delete lock;
}

}  // namespace varnel::platform
