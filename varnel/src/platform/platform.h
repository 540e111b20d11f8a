// The platform layer: the one place that talks to the operating system.
// Everything else in varnel reaches files, directories, dates, error texts
// and the clock through this interface, so both builds (POSIX and Win32)
// give the same results for the same inputs.
//
// Rules both implementations keep:
//  - Paths are used as formed by the caller.  On POSIX a backslash counts as
//    a directory separator, trailing blanks and dots of each path component
//    are dropped, and a name that does not exist as spelled falls back to an
//    existing entry that matches it ignoring ASCII case (component by
//    component, the smallest such name in byte order) -- as Windows does.
//  - Opening for reading takes regular files only.  Opening for writing
//    writes to whatever the path names.
//  - Text mode ("r", "rt", "w", "wt"): a written LF is stored as CR LF; on
//    reading CR LF becomes LF, a lone CR stays, and a Ctrl-Z byte (0x1A) ends
//    the file.  "rb" and "wb" are byte for byte.
//  - Share rule: a stream opened for reading lets others read and write; one
//    opened for writing denies other writers, in this and other processes.
//    A refused open changes nothing (the file is not emptied).
//  - A read error is reported apart from the end of the file.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varnel::platform {

// An open file stream.  Opaque; every operation below takes it.
struct Stream;

constexpr int kEndOfFile = -1;

// Opens `path` with a stream mode: "r", "rt", "rb" (read) or "w", "wt", "wb"
// (create or empty, then write).  The share rule follows the first character
// of the mode.  Returns nullptr when the file cannot be opened.
Stream* Open(const char* path, const char* mode);
// Opens for writing as Open does, but never through a symbolic link: when a
// link stands at the path (dangling or not) nothing is opened and nothing is
// written.  For the files varnel makes for itself in a working directory.
Stream* OpenNoLink(const char* path, const char* mode);

// Reads one byte (0 to 255), or kEndOfFile at the end of the file or on a
// read error; ReadFailed tells the two apart.
int Getc(Stream* stream);
// Pushes the last byte read back (one byte at most), as ungetc does.
void Ungetc(Stream* stream, int c);
// Reads up to `count` bytes; returns how many were read (short at the end of
// the file or on a read error).
size_t Read(Stream* stream, void* data, size_t count);
// Reads a line as fgets does: at most capacity - 1 bytes, up to and including
// a line end; always NUL-terminated.  Returns false when nothing was read
// (end of file or read error).
bool ReadLine(Stream* stream, char* buffer, size_t capacity);

// Writes bytes (text mode turns LF into CR LF); returns false on failure and
// sets the stream's error indicator.
bool Write(Stream* stream, const void* data, size_t count);
bool WriteText(Stream* stream, const char* text);
// Formats with varnel's formatter (format.h) and writes the text.
bool VPrintf(Stream* stream, const char* format, va_list args);
bool Printf(Stream* stream, const char* format, ...);

// Byte positions; meaningful for binary streams (and for text streams only
// as values Tell returned).
bool Seek(Stream* stream, int64_t offset);
int64_t Tell(Stream* stream);
// The length in bytes of the open file, or -1.
int64_t Length(Stream* stream);

bool AtEnd(Stream* stream);
bool ReadFailed(Stream* stream);
// The error indicator: a write, flush or read has failed since the open.
bool Failed(Stream* stream);
bool Flush(Stream* stream);
// Flushes, checks the error indicator and closes; the stream is gone either
// way.  Returns true only when all three succeeded, so a written file is
// complete exactly when Close returns true.  errno then tells why it failed.
bool Close(Stream* stream);

// True when `path` names a regular file that can be opened for reading.
bool IsReadableFile(const char* path);
// True when anything stands at `path`: a file of any kind, a directory, or a
// symbolic link, which is not followed (a dangling one counts).
bool EntryExists(const char* path);
// True when `path` names a symbolic link itself (on Windows any reparse
// point), dangling or not.
bool IsLink(const char* path);
// True when `path` names the very file that `stream` has open (not a link
// to it, not another file of the same name elsewhere).
bool IsStreamFile(Stream* stream, const char* path);
// Removes the entry itself; a link goes, not what it names.
bool Remove(const char* path);
bool Rename(const char* from, const char* to);

// What stands under a name of a directory, a link not followed.
enum class EntryKind { kFile, kLink, kDirectory, kOther };
struct Spelling {
  std::string name;  // as the directory holds it
  EntryKind kind;
};
// Every entry of `directory` (a plain prefix carrying its own trailing
// separator, or empty for the current directory) whose name equals `name`
// ignoring ASCII case, the name as spelled among them, ordered by name in
// byte order.  One name can stand under several spellings on POSIX, where
// the lookups of the rules above would find only one of them.
std::vector<Spelling> FindSpellings(const char* directory, const char* name);
// Remove and Rename for an entry of exactly that name in `directory`, never
// another spelling of it.  RenameSpelling refuses (EEXIST) when `to` stands
// there already; errno tells why either failed.
bool RemoveSpelling(const char* directory, const char* name);
bool RenameSpelling(const char* directory, const char* from, const char* to);

// Last-write date and time of a file as DOS date and time, the time taken as
// UTC.  Returns false when the file cannot be opened; a time that cannot be
// read or converted gives date and time 0 with the result true.
bool GetFileDosTime(const char* path, uint16_t* dosDate, uint16_t* dosTime);
// The same for the file an open stream reads or writes.
bool GetStreamDosTime(Stream* stream, uint16_t* dosDate, uint16_t* dosTime);
// Sets the creation and last-write time of an existing file from a DOS date
// and time, read as UTC.  Returns false when the file cannot be opened or the
// date and time are not a valid DOS date and time (nothing changes then).
bool SetFileDosTime(const char* path, uint16_t dosDate, uint16_t dosTime);

// The regular files of `directory` (a plain prefix carrying its own trailing
// separator, or empty for the current directory) whose names match
// `pattern` ('*' and '?' wildcards, ASCII case-insensitive), ordered by their
// ASCII upper-cased names.  Returns the names without the directory.
std::vector<std::string> FindFiles(const char* directory, const char* pattern);

// One link call's run, on the calling thread: from BeginCallCache to
// EndCallCache the layer may keep what it learns of the directories the
// call touches (where each lies, the names in it) and answer later paths
// from that, keeping it in step with what the call itself creates, renames
// and removes.  For directories nobody else changes meanwhile: the call's
// working directory and its input.  EndCallCache forgets all of it; nothing
// is kept from one call to the next, and other threads never see it.
// Neither throws.
void BeginCallCache();
void EndCallCache();

// The C library's text for an error number; 0 gives "No error", a number
// without a text gives "Unknown error".
std::string SystemErrorText(int error);
// errno as it stands.
int LastError();

// The current calendar year, from the clock and the local time zone.
int CurrentLocalYear();

#if defined(VARNEL_FAULT_HOOK)
// Test-only: makes the next operation of a kind on the named path fail (the
// path as passed to Open).  Each armed fault fires once.
enum class FaultOp { Open, Read, Write, Flush, Close };
void InjectFault(const char* path, FaultOp op);
// Test-only: a stream opened for reading on the named path gives `bytes`
// bytes (as its reader gets them, after the text-mode rules) and then fails
// to read, as a disk that fails in the middle of the file does.  Every
// stream opened on the path counts its own bytes; the first to get that far
// fails, and the fault is gone.
void InjectReadFaultAfter(const char* path, uint64_t bytes);
void ClearFaults();
#endif

// ---------------------------------------------------------------------------
// The working directory's lock: one link call at a time on a directory,
// across processes.

// A held lock.  Opaque; UnlockDirectory releases it.
struct DirectoryLock;

// Waits until no other process holds the directory that `workDir` names and
// takes it.  `workDir` is the plain prefix a call puts before its file
// names: the directory is everything up to its last separator ('/' or '\\'
// on both platforms), or the current directory when there is none.  The lock
// ends with the process that holds it, however that ends, and puts nothing
// into the directory.  Returns nullptr, having waited for nothing, when the
// directory cannot be opened or takes no lock.  A process holds one such
// lock at a time (run control serialises its calls): two holders in one
// process are not kept apart.
DirectoryLock* LockDirectory(const char* workDir);
// Releases the lock; nullptr does nothing.
void UnlockDirectory(DirectoryLock* lock);

}  // namespace varnel::platform
