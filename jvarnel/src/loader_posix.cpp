// The POSIX loader: varnel is libvarnel.so, first from bin/ under the
// current directory (where the host puts it beside its working files), then
// wherever the dynamic loader's own search finds it.
#include <dlfcn.h>

#include "loader.h"
#include "text.h"

namespace jvarnel::loader {

namespace {

constexpr const char* kCandidates[] = {"bin/libvarnel.so", "libvarnel.so"};

void AppendReason(char* why, size_t whyLength) {
  const char* reason = dlerror();
  AppendAscii(why, whyLength, reason != nullptr ? reason : "unknown reason");
}

}  // namespace

void PrepareSearch() {
  // The candidates above already name bin/; nothing to set up.
}

void* OpenLibrary(char* why, size_t whyLength) {
  if (whyLength > 0) why[0] = '\0';
  for (const char* candidate : kCandidates) {
    if (void* library = dlopen(candidate, RTLD_NOW | RTLD_LOCAL)) return library;
    if (whyLength > 0 && why[0] != '\0') AppendAscii(why, whyLength, "; ");
    AppendReason(why, whyLength);
  }
  return nullptr;
}

void* FindEntry(void* library, const char* name, char* why, size_t whyLength) {
  if (whyLength > 0) why[0] = '\0';
  dlerror();
  void* address = dlsym(library, name);
  if (address == nullptr) AppendReason(why, whyLength);
  return address;
}

}  // namespace jvarnel::loader
