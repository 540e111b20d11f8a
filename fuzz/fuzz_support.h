// What every fuzz target shares: one scratch directory per process that the
// process also works in, whole-file writes, inputs split into files, quiet
// callbacks that still format every message, and a check that no input left
// a descriptor open.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "builders/files.h"

namespace varnel::fuzz {

// The scratch root (trailing '/'), created on the first call; it goes when
// the process exits normally.
const std::string& Root();
// Root() + name + '/', created once.
std::string Dir(const std::string& name);
// Removes what a previous input left in a directory.
void ClearDir(const std::string& dir);

// Writes an input's bytes as a whole file.
void Put(const std::string& path, const uint8_t* data, size_t size);

// The pieces of an input cut at every "\n@@\n" (the separator dropped).
std::vector<std::string> Split(const uint8_t* data, size_t size);
// An input as text: bytes up to the first NUL.
std::string Text(const uint8_t* data, size_t size);
// text with every '@' replaced by Root(), so that an input can name files of
// the scratch directory (its path differs from process to process).
std::string AtRoot(const std::string& text);

void Discard(const char* format, va_list args);
void DiscardError(const char* format, int code, va_list args);

// Points a stage record's callbacks at Discard and DiscardError.
template <typename StageParams>
void Quiet(StageParams& p, int logLevel) {
  testing::SetCallbacks(p, logLevel, Discard, Discard, DiscardError);
}

// Aborts when a file of the scratch directory is still open.
void CheckDescriptors();

// A library directory of plain objects and packed FB and driver files, as
// the planner and whole links take them: EEPROM.OBJ, EEPCOM.OBJ, EEP400.OBJ
// and LIB.OBJ, FBA.OBJ, FBB.FB (with an RP), FBC.FB (without), DRV.MDV (an
// Exec 1 driver of kind 4) and DRV5.MDV (an Exec 5 driver of kind 4).
void WriteLibrary(const std::string& dir);

}  // namespace varnel::fuzz
