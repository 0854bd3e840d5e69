#include "wire_text.h"

#include <algorithm>
#include <cstdio>

namespace langmon::sim {

namespace {

bool IsHex(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return HexValue(c) >= 0; });
}

}  // namespace

bool ParseHexBytes(const std::string& digits, std::string* bytes) {
  if (digits.size() % 2 != 0 || !IsHex(digits)) return false;
  bytes->clear();
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<char>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
  }
  return true;
}

std::string HexText(DWORD value, int minDigits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*x", minDigits, static_cast<unsigned>(value));
  return buffer;
}

std::string HexBytes(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) out += HexText(c, 2);
  return out;
}

std::size_t IdentifierDigits(const std::string& text) {
  if (text.size() < 2 || HexValue(text[0]) < 0 || HexValue(text[1]) < 0) return 0;
  const std::size_t following =
      static_cast<std::size_t>(HexValue(text[0]) * 16 + HexValue(text[1]));
  if (following == 0) return 0;
  const std::size_t digits = 2 + 2 * following;
  if (text.size() < digits || !IsHex(text.substr(0, digits))) return 0;
  return digits;
}

}  // namespace langmon::sim
