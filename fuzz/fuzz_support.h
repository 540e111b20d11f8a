// What every fuzz target shares: one scratch directory per process that the
// process also works in, whole-file writes, inputs split into files, quiet
// callbacks that still format every message, and a check that no input left
// a descriptor open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runctl.h"
#include "support/packer.h"

namespace varnel::fuzz {

// The scratch root (trailing '/'), created on the first call; it goes when
// the process exits normally.
const std::string& Root();
// Root() + name + '/', created once.
std::string Dir(const std::string& name);
// Removes what a previous input left in a directory.
void ClearDir(const std::string& dir);

void Put(const std::string& path, const uint8_t* data, size_t size);
void Put(const std::string& path, const std::string& bytes);

// The pieces of an input cut at every "\n@@\n" (the separator dropped).
std::vector<std::string> Split(const uint8_t* data, size_t size);
// An input as text: bytes up to the first NUL.
std::string Text(const uint8_t* data, size_t size);
// text with every '@' replaced by Root(), so that an input can name files of
// the scratch directory (its path differs from process to process).
std::string AtRoot(const std::string& text);

void Quiet(PlanParams& p, int logLevel);
void Quiet(LinkParams& p, int logLevel);
void Quiet(ImageParams& p, int logLevel);

// Aborts when a file of the scratch directory is still open.
void CheckDescriptors();

}  // namespace varnel::fuzz

namespace varnel::fuzz {

// A library directory of plain objects and packed FB and driver files, as
// the planner and whole links take them: EEPROM.OBJ and LIB.OBJ, FBA.OBJ,
// FBB.FB (with an RP), FBC.FB (without), DRV.MDV (an Exec 1 driver of kind
// 4) and DRV5.MDV (an Exec 5 driver).
void WriteLibrary(const std::string& dir);

// A member of a packed file for the test packer.
testing::PackMember Member(int number, const std::string& data, bool scrambled = true);

// A small object of one AROM region holding `code`, with `global` defined at
// its start unless empty.
std::string Module(const std::string& name, const std::string& code, const std::string& global = "");

}  // namespace varnel::fuzz
