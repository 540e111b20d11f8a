// The Win32 side of the platform layer: where Windows' own services differ
// from the layer's rules (devices, the looser wildcard match of
// FindFirstFileA, DOS dates, error texts) and what it takes from the C
// runtime as it is (text mode, share modes).
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "builders/files.h"
#include "platform/platform.h"

namespace varnel {
namespace {

using platform::FaultOp;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string ReadAll(const std::string& path, const char* mode) {
  platform::Stream* s = platform::Open(path.c_str(), mode);
  if (s == nullptr) return "<not opened>";
  std::string out;
  for (int c = platform::Getc(s); c != platform::kEndOfFile; c = platform::Getc(s))
    out += static_cast<char>(c);
  EXPECT_FALSE(platform::ReadFailed(s)) << path;
  EXPECT_TRUE(platform::Close(s));
  return out;
}

bool WriteAll(const std::string& path, const char* mode, const std::string& text) {
  platform::Stream* s = platform::Open(path.c_str(), mode);
  if (s == nullptr) return false;
  bool ok = platform::Write(s, text.data(), text.size());
  return platform::Close(s) && ok;
}

TEST(Win32Platform, TextModeIsTheRuntimes) {
  TempDir dir;
  std::string path = dir / "TEXT.TXT";
  ASSERT_TRUE(WriteAll(path, "w", "a\nb\r\nc\rd\n"));
  EXPECT_EQ(ReadFile(path), "a\r\nb\r\r\nc\rd\r\n");
  ASSERT_TRUE(WriteAll(path, "wb", "a\nb"));
  EXPECT_EQ(ReadFile(path), "a\nb");

  struct Case {
    std::string bytes;
    const char* mode;
    std::string expected;
  };
  // A CR LF that straddles the runtime's 4096-byte buffer is still one line end.
  std::string straddle = std::string(4095, 'x') + "\r\nend";
  const Case cases[] = {
      {"A\r\nB\r\n", "r", "A\nB\n"},
      {"A\r\nB\r\n", "rt", "A\nB\n"},
      {"A\r\nB\r\n", "rb", "A\r\nB\r\n"},
      {"A\rB\r", "r", "A\rB\r"},
      {"A\r\r\nB", "r", "A\r\nB"},
      {"AB\x1A" "CD\r\n", "r", "AB"},
      {"AB\x1A" "CD", "rb", "AB\x1A" "CD"},
      {straddle, "r", std::string(4095, 'x') + "\nend"},
  };
  for (const Case& c : cases) {
    WriteFile(path, c.bytes);
    EXPECT_EQ(ReadAll(path, c.mode), c.expected) << "mode " << c.mode << ", " << c.bytes.size() << " bytes";
  }
}

TEST(Win32Platform, ReadLineStopsAtCtrlZWithoutAnError) {
  TempDir dir;
  std::string path = dir / "Z.TXT";
  WriteFile(path, "one\r\ntwo\x1A" "three\r\n");
  platform::Stream* s = platform::Open(path.c_str(), "r");
  ASSERT_NE(s, nullptr);
  char line[16];
  ASSERT_TRUE(platform::ReadLine(s, line, sizeof line));
  EXPECT_STREQ(line, "one\n");
  ASSERT_TRUE(platform::ReadLine(s, line, sizeof line));
  EXPECT_STREQ(line, "two");
  EXPECT_FALSE(platform::ReadLine(s, line, sizeof line));
  EXPECT_TRUE(platform::AtEnd(s));
  EXPECT_FALSE(platform::ReadFailed(s));
  EXPECT_TRUE(platform::Close(s));
}

TEST(Win32Platform, WritersDenyWritersAndARefusedOpenEmptiesNothing) {
  TempDir dir;
  std::string path = dir / "SHARED.TXT";
  WriteFile(path, "kept");
  platform::Stream* reader = platform::Open(path.c_str(), "rb");
  ASSERT_NE(reader, nullptr);
  platform::Stream* writer = platform::Open(path.c_str(), "w");
  ASSERT_NE(writer, nullptr) << "a reader lets a writer in";
  ASSERT_TRUE(platform::WriteText(writer, "new\n"));
  ASSERT_TRUE(platform::Flush(writer));

  EXPECT_EQ(platform::Open(path.c_str(), "wb"), nullptr) << "a second writer";
  EXPECT_EQ(platform::Open((dir / "shared.txt").c_str(), "w"), nullptr)
      << "a second writer under another case";
  platform::Stream* second = platform::Open(path.c_str(), "r");
  ASSERT_NE(second, nullptr) << "readers are let in beside a writer";
  EXPECT_EQ(ReadAll(path, "rb"), "new\r\n");
  uint16_t date = 0, time = 0;
  EXPECT_TRUE(platform::GetFileDosTime(path.c_str(), &date, &time)) << "dates are read beside a writer";

  EXPECT_TRUE(platform::Close(second));
  EXPECT_TRUE(platform::Close(writer));
  EXPECT_TRUE(platform::Close(reader));
  EXPECT_EQ(ReadFile(path), "new\r\n");
}

// Runs the share child on `path`; its exit status.
DWORD RunShareChild(const std::string& path) {
  std::string command = std::string("\"") + VARNEL_SHARE_CHILD + "\" \"" + path + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child))
    return 1000 + GetLastError();
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 99;
  GetExitCodeProcess(child.hProcess, &status);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return status;
}

TEST(Win32Platform, WritersOfOtherProcessesAreDenied) {
  TempDir dir;
  std::string path = dir / "SHARED.TXT";
  WriteFile(path, "kept");
  platform::Stream* writer = platform::Open(path.c_str(), "wb");
  ASSERT_NE(writer, nullptr);
  ASSERT_TRUE(platform::WriteText(writer, "mine"));
  ASSERT_TRUE(platform::Flush(writer));
  EXPECT_EQ(RunShareChild(path), 3u) << "refused while this process writes";
  ASSERT_TRUE(platform::Close(writer));
  EXPECT_EQ(ReadFile(path), "mine") << "the refused open emptied nothing";

  WriteFile(path, "kept");
  platform::Stream* reader = platform::Open(path.c_str(), "r");
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(RunShareChild(path), 0u) << "a reader lets the other process write";
  EXPECT_TRUE(platform::Close(reader));
  EXPECT_EQ(ReadFile(path), "child\r\n");
}

// The runtime drops what it could not write out when a seek flushes the
// buffer; the stream must still count as failed, or Close would call an
// incomplete file complete.  A pipe whose reader has gone refuses every write.
TEST(Win32Platform, WriteErrorWhileSeekingShowsAtClose) {
  const char* name = "\\\\.\\pipe\\varnel-seek-test";
  HANDLE reader = CreateNamedPipeA(name, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 0, 0, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  platform::Stream* s = platform::Open(name, "wb");
  ASSERT_NE(s, nullptr);
  ConnectNamedPipe(reader, nullptr);
  ASSERT_TRUE(platform::WriteText(s, "buffered"));
  CloseHandle(reader);
  EXPECT_FALSE(platform::Seek(s, 0));
  EXPECT_TRUE(platform::Failed(s));
  EXPECT_FALSE(platform::Close(s));
}

TEST(Win32Platform, DevicesAndDirectoriesAreNoFilesToRead) {
  TempDir dir;
  for (const std::string& path : {std::string("NUL"), std::string("CON"), dir.Path(),
                                  dir.Path().substr(0, dir.Path().size() - 1)}) {
    EXPECT_EQ(platform::Open(path.c_str(), "r"), nullptr) << path;
    EXPECT_EQ(platform::Open(path.c_str(), "rb"), nullptr) << path;
    EXPECT_FALSE(platform::IsReadableFile(path.c_str())) << path;
    uint16_t date = 1, time = 1;
    EXPECT_FALSE(platform::GetFileDosTime(path.c_str(), &date, &time)) << path;
  }
  // Writing goes wherever the path leads, a device included.
  platform::Stream* nul = platform::Open("NUL", "w");
  ASSERT_NE(nul, nullptr);
  EXPECT_TRUE(platform::WriteText(nul, "gone\n"));
  EXPECT_TRUE(platform::Close(nul));
}

TEST(Win32Platform, SearchTakesRegularFilesInUpperCasedOrder) {
  TempDir dir;
  for (const char* name : {"zz.sup", "_x.sup", "c0.Sup", "B1.SUP", "a2.sup", "aB.SUP", "Aa.sup", "x.SUPPLEMENT", "y.SU", "z.sup.old",
                           "t.$$$", "T2.$$~", "t3.$$", "longer name.$$$"})
    WriteFile(dir / name, "x");
  ASSERT_TRUE(CreateDirectoryA((dir / "D.SUP").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA((dir / "E.$$$").c_str(), nullptr));

  using Names = std::vector<std::string>;
  // '_' lies between the upper and the lower case letters: it sorts last.
  EXPECT_EQ(platform::FindFiles(dir.Path().c_str(), "*.SUP"), (Names{"a2.sup", "Aa.sup", "aB.SUP", "B1.SUP", "c0.Sup", "zz.sup", "_x.sup"}));
  // FindFirstFileA lets a trailing '?' match nothing ("t3.$$"); the rule does not.
  EXPECT_EQ(platform::FindFiles(dir.Path().c_str(), "*.$$?"), (Names{"longer name.$$$", "t.$$$", "T2.$$~"}));
  std::string backslashed = dir.Path();
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  EXPECT_EQ(platform::FindFiles(backslashed.c_str(), "b?.sup"), (Names{"B1.SUP"}));
  EXPECT_TRUE(platform::FindFiles(dir.Path().c_str(), "*.OBJ").empty());
  EXPECT_TRUE(platform::FindFiles((dir / "missing/").c_str(), "*.SUP").empty());
}

uint16_t DosDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}
uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

TEST(Win32Platform, DosDatesRoundTripAsUtc) {
  TempDir dir;
  std::string path = dir / "DATED.OBJ";
  WriteFile(path, "x");
  struct Case {
    uint16_t date, time;
    bool valid;
  };
  const Case cases[] = {
      {DosDate(2003, 7, 14), DosTime(13, 45, 58), true},
      {DosDate(1980, 1, 1), DosTime(0, 0, 0), true},
      {DosDate(2107, 12, 31), DosTime(23, 59, 58), true},
      {DosDate(1984, 2, 29), DosTime(12, 0, 0), true},
      {0, 0, false},  // what a packed file that is not extended gives
      {DosDate(1981, 2, 29), DosTime(12, 0, 0), false},
      {DosDate(1990, 13, 1), DosTime(12, 0, 0), false},
      {DosDate(1990, 4, 31), DosTime(12, 0, 0), false},
      {DosDate(1990, 4, 30), DosTime(24, 0, 0), false},
      {DosDate(1990, 4, 30), DosTime(23, 60, 0), false},
      {DosDate(1990, 4, 30), static_cast<uint16_t>(DosTime(23, 59, 0) | 30), false},
  };
  const uint16_t kept = DosDate(2000, 6, 1), keptTime = DosTime(8, 30, 0);
  for (const Case& c : cases) {
    ASSERT_TRUE(platform::SetFileDosTime(path.c_str(), kept, keptTime));
    EXPECT_EQ(platform::SetFileDosTime(path.c_str(), c.date, c.time), c.valid) << c.date << " " << c.time;
    uint16_t date = 0, time = 0;
    ASSERT_TRUE(platform::GetFileDosTime(path.c_str(), &date, &time));
    EXPECT_EQ(date, c.valid ? c.date : kept) << c.date << " " << c.time;
    EXPECT_EQ(time, c.valid ? c.time : keptTime) << c.date << " " << c.time;
  }

  // Creation time goes with the last-write time; the last-access time stays.
  ASSERT_TRUE(platform::SetFileDosTime(path.c_str(), DosDate(2003, 7, 14), DosTime(13, 45, 58)));
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME created, written;
  ASSERT_TRUE(GetFileTime(h, &created, nullptr, &written));
  CloseHandle(h);
  EXPECT_EQ(CompareFileTime(&created, &written), 0);
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToSystemTime(&written, &st));
  EXPECT_EQ(st.wYear, 2003);
  EXPECT_EQ(st.wHour, 13) << "no time-zone shift";

  EXPECT_FALSE(platform::SetFileDosTime((dir / "MISSING.OBJ").c_str(), kept, keptTime));
  EXPECT_FALSE(testing::Exists(dir / "MISSING.OBJ"));
}

TEST(Win32Platform, TimesOutsideTheDosRangeReadAsZero) {
  TempDir dir;
  std::string path = dir / "OLD.OBJ";
  WriteFile(path, "x");
  SYSTEMTIME st = {};
  st.wYear = 1975;
  st.wMonth = 3;
  st.wDay = 1;
  FILETIME old;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &old));
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &old));
  CloseHandle(h);
  uint16_t date = 1, time = 1;
  ASSERT_TRUE(platform::GetFileDosTime(path.c_str(), &date, &time));
  EXPECT_EQ(date, 0);
  EXPECT_EQ(time, 0);
  EXPECT_FALSE(platform::GetFileDosTime((dir / "MISSING.OBJ").c_str(), &date, &time));
}

TEST(Win32Platform, ErrorTextsAreTheRuntimesWithFixedEnds) {
  EXPECT_EQ(platform::SystemErrorText(0), "No error");
  EXPECT_EQ(platform::SystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(platform::SystemErrorText(ENOSPC), "No space left on device");
  for (int unknown : {-1, 9999, 1 << 30}) EXPECT_EQ(platform::SystemErrorText(unknown), "Unknown error") << unknown;
}

TEST(Win32Platform, DeleteAndRenameUseTheSystemsNames) {
  TempDir dir;
  WriteFile(dir / "OLD.$$$", "x");
  EXPECT_TRUE(platform::Rename((dir / "old.$$$").c_str(), (dir / "NEW.$$~").c_str()));
  EXPECT_EQ(ReadFile(dir / "NEW.$$~"), "x");
  EXPECT_TRUE(platform::Remove((dir / "new.$$~").c_str()));
  EXPECT_FALSE(platform::Remove((dir / "new.$$~").c_str()));
  EXPECT_TRUE(testing::ListDir(dir.Path()).empty());
}

// One name has one spelling here: the search finds it as the directory
// holds it, whatever case it is asked in, and a wildcard of the name is no
// wildcard.
TEST(Win32Platform, SpellingsAreTheSystemsOneName) {
  TempDir dir;
  WriteFile(dir / "Abc.$$$", "x");
  WriteFile(dir / "ABD.$$$", "y");
  std::filesystem::create_directory(dir / "ABC.$$~");
  const std::string d = dir.Path();
  auto found = platform::FindSpellings(d.c_str(), "aBC.$$$");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].name, "Abc.$$$");
  EXPECT_EQ(found[0].kind, platform::EntryKind::kFile);
  EXPECT_TRUE(platform::FindSpellings(d.c_str(), "AB?.$$$").empty());
  found = platform::FindSpellings(d.c_str(), "abc.$$~");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].kind, platform::EntryKind::kDirectory);

  EXPECT_FALSE(platform::RenameSpelling(d.c_str(), "Abc.$$$", "abc.$$~"));
  EXPECT_TRUE(platform::RenameSpelling(d.c_str(), "Abc.$$$", "Abc.$$1"));
  EXPECT_TRUE(platform::RemoveSpelling(d.c_str(), "abc.$$1"));
  EXPECT_FALSE(platform::RemoveSpelling(d.c_str(), "abc.$$1"));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(testing::ListDir(dir.Path()), (std::vector<std::string>{"ABC.$$~", "ABD.$$$"}));
}

TEST(Win32Platform, FaultHookFailsTheNamedOperationOnce) {
  TempDir dir;
  std::string path = dir / "F.TXT";
  WriteFile(path, "abc\r\n");
  platform::ClearFaults();

  platform::InjectFault(path.c_str(), FaultOp::Open);
  EXPECT_EQ(platform::Open(path.c_str(), "r"), nullptr);
  EXPECT_EQ(ReadAll(path, "r"), "abc\n") << "fires once";

  platform::InjectFault(path.c_str(), FaultOp::Read);
  platform::Stream* s = platform::Open(path.c_str(), "r");
  ASSERT_NE(s, nullptr);
  char buffer[8];
  EXPECT_EQ(platform::Read(s, buffer, sizeof buffer), 0u);
  EXPECT_TRUE(platform::ReadFailed(s));
  EXPECT_FALSE(platform::Close(s));

  for (FaultOp op : {FaultOp::Write, FaultOp::Flush, FaultOp::Close}) {
    platform::InjectFault(path.c_str(), op);
    s = platform::Open(path.c_str(), "w");
    ASSERT_NE(s, nullptr);
    bool wrote = platform::WriteText(s, "x\n");
    EXPECT_EQ(wrote, op != FaultOp::Write);
    EXPECT_FALSE(platform::Close(s)) << static_cast<int>(op);
    // The stream is closed all the same: a writer gets in again.
    EXPECT_TRUE(WriteAll(path, "w", "y\n")) << static_cast<int>(op);
  }
  EXPECT_EQ(ReadFile(path), "y\r\n");

  platform::InjectFault((dir / "OTHER.TXT").c_str(), FaultOp::Open);
  EXPECT_TRUE(WriteAll(path, "w", "z\n")) << "a fault on another path";
  platform::ClearFaults();
  EXPECT_TRUE(WriteAll(dir / "OTHER.TXT", "w", "z\n")) << "cleared";
}

}  // namespace
}  // namespace varnel

#endif  // _WIN32
