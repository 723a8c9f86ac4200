#include "imaging/png_decoder.h"
#include "imaging/webp_decoder.h"

#include "fuzz/seed_corpus.h"
#include "imaging/picture_loader.h"
#include "platform/error.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <webp/decode.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

template <typename Decode> std::string errorOf(Decode decode) {
    try {
        decode();
    } catch (const Error& e) {
        return e.what();
    }
    return "(decoded)";
}

// Colour `c` at opacity `a`, composed over black.
Bgr overBlack(Bgr c, unsigned a) {
    auto f = [a](uint8_t v) { return uint8_t((v * a + 127) / 255); };
    return {f(c[0]), f(c[1]), f(c[2])};
}

bool near(Bgr a, Bgr b) {
    for (int i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > 1) return false;
    return true;
}

// Every colour type and depth reads back as the samples written: palettes and small greys
// expanded, 16 bits scaled with rounding, interlaced passes put together.
TEST(PngDecoderTest, ColourTypesAndDepthsReadBackExactly) {
    const WorkBitmap picture = randomBitmap(23, 13, 8);
    PngPicture rgb = pngOf(picture);
    PngPicture interlaced = rgb, wide = rgb;
    interlaced.interlaced = true;
    wide.depth = 16;
    // v * 257 + 100 is closer to v * 257 than to its neighbours: it scales back to v.
    for (auto& v : wide.samples) v = uint16_t(v * 257 + (v < 255 ? 100 : 0));
    for (const auto* p : {&rgb, &interlaced, &wide})
        EXPECT_EQ(differences(*DecodePng(writePng(*p)), picture), "") << p->depth;

    const IndexedPicture indexed = randomIndexed(23, 13, 16, 9);
    PngPicture palette{23, 13, 3, 4, true, {}, indexed.palette, {}};
    palette.samples.assign(indexed.indices.begin(), indexed.indices.end());
    EXPECT_EQ(differences(*DecodePng(writePng(palette)), indexed.expand()), "");

    // One-bit grey: 0 black, 1 white.
    PngPicture grey{9, 3, 0, 1, false, {}, {}, {}};
    for (int i = 0; i < 27; ++i) grey.samples.push_back(uint16_t(i % 3 == 0));
    const auto decoded = DecodePng(writePng(grey));
    for (int i = 0; i < 27; ++i)
        ASSERT_EQ(pixel(*decoded, i % 9, i / 9), (i % 3 == 0 ? Bgr{255, 255, 255} : Bgr{0, 0, 0}))
            << i;
}

// An alpha channel and a palette's tRNS entries are composed over black.
TEST(PngDecoderTest, TransparencyIsComposedOverBlack) {
    const Bgr colour{40, 150, 220};
    const uint16_t alphas[] = {0, 1, 128, 200, 255};
    PngPicture rgba{5, 1, 6, 8, false, {}, {}, {}};
    PngPicture palette{5, 1, 3, 8, false, {0, 1, 2, 3, 4}, {}, {}};
    for (uint16_t a : alphas) {
        rgba.samples.insert(rgba.samples.end(), {colour[2], colour[1], colour[0], a});
        palette.palette.push_back(colour);
        palette.transparency.push_back(uint8_t(a));
    }
    PngPicture wide = rgba;
    wide.depth = 16;
    for (auto& v : wide.samples) v = uint16_t(v * 257);
    for (const auto* p : {&rgba, &palette, &wide}) {
        const auto decoded = DecodePng(writePng(*p));
        for (int x = 0; x < 5; ++x)
            EXPECT_TRUE(near(pixel(*decoded, x, 0), overBlack(colour, alphas[x])))
                << p->colourType << "/" << p->depth << " alpha " << alphas[x] << ": "
                << int(pixel(*decoded, x, 0)[2]);
    }
}

// Lossless files read back exactly and lossy ones as libwebp decodes them; alpha is composed
// over black.
TEST(WebpDecoderTest, LossyAndLosslessWithAndWithoutAlpha) {
    const WorkBitmap picture = photoLikeBitmap(45, 31, 10);
    EXPECT_EQ(differences(*DecodeWebp(writeWebp(picture, true)), picture), "");

    const auto lossy = writeWebp(picture, false, 75);
    WorkBitmap bare;
    bare.resizeForOverwrite(45, 31);
    ASSERT_TRUE(WebPDecodeBGRInto(lossy.data(), lossy.size(), bare.data(),
                                  size_t(bare.stride()) * 31, int(bare.stride())));
    EXPECT_EQ(differences(*DecodeWebp(lossy), bare), "");

    std::vector<uint8_t> alpha(45 * 31);
    for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = uint8_t(i * 37);
    const auto decoded = DecodeWebp(writeWebp(picture, true, 90, alpha));
    for (int32_t y = 0; y < 31; ++y)
        for (int32_t x = 0; x < 45; ++x)
            ASSERT_TRUE(near(pixel(*decoded, x, y),
                             overBlack(pixel(picture, x, y), alpha[size_t(y * 45 + x)])))
                << x << "," << y;
}

// An animation shows its first frame where it is placed, on a black canvas.
TEST(WebpDecoderTest, AnimationShowsItsFirstFrameInPlace) {
    const WorkBitmap first = photoLikeBitmap(10, 8, 11), second = filledBitmap(24, 16, {9, 9, 9});
    const auto file = animatedWebp(
        24, 16, {{writeWebp(first, true), 4, 2, 10, 8}, {writeWebp(second, true), 0, 0, 24, 16}});
    const auto decoded = DecodeWebp(file);
    ASSERT_EQ(decoded->width(), 24);
    ASSERT_EQ(decoded->height(), 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 24; ++x) {
            const bool inside = x >= 4 && x < 14 && y >= 2 && y < 10;
            const Bgr expected = inside ? pixel(first, x - 4, y - 2) : Bgr{0, 0, 0};
            ASSERT_EQ(pixel(*decoded, x, y), expected) << x << "," << y;
        }
}

// A stop requested while a WebP decodes ends it: the file is read whole before decoding starts,
// so this is no matter of reading. A decode that wins the race proves nothing; a few tries with
// earlier stops are allowed.
TEST(WebpDecoderTest, AStopEndsTheDecodeUnderWay) {
    const auto file = writeWebp(photoLikeBitmap(2400, 2000, 12), false, 95);
    bool cancelled = false;
    for (int attempt = 0; attempt < 20 && !cancelled; ++attempt) {
        std::stop_source stop;
        std::atomic<bool> started{false};
        std::thread worker([&] {
            started = true;
            try {
                DecodeWebp(file, kMaxBitmapPixels, stop.get_token());
            } catch (const PictureLoadCancelled&) {
                cancelled = true;
            }
        });
        while (!started) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(20 - attempt));
        stop.request_stop();
        worker.join();
    }
    EXPECT_TRUE(cancelled);
}

// Sizes beyond the limits, and small files claiming huge pictures, are refused before their
// pixels are allocated; damaged files fail with the decoder's error.
TEST(PngWebpLimitsTest, HugeClaimsAndDamageFailCleanly) {
    const WorkBitmap small = photoLikeBitmap(16, 16, 3);
    const auto png = writePng(pngOf(small));
    const auto webp = writeWebp(small, false, 80);
    EXPECT_EQ(errorOf([&] { DecodePng(png, 255); }), "Bitmap size 16 x 16 is too large");
    EXPECT_EQ(errorOf([&] { DecodeWebp(webp, 255); }), "Bitmap size 16 x 16 is too large");
    EXPECT_EQ(errorOf([&] { DecodePng(claimPngSize(png, 16000, 16000)); }),
              "PNG error: file too small for its size");
    EXPECT_EQ(errorOf([&] { DecodeWebp(claimWebpSize(webp, 16000, 16000)); }), "WebP error #7");
    for (const auto& s : hostileSeeds()) {
        if (s.name.rfind("png", 0) != 0 && s.name.rfind("webp", 0) != 0) continue;
        const int64_t grown = peakMemoryGrowth([&] {
            EXPECT_NE(errorOf([&] { s.name[0] == 'p' ? DecodePng(s.bytes) : DecodeWebp(s.bytes); }),
                      "(decoded)");
        });
        EXPECT_LT(grown, 64 << 20) << s.name;
    }
    const std::vector<uint8_t> cutPng(png.begin(), png.end() - 30);
    EXPECT_EQ(errorOf([&] { DecodePng(cutPng); }).rfind("PNG error: ", 0), 0u);
    const std::vector<uint8_t> cutWebp(webp.begin(), webp.end() - 30);
    EXPECT_EQ(errorOf([&] { DecodeWebp(cutWebp); }).rfind("WebP error #", 0), 0u);
}

} // namespace
} // namespace tarnwick
