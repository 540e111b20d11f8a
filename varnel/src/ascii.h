// ASCII character classes and case, the same on every platform and in every
// locale.  Touches no operating system, so the platform layer uses it too.
#pragma once

#include <cstddef>
#include <string_view>

namespace varnel {

// White space as isspace gives it in the C locale: blank, tab, the line
// ends, vertical tab and form feed.
constexpr bool IsAsciiSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The value of a hexadecimal digit of either case; -1 for any other byte.
constexpr int HexDigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr unsigned char AsciiUpper(unsigned char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

// Upper-cases the ASCII letters of a NUL-terminated text in place.
inline void UpperCaseAscii(char* text) {
  for (; *text != '\0'; ++text) *text = static_cast<char>(AsciiUpper(static_cast<unsigned char>(*text)));
}

// Names compared as the file systems varnel runs on compare them: equal but
// for the case of ASCII letters.
inline bool EqualIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = AsciiUpper(static_cast<unsigned char>(*a));
    unsigned char y = AsciiUpper(static_cast<unsigned char>(*b));
    if (x != y) return false;
    if (x == 0) return true;
  }
}

inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(static_cast<unsigned char>(a[i])) != AsciiUpper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace varnel
