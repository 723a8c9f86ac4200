#pragma once
// Run-time loading of the system's password provider library.
#include <cstdint>
#include <string>

namespace tarnwick::platform {

using PwdChangePasswordFn = uint32_t (*)(const char* provider, uint64_t parentWindow, uint32_t reserved1,
                                         uint32_t reserved2);

class PasswordLibrary {
public:
    virtual ~PasswordLibrary() = default;
    using Handle = void*;
    virtual Handle load(const std::string& path) = 0; // nullptr when it cannot be loaded
    virtual PwdChangePasswordFn find(Handle library, const std::string& name) = 0;
    virtual void free(Handle library) = 0;
};

} // namespace tarnwick::platform
