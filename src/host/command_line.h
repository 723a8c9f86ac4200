#pragma once
// The screen-saver command line: a switch letter from argument 1 and a window handle from
// argument 2.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick {

// Argument 1 upper-cased (ASCII), first character dropped, cut to one character; '\0' when empty.
char SwitchLetter(const std::vector<std::string>& args);

// A signed 32-bit integer: leading blanks, optional sign, decimal digits or hexadecimal digits
// after "$", "x", "X", "0x" or "0X"; the whole text must be consumed.
std::optional<int32_t> ParseInt32(const std::string& text);

// Argument 2 parsed as above, or `fallback` when it is missing or malformed.
int32_t HandleArgument(const std::vector<std::string>& args, int32_t fallback);

std::string UpperCaseAscii(std::string text);

} // namespace tarnwick
