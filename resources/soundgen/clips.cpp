#include "clips.h"

#include "wave_file.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarnwick::soundgen {
namespace {

constexpr double kRate = kSampleRate;
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// Fixed-seed xorshift32: the same noise on every build, scaled to -1..1.
class Noise {
public:
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return static_cast<double>(state_) / 2147483647.5 - 1.0;
    }

private:
    uint32_t state_ = 0x2545F491u;
};

// Rising half cosine over `length` seconds: no click at a burst's edges.
double ramp(double t, double length) {
    if (t <= 0.0) return 0.0;
    if (t >= length) return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * t / length);
}

// Scales `signal` so that its largest excursion becomes exactly `peak` steps from the midpoint.
void normalise(std::span<double> signal, double peak) {
    double largest = 0.0;
    for (double v : signal) largest = std::max(largest, std::fabs(v));
    if (largest == 0.0) return;
    for (double& v : signal) v *= peak / largest;
}

std::vector<uint8_t> quantise(std::span<const double> signal) {
    std::vector<uint8_t> samples(signal.size());
    std::transform(signal.begin(), signal.end(), samples.begin(), [](double v) {
        return static_cast<uint8_t>(std::clamp(128L + std::lround(v), 0L, 255L));
    });
    return samples;
}

// One click of the double click: a struck 1.1 kHz resonance with a little noise in it.
void addClick(std::span<double> out, double start, double end, double decay, double peak,
              Noise& noise) {
    const auto first = static_cast<size_t>(std::lround(start * kRate));
    const auto last = std::min(out.size(), static_cast<size_t>(std::lround(end * kRate)));
    const double length = end - start;
    std::span<double> burst = out.subspan(first, last - first);
    for (size_t i = 0; i < burst.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double envelope = ramp(t, 0.0008) * std::exp(-t / decay) * ramp(length - t, 0.0015);
        const double tone = std::sin(kTwoPi * 1100.0 * t) +
                            0.35 * std::sin(kTwoPi * 1180.0 * t + 0.7) +
                            0.2 * std::sin(kTwoPi * 1020.0 * t + 1.9);
        burst[i] = envelope * (tone + 0.12 * noise.next());
    }
    normalise(burst, peak);
}

} // namespace

std::vector<uint8_t> synthesiseClick() {
    std::vector<double> signal(kClip1Samples, 0.0);
    Noise noise;
    addClick(signal, 0.005, 0.030, 0.010, 51.0, noise);
    addClick(signal, 0.080, static_cast<double>(kClip1Samples) / kRate, 0.012, 29.0, noise);
    return quantise(signal);
}

std::vector<uint8_t> synthesiseHum() {
    constexpr double kSwell = 0.09;   // envelope at its top
    constexpr double kSilence = 1.75; // envelope reaches zero
    std::vector<double> signal(kClip2Samples, 0.0);
    Noise noise;
    double phase = 0.0;
    for (size_t i = 0; i < signal.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        if (t >= kSilence) break;
        const double envelope =
            t < kSwell ? ramp(t, kSwell) : std::pow((kSilence - t) / (kSilence - kSwell), 1.3);
        // A wavering 180 Hz fundamental beating against 222 Hz (42 beats a second) is what
        // makes the tone rough; 270 Hz fills it out. All inside 150-300 Hz.
        phase += kTwoPi * (180.0 + 3.0 * std::sin(kTwoPi * 5.5 * t)) / kRate;
        const double tone = std::sin(phase) + 0.7 * std::sin(kTwoPi * 222.0 * t + 0.4) +
                            0.35 * std::sin(kTwoPi * 270.0 * t + 2.1);
        signal[i] = envelope * (tone + 0.08 * noise.next());
    }
    normalise(signal, 70.0);
    return quantise(signal);
}

} // namespace tarnwick::soundgen
