// ASCII as both sides read text: the simulated printer its PJL, the host
// tools their files and command lines. A hex digit's value in either letter
// case, and letter case folded as the registry and PJL fold it: A to Z only,
// every other byte as it is. (The monitor reads its replies by rules of its
// own, src/pjl/.) Blanks are spaces and tabs.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace langmon::sim {

// The value of a hex digit in either case, or -1.
int HexValue(char c);
// 1 to 8 hex digits as a number; false for anything else (also none).
bool ParseHex32(std::string_view digits, DWORD* value);

char FoldCase(char c);
std::string FoldCase(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
bool EndsWithNoCase(std::string_view text, std::string_view suffix);

bool IsBlank(char c);
// Blanks taken off both ends; off the front only.
std::string_view TrimBlanks(std::string_view text);
std::string_view SkipBlanks(std::string_view text);

}  // namespace langmon::sim
