// A host as small as a host can be: loads the varnel shared library, makes
// one Varnel call and exits.  The call benchmark times this process whole.
//
//   call_host LIBRARY ARGFILE LIBDIR WORKDIR LOGFILE SUBMITFILE DOWNLOAD LOGLEVEL [--peak-rss]
//
// Exits 0 when the call returned 0; otherwise prints the result code and
// the message text to standard error and exits 1.  With --peak-rss it prints
// its peak resident memory in KiB after the call (a parent's wait4 would
// count the parent's own memory as well, shared until the exec).
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using VarnelFn = int (*)(const char*, const char*, const char*, const char*, const char*, const char*, int,
                         char*, uint64_t);

void PrintPeakRss() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, status) != nullptr)
    if (std::strncmp(line, "VmHWM:", 6) == 0) std::printf("%ld\n", std::strtol(line + 6, nullptr, 10));
  std::fclose(status);
}

}  // namespace

int main(int argc, char** argv) {
  bool peakRss = argc == 10 && std::strcmp(argv[9], "--peak-rss") == 0;
  if (argc != 9 && !peakRss) {
    std::fprintf(stderr,
                 "usage: call_host LIBRARY ARGFILE LIBDIR WORKDIR LOGFILE SUBMITFILE DOWNLOAD LOGLEVEL [--peak-rss]\n");
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_LAZY | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "%s\n", dlerror());
    return 2;
  }
  auto varnel = reinterpret_cast<VarnelFn>(dlsym(library, "Varnel"));
  if (varnel == nullptr) {
    std::fprintf(stderr, "no Varnel in %s\n", argv[1]);
    return 2;
  }
  char message[550] = {};
  int result = varnel(argv[2], argv[3], argv[4], argv[5], argv[6], argv[7], std::atoi(argv[8]), message,
                      sizeof message - 1);
  if (peakRss) PrintPeakRss();
  if (result == 0) return 0;
  std::fprintf(stderr, "result code %d: %s\n", result, message);
  return 1;
}
