#include "imaging/builtin_picture.h"

#include "imaging/bitmap_font.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace tarnwick {

namespace {

struct Colour {
    float r, g, b;
};

Colour mix(Colour a, Colour b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// A well-mixed 32-bit value of a pixel position: stars, grain and ripples.
uint32_t hash(uint32_t x, uint32_t y, uint32_t salt) {
    uint32_t h = x * 0x9E3779B1u ^ (y + salt) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

uint8_t clampByte(float v) {
    return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f) + 0.5f);
}

// Writes `c` with a faint grain taken from the pixel's hash `noise`, so that even the closest
// view has some life in it.
void put(uint8_t* p, Colour c, uint32_t noise) {
    const float grain = static_cast<float>(noise >> 29) - 3.5f;
    p[0] = clampByte(c.b + grain);
    p[1] = clampByte(c.g + grain);
    p[2] = clampByte(c.r + grain);
}

// Dusk from the top of the sky down to the horizon.
Colour skyAt(float t) {
    constexpr std::array<std::pair<float, Colour>, 5> stops = {{{0.0f, {14, 18, 52}},
                                                                {0.35f, {58, 44, 112}},
                                                                {0.65f, {150, 78, 140}},
                                                                {0.85f, {236, 124, 104}},
                                                                {1.0f, {255, 196, 128}}}};
    for (size_t i = 1; i < stops.size(); ++i)
        if (t <= stops[i].first)
            return mix(stops[i - 1].second, stops[i].second,
                       (t - stops[i - 1].first) / (stops[i].first - stops[i - 1].first));
    return stops.back().second;
}

// The mountain ranges, far to near: where each crest lies and how it is coloured.
struct Range {
    float base;      // the crest's mean height above the horizon, in picture heights
    float height;    // how far the peaks rise and the valleys sink, in picture heights
    float frequency; // peaks per picture height, roughly
    float phase;
    Colour colour;
};
constexpr std::array<Range, 4> kRanges = {{{0.20f, 0.09f, 1.1f, 0.3f, {160, 112, 170}},
                                           {0.13f, 0.08f, 1.9f, 2.1f, {112, 74, 138}},
                                           {0.07f, 0.06f, 3.1f, 4.4f, {66, 44, 96}},
                                           {0.025f, 0.04f, 5.3f, 1.7f, {34, 24, 56}}}};

// A crest's height above its base at u (picture heights from the left edge), in -1..1: ridged
// waves of falling size, so that peaks are sharp and valleys round.
float crest(const Range& range, float u) {
    float sum = 0, weight = 1, total = 0, f = range.frequency * 6.2831853f;
    for (int octave = 0; octave < 5; ++octave) {
        const float wave = 1.0f - 2.0f * std::abs(std::sin(u * f + range.phase * (octave + 1)));
        sum += wave * weight;
        total += weight;
        weight *= 0.5f;
        f *= 2.13f;
    }
    return sum / total;
}

void drawLandscape(WorkBitmap& bitmap) {
    const int32_t W = bitmap.width(), H = bitmap.height();
    const float h = static_cast<float>(H);
    const int32_t horizon = std::clamp(static_cast<int32_t>(h * 0.64f), 1, H);
    const float sunX = W * 0.66f, sunY = h * 0.52f, sunR = h * 0.075f;
    const Colour haze = skyAt(0.92f);

    // Per column: each range's crest row, and how it faces the sun (the crest's fall over a short
    // distance, so that the light changes over whole slopes rather than from column to column).
    std::vector<std::array<float, kRanges.size()>> crests(static_cast<size_t>(W));
    std::vector<std::array<float, kRanges.size()>> slopes(static_cast<size_t>(W));
    for (int32_t x = 0; x < W; ++x) {
        const float u = x / h;
        for (size_t i = 0; i < kRanges.size(); ++i) {
            const Range& r = kRanges[i];
            const float c = crest(r, u);
            const float fall = crest(r, u + 0.004f) - crest(r, u - 0.004f);
            crests[static_cast<size_t>(x)][i] = horizon - h * (r.base + r.height * c);
            slopes[static_cast<size_t>(x)][i] = std::clamp(fall * 1.2f, -1.0f, 1.0f);
        }
    }

    const float glowReach = sunR * 8.0f;
    for (int32_t y = 0; y < horizon; ++y) {
        const float t = static_cast<float>(y) / horizon;
        const Colour sky = skyAt(t);
        const float dy = y - sunY;
        uint8_t* row = bitmap.data() + bitmap.stride() * y;
        for (int32_t x = 0; x < W; ++x) {
            const uint32_t noise = hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 7);
            const auto& crest = crests[static_cast<size_t>(x)];
            int nearest = -1;
            for (int i = static_cast<int>(kRanges.size()) - 1; i >= 0 && nearest < 0; --i)
                if (static_cast<float>(y) >= crest[static_cast<size_t>(i)]) nearest = i;
            Colour c = sky;
            if (nearest < 0) {
                const float dx = x - sunX;
                if (std::abs(dx) < glowReach && std::abs(dy) < glowReach) {
                    const float d = std::sqrt(dx * dx + dy * dy);
                    if (d <= sunR) {
                        c = mix(Colour{255, 238, 200}, Colour{255, 212, 150}, d / sunR);
                    } else {
                        const float glow = std::max(0.0f, 1.0f - (d - sunR) / (glowReach - sunR));
                        c = mix(sky, Colour{255, 214, 160}, glow * glow * 0.55f);
                    }
                }
                // Stars where the sky is dark enough.
                if (t < 0.55f && noise % 900u == 0) {
                    const float bright = (1.0f - t / 0.55f) * (0.5f + (noise >> 24) / 510.0f);
                    c = mix(c, Colour{255, 250, 235}, bright);
                }
            } else {
                const auto i = static_cast<size_t>(nearest);
                const Range& r = kRanges[i];
                const float depth = (y - crest[i]) / (h * 0.16f);
                const float light = slopes[static_cast<size_t>(x)][i];
                c = mix(r.colour, light > 0 ? Colour{250, 190, 150} : Colour{10, 8, 30},
                        std::abs(light) * 0.22f);
                c = mix(c, haze, std::min(1.0f, depth) * (0.55f - 0.1f * nearest));
            }
            put(row + 3 * x, c, noise);
        }
    }

    // Water: the sky and the mountains mirrored, darker and bluer, broken by ripples that grow
    // towards the viewer. The ripple is sin(a x + b y) + sin(c x - d y) / 2, its x and y parts
    // tabled apart.
    const float a = 1.0f / (h * 0.011f), c2 = 1.0f / (h * 0.0041f);
    std::vector<std::array<float, 4>> columns(static_cast<size_t>(W));
    for (int32_t x = 0; x < W; ++x)
        columns[static_cast<size_t>(x)] = {std::sin(a * x), std::cos(a * x), std::sin(c2 * x),
                                           std::cos(c2 * x)};
    for (int32_t y = horizon; y < H; ++y) {
        const float near = static_cast<float>(y - horizon) / std::max(1, H - horizon);
        const int32_t mirrored = std::clamp(2 * horizon - y - 1, 0, horizon - 1);
        const uint8_t* src = bitmap.data() + bitmap.stride() * mirrored;
        uint8_t* row = bitmap.data() + bitmap.stride() * y;
        const float amplitude = 2.0f + near * h * 0.02f;
        const float sy1 = std::sin(y * 0.9f), cy1 = std::cos(y * 0.9f);
        const float sy2 = std::sin(-y * 1.7f) * 0.5f, cy2 = std::cos(-y * 1.7f) * 0.5f;
        for (int32_t x = 0; x < W; ++x) {
            const auto& col = columns[static_cast<size_t>(x)];
            const float wave = col[0] * cy1 + col[1] * sy1 + col[2] * cy2 + col[3] * sy2;
            const int32_t sx = std::clamp(x + static_cast<int32_t>(wave * amplitude), 0, W - 1);
            const uint8_t* p = src + 3 * sx;
            Colour c{p[2] * 0.62f, p[1] * 0.66f, p[0] * 0.78f + 12.0f};
            // Glints: short bright dashes on the water, most of them under the sun.
            const uint32_t s = hash(static_cast<uint32_t>(x / 6), static_cast<uint32_t>(y), 11);
            const float underSun = std::max(0.0f, 1.0f - std::abs(x - sunX) / (sunR * 4.0f));
            if (s % 1000u < static_cast<uint32_t>(8 + 160 * underSun * underSun))
                c = mix(c, Colour{255, 226, 180}, 0.45f);
            put(row + 3 * x, c, hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), 3));
        }
    }
}

// The hint, in rows of staggered copies.
void drawHint(WorkBitmap& bitmap, std::string_view hint) {
    if (hint.empty()) return;
    const int32_t W = bitmap.width(), H = bitmap.height();
    // About the same size on any screen: one font pixel per 1080 rows.
    const int32_t scale = std::max(1, (H + 540) / 1080);
    const int32_t width = textWidth(hint, scale), height = textHeight(scale);
    const int32_t stepX = width + std::max(width / 2, W / 4);
    const int32_t stepY = std::max(height * 3, H / 4);
    for (int32_t row = 0, y = stepY / 2; y + height <= H; ++row, y += stepY) {
        const int32_t shift = row % 2 == 0 ? 0 : stepX / 2;
        for (int32_t x = W / 10 - shift; x < W; x += stepX)
            drawText(bitmap, x, y, hint, scale, {235, 245, 255}, {40, 20, 24});
    }
}

} // namespace

std::unique_ptr<WorkBitmap> builtinPicture(int32_t width, int32_t height, std::string_view hint) {
    auto bitmap = NewWorkBitmap();
    bitmap->resizeForOverwrite(std::max(1, width), std::max(1, height));
    drawLandscape(*bitmap);
    drawHint(*bitmap, hint);
    return bitmap;
}

bool allBlack(const WorkBitmap& bitmap) {
    for (int32_t y = 0; y < bitmap.height(); ++y) {
        const auto row = bitmap.scanLine(y);
        if (std::any_of(row.begin(), row.end(), [](uint8_t v) { return v != 0; })) return false;
    }
    return true;
}

} // namespace tarnwick
