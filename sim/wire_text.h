// Text helpers of the simulated printer's side of the wire: blanks, hex
// bytes and object identifiers, as the printer reads them (either letter
// case, ascii.h) and writes them (lowercase).
#pragma once

#include <cstddef>
#include <string>

#include "ascii.h"
#include "platform/platform.h"

namespace langmon::sim {

// Pairs of hex digits as bytes; false for an odd count or a non-hex digit.
bool ParseHexBytes(const std::string& digits, std::string* bytes);
// A number in lowercase hex with at least minDigits digits.
std::string HexText(DWORD value, int minDigits);
// Every byte as two lowercase hex digits.
std::string HexBytes(const std::string& bytes);
// The digits of the object identifier at the start of text: its first byte
// counts the bytes that follow. 0 when the text does not start with a
// well-formed identifier.
std::size_t IdentifierDigits(const std::string& text);

}  // namespace langmon::sim
