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

// Decimal digits two at a time, "00" to "99".
inline constexpr char kDecimalPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

}  // namespace varnel
