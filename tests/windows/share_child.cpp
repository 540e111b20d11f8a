// A second process for the share-rule test: opens the path it is given for
// writing through the platform layer and says by its exit status whether it
// got the file (0) or was refused (3).
#include "platform/platform.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  varnel::platform::Stream* s = varnel::platform::Open(argv[1], "w");
  if (s == nullptr) return 3;
  bool wrote = varnel::platform::WriteText(s, "child\n");
  return varnel::platform::Close(s) && wrote ? 0 : 4;
}
