#include "format.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "ascii.h"

namespace varnel {
namespace {

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  int width = -1;
  int precision = -1;
  int bits = 32;  // width of an integer argument
};

// Copies the few bytes of a field or a literal run with fixed-size moves (two
// of them, overlapping) rather than a library call per piece.
template <size_t kSize>
inline void CopyEnds(char* to, const char* from, size_t n) {
  char head[kSize], tail[kSize];
  std::memcpy(head, from, kSize);
  std::memcpy(tail, from + n - kSize, kSize);
  std::memcpy(to, head, kSize);
  std::memcpy(to + n - kSize, tail, kSize);
}

inline void CopyShort(char* to, const char* from, size_t n) {
  if (n > 32) std::memcpy(to, from, n);
  else if (n > 16) CopyEnds<16>(to, from, n);
  else if (n >= 8) CopyEnds<8>(to, from, n);
  else if (n >= 4) CopyEnds<4>(to, from, n);
  else if (n > 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}

// Where a formatted text is put together: a stack buffer that goes into the
// text when it is full and at the end, so that a line is allocated once.
// The common cases are inline; the spills are not, to keep them small.
class Sink {
 public:
  Sink() = default;
  Sink(const Sink&) = delete;
  Sink& operator=(const Sink&) = delete;

  void Put(char c) {
    if (used_ == sizeof buffer_) Spill();
    buffer_[used_++] = c;
  }
  void Put(const char* text, size_t n) {
    if (n <= sizeof buffer_ - used_) {
      CopyShort(buffer_ + used_, text, n);
      used_ += n;
    } else {
      PutLong(text, n);
    }
  }
  void Put(std::string_view text) { Put(text.data(), text.size()); }
  void Fill(char c, int64_t n) {
    if (n <= 0) return;
    if (static_cast<uint64_t>(n) <= sizeof buffer_ - used_) {
      std::memset(buffer_ + used_, c, static_cast<size_t>(n));
      used_ += static_cast<size_t>(n);
    } else {
      FillLong(c, n);
    }
  }
  // The text of its own; one that never left the buffer is copied once.
  std::string Take() {
    if (own_.empty()) return std::string(buffer_, used_);
    Spill();
    return std::move(own_);
  }
  // Puts what the buffer holds into the text.
  void Spill() {
    own_.append(buffer_, used_);
    used_ = 0;
  }

 private:
  __attribute__((noinline)) void PutLong(const char* text, size_t n) {
    Spill();
    own_.append(text, n);
  }
  __attribute__((noinline)) void FillLong(char c, int64_t n) {
    Spill();
    own_.append(static_cast<size_t>(n), c);
  }

  std::string own_;
  size_t used_ = 0;
  char buffer_[256];
};

// Lays out a converted field: sign or prefix, zero or blank padding, then
// the body, which is `zeros` zero digits and the text.
void Emit(Sink& out, const Spec& s, std::string_view prefix, size_t zeros, std::string_view text,
          bool zeroPadAllowed) {
  const int64_t len = static_cast<int64_t>(prefix.size() + zeros + text.size());
  const int64_t fill = s.width > len ? s.width - len : 0;
  if (fill == 0 && zeros == 0 && prefix.empty()) {
    out.Put(text);
  } else if (s.left) {
    out.Put(prefix);
    out.Fill('0', static_cast<int64_t>(zeros));
    out.Put(text);
    out.Fill(' ', fill);
  } else if (s.zero && zeroPadAllowed) {
    out.Put(prefix);
    out.Fill('0', fill + static_cast<int64_t>(zeros));
    out.Put(text);
  } else {
    out.Fill(' ', fill);
    out.Put(prefix);
    out.Fill('0', static_cast<int64_t>(zeros));
    out.Put(text);
  }
}

// The digits of `v` in the base of `conv`, written backwards from `end`;
// returns the first.  0 has no digits.
char* Digits(char* end, char conv, uint64_t v) {
  char* first = end;
  if (conv == 'o') {
    for (; v != 0; v >>= 3) *--first = static_cast<char>('0' + (v & 7));
  } else if (conv == 'x' || conv == 'X') {
    const char* digits = (conv == 'X') ? "0123456789ABCDEF" : "0123456789abcdef";
    for (; v != 0; v >>= 4) *--first = digits[v & 15];
  } else {
    for (; v > 0xFFFFFFFFu; v /= 10) *--first = static_cast<char>('0' + v % 10);
    uint32_t w = static_cast<uint32_t>(v);
    for (; w >= 100; w /= 100) {
      first -= 2;
      std::memcpy(first, kDecimalPairs + 2 * (w % 100), 2);
    }
    if (w >= 10) {
      first -= 2;
      std::memcpy(first, kDecimalPairs + 2 * w, 2);
    } else if (w > 0) {
      *--first = static_cast<char>('0' + w);
    }
  }
  return first;
}

void EmitInteger(Sink& out, const Spec& s, char conv, bool negative, uint64_t magnitude) {
  char buffer[24];  // 22 octal digits of 64 bits at most
  char* end = buffer + sizeof buffer;
  const char* first = Digits(end, conv, magnitude);
  const size_t length = static_cast<size_t>(end - first);
  const size_t precision = s.precision < 0 ? 1 : static_cast<size_t>(s.precision);
  // The digits never start with a 0, so the body does exactly when the
  // precision adds zeros.
  size_t zeros = precision > length ? precision - length : 0;
  std::string_view prefix;
  if (conv == 'd' || conv == 'i') {
    if (negative) prefix = "-";
    else if (s.plus) prefix = "+";
    else if (s.space) prefix = " ";
  } else if (s.alt) {
    if ((conv == 'x' || conv == 'X') && magnitude != 0) prefix = (conv == 'X') ? "0X" : "0x";
    if (conv == 'o' && zeros == 0) zeros = 1;
  }
  if (zeros == 0 && prefix.empty() && s.width <= static_cast<int64_t>(length)) {
    out.Put(first, length);  // the field is its digits: the common case
    return;
  }
  Emit(out, s, prefix, zeros, std::string_view(first, length), s.precision < 0);
}

// The exact decimal expansion of a finite, non-negative double, as digits
// with the position of the decimal point.
struct Decimal {
  std::vector<uint8_t> digits;  // most significant first
  size_t intDigits = 0;         // digits before the point
};

Decimal ExactDecimal(double value) {
  int exponent = 0;
  double fraction = std::frexp(value, &exponent);  // value = fraction * 2^exponent
  uint64_t mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  exponent -= 53;
  Decimal d;
  if (mantissa == 0) {
    d.digits = {0};
    d.intDigits = 1;
    return d;
  }
  for (uint64_t m = mantissa; m != 0; m /= 10) d.digits.insert(d.digits.begin(), m % 10);
  d.intDigits = d.digits.size();
  for (; exponent > 0; --exponent) {  // double it
    unsigned carry = 0;
    for (size_t i = d.digits.size(); i-- > 0;) {
      unsigned v = d.digits[i] * 2u + carry;
      d.digits[i] = static_cast<uint8_t>(v % 10);
      carry = v / 10;
    }
    if (carry) {
      d.digits.insert(d.digits.begin(), static_cast<uint8_t>(carry));
      ++d.intDigits;
    }
  }
  for (; exponent < 0; ++exponent) {  // halve it; each halving is exact
    unsigned carry = 0;
    for (size_t i = 0; i < d.digits.size(); ++i) {
      unsigned v = carry * 10u + d.digits[i];
      d.digits[i] = static_cast<uint8_t>(v / 2);
      carry = v % 2;
    }
    if (carry) d.digits.push_back(5);
  }
  return d;
}

void EmitFixed(Sink& out, const Spec& s, double value, bool upper) {
  int precision = s.precision < 0 ? 6 : s.precision;
  bool negative = std::signbit(value);
  std::string_view prefix = negative ? "-" : s.plus ? "+" : s.space ? " " : "";
  if (std::isnan(value) || std::isinf(value)) {
    const char* word = std::isnan(value) ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf");
    Emit(out, s, prefix, 0, word, false);
    return;
  }
  Decimal d = ExactDecimal(std::fabs(value));
  // Keep intDigits + precision digits; the first dropped digit decides, and a
  // dropped 5 or more rounds the magnitude up (half away from zero).
  size_t keep = d.intDigits + static_cast<size_t>(precision);
  std::vector<uint8_t> kept(d.digits.begin(),
                            d.digits.begin() + static_cast<std::ptrdiff_t>(std::min(keep, d.digits.size())));
  kept.resize(keep, 0);
  size_t intDigits = d.intDigits;
  if (keep < d.digits.size() && d.digits[keep] >= 5) {
    size_t i = kept.size();
    for (;;) {
      if (i == 0) {
        kept.insert(kept.begin(), 1);
        ++intDigits;
        break;
      }
      --i;
      if (kept[i] == 9) {
        kept[i] = 0;
      } else {
        ++kept[i];
        break;
      }
    }
  }
  std::string body;
  size_t lead = 0;  // drop leading zeros of the integer part, keep one
  while (lead + 1 < intDigits && kept[lead] == 0) ++lead;
  for (size_t i = lead; i < intDigits; ++i) body += static_cast<char>('0' + kept[i]);
  if (precision > 0 || s.alt) body += '.';
  for (size_t i = intDigits; i < kept.size(); ++i) body += static_cast<char>('0' + kept[i]);
  Emit(out, s, prefix, 0, body, true);
}

int ReadNumber(const char*& p) {
  int n = 0;
  while (*p >= '0' && *p <= '9') {
    if (n < 100000) n = n * 10 + (*p - '0');
    ++p;
  }
  return n;
}

// The text of `format` (not nullptr) and `args`, by the rules of format.h.
void FormatInto(Sink& out, const char* format, va_list args) {
  va_list ap;
  va_copy(ap, args);
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      const char* percent = std::strchr(p, '%');
      if (percent == nullptr) {
        out.Put(p);
        break;
      }
      out.Put(std::string_view(p, static_cast<size_t>(percent - p)));
      p = percent;
    }
    const char* start = p++;
    Spec s;
    for (;; ++p) {
      if (*p == '-') s.left = true;
      else if (*p == '+') s.plus = true;
      else if (*p == ' ') s.space = true;
      else if (*p == '#') s.alt = true;
      else if (*p == '0') s.zero = true;
      else break;
    }
    if (*p == '*') {
      int w = va_arg(ap, int);
      if (w < 0) {
        s.left = true;
        w = -w;
      }
      s.width = w;
      ++p;
    } else if (*p >= '0' && *p <= '9') {
      s.width = ReadNumber(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        int pr = va_arg(ap, int);
        s.precision = pr < 0 ? -1 : pr;
        ++p;
      } else {
        s.precision = ReadNumber(p);
      }
    }
    if (p[0] == 'h' && p[1] == 'h') {
      s.bits = 8;
      p += 2;
    } else if (p[0] == 'l' && p[1] == 'l') {
      s.bits = 64;
      p += 2;
    } else if (*p == 'h') {
      s.bits = 16;
      ++p;
    } else if (*p == 'l' || *p == 'L') {
      s.bits = 32;
      ++p;
    } else if (*p == 'j' || *p == 'z') {
      s.bits = 64;
      ++p;
    }
    char conv = *p;
    switch (conv) {
      case 'd':
      case 'i': {
        int64_t v = s.bits == 64 ? va_arg(ap, int64_t) : va_arg(ap, int);
        if (s.bits == 16) v = static_cast<int16_t>(v);
        if (s.bits == 8) v = static_cast<int8_t>(v);
        uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        EmitInteger(out, s, conv, v < 0, mag);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X': {
        uint64_t v = s.bits == 64 ? va_arg(ap, uint64_t) : va_arg(ap, unsigned int);
        if (s.bits == 16) v = static_cast<uint16_t>(v);
        if (s.bits == 8) v = static_cast<uint8_t>(v);
        EmitInteger(out, s, conv, false, v);
        break;
      }
      case 'c': {
        const char c = static_cast<char>(va_arg(ap, int));
        Emit(out, s, {}, 0, std::string_view(&c, 1), false);
        break;
      }
      case 's': {
        const char* text = va_arg(ap, const char*);
        if (text == nullptr) text = "(null)";
        size_t n = s.precision < 0 ? std::strlen(text)
                                   : strnlen(text, static_cast<size_t>(s.precision));
        if (s.width <= static_cast<int64_t>(n)) out.Put(text, n);  // no padding
        else Emit(out, s, {}, 0, std::string_view(text, n), false);
        break;
      }
      case 'f':
      case 'F':
        EmitFixed(out, s, va_arg(ap, double), conv == 'F');
        break;
      case '%':
        out.Put('%');
        break;
      case '\0':  // a lone '%' at the end
        out.Put(std::string_view(start, static_cast<size_t>(p - start)));
        --p;
        break;
      default:  // not a conversion of ours: keep it as written
        out.Put(std::string_view(start, static_cast<size_t>(p + 1 - start)));
        break;
    }
  }
  va_end(ap);
}

}  // namespace

std::string VFormat(const char* format, va_list args) {
  if (format == nullptr) return {};
  Sink out;
  FormatInto(out, format, args);
  return out.Take();
}

std::string Format(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = VFormat(format, ap);
  va_end(ap);
  return s;
}

size_t VFormatTo(char* buffer, size_t capacity, const char* format, va_list args) {
  std::string s = VFormat(format, args);
  if (capacity > 0) {
    size_t n = std::min(s.size(), capacity - 1);
    std::memcpy(buffer, s.data(), n);
    buffer[n] = '\0';
  }
  return s.size();
}

size_t FormatTo(char* buffer, size_t capacity, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  size_t n = VFormatTo(buffer, capacity, format, ap);
  va_end(ap);
  return n;
}

namespace {

int DigitValue(char c, unsigned base) {
  int v = HexDigitValue(static_cast<unsigned char>(c));
  return (v >= 0 && static_cast<unsigned>(v) < base) ? v : -1;
}

}  // namespace

int ScanText(const char* text, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const char* t = text ? text : "";
  int assigned = 0;
  bool converted = false;  // any conversion attempted successfully so far
  bool inputFailure = false;
  for (const char* f = format; *f != '\0'; ++f) {
    if (IsAsciiSpace(*f)) {
      while (IsAsciiSpace(*t)) ++t;
      continue;
    }
    if (*f != '%' || f[1] == '%') {
      if (*f == '%') ++f;
      if (*t == '\0') {
        inputFailure = true;
        break;
      }
      if (*t != *f) break;
      ++t;
      continue;
    }
    ++f;
    bool suppress = false;
    if (*f == '*') {
      suppress = true;
      ++f;
    }
    int width = 0;
    while (*f >= '0' && *f <= '9') width = width * 10 + (*f++ - '0');
    int bits = 32;
    if (*f == 'h') {
      bits = 16;
      ++f;
    } else if (*f == 'l' || *f == 'L') {
      ++f;
    }
    char conv = *f;
    if (conv == '\0') break;
    if (conv == 'n') {
      if (!suppress) *va_arg(ap, int32_t*) = static_cast<int32_t>(t - (text ? text : ""));
      continue;
    }
    if (conv != 'c') {
      while (IsAsciiSpace(*t)) ++t;
    }
    if (*t == '\0') {
      inputFailure = true;
      break;
    }
    if (conv == 'c') {
      int n = width > 0 ? width : 1;
      char* dst = suppress ? nullptr : va_arg(ap, char*);
      int i = 0;
      for (; i < n && t[i] != '\0'; ++i)
        if (dst) dst[i] = t[i];
      t += i;
      if (!suppress) ++assigned;
      converted = true;
      continue;
    }
    if (conv == 's') {
      char* dst = suppress ? nullptr : va_arg(ap, char*);
      int i = 0;
      while (t[i] != '\0' && !IsAsciiSpace(t[i]) && (width == 0 || i < width)) {
        if (dst) dst[i] = t[i];
        ++i;
      }
      if (dst) dst[i] = '\0';
      t += i;
      if (!suppress) ++assigned;
      converted = true;
      continue;
    }
    unsigned base;
    bool isSigned;
    switch (conv) {
      case 'd': base = 10; isSigned = true; break;
      case 'i': base = 0; isSigned = true; break;
      case 'u': base = 10; isSigned = false; break;
      case 'x':
      case 'X': base = 16; isSigned = false; break;
      default: base = 1; isSigned = false; break;
    }
    if (base == 1) break;
    int limit = width > 0 ? width : 1 << 30;
    int used = 0;
    bool negative = false;
    if (used < limit && (*t == '+' || *t == '-')) {
      negative = (*t == '-');
      ++t;
      ++used;
    }
    uint64_t value = 0;
    int digits = 0;
    // A leading 0 is a digit in every base.  The C library then takes an 'x'
    // after it as the prefix of a hexadecimal field, digits or none ("0x"
    // alone reads as 0); "%i" takes its base from that prefix.
    if (used < limit && *t == '0') {
      ++t;
      ++used;
      ++digits;
      if (used < limit && (*t == 'x' || *t == 'X') && (base == 16 || base == 0)) {
        base = 16;
        ++t;
        ++used;
      } else if (base == 0) {
        base = 8;
      }
    }
    if (base == 0) base = 10;
    bool overflow = false;
    while (used < limit && DigitValue(*t, base) >= 0) {
      unsigned digit = static_cast<unsigned>(DigitValue(*t, base));
      if (value > (UINT64_MAX - digit) / base) overflow = true;
      value = value * base + digit;
      ++t;
      ++used;
      ++digits;
    }
    if (digits == 0) break;  // matching failure
    // The value of the C library's 64-bit conversion (strtol or strtoul,
    // which saturate on overflow); the field keeps its low bits.
    uint64_t stored;
    if (isSigned) {
      const uint64_t limitMagnitude = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
      if (overflow || value > limitMagnitude) value = limitMagnitude;
      stored = negative ? 0 - value : value;
    } else {
      stored = overflow ? UINT64_MAX : negative ? 0 - value : value;
    }
    converted = true;
    if (!suppress) {
      void* dst = va_arg(ap, void*);
      if (bits == 16) {
        uint16_t v = static_cast<uint16_t>(stored);
        std::memcpy(dst, &v, sizeof v);
      } else {
        uint32_t v = static_cast<uint32_t>(stored);
        std::memcpy(dst, &v, sizeof v);
      }
      ++assigned;
    }
  }
  va_end(ap);
  if (inputFailure && !converted && assigned == 0) return -1;
  return assigned;
}

}  // namespace varnel
