// The Windows loader: varnel is varnel.dll, found through the system's own
// search for libraries, in which the DLL directory -- set to the relative
// path .\bin before every call -- comes right after the host's directory.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "loader.h"
#include "text.h"

namespace jvarnel::loader {

namespace {

// The system's reason for the last failure, as plain ASCII.
void AppendReason(char* why, size_t whyLength) {
  DWORD code = GetLastError();
  char text[256] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, sizeof text,
                           nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ' ||
                   text[n - 1] == '.')) {
    text[--n] = '\0';
  }
  if (n > 0) {
    AppendAscii(why, whyLength, text);
    AppendAscii(why, whyLength, " ");
  }
  // Formed in place: nothing on the way out of a native method may allocate
  // and so throw.
  char number[16];
  char* p = number + sizeof number;
  *--p = '\0';
  do {
    *--p = static_cast<char>('0' + code % 10);
    code /= 10;
  } while (code != 0);
  AppendAscii(why, whyLength, "(error ");
  AppendAscii(why, whyLength, p);
  AppendAscii(why, whyLength, ")");
}

}  // namespace

void PrepareSearch() {
  // The process-wide DLL directory; a failure leaves the standard search,
  // which is all the caller could have anyway.
  SetDllDirectoryA(".\\bin");
}

void* OpenLibrary(char* why, size_t whyLength) {
  if (whyLength > 0) why[0] = '\0';
  HMODULE library = LoadLibraryA("varnel.dll");
  if (library == nullptr) {
    AppendAscii(why, whyLength, "varnel.dll: ");
    AppendReason(why, whyLength);
  }
  return reinterpret_cast<void*>(library);
}

void* FindEntry(void* library, const char* name, char* why, size_t whyLength) {
  if (whyLength > 0) why[0] = '\0';
  FARPROC address = GetProcAddress(static_cast<HMODULE>(library), name);
  if (address == nullptr) AppendReason(why, whyLength);
  return reinterpret_cast<void*>(address);
}

}  // namespace jvarnel::loader
