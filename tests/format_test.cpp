// The formatter and ScanText: the fixed rules every log line and file of
// varnel relies on.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "format.h"

namespace varnel {
namespace {

TEST(Format, FixedPointRoundsHalfAwayFromZeroOnTheExactValue) {
  struct Case {
    const char* format;
    double value;
    const char* expected;
  };
  const Case cases[] = {
      {"%.1f", 2.25, "2.3"},
      {"%.1f", 2.25f, "2.3"},
      {"%.1f", -2.25, "-2.3"},
      {"%.1f", 0.25, "0.3"},
      {"%.1f", 0.05f, "0.1"},     // 0.0500000007...
      {"%.2f", 0.05f, "0.05"},
      {"%.1f", 0.35f, "0.3"},     // 0.3499999940...
      {"%.1f", 0.95, "0.9"},      // 0.9499999999999999556...
      {"%.1f", 99.95, "100.0"},   // 99.9500000000000028...
      {"%.1f", 9.96, "10.0"},
      {"%.0f", 0.5, "1"},
      {"%.0f", 2.5, "3"},
      {"%.0f", 0.49, "0"},
      {"%.3f", 1e-10, "0.000"},
      {"%.1f", 5e-324, "0.0"},
      {"%.1f", -0.0, "-0.0"},
      {"%.1f", -0.04, "-0.0"},
      {"%f", 1.0, "1.000000"},
      {"%.1f", 1e20, "100000000000000000000.0"},
      {"%6.1f", 2.25f, "   2.3"},
      {"%6.1f", 0.0, "   0.0"},
      {"%6.1f", 2097152.0, "2097152.0"},  // wider than the field
      {"%4.1f%%", 56.25, "56.3%"},
      {"%4.1f%%", 100.0, "100.0%"},
      {"%4.1f%%", 0.0, " 0.0%"},
      {"%06.1f", -2.25, "-002.3"},
      {"%-7.1f|", 2.25, "2.3    |"},
      {"%+.1f", 2.25, "+2.3"},
      {"% .1f", 2.25, " 2.3"},
      {"%#.0f", 2.0, "2."},
      {"%.1f", std::numeric_limits<double>::infinity(), "inf"},
      {"%F", -std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Format(c.format, c.value), c.expected) << c.format << " " << c.value;
  }
}

TEST(Format, IntegersAndTexts) {
  EXPECT_EQ(Format("%-8.8s|", "ABC"), "ABC     |");
  EXPECT_EQ(Format("%-8.8s|", "ABCDEFGHIJ"), "ABCDEFGH|");
  EXPECT_EQ(Format("%8s|%.2s", "ABC", "ABCD"), "     ABC|AB");
  EXPECT_EQ(Format("%s", static_cast<const char*>(nullptr)), "(null)");
  EXPECT_EQ(Format("%02.2X %02.2X %02X", 5u, 0xABCu, 0x7u), "05 ABC 07");
  EXPECT_EQ(Format("%08.8LX %08.8LX", uint32_t{0xDEADBEEF}, uint32_t{0x1F}), "DEADBEEF 0000001F");
  EXPECT_EQ(Format("%08lX %8lx", uint32_t{0xFFFFFFFF}, uint32_t{0xABC}), "FFFFFFFF      abc");
  EXPECT_EQ(Format("%5lu|%5lu", uint32_t{42}, uint32_t{4294967295u}), "   42|4294967295");
  // 'l' reads 32 bits: the next argument is not swallowed.
  EXPECT_EQ(Format("%lX %d %lu %d", uint32_t{0xFFFFFFFF}, 7, uint32_t{1}, -3), "FFFFFFFF 7 1 -3");
  EXPECT_EQ(Format("%ld %li", int32_t{-1}, int32_t{-2147483647 - 1}), "-1 -2147483648");
  EXPECT_EQ(Format("%d|%5d|%-5d|%05d|%+d|% d", -5, -42, -42, -42, 5, 5),
            "-5|  -42|-42  |-0042|+5| 5");
  EXPECT_EQ(Format("%5.3d|%.0d|%.0d", 7, 0, 3), "  007||3");
  EXPECT_EQ(Format("%x %X %o", -1, 255u, 8u), "ffffffff FF 10");
  EXPECT_EQ(Format("%#x %#X %#x %#o %#o", 255u, 255u, 0u, 8u, 0u), "0xff 0XFF 0 010 0");
  EXPECT_EQ(Format("%hx %hd %hhu %hhd", 0x12345, 0xFFFF, 0x1FF, 0x80), "2345 -1 255 -128");
  EXPECT_EQ(Format("%lld %llu %llX", std::numeric_limits<long long>::min(),
                   std::numeric_limits<unsigned long long>::max(), 0x123456789ABull),
            "-9223372036854775808 18446744073709551615 123456789AB");
  EXPECT_EQ(Format("%u", 4294967295u), "4294967295");
  EXPECT_EQ(Format("%c%3c%-3c|", 'A', 'B', 'C'), "A  BC  |");
  EXPECT_EQ(Format("%*d|%-*d|%.*s", 4, 7, 4, 7, 2, "abcd"), "   7|7   |ab");
  EXPECT_EQ(Format("%*d|", -4, 7), "7   |");
  EXPECT_EQ(Format("100%%"), "100%");
  EXPECT_EQ(Format("%q %"), "%q %");  // not ours: kept as written
  EXPECT_EQ(Format(nullptr), "");
}

TEST(Format, IntoAFixedBuffer) {
  char buffer[8];
  std::memset(buffer, 'Z', sizeof buffer);
  EXPECT_EQ(FormatTo(buffer, 6, "%s-%d", "ABCD", 123), 8u);
  EXPECT_EQ(std::string(buffer, 7), std::string("ABCD-\0Z", 7));
  EXPECT_EQ(FormatTo(buffer, 1, "%d", 5), 1u);
  EXPECT_EQ(buffer[0], '\0');
}

// Texts and fields longer than the formatter's own buffer, and fields that
// end right at its edge, against texts put together without it.
TEST(Format, TextsLongerThanTheFormattersBuffer) {
  const std::string a250(250, 'a');
  const std::string b1000(1000, 'b');
  EXPECT_EQ(Format("%s|%d|%s", a250.c_str(), 123456, b1000.c_str()), a250 + "|123456|" + b1000);
  EXPECT_EQ(Format("%400d|", -7), std::string(398, ' ') + "-7|");
  EXPECT_EQ(Format("%-300x|", 0xABCu), "abc" + std::string(297, ' ') + "|");
  EXPECT_EQ(Format("%0300X", 0xABCu), std::string(297, '0') + "ABC");
  EXPECT_EQ(Format("%.300u", 42u), std::string(298, '0') + "42");
  EXPECT_EQ(Format("%#.0o|%#o|%#.5o", 0u, 0u, 8u), "0|0|00010");
  for (size_t lead = 240; lead <= 260; ++lead) {
    const std::string text(lead, 'x');
    EXPECT_EQ(Format((text + "%s%c%5d%%").c_str(), "yz", 'w', -42), text + "yzw  -42%") << lead;
  }
}

// A piece longer than the formatter's own buffer goes into the text whole,
// between the pieces around it.
TEST(Format, PiecesLongerThanTheBufferPassWhole) {
  const std::string long600(600, 'L');
  EXPECT_EQ(Format("head:%d|%-4s|%s%05X", -5, "ab", long600.c_str(), 0xABu),
            "head:-5|ab  |" + long600 + "000AB");
  EXPECT_EQ(Format("%c%%", 'z'), "z%");
}

// The direct encoders write what the formatter gives for the same field.
TEST(Format, EncodersAgreeWithTheFormatter) {
  const uint32_t values[] = {0,     1,          9,          10,         0xF,        0x10,       0xFF,
                             0x100, 0xFFF,      0x1000,     0xFFFF,     0x10000,    0x12345678, 0x7FFFFFFF,
                             0x80000000u, 0xFFFFFFFFu, 99,  100,        999,        1000,       65535,
                             65536, 999999999u, 1000000000u, 4294967295u};
  for (uint32_t v : values) {
    for (int width = 1; width <= 10; ++width) {
      char buffer[16];
      EXPECT_EQ(std::string(buffer, PutHex(buffer, v, width)), Format("%0*X", width, v)) << v << " " << width;
    }
    for (int32_t d : {static_cast<int32_t>(v), -static_cast<int32_t>(v & 0x7FFFFFFF)}) {
      char buffer[16];
      EXPECT_EQ(std::string(buffer, PutDecimal(buffer, d)), Format("%d", d)) << d;
    }
  }
  char buffer[16];
  EXPECT_EQ(std::string(buffer, PutDecimal(buffer, INT32_MIN)), "-2147483648");
  // Every 32-bit decimal length, every byte.
  for (uint64_t v = 1; v <= 0xFFFFFFFFu; v = v * 3 + 1) {
    const int32_t d = static_cast<int32_t>(v);
    EXPECT_EQ(std::string(buffer, PutDecimal(buffer, d)), Format("%d", d));
  }
  std::vector<uint8_t> bytes(256);
  std::string expected;
  for (int i = 0; i < 256; ++i) {
    bytes[i] = static_cast<uint8_t>(i);
    expected += Format("%02X", static_cast<unsigned>(i));
  }
  std::string hex(512, '?');
  EXPECT_EQ(PutHexBytes(hex.data(), bytes.data(), bytes.size()), hex.data() + 512);
  EXPECT_EQ(hex, expected);
}

TEST(ScanText, FieldWidthsSignsAndPrefixes) {
  int32_t d = 99;
  EXPECT_EQ(ScanText("123:LIB", "%2d", &d), 1);
  EXPECT_EQ(d, 12);
  EXPECT_EQ(ScanText(" 5:X", "%2d", &d), 1);
  EXPECT_EQ(d, 5);
  EXPECT_EQ(ScanText("-12", "%2d", &d), 1);  // the sign counts toward the width
  EXPECT_EQ(d, -1);
  EXPECT_EQ(ScanText("+7", "%2d", &d), 1);
  EXPECT_EQ(d, 7);
  d = 99;
  EXPECT_EQ(ScanText("-", "%2d", &d), 0);
  EXPECT_EQ(ScanText("D:\\", "%2d", &d), 0);
  EXPECT_EQ(d, 99);

  uint32_t a = 0, b = 0, c = 0, e = 0;
  EXPECT_EQ(ScanText("32400003C000", "%2lX%4lX%2lX%4lX", &a, &b, &c, &e), 4);
  EXPECT_EQ(a, 0x32u);
  EXPECT_EQ(b, 0x4000u);
  EXPECT_EQ(c, 0x03u);
  EXPECT_EQ(e, 0xC000u);
  // A field that ends early lets the next one start there.
  EXPECT_EQ(ScanText("1G23", "%2x%2x", &a, &b), 1);
  EXPECT_EQ(a, 0x1u);
  EXPECT_EQ(ScanText("1234ABCDEF", "%8lx%x", &a, &b), 2);
  EXPECT_EQ(a, 0x1234ABCDu);
  EXPECT_EQ(b, 0xEFu);
  EXPECT_EQ(ScanText("0x12", "%4x", &a), 1);
  EXPECT_EQ(a, 0x12u);
  EXPECT_EQ(ScanText("0X1f rest", "%x", &a), 1);
  EXPECT_EQ(a, 0x1Fu);
  EXPECT_EQ(ScanText("-1", "%x", &a), 1);
  EXPECT_EQ(a, 0xFFFFFFFFu);
  EXPECT_EQ(ScanText("  5", "%2x", &a), 1);  // leading blanks do not count
  EXPECT_EQ(a, 5u);
  EXPECT_EQ(ScanText("DMP_12AB", "DMP_%4X", &a), 1);
  EXPECT_EQ(a, 0x12ABu);
  EXPECT_EQ(ScanText("DMX_12AB", "DMP_%4X", &a), 0);

  uint16_t h = 0;
  EXPECT_EQ(ScanText("12345", "%hx", &h), 1);
  EXPECT_EQ(h, 0x2345u);
}

// Fields the C library reads in a way of its own: a "0x" that no digit
// follows, and numbers too long for their field's 32 bits.  The values are
// what sscanf gives for the same text and format (a 32-bit field keeps the
// low 32 bits of the 64-bit conversion, which saturates on overflow).
TEST(ScanText, AgreesWithTheCLibraryOnPrefixesAndOverlongNumbers) {
  constexpr uint32_t kUntouched = 0xA5A5A5A5u;
  struct Case {
    const char* text;
    const char* format;
    int result;
    uint32_t values[4];
  };
  const Case cases[] = {
      // "0x" is taken whole and reads as 0; the next field starts after it.
      {"0xG", "%x%n", 1, {0, 2, kUntouched, kUntouched}},
      {"0x", "%x%n", 1, {0, 2, kUntouched, kUntouched}},
      {"-0xZ", "%x%n", 1, {0, 3, kUntouched, kUntouched}},
      {"0x", "%2x%n", 1, {0, 2, kUntouched, kUntouched}},
      {"0x12", "%2x%2x", 2, {0, 0x12, kUntouched, kUntouched}},
      {"0x12", "%1x%n", 1, {0, 1, kUntouched, kUntouched}},
      {"0x5", "%3x%n", 1, {5, 3, kUntouched, kUntouched}},
      {"0xf60gO", "%2lX%4lX%2lX%4lX", 2, {0, 0xF60, kUntouched, kUntouched}},
      {"810x+12g", "%2d%4x%2x%4x", 4, {81, 0, 1, 2}},
      {"-0X\n93-1A0\t1A", "%4x%8lx%8lx%4x", 4, {0, 0x93, 0xFFFFFE60u, 0x1A}},
      {"S110FF030x\n9AfE", "S1%2lXFF03%4lX%8lX", 3, {0x10, 0, 0x9AFE, kUntouched}},
      {"0xg", "%i%n", 1, {0, 2, kUntouched, kUntouched}},
      // A decimal field has no prefix: the 'x' ends it.
      {"0x12", "%d%n", 1, {0, 1, kUntouched, kUntouched}},
      // Unbounded fields: the low 32 bits of the full value.
      {"123456789", "%x", 1, {0x23456789u, kUntouched, kUntouched, kUntouched}},
      {"10000000000", "%x", 1, {0, kUntouched, kUntouched, kUntouched}},
      {"-123456789", "%x", 1, {0xDCBA9877u, kUntouched, kUntouched, kUntouched}},
      {"FFFFFFFFFFFFFFFF1", "%x", 1, {0xFFFFFFFFu, kUntouched, kUntouched, kUntouched}},
      {"-FFFFFFFFFFFFFFFF1", "%x", 1, {0xFFFFFFFFu, kUntouched, kUntouched, kUntouched}},
      {"1000-123456789A", "%x-%x", 2, {0x1000, 0x3456789Au, kUntouched, kUntouched}},
      {"SECTOR4294967297", "SECTOR%d", 1, {1, kUntouched, kUntouched, kUntouched}},
      {"SECTOR-4294967297", "SECTOR%d", 1, {0xFFFFFFFFu, kUntouched, kUntouched, kUntouched}},
      {"SECTOR99999999999999999999", "SECTOR%d", 1, {0xFFFFFFFFu, kUntouched, kUntouched, kUntouched}},
      {"SECTOR-99999999999999999999", "SECTOR%d", 1, {0, kUntouched, kUntouched, kUntouched}},
      {"SECTOR9223372036854775808", "SECTOR%d", 1, {0xFFFFFFFFu, kUntouched, kUntouched, kUntouched}},
      {"SECTOR-9223372036854775808", "SECTOR%d", 1, {0, kUntouched, kUntouched, kUntouched}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << '"' << c.text << "\" with " << c.format);
    uint32_t v[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(ScanText(c.text, c.format, &v[0], &v[1], &v[2], &v[3]), c.result);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(v[i], c.values[i]) << "field " << i;
  }
}

TEST(ScanText, IntegerBaseFromThePrefix) {
  int32_t v = 0;
  struct Case {
    const char* text;
    int32_t value;
  };
  const Case cases[] = {{"10", 10}, {"0x10", 16}, {"010", 8}, {"-0x10", -16}, {"0", 0}, {"09", 0}};
  for (const Case& c : cases) {
    v = -99;
    EXPECT_EQ(ScanText(c.text, "%i", &v), 1) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(ScanText, TextsCountsAndTheEndOfInput) {
  char word[8];
  std::memset(word, 'Z', sizeof word);
  EXPECT_EQ(ScanText("  ABCDEFGH", "%6s", word), 1);
  EXPECT_STREQ(word, "ABCDEF");
  char ch[3] = {};
  EXPECT_EQ(ScanText(" xy", "%c%c", &ch[0], &ch[1]), 2);
  EXPECT_EQ(std::string(ch), " x");

  int32_t x = 0, y = 0, n = 0;
  EXPECT_EQ(ScanText("12 34", "%d %d%n", &x, &y, &n), 2);
  EXPECT_EQ(y, 34);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(ScanText("12", "%d %d", &x, &y), 1);
  EXPECT_EQ(ScanText("12", "%*d%d", &y), 0);  // a conversion completed before the end
  EXPECT_EQ(ScanText("5%", "%d%%", &x), 1);

  // The end of the text before the first conversion is -1, a mismatch is 0.
  EXPECT_EQ(ScanText("", "%d", &x), -1);
  EXPECT_EQ(ScanText("   ", "%x", &x), -1);
  EXPECT_EQ(ScanText(nullptr, "%d", &x), -1);
  EXPECT_EQ(ScanText("", "DMP_%4X", &x), -1);
  EXPECT_EQ(ScanText("abc", "%d", &x), 0);
}

}  // namespace
}  // namespace varnel
