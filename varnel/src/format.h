// Text formatting and scanning in the one form every file and log line of
// varnel uses, on every platform alike.
//
// Formatting follows printf with these fixed rules:
//  - the length modifiers 'l' and 'L' on integer conversions mean 32 bits
//    (the argument is read as an int or unsigned int), 'h' 16 bits, 'hh'
//    8 bits, 'll', 'j' and 'z' 64 bits;
//  - "%f" prints the exact value of its argument rounded half away from zero
//    (2.25 with "%.1f" prints 2.3);
//  - conversions: d i u o x X c s f F %; a NULL "%s" prints "(null)".
// No format is ever checked by the compiler against its arguments, so every
// integer argument must be of a type at most as wide as its conversion says.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

namespace varnel {

std::string VFormat(const char* format, va_list args);
std::string Format(const char* format, ...);

// Formats into a fixed buffer of `capacity` bytes (capacity >= 1); the text
// is cut to capacity - 1 characters and always ends in a NUL.  Returns the
// length of the whole formatted text, cut or not.
size_t VFormatTo(char* buffer, size_t capacity, const char* format, va_list args);
size_t FormatTo(char* buffer, size_t capacity, const char* format, ...);

// Reads `text` as sscanf does with `format`, for the conversions
//   %d %i (int32_t*), %u %x %X (uint32_t*), %ld %lx %lX (int32_t* / uint32_t*),
//   %hx %hd (uint16_t* / int16_t*), %s (char*, give it a width), %c (char*),
//   %n (int32_t*), %% and literal characters; a blank in the format matches
// any run of white space.  Widths are honoured; "%x" takes an optional sign
// and "0x" prefix as the C library does.  Returns the number of fields
// assigned, or -1 when the text ends before the first conversion.
int ScanText(const char* text, const char* format, ...);

// Direct encoders for the fields of download lines and of the log lines a
// link writes by the thousand, where formatting each field would cost more
// than the rest of the link.  Each writes exactly what Format gives for the
// same field and returns the end of what it wrote; nothing is terminated.

// The digits of "%0*X" with width `minDigits` (>= 1): `value` in upper-case
// hexadecimal, zero-padded to at least `minDigits` digits.
inline char* PutHex(char* out, uint32_t value, int minDigits) {
  int digits = 1;
  while (digits < 8 && (value >> (4 * digits)) != 0) ++digits;
  if (digits < minDigits) digits = minDigits;
  for (int i = digits; i-- > 0;) {
    *out++ = "0123456789ABCDEF"[i < 8 ? (value >> (4 * i)) & 0x0F : 0];
  }
  return out;
}

// Decimal digits two at a time, "00" to "99".
inline constexpr char kDecimalPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The digits of "%u" for a 32-bit value.
inline char* PutUnsignedDecimal(char* out, uint32_t value) {
  int digits = 1;
  for (uint32_t limit = 10; digits < 10 && value >= limit; limit *= 10) ++digits;
  char* end = out + digits;
  char* p = end;
  for (; value >= 100; value /= 100) {
    p -= 2;
    p[0] = kDecimalPairs[2 * (value % 100)];
    p[1] = kDecimalPairs[2 * (value % 100) + 1];
  }
  if (value >= 10) {
    p[-2] = kDecimalPairs[2 * value];
    p[-1] = kDecimalPairs[2 * value + 1];
  } else {
    p[-1] = static_cast<char>('0' + value);
  }
  return end;
}

// The digits of "%d": `value` in decimal, a '-' before a negative one.
inline char* PutDecimal(char* out, int32_t value) {
  if (value < 0) {
    *out++ = '-';
    return PutUnsignedDecimal(out, 0u - static_cast<uint32_t>(value));
  }
  return PutUnsignedDecimal(out, static_cast<uint32_t>(value));
}

// Each byte as "%02X" does.
inline char* PutHexBytes(char* out, const uint8_t* data, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    *out++ = "0123456789ABCDEF"[data[i] >> 4];
    *out++ = "0123456789ABCDEF"[data[i] & 0x0F];
  }
  return out;
}

}  // namespace varnel
