// The whole link call over a generated working directory.  The input is the
// ARG file (which names the library directory "@lib/"), then after each "\n@@\n" a file of the library directory: its
// name on the first line (letters, digits, '.', '_' and '$' only, at most 12),
// its bytes after.  The library holds the generated objects and packed files
// too, which a file of the input may replace.
#include <algorithm>
#include <cctype>

#include "fuzz_support.h"
#include "varnel.h"

using namespace varnel;

namespace {

bool SafeName(const std::string& name) {
  return !name.empty() && name.size() <= 12 && name != "." && name != ".." &&
         std::all_of(name.begin(), name.end(), [](unsigned char c) {
           return std::isalnum(c) || c == '.' || c == '_' || c == '$';
         });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string work = [] {
    fuzz::CheckDescriptors();
    fuzz::Dir("lib");
    return fuzz::Dir("work");
  }();
  static const std::string lib = fuzz::Dir("lib");
  std::vector<std::string> parts = fuzz::Split(data, size);
  fuzz::ClearDir(work);
  fuzz::ClearDir(lib);
  fuzz::WriteLibrary(lib);
  testing::WriteFile(work + "JOB.ARG", fuzz::AtRoot(parts[0]));
  for (size_t i = 1; i < parts.size(); ++i) {
    size_t end = parts[i].find('\n');
    std::string name = parts[i].substr(0, end);
    if (!SafeName(name)) continue;
    testing::WriteFile(lib + name, end == std::string::npos ? "" : parts[i].substr(end + 1));
  }
  char message[550];
  Varnel("JOB.ARG", nullptr, work.c_str(), "JOB.LOG", "JOB.SUB", "OUT.S1", 3, message, sizeof message);
  fuzz::CheckDescriptors();
  return 0;
}
