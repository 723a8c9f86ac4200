// The fuzzers' seed corpus and random damage to it through both decoders, in every build: a
// damaged file must decode or fail with the decoder's error, never crash or throw anything else
// (the sanitizer build also catches every out-of-bounds access).
#include "fuzz/seed_corpus.h"
#include "imaging/bmp_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/png_decoder.h"
#include "imaging/webp_decoder.h"
#include "platform/error.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <functional>

namespace tarnwick {
namespace {

using Decoder = std::function<void(std::span<const uint8_t>)>;

// Bounded like the fuzzers: hostile sizes are refused instead of allocated.
constexpr int64_t kPixels = int64_t{1} << 22;

void survive(const std::vector<testing::Seed>& seeds, const Decoder& decode, int mutationsPerSeed,
             uint32_t seed) {
    std::mt19937 gen(seed);
    for (const auto& s : seeds) {
        EXPECT_NO_THROW(decode(s.bytes)) << s.name << " should be valid";
        int failures = 0;
        for (int i = 0; i < mutationsPerSeed; ++i) {
            const std::vector<uint8_t> damaged = testing::mutate(s.bytes, gen);
            try {
                decode(damaged);
            } catch (const Error&) {
                ++failures;
            } catch (const std::exception& e) {
                ADD_FAILURE() << s.name << " mutation " << i << ": " << typeid(e).name() << " "
                              << e.what();
            }
        }
        // Damage must at least sometimes be noticed, or the decoder ignores its input.
        EXPECT_GT(failures, 0) << s.name;
    }
}

TEST(DecoderRobustnessTest, BmpSurvivesDamagedFiles) {
    survive(
        testing::bmpSeeds(), [](auto bytes) { DecodeBmp(bytes, kPixels); }, 2000, 1);
}

TEST(DecoderRobustnessTest, JpegSurvivesDamagedFiles) {
    survive(
        testing::jpegSeeds(), [](auto bytes) { DecodeJpeg(bytes, kPixels, 100); }, 1000, 2);
}

TEST(DecoderRobustnessTest, PngAndWebpSurviveDamagedFiles) {
    survive(
        testing::pngSeeds(), [](auto bytes) { DecodePng(bytes, kPixels); }, 500, 3);
    survive(
        testing::webpSeeds(), [](auto bytes) { DecodeWebp(bytes, kPixels); }, 500, 4);
}

// Small files claiming huge pictures, through the decoders with the product's own limits: each
// fails with the decoder's error before it costs the picture's memory.
TEST(DecoderRobustnessTest, HostileFilesFailWithoutTheirPicturesMemory) {
    bool measured = true;
    for (const auto& s : testing::hostileSeeds()) {
        const int64_t grown = testing::peakMemoryGrowth([&] {
            try {
                switch (s.bytes[0]) {
                case 'B':
                    DecodeBmp(s.bytes);
                    break;
                case 0x89:
                    DecodePng(s.bytes);
                    break;
                case 'R':
                    DecodeWebp(s.bytes);
                    break;
                default:
                    DecodeJpeg(s.bytes);
                }
                ADD_FAILURE() << s.name << " decoded";
            } catch (const Error& e) {
                const std::string what = e.what();
                EXPECT_TRUE(what == "Bitmap image is not valid" ||
                            what.rfind("JPEG error #", 0) == 0 ||
                            what.rfind("PNG error: ", 0) == 0 || what.rfind("WebP error #", 0) == 0)
                    << s.name << ": " << e.what();
            }
        });
        // A quarter of the smallest claimed picture, leaving room for the sanitizers' shadow.
        if (grown < 0) measured = false;
        EXPECT_LT(grown, 180 << 20) << s.name;
    }
    if (!measured) GTEST_SKIP() << "the peak resident size cannot be reset here";
}

} // namespace
} // namespace tarnwick
