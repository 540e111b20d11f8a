// File and path helpers every stage uses to open files and form paths.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace varnel {

// The longest path any stage opens; a longer one counts as a file that cannot
// be opened.
constexpr size_t kMaxPath = 255;

// Opens a stream with varnel's share rule (readers let others read and
// write, writers deny other writers).  nullptr when it cannot be opened or
// the path is longer than kMaxPath.
platform::Stream* OpenShared(const char* path, const char* mode);
// Opens one of the files a call makes for itself in the working directory
// (unpacked members, generated objects) for writing byte for byte, in place:
// never through a symbolic link of that name.  nullptr when it cannot be
// opened or the path is longer than kMaxPath.
platform::Stream* OpenTemporary(const char* path);
// 1 when path can be opened for reading, else 0.
int FileExists(const char* path);
// Moves an existing file, or a symbolic link of that name (dangling or not),
// to its backup name (last character replaced by '~', a trailing '.' dropped
// first).  1 when something stood there and was put aside.
int BackupExistingFile(const char* path);
// An entry of a directory that could not be put aside or removed, and the
// error number that says why.
struct EntryFailure {
  std::string name;
  int error = 0;
};
// Puts aside every entry of `directory` whose name is `name` in any case
// (files and links, dangling ones too, and whatever else is no directory),
// each under its own backup name, once the older backups of that name, in
// any spelling, are gone.  Directories stay where they are.  false, with
// *failure filled in, when an entry cannot be put aside.
bool BackupEverySpelling(const char* directory, const char* name, EntryFailure* failure);
// Removes every entry of `directory` whose name is `name` in any case that
// a file about to be written under exactly that name could be mistaken for
// or written through: the other spellings and the links.  A regular file of
// exactly that name stays, to be replaced in place; directories stay.  false,
// with *failure filled in, when an entry cannot be removed.
bool RemoveOtherSpellings(const char* directory, const char* name, EntryFailure* failure);
// Copies at most n characters of source (nullptr = "") into destination,
// NUL-filling the rest of the n bytes, and stores a NUL at destination[n].
void CopyBounded(char* destination, const char* source, size_t n);
// Rewrites path (a buffer of at least 256 bytes) in place when it begins with
// a numbered alias prefix; 0 when the selected alias reads "NULL".
int MapPathAlias(char* path);
// path with every "XXX" replaced by the site code; the result lives until
// the next call.
char* SubstituteXxx(const char* path);

}  // namespace varnel
