// Binding to varnel at run time.  jvarnel never links varnel: the Java host
// decides where varnel lives, so it is found and opened at the first call
// and kept until the process ends.  Each platform has one implementation of
// this interface; nothing else in jvarnel talks to the platform's loader.
#pragma once

#include <cstddef>

namespace jvarnel::loader {

// Called before every call into varnel, so that a library in the "bin"
// directory under the current directory is found first.
void PrepareSearch();

// Opens varnel.  Returns the library, never to be closed, or nullptr with
// the platform's reason (ASCII, NUL-terminated, cut to fit) in `why`.
void* OpenLibrary(char* why, size_t whyLength);

// The address of the export `name` of the opened library, or nullptr with
// the reason in `why`.
void* FindEntry(void* library, const char* name, char* why, size_t whyLength);

}  // namespace jvarnel::loader
