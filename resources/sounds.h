#pragma once
// The program's own sounds, compiled in: complete RIFF/WAVE files (mono, 8-bit unsigned,
// 11025 samples/s). 1 marks a new picture, 2 a new camera target.
#include <cstdint>
#include <span>

namespace tarnwick {

constexpr int kNewPictureSound = 1;
constexpr int kNewTargetSound = 2;

// The bytes of sound `id`; an empty span for an id the program does not have.
std::span<const uint8_t> soundResource(int id);

} // namespace tarnwick
