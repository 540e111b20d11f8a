// The stream operations that need nothing of the operating system: lines,
// texts and formatted output, built on Getc and Write of either side, so
// both builds cut lines and format alike.
#include <cstring>
#include <string>

#include "format.h"
#include "platform/platform.h"

namespace varnel::platform {

bool ReadLine(Stream* s, char* buffer, size_t capacity) {
  if (capacity == 0) return false;
  size_t n = 0;
  while (n + 1 < capacity) {
    int c = Getc(s);
    if (c == kEndOfFile) {
      buffer[n] = '\0';
      // As fgets: a read error fails the line, whatever it had read.
      return n > 0 && !(ReadFailed(s) && !AtEnd(s));
    }
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = '\0';
  return true;
}

bool WriteText(Stream* s, const char* text) { return Write(s, text, std::strlen(text)); }

bool VPrintf(Stream* s, const char* format, va_list args) {
  std::string text = VFormat(format, args);
  return Write(s, text.data(), text.size());
}

bool Printf(Stream* s, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  bool ok = VPrintf(s, format, ap);
  va_end(ap);
  return ok;
}

}  // namespace varnel::platform
