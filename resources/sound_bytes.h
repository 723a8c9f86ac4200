#pragma once
// The two RIFF/WAVE clips, written by tarnwick_soundgen at build time.
#include <array>
#include <cstdint>

namespace tarnwick::resources {

extern const std::array<uint8_t, 1230> kSound1Wave;
extern const std::array<uint8_t, 21502> kSound2Wave;

} // namespace tarnwick::resources
