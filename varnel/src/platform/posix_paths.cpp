// Paths as the system takes them, and what a call keeps of its directories.
//
// Outside a call every resolution starts from nothing.  Within a call
// (BeginCallCache to EndCallCache, on the calling thread) the layer keeps,
// for each directory a path goes through, where it lies and, once a name
// there did not exist as spelled, the directory's entries as listed then.
// Every later name in that directory is answered from that one listing, and
// what this process creates, renames and removes there through the layer is
// entered into it at once.  That is sound for the directories a call uses:
// the working directory belongs to the call while it runs (no other call
// writes there meanwhile), and the library directory is input that nothing
// changes during the call.  Nothing is kept from one call to the next.
// Wherever the listing says another spelling of a name stands there, the
// system is asked again before that spelling is taken.
#include "platform/posix_paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/common.h"
#include "platform/platform.h"

namespace varnel::platform::posix {

// A directory a path goes through, as the system takes it.
struct Directory {
  std::string path;       // "" for the current directory
  bool missing = false;   // it does not exist: nothing below it can
  bool listable = false;  // it stands as a directory, of this identity
  dev_t dev = 0;
  ino_t ino = 0;
};

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool Lexists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Join(const std::string& directory, std::string_view name) {
  std::string joined = directory;
  if (!joined.empty() && joined.back() != '/') joined += '/';
  joined += name;
  return joined;
}

// Called after an open failed: when it failed for want of descriptors and
// the call kept some, they are closed, and true says to try again.
bool OutOfDescriptors();

// The entries of one directory, found by their names ignoring case.  A
// directory may hold thousands of entries that nothing asks for, so their
// names lie back to back in one block (each ended by a NUL) and the index
// over them is built once the whole directory has been read.
class Listing {
 public:
  struct Entry {
    uint32_t offset;  // of the name in names_
    uint32_t length;
    uint64_t hash;
    unsigned char type;
    bool gone;
  };

  void Read(const std::string& directory) {
    const char* path = directory.empty() ? "." : directory.c_str();
    DIR* dir = opendir(path);
    if (dir == nullptr && OutOfDescriptors()) dir = opendir(path);
    if (dir == nullptr) return;
    entries_.reserve(256);
    names_.reserve(4096);
    errno = 0;
    while (struct dirent* e = readdir(dir)) Store(e->d_name, e->d_type);
    complete_ = errno == 0;
    closedir(dir);
    Reindex();
  }

  // Read all of the directory: a name it does not know does not exist.
  bool Complete() const { return complete_; }

  void Add(std::string_view name, unsigned char type) {
    if (Find(name) != nullptr) return;
    Store(name, type);
    if (2 * entries_.size() > slots_.size()) {
      Reindex();
    } else {
      Index(entries_.size() - 1);
    }
  }

  void Drop(std::string_view name) {
    if (Entry* e = Find(name)) e->gone = true;
  }

  std::string_view Name(const Entry& e) const { return {names_.data() + e.offset, e.length}; }

  // The type of the entry of exactly this name, DT_UNKNOWN when there is none.
  unsigned char TypeOf(std::string_view name) {
    const Entry* e = Find(name);
    return e != nullptr ? e->type : static_cast<unsigned char>(DT_UNKNOWN);
  }

  // The smallest entry in byte order that matches `name` ignoring case but
  // is another name; nullptr when there is none.
  Entry* Variant(std::string_view name);

  // Whether any entry matches `name` ignoring case, itself included.
  bool Knows(std::string_view name) {
    bool known = false;
    Probe(common::FoldedHash(name), [&](Entry& e) { known = known || EqualIgnoringCase(Name(e), name); });
    return known;
  }

  // Calls f(name) for each entry that matches `name` ignoring case, itself
  // included.
  template <typename F>
  void ForEachSpelling(std::string_view name, F&& f) {
    Probe(common::FoldedHash(name), [&](Entry& e) {
      if (EqualIgnoringCase(Name(e), name)) f(Name(e));
    });
  }

  // Calls f(name, type) for each entry; the name is NUL-terminated.
  template <typename F>
  void ForEach(F&& f) const {
    for (const Entry& e : entries_)
      if (!e.gone) f(names_.data() + e.offset, e.type);
  }

 private:
  template <typename F>
  void Probe(uint64_t hash, F&& f) {
    if (slots_.empty()) return;
    const size_t mask = slots_.size() - 1;
    for (size_t s = hash & mask; slots_[s] >= 0; s = (s + 1) & mask) {
      Entry& e = entries_[static_cast<size_t>(slots_[s])];
      if (e.hash == hash && !e.gone) f(e);
    }
  }

  Entry* Find(std::string_view name) {
    Entry* found = nullptr;
    Probe(common::FoldedHash(name), [&](Entry& e) {
      if (Name(e) == name) found = &e;
    });
    return found;
  }

  void Store(std::string_view name, unsigned char type) {
    entries_.push_back({static_cast<uint32_t>(names_.size()), static_cast<uint32_t>(name.size()),
                        common::FoldedHash(name), type, false});
    names_.append(name);
    names_.push_back('\0');
  }

  // Room for at least twice the entries, so that probes stay short.
  void Reindex() {
    size_t size = 64;
    while (size < 4 * entries_.size()) size *= 2;
    slots_.assign(size, -1);
    for (size_t i = 0; i < entries_.size(); ++i) Index(i);
  }

  void Index(size_t i) {
    const size_t mask = slots_.size() - 1;
    size_t s = entries_[i].hash & mask;
    while (slots_[s] >= 0) s = (s + 1) & mask;
    slots_[s] = static_cast<int32_t>(i);
  }

  std::vector<Entry> entries_;
  std::string names_;
  std::vector<int32_t> slots_;  // open addressing by hash; -1 is empty
  bool complete_ = false;
};

Listing::Entry* Listing::Variant(std::string_view name) {
  Entry* best = nullptr;
  Probe(common::FoldedHash(name), [&](Entry& e) {
    std::string_view candidate = Name(e);
    if (candidate != name && EqualIgnoringCase(candidate, name) && (best == nullptr || candidate < Name(*best)))
      best = &e;
  });
  return best;
}

// The most descriptors a call keeps open at once: every input file of the
// largest link, and the temporary files.  Should the process run out of
// descriptors meanwhile, the kept ones go first (OutOfDescriptors).
constexpr size_t kMaxKept = 192;

struct Cache {
  Cache() = default;
  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;
  ~Cache() {
    for (const auto& [key, file] : kept) close(file.fd);
  }

  // By the directory's path as spelled.
  std::unordered_map<std::string, std::unique_ptr<Directory>> directories;
  // By the directory's identity, so that two spellings of one directory
  // share what is known of it.
  std::map<std::pair<dev_t, ino_t>, Listing> listings;
  struct KeptFile {
    int fd;
    bool atStart;
    FileFacts facts;  // what its open learnt
  };
  std::map<KeptKey, KeptFile> kept;
};

// What the calling thread's call keeps; nullptr outside a call.
thread_local std::unique_ptr<Cache> t_call;

bool OutOfDescriptors() {
  if ((errno != EMFILE && errno != ENFILE) || t_call == nullptr || t_call->kept.empty()) return false;
  for (const auto& [key, file] : t_call->kept) close(file.fd);
  t_call->kept.clear();
  return true;
}

// A path as varnel formed it, in components: a backslash separates too,
// empty components go, and trailing blanks and dots of each go (as Windows
// drops them; "." and ".." stay as they are).
struct Spelled {
  bool absolute = false;
  bool trailingSeparator = false;  // asks for a directory
  std::vector<std::string_view> parts;

  explicit Spelled(const char* path) {
    absolute = IsSeparator(path[0]);
    for (const char* p = path; *p != '\0';) {
      while (IsSeparator(*p)) ++p;
      const char* begin = p;
      while (*p != '\0' && !IsSeparator(*p)) ++p;
      std::string_view part(begin, static_cast<size_t>(p - begin));
      if (part != "." && part != "..") {
        while (!part.empty() && (part.back() == ' ' || part.back() == '.')) part.remove_suffix(1);
      }
      if (!part.empty()) parts.push_back(part);
    }
    trailingSeparator = !parts.empty() && IsSeparator(path[std::strlen(path) - 1]);
  }

  // The first `count` components as spelled.
  std::string Prefix(size_t count) const {
    std::string s(absolute ? 1 : 0, '/');
    for (size_t i = 0; i < count; ++i) {
      if (i > 0) s += '/';
      s += parts[i];
    }
    return s;
  }
};

bool IsDots(std::string_view part) { return part == "." || part == ".."; }

void Identify(Directory& d) {
  struct stat st;
  if (stat(d.path.empty() ? "." : d.path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    d.listable = true;
    d.dev = st.st_dev;
    d.ino = st.st_ino;
  }
}

// The listing of a directory if it has been read in this cache.
Listing* Listed(Cache& c, const Directory& d) {
  if (!d.listable) return nullptr;
  auto it = c.listings.find({d.dev, d.ino});
  return it == c.listings.end() ? nullptr : &it->second;
}

// The listing of a directory, read now if need be; one that is no directory
// lists nothing.
Listing& ListingOf(Cache& c, const Directory& d) {
  if (!d.listable) {
    static Listing none;
    return none;
  }
  auto [it, fresh] = c.listings.try_emplace({d.dev, d.ino});
  if (fresh) it->second.Read(d.path);
  return it->second;
}

// Takes the variant of `name` the listing offers, once the system confirms
// it stands there; a variant gone meanwhile is dropped and the next one
// tried.  "" when there is none.
std::string ConfirmedVariant(Listing& listing, const std::string& directory, std::string_view name) {
  while (Listing::Entry* v = listing.Variant(name)) {
    std::string_view variant = listing.Name(*v);
    if (Lexists(Join(directory, variant))) return std::string(variant);
    v->gone = true;
  }
  return {};
}

// The directory of the first `count` components.  A component that exists
// as spelled is taken as it is; one that does not is replaced by another
// spelling that stands in its parent; one that has neither leaves it and
// everything below it missing, kept as spelled.
Directory& DirectoryOf(Cache& c, const Spelled& sp, size_t count) {
  std::string key = sp.Prefix(count);
  auto found = c.directories.find(key);
  if (found != c.directories.end()) return *found->second;
  auto d = std::make_unique<Directory>();
  if (count == 0 || Lexists(key)) {
    d->path = key;
    Identify(*d);
  } else {
    Directory& parent = DirectoryOf(c, sp, count - 1);
    std::string_view part = sp.parts[count - 1];
    d->path = Join(parent.path, part);
    if (parent.missing) {
      d->missing = true;
    } else if (IsDots(part) || (d->path != key && Lexists(d->path))) {
      Identify(*d);
    } else {
      std::string variant = ConfirmedVariant(ListingOf(c, parent), parent.path, part);
      if (variant.empty()) {
        d->missing = true;
      } else {
        d->path = Join(parent.path, variant);
        Identify(*d);
      }
    }
  }
  Directory& ref = *d;
  c.directories.emplace(std::move(key), std::move(d));
  return ref;
}

SystemPath ResolveIn(Cache& c, const Spelled& sp, bool keep) {
  SystemPath r;
  if (sp.parts.empty()) {
    if (sp.absolute) r.path.push_back('/');
    return r;
  }
  Directory& dir = DirectoryOf(c, sp, sp.parts.size() - 1);
  std::string name(sp.parts.back());
  if (!dir.missing && !IsDots(name)) {
    Listing* listing = Listed(c, dir);
    bool absent = false;
    if (listing == nullptr) {
      // Nothing listed yet: the name as spelled, if it stands there, needs
      // no listing.
      absent = !Lexists(Join(dir.path, name));
      if (absent) listing = &ListingOf(c, dir);
    }
    if (listing != nullptr && listing->Variant(name) != nullptr && (absent || !Lexists(Join(dir.path, name)))) {
      std::string variant = ConfirmedVariant(*listing, dir.path, name);
      if (!variant.empty()) name = variant;
    }
    // Neither the name nor another spelling of it stands there.
    r.absent = keep && !sp.trailingSeparator && listing != nullptr && listing->Complete() && !listing->Knows(name);
    if (keep && !sp.trailingSeparator && listing != nullptr && listing->Complete()) r.type = listing->TypeOf(name);
  }
  r.path = Join(dir.path, name);
  if (sp.trailingSeparator) {
    r.path += '/';
  } else if (keep && !dir.missing && !IsDots(name)) {
    r.directory = &dir;
    r.name = name;
  }
  return r;
}

Listing* ListingToUpdate(const SystemPath& p) {
  if (t_call == nullptr || p.directory == nullptr) return nullptr;
  return Listed(*t_call, *p.directory);
}

}  // namespace

SystemPath Resolve(const char* path) {
  Spelled sp(path);
  if (t_call != nullptr) return ResolveIn(*t_call, sp, true);
  // Outside a call: the path as spelled, when it stands there, costs one
  // look; anything else starts from nothing and keeps nothing.
  if (!sp.parts.empty()) {
    std::string spelled = sp.Prefix(sp.parts.size()) + (sp.trailingSeparator ? "/" : "");
    if (Lexists(spelled)) return {spelled, nullptr, {}};
  }
  Cache once;
  return ResolveIn(once, sp, false);
}

SystemPath ResolveEntry(const char* directory, const std::string& name) {
  Spelled sp(directory);
  SystemPath r;
  if (t_call == nullptr) {
    Cache once;
    r.path = Join(DirectoryOf(once, sp, sp.parts.size()).path, name);
    return r;
  }
  Directory& d = DirectoryOf(*t_call, sp, sp.parts.size());
  r.path = Join(d.path, name);
  if (!d.missing) {
    r.directory = &d;
    r.name = name;
  }
  return r;
}

bool Spellings(const char* directory, const std::string& name, std::vector<std::string>* found) {
  Spelled sp(directory);
  Cache once;
  Cache& c = t_call != nullptr ? *t_call : once;
  Directory& d = DirectoryOf(c, sp, sp.parts.size());
  if (d.missing || !d.listable) return false;
  ListingOf(c, d).ForEachSpelling(name, [&](std::string_view spelling) { found->emplace_back(spelling); });
  return true;
}

namespace {

// A descriptor kept under a name that now names another file, or none.
void DropKept(const SystemPath& path) {
  KeptKey key;
  if (!KeyOf(path, &key)) return;
  auto it = t_call->kept.find(key);
  if (it == t_call->kept.end()) return;
  close(it->second.fd);
  t_call->kept.erase(it);
}

}  // namespace

void NoteCreated(const SystemPath& path, unsigned char type) {
  DropKept(path);
  if (Listing* l = ListingToUpdate(path)) l->Add(path.name, type);
}

void NoteRemoved(const SystemPath& path) {
  DropKept(path);
  if (Listing* l = ListingToUpdate(path)) l->Drop(path.name);
}

void NoteChanged(const SystemPath& path) { DropKept(path); }

void ForgetDirectories() {
  if (t_call == nullptr) return;
  t_call.reset();
  try {
    t_call = std::make_unique<Cache>();
  } catch (...) {
    // The rest of the call goes without.
  }
}

bool KeyOf(const SystemPath& path, KeptKey* key) {
  if (t_call == nullptr || path.directory == nullptr || !path.directory->listable) return false;
  key->dev = path.directory->dev;
  key->ino = path.directory->ino;
  key->name = path.name;
  return true;
}

int TakeKept(const KeptKey& key, FileFacts* facts) {
  if (t_call == nullptr) return -1;
  auto it = t_call->kept.find(key);
  if (it == t_call->kept.end()) return -1;
  Cache::KeptFile file = it->second;
  *facts = file.facts;
  t_call->kept.erase(it);
  if (file.atStart || lseek(file.fd, 0, SEEK_SET) == 0) return file.fd;
  close(file.fd);
  return -1;
}

bool Keep(const KeptKey& key, int fd, bool atStart, const FileFacts& facts) {
  if (t_call == nullptr || t_call->kept.size() >= kMaxKept) return false;
  return t_call->kept.emplace(key, Cache::KeptFile{fd, atStart, facts}).second;
}

int OpenDescriptor(const char* path, int flags, mode_t mode) {
  int fd = open(path, flags, mode);
  if (fd < 0 && OutOfDescriptors()) fd = open(path, flags, mode);
  return fd;
}

bool ForEachEntry(const char* directory, const EntryVisitor& visit) {
  Spelled sp(directory);
  Cache once;
  Cache& c = t_call != nullptr ? *t_call : once;
  Directory& d = DirectoryOf(c, sp, sp.parts.size());
  if (d.missing || !d.listable) return false;
  ListingOf(c, d).ForEach([&](const char* name, unsigned char type) { visit(d.path, name, type); });
  return true;
}

}  // namespace varnel::platform::posix

namespace varnel::platform {

// Without the memory for it the call runs as any path outside a call does.
void BeginCallCache() {
  try {
    posix::t_call = std::make_unique<posix::Cache>();
  } catch (...) {
    posix::t_call.reset();
  }
}

void EndCallCache() { posix::t_call.reset(); }

}  // namespace varnel::platform
