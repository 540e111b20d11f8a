// The pieces of the standard test library: objects and packed files whose
// code is a text of their own, so that a test can find each in the linked
// image and tell which the planner took.
#pragma once

#include <cstdint>
#include <string>

#include "builders/packer.h"

namespace varnel::testing {

// A module header object such as EEPROM: `name` holding "HDR-" + name.
std::string HeaderObject(const std::string& name);
// MODEND holding "END" and defining MODEND, which the Exec 3.2 terminator
// names.
std::string ModendModule();
// LIB.OBJ: MODEND, then UNUSED holding "never linked" (defining NOBODY),
// which no link needs.
std::string LibraryObject();
// An FB's object: `name` holding name + "-CODE".
std::string FbObject(const std::string& name);

// A packed FB: its object as member 2 and, with `withRp`, its RP
// (name + "RP" holding name + "-RP") as member 3.
PackSpec PackedFb(const std::string& name, bool withRp);
// A packed module driver of a kind: DRV holding "DRIVER-CODE" as member 2,
// and for kinds 2 and 4 its library (MODEND holding "DRV-END") as member 4
// and its header (EEPDRV holding "DRV-HEADER") as member 5, scrambled in a
// file of kind 2 only, as the planner unpacks them.
PackSpec PackedDriver(uint8_t kind, const std::string& description, int16_t execType);

}  // namespace varnel::testing
