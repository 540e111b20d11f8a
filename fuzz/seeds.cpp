// Writes the seed corpora of the fuzz targets into <dir>/<target>/ from the
// same builders the tests use.  Run it from the source tree:
//   build-fuzz/bin/fuzz_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "builders/files.h"
#include "builders/image_inputs.h"
#include "builders/m68objects.h"
#include "builders/packer.h"
#include "image_harness.h"

using namespace varnel;
using namespace varnel::testing;

namespace {

std::string root;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  std::filesystem::create_directories(root + "/" + target);
  WriteFile(root + "/" + target + "/" + name, bytes);
}
void Seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
  Seed(target, name, std::string(bytes.begin(), bytes.end()));
}

std::string Joined(const std::vector<std::string>& parts) {
  std::string all;
  for (size_t i = 0; i < parts.size(); ++i) all += (i ? "\n@@\n" : "") + parts[i];
  return all;
}

PackMember M(int number, const std::string& text, bool scrambled = true, uint16_t date = 0, uint16_t time = 0) {
  PackMember m = Member(number, text, scrambled);
  m.date = date;
  m.time = time;
  return m;
}

void Records() {
  Seed("records", "plain", Crlf(CodeModule("MAIN", TextBytes("MAIN-CODE"), {"MAIN"})));
  // A relocated reference from program into data, an external and an S7.
  std::string relocated = S0("REL") + S3(0x85, "AROM") + S3(0x04, "DSCT") + S4(5, 0, 7) + S4(4, 0, 3) +
                          S8(5, 0, "ENTRY") + S2(5, 0, Lit({1, 2}) + Rel(0x20, 4, 2) + Rel(0x60, 5, 0)) +
                          S7(5, 6, false, "MODEND") + S9();
  Seed("records", "relocated", Crlf(relocated));
  Seed("records", "with-library",
       Joined({Crlf(CodeModule("MAIN", TextBytes("CALLS")) + S0("X") + S7(5, 0, false, "LIBFN") + S9()),
               Crlf(CodeModule("LIBFN", TextBytes("LIB-CODE"), {"LIBFN"}) +
                    CodeModule("OTHER", TextBytes("UNUSED"), {"OTHER"}))}));
  Seed("records", "bad-checksum", Crlf(S0("BAD") + M68BadChecksum(3, {0x85, 'A', 'R', 'O', 'M'}) + S9()));
  // Digits that are none: a count of one digit after the object's last
  // record, and a byte "0G" in a library module.
  Seed("records", "not-hex",
       Joined({Crlf(CodeModule("MAIN", TextBytes("MAIN-CODE"), {"MAIN"}) + "S2 6 0 0 1 0 F8 0\n"),
               Crlf(S0("LIBFN") + S3(0x85, "AROM") + "S2060000050G41B3\n" + S9())}));
}

void Submit() {
  const std::string sections = kSections;
  Seed("submit", "files", "\x01" + Crlf(sections + "FILE     @work/A.OBJ\nLIBRARY  @work/B.OBJ\n"));
  Seed("submit", "defines", "\x02" + Crlf(sections + "DEFINE   ENDHEAP        7FFF\nDEFINE   CPNUM 0001\n"
                                                      "FILE     @work/A.OBJ\nFILE     @work/B.OBJ\n"));
  Seed("submit", "exec5", "\x04" + Crlf("0400-BFFF\nSECTION   AROM   PSCT  0100-FFFE\n"
                                         "SECTION   *      DSCT  0000-00FF\nFILE     @work/A.OBJ\n"));
}

void Arg() {
  Seed("arg", "objects", "@lib/\n 1 FBA\n 2 FBB\nXXX\n32C000000000\n");
  Seed("arg", "driver", "@lib/\n 1 FBA 2 FBB 3 FBC 15 DRV\nXXX\n32C000000000\n");
  Seed("arg", "exec5", "@lib/\n 1 FBB\n 2 FBC\n 15 DRV5\nXXX\n500000000000\n");
  Seed("arg", "supplement", "@lib/\n 1 FBA\nXXX\n32C000000000\nDOWNLOAD_SUPPLEMENT=S1.SCR\n");
}

void Packed() {
  PackSpec plain;
  plain.members.push_back(M(2, "obj"));
  plain.members.push_back(M(3, "rp", false));
  Seed("packed", "fb", BuildPackFile(plain));
  PackSpec driver;
  driver.kind = 4;
  driver.info = MakeDriverInfo("Packed driver", 5, {255, 3});
  driver.members.push_back(M(2, "drv"));
  driver.members.push_back(M(4, "lib", false));
  driver.members.push_back(M(9, "xy", true, 0x1234, 0x5678));
  Seed("packed", "driver", BuildPackFile(driver));
  PackSpec lying = plain;
  lying.members[0].sizeField = 0xFFFFFF00u;
  Seed("packed", "size-lie", BuildPackFile(lying));
  PackSpec old;
  old.version = 20;
  old.members.push_back(M(1, "a"));
  Seed("packed", "old-version", BuildPackFile(old));
}

void Status() {
  Seed("status", "empty-module", StatusToken(8, 4, {}));
  Seed("status", "same-firmware", StatusToken(8, 4, {Boot(), Exec(), Core(), Main()}));
  Seed("status", "older-main", StatusToken(4, 4, {Boot(), Exec(), Core(), WithVersion(Main(), 0x00030001)}));
  Seed("status", "short", "3200000000000000");
  Seed("status", "examine", StatusToken(0, 0, {Boot()}) + "!");
}

void Firmware() {
  Seed("firmware", "standard", DriverFirmware());
  DriverSpec spec;
  spec.main.browserVersion = 1;
  spec.trailingRecord = false;
  spec.beforeMain = SRecord('2', 0x2800, Data(8, 0x77));
  Seed("firmware", "no-trailer", DriverFirmware(spec));
  Seed("firmware", "end-only", EndRecord());
  Seed("firmware", "bad-checksum", SRecord('0', 0, TextBytes("H")) + "S1050400FFFF00\n" + EndRecord());
  // Address digits beyond F: "03G0" is the chunk at 0x400.
  std::string odd = SRecord('1', 0x300, Chunk(Boot()));
  odd.replace(4, 4, "03G0");
  Seed("firmware", "digits-beyond-f", SRecord('1', 0, Data(16, 0xA5)) + odd + EndRecord());
}

void Rp() {
  fuzz::ImageRun::StandardImage();
  const uint8_t* image = LinkedImage();
  size_t end = 0x100 + 256;
  Seed("rp", "two-rps", std::string("\x02") + std::string(image + 0x100, image + end));
  std::vector<uint8_t> none(64, 0);
  Seed("rp", "none", std::string("\x00", 1) + std::string(none.begin(), none.end()));
}

void Supplement() {
  const std::string header = "S109FF03534D00001000xx\n";
  const std::string data = "S128FF0200000000000000000000000800" + std::string(48, '0') + "xx\n";
  const std::string end = "S106FF04010000xx\n";
  Seed("supplement", "one-screen",
       Joined({"; job\nDOWNLOAD_SUPPLEMENT=S1.SCR\n", header + data + "REM 100% %s %n %d\r\n" + end + "\x1A"}));
  Seed("supplement", "two-screens",
       Joined({"download_supplement = s1.scr\n\tDOWNLOAD_SUPPLEMENT=/,<S2.SCR|X;c\nDOWNLOAD_SUPPLEMENT\n",
               header + end, "S109FF03414200000010xx\n" + data}));
  Seed("supplement", "missing", "DOWNLOAD_SUPPLEMENT=NONE.SCR\n");
}

void WholeLink() {
  Seed("varnel", "objects", "@lib/\n 1 FBA\n 2 FBB\nXXX\n32C000000000\n");
  Seed("varnel", "driver", "@lib/\n 1 FBA 2 FBB 3 FBC 15 DRV\nXXX\n32C000000000\n");
  Seed("varnel", "exec5", "@lib/\n 1 FBB\n 15 DRV5\nXXX\n500000000000\n");
  Seed("varnel", "new-fb",
       Joined({"@lib/\n 1 FBX\nXXX\n32C000000000\n", "FBX.OBJ\n" + Crlf(CodeModule("FBX", TextBytes("FBX-CODE")))}));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds <corpus directory>\n");
    return 2;
  }
  root = std::filesystem::absolute(argv[1]).string();
  Records();
  Submit();
  Arg();
  Packed();
  Status();
  Firmware();
  Rp();
  Supplement();
  WholeLink();
  return 0;
}
