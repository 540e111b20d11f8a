// Run control: the exports Varnel, FbFit and VarnelGetVersion, the log, the
// message text and the order of the stages.
#include "runctl.h"

#include "varnel.h"

// (to be built)

extern "C" VARNEL_API void VarnelGetVersion(char* buffer, uint64_t length) {
  if (buffer == nullptr) return;
  const char* text = varnel::kVersionText;
  uint64_t i = 0;
  for (; i < length && text[i] != '\0'; ++i) buffer[i] = text[i];
  for (; i < length; ++i) buffer[i] = '\0';
}

extern "C" VARNEL_API int Varnel(const char*, const char*, const char*, const char*, const char*,
                                 const char*, int, char* message, uint64_t) {
  return message == nullptr ? 8 : 102;
}

extern "C" VARNEL_API int FbFit(const char*, const char*, const char*, const char*, const char*,
                                const char*, int, char* message, uint64_t, uint64_t, uint16_t,
                                uint64_t, uint16_t, int) {
  return message == nullptr ? 7 : 102;
}
