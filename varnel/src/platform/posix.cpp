// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <sys/stat.h>

#include "format.h"

namespace varnel::platform {

struct Stream {
  FILE* file = nullptr;
  bool text = false;
  bool writing = false;
  bool readFailed = false;
  bool failed = false;
  bool atEnd = false;
  int pushback = kEndOfFile;
};

Stream* Open(const char* path, const char* mode) {
  if (path == nullptr || mode == nullptr || std::strlen(path) > 255) return nullptr;
  bool writing = mode[0] != 'r';
  bool binary = std::strchr(mode, 'b') != nullptr;
  if (!writing && !IsReadableFile(path)) return nullptr;
  FILE* f = std::fopen(path, writing ? "wb" : "rb");
  if (f == nullptr) return nullptr;
  Stream* s = new Stream;
  s->file = f;
  s->text = !binary;
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
  int c = std::fgetc(s->file);
  if (c == EOF) {
    if (std::ferror(s->file)) s->readFailed = s->failed = true;
    s->atEnd = true;
    return kEndOfFile;
  }
  if (s->text) {
    if (c == 0x1A) {
      s->atEnd = true;
      return kEndOfFile;
    }
    if (c == '\r') {
      int d = std::fgetc(s->file);
      if (d == '\n') return '\n';
      if (d != EOF) std::ungetc(d, s->file);
    }
  }
  return c;
}

void Ungetc(Stream* s, int c) { s->pushback = c; }

size_t Read(Stream* s, void* data, size_t count) {
  auto* out = static_cast<unsigned char*>(data);
  size_t n = 0;
  while (n < count) {
    int c = Getc(s);
    if (c == kEndOfFile) break;
    out[n++] = static_cast<unsigned char>(c);
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
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < count; ++i) {
    if (s->text && p[i] == '\n' && std::fputc('\r', s->file) == EOF) s->failed = true;
    if (std::fputc(p[i], s->file) == EOF) s->failed = true;
  }
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
  return fseeko(s->file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t Tell(Stream* s) { return static_cast<int64_t>(ftello(s->file)); }

int64_t Length(Stream* s) {
  struct stat st;
  if (fstat(fileno(s->file), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool AtEnd(Stream* s) { return s->atEnd; }
bool ReadFailed(Stream* s) { return s->readFailed; }
bool Failed(Stream* s) { return s->failed || std::ferror(s->file); }

bool Flush(Stream* s) {
  if (std::fflush(s->file) != 0) s->failed = true;
  return !s->failed;
}

bool Close(Stream* s) {
  if (s == nullptr) return false;
  bool ok = true;
  if (s->writing && std::fflush(s->file) != 0) ok = false;
  if (Failed(s)) ok = false;
  if (std::fclose(s->file) != 0) ok = false;
  delete s;
  return ok;
}

bool IsReadableFile(const char* path) {
  struct stat st;
  return path != nullptr && stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

bool Remove(const char* path) { return std::remove(path) == 0; }
bool Rename(const char* from, const char* to) { return std::rename(from, to) == 0; }

bool GetFileDosTime(const char* path, uint16_t* dosDate, uint16_t* dosTime) {
  struct stat st;
  if (!IsReadableFile(path) || stat(path, &st) != 0) return false;
  *dosDate = 0;
  *dosTime = 0;
  time_t t = st.st_mtime;
  struct tm tm;
  if (gmtime_r(&t, &tm) == nullptr) return true;
  int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2107) return true;
  *dosDate = static_cast<uint16_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  *dosTime = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return true;
}

bool SetFileDosTime(const char*, uint16_t, uint16_t) { return false; }

std::vector<std::string> FindFiles(const char*, const char*) { return {}; }

std::string SystemErrorText(int error) {
  if (error == 0) return "No error";
  const char* text = std::strerror(error);
  return text ? text : "Unknown error";
}

int LastError() { return errno; }

int CurrentLocalYear() {
  time_t now = std::time(nullptr);
  struct tm tm;
  localtime_r(&now, &tm);
  return tm.tm_year + 1900;
}

#if defined(VARNEL_FAULT_HOOK)
void InjectFault(const char*, FaultOp) {}
void ClearFaults() {}
#endif

}  // namespace varnel::platform
