// The zoom tables of the four camera paths: 360 entries, one per degree of camera phase.
#include "engine/scrsavermain.h"

#include <cmath>

namespace tarnwick {

namespace {

constexpr long double kPi = 3.141592653589L; // this exact constant, not full-precision pi

long double SineWave(int i) {
    return std::sin(i * kPi / 180);
}

} // namespace

// A four-piece ramp whose absolute value is a triangle wave with peaks at 90 and 270.
long double ZigzagWave(int i) {
    if (i < 90) return i / 90.0L;
    if (i < 180) return 1 - std::abs(90 - i) / 90.0L;
    if (i < 270) return (i - 180) / 90.0L;
    return std::abs(270 - i) / 90.0L - 1;
}

void TForm1::InitSineZooms() {
    for (int i = 0; i < 360; ++i) Zooms[i] = static_cast<double>(SineWave(i) * MaxZoom);
}

void TForm1::InitZigzagZooms() {
    for (int i = 0; i < 360; ++i) Zooms[i] = static_cast<double>(ZigzagWave(i) * MaxZoom);
}

void TForm1::InitAverageZooms() {
    for (int i = 0; i < 360; ++i) Zooms[i] = static_cast<double>(ZigzagWave(i));
    for (int i = 0; i < 360; ++i) {
        Zooms[i] =
            static_cast<double>((6 * SineWave(i) + 4 * static_cast<long double>(Zooms[i])) / 10);
        Zooms[i] = Zooms[i] * MaxZoom;
    }
}

void TForm1::InitDrunkenZooms() {
    for (int i = 0; i < 360; ++i) Zooms[i] = static_cast<double>(ZigzagWave(i));
    for (int i = 0; i < 360; ++i) {
        const int32_t a = module_.random(61) - 30; // drawn first
        const int32_t b = module_.random(20) + 110;
        const long double wobble = static_cast<long double>(a) / b;
        Zooms[i] = static_cast<double>(
            (8 * SineWave(i) + 2 * static_cast<long double>(Zooms[i]) + wobble) / 10);
        Zooms[i] = Zooms[i] * MaxZoom;
    }
}

void TForm1::BuildZooms(int32_t pathIndex) {
    switch (pathIndex) {
    case 1:
        InitZigzagZooms();
        break;
    case 2:
        InitAverageZooms();
        break;
    case 3:
        InitDrunkenZooms();
        break;
    default:
        InitSineZooms();
        break;
    }
}

} // namespace tarnwick
