// Speed of the imaging code on desktop-sized pictures: the rotations, the warp (one and two
// threads), the blur, the frame's stretch copy and JPEG decoding against a bare libjpeg decode.
// Pictures are made here, or JPEG files are given in TARNWICK_BENCH_JPEGS (paths separated by
// ':'), as bench/imaging/compare.sh does.
#include "imaging/band_worker.h"
#include "imaging/bitmap.h"
#include "imaging/bmp_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/picture_loader.h"
#include "imaging/stretch.h"
#include "imaging/transforms.h"
#include "jpeg_writer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <immintrin.h>
#include <jpeglib.h>
#include <unistd.h>

namespace {

using tarnwick::WorkBitmap;

WorkBitmap photoLike(int32_t w, int32_t h) {
    WorkBitmap b;
    tarnwick::SetBitmapSize(b, w, h);
    std::mt19937 gen(1);
    for (int32_t y = 0; y < h; ++y) {
        auto row = b.scanLine(y);
        for (int32_t x = 0; x < w; ++x) {
            const double u = double(x) / w, v = double(y) / h;
            const double c[3] = {128 + 100 * std::sin(6 * u + 2 * v),
                                 128 + 100 * std::cos(4 * v - 3 * u),
                                 128 + 90 * std::sin(9 * u * v + 1)};
            for (int k = 0; k < 3; ++k)
                row[3 * x + k] = uint8_t(std::clamp(int(c[k]) + int(gen() % 13) - 6, 0, 255));
        }
    }
    return b;
}

const WorkBitmap& picture(int which) {
    static const WorkBitmap hd = photoLike(1920, 1080);
    static const WorkBitmap uhd = photoLike(3840, 2160);
    if (which == 2) {
        static const WorkBitmap eightK = photoLike(7680, 4320);
        return eightK;
    }
    return which == 0 ? hd : uhd;
}

const char* sizeName(int which) {
    return which == 0 ? "1080p" : which == 1 ? "4K" : "8K";
}

void BM_Rotate(benchmark::State& state) {
    const WorkBitmap& src = picture(int(state.range(0)));
    const int angle = int(state.range(1));
    WorkBitmap dst;
    if (angle == 180)
        tarnwick::SetBitmapSize(dst, src.width(), src.height());
    else
        tarnwick::SetBitmapSize(dst, src.height(), src.width());
    for (auto _ : state) {
        tarnwick::RotateBitmap(src, dst, dst.width() / 2, dst.height() / 2, angle);
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetLabel(std::string(sizeName(int(state.range(0)))) + " " + std::to_string(angle));
}
BENCHMARK(BM_Rotate)
    ->ArgsProduct({{0, 1}, {90, 180, 270}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A quarter turn as the saver makes it at start-up: into a new bitmap, sized (so white) first,
// which then replaces the old one. BM_Rotate, which reuses its destination, is the anchor.
void BM_RotateIntoNewBitmap(benchmark::State& state) {
    const WorkBitmap& src = picture(int(state.range(0)));
    auto kept = tarnwick::NewWorkBitmap();
    for (auto _ : state) {
        auto tmp = tarnwick::NewWorkBitmap();
        tarnwick::SetBitmapSize(*tmp, src.height(), src.width());
        tarnwick::RotateBitmap(src, *tmp, tmp->width() / 2, tmp->height() / 2, 90);
        kept = std::move(tmp);
        benchmark::DoNotOptimize(kept->data());
    }
    state.SetLabel(std::string(sizeName(int(state.range(0)))) + " 90");
}
BENCHMARK(BM_RotateIntoNewBitmap)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Warp(benchmark::State& state) {
    const WorkBitmap& src = picture(int(state.range(0)));
    WorkBitmap dst;
    tarnwick::SetBitmapSize(dst, src.width(), src.height());
    for (auto _ : state) {
        tarnwick::WarpBitmap(src, dst, 1485, int(state.range(1)));
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetLabel(std::string(sizeName(int(state.range(0)))) + " threads " +
                   std::to_string(state.range(1)));
}
BENCHMARK(BM_Warp)->ArgsProduct({{0, 1}, {1, 2}})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Blur(benchmark::State& state) {
    WorkBitmap b;
    for (auto _ : state) {
        state.PauseTiming();
        tarnwick::CopyGraphicToBitmap(b, picture(int(state.range(0))));
        state.ResumeTiming();
        tarnwick::BlurBitmap(b, 11);
        benchmark::DoNotOptimize(b.data());
    }
    state.SetLabel(sizeName(int(state.range(0))));
}
BENCHMARK(BM_Blur)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A frame as a window's backing store has it: page-aligned (a shared memory segment).
struct FreeFrame {
    void operator()(uint32_t* p) const { std::free(p); }
};
std::unique_ptr<uint32_t[], FreeFrame> pageAlignedFrame(int32_t w, int32_t h) {
    const size_t bytes = (size_t(w) * h * 4 + 4095) / 4096 * 4096;
    auto frame = std::unique_ptr<uint32_t[], FreeFrame>(
        static_cast<uint32_t*>(std::aligned_alloc(4096, bytes)));
    std::memset(frame.get(), 0, bytes);
    return frame;
}

// A full frame of the picture's size from a source rectangle of 40% of its width and height.
void BM_Stretch(benchmark::State& state) {
    const WorkBitmap& src = picture(int(state.range(0)));
    const int32_t w = src.width(), h = src.height();
    const auto frame = pageAlignedFrame(w, h);
    const tarnwick::FrameView view{frame.get(), w, h, w};
    const tarnwick::Rect rect{w * 3 / 10, h * 3 / 10, w * 7 / 10, h * 7 / 10};
    // Second argument 0: one core whatever the size (the anchor); 1: the product's rule.
    tarnwick::Stretcher stretcher(state.range(1) ? tarnwick::Stretcher::kSplitFrom : INT64_MAX);
    for (auto _ : state) {
        stretcher.copy(src, rect, view);
        benchmark::DoNotOptimize(frame.get());
    }
    state.SetLabel(std::string(sizeName(int(state.range(0)))) +
                   (stretcher.splitting() ? " two bands" : " one core"));
}
BENCHMARK(BM_Stretch)
    ->ArgsProduct({{0, 1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The anchor for the large frames: only writing a frame of the picture's size with streaming
// stores, in bands of 64 rows on this thread and one helper as the stretch does; the floor the
// memory sets for any stretch into a frame that size. Rows of opaque black with the widest
// streaming stores the stretch uses here:
__attribute__((target("avx2"))) void streamBlack32(uint32_t* row, int32_t w) {
    const __m256i black = _mm256_set1_epi32(int(0xFF000000u));
    for (int32_t x = 0; x < w / 8; ++x)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(row) + x, black);
}
void streamBlack16(uint32_t* row, int32_t w) {
    const __m128i black = _mm_set1_epi32(int(0xFF000000u));
    for (int32_t x = 0; x < w / 4; ++x)
        _mm_stream_si128(reinterpret_cast<__m128i*>(row) + x, black);
}

void BM_FrameWriteFloor(benchmark::State& state) {
    const WorkBitmap& src = picture(int(state.range(0)));
    const int32_t w = src.width(), h = src.height();
    const auto frame = pageAlignedFrame(w, h);
    const auto stream = __builtin_cpu_supports("avx2") ? streamBlack32 : streamBlack16;
    tarnwick::BandWorker helper;
    for (auto _ : state) {
        std::atomic<int32_t> next{0};
        auto bands = [&] {
            for (int32_t y0; (y0 = next.fetch_add(64, std::memory_order_relaxed)) < h;)
                for (int32_t y = y0; y < std::min(y0 + 64, h); ++y)
                    stream(frame.get() + size_t(y) * w, w);
            _mm_sfence();
        };
        helper.runAlongside(bands, bands);
        benchmark::DoNotOptimize(frame.get());
    }
    state.SetLabel(std::string(sizeName(int(state.range(0)))) + " two threads");
}
BENCHMARK(BM_FrameWriteFloor)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

std::vector<uint8_t> compress(const WorkBitmap& b, int quality) {
    return tarnwick::bench::writeJpeg(b.width(), b.height(), JCS_EXT_BGR, quality, false,
                                      [&](int y) { return b.data() + b.stride() * y; });
}

struct JpegInput {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<JpegInput> jpegInputs() {
    std::vector<JpegInput> inputs;
    if (const char* list = std::getenv("TARNWICK_BENCH_JPEGS")) {
        std::string all = list;
        size_t start = 0;
        while (start <= all.size()) {
            const size_t end = std::min(all.find(':', start), all.size());
            const std::string path = all.substr(start, end - start);
            if (!path.empty()) {
                std::ifstream in(path, std::ios::binary);
                inputs.push_back(
                    {path.substr(path.find_last_of('/') + 1),
                     {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()}});
            }
            start = end + 1;
        }
        return inputs;
    }
    inputs.push_back({"generated 1080p q90", compress(picture(0), 90)});
    inputs.push_back({"generated 4K q90", compress(picture(1), 90)});
    return inputs;
}

const std::vector<JpegInput>& jpegs() {
    static const std::vector<JpegInput> inputs = jpegInputs();
    return inputs;
}

// The least a program can do with libjpeg-turbo: decode to BGR rows of a fresh buffer.
void bareDecode(const std::vector<uint8_t>& file) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const size_t stride = size_t(d.output_width) * 3;
    auto pixels = std::make_unique_for_overwrite<uint8_t[]>(stride * d.output_height);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = pixels.get() + stride * d.output_scanline;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(pixels.get());
}

void BM_JpegBareLibjpeg(benchmark::State& state) {
    const JpegInput& input = jpegs()[size_t(state.range(0))];
    for (auto _ : state) bareDecode(input.bytes);
    state.SetLabel(input.name);
}

void BM_JpegDecodeJpeg(benchmark::State& state) {
    const JpegInput& input = jpegs()[size_t(state.range(0))];
    for (auto _ : state) {
        auto bitmap = tarnwick::DecodeJpeg(input.bytes);
        benchmark::DoNotOptimize(bitmap->data());
    }
    state.SetLabel(input.name);
}

// Registered at start-up, one pair per input.
const bool registered = [] {
    for (size_t i = 0; i < jpegs().size(); ++i) {
        benchmark::RegisterBenchmark("BM_JpegBareLibjpeg", BM_JpegBareLibjpeg)
            ->Arg(int64_t(i))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark("BM_JpegDecodeJpeg", BM_JpegDecodeJpeg)
            ->Arg(int64_t(i))
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    return true;
}();

// Loading picture files as the saver does, against reading the same file into a reused buffer
// and a bare libjpeg-turbo decode into a reused buffer: 12-megapixel (4000x3000) pictures, written
// once into a temporary folder (so read from the page cache, like the anchor).
class PictureFiles {
public:
    PictureFiles() {
        std::string pattern = "/tmp/tarnwick-bench-XXXXXX";
        if (!mkdtemp(pattern.data())) std::abort();
        dir_ = pattern;
        const WorkBitmap picture = photoLike(4000, 3000);
        write(bmp24(), bmpBytes(picture, 24));
        write(bmp32(), bmpBytes(picture, 32));
        jpegBytes_ = compress(picture, 90);
        write(jpeg(), jpegBytes_);
    }
    ~PictureFiles() {
        for (const std::string& f : {bmp24(), bmp32(), jpeg()}) std::remove(f.c_str());
        ::rmdir(dir_.c_str());
    }
    std::string bmp24() const { return dir_ + "/p24.bmp"; }
    std::string bmp32() const { return dir_ + "/p32.bmp"; }
    std::string jpeg() const { return dir_ + "/p.jpg"; }
    const std::vector<uint8_t>& jpegBytes() const { return jpegBytes_; }

private:
    static std::vector<uint8_t> bmpBytes(const WorkBitmap& b, int bits) {
        const uint32_t rowBytes = uint32_t((b.width() * bits / 8 + 3) & ~3);
        const uint32_t size = 54 + rowBytes * uint32_t(b.height());
        std::vector<uint8_t> f(size, 0);
        auto put = [&](size_t at, uint32_t v, int n) {
            for (int i = 0; i < n; ++i) f[at + size_t(i)] = uint8_t(v >> (8 * i));
        };
        f[0] = 'B';
        f[1] = 'M';
        put(2, size, 4);
        put(10, 54, 4);
        put(14, 40, 4);
        put(18, uint32_t(b.width()), 4);
        put(22, uint32_t(b.height()), 4); // bottom-up, as most files are
        put(26, 1, 2);
        put(28, uint32_t(bits), 2);
        for (int32_t y = 0; y < b.height(); ++y) {
            uint8_t* row = f.data() + 54 + size_t(rowBytes) * size_t(b.height() - 1 - y);
            const uint8_t* in = b.data() + b.stride() * y;
            for (int32_t x = 0; x < b.width(); ++x) std::memcpy(row + x * bits / 8, in + 3 * x, 3);
        }
        return f;
    }
    static void write(const std::string& path, const std::vector<uint8_t>& bytes) {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    std::string dir_;
    std::vector<uint8_t> jpegBytes_;
};

const PictureFiles& pictureFiles() {
    static const PictureFiles files;
    return files;
}

// The anchor: open, read the whole file into a buffer kept between iterations, close.
void BM_FilePlainRead(benchmark::State& state) {
    const std::string path = state.range(0) == 0 ? pictureFiles().bmp24() : pictureFiles().jpeg();
    std::vector<uint8_t> buffer;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        buffer.resize(size_t(::lseek(fd, 0, SEEK_END)));
        size_t got = 0;
        while (got < buffer.size()) {
            const ssize_t n = ::pread(fd, buffer.data() + got, buffer.size() - got, off_t(got));
            if (n <= 0) break;
            got += size_t(n);
        }
        ::close(fd);
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetLabel(state.range(0) == 0 ? "24-bit BMP 12 MP" : "JPEG 12 MP q90");
}
BENCHMARK(BM_FilePlainRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadPicture(benchmark::State& state) {
    const std::string path = state.range(0) == 0   ? pictureFiles().bmp24()
                             : state.range(0) == 1 ? pictureFiles().bmp32()
                                                   : pictureFiles().jpeg();
    for (auto _ : state) {
        auto bitmap = tarnwick::LoadPicture(path);
        benchmark::DoNotOptimize(bitmap->data());
    }
    state.SetLabel(state.range(0) == 0   ? "24-bit BMP 12 MP"
                   : state.range(0) == 1 ? "32-bit BMP 12 MP"
                                         : "JPEG 12 MP q90");
}
BENCHMARK(BM_LoadPicture)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// How the loader read a BMP before: the whole file into a new zero-filled buffer, then decoded
// from memory.
void BM_BmpWholeFileThenDecode(benchmark::State& state) {
    const std::string path = pictureFiles().bmp24();
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        std::vector<uint8_t> bytes(size_t(::lseek(fd, 0, SEEK_END)));
        size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, off_t(got));
            if (n <= 0) break;
            got += size_t(n);
        }
        ::close(fd);
        auto bitmap = tarnwick::DecodeBmp(bytes);
        benchmark::DoNotOptimize(bitmap->data());
    }
    state.SetLabel("24-bit BMP 12 MP");
}
BENCHMARK(BM_BmpWholeFileThenDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

// The least a program can do with libjpeg-turbo, into one buffer reused between iterations.
void BM_JpegBareReusedBuffer(benchmark::State& state) {
    const std::vector<uint8_t>& file = pictureFiles().jpegBytes();
    std::vector<uint8_t> pixels;
    for (auto _ : state) {
        jpeg_decompress_struct d{};
        jpeg_error_mgr err{};
        d.err = jpeg_std_error(&err);
        jpeg_create_decompress(&d);
        jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
        jpeg_read_header(&d, TRUE);
        d.out_color_space = JCS_EXT_BGR;
        jpeg_start_decompress(&d);
        const size_t stride = (size_t(d.output_width) * 3 + 3) & ~size_t{3};
        pixels.resize(stride * d.output_height);
        while (d.output_scanline < d.output_height) {
            JSAMPROW rows[4];
            for (int i = 0; i < 4; ++i)
                rows[i] = pixels.data() + stride * std::min<size_t>(d.output_scanline + size_t(i),
                                                                    d.output_height - 1);
            jpeg_read_scanlines(&d, rows,
                                std::min<JDIMENSION>(4, d.output_height - d.output_scanline));
        }
        jpeg_finish_decompress(&d);
        jpeg_destroy_decompress(&d);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetLabel("JPEG 12 MP q90");
}
BENCHMARK(BM_JpegBareReusedBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
