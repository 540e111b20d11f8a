// A command-line host for varnel: runs one link and prints the result code
// and the message text.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "varnel.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    char version[100] = {};
    VarnelGetVersion(version, sizeof version);
    std::printf("%s\n", version);
    return 0;
  }
  if (argc < 7 || argc > 8) {
    std::fprintf(stderr,
                 "usage: varnel-run --version\n"
                 "       varnel-run ARGFILE LIBDIR|- WORKDIR LOGFILE SUBMITFILE DOWNLOAD|- [LOGLEVEL]\n");
    return 2;
  }
  const char* libraryDir = std::strcmp(argv[2], "-") == 0 ? nullptr : argv[2];
  const char* download = std::strcmp(argv[6], "-") == 0 ? nullptr : argv[6];
  int logLevel = argc == 8 ? std::atoi(argv[7]) : 3;
  char message[550] = {};
  int result = Varnel(argv[1], libraryDir, argv[3], argv[4], argv[5], download, logLevel, message,
                      sizeof message - 1);
  std::printf("result code: %d\n", result);
  std::printf("message text: \"%s\"\n", message);
  return result == 0 ? 0 : 1;
}
