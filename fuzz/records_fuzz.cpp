// The M68 record reader with module loading and relocation: the input is
// one object file (and, after a "\n@@\n", a library) that a submit file
// names, linked by stage 2 into a download file, once with the memory map of
// an Exec 1 module and once with the one of an Exec 5 module.
#include "fuzz_support.h"
#include "linker.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string work = [] {
    fuzz::CheckDescriptors();
    return fuzz::Dir("work");
  }();
  std::vector<std::string> parts = fuzz::Split(data, size);
  testing::WriteFile(work + "A.OBJ", parts[0]);
  const struct {
    int32_t execType;
    const char* sections;
  } maps[] = {
      {1, "0400-BFFF\r\nSECTION   *      DSCT  0400-5FFF\r\nSECTION   AROM   PSCT  8000-BFFF\r\n"},
      {5, "0400-BFFF\r\nSECTION   AROM   PSCT  0100-FFFE\r\nSECTION   *      DSCT  0000-00FF\r\n"},
  };
  if (parts.size() > 1) testing::WriteFile(work + "B.LIB", parts[1]);
  for (const auto& map : maps) {
    std::string submit = std::string(map.sections) + "FILE     " + work + "A.OBJ\r\n";
    if (parts.size() > 1) submit += "LIBRARY  " + work + "B.LIB\r\n";
    testing::WriteFile(work + "LINK.CMD", submit);
    LinkParams params{};
    fuzz::Quiet(params, 4);
    params.submitFileName = "LINK.CMD";
    params.outputFileName = "OUT.S1";
    params.execType = map.execType;
    params.workDir = work.c_str();
    RunLinker(&params);
  }
  fuzz::CheckDescriptors();
  return 0;
}
