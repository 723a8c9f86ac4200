#pragma once
// The samples of the program's two sounds, synthesised the same way on every build.
#include <cstdint>
#include <vector>

namespace tarnwick::soundgen {

constexpr int kClip1Samples = 1173;  // about 0.106 s
constexpr int kClip2Samples = 21330; // about 1.935 s

// A short double click around 1.1 kHz: a louder burst at 5-30 ms, silence, a weaker one from
// 80 ms to the end. 8-bit unsigned, 128 is silence.
std::vector<uint8_t> synthesiseClick();

// A low rough tone (150-300 Hz) that swells within 0.1 s, fades over 1.5 s and is silent from
// about 1.8 s.
std::vector<uint8_t> synthesiseHum();

} // namespace tarnwick::soundgen
