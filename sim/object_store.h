// The simulated printer's device-management objects and their wire form:
// the objects a fresh printer holds, the value record of a DMINFO reply, and
// the value of a DMCMD set line. The value type codes are the monitor's own
// (pjl/pjl.h): both ends of the wire speak the same encoding.
#pragma once

#include <cstddef>
#include <map>
#include <string>

#include "pjl/pjl.h"

namespace langmon::sim {

// One device-management object. Number types (Number, PaddedNumber,
// Number32, Byte, AltNumber) use `number`, string types (String,
// PrefixedString, AltString) use `text`; Empty carries nothing. A value set
// as NegativeNumber is kept as PaddedNumber holding the 32-bit two's
// complement of the negative number, so that it reads back as 4 bytes
// ("ffffffff" for -1).
struct SimObject {
  ValueType type = ValueType::Number;
  DWORD number = 0;
  std::string text;

  bool operator==(const SimObject&) const = default;
};

// Object identifier (lowercase hex text) -> object.
using SimObjectMap = std::map<std::string, SimObject>;

// The objects a fresh printer holds: every object the monitor asks for, with
// values chosen so that a full configuration read sets every presence bit
// (IObuffer 3, PostScript 6, ResourceSave 3, Resolution 600, tray 3 present).
SimObjectMap DefaultObjects();

// The device ID a fresh printer reports (IEEE 1284 key/value text).
extern const char* const kDefaultDeviceId;
// The longest device ID the IEEE 1284 answer can carry: its 16-bit length
// counts its own two bytes.
constexpr std::size_t kMaxDeviceIdLength = 0xFFFF - 2;

bool IsStringType(ValueType type);

// Encodes the value record of a DMINFO reply: "800000", the identifier, the
// type/length word and the value digits in lowercase hex (no quotes).
std::string EncodeRecord(const std::string& objectId, const SimObject& object);

// Decodes the value digits of a DMCMD payload (the type/length word already
// split off) into what the object will hold. False when the digits do not
// fit the announced type and length.
bool DecodeSetValue(ValueType type, DWORD length, const std::string& digits, SimObject* value);

}  // namespace langmon::sim
