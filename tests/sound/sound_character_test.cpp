// What the two clips sound like: where their energy lies in time and in frequency.
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarnwick::soundtest {
namespace {

size_t at(double seconds) {
    return static_cast<size_t>(std::lround(seconds * kSampleRate));
}

int deviation(uint8_t sample) {
    return std::abs(static_cast<int>(sample) - 128);
}

// Largest distance from the midpoint in [from, to) seconds.
int peakIn(std::span<const uint8_t> s, double from, double to) {
    int peak = 0;
    for (size_t i = at(from); i < std::min(at(to), s.size()); ++i)
        peak = std::max(peak, deviation(s[i]));
    return peak;
}

// First and last sample index in [from, to) seconds at least `level` from the midpoint, in seconds.
std::pair<double, double> activeSpan(std::span<const uint8_t> s, double from, double to,
                                     int level) {
    double first = -1, last = -1;
    for (size_t i = at(from); i < std::min(at(to), s.size()); ++i) {
        if (deviation(s[i]) < level) continue;
        const double t = static_cast<double>(i) / kSampleRate;
        if (first < 0) first = t;
        last = t;
    }
    return {first, last};
}

// Share of the signal's energy (midpoint removed) between `low` and `high` Hz, by a plain DFT.
double bandShare(std::span<const uint8_t> s, double low, double high) {
    const size_t n = s.size();
    std::vector<double> cosines(n), sines(n);
    for (size_t i = 0; i < n; ++i) {
        const double angle = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
        cosines[i] = std::cos(angle);
        sines[i] = std::sin(angle);
    }
    double band = 0, total = 0;
    for (size_t k = 1; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t i = 0, index = 0; i < n; ++i, index = (index + k) % n) {
            const double v = static_cast<double>(s[i]) - 128.0;
            re += v * cosines[index];
            im -= v * sines[index];
        }
        const double power = re * re + im * im;
        const double hz = static_cast<double>(k) * kSampleRate / static_cast<double>(n);
        total += power;
        if (hz >= low && hz <= high) band += power;
    }
    return total > 0 ? band / total : 0;
}

// Crossings of the midpoint per second in [from, to) seconds.
double crossingRate(std::span<const uint8_t> s, double from, double to) {
    int crossings = 0;
    int previous = 0;
    for (size_t i = at(from); i < at(to); ++i) {
        const int sign = s[i] > 128 ? 1 : (s[i] < 128 ? -1 : 0);
        if (sign != 0 && previous != 0 && sign != previous) ++crossings;
        if (sign != 0) previous = sign;
    }
    return crossings / (to - from);
}

TEST(ClickSound, IsALoudThenAWeakerBurstWithSilenceBetween) {
    const auto s = statedSamples(1);
    ASSERT_EQ(s.size(), kClip1Samples);

    const auto [firstStart, firstEnd] = activeSpan(s, 0.0, 0.055, 3);
    EXPECT_NEAR(firstStart, 0.005, 0.003);
    EXPECT_NEAR(firstEnd, 0.030, 0.004);
    EXPECT_LE(peakIn(s, 0.034, 0.077), 1) << "silence between the clicks";
    EXPECT_EQ(peakIn(s, 0.0, 0.004), 0) << "silence before the first click";

    const auto [secondStart, secondEnd] = activeSpan(s, 0.055, 1.0, 3);
    EXPECT_NEAR(secondStart, 0.080, 0.003);
    EXPECT_GT(secondEnd, 0.098) << "the second click lasts to the end";

    const int loud = peakIn(s, 0.0, 0.055);
    const int weak = peakIn(s, 0.055, 1.0);
    EXPECT_NEAR(loud, 51, 3);
    EXPECT_GE(weak, 15);
    EXPECT_LT(weak, loud * 3 / 4);
}

TEST(ClickSound, HasItsEnergyAround1100Hz) {
    const auto s = statedSamples(1);
    ASSERT_EQ(s.size(), kClip1Samples);
    EXPECT_GT(bandShare(s, 900, 1300), 0.7);
    EXPECT_NEAR(crossingRate(s, 0.006, 0.028), 2 * 1100, 250);
}

TEST(HumSound, SwellsFadesAndEndsInSilence) {
    const auto s = statedSamples(2);
    ASSERT_EQ(s.size(), kClip2Samples);

    const int peak = peakIn(s, 0.0, 2.0);
    EXPECT_NEAR(peak, 70, 3);
    EXPECT_LT(peakIn(s, 0.0, 0.01), peak / 3) << "starts quietly";
    EXPECT_GE(peakIn(s, 0.05, 0.12), peak * 9 / 10) << "full within the first 0.1 s";

    // Fading: every 100 ms window no louder than the one before (the beating may add a step).
    int previous = peakIn(s, 0.1, 0.2);
    for (double t = 0.2; t < 1.6; t += 0.1) {
        const int window = peakIn(s, t, t + 0.1);
        EXPECT_LE(window, previous + 2) << "at " << t << " s";
        previous = window;
    }
    EXPECT_GE(peakIn(s, 0.9, 1.0), peak / 5) << "still sounding halfway through the fade";
    EXPECT_LE(peakIn(s, 1.5, 1.6), peak / 8) << "nearly gone 1.5 s after the swell";
    EXPECT_LE(peakIn(s, 1.8, 2.0), 0) << "silent from 1.8 s to the end";
}

TEST(HumSound, IsALowToneBetween150And300Hz) {
    const auto s = statedSamples(2);
    ASSERT_EQ(s.size(), kClip2Samples);
    EXPECT_GT(bandShare(s.first(at(1.0)), 150, 300), 0.8);
    const double rate = crossingRate(s, 0.1, 0.8);
    EXPECT_GT(rate, 2 * 150);
    EXPECT_LT(rate, 2 * 300);
}

} // namespace
} // namespace tarnwick::soundtest
