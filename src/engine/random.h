#pragma once
#include <cstdint>

namespace tarnwick {

// The program-wide uniform integer generator: random(N) gives 0..N-1, random(0) = 0.
class Random {
public:
    explicit Random(uint64_t seed = 0) : state_(seed) {}
    void seed(uint64_t seed) { state_ = seed; }
    void seedFromClock();
    // How often the generator was seeded from the clock.
    int clockSeedings() const { return clockSeedings_; }

    int32_t operator()(int32_t n) {
        if (n <= 0) return 0;
        // Lemire's multiply-shift: uniform enough for a camera, and the same sequence on every
        // machine.
        return static_cast<int32_t>((static_cast<uint64_t>(next32()) * static_cast<uint64_t>(n)) >>
                                    32);
    }

private:
    uint32_t next32() {
        // splitmix64
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
    }
    uint64_t state_;
    int clockSeedings_ = 0;
};

} // namespace tarnwick
