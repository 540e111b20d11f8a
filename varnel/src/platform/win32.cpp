// Win32 implementation of the platform layer.
//
// Windows already does most of what the layer's rules ask (backslashes,
// case-insensitive names, dropped trailing blanks and dots, share modes, the
// C runtime's text mode), so this side leaves those to the system.  What is
// not Windows' own -- regular files only, the order of a directory search,
// the error texts for 0 and unknown numbers, DOS dates read as UTC -- is
// applied here, so that both builds give the same bytes for the same inputs.
#include "platform/platform.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <io.h>
#include <share.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>

#include "format.h"

namespace varnel::platform {

struct Stream {
  FILE* file = nullptr;
  std::string path;  // as passed to Open: the fault hook's key
  bool writing = false;
  bool readFailed = false;
  bool failed = false;
  bool atEnd = false;
  int pushback = kEndOfFile;
};

namespace {

#if defined(VARNEL_FAULT_HOOK)
struct FaultState {
  std::vector<std::pair<std::string, FaultOp>> armed;
};

FaultState& Faults() {
  static FaultState state;
  return state;
}

// Consumes an armed fault for this path and operation; true when one fired.
bool FaultFires(const std::string& path, FaultOp op) {
  auto& armed = Faults().armed;
  for (auto it = armed.begin(); it != armed.end(); ++it) {
    if (it->second == op && it->first == path) {
      armed.erase(it);
      errno = EIO;
      return true;
    }
  }
  return false;
}
#define VARNEL_FAULT(path, op) FaultFires(path, FaultOp::op)
#else
#define VARNEL_FAULT(path, op) false
#endif

// Only a file on a disk counts as a file to read: CON, NUL, COM1 and pipes
// open through the runtime as well, but are no files.
bool IsDiskFile(FILE* f) {
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)));
  return handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_DISK;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// '*' matches any run of characters, '?' exactly one; ASCII case is ignored.
// FindFirstFileA's own matching is looser (8.3 aliases, a trailing '?'
// matching nothing), so every name it returns is checked again here.
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern != '\0' && AsciiUpper(*pattern) == AsciiUpper(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

std::string AsciiUpper(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// A DOS date and time that names a real moment: the service's own check
// differs between Windows versions, this one does not.
bool IsValidDosDateTime(uint16_t dosDate, uint16_t dosTime) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int day = dosDate & 0x1F;
  int month = (dosDate >> 5) & 0x0F;
  int year = 1980 + (dosDate >> 9);
  int hour = dosTime >> 11;
  int minute = (dosTime >> 5) & 0x3F;
  int twoSeconds = dosTime & 0x1F;
  if (month < 1 || month > 12 || day < 1) return false;
  int days = kDays[month - 1] + ((month == 2 && IsLeapYear(year)) ? 1 : 0);
  return day <= days && hour < 24 && minute < 60 && twoSeconds < 30;
}

}  // namespace

Stream* Open(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || std::strlen(path) > 255) return nullptr;
  if (VARNEL_FAULT(path, Open)) return nullptr;
  bool writing = mode[0] != 'r';
  // Say 't' outright, so that a changed runtime default cannot make a text
  // stream binary.
  std::string runtimeMode = mode;
  if (std::strchr(mode, 'b') == nullptr && std::strchr(mode, 't') == nullptr) runtimeMode += 't';
  FILE* f = _fsopen(path, runtimeMode.c_str(), writing ? _SH_DENYWR : _SH_DENYNO);
  if (f == nullptr) return nullptr;
  if (!writing && !IsDiskFile(f)) {
    std::fclose(f);
    errno = EACCES;
    return nullptr;
  }
  Stream* s = new Stream;
  s->file = f;
  s->path = path;
  s->writing = writing;
  return s;
}

int Getc(Stream* s) {
  if (s->pushback != kEndOfFile) {
    int c = s->pushback;
    s->pushback = kEndOfFile;
    return c;
  }
  if (s->atEnd) return kEndOfFile;
  if (VARNEL_FAULT(s->path, Read)) {
    s->readFailed = s->failed = s->atEnd = true;
    return kEndOfFile;
  }
  int c = std::fgetc(s->file);
  if (c == EOF) {
    if (std::ferror(s->file)) s->readFailed = s->failed = true;
    s->atEnd = true;
    return kEndOfFile;
  }
  return c;
}

void Ungetc(Stream* s, int c) { s->pushback = c; }

size_t Read(Stream* s, void* data, size_t count) {
  auto* out = static_cast<unsigned char*>(data);
  size_t n = 0;
  if (count > 0 && s->pushback != kEndOfFile) {
    out[n++] = static_cast<unsigned char>(s->pushback);
    s->pushback = kEndOfFile;
  }
  if (n == count || s->atEnd) return n;
  if (VARNEL_FAULT(s->path, Read)) {
    s->readFailed = s->failed = s->atEnd = true;
    return n;
  }
  n += std::fread(out + n, 1, count - n, s->file);
  if (n < count) {
    if (std::ferror(s->file)) s->readFailed = s->failed = true;
    s->atEnd = true;
  }
  return n;
}

bool ReadLine(Stream* s, char* buffer, size_t capacity) {
  if (capacity == 0) return false;
  size_t n = 0;
  while (n + 1 < capacity) {
    int c = Getc(s);
    if (c == kEndOfFile) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = '\0';
  return n > 0;
}

bool Write(Stream* s, const void* data, size_t count) {
  if (VARNEL_FAULT(s->path, Write)) {
    s->failed = true;
    return false;
  }
  if (count > 0 && std::fwrite(data, 1, count, s->file) != count) s->failed = true;
  return !s->failed;
}

bool WriteText(Stream* s, const char* text) { return Write(s, text, std::strlen(text)); }

bool VPrintf(Stream* s, const char* format, va_list args) {
  std::string text = VFormat(format, args);
  return Write(s, text.data(), text.size());
}

bool Printf(Stream* s, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  bool ok = VPrintf(s, format, ap);
  va_end(ap);
  return ok;
}

bool Seek(Stream* s, int64_t offset) {
  s->pushback = kEndOfFile;
  s->atEnd = false;
  return fseeko64(s->file, offset, SEEK_SET) == 0;
}

int64_t Tell(Stream* s) { return static_cast<int64_t>(ftello64(s->file)); }

int64_t Length(Stream* s) { return static_cast<int64_t>(_filelengthi64(_fileno(s->file))); }

bool AtEnd(Stream* s) { return s->atEnd; }
bool ReadFailed(Stream* s) { return s->readFailed; }
bool Failed(Stream* s) { return s->failed || std::ferror(s->file); }

bool Flush(Stream* s) {
  if (VARNEL_FAULT(s->path, Flush) || std::fflush(s->file) != 0) s->failed = true;
  return !s->failed;
}

bool Close(Stream* s) {
  if (s == nullptr) return false;
  bool ok = true;
  if (s->writing && (VARNEL_FAULT(s->path, Flush) || std::fflush(s->file) != 0)) ok = false;
  if (Failed(s)) ok = false;
  if (std::fclose(s->file) != 0) ok = false;
  if (VARNEL_FAULT(s->path, Close)) ok = false;
  delete s;
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

bool Remove(const char* path) { return path != nullptr && DeleteFileA(path) != 0; }
bool Rename(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool GetFileDosTime(const char* path, uint16_t* dosDate, uint16_t* dosTime) {
  if (path == nullptr) return false;
  HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return false;
  }
  FILETIME lastWrite;
  WORD date = 0;
  WORD time = 0;
  // The time stays UTC: no conversion to local time before the DOS form.
  if (!GetFileTime(h, nullptr, nullptr, &lastWrite) ||
      !FileTimeToDosDateTime(&lastWrite, &date, &time)) {
    date = 0;
    time = 0;
  }
  CloseHandle(h);
  *dosDate = date;
  *dosTime = time;
  return true;
}

bool SetFileDosTime(const char* path, uint16_t dosDate, uint16_t dosTime) {
  if (path == nullptr || !IsValidDosDateTime(dosDate, dosTime)) return false;
  FILETIME stamp;
  if (!DosDateTimeToFileTime(dosDate, dosTime, &stamp)) return false;
  HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
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
    if (WildcardMatch(pattern, found.cFileName)) names.emplace_back(found.cFileName);
  } while (FindNextFileA(h, &found));
  FindClose(h);
  // Names that differ only in case (possible on a case-sensitive volume)
  // keep a fixed order: byte order breaks the tie.
  std::vector<std::pair<std::string, std::string>> keyed;
  keyed.reserve(names.size());
  for (auto& n : names) keyed.emplace_back(AsciiUpper(n), std::move(n));
  std::sort(keyed.begin(), keyed.end());
  names.clear();
  for (auto& k : keyed) names.push_back(std::move(k.second));
  return names;
}

std::string SystemErrorText(int error) {
  if (error == 0) return "No error";
  if (error < 0 || error >= _sys_nerr) return "Unknown error";
  const char* text = std::strerror(error);
  return text != nullptr ? text : "Unknown error";
}

int LastError() { return errno; }

int CurrentLocalYear() {
  time_t now = std::time(nullptr);
  const struct tm* local = std::localtime(&now);
  return local != nullptr ? local->tm_year + 1900 : 1980;
}

#if defined(VARNEL_FAULT_HOOK)
void InjectFault(const char* path, FaultOp op) {
  if (path != nullptr) Faults().armed.emplace_back(path, op);
}
void ClearFaults() { Faults().armed.clear(); }
#endif

}  // namespace varnel::platform
