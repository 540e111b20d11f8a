// POSIX implementation of the platform layer.
//
// The paths varnel forms are Windows paths (backslashes, names in any case,
// now and then a trailing blank), so every path passes through
// posix::Resolve (posix_paths.cpp) before it reaches a system call.  Streams
// do their own buffering over a file descriptor: the linker reads every
// object one byte at a time, so the common case of Getc is a compare and an
// array read.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "format.h"
#include "platform/common.h"
#include "platform/posix_paths.h"

namespace varnel::platform {

namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr unsigned char kCtrlZ = 0x1A;

// stat and lstat of a resolved path; a name the call knows is absent is not
// looked up again.
bool Stat(const posix::SystemPath& path, struct stat* st) {
  if (path.absent) {
    errno = ENOENT;
    return false;
  }
  return stat(path.path.c_str(), st) == 0;
}

bool Lstat(const posix::SystemPath& path, struct stat* st) {
  if (path.absent) {
    errno = ENOENT;
    return false;
  }
  return lstat(path.path.c_str(), st) == 0;
}

// Opens an existing regular file.  Directories, devices and pipes are no
// files here and are not even opened (opening a device can do something);
// O_NONBLOCK keeps a pipe that took the place of the file meanwhile from
// hanging the open, and fstat has the last word.
// The call's listing of the directory may already say that a regular file
// stands there; *facts is what the open learns of the file.
int OpenRegularFile(const posix::SystemPath& sys, int access, posix::FileFacts* facts = nullptr) {
  struct stat st;
  if (sys.absent) {
    errno = ENOENT;
    return -1;
  }
  if (sys.type != DT_REG) {
    if (!Stat(sys, &st)) return -1;
    if (!S_ISREG(st.st_mode)) {
      errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
      return -1;
    }
  }
  int fd = posix::OpenDescriptor(sys.path.c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    errno = EACCES;
    return -1;
  }
  if (facts != nullptr) {
    facts->known = true;
    facts->size = static_cast<int64_t>(st.st_size);
    facts->mtime = static_cast<int64_t>(st.st_mtime);
  }
  return fd;
}


// Opens an existing regular file for reading, or takes the descriptor of it
// that the call kept; *keepable tells whether it may be kept again when done
// (DoneReading).
int OpenForReading(const char* path, posix::KeptKey* key, bool* keepable, posix::FileFacts* facts) {
  posix::SystemPath sys = posix::Resolve(path);
  *keepable = posix::KeyOf(sys, key);
  if (*keepable) {
    int fd = posix::TakeKept(*key, facts);
    if (fd >= 0) return fd;
  }
  return OpenRegularFile(sys, O_RDONLY, facts);
}

// Closes a descriptor OpenForReading gave, or keeps it for the call.
void DoneReading(int fd, const posix::KeptKey& key, bool keepable, bool atStart,
                 const posix::FileFacts& facts) {
  if (!keepable || !posix::Keep(key, fd, atStart, facts)) close(fd);
}

// Takes the writer's lock on a regular file.  A lock of the open file
// description (or flock) conflicts with every other open of the file, in
// this process too; a plain fcntl record lock would not.  Only a lock held
// elsewhere refuses the open: a file system without locks goes on without.
bool LockForWriting(int fd) {
#if defined(F_OFD_SETLK)
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  if (fcntl(fd, F_OFD_SETLK, &lock) == 0) return true;
#else
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
#endif
  return !(errno == EAGAIN || errno == EACCES || errno == EWOULDBLOCK);
}

}  // namespace

struct Stream {
  int fd = -1;
  bool reading = false;
  bool text = false;
  // The read buffer holds buffer[readPos, readEnd); the write buffer
  // buffer[0, writeEnd).
  unsigned char* buffer = nullptr;
  size_t readPos = 0;
  size_t readEnd = 0;
  size_t writeEnd = 0;
  int pushback = kEndOfFile;
  // Getc must take the long way: a byte pushed back, or a fault armed.
  bool slow = false;
  // The file has given its last byte (or a Ctrl-Z ended it in text mode).
  bool drained = false;
  bool atEnd = false;
  bool readFailed = false;
  bool failed = false;
  int error = 0;  // errno of the first failure
  // A reader's descriptor goes back to the call when it closes; moved: its
  // offset is no longer 0.
  bool keepable = false;
  bool moved = false;
  posix::KeptKey keptKey;
  // What a reader's open learnt of its file, and the offset of the
  // descriptor's next read.
  posix::FileFacts facts;
  int64_t offset = 0;
#if defined(VARNEL_FAULT_HOOK)
  std::string hookPath;
  // A read fault after so many bytes: those the reader got so far.
  bool limited = false;
  uint64_t limit = 0;
  uint64_t delivered = 0;
#endif
};

// ---------------------------------------------------------------------------
// The test-only fault hook.

#if defined(VARNEL_FAULT_HOOK)
namespace {

struct FaultState {
  common::ArmedFaults armed;
  std::vector<Stream*> open;  // so that a fault armed later reaches them
};

FaultState& Faults() {
  static FaultState state;
  return state;
}

bool FireFault(const std::string& path, FaultOp op) { return Faults().armed.Fire(path, op); }

}  // namespace

void InjectReadFaultAfter(const char* path, uint64_t bytes) {
  if (path != nullptr) Faults().armed.ArmAfter(path, bytes);
}

void InjectFault(const char* path, FaultOp op) {
  if (path == nullptr) return;
  Faults().armed.Arm(path, op);
  if (op == FaultOp::Read)
    for (Stream* s : Faults().open)
      if (s->hookPath == path) s->slow = true;
}

void ClearFaults() { Faults().armed.Clear(); }
#else
namespace {
// Without the hook nothing fires; the names keep the call sites alike.
enum class FaultOp { Open, Read, Write, Flush, Close };
}  // namespace
#endif

namespace {

void UpdateSlow(Stream* s) {
  s->slow = s->pushback != kEndOfFile;
#if defined(VARNEL_FAULT_HOOK)
  if (!s->slow) s->slow = s->limited || Faults().armed.IsArmed(s->hookPath, FaultOp::Read);
#endif
}

bool Fires(Stream* s, FaultOp op) {
#if defined(VARNEL_FAULT_HOOK)
  return !Faults().armed.Empty() && FireFault(s->hookPath, op);
#else
  (void)s;
  (void)op;
  return false;
#endif
}

using common::SetFailed;
using common::SetReadFailed;

// Refills the empty read buffer; false at the end of the file (drained) or
// on a read error.
bool Fill(Stream* s) {
  s->readPos = s->readEnd = 0;
  // A file known to hold no more than was read needs no read to say so.
  // Only a length above 0 is believed: some files that stat calls regular
  // (under /proc, for one) say 0 and hold bytes all the same.
  if (s->facts.known && s->facts.size > 0 && s->offset >= s->facts.size) {
    s->drained = true;
    return false;
  }
  for (;;) {
    s->moved = true;
    ssize_t n = read(s->fd, s->buffer, kBufferSize);
    if (n > 0) {
      s->readEnd = static_cast<size_t>(n);
      s->offset += n;
      return true;
    }
    if (n == 0) {
      s->drained = true;
      return false;
    }
    if (errno == EINTR) continue;
    SetReadFailed(s, errno);
    return false;
  }
}

bool WriteAll(Stream* s, const unsigned char* data, size_t count) {
  while (count > 0) {
    ssize_t n = write(s->fd, data, count);
    if (n > 0) {
      data += n;
      count -= static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      SetFailed(s, n == 0 ? EIO : errno);
      return false;
    }
  }
  return true;
}

// Writes out the write buffer.  What a failed write held is dropped: the
// stream has failed and says so at Close.
bool Drain(Stream* s) {
  size_t count = s->writeEnd;
  s->writeEnd = 0;
  return count == 0 || WriteAll(s, s->buffer, count);
}

bool Buffer(Stream* s, const unsigned char* data, size_t count) {
  if (s->writeEnd == 0 && count >= kBufferSize) return WriteAll(s, data, count);
  while (count > 0) {
    if (s->writeEnd == kBufferSize && !Drain(s)) return false;
    size_t n = std::min(count, kBufferSize - s->writeEnd);
    std::memcpy(s->buffer + s->writeEnd, data, n);
    s->writeEnd += n;
    data += n;
    count -= n;
  }
  return true;
}

int GetcBuffered(Stream* s);

// The long way of Getc: pushback, faults, refills, and the text-mode bytes
// CR and Ctrl-Z.
int GetcSlow(Stream* s) {
#if defined(VARNEL_FAULT_HOOK)
  if (s->limited) {
    if (s->delivered == s->limit) {
      s->limited = false;
      Faults().armed.FiredReadAfter(s->hookPath);
      UpdateSlow(s);
      SetReadFailed(s, EIO);
      return kEndOfFile;
    }
    int c = GetcBuffered(s);
    if (c != kEndOfFile) ++s->delivered;
    return c;
  }
#endif
  return GetcBuffered(s);
}

int GetcBuffered(Stream* s) {
  if (!s->reading) {
    SetReadFailed(s, EBADF);
    return kEndOfFile;
  }
  if (s->pushback != kEndOfFile) {
    int c = s->pushback;
    s->pushback = kEndOfFile;
    UpdateSlow(s);
    return c;
  }
  if (s->slow && Fires(s, FaultOp::Read)) {
    UpdateSlow(s);
    SetReadFailed(s, EIO);
    return kEndOfFile;
  }
  if (s->readPos == s->readEnd && (s->drained || !Fill(s))) {
    if (s->drained) s->atEnd = true;
    return kEndOfFile;
  }
  unsigned char c = s->buffer[s->readPos++];
  if (!s->text) return c;
  if (c == kCtrlZ) {
    // The file ends here; what follows is never read.
    s->readPos = s->readEnd = 0;
    s->drained = true;
    s->atEnd = true;
    return kEndOfFile;
  }
  if (c == '\r') {
    // A CR at the end of the file or before anything but LF stays a CR.
    if (s->readPos == s->readEnd && (s->drained || !Fill(s))) return '\r';
    if (s->buffer[s->readPos] == '\n') {
      ++s->readPos;
      return '\n';
    }
  }
  return c;
}

}  // namespace

// ---------------------------------------------------------------------------
// Streams.

namespace {

Stream* OpenStream(const char* path, const char* mode, bool followLinks) {
  if (path == nullptr || mode == nullptr || (mode[0] != 'r' && mode[0] != 'w') ||
      (mode[1] != '\0' && ((mode[1] != 't' && mode[1] != 'b') || mode[2] != '\0'))) {
    errno = EINVAL;
    return nullptr;
  }
  bool reading = mode[0] == 'r';
#if defined(VARNEL_FAULT_HOOK)
  if (FireFault(path, FaultOp::Open)) {
    errno = EIO;
    return nullptr;
  }
#endif
  int fd;
  posix::KeptKey keptKey;
  bool keepable = false;
  posix::FileFacts facts;
  if (reading) {
    fd = OpenForReading(path, &keptKey, &keepable, &facts);
    if (fd < 0) return nullptr;
  } else {
    // Not O_TRUNC: the file is emptied only once the lock says this writer
    // may have it, so a refused open leaves its content alone.
    posix::SystemPath sys = posix::Resolve(path);
    fd = posix::OpenDescriptor(sys.path.c_str(),
                               O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW),
                               0666);
    if (fd < 0) return nullptr;
    // Whatever else fails now, the file stands there.
    posix::NoteCreated(sys, DT_REG);
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    int error = ok ? 0 : errno;
    // Devices take no lock (two writers of /dev/null are fine) and are
    // written as they are.
    if (ok && S_ISREG(st.st_mode)) {
      if (!LockForWriting(fd)) {
        ok = false;
        error = EACCES;
      } else if (st.st_size != 0 && ftruncate(fd, 0) != 0) {
        ok = false;
        error = errno;
      }
    }
    // O_NONBLOCK only kept a pipe without a reader from hanging the open;
    // a regular file takes no notice of it.
    if (ok && !S_ISREG(st.st_mode)) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!ok) {
      close(fd);
      errno = error;
      return nullptr;
    }
  }
  Stream* s = new Stream;
  s->fd = fd;
  s->reading = reading;
  s->keepable = keepable;
  s->keptKey = std::move(keptKey);
  s->facts = facts;
  s->text = std::strchr(mode, 'b') == nullptr;
  s->buffer = new unsigned char[kBufferSize];
#if defined(VARNEL_FAULT_HOOK)
  s->hookPath = path;
  if (reading) s->limited = Faults().armed.ReadAfter(s->hookPath, &s->limit);
  Faults().open.push_back(s);
#endif
  UpdateSlow(s);
  return s;
}

}  // namespace

Stream* Open(const char* path, const char* mode) { return OpenStream(path, mode, true); }

Stream* OpenNoLink(const char* path, const char* mode) {
  if (mode == nullptr || mode[0] != 'w') {
    errno = EINVAL;
    return nullptr;
  }
  return OpenStream(path, mode, false);
}

int Getc(Stream* s) {
  if (s->readPos < s->readEnd && !s->slow) {
    unsigned char c = s->buffer[s->readPos];
    if (!s->text || (c != '\r' && c != kCtrlZ)) {
      ++s->readPos;
      return c;
    }
  }
  return GetcSlow(s);
}

void Ungetc(Stream* s, int c) {
  if (c == kEndOfFile || !s->reading) return;
#if defined(VARNEL_FAULT_HOOK)
  if (s->limited && s->delivered > 0) --s->delivered;
#endif
  s->pushback = c & 0xFF;
  s->atEnd = false;
  s->slow = true;
}

size_t Read(Stream* s, void* data, size_t count) {
  auto* out = static_cast<unsigned char*>(data);
  size_t n = 0;
  while (n < count) {
    if (s->slow || !s->reading) {
      int c = Getc(s);
      if (c == kEndOfFile) break;
      out[n++] = static_cast<unsigned char>(c);
    } else if (s->text && s->readPos < s->readEnd) {
      // The run up to the next CR or Ctrl-Z is copied as it stands; Getc
      // decides what those two bytes make.
      const unsigned char* from = s->buffer + s->readPos;
      size_t run = std::min(count - n, s->readEnd - s->readPos);
      if (const void* cr = std::memchr(from, '\r', run))
        run = static_cast<size_t>(static_cast<const unsigned char*>(cr) - from);
      if (const void* z = std::memchr(from, kCtrlZ, run))
        run = static_cast<size_t>(static_cast<const unsigned char*>(z) - from);
      std::memcpy(out + n, from, run);
      s->readPos += run;
      n += run;
      if (n < count && s->readPos < s->readEnd) {
        int c = GetcSlow(s);
        if (c == kEndOfFile) break;
        out[n++] = static_cast<unsigned char>(c);
      }
    } else if (s->readPos < s->readEnd) {
      size_t chunk = std::min(count - n, s->readEnd - s->readPos);
      std::memcpy(out + n, s->buffer + s->readPos, chunk);
      s->readPos += chunk;
      n += chunk;
    } else if (s->drained) {
      s->atEnd = true;
      break;
    } else if (!s->text && count - n >= kBufferSize) {
      s->moved = true;
      ssize_t got = read(s->fd, out + n, count - n);
      if (got > 0) {
        n += static_cast<size_t>(got);
        s->offset += got;
      } else if (got == 0) {
        s->drained = s->atEnd = true;
        break;
      } else if (errno != EINTR) {
        SetReadFailed(s, errno);
        break;
      }
    } else if (!Fill(s)) {
      if (s->drained) s->atEnd = true;
      break;
    }
  }
  return n;
}

bool Write(Stream* s, const void* data, size_t count) {
  if (s->reading) {
    SetFailed(s, EBADF);
    return false;
  }
  if (Fires(s, FaultOp::Write)) {
    SetFailed(s, EIO);
    return false;
  }
  const auto* p = static_cast<const unsigned char*>(data);
  if (!s->text) return Buffer(s, p, count);
  static const unsigned char kCrLf[2] = {'\r', '\n'};
  while (count > 0) {
    const void* lf = std::memchr(p, '\n', count);
    size_t run = lf ? static_cast<size_t>(static_cast<const unsigned char*>(lf) - p) : count;
    if (!Buffer(s, p, run)) return false;
    if (lf == nullptr) break;
    if (!Buffer(s, kCrLf, 2)) return false;
    p += run + 1;
    count -= run + 1;
  }
  return true;
}

bool Seek(Stream* s, int64_t offset) {
  if (offset < 0) {
    errno = EINVAL;
    return false;
  }
  if (!s->reading && !Drain(s)) return false;
  s->readPos = s->readEnd = 0;
  s->pushback = kEndOfFile;
  s->drained = s->atEnd = false;
  UpdateSlow(s);
  s->moved = true;
  if (lseek(s->fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
    // Where the descriptor stands is not known: nothing is taken for the end.
    s->facts.known = false;
    return false;
  }
  s->offset = offset;
  return true;
}

int64_t Tell(Stream* s) {
  off_t at = lseek(s->fd, 0, SEEK_CUR);
  if (at < 0) return -1;
  if (!s->reading) return static_cast<int64_t>(at) + static_cast<int64_t>(s->writeEnd);
  return static_cast<int64_t>(at) - static_cast<int64_t>(s->readEnd - s->readPos) -
         (s->pushback != kEndOfFile ? 1 : 0);
}

int64_t Length(Stream* s) {
  if (!s->reading && !Drain(s)) return -1;
  struct stat st;
  if (fstat(s->fd, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool AtEnd(Stream* s) { return s->atEnd; }
bool ReadFailed(Stream* s) { return s->readFailed; }
bool Failed(Stream* s) { return s->failed; }

bool Flush(Stream* s) {
  if (!s->reading) {
    if (Fires(s, FaultOp::Flush)) {
      s->writeEnd = 0;
      SetFailed(s, EIO);
    } else {
      Drain(s);
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
  if (Fires(s, FaultOp::Close)) {
    ok = false;
    if (error == 0) error = EIO;
  }
  if (s->reading && s->keepable && !s->failed) {
    DoneReading(s->fd, s->keptKey, true, !s->moved, s->facts);
  } else if (close(s->fd) != 0) {
    if (ok) error = errno;
    ok = false;
  }
#if defined(VARNEL_FAULT_HOOK)
  auto& open = Faults().open;
  open.erase(std::find(open.begin(), open.end(), s));
#endif
  delete[] s->buffer;
  delete s;
  if (!ok) errno = error != 0 ? error : EIO;
  return ok;
}

// ---------------------------------------------------------------------------
// Files and directories.

bool IsReadableFile(const char* path) {
  if (path == nullptr) return false;
  posix::KeptKey key;
  bool keepable;
  posix::FileFacts facts;
  int fd = OpenForReading(path, &key, &keepable, &facts);
  if (fd < 0) return false;
  DoneReading(fd, key, keepable, true, facts);
  return true;
}

// The call's listing may say what stands at a path; the system is asked
// only when it does not.
bool EntryExists(const char* path) {
  if (path == nullptr) return false;
  posix::SystemPath sys = posix::Resolve(path);
  if (sys.type != DT_UNKNOWN) return true;
  struct stat st;
  return Lstat(sys, &st);
}

bool IsLink(const char* path) {
  if (path == nullptr) return false;
  posix::SystemPath sys = posix::Resolve(path);
  if (sys.type != DT_UNKNOWN) return sys.type == DT_LNK;
  struct stat st;
  return Lstat(sys, &st) && S_ISLNK(st.st_mode);
}

bool IsStreamFile(Stream* s, const char* path) {
  if (s == nullptr || path == nullptr) return false;
  struct stat open, named;
  return fstat(s->fd, &open) == 0 && Lstat(posix::Resolve(path), &named) && open.st_dev == named.st_dev &&
         open.st_ino == named.st_ino;
}

bool Remove(const char* path) {
  if (path == nullptr) return false;
  posix::SystemPath sys = posix::Resolve(path);
  if (sys.absent) {
    errno = ENOENT;
    return false;
  }
  bool ok = unlink(sys.path.c_str()) == 0;
  if (ok || errno == ENOENT) {
    int error = errno;
    posix::NoteRemoved(sys);
    errno = error;
  }
  return ok;
}

namespace {

unsigned char EntryType(mode_t mode) {
  if (S_ISREG(mode)) return DT_REG;
  if (S_ISLNK(mode)) return DT_LNK;
  if (S_ISDIR(mode)) return DT_DIR;
  return DT_UNKNOWN;
}

}  // namespace

bool Rename(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  posix::SystemPath src = posix::Resolve(from);
  posix::SystemPath dst = posix::Resolve(to);
  const std::string& source = src.path;
  std::string& target = dst.path;
  struct stat a, b;
  if (!Lstat(src, &a)) return false;
  if (Lstat(dst, &b)) {
    if (a.st_dev != b.st_dev || a.st_ino != b.st_ino) {
      // Windows never renames over an existing file; neither does varnel.
      errno = EEXIST;
      return false;
    }
    // The same file under another case: the rename changes the case, to
    // the caller's spelling of the last component.
    std::string name(to);
    size_t cut = name.find_last_of("/\\");
    if (cut != std::string::npos) name.erase(0, cut + 1);
    while (!name.empty() && (name.back() == ' ' || name.back() == '.')) name.pop_back();
    target.erase(target.rfind('/') + 1);  // npos + 1 == 0: no directory
    target += name;
    dst.name = name;
  }
  if (rename(source.c_str(), target.c_str()) != 0) return false;
  posix::NoteRemoved(src);
  posix::NoteCreated(dst, EntryType(a.st_mode));
  // A directory moved: every path below it now leads elsewhere.
  if (S_ISDIR(a.st_mode)) posix::ForgetDirectories();
  return true;
}

std::vector<Spelling> FindSpellings(const char* directory, const char* name) {
  std::vector<Spelling> found;
  std::vector<std::string> names;
  if (directory == nullptr || name == nullptr || !posix::Spellings(directory, name, &names)) return found;
  for (std::string& spelling : names) {
    // The listing may be older than the entry's going: the system decides.
    struct stat st;
    posix::SystemPath sys = posix::ResolveEntry(directory, spelling);
    if (!Lstat(sys, &st)) {
      posix::NoteRemoved(sys);
      continue;
    }
    EntryKind kind = S_ISREG(st.st_mode)   ? EntryKind::kFile
                     : S_ISLNK(st.st_mode) ? EntryKind::kLink
                     : S_ISDIR(st.st_mode) ? EntryKind::kDirectory
                                           : EntryKind::kOther;
    found.push_back({std::move(spelling), kind});
  }
  std::sort(found.begin(), found.end(), [](const Spelling& a, const Spelling& b) { return a.name < b.name; });
  return found;
}

bool RemoveSpelling(const char* directory, const char* name) {
  if (directory == nullptr || name == nullptr) return false;
  posix::SystemPath sys = posix::ResolveEntry(directory, name);
  bool ok = unlink(sys.path.c_str()) == 0;
  int error = errno;
  if (ok || error == ENOENT) posix::NoteRemoved(sys);
  errno = error;
  return ok;
}

bool RenameSpelling(const char* directory, const char* from, const char* to) {
  if (directory == nullptr || from == nullptr || to == nullptr) return false;
  posix::SystemPath src = posix::ResolveEntry(directory, from);
  posix::SystemPath dst = posix::ResolveEntry(directory, to);
  struct stat a, b;
  if (!Lstat(src, &a)) return false;
  if (Lstat(dst, &b)) {
    errno = EEXIST;
    return false;
  }
  if (rename(src.path.c_str(), dst.path.c_str()) != 0) return false;
  posix::NoteRemoved(src);
  posix::NoteCreated(dst, EntryType(a.st_mode));
  if (S_ISDIR(a.st_mode)) posix::ForgetDirectories();
  return true;
}

namespace {

// The last-write time of an open file as DOS date and time, 0 and 0 when it
// cannot be read or converted.
// The open may have learnt it already: a file the call only reads keeps its
// time.
void DosTimeOf(int fd, const posix::FileFacts& facts, uint16_t* dosDate, uint16_t* dosTime) {
  *dosDate = 0;
  *dosTime = 0;
  if (facts.known) {
    common::UtcToDosDateTime(facts.mtime, dosDate, dosTime);
    return;
  }
  struct stat st;
  if (fstat(fd, &st) == 0) common::UtcToDosDateTime(static_cast<int64_t>(st.st_mtime), dosDate, dosTime);
}

}  // namespace

bool GetFileDosTime(const char* path, uint16_t* dosDate, uint16_t* dosTime) {
  if (path == nullptr) return false;
  posix::KeptKey key;
  bool keepable;
  posix::FileFacts facts;
  int fd = OpenForReading(path, &key, &keepable, &facts);
  if (fd < 0) return false;
  DosTimeOf(fd, facts, dosDate, dosTime);
  DoneReading(fd, key, keepable, true, facts);
  return true;
}

bool GetStreamDosTime(Stream* s, uint16_t* dosDate, uint16_t* dosTime) {
  if (s == nullptr) return false;
  DosTimeOf(s->fd, s->reading ? s->facts : posix::FileFacts{}, dosDate, dosTime);
  return true;
}

bool SetFileDosTime(const char* path, uint16_t dosDate, uint16_t dosTime) {
  int64_t seconds;
  if (path == nullptr || !common::DosDateTimeToUtc(dosDate, dosTime, &seconds)) {
    errno = EINVAL;
    return false;
  }
  posix::SystemPath sys = posix::Resolve(path);
  int fd = OpenRegularFile(sys, O_WRONLY);
  if (fd < 0) return false;
  posix::NoteChanged(sys);
  // POSIX keeps no creation time that could be set; the last-access time
  // stays as it is.
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = 0;
  bool ok = futimens(fd, times) == 0;
  int error = errno;
  close(fd);
  errno = error;
  return ok;
}

std::vector<std::string> FindFiles(const char* directory, const char* pattern) {
  std::vector<std::string> names;
  if (pattern == nullptr) return names;
  posix::ForEachEntry(directory ? directory : "",
                      [&](const std::string& dir, const char* name, unsigned char type) {
                        if (!common::MatchWildcard(pattern, name)) return;
                        bool regular = type == DT_REG;
                        if (type == DT_UNKNOWN || type == DT_LNK) {
                          // What a link names decides, as an open would follow it.
                          struct stat st;
                          std::string path = dir.empty() ? std::string(name) : dir + (dir.back() == '/' ? "" : "/") + name;
                          regular = stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
                        }
                        if (regular) names.push_back(name);
                      });
  common::SortSearchResults(names);
  return names;
}

// ---------------------------------------------------------------------------
// Error texts and the clock.

std::string SystemErrorText(int error) {
  return common::TidyErrorText(error, error == 0 ? nullptr : std::strerror(error));
}

int LastError() { return errno; }

int CurrentLocalYear() {
  time_t now = std::time(nullptr);
  struct tm tm;
  if (localtime_r(&now, &tm) == nullptr) return 1980;
  return tm.tm_year + 1900;
}

// ---------------------------------------------------------------------------
// The working directory's lock: flock on the directory itself.  The lock
// belongs to the open directory, so it goes when the process does, and
// every name of the directory (another case, a link) meets the same lock.

struct DirectoryLock {
  int fd = -1;
};

DirectoryLock* LockDirectory(const char* workDir) {
  std::string dir = posix::Resolve(common::PrefixDirectory(workDir).c_str()).path;
  auto* lock = new DirectoryLock;
  lock->fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOCTTY | O_CLOEXEC);
  if (lock->fd < 0) {
    delete lock;
    return nullptr;
  }
  while (flock(lock->fd, LOCK_EX) != 0) {
    // A file system without locks: the call goes on as it always did.
    if (errno != EINTR) {
      close(lock->fd);
      delete lock;
      return nullptr;
    }
  }
  return lock;
}

void UnlockDirectory(DirectoryLock* lock) {
  if (lock == nullptr) return;
  // Closing the only descriptor of the open directory ends the lock.
  close(lock->fd);
  delete lock;
}

}  // namespace varnel::platform
