// The packed-file reader: the input is a packed file; every member it lists
// is extracted, as stored and unscrambled.
#include "fuzz_support.h"
#include "packfile.h"

using namespace varnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string work = [] {
    fuzz::CheckDescriptors();
    return fuzz::Dir("work");
  }();
  fuzz::ClearDir(work);
  fuzz::Put(work + "P.FB", data, size);
  if (FindPackFile("P", work.c_str()) != nullptr) {
    GetPackVersion();
    IsExtendedPack();
    PackKind();
    DriverInfo info{};
    GetPackDriverInfo(&info);
    for (int member = 0; member <= 67; ++member) {
      GetPackMemberDate(member);
      GetPackMemberTime(member);
      if (PackMemberSize(member) == 0) continue;
      ExtractPackMember(member, member & 1, "%sM%d.$$$", work.c_str(), member);
    }
    ClosePackFile();
  }
  fuzz::CheckDescriptors();
  return 0;
}
