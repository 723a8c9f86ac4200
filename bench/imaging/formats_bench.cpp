// The hack's PNG and WebP decoders against a bare decode of the same file by the library alone,
// and the cost of turning a photo upright by its EXIF orientation against one quarter turn of
// the same picture. 12-megapixel (4000x3000) photo-like pictures, encoded here at start-up.
#include "imaging/bitmap.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/png_decoder.h"
#include "imaging/transforms.h"
#include "imaging/webp_decoder.h"
#include "jpeg_writer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>
#include <webp/encode.h>

namespace {

using tarnwick::WorkBitmap;

constexpr int32_t kWidth = 4000, kHeight = 3000;

// Smooth gradients with noise, as a camera's photo compresses.
std::vector<uint8_t> photoRgb() {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    std::mt19937 gen(1);
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            const double u = double(x) / kWidth, v = double(y) / kHeight;
            const double c[3] = {128 + 100 * std::sin(6 * u + 2 * v),
                                 128 + 100 * std::cos(4 * v - 3 * u),
                                 128 + 90 * std::sin(9 * u * v + 1)};
            for (int k = 0; k < 3; ++k)
                rgb[(size_t(y) * kWidth + x) * 3 + k] =
                    uint8_t(std::clamp(int(c[k]) + int(gen() % 13) - 6, 0, 255));
        }
    return rgb;
}

const std::vector<uint8_t>& photo() {
    static const std::vector<uint8_t> rgb = photoRgb();
    return rgb;
}

std::vector<uint8_t> pngFile() {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth, image.height = kHeight, image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, photo().data(), 0, nullptr);
    std::vector<uint8_t> out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, photo().data(), 0, nullptr))
        std::abort();
    out.resize(size);
    return out;
}

std::vector<uint8_t> webpFile() {
    uint8_t* data = nullptr;
    const size_t size = WebPEncodeRGB(photo().data(), kWidth, kHeight, kWidth * 3, 90, &data);
    std::vector<uint8_t> out(data, data + size);
    WebPFree(data);
    return out;
}

// A quality-90 JPEG with an APP1 segment carrying `orientation`, as a phone writes it.
std::vector<uint8_t> jpegFile(int orientation) {
    const uint8_t exif[] = {'E', 'x',  'i', 'f', 0,
                            0,   'I',  'I', 42,  0,
                            8,   0,    0,   0,   1,
                            0,   0x12, 1,   3,   0,
                            1,   0,    0,   0,   uint8_t(orientation),
                            0,   0,    0,   0,   0,
                            0,   0};
    return tarnwick::bench::writeJpeg(
        kWidth, kHeight, JCS_RGB, 90, false,
        [](int y) { return photo().data() + size_t(y) * kWidth * 3; },
        [&](jpeg_compress_struct& c) { jpeg_write_marker(&c, JPEG_APP0 + 1, exif, sizeof exif); });
}

const std::vector<uint8_t>& png() {
    static const std::vector<uint8_t> file = pngFile();
    return file;
}
const std::vector<uint8_t>& webp() {
    static const std::vector<uint8_t> file = webpFile();
    return file;
}

// libpng alone: the file's rows as BGR into a buffer reused from one decode to the next (the
// decoders' bitmaps reuse their block too, so neither pays for fresh pages).
void BM_PngBareLibpng(benchmark::State& state) {
    const size_t stride = size_t(kWidth) * 3;
    auto pixels = std::make_unique<uint8_t[]>(stride * kHeight);
    for (auto _ : state) {
        struct Source {
            const std::vector<uint8_t>* bytes;
            size_t at;
        } source{&png(), 0};
        png_structp p = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(p);
        png_set_read_fn(p, &source, [](png_structp s, png_bytep out, size_t n) {
            auto* src = static_cast<Source*>(png_get_io_ptr(s));
            std::memcpy(out, src->bytes->data() + src->at, n);
            src->at += n;
        });
        png_read_info(p, info);
        png_set_bgr(p);
        png_read_update_info(p, info);
        if (png_get_rowbytes(p, info) != stride) std::abort();
        for (int32_t y = 0; y < kHeight; ++y) png_read_row(p, pixels.get() + stride * y, nullptr);
        png_destroy_read_struct(&p, &info, nullptr);
        benchmark::DoNotOptimize(pixels.get());
    }
    state.SetLabel(std::to_string(png().size() >> 10) + " KiB");
}
BENCHMARK(BM_PngBareLibpng)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodePng(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(tarnwick::DecodePng(png())->data());
}
BENCHMARK(BM_DecodePng)->Unit(benchmark::kMillisecond)->UseRealTime();

// libwebp alone: the whole file to BGR in one call, into a reused buffer.
void BM_WebpBareLibwebp(benchmark::State& state) {
    const size_t stride = size_t(kWidth) * 3;
    auto pixels = std::make_unique<uint8_t[]>(stride * kHeight);
    for (auto _ : state) {
        if (!WebPDecodeBGRInto(webp().data(), webp().size(), pixels.get(), stride * kHeight,
                               int(stride)))
            std::abort();
        benchmark::DoNotOptimize(pixels.get());
    }
    state.SetLabel(std::to_string(webp().size() >> 10) + " KiB");
}
BENCHMARK(BM_WebpBareLibwebp)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DecodeWebp(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(tarnwick::DecodeWebp(webp())->data());
}
BENCHMARK(BM_DecodeWebp)->Unit(benchmark::kMillisecond)->UseRealTime();

// A JPEG decode with each orientation: 1 (nothing to do), 3 and 4 in place, 6 and 5 a quarter
// turn into a new picture.
void BM_JpegOrientation(benchmark::State& state) {
    const std::vector<uint8_t> file = jpegFile(int(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(tarnwick::DecodeJpeg(file)->data());
}
BENCHMARK(BM_JpegOrientation)
    ->Arg(1)
    ->Arg(3)
    ->Arg(4)
    ->Arg(5)
    ->Arg(6)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The yardstick: one quarter turn of the decoded picture into a new bitmap (not whitened first,
// which the desktop's "Rotated 90" also pays). /0 reuses the block the last one freed; /1 maps
// fresh pages, as a turn after a decode must (the decode holds the kept block).
void BM_QuarterTurn(benchmark::State& state) {
    const auto decoded = tarnwick::DecodeJpeg(jpegFile(1));
    for (auto _ : state) {
        if (state.range(0)) tarnwick::ReleaseSparePixels();
        WorkBitmap turned;
        turned.resizeForOverwrite(kHeight, kWidth);
        tarnwick::RotateBitmap(*decoded, turned, kHeight / 2, kWidth / 2, 90);
        benchmark::DoNotOptimize(turned.data());
    }
}
BENCHMARK(BM_QuarterTurn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
