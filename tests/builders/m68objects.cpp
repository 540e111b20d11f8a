#include "builders/m68objects.h"

#include <ctime>

#include "format.h"

namespace varnel::testing {

const char* const kSections =
    "0400-BFFF\n"
    "SECTION   *      DSCT  0400-5FFF\n"
    "SECTION   AROM   PSCT  8000-BFFF\n";

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

Bytes Word(uint16_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 0xFF)}; }

}  // namespace

std::string M68Record(int type, const Bytes& data) { return RecordText(type, data, 0); }
std::string M68BadChecksum(int type, const Bytes& data) { return RecordText(type, data, 1); }

std::string S0(const std::string& name) { return M68Record(0, Bytes{0, 0} + TextBytes(name)); }
std::string S3(int region, const std::string& name) {
  return M68Record(3, Bytes{0, 0, static_cast<uint8_t>(region)} + TextBytes(name));
}
std::string S4(int region, uint16_t start, uint16_t end) {
  return M68Record(4, Word(start) + Bytes{static_cast<uint8_t>(region)} + Word(end));
}
std::string S8(int region, uint16_t offset, const std::string& name) {
  return M68Record(8, Word(offset) + Bytes{static_cast<uint8_t>(region), 0, 0} + TextBytes(name));
}
std::string S2(int region, uint16_t offset, const Bytes& payload) {
  return M68Record(2, Word(offset) + Bytes{static_cast<uint8_t>(region)} + payload);
}
std::string S7(int region, uint16_t offset, bool subtract, const std::string& name) {
  uint8_t r = static_cast<uint8_t>(region | (subtract ? 0x20 : 0));
  return M68Record(7, Word(offset) + Bytes{r} + TextBytes(name));
}
std::string S9() { return "S9030000FC\n"; }

Bytes Lit(const Bytes& bytes) {
  return Bytes{static_cast<uint8_t>(bytes.size() - 1)} + bytes;
}
Bytes Rel(int type, int target, uint16_t operand) {
  return Bytes{static_cast<uint8_t>(type | target)} + Word(operand);
}

std::string CodeModule(const std::string& name, const Bytes& code, const std::vector<std::string>& globals) {
  std::string text = S0(name) + S3(0x85, "AROM") + S4(5, 0, static_cast<uint16_t>(code.size() - 1));
  for (const std::string& g : globals) text += S8(5, 0, g);
  return text + S2(5, 0, Lit(code)) + S9();
}

std::string S1Line(uint32_t address, const Bytes& bytes) {
  return Crlf(M68Record(1, Word(static_cast<uint16_t>(address)) + bytes));
}

uint8_t CurrentYearCode() {
  std::time_t now = std::time(nullptr);
  std::tm* tm = std::localtime(&now);
  return static_cast<uint8_t>((tm->tm_year + 1900 - 1984) / 4);
}

std::string LimitsLine(uint16_t xramLast, uint16_t aromLast) {
  return S1Line(0x805A, Word(xramLast) + Word(aromLast) + Bytes{CurrentYearCode()});
}

}  // namespace varnel::testing
