#include "builders/library.h"

#include "builders/m68objects.h"

namespace varnel::testing {

std::string HeaderObject(const std::string& name) { return CodeModule(name, TextBytes("HDR-" + name)); }

std::string ModendModule() { return CodeModule("MODEND", TextBytes("END"), {"MODEND"}); }

std::string LibraryObject() {
  return ModendModule() + CodeModule("UNUSED", TextBytes("never linked"), {"NOBODY"});
}

std::string FbObject(const std::string& name) { return CodeModule(name, TextBytes(name + "-CODE")); }

PackSpec PackedFb(const std::string& name, bool withRp) {
  PackSpec pack;
  pack.members.push_back(Member(2, FbObject(name)));
  if (withRp) pack.members.push_back(Member(3, CodeModule(name + "RP", TextBytes(name + "-RP"))));
  return pack;
}

PackSpec PackedDriver(uint8_t kind, const std::string& description, int16_t execType) {
  PackSpec pack;
  pack.kind = kind;
  pack.info = MakeDriverInfo(description, execType, {255});
  pack.members.push_back(Member(2, CodeModule("DRV", TextBytes("DRIVER-CODE"))));
  if (kind == 2 || kind == 4) {
    pack.members.push_back(Member(4, CodeModule("MODEND", TextBytes("DRV-END"), {"MODEND"}), kind == 2));
    pack.members.push_back(Member(5, CodeModule("EEPDRV", TextBytes("DRV-HEADER")), kind == 2));
  }
  return pack;
}

}  // namespace varnel::testing
