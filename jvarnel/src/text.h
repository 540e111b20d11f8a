// Small text helpers of the bridge: bounded appends for the exception texts
// and the decoding of varnel's message buffer for the Java side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jvarnel {

// The buffer the bridge hands to varnel, and the most of it that reaches
// the caller.
constexpr size_t kMessageBufferLength = 550;
constexpr size_t kMessageTextLimit = kMessageBufferLength - 1;

// Appends `text` to the NUL-terminated `buffer` of `capacity` bytes,
// cutting it to fit.  Bytes outside ASCII become '?', so the result is
// always valid for the JVM's exception constructors.
void AppendAscii(char* buffer, size_t capacity, const char* text);

// Turns varnel's message buffer into UTF-16 units for NewString.  The text
// is 8-bit and quotes bytes from input files, so it is not always modified
// UTF-8: the bytes up to the first NUL, at most kMessageTextLimit of them,
// are read with every valid modified-UTF-8 sequence decoded, a sequence that
// the cut at kMessageTextLimit bytes broke dropped, and every other byte
// taken as the character of the same value.  `units` needs room for
// kMessageTextLimit entries; returns how many were written.
size_t DecodeMessageText(const char (&buffer)[kMessageBufferLength], uint16_t* units);

}  // namespace jvarnel
