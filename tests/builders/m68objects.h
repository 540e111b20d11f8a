// Builders for M68 object records and the objects made of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "builders/files.h"

namespace varnel::testing {

// One record line: "S", the type digit, the count, the data, the checksum
// and a line end.
std::string M68Record(int type, const Bytes& data);
// The same record with its checksum off by one.
std::string M68BadChecksum(int type, const Bytes& data);

std::string S0(const std::string& name);
std::string S3(int region, const std::string& name);
std::string S4(int region, uint16_t start, uint16_t end);
std::string S8(int region, uint16_t offset, const std::string& name);
std::string S2(int region, uint16_t offset, const Bytes& payload);
std::string S7(int region, uint16_t offset, bool subtract, const std::string& name);
std::string S9();

// S2 payload items: a literal run, and a relocation item of a type (0x20 to
// 0xE0) against a target region.
Bytes Lit(const Bytes& bytes);
Bytes Rel(int type, int target, uint16_t operand);

// A module of one AROM region (region 5) that holds `code` (1 to 32 bytes),
// with `globals` defined at its offset 0.
std::string CodeModule(const std::string& name, const Bytes& code,
                       const std::vector<std::string>& globals = {});

// An S1 data line (CR LF) for bytes from an address, independent of the
// linker's writer.
std::string S1Line(uint32_t address, const Bytes& bytes);

// The limits record the linker adds at 0x805A for every Exec type but 5:
// highest XRAM and AROM addresses used, and the year code of this year.
std::string LimitsLine(uint16_t xramLast, uint16_t aromLast);
uint8_t CurrentYearCode();

// The usual memory map of the tests: data at 0400, program at 8000.
extern const char* const kSections;

}  // namespace varnel::testing
