// The M68 record reader with module loading and relocation: the input is
// one object file (and, after a "\n@@\n", a library) that a submit file
// names, linked by stage 2 into a download file.
#include "fuzz_support.h"
#include "linker.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string work = [] {
    fuzz::CheckDescriptors();
    return fuzz::Dir("work");
  }();
  std::vector<std::string> parts = fuzz::Split(data, size);
  fuzz::Put(work + "A.OBJ", parts[0]);
  std::string submit =
      "0400-BFFF\r\nSECTION   *      DSCT  0400-5FFF\r\nSECTION   AROM   PSCT  8000-BFFF\r\n"
      "FILE     " + work + "A.OBJ\r\n";
  if (parts.size() > 1) {
    fuzz::Put(work + "B.LIB", parts[1]);
    submit += "LIBRARY  " + work + "B.LIB\r\n";
  }
  fuzz::Put(work + "LINK.CMD", submit);
  LinkParams params{};
  fuzz::Quiet(params, 4);
  params.submitFileName = "LINK.CMD";
  params.outputFileName = "OUT.S1";
  params.execType = 1;
  params.workDir = work.c_str();
  RunLinker(&params);
  fuzz::CheckDescriptors();
  return 0;
}
