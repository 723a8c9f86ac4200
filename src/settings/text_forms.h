#pragma once
// The text forms of stored settings. None of them depends on the user's locale.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// Decimal digits with an optional leading minus sign, within 32 bits; nothing else (no blanks,
// no plus sign, no hex prefix).
std::optional<int32_t> parseStoredInt(std::string_view text);

// A decimal fraction with "." as separator: optional sign, digits with at most one ".", an
// optional exponent; blanks around it are allowed. Infinity, NaN, out-of-range numbers and a ","
// separator are not numbers here.
std::optional<double> parseStoredFloat(std::string_view text);

// Shortest general form that reads back as the same double (at most 17 significant digits),
// "." separator: 0.96 -> "0.96", 1 -> "1".
std::string formatStoredFloat(double value);

inline const char* storedBoolText(bool on) {
    return on ? "True" : "False";
}

// Leading and trailing blanks and control characters (bytes up to 32) removed.
std::string trimStoredText(std::string_view text);

std::string upperAscii(std::string_view text);
bool equalsIgnoringCase(std::string_view a, std::string_view b);

} // namespace tarnwick
