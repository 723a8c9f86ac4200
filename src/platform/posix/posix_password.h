#pragma once
// The password provider library on Linux.
#include "platform/password.h"

namespace tarnwick::platform {

class PosixPasswordLibrary final : public PasswordLibrary {
public:
    Handle load(const std::string& path) override;
    PwdChangePasswordFn find(Handle library, const std::string& name) override;
    void free(Handle library) override;
};

} // namespace tarnwick::platform
