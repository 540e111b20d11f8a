// Rules of the platform layer that need no operating system: the error
// indicator of a stream, the hash of a name ignoring case, the wildcard match
// and the order of a directory search, DOS dates and times against seconds
// since 1970 (UTC, no time zone anywhere), the tidying of the C library's
// error texts, and the test hook's list of armed faults.  Both
// implementations use these, so both builds give the same results.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "ascii.h"
#include "platform/platform.h"

namespace varnel::platform::common {

// The error indicator of a stream of either implementation: the first error
// number is kept for Close, errno tells the caller at once.
template <typename S>
void SetFailed(S* s, int error) {
  if (!s->failed) s->error = error;
  s->failed = true;
  errno = error;
}

// A read error is no end of the file: reading may go on after it.
template <typename S>
void SetReadFailed(S* s, int error) {
  s->readFailed = true;
  s->atEnd = false;
  SetFailed(s, error);
}

// FNV-1a of the upper-cased name: names that differ only in case hash alike.
inline uint64_t FoldedHash(std::string_view name) {
  uint64_t h = 14695981039346656037u;
  for (char c : name) h = (h ^ AsciiUpper(static_cast<unsigned char>(c))) * 1099511628211u;
  return h;
}

// '*' matches any run of characters (none included), '?' exactly one; every
// other character matches itself ignoring ASCII case.
inline bool MatchWildcard(const char* pattern, const char* name) {
  // A search such as "*.SUP" runs over every entry of a directory: with the
  // pattern's only '*' in front, the name's end alone decides.
  if (pattern[0] == '*' && std::strchr(pattern + 1, '*') == nullptr) {
    const size_t tail = std::strlen(pattern + 1);
    const size_t length = std::strlen(name);
    if (length < tail) return false;
    const char* end = name + (length - tail);
    for (const char* p = pattern + 1; *p != '\0'; ++p, ++end)
      if (*p != '?' && AsciiUpper(static_cast<unsigned char>(*p)) != AsciiUpper(static_cast<unsigned char>(*end)))
        return false;
    return true;
  }
  const char* star = nullptr;  // the last '*' seen, to retry from
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern != '\0' &&
               (*pattern == '?' || AsciiUpper(static_cast<unsigned char>(*pattern)) ==
                                       AsciiUpper(static_cast<unsigned char>(*name)))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// The order of a directory search: by the ASCII upper-cased name; names that
// differ only in case follow byte order, so the order never depends on the
// file system.
inline void SortSearchResults(std::vector<std::string>& names) {
  auto upper = [](const std::string& s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(AsciiUpper(static_cast<unsigned char>(c)));
    return u;
  };
  std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
    std::string ua = upper(a), ub = upper(b);
    return ua != ub ? ua < ub : a < b;
  });
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
inline int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(year - era * 400);
  const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

inline void CivilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2);
}

inline unsigned DaysInMonth(int64_t year, unsigned month) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Seconds since 1970 (UTC) as DOS date and time; false (both 0) outside
// 1980-01-01 to 2107-12-31.  Odd seconds round down, as DOS keeps two.
inline bool UtcToDosDateTime(int64_t seconds, uint16_t* dosDate, uint16_t* dosTime) {
  *dosDate = 0;
  *dosTime = 0;
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t rest = seconds - days * 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  if (year < 1980 || year > 2107) return false;
  *dosDate = static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  *dosTime = static_cast<uint16_t>(((rest / 3600) << 11) | (((rest / 60) % 60) << 5) | ((rest % 60) / 2));
  return true;
}

// A DOS date and time as seconds since 1970 (UTC); false when they name no
// real moment (month 0, day 0, 30 February, hour 24, ...).
inline bool DosDateTimeToUtc(uint16_t dosDate, uint16_t dosTime, int64_t* seconds) {
  int64_t year = 1980 + (dosDate >> 9);
  unsigned month = (dosDate >> 5) & 0x0F;
  unsigned day = dosDate & 0x1F;
  unsigned hour = dosTime >> 11;
  unsigned minute = (dosTime >> 5) & 0x3F;
  unsigned second = (dosTime & 0x1F) * 2;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  *seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return true;
}

// The C library's text for an error number, in the one form both builds
// give: "No error" for 0, exactly "Unknown error" for a number it has no
// text for (some libraries append the number).
inline std::string TidyErrorText(int error, const char* libraryText) {
  if (error == 0) return "No error";
  static const char kUnknown[] = "Unknown error";
  if (libraryText == nullptr || *libraryText == '\0' ||
      std::strncmp(libraryText, kUnknown, sizeof kUnknown - 1) == 0)
    return kUnknown;
  return libraryText;
}

#if defined(VARNEL_FAULT_HOOK)
// The faults the test hook has armed: each fires once, at the next operation
// of its kind on its path (the path as passed to Open).
class ArmedFaults {
 public:
  void Arm(const char* path, FaultOp op) { faults_.push_back({path, op}); }
  void ArmAfter(const char* path, uint64_t bytes) { counted_.push_back({path, bytes}); }
  void Clear() {
    faults_.clear();
    counted_.clear();
  }
  bool Empty() const { return faults_.empty(); }
  // A read fault after so many bytes armed for the path: every stream that
  // opens it counts, and the first to get that far fails (FiredReadAfter).
  bool ReadAfter(const std::string& path, uint64_t* bytes) const {
    for (const Counted& c : counted_) {
      if (c.path == path) {
        *bytes = c.bytes;
        return true;
      }
    }
    return false;
  }
  void FiredReadAfter(const std::string& path) {
    for (auto it = counted_.begin(); it != counted_.end(); ++it) {
      if (it->path == path) {
        counted_.erase(it);
        return;
      }
    }
  }
  bool IsArmed(const std::string& path, FaultOp op) const {
    for (const Fault& f : faults_)
      if (f.op == op && f.path == path) return true;
    return false;
  }
  // Consumes the fault; true when one was armed.
  bool Fire(const std::string& path, FaultOp op) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
      if (it->op == op && it->path == path) {
        faults_.erase(it);
        return true;
      }
    }
    return false;
  }

 private:
  struct Fault {
    std::string path;
    FaultOp op;
  };
  struct Counted {
    std::string path;
    uint64_t bytes;
  };
  std::vector<Fault> faults_;
  std::vector<Counted> counted_;
};
#endif

// The directory a working-directory prefix names: everything up to and
// including its last separator, "" (the current directory) when it has none.
inline std::string PrefixDirectory(const char* workDir) {
  std::string dir(workDir != nullptr ? workDir : "");
  size_t cut = dir.find_last_of("/\\");
  dir.erase(cut == std::string::npos ? 0 : cut + 1);
  return dir;
}

}  // namespace varnel::platform::common
