#pragma once
// The seed corpus of the decoders' fuzzing: one small file of every variant, made in code.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tarnwick::testing {

struct Seed {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<Seed> bmpSeeds();
std::vector<Seed> jpegSeeds();
std::vector<Seed> pngSeeds();
std::vector<Seed> webpSeeds();
// Small files claiming huge pictures, each once a decompression bomb: for the header-check fuzzer,
// which runs with the product's real limits.
std::vector<Seed> hostileSeeds();

// A random damage of the kinds that break decoders: flipped bits, overwritten bytes (often
// with extreme values), cut tails, duplicated or removed stretches.
std::vector<uint8_t> mutate(std::vector<uint8_t> bytes, std::mt19937& gen);

} // namespace tarnwick::testing
