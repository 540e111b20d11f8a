// What the Windows test hosts share: each check prints a line of its own
// ("ok   " or "FAIL " and what was checked) at once, so that a host that
// crashes still shows how far it came, and the failures decide the exit
// status.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>

namespace host_checks {

inline int failures = 0;

inline void Check(bool ok, const std::string& what) {
  std::fputs(ok ? "ok   " : "FAIL ", stdout);
  std::fputs(what.c_str(), stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
  if (!ok) ++failures;
}

inline int ExitStatus() { return failures == 0 ? 0 : 1; }

// GetProcAddress hands back a generic function pointer; the entry's real
// type is the caller's to know.
template <typename Fn>
Fn As(FARPROC p) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(p));
}

}  // namespace host_checks
