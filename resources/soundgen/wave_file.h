#pragma once
// Assembling a RIFF/WAVE file of 8-bit unsigned mono samples from its chunks.
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tarnwick::soundgen {

constexpr uint32_t kSampleRate = 11025;

// A chunk after "data", kept as it is (e.g. "alia" or "mark" of a given size, all zero).
struct ExtraChunk {
    std::string_view id;
    uint32_t size;
};

// "fmt " (PCM, 1 channel, kSampleRate, 8 bits), "fact" (the sample count), "data", then `extra`.
std::vector<uint8_t> buildWaveFile(std::span<const uint8_t> samples,
                                   std::span<const ExtraChunk> extra = {});

} // namespace tarnwick::soundgen
