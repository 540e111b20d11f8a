// Loads varnel.dll the way the Java bridge does -- the DLL directory set to
// the relative path .\bin, then LoadLibraryA by name -- and calls
// VarnelGetVersion through the name and through ordinal 4.  Run from the
// build directory, whose bin\ holds the DLL; the host itself lives elsewhere.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "host_checks.h"

namespace {

using host_checks::As;
using host_checks::Check;

using GetVersionFn = void (*)(char*, uint64_t);

const char kVersion[] = "VARNEL.DLL  v3.03.002";

FARPROC ByOrdinal(HMODULE lib, WORD ordinal) {
  return GetProcAddress(lib, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(ordinal)));
}

// The whole buffer after the call: the text, then NULs up to the length, and
// the guard bytes behind the length untouched.
void CheckVersionCopy(GetVersionFn fn, size_t length, const std::string& how) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  fn(buffer, length);
  std::string expected(kVersion, std::min(length, std::strlen(kVersion)));
  expected.resize(length, '\0');
  expected.append(sizeof buffer - length, '#');
  Check(std::string(buffer, sizeof buffer) == expected,
        "VarnelGetVersion " + how + " into " + std::to_string(length) + " bytes");
}

}  // namespace

int main() {
  // Neither the host's directory nor the current one holds the DLL, so it
  // must not load before the DLL directory points at bin.
  HMODULE early = LoadLibraryA("varnel.dll");
  Check(early == nullptr, "varnel.dll is not found without the DLL directory");
  if (early != nullptr) FreeLibrary(early);

  SetDllDirectoryA(".\\bin");
  HMODULE lib = LoadLibraryA("varnel.dll");
  Check(lib != nullptr, "LoadLibraryA(\"varnel.dll\") with the DLL directory .\\bin");
  if (lib == nullptr) return 1;

  auto byName = As<GetVersionFn>(GetProcAddress(lib, "VarnelGetVersion"));
  auto byOrdinal = As<GetVersionFn>(ByOrdinal(lib, 4));
  Check(byName != nullptr, "VarnelGetVersion resolves by name");
  Check(byOrdinal != nullptr && byOrdinal == byName, "ordinal 4 is VarnelGetVersion");
  if (byName != nullptr) {
    CheckVersionCopy(byName, 32, "by name");
    CheckVersionCopy(byName, 22, "by name");
  }
  if (byOrdinal != nullptr) {
    CheckVersionCopy(byOrdinal, 21, "by ordinal");
    CheckVersionCopy(byOrdinal, 0, "by ordinal");
    byOrdinal(nullptr, 100);
    Check(true, "VarnelGetVersion without a buffer returns");
  }

  FARPROC fbFit = GetProcAddress(lib, "FbFit");
  FARPROC varnel = GetProcAddress(lib, "Varnel");
  Check(fbFit != nullptr && ByOrdinal(lib, 1) == fbFit, "ordinal 1 is FbFit");
  Check(varnel != nullptr && ByOrdinal(lib, 2) == varnel, "ordinal 2 is Varnel");
  FARPROC driverData = GetProcAddress(lib, "VarnelGetDriverData");
  Check(driverData != nullptr && ByOrdinal(lib, 3) == driverData, "ordinal 3 is VarnelGetDriverData");
  Check(ByOrdinal(lib, 5) == nullptr, "no ordinal beyond 4");

  return host_checks::ExitStatus();
}
