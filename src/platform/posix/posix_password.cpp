#include "platform/posix/posix_password.h"

namespace tarnwick::platform {

// Linux has no screen-saver password provider library, so there is never one to load.
PasswordLibrary::Handle PosixPasswordLibrary::load(const std::string&) {
    return nullptr;
}

PwdChangePasswordFn PosixPasswordLibrary::find(Handle, const std::string&) {
    return nullptr;
}

void PosixPasswordLibrary::free(Handle) {}

} // namespace tarnwick::platform
