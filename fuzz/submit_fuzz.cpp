// The submit file reader: the input is the submit file of stage 2, its
// first byte, taken off, choosing the Exec type; "@work/A.OBJ" and
// "@work/B.OBJ" name the two objects of the working directory.
#include "fuzz_support.h"
#include "linker.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string work = [] {
    fuzz::CheckDescriptors();
    std::string dir = fuzz::Dir("work");
    fuzz::Put(dir + "A.OBJ", fuzz::Module("MAIN", "MAIN-CODE"));
    fuzz::Put(dir + "B.OBJ", fuzz::Module("MODEND", "END", "MODEND"));
    return dir;
  }();
  fuzz::Put(work + "LINK.CMD", fuzz::AtRoot(std::string(reinterpret_cast<const char*>(data), size).substr(size > 0)));
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
