#pragma once
// Errors are exceptions carrying the system's own message text.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <utility>

namespace tarnwick {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

// printf-style message: format("Failed to create key %s", name).
template <typename... Args> std::string format(const char* fmt, Args&&... args) {
    int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(s.data(), s.size() + 1, fmt, std::forward<Args>(args)...);
    return s;
}

} // namespace tarnwick
