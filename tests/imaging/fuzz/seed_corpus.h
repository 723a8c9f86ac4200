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

// A random damage of the kinds that break decoders: flipped bits, overwritten bytes (often
// with extreme values), cut tails, duplicated or removed stretches.
std::vector<uint8_t> mutate(std::vector<uint8_t> bytes, std::mt19937& gen);

} // namespace tarnwick::testing
