#include "text.h"

#include <cstring>

namespace jvarnel {

void AppendAscii(char* buffer, size_t capacity, const char* text) {
  if (capacity == 0) return;
  size_t used = strnlen(buffer, capacity - 1);
  for (; *text != '\0' && used + 1 < capacity; ++text) {
    buffer[used++] = static_cast<unsigned char>(*text) < 0x80 ? *text : '?';
  }
  buffer[used] = '\0';
}

namespace {

constexpr int kInvalid = 0;
constexpr int kIncomplete = -1;

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Reads the sequence at `p`, `available` bytes before the end of the text.
// Returns its length with its value in `unit`; kInvalid when `p` starts no
// valid sequence; kIncomplete when the bytes up to the end of the text
// start a valid sequence that needs more of them.  Modified UTF-8 has only
// the 1- to 3-byte forms; overlong forms are not valid, except C0 80, its
// form of U+0000.
int ReadSequence(const uint8_t* p, size_t available, uint16_t* unit) {
  const uint8_t b0 = p[0];
  if (b0 < 0x80) {
    *unit = b0;
    return 1;
  }
  if (b0 == 0xC0 || (b0 >= 0xC2 && b0 <= 0xDF)) {
    if (available < 2) return kIncomplete;
    if (b0 == 0xC0 ? p[1] != 0x80 : !IsContinuation(p[1])) return kInvalid;
    *unit = static_cast<uint16_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F));
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (available < 2) return kIncomplete;
    if (!IsContinuation(p[1]) || (b0 == 0xE0 && p[1] < 0xA0)) return kInvalid;
    if (available < 3) return kIncomplete;
    if (!IsContinuation(p[2])) return kInvalid;
    *unit = static_cast<uint16_t>(((b0 & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    return 3;
  }
  return kInvalid;
}

}  // namespace

size_t DecodeMessageText(const char (&buffer)[kMessageBufferLength], uint16_t* units) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
  const auto* nul = static_cast<const uint8_t*>(std::memchr(bytes, 0, kMessageTextLimit));
  const size_t length = nul != nullptr ? static_cast<size_t>(nul - bytes) : kMessageTextLimit;
  // varnel's bounded copy leaves no NUL in the buffer when the text was
  // longer than it: only then was the text cut.
  const bool cut = nul == nullptr && bytes[kMessageTextLimit] != 0;
  // The byte behind the cut is the text's own and still in the buffer: it
  // tells a sequence the cut broke from a lead byte that starts none.
  const size_t visible = cut ? kMessageBufferLength : length;
  size_t count = 0;
  for (size_t i = 0; i < length;) {
    uint16_t unit = 0;
    int n = ReadSequence(bytes + i, visible - i, &unit);
    if (cut && (n == kIncomplete || (n > 0 && i + static_cast<size_t>(n) > length))) break;
    if (n <= 0) {
      unit = bytes[i];
      n = 1;
    }
    units[count++] = unit;
    i += static_cast<size_t>(n);
  }
  return count;
}

}  // namespace jvarnel
