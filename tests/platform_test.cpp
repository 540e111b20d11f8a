// The platform layer: text and binary streams, the share rule, read and
// write errors, file dates, the directory search, error texts, and (on
// POSIX) the Windows path rules the layer emulates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "builders/files.h"
#include "platform/platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace varnel::platform {
namespace {

using varnel::testing::ListDir;
using varnel::testing::ReadFile;
using varnel::testing::TempDir;
using varnel::testing::WriteFile;

// Everything a stream still gives, byte by byte.
std::string DrainByGetc(Stream* s) {
  std::string out;
  for (int c; (c = Getc(s)) != kEndOfFile;) out += static_cast<char>(c);
  return out;
}

std::string ReadThrough(const std::string& path, const char* mode) {
  Stream* s = Open(path.c_str(), mode);
  if (s == nullptr) return "(no open)";
  std::string out = DrainByGetc(s);
  EXPECT_TRUE(Close(s));
  return out;
}

void WriteThrough(const std::string& path, const char* mode, const std::string& bytes) {
  Stream* s = Open(path.c_str(), mode);
  ASSERT_NE(s, nullptr) << path;
  EXPECT_TRUE(Write(s, bytes.data(), bytes.size()));
  EXPECT_TRUE(Close(s));
}

// Compares long texts without gtest's diff of the whole of both.
::testing::AssertionResult SameBytes(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t at = 0;
  while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
  return ::testing::AssertionFailure()
         << "lengths " << got.size() << " and " << want.size() << ", first difference at byte " << at;
}

int64_t ModTime(const std::string& path) {
#if defined(_WIN32)
  // mingw's std::filesystem reads times after 2038 wrongly; the system's
  // own record of the time does not.
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                   data.ftLastWriteTime.dwLowDateTime;
  return static_cast<int64_t>(ticks / 10000000) - 11644473600;  // 100 ns since 1601
#else
  auto t = std::chrono::file_clock::to_sys(std::filesystem::last_write_time(path));
  return std::chrono::floor<std::chrono::seconds>(t).time_since_epoch().count();
#endif
}

void SetModTime(const std::string& path, int64_t seconds) {
  std::filesystem::last_write_time(
      path, std::chrono::file_clock::from_sys(std::chrono::sys_seconds{std::chrono::seconds{seconds}}));
}

constexpr uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
constexpr uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

// ---------------------------------------------------------------------------
// Text and binary streams.

TEST(PlatformStream, ReadModesTranslateAsTextOrNot) {
  struct Case {
    const char* mode;
    std::string raw;
    std::string expected;
  };
  const std::string withCtrlZ = std::string("ab\x1A", 3) + "cd\r\n";
  const Case cases[] = {
      {"r", "a\r\nb\r\n", "a\nb\n"},
      {"rt", "a\r\nb\r\n", "a\nb\n"},
      {"rb", "a\r\nb\r\n", "a\r\nb\r\n"},
      {"r", "a\rb\r", "a\rb\r"},          // a lone CR stays, also the last byte
      {"r", "a\r\r\nb", "a\r\nb"},        // only the CR right before LF goes
      {"r", "\n\n", "\n\n"},
      {"r", withCtrlZ, "ab"},             // Ctrl-Z ends the file
      {"r", std::string("\x1A", 1) + "rest", ""},
      {"r", std::string("a\r\x1A", 3) + "b", "a\r"},
      {"rb", withCtrlZ, withCtrlZ},
      {"r", "", ""},
  };
  TempDir dir;
  const std::string path = dir / "in.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " " + ::testing::PrintToString(c.raw));
    WriteFile(path, c.raw);

    Stream* s = Open(path.c_str(), c.mode);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(DrainByGetc(s), c.expected);
    EXPECT_TRUE(AtEnd(s));
    EXPECT_FALSE(ReadFailed(s));
    EXPECT_EQ(Getc(s), kEndOfFile);  // the end stays the end
    EXPECT_TRUE(Close(s));

    s = Open(path.c_str(), c.mode);
    ASSERT_NE(s, nullptr);
    char block[64];
    size_t n = Read(s, block, sizeof block);
    EXPECT_EQ(std::string(block, n), c.expected);
    EXPECT_TRUE(AtEnd(s));
    EXPECT_TRUE(Close(s));

    s = Open(path.c_str(), c.mode);
    ASSERT_NE(s, nullptr);
    std::string lines;
    char line[64];
    while (ReadLine(s, line, sizeof line)) lines += line;
    EXPECT_EQ(lines, c.expected);
    EXPECT_TRUE(Close(s));
  }
}

// A period of 7 bytes puts every byte of the pattern at the edge of any
// power-of-two buffer somewhere in the file: a CR LF split between two
// refills, a lone CR as the last byte of a refill.
TEST(PlatformStream, TextAndBinaryReadsAcrossBufferEdges) {
  std::string raw, text;
  for (int i = 0; i < 100000; ++i) {
    raw += "x\r\ny\r\r\n";
    text += "x\ny\r\n";
  }
  TempDir dir;
  const std::string path = dir / "big.txt";
  WriteFile(path, raw);
  EXPECT_TRUE(SameBytes(ReadThrough(path, "r"), text));

  for (const char* mode : {"rb", "r"}) {
    for (size_t chunk : {size_t{1}, size_t{7}, size_t{4097}, size_t{65536}, size_t{100000}, raw.size() + 5}) {
      SCOPED_TRACE(std::string(mode) + " " + std::to_string(chunk));
      Stream* s = Open(path.c_str(), mode);
      ASSERT_NE(s, nullptr);
      std::string got;
      std::vector<char> block(chunk);
      while (size_t n = Read(s, block.data(), chunk)) got.append(block.data(), n);
      EXPECT_TRUE(AtEnd(s));
      EXPECT_TRUE(Close(s));
      EXPECT_TRUE(SameBytes(got, mode[1] == 'b' ? raw : text));
    }
  }
}

TEST(PlatformStream, WriteModesTranslateAsTextOrNot) {
  struct Case {
    const char* mode;
    std::string written;
    std::string stored;
  };
  const Case cases[] = {
      {"w", "a\nb", "a\r\nb"},
      {"wt", "\n\nend\n", "\r\n\r\nend\r\n"},
      {"w", "a\r\n", "a\r\r\n"},  // a CR written is a CR stored
      {"wb", "a\nb\r\n", "a\nb\r\n"},
  };
  TempDir dir;
  const std::string path = dir / "out.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    WriteThrough(path, c.mode, c.written);
    EXPECT_EQ(ReadFile(path), c.stored);
  }

  // Far more than any buffer, written in pieces and through Printf.
  Stream* s = Open(path.c_str(), "w");
  ASSERT_NE(s, nullptr);
  std::string expected;
  for (int32_t i = 0; i < 50000; ++i) {
    ASSERT_TRUE(Printf(s, "%d\n", i));
    ASSERT_TRUE(WriteText(s, "ab\ncd"));
    expected += std::to_string(i) + "\r\nab\r\ncd";
  }
  EXPECT_TRUE(Close(s));
  EXPECT_TRUE(SameBytes(ReadFile(path), expected));
}

TEST(PlatformStream, UngetcPushesBackOneByte) {
  TempDir dir;
  const std::string path = dir / "u.txt";
  WriteFile(path, std::string("ab\x1A", 3) + "z");

  Stream* s = Open(path.c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Getc(s), 'a');
  Ungetc(s, 'a');
  EXPECT_EQ(Tell(s), 0);
  EXPECT_EQ(Getc(s), 'a');
  Ungetc(s, kEndOfFile);  // pushes nothing
  EXPECT_EQ(Getc(s), 'b');
  EXPECT_EQ(Getc(s), 0x1A);
  EXPECT_EQ(Getc(s), 'z');
  EXPECT_EQ(Getc(s), kEndOfFile);
  EXPECT_TRUE(AtEnd(s));
  Ungetc(s, 'z');
  EXPECT_FALSE(AtEnd(s));
  EXPECT_EQ(Getc(s), 'z');
  EXPECT_EQ(Getc(s), kEndOfFile);
  EXPECT_TRUE(AtEnd(s));
  EXPECT_TRUE(Close(s));

  // In text mode the Ctrl-Z stays the end after a byte went back.
  s = Open(path.c_str(), "r");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Getc(s), 'a');
  EXPECT_EQ(Getc(s), 'b');
  EXPECT_EQ(Getc(s), kEndOfFile);
  Ungetc(s, 'b');
  EXPECT_EQ(Getc(s), 'b');
  EXPECT_EQ(Getc(s), kEndOfFile);
  EXPECT_TRUE(Close(s));
}

TEST(PlatformStream, ReadLineCutsAsFgets) {
  struct Case {
    std::string content;
    size_t capacity;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"abcdef\nxy", 256, {"abcdef\n", "xy"}},
      {"abcdef\nxy", 4, {"abc", "def", "\n", "xy"}},
      {"ab\r\ncd\r\n", 256, {"ab\n", "cd\n"}},
      {"\n", 2, {"\n"}},
      {"", 256, {}},
  };
  TempDir dir;
  const std::string path = dir / "lines.txt";
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.content) + " capacity " + std::to_string(c.capacity));
    WriteFile(path, c.content);
    Stream* s = Open(path.c_str(), "r");
    ASSERT_NE(s, nullptr);
    std::vector<char> buffer(c.capacity, '#');
    std::vector<std::string> lines;
    while (ReadLine(s, buffer.data(), c.capacity)) lines.emplace_back(buffer.data());
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(buffer[0], '\0');  // the failed read still leaves a text
    char untouched = '#';
    EXPECT_FALSE(ReadLine(s, &untouched, 0));
    EXPECT_EQ(untouched, '#');
    EXPECT_TRUE(Close(s));
  }
}

TEST(PlatformStream, BinaryPositionsAndLength) {
  std::string bytes;
  for (int i = 0; i < 300000; ++i) bytes += static_cast<char>((i * 131 + i / 977) & 0xFF);
  TempDir dir;
  const std::string path = dir / "data.bin";

  Stream* s = Open(path.c_str(), "wb");
  ASSERT_NE(s, nullptr);
  for (size_t at = 0; at < bytes.size(); at += 4097)
    ASSERT_TRUE(Write(s, bytes.data() + at, std::min<size_t>(4097, bytes.size() - at)));
  EXPECT_EQ(Tell(s), 300000);
  EXPECT_EQ(Length(s), 300000);  // what is still buffered counts
  EXPECT_TRUE(Close(s));
  EXPECT_TRUE(SameBytes(ReadFile(path), bytes));

  s = Open(path.c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Length(s), 300000);
  EXPECT_EQ(Getc(s), static_cast<unsigned char>(bytes[0]));
  EXPECT_EQ(Tell(s), 1);
  ASSERT_TRUE(Seek(s, 200001));
  EXPECT_EQ(Tell(s), 200001);
  EXPECT_EQ(Getc(s), static_cast<unsigned char>(bytes[200001]));
  ASSERT_TRUE(Seek(s, 300000));
  EXPECT_EQ(Getc(s), kEndOfFile);
  EXPECT_TRUE(AtEnd(s));
  ASSERT_TRUE(Seek(s, 5));
  EXPECT_FALSE(AtEnd(s));
  EXPECT_EQ(Getc(s), static_cast<unsigned char>(bytes[5]));
  EXPECT_FALSE(Seek(s, -1));
  EXPECT_TRUE(Close(s));
}

TEST(PlatformStream, OnlyReadAndWriteModesOpen) {
  TempDir dir;
  const std::string path = dir / "m.txt";
  for (const char* mode : {"a", "r+", "w+", "rw", "wbx", "", "x"}) {
    SCOPED_TRACE(mode);
    errno = 0;
    EXPECT_EQ(Open(path.c_str(), mode), nullptr);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_TRUE(ListDir(dir.Path()).empty());

  // A stream does only what its mode says.
  WriteFile(path, "x");
  Stream* s = Open(path.c_str(), "r");
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(Write(s, "y", 1));
  EXPECT_TRUE(Failed(s));
  EXPECT_FALSE(Close(s));
  EXPECT_EQ(ReadFile(path), "x");
}

// ---------------------------------------------------------------------------
// The share rule.

TEST(PlatformShare, WriterDeniesOtherWritersOnly) {
  TempDir dir;
  const std::string path = dir / "shared.txt";
  WriteFile(path, "old");

  Stream* reader = Open(path.c_str(), "r");
  ASSERT_NE(reader, nullptr);
  Stream* writer = Open(path.c_str(), "w");  // a reader does not stand in the way
  ASSERT_NE(writer, nullptr);
  ASSERT_TRUE(WriteText(writer, "first"));
  ASSERT_TRUE(Flush(writer));

  // A second writer is refused, and its open empties nothing.
  for (const char* mode : {"w", "wb"}) {
    EXPECT_EQ(Open(path.c_str(), mode), nullptr) << mode;
    EXPECT_EQ(ReadFile(path), "first");
  }
  // Readers still read, while the file is being written.
  EXPECT_EQ(ReadThrough(path, "r"), "first");
  EXPECT_TRUE(Close(reader));

  EXPECT_TRUE(Close(writer));
  WriteThrough(path, "w", "second");  // the lock went with the close
  EXPECT_EQ(ReadFile(path), "second");
}

// ---------------------------------------------------------------------------
// Errors: read errors, write errors seen at Close, and the fault hook.

TEST(PlatformFaults, ReadFaultIsNotEndOfFile) {
  TempDir dir;
  const std::string path = dir / "r.txt";
  WriteFile(path, "ab\ncd\n");

  // Armed while the stream is open, with bytes already buffered.
  Stream* s = Open(path.c_str(), "r");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Getc(s), 'a');
  InjectFault(path.c_str(), FaultOp::Read);
  errno = 0;
  EXPECT_EQ(Getc(s), kEndOfFile);
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(ReadFailed(s));
  EXPECT_FALSE(AtEnd(s));
  EXPECT_TRUE(Failed(s));
  EXPECT_EQ(Getc(s), 'b');  // the fault fired once and took nothing
  EXPECT_FALSE(Close(s));   // the error flag stays set

  // Armed before the open; ReadLine fails as fgets does.
  InjectFault(path.c_str(), FaultOp::Read);
  s = Open(path.c_str(), "r");
  ASSERT_NE(s, nullptr);
  char line[16];
  EXPECT_FALSE(ReadLine(s, line, sizeof line));
  EXPECT_TRUE(ReadFailed(s));
  EXPECT_TRUE(ReadLine(s, line, sizeof line));
  EXPECT_STREQ(line, "ab\n");
  EXPECT_FALSE(Close(s));

  InjectFault(path.c_str(), FaultOp::Read);
  s = Open(path.c_str(), "rb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Read(s, line, sizeof line), 0u);
  EXPECT_TRUE(ReadFailed(s));
  EXPECT_FALSE(AtEnd(s));
  EXPECT_FALSE(Close(s));
}

// A disk that fails in the middle of a file: so many bytes arrive, then
// the read error, whichever way the file is read.
TEST(PlatformFaults, ReadFaultAfterSoManyBytes) {
  TempDir dir;
  const std::string path = dir / "r.txt";
  WriteFile(path, "ab\r\ncd\r\nef");
  struct Case {
    const char* mode;
    uint64_t after;
    std::string before;  // what arrives before the error
    std::string rest;    // what a reader that goes on gets
  };
  const Case cases[] = {
      {"r", 0, "", "ab\ncd\nef"},
      {"r", 4, "ab\nc", "d\nef"},
      {"rb", 4, "ab\r\n", "cd\r\nef"},
      {"r", 8, "ab\ncd\nef", ""},  // all of it: the error comes at the end
  };
  for (const Case& c : cases) {
    for (bool byGetc : {false, true}) {
      SCOPED_TRACE(std::string(c.mode) + " after " + std::to_string(c.after) + (byGetc ? " Getc" : " Read"));
      InjectReadFaultAfter(path.c_str(), c.after);
      // A stream that reads nothing meets nothing.
      Stream* s = Open(path.c_str(), c.mode);
      ASSERT_NE(s, nullptr);
      EXPECT_TRUE(Close(s));
      s = Open(path.c_str(), c.mode);
      ASSERT_NE(s, nullptr);
      std::string got;
      if (byGetc) {
        for (int ch; (ch = Getc(s)) != kEndOfFile;) got += static_cast<char>(ch);
      } else {
        char block[64];
        got.assign(block, Read(s, block, sizeof block));
      }
      EXPECT_EQ(got, c.before);
      EXPECT_TRUE(ReadFailed(s));
      EXPECT_FALSE(AtEnd(s));
      char block[64];
      EXPECT_EQ(std::string(block, Read(s, block, sizeof block)), c.rest);
      EXPECT_FALSE(Close(s));
      // Fired once: the next stream reads the whole file.
      EXPECT_EQ(ReadThrough(path, c.mode), c.mode[1] == 'b' ? "ab\r\ncd\r\nef" : "ab\ncd\nef");
    }
  }
}

TEST(PlatformFaults, OpenWriteFlushAndCloseFaults) {
  TempDir dir;
  const std::string path = dir / "w.txt";
  const std::string other = dir / "other.txt";

  InjectFault(path.c_str(), FaultOp::Open);
  InjectFault(other.c_str(), FaultOp::Write);  // another path: never fires here
  errno = 0;
  EXPECT_EQ(Open(path.c_str(), "w"), nullptr);
  EXPECT_EQ(errno, EIO);
  EXPECT_FALSE(std::filesystem::exists(path));

  // Write: that one call fails, later ones go on, Close reports it.
  InjectFault(path.c_str(), FaultOp::Write);
  Stream* s = Open(path.c_str(), "w");
  ASSERT_NE(s, nullptr);
  EXPECT_FALSE(WriteText(s, "lost\n"));
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(Failed(s));
  EXPECT_TRUE(WriteText(s, "kept\n"));
  EXPECT_FALSE(Flush(s));  // the error flag answers
  errno = 0;
  EXPECT_FALSE(Close(s));
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(ReadFile(path), "kept\r\n");

  // Flush, explicit or the one inside Close.
  InjectFault(path.c_str(), FaultOp::Flush);
  s = Open(path.c_str(), "w");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(WriteText(s, "text"));
  EXPECT_FALSE(Flush(s));
  EXPECT_FALSE(Close(s));
  InjectFault(path.c_str(), FaultOp::Flush);
  s = Open(path.c_str(), "w");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(WriteText(s, "text"));
  EXPECT_FALSE(Close(s));
  EXPECT_EQ(errno, EIO);

  // Close: the data is written and the file let go, but Close says false.
  InjectFault(path.c_str(), FaultOp::Close);
  s = Open(path.c_str(), "w");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(WriteText(s, "done"));
  errno = 0;
  EXPECT_FALSE(Close(s));
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(ReadFile(path), "done");
  WriteThrough(path, "w", "again");  // fired once; no lock left behind

  // ClearFaults disarms what did not fire.
  InjectFault(path.c_str(), FaultOp::Open);
  ClearFaults();
  WriteThrough(path, "w", "free");
  WriteThrough(other, "w", "free");
}

// ---------------------------------------------------------------------------
// File dates.

// The DOS date and time are UTC on both sides; the local time zone plays no
// part, so a zone far from UTC changes nothing.
class PlatformDates : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(_WIN32)
    const char* tz = std::getenv("TZ");
    hadTz_ = tz != nullptr;
    if (hadTz_) oldTz_ = tz;
    setenv("TZ", "XYZ-5:30", 1);
    tzset();
#endif
    path_ = dir_ / "dated.obj";
    WriteFile(path_, "x");
  }
  void TearDown() override {
#if !defined(_WIN32)
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1); else unsetenv("TZ");
    tzset();
#endif
  }
  TempDir dir_;
  std::string path_;
  bool hadTz_ = false;
  std::string oldTz_;
};

TEST_F(PlatformDates, SetAndGetRoundTripAsUtc) {
  struct Case {
    uint16_t date, time;
    int64_t utc;
  };
  const Case cases[] = {
      {DosDate(2009, 3, 2), DosTime(13, 5, 20), 1235999120},
      {DosDate(2000, 2, 29), DosTime(0, 0, 0), 951782400},
      {DosDate(1980, 1, 1), DosTime(0, 0, 0), 315532800},
      {DosDate(2107, 12, 31), DosTime(23, 59, 58), 4354819198},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utc);
    ASSERT_TRUE(SetFileDosTime(path_.c_str(), c.date, c.time));
    EXPECT_EQ(ModTime(path_), c.utc);
    uint16_t date = 1, time = 1;
    ASSERT_TRUE(GetFileDosTime(path_.c_str(), &date, &time));
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(time, c.time);
  }
}

TEST_F(PlatformDates, TimesOutsideTheDosRangeGiveZero) {
  struct Case {
    int64_t utc;
    uint16_t date, time;
  };
  const Case cases[] = {
      {1235984841, DosDate(2009, 3, 2), DosTime(9, 7, 20)},  // odd second rounds down
      {315532799, 0, 0},                                      // a second before 1980
      {4354819200, 0, 0},                                     // 2108
      {0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utc);
    SetModTime(path_, c.utc);
    uint16_t date = 1, time = 1;
    EXPECT_TRUE(GetFileDosTime(path_.c_str(), &date, &time));
    EXPECT_EQ(date, c.date);
    EXPECT_EQ(time, c.time);
  }
  uint16_t date = 1, time = 1;
  EXPECT_FALSE(GetFileDosTime((dir_ / "missing.obj").c_str(), &date, &time));
  EXPECT_FALSE(SetFileDosTime((dir_ / "missing.obj").c_str(), DosDate(2009, 3, 2), 0));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.obj"));
}

TEST_F(PlatformDates, InvalidDosDatesChangeNothing) {
  SetModTime(path_, 1235999120);
  const uint16_t cases[][2] = {
      {0, 0},                                    // what a member without a date carries
      {DosDate(2009, 0, 2), 0},
      {DosDate(2009, 13, 2), 0},
      {DosDate(2009, 3, 0), 0},
      {DosDate(2009, 2, 29), 0},
      {DosDate(2000, 2, 30), 0},
      {DosDate(2009, 4, 31), 0},
      {DosDate(2009, 3, 2), DosTime(24, 0, 0)},
      {DosDate(2009, 3, 2), DosTime(0, 60, 0)},
      {DosDate(2009, 3, 2), DosTime(0, 0, 60)},  // 2-second count of 30
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c[0] << " " << c[1]);
    EXPECT_FALSE(SetFileDosTime(path_.c_str(), c[0], c[1]));
    EXPECT_EQ(ModTime(path_), 1235999120);
  }
}

// ---------------------------------------------------------------------------
// The directory search.

TEST(PlatformSearch, MatchesIgnoringCaseAndOrdersByUpperCase) {
  TempDir dir;
  for (const char* name : {"b.SUP", "A.sup", "_x.sup", "Zed.Sup", "c.SUPX", "dsup", "x.$$$",
                           "x.$$~", "x.$$", "x.$$$$", "LIB.OBJ"})
    WriteFile(dir / name, "");
  std::filesystem::create_directory(dir / "d.SUP");
  std::filesystem::create_directory(dir / "y.$$$");

  struct Case {
    const char* pattern;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      // '_' sorts after the letters once they are upper case, before them in
      // byte order: the order is the upper-cased one.
      {"*.SUP", {"A.sup", "b.SUP", "Zed.Sup", "_x.sup"}},
      {"*.sup", {"A.sup", "b.SUP", "Zed.Sup", "_x.sup"}},
      {"?.SUP", {"A.sup", "b.SUP"}},
      {"*.$$?", {"x.$$$", "x.$$~"}},
      {"*.$$", {"x.$$"}},
      {"*X.$$$$", {"x.$$$$"}},
      {"*SUP*", {"A.sup", "b.SUP", "c.SUPX", "dsup", "Zed.Sup", "_x.sup"}},
      {"lib.obj", {"LIB.OBJ"}},
      {"*.none", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(FindFiles(dir.Path().c_str(), c.pattern), c.names);
  }
  EXPECT_TRUE(FindFiles((dir / "missing/").c_str(), "*").empty());

  // An empty directory prefix searches the current directory.
  auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.Path());
  EXPECT_EQ(FindFiles("", "*.$$?"), (std::vector<std::string>{"x.$$$", "x.$$~"}));
  std::filesystem::current_path(cwd);
}

// ---------------------------------------------------------------------------
// Error texts and the clock.

TEST(PlatformErrors, SystemErrorTexts) {
  EXPECT_EQ(SystemErrorText(0), "No error");
  EXPECT_EQ(SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(SystemErrorText(ENOSPC), "No space left on device");
  EXPECT_EQ(SystemErrorText(1234), "Unknown error");
  EXPECT_EQ(SystemErrorText(-1), "Unknown error");
  errno = EACCES;
  EXPECT_EQ(LastError(), EACCES);
}

TEST(PlatformClock, CurrentLocalYear) {
  std::time_t now = std::time(nullptr);
  int year = std::localtime(&now)->tm_year + 1900;
  int got = CurrentLocalYear();
  EXPECT_TRUE(got == year || got == year + 1) << got;
}

TEST(PlatformEntries, ExistenceAndTheFileAStreamHasOpen) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  WriteFile(dir / "LOG.$$$", "");
  WriteFile(dir / "sub/LOG.$$$", "");
  EXPECT_TRUE(EntryExists((dir / "LOG.$$$").c_str()));
  EXPECT_TRUE(EntryExists((dir / "sub").c_str()));
  EXPECT_FALSE(EntryExists((dir / "none").c_str()));
  EXPECT_FALSE(IsLink((dir / "LOG.$$$").c_str()));
  EXPECT_FALSE(IsLink((dir / "none").c_str()));

  Stream* log = Open((dir / "LOG.$$$").c_str(), "w");
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(IsStreamFile(log, (dir / "LOG.$$$").c_str()));
  EXPECT_TRUE(IsStreamFile(log, (dir / "log.$$$").c_str()));
  EXPECT_TRUE(IsStreamFile(log, (dir / "sub/../LOG.$$$").c_str()));
  EXPECT_FALSE(IsStreamFile(log, (dir / "sub/LOG.$$$").c_str()));
  EXPECT_FALSE(IsStreamFile(log, (dir / "none").c_str()));
  EXPECT_TRUE(Close(log));

  // Without a link in the way, OpenNoLink writes as Open does.
  Stream* own = OpenNoLink((dir / "OWN.$$$").c_str(), "wb");
  ASSERT_NE(own, nullptr);
  EXPECT_TRUE(WriteText(own, "a\n"));
  EXPECT_TRUE(Close(own));
  EXPECT_EQ(ReadFile(dir / "OWN.$$$"), "a\n");
  EXPECT_EQ(OpenNoLink((dir / "OWN.$$$").c_str(), "r"), nullptr);
}

// ---------------------------------------------------------------------------
// POSIX only: the Windows path rules the layer emulates, devices, pipes,
// other processes and real read errors.

#if !defined(_WIN32)

TEST(PlatformPaths, BackslashesCaseAndTrailingBlanks) {
  TempDir dir;
  std::filesystem::create_directory(dir / "Sub");
  WriteFile(dir / "Sub/File.Txt", "file");
  uint16_t date, time;
  struct Case {
    const char* path;
    bool found;
  };
  const Case cases[] = {
      {"Sub\\File.Txt", true},
      {"SUB\\FILE.TXT", true},
      {"sub/file.txt", true},
      {"Sub\\File.Txt ", true},
      {"Sub \\File.Txt..", true},
      {"Sub.\\file.txt . ", true},
      {"Sub\\\\.\\File.Txt", true},
      {"sub\\..\\SUB\\file.TXT", true},
      {"Sub\\File.Txt\\", false},     // a trailing separator asks for a directory
      {"Sub\\Fil.Txt", false},
      {"Nope\\File.Txt", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string path = dir / c.path;
    EXPECT_EQ(IsReadableFile(path.c_str()), c.found);
    EXPECT_EQ(ReadThrough(path, "r"), c.found ? "file" : "(no open)");
    EXPECT_EQ(GetFileDosTime(path.c_str(), &date, &time), c.found);
  }
  // Absolute paths keep their root, and backslashes reach it too.
  std::string backslashed = dir / "SUB\\FILE.TXT";
  for (char& ch : backslashed)
    if (ch == '/') ch = '\\';
  EXPECT_EQ(ReadThrough(backslashed, "rb"), "file");
}

TEST(PlatformPaths, SmallestMatchingNameWins) {
  TempDir dir;
  WriteFile(dir / "abc.txt", "lower");
  WriteFile(dir / "Abc.txt", "mixed");
  WriteFile(dir / "ABC.txt", "upper");
  std::filesystem::create_directory(dir / "lib");
  std::filesystem::create_directory(dir / "LIB");
  WriteFile(dir / "lib/a.obj", "in lib");
  WriteFile(dir / "LIB/b.obj", "in LIB");

  struct Case {
    const char* path;
    const char* content;
  };
  const Case cases[] = {
      {"abc.txt", "lower"},       // as spelled wins
      {"Abc.txt", "mixed"},
      {"ABC.TXT", "upper"},       // "ABC.txt" < "Abc.txt" < "abc.txt"
      {"aBc.TxT", "upper"},
      {"Lib\\B.OBJ", "in LIB"},   // each component on its own: LIB < lib
      {"Lib\\A.OBJ", "(no open)"},
      {"lib\\A.OBJ", "in lib"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ReadThrough(dir / c.path, "r"), c.content);
  }

  // The search keeps names that differ only in case apart, in byte order.
  EXPECT_EQ(FindFiles((dir / "LIB\\..\\").c_str(), "abc.TXT"),
            (std::vector<std::string>{"ABC.txt", "Abc.txt", "abc.txt"}));
}

TEST(PlatformPaths, WritingDeletingAndRenamingUseExistingNames) {
  TempDir dir;
  std::filesystem::create_directory(dir / "Sub");
  WriteFile(dir / "Sub/Out.Txt", "old");
  const auto sub = [&] { return ListDir(dir / "Sub"); };

  // Over an existing file: that file, under its own name.
  WriteThrough(dir / "SUB\\OUT.TXT ", "w", "new");
  EXPECT_EQ(sub(), (std::vector<std::string>{"Out.Txt"}));
  EXPECT_EQ(ReadFile(dir / "Sub/Out.Txt"), "new");
  // A new file: the existing directory, the caller's name.
  WriteThrough(dir / "SUB\\New.Txt.", "wb", "n");
  EXPECT_EQ(sub(), (std::vector<std::string>{"New.Txt", "Out.Txt"}));
  // The writer's lock holds whatever spelling the second writer uses.
  Stream* w = Open((dir / "sub/out.txt").c_str(), "w");
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Open((dir / "SUB\\Out.TXT  ").c_str(), "w"), nullptr);
  EXPECT_TRUE(Close(w));

  EXPECT_TRUE(SetFileDosTime((dir / "sub\\new.txt").c_str(), DosDate(2009, 3, 2), DosTime(13, 5, 20)));
  EXPECT_EQ(ModTime(dir / "Sub/New.Txt"), 1235999120);

  EXPECT_TRUE(Rename((dir / "SUB\\NEW.TXT").c_str(), (dir / "sub\\Renamed.txt ").c_str()));
  EXPECT_EQ(sub(), (std::vector<std::string>{"Out.Txt", "Renamed.txt"}));
  // Never over another file, as on Windows; a change of case is fine.
  EXPECT_FALSE(Rename((dir / "sub\\renamed.txt").c_str(), (dir / "SUB\\OUT.TXT").c_str()));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(ReadFile(dir / "Sub/Out.Txt"), "");
  EXPECT_TRUE(Rename((dir / "sub\\out.txt").c_str(), (dir / "Sub\\OUT.TXT").c_str()));
  EXPECT_EQ(sub(), (std::vector<std::string>{"OUT.TXT", "Renamed.txt"}));
  EXPECT_FALSE(Rename((dir / "Sub\\gone.txt").c_str(), (dir / "Sub\\x.txt").c_str()));

  EXPECT_TRUE(Remove((dir / "SUB\\RENAMED.TXT").c_str()));
  EXPECT_FALSE(Remove((dir / "SUB\\RENAMED.TXT").c_str()));
  EXPECT_FALSE(Remove((dir / "sub").c_str()));  // files only
  EXPECT_EQ(sub(), (std::vector<std::string>{"OUT.TXT"}));
}

TEST(PlatformFiles, DirectoriesDevicesAndPipesAreNoFilesToRead) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  uint16_t date, time;
  for (std::string path : {dir / "sub", dir / "sub/", std::string("/dev/null"), dir / "pipe"}) {
    SCOPED_TRACE(path);
    EXPECT_FALSE(IsReadableFile(path.c_str()));
    EXPECT_EQ(Open(path.c_str(), "r"), nullptr);  // a pipe must not hang here
    EXPECT_EQ(Open(path.c_str(), "rb"), nullptr);
    EXPECT_FALSE(GetFileDosTime(path.c_str(), &date, &time));
    EXPECT_FALSE(SetFileDosTime(path.c_str(), DosDate(2009, 3, 2), 0));
  }
  EXPECT_EQ(Open((dir / "sub").c_str(), "w"), nullptr);
  EXPECT_TRUE(FindFiles(dir.Path().c_str(), "*").empty());

  // Writing goes to whatever the path names; devices take no lock, so two
  // writers of /dev/null (here or in another test) never refuse each other.
  Stream* a = Open("/dev/null", "w");
  Stream* b = Open("/dev/null", "wb");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(WriteText(a, "gone\n"));
  EXPECT_TRUE(Close(a));
  EXPECT_TRUE(Close(b));
}

TEST(PlatformFiles, WriteErrorOfADeviceShowsAtFlushAndClose) {
  Stream* s = Open("/dev/full", "w");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(WriteText(s, "buffered\n"));
  errno = 0;
  EXPECT_FALSE(Close(s));
  EXPECT_EQ(errno, ENOSPC);

  s = Open("/dev/full", "wb");
  ASSERT_NE(s, nullptr);
  EXPECT_TRUE(WriteText(s, "x"));
  EXPECT_FALSE(Flush(s));
  EXPECT_TRUE(Failed(s));
  EXPECT_FALSE(ReadFailed(s));
  EXPECT_FALSE(Close(s));
}

TEST(PlatformFiles, RealReadErrorIsNotEndOfFile) {
  // Reading a process's own memory at address 0 fails with EIO, from a file
  // that is regular to stat.
  Stream* s = Open("/proc/self/mem", "rb");
  if (s == nullptr) GTEST_SKIP() << "/proc/self/mem does not open here";
  errno = 0;
  EXPECT_EQ(Getc(s), kEndOfFile);
  EXPECT_EQ(errno, EIO);
  EXPECT_TRUE(ReadFailed(s));
  EXPECT_FALSE(AtEnd(s));
  char line[8];
  EXPECT_FALSE(ReadLine(s, line, sizeof line));
  EXPECT_FALSE(Close(s));
}

TEST(PlatformEntries, LinksAreEntriesOfTheirOwn) {
  TempDir dir;
  WriteFile(dir / "target", "kept");
  std::filesystem::create_symlink(dir / "target", dir / "LINK.$$$");
  std::filesystem::create_symlink(dir / "nowhere", dir / "DANGLING.$$$");
  for (const char* name : {"LINK.$$$", "dangling.$$$"}) {
    SCOPED_TRACE(name);
    const std::string path = dir / name;
    EXPECT_TRUE(EntryExists(path.c_str()));
    EXPECT_TRUE(IsLink(path.c_str()));
    EXPECT_EQ(OpenNoLink(path.c_str(), "wb"), nullptr);
  }
  EXPECT_EQ(ReadFile(dir / "target"), "kept");
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));

  // The file a link names is not the link.
  Stream* target = Open((dir / "target").c_str(), "r");
  ASSERT_NE(target, nullptr);
  EXPECT_FALSE(IsStreamFile(target, (dir / "LINK.$$$").c_str()));
  EXPECT_TRUE(Close(target));

  EXPECT_TRUE(Remove((dir / "LINK.$$$").c_str()));
  EXPECT_FALSE(EntryExists((dir / "LINK.$$$").c_str()));
  EXPECT_EQ(ReadFile(dir / "target"), "kept");
}

// One name under several spellings, as only POSIX holds it: each is found
// with what stands there, and each is removed or renamed under exactly its
// own name, within a call as outside one.
TEST(PlatformEntries, EverySpellingOfANameOnItsOwn) {
  for (bool inCall : {false, true}) {
    SCOPED_TRACE(inCall ? "in a call" : "outside a call");
    TempDir dir;
    if (inCall) BeginCallCache();
    WriteFile(dir / "abc.$$$", "lower");
    WriteFile(dir / "ABC.$$$", "upper");
    WriteFile(dir / "ABC.$$~", "backup");
    std::filesystem::create_symlink(dir / "nowhere", dir / "Abc.$$$");
    std::filesystem::create_directory(dir / "aBC.$$$");
    const std::string d = dir.Path();
    const auto spellings = FindSpellings(d.c_str(), "ABC.$$$");
    ASSERT_EQ(spellings.size(), 4u);
    const std::pair<std::string, EntryKind> expected[] = {{"ABC.$$$", EntryKind::kFile},
                                                          {"Abc.$$$", EntryKind::kLink},
                                                          {"aBC.$$$", EntryKind::kDirectory},
                                                          {"abc.$$$", EntryKind::kFile}};
    for (size_t i = 0; i < spellings.size(); ++i) {
      EXPECT_EQ(spellings[i].name, expected[i].first);
      EXPECT_EQ(spellings[i].kind, expected[i].second) << expected[i].first;
    }
    EXPECT_TRUE(FindSpellings(d.c_str(), "ABD.$$$").empty());

    // The backup name another spelling of which stands there is free.
    EXPECT_TRUE(RenameSpelling(d.c_str(), "abc.$$$", "abc.$$~"));
    EXPECT_FALSE(RenameSpelling(d.c_str(), "ABC.$$$", "ABC.$$~"));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_FALSE(RenameSpelling(d.c_str(), "abc.$$$", "x.$$$"));
    EXPECT_TRUE(RemoveSpelling(d.c_str(), "Abc.$$$"));
    EXPECT_FALSE(RemoveSpelling(d.c_str(), "Abc.$$$"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(RemoveSpelling(d.c_str(), "aBC.$$$"));  // a directory stays
    EXPECT_EQ(ListDir(dir.Path()), (std::vector<std::string>{"ABC.$$$", "ABC.$$~", "aBC.$$$", "abc.$$~"}));
    EXPECT_EQ(ReadFile(dir / "abc.$$~"), "lower");
    EXPECT_EQ(ReadFile(dir / "ABC.$$~"), "backup");
    // What the call keeps of the directory is in step.
    EXPECT_EQ(FindSpellings(d.c_str(), "abc.$$~").size(), 2u);
    EXPECT_EQ(FindSpellings(d.c_str(), "abc.$$$").size(), 2u);
    if (inCall) EndCallCache();
  }
}

TEST(PlatformSearch, LinksCountByWhatTheyName) {
  TempDir dir;
  WriteFile(dir / "real.sup", "");
  std::filesystem::create_directory(dir / "dir");
  std::filesystem::create_symlink(dir / "real.sup", dir / "link.sup");
  std::filesystem::create_symlink(dir / "dir", dir / "dirlink.sup");
  std::filesystem::create_symlink(dir / "nowhere", dir / "dangling.sup");
  EXPECT_EQ(FindFiles((dir / "").c_str(), "*.SUP"), (std::vector<std::string>{"link.sup", "real.sup"}));
}

// Runs `child` in a forked process and returns its exit status.
template <typename F>
int InChild(F child) {
  pid_t pid = fork();
  if (pid == 0) _exit(child());
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PlatformShare, WriterDeniesWritersOfOtherProcesses) {
  TempDir dir;
  const std::string path = dir / "log.txt";
  Stream* writer = Open(path.c_str(), "w");
  ASSERT_NE(writer, nullptr);
  ASSERT_TRUE(WriteText(writer, "parent\n"));
  ASSERT_TRUE(Flush(writer));

  EXPECT_EQ(InChild([&] {
              if (Open(path.c_str(), "w") != nullptr) return 1;
              if (ReadFile(path) != "parent\r\n") return 2;  // not emptied
              Stream* r = Open(path.c_str(), "r");
              if (r == nullptr) return 3;
              return Close(r) ? 0 : 4;
            }),
            0);
  EXPECT_TRUE(Close(writer));

  EXPECT_EQ(InChild([&] {
              Stream* w = Open(path.c_str(), "w");
              return w != nullptr && Close(w) ? 0 : 1;
            }),
            0);
  EXPECT_EQ(ReadFile(path), "");
}

#else  // _WIN32

// What the tests above check is POSIX's own, or the layer's emulation of
// what Windows does by itself; each says why it has nothing to check here.
#define VARNEL_POSIX_ONLY(suite, name, why) \
  TEST(suite, name) { GTEST_SKIP() << why; }

VARNEL_POSIX_ONLY(PlatformPaths, BackslashesCaseAndTrailingBlanks,
                  "backslashes, case and trailing blanks are Windows' own; the layer emulates them on POSIX only")
VARNEL_POSIX_ONLY(PlatformPaths, SmallestMatchingNameWins,
                  "names that differ only in case cannot exist side by side on Windows")
VARNEL_POSIX_ONLY(PlatformPaths, WritingDeletingAndRenamingUseExistingNames,
                  "the case-insensitive names are Windows' own; the layer emulates them on POSIX only")
VARNEL_POSIX_ONLY(PlatformFiles, DirectoriesDevicesAndPipesAreNoFilesToRead,
                  "needs /dev/null and a FIFO; Win32Platform.DevicesAndDirectoriesAreNoFilesToRead covers NUL and CON")
VARNEL_POSIX_ONLY(PlatformFiles, WriteErrorOfADeviceShowsAtFlushAndClose,
                  "needs /dev/full, a device Windows has no counterpart of")
VARNEL_POSIX_ONLY(PlatformFiles, RealReadErrorIsNotEndOfFile, "needs /proc/self/mem")
VARNEL_POSIX_ONLY(PlatformSearch, LinksCountByWhatTheyName, "needs POSIX symbolic links")
VARNEL_POSIX_ONLY(PlatformEntries, EverySpellingOfANameOnItsOwn,
                  "names that differ only in case cannot exist side by side on Windows; "
                  "Win32Platform.SpellingsAreTheSystemsOneName covers the one spelling")
VARNEL_POSIX_ONLY(PlatformEntries, LinksAreEntriesOfTheirOwn,
                  "symbolic links need a privilege on Windows; the layer refuses any reparse point there")
VARNEL_POSIX_ONLY(PlatformShare, WriterDeniesWritersOfOtherProcesses,
                  "needs fork; Win32Platform.WritersOfOtherProcessesAreDenied starts its second process with CreateProcessA")

#undef VARNEL_POSIX_ONLY

#endif  // _WIN32

}  // namespace
}  // namespace varnel::platform
