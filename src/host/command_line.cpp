#include "host/command_line.h"

namespace tarnwick {

std::string UpperCaseAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

char SwitchLetter(const std::vector<std::string>& args) {
    if (args.empty() || args[0].size() < 2) return '\0';
    return UpperCaseAscii(args[0].substr(1, 1))[0];
}

std::optional<int32_t> ParseInt32(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i; // blanks only: a tab or newline is no number
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

    int base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;

    // Hexadecimal may fill all 32 bits (as $FFFFFFFF = -1); decimal must fit the signed range.
    uint64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFull) return std::nullopt;
    }
    if (base == 10) {
        if (negative ? value > 0x80000000ull : value > 0x7FFFFFFFull) return std::nullopt;
        const int64_t v = negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
        return static_cast<int32_t>(v);
    }
    const auto bits = static_cast<uint32_t>(value);
    const auto v = static_cast<int32_t>(bits);
    return negative ? static_cast<int32_t>(0u - bits) : v;
}

int32_t HandleArgument(const std::vector<std::string>& args, int32_t fallback) {
    if (args.size() < 2) return fallback;
    return ParseInt32(args[1]).value_or(fallback);
}

} // namespace tarnwick
