// POSIX side of the platform layer: the path as the system takes it for a
// path as varnel formed it (see the rules in platform.h), and what a call
// keeps of the directories it touches, so that a name that does not exist
// as spelled costs one listing of its directory per call, not one each time.
#pragma once

#include <cstdint>
#include <functional>
#include <sys/types.h>
#include <string>
#include <vector>

namespace varnel::platform::posix {

struct Directory;

// A resolved path.  `name` is its last component as the system takes it and
// `directory` where that name stands (nullptr outside a call, and when the
// path asks for a directory or names "." or ".." or nothing); both serve the
// Note... functions.
struct SystemPath {
  std::string path;
  const Directory* directory = nullptr;
  std::string name;
  // The call's listing of the directory knows no such name: nothing stands
  // there, and the system need not be asked.
  bool absent = false;
  // What the call's listing says stands there (a dirent d_type), DT_UNKNOWN
  // (0) when it does not say.
  unsigned char type = 0;
};

// A backslash separates directories, trailing blanks and dots of each
// component go, and a component that does not exist as spelled is replaced
// by an existing entry of the same name in another case (the smallest such
// name in byte order).  What cannot be found stays as spelled, so a new
// file keeps its caller's name.
SystemPath Resolve(const char* path);

// The entry of exactly `name` in `directory` (a prefix as varnel forms it):
// the directory resolved as any path's is, the name taken as it is, never
// another spelling of it.
SystemPath ResolveEntry(const char* directory, const std::string& name);
// The names of the entries of `directory` that equal `name` ignoring case,
// as the call's listing knows them (outside a call, as the directory lists
// now); false when the directory cannot be listed.
bool Spellings(const char* directory, const std::string& name, std::vector<std::string>* found);

// What this process did to an entry, told once it is done, so that what a
// call keeps of the directory stays true.  `type` is a dirent d_type.
void NoteCreated(const SystemPath& path, unsigned char type);
void NoteRemoved(const SystemPath& path);
// Its dates changed: what a kept descriptor's open learnt of it is old.
void NoteChanged(const SystemPath& path);
// Directories were moved: nothing kept can be trusted.
void ForgetDirectories();

// Read-only descriptors of regular files that the call has done with are
// kept for the next open of the same entry in the same call (until the call
// itself creates, moves or removes something under that name).  The key of
// an entry is its directory's identity and its name; KeyOf is false when the
// entry cannot be kept (outside a call, for one).
struct KeptKey {
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;
  bool operator<(const KeptKey& o) const {
    return dev != o.dev ? dev < o.dev : ino != o.ino ? ino < o.ino : name < o.name;
  }
};
bool KeyOf(const SystemPath& path, KeptKey* key);
// What the open of a regular file learnt of it: its length and last-write
// time then (known false: nothing was learnt).
struct FileFacts {
  bool known = false;
  int64_t size = 0;
  int64_t mtime = 0;
};
// The kept descriptor, at offset 0, handed over with what its open learnt;
// -1 when there is none.
int TakeKept(const KeptKey& key, FileFacts* facts);
// Takes the descriptor over (atStart: its offset is 0); false when it is not
// kept, and the caller closes it.
bool Keep(const KeptKey& key, int fd, bool atStart, const FileFacts& facts);
// open(2), once more after closing the kept descriptors when the process
// has run out of them.
int OpenDescriptor(const char* path, int flags, mode_t mode = 0);

// Calls visit(directory, name, type) for each entry of a directory (a
// prefix as varnel forms it, "" for the current directory), with the
// directory as the system takes it and the entry's dirent d_type
// (DT_UNKNOWN when the system did not say); false when it cannot be listed.
using EntryVisitor =
    std::function<void(const std::string& directory, const char* name, unsigned char type)>;
bool ForEachEntry(const char* directory, const EntryVisitor& visit);

}  // namespace varnel::platform::posix
