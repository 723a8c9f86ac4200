#pragma once
// Everything the program takes from the operating system, gathered for the program entry.
#include "platform/files.h"
#include "platform/password.h"
#include "platform/registry.h"
#include "platform/screen.h"
#include "platform/sound.h"
#include "platform/window.h"

namespace tarnwick::platform {

struct Platform {
    WindowSystem& windows;
    SystemSaverState& saverState;
    Screen& screen;
    SoundPlayer& sound;
    PasswordLibrary& password;
    Registry& registry;
    FileSystem& files;
};

} // namespace tarnwick::platform
