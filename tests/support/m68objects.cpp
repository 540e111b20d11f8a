#include "support/m68objects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <sstream>

#include "format.h"

namespace varnel::testing {

const char* const kSections =
    "0400-BFFF\n"
    "SECTION   *      DSCT  0400-5FFF\n"
    "SECTION   AROM   PSCT  8000-BFFF\n";

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

namespace {

std::string RecordText(int type, const Bytes& data, int checksumDelta) {
  unsigned count = static_cast<unsigned>(data.size()) + 1;
  unsigned sum = count;
  std::string line = Format("S%X%02X", static_cast<unsigned>(type), count);
  for (uint8_t b : data) {
    sum += b;
    line += Format("%02X", static_cast<unsigned>(b));
  }
  line += Format("%02X\n", (~sum + static_cast<unsigned>(checksumDelta)) & 0xFFu);
  return line;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Word(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF)}; }

}  // namespace

std::string M68Record(int type, const Bytes& data) { return RecordText(type, data, 0); }
std::string M68BadChecksum(int type, const Bytes& data) { return RecordText(type, data, 1); }

std::string S0(const std::string& name) { return M68Record(0, Bytes{0, 0} + Text(name)); }
std::string S3(int region, const std::string& name) {
  return M68Record(3, Bytes{0, 0, static_cast<uint8_t>(region)} + Text(name));
}
std::string S4(int region, uint16_t start, uint16_t end) {
  return M68Record(4, Word(start) + Bytes{static_cast<uint8_t>(region)} + Word(end));
}
std::string S8(int region, uint16_t offset, const std::string& name) {
  return M68Record(8, Word(offset) + Bytes{static_cast<uint8_t>(region), 0, 0} + Text(name));
}
std::string S2(int region, uint16_t offset, const Bytes& payload) {
  return M68Record(2, Word(offset) + Bytes{static_cast<uint8_t>(region)} + payload);
}
std::string S7(int region, uint16_t offset, bool subtract, const std::string& name) {
  uint8_t r = static_cast<uint8_t>(region | (subtract ? 0x20 : 0));
  return M68Record(7, Word(offset) + Bytes{r} + Text(name));
}
std::string S9() { return "S9030000FC\n"; }

Bytes Lit(const Bytes& bytes) {
  return Bytes{static_cast<uint8_t>(bytes.size() - 1)} + bytes;
}
Bytes Rel(int type, int target, uint16_t operand) {
  return Bytes{static_cast<uint8_t>(type | target)} + Word(operand);
}

std::string S1Line(uint32_t address, const Bytes& bytes) {
  Bytes data = Word(static_cast<uint16_t>(address)) + bytes;
  unsigned count = static_cast<unsigned>(data.size()) + 1;
  unsigned sum = count;
  std::string line = Format("S1%02X", count);
  for (uint8_t b : data) {
    sum += b;
    line += Format("%02X", static_cast<unsigned>(b));
  }
  return line + Format("%02X\r\n", ~sum & 0xFFu);
}

uint8_t CurrentYearCode() {
  std::time_t now = std::time(nullptr);
  std::tm* tm = std::localtime(&now);
  return static_cast<uint8_t>((tm->tm_year + 1900 - 1984) / 4);
}

std::string LimitsLine(uint16_t xramLast, uint16_t aromLast) {
  return S1Line(0x805A, Word(xramLast) + Word(aromLast) + Bytes{CurrentYearCode()});
}

std::vector<std::string> LinesStarting(const std::string& text,
                                       const std::vector<std::string>& prefixes) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    const std::string stage = "Linking with M68 files.";
    if (line.rfind(stage, 0) == 0) line.erase(0, stage.size());
    line.erase(0, std::min(line.find_first_not_of('.'), line.size()));  // progress dots
    for (const std::string& p : prefixes) {
      if (line.rfind(p, 0) == 0) {
        out.push_back(line);
        break;
      }
    }
  }
  return out;
}

bool SrecInfoAccepts(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  std::string command = "srec_info '" + path + "' > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
#endif
}

LinkHarness::LinkHarness() = default;

std::string LinkHarness::Object(const std::string& name, const std::string& records) {
  WriteFile(dir / name, Crlf(records));
  return dir / name;
}

void LinkHarness::Submit(const std::string& lines) { WriteFile(dir / "LINK.CMD", Crlf(lines)); }

int LinkHarness::Run(int logLevel, int execType, bool output) {
  params = LinkParams{};
  log.Fill(params, logLevel);
  params.submitFileName = "LINK.CMD";
  params.outputFileName = output ? "OUT.S1" : nullptr;
  params.execType = execType;
  params.workDir = dir.Path().c_str();
  return RunLinker(&params);
}

void LinkHarness::ExpectValidS1() const {
  ASSERT_TRUE(Exists(dir / "OUT.S1"));
  EXPECT_TRUE(SrecInfoAccepts(dir / "OUT.S1")) << Output();
}

}  // namespace varnel::testing
