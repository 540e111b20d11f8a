// The submit file reader: the input is the submit file of stage 2, its
// first byte, taken off, choosing the Exec type; "@work/A.OBJ" and
// "@work/B.OBJ" name the two objects of the working directory.
#include "builders/library.h"
#include "builders/m68objects.h"
#include "fuzz_support.h"
#include "linker.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string work = [] {
    fuzz::CheckDescriptors();
    std::string dir = fuzz::Dir("work");
    testing::WriteFile(dir + "A.OBJ", testing::CodeModule("MAIN", testing::TextBytes("MAIN-CODE")));
    testing::WriteFile(dir + "B.OBJ", testing::ModendModule());
    return dir;
  }();
  testing::WriteFile(work + "LINK.CMD",
                     fuzz::AtRoot(std::string(reinterpret_cast<const char*>(data), size).substr(size > 0)));
  LinkParams params{};
  fuzz::Quiet(params, 4);
  params.submitFileName = "LINK.CMD";
  params.outputFileName = "OUT.S1";
  params.execType = size > 0 ? 1 + data[0] % 5 : 1;
  params.workDir = work.c_str();
  RunLinker(&params);
  fuzz::CheckDescriptors();
  return 0;
}
