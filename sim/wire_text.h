// Text helpers of the simulated printer's side of the wire: letter case,
// blanks, hex digits and object identifiers, as the printer reads them
// (either letter case) and writes them (lowercase).
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace langmon::sim {

std::string Lower(std::string text);
bool IsSpace(char c);
// The value of a hex digit in either case, or -1.
int HexValue(char c);
// Up to 8 hex digits as a number; false for anything else (also none).
bool ParseHex32(const std::string& digits, DWORD* value);
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
