#include "imaging/bmp_decoder.h"

#include "platform/error.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <functional>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

std::string errorOf(const std::vector<uint8_t>& file, int64_t maxPixels = kMaxBitmapPixels) {
    try {
        DecodeBmp(file, maxPixels);
    } catch (const Error& e) {
        return e.what();
    }
    return "(decoded)";
}

void set32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
}
void set16(std::vector<uint8_t>& f, size_t at, uint16_t v) {
    f[at] = uint8_t(v);
    f[at + 1] = uint8_t(v >> 8);
}

const std::array<uint32_t, 3> k555 = {0x7C00, 0x3E0, 0x1F};
const std::array<uint32_t, 3> k888 = {0xFF0000, 0xFF00, 0xFF};

TEST(BmpDecoderTest, DirectColourVariants) {
    const struct {
        const char* name;
        BmpFormat format;
        std::array<uint32_t, 3> expectMasks; // empty: exact
    } cases[] = {
        {"24 bottom-up", {24, BmpHeader::Info, BmpCompression::Rgb, false, {}}, {}},
        {"24 top-down", {24, BmpHeader::Info, BmpCompression::Rgb, true, {}}, {}},
        {"24 core header", {24, BmpHeader::Core, BmpCompression::Rgb, false, {}}, {}},
        {"24 V4", {24, BmpHeader::V4, BmpCompression::Rgb, false, {}}, {}},
        {"24 V5 top-down", {24, BmpHeader::V5, BmpCompression::Rgb, true, {}}, {}},
        {"16 default 555", {16, BmpHeader::Info, BmpCompression::Rgb, false, {}}, k555},
        {"16 565 fields",
         {16, BmpHeader::Info, BmpCompression::BitFields, false, {0xF800, 0x7E0, 0x1F}},
         {0xF800, 0x7E0, 0x1F}},
        {"16 444 fields V5",
         {16, BmpHeader::V5, BmpCompression::BitFields, true, {0xF00, 0xF0, 0xF}},
         {0xF00, 0xF0, 0xF}},
        {"32 default", {32, BmpHeader::Info, BmpCompression::Rgb, false, {}}, {}},
        {"32 fields 8-8-8 swapped",
         {32, BmpHeader::Info, BmpCompression::BitFields, false, {0xFF, 0xFF00, 0xFF0000}},
         {}},
        {"32 fields 10-10-10 V4",
         {32, BmpHeader::V4, BmpCompression::BitFields, false, {0x3FF00000, 0xFFC00, 0x3FF}},
         {0x3FF00000, 0xFFC00, 0x3FF}},
    };
    uint32_t seed = 1;
    for (const auto& c : cases)
        for (const auto& [w, h] : {std::pair{1, 1}, {3, 2}, {13, 7}, {32, 5}}) {
            const WorkBitmap picture = randomBitmap(w, h, seed++);
            const auto bitmap = DecodeBmp(writeBmp(picture, c.format));
            const WorkBitmap expected =
                c.expectMasks[0] ? quantised(picture, c.expectMasks) : randomBitmap(w, h, seed - 1);
            EXPECT_EQ(differences(*bitmap, expected), "") << c.name << " " << w << "x" << h;
        }
}

TEST(BmpDecoderTest, ChannelsOfFewBitsScaleToTheFullRange) {
    // 5-bit values 0, 16, 31 and a 6-bit 63 in one 565 row.
    WorkBitmap picture;
    SetBitmapSize(picture, 3, 1);
    setPixel(picture, 0, 0, {0, 0, 0});
    setPixel(picture, 1, 0, {132, 130, 132}); // 5-bit 16, 6-bit 32
    setPixel(picture, 2, 0, {255, 255, 255});
    const auto bitmap = DecodeBmp(writeBmp(
        picture, {16, BmpHeader::Info, BmpCompression::BitFields, false, {0xF800, 0x7E0, 0x1F}}));
    EXPECT_EQ(pixel(*bitmap, 0, 0), (Bgr{0, 0, 0}));
    EXPECT_EQ(pixel(*bitmap, 1, 0), (Bgr{132, 130, 132}));
    EXPECT_EQ(pixel(*bitmap, 2, 0), (Bgr{255, 255, 255}));
}

TEST(BmpDecoderTest, PaletteVariantsAndRunLengthEncoding) {
    const struct {
        const char* name;
        int colours;
        BmpFormat format;
    } cases[] = {
        {"1 bit", 2, {1, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"1 bit core", 2, {1, BmpHeader::Core, BmpCompression::Rgb, false, {}}},
        {"4 bit", 16, {4, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"4 bit short palette", 5, {4, BmpHeader::V4, BmpCompression::Rgb, true, {}}},
        {"8 bit", 256, {8, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"8 bit core", 100, {8, BmpHeader::Core, BmpCompression::Rgb, false, {}}},
        {"8 bit V5 top-down", 37, {8, BmpHeader::V5, BmpCompression::Rgb, true, {}}},
        {"RLE8", 60, {8, BmpHeader::Info, BmpCompression::Rle8, false, {}}},
        {"RLE4", 16, {4, BmpHeader::Info, BmpCompression::Rle4, false, {}}},
    };
    uint32_t seed = 50;
    for (const auto& c : cases)
        for (const auto& [w, h] : {std::pair{1, 1}, {3, 3}, {7, 2}, {9, 5}, {33, 4}, {300, 3}})
            for (bool runs : {false, true}) {
                const IndexedPicture picture = randomIndexed(w, h, c.colours, seed++, runs);
                const auto bitmap = DecodeBmp(writeBmp(picture, c.format));
                EXPECT_EQ(differences(*bitmap, picture.expand()), "")
                    << c.name << " " << w << "x" << h << (runs ? " runs" : "");
            }
}

// A 4 x 3 RLE picture with a hand-written pixel stream and palette 0 = black, 1 = red, 2 = green.
std::vector<uint8_t> rleFile(bool four, std::vector<uint8_t> stream) {
    IndexedPicture blank{4, 3, std::vector<uint8_t>(12, 0), {{0, 0, 0}, {0, 0, 255}, {0, 255, 0}}};
    std::vector<uint8_t> file = writeBmp(blank, {four ? 4 : 8,
                                                 BmpHeader::Info,
                                                 four ? BmpCompression::Rle4 : BmpCompression::Rle8,
                                                 false,
                                                 {}});
    const uint32_t offset = file[10] | file[11] << 8;
    file.resize(offset);
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

TEST(BmpDecoderTest, RunLengthCodes) {
    const Bgr k = {0, 0, 0}, r = {0, 0, 255}, g = {0, 255, 0};
    const struct {
        const char* name;
        bool four;
        std::vector<uint8_t> stream;
        std::array<Bgr, 12> want; // top row first
    } cases[] = {
        // Bottom row: 2 red, 2 green; middle: delta right 1 up 1 -> top row from x 1: 3 red.
        {"runs, end of line, delta",
         false,
         {2, 1, 2, 2, 0, 0, 0, 2, 1, 1, 3, 1, 0, 1},
         {k, r, r, r, k, k, k, k, r, r, g, g}},
        {"literal of three with padding",
         false,
         {0, 3, 1, 2, 1, 0, 0, 0, 1, 2, 0, 1},
         {k, k, k, k, g, k, k, k, r, g, r, k}},
        {"runs past the width are cut",
         false,
         {9, 2, 0, 0, 0, 1},
         {k, k, k, k, k, k, k, k, g, g, g, g}},
        {"RLE4 alternating nibbles",
         true,
         {4, 0x12, 0, 0, 3, 0x22, 0, 1},
         {k, k, k, k, g, g, g, k, r, g, r, g}},
        {"RLE4 odd literal", true, {0, 3, 0x21, 0x20, 0, 1}, {k, k, k, k, k, k, k, k, g, r, g, k}},
        {"data after the last row is ignored",
         false,
         {4, 1, 0, 0, 4, 1, 0, 0, 4, 2, 0, 0, 0xFF, 0xFF},
         {g, g, g, g, r, r, r, r, r, r, r, r}},
    };
    for (const auto& c : cases) {
        const auto bitmap = DecodeBmp(rleFile(c.four, c.stream));
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(pixel(*bitmap, i % 4, i / 4), c.want[size_t(i)]) << c.name << " pixel " << i;
    }
}

TEST(BmpDecoderTest, IndicesBeyondThePaletteAreBlack) {
    IndexedPicture picture{3, 1, {0, 1, 7}, {{10, 20, 30}, {40, 50, 60}}};
    const auto bitmap =
        DecodeBmp(writeBmp(picture, {8, BmpHeader::Info, BmpCompression::Rgb, false, {}}));
    EXPECT_EQ(pixel(*bitmap, 1, 0), (Bgr{40, 50, 60}));
    EXPECT_EQ(pixel(*bitmap, 2, 0), (Bgr{0, 0, 0}));
}

TEST(BmpDecoderTest, EmptyAndSinglePixelPictures) {
    WorkBitmap none;
    EXPECT_TRUE(
        DecodeBmp(writeBmp(none, {24, BmpHeader::Info, BmpCompression::Rgb, false, {}}))->empty());
    const WorkBitmap one = filledBitmap(1, 1, {1, 2, 3});
    const auto bitmap =
        DecodeBmp(writeBmp(one, {24, BmpHeader::Info, BmpCompression::Rgb, false, {}}));
    EXPECT_EQ(bitmap->width(), 1);
    EXPECT_EQ(pixel(*bitmap, 0, 0), (Bgr{1, 2, 3}));
}

TEST(BmpDecoderTest, MalformedFilesAreNotValid) {
    const std::vector<uint8_t> good =
        writeBmp(randomBitmap(5, 4, 3), {24, BmpHeader::Info, BmpCompression::Rgb, false, {}});
    const std::vector<uint8_t> pal =
        writeBmp(randomIndexed(5, 4, 16, 2), {4, BmpHeader::Info, BmpCompression::Rgb, false, {}});
    const std::vector<uint8_t> rle = writeBmp(
        randomIndexed(5, 4, 16, 2, true), {8, BmpHeader::Info, BmpCompression::Rle8, false, {}});
    const std::vector<uint8_t> fields =
        writeBmp(randomBitmap(5, 4, 3),
                 {16, BmpHeader::Info, BmpCompression::BitFields, false, {0xF800, 0x7E0, 0x1F}});
    using Patch = std::function<void(std::vector<uint8_t>&)>;
    const struct {
        const char* name;
        const std::vector<uint8_t>* base;
        Patch patch;
    } cases[] = {
        {"wrong magic", &good, [](auto& f) { f[1] = 'A'; }},
        {"unknown header size", &good, [](auto& f) { set32(f, 14, 20); }},
        {"two planes", &good, [](auto& f) { set16(f, 26, 2); }},
        {"7 bits per pixel", &good, [](auto& f) { set16(f, 28, 7); }},
        {"JPEG compression", &good, [](auto& f) { set32(f, 30, 4); }},
        {"PNG compression", &good, [](auto& f) { set32(f, 30, 5); }},
        {"RLE8 on 24 bits", &good, [](auto& f) { set32(f, 30, 1); }},
        {"RLE4 on 8 bits", &rle, [](auto& f) { set32(f, 30, 2); }},
        {"RLE top-down", &rle, [](auto& f) { set32(f, 22, uint32_t(-4)); }},
        {"bit fields on 24 bits", &good, [](auto& f) { set32(f, 30, 3); }},
        {"mask with a gap", &fields, [](auto& f) { set32(f, 54, 0xF00F); }},
        {"16-bit mask beyond 16 bits", &fields, [](auto& f) { set32(f, 62, 0x1F0000); }},
        {"pixels offset beyond the file", &good,
         [](auto& f) { set32(f, 10, uint32_t(f.size() + 1)); }},
        {"pixels offset inside the header", &good, [](auto& f) { set32(f, 10, 20); }},
        {"negative width", &good, [](auto& f) { set32(f, 18, uint32_t(-5)); }},
        {"height of -2^31", &good, [](auto& f) { set32(f, 22, 0x80000000u); }},
        {"palette beyond the file", &pal,
         [](auto& f) {
             set32(f, 10, uint32_t(f.size()));
             f.resize(60);
         }},
        {"RLE without an end", &rle, [](auto& f) { f.resize(f.size() - 6); }},
        {"empty file", &good, [](auto& f) { f.clear(); }},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> file = *c.base;
        c.patch(file);
        EXPECT_EQ(errorOf(file), "Bitmap image is not valid") << c.name;
    }
}

TEST(BmpDecoderTest, EveryTruncationIsNotValid) {
    const std::vector<std::vector<uint8_t>> files = {
        writeBmp(randomBitmap(6, 5, 1), {24, BmpHeader::Info, BmpCompression::Rgb, false, {}}),
        writeBmp(randomBitmap(6, 5, 1),
                 {32, BmpHeader::V5, BmpCompression::BitFields, true, {0xFF, 0xFF00, 0xFF0000}}),
        writeBmp(randomIndexed(9, 4, 2, 1), {1, BmpHeader::Core, BmpCompression::Rgb, false, {}}),
        writeBmp(randomIndexed(9, 4, 200, 1), {8, BmpHeader::Info, BmpCompression::Rgb, false, {}}),
    };
    for (const auto& file : files)
        for (size_t n = 0; n < file.size(); ++n) {
            const std::vector<uint8_t> cut(file.begin(), file.begin() + long(n));
            ASSERT_EQ(errorOf(cut), "Bitmap image is not valid")
                << "length " << n << " of " << file.size();
        }
    // An RLE file cut before its last row's end of line.
    const auto rle = writeBmp(randomIndexed(9, 4, 16, 1, true),
                              {4, BmpHeader::Info, BmpCompression::Rle4, false, {}});
    for (size_t n = 0; n + 4 < rle.size(); ++n)
        ASSERT_EQ(errorOf({rle.begin(), rle.begin() + long(n)}), "Bitmap image is not valid") << n;
}

TEST(BmpDecoderTest, OversizedPicturesAreRefusedBeforeAllocation) {
    std::vector<uint8_t> file =
        writeBmp(randomBitmap(2, 2, 1), {24, BmpHeader::Info, BmpCompression::Rgb, false, {}});
    set32(file, 18, 70000);
    EXPECT_EQ(errorOf(file), "Bitmap size 70000 x 2 is too large");
    set32(file, 18, 60000);
    set32(file, 22, 60000);
    EXPECT_EQ(errorOf(file), "Bitmap size 60000 x 60000 is too large");
    // A claimed size that fits the limits but not the file is a truncated file.
    set32(file, 22, 1000);
    EXPECT_EQ(errorOf(file), "Bitmap image is not valid");
    // RLE may legitimately be far smaller than its picture: only the limit stops it.
    std::vector<uint8_t> rle = rleFile(false, {0, 1});
    set32(rle, 18, 5000);
    set32(rle, 22, 5000);
    EXPECT_EQ(errorOf(rle, 1 << 20), "Bitmap size 5000 x 5000 is too large");
    EXPECT_EQ(DecodeBmp(rle)->width(), 5000);
}

// A run-length picture costs memory only for the rows its codes draw: a stream that breaks off
// after one row of a 65535x4096 picture fails, and one that ends there with its end code is
// black above, without either touching the other rows' 800 MB.
TEST(BmpDecoderTest, RunLengthPicturesCostOnlyTheRowsTheirCodesDraw) {
    std::vector<uint8_t> cut = rleFile(false, {255, 1, 255, 2, 0, 0, 10, 1});
    set32(cut, 18, 65535);
    set32(cut, 22, 4096);
    const int64_t grown =
        peakMemoryGrowth([&] { EXPECT_EQ(errorOf(cut), "Bitmap image is not valid"); });
    if (grown < 0) GTEST_SKIP() << "the peak resident size cannot be reset here";
    // A quarter of the picture: the sanitizers' shadow of the untouched block counts here.
    EXPECT_LT(grown, 200 << 20);

    // Then a jump 5 right and 100 rows up, a run of 3 and the end code.
    std::vector<uint8_t> ended =
        rleFile(false, {255, 1, 255, 2, 0, 0, 10, 1, 0, 2, 5, 100, 3, 2, 0, 1});
    set32(ended, 18, 65535);
    set32(ended, 22, 4096);
    const int64_t grownEnded = peakMemoryGrowth([&] {
        const auto bitmap = DecodeBmp(ended);
        EXPECT_EQ(pixel(*bitmap, 254, 4095), (Bgr{0, 0, 255}));
        EXPECT_EQ(pixel(*bitmap, 255, 4095), (Bgr{0, 255, 0}));
        EXPECT_EQ(pixel(*bitmap, 9, 4094), (Bgr{0, 0, 255}));
        EXPECT_EQ(pixel(*bitmap, 10, 4094), (Bgr{0, 0, 0}));
        EXPECT_EQ(pixel(*bitmap, 600, 4095), (Bgr{0, 0, 0}));
        EXPECT_EQ(pixel(*bitmap, 15, 3994), (Bgr{0, 255, 0}));
        EXPECT_EQ(pixel(*bitmap, 17, 3994), (Bgr{0, 255, 0}));
        EXPECT_EQ(pixel(*bitmap, 14, 3994), (Bgr{0, 0, 0}));
        EXPECT_EQ(pixel(*bitmap, 15, 3995), (Bgr{0, 0, 0}));
        EXPECT_EQ(pixel(*bitmap, 65534, 0), (Bgr{0, 0, 0}));
        EXPECT_EQ(pixel(*bitmap, 30000, 2000), (Bgr{0, 0, 0}));
    });
    EXPECT_LT(grownEnded, 200 << 20);
}

// Files from an independent encoder, read back by the same program's own decoder.
TEST(BmpDecoderTest, AgreesWithImageMagick) {
    const std::string magick = imageMagick();
    if (magick.empty()) GTEST_SKIP() << "ImageMagick (convert-im6.q16) is not installed";
    TempDir dir;
    writeFile(dir.path("in.ppm"), writePpm(photoLikeBitmap(37, 23, 4)));
    // ImageMagick widens 5- and 6-bit channels by repeating their top bits, we by rounding
    // v * 255 / 31: the two differ by at most one.
    const struct {
        const char* name;
        const char* options;
        int tolerance = 0;
    } cases[] = {
        {"bmp3-24.bmp", "-type truecolor BMP3:"},
        {"bmp-v5.bmp", "-type truecolor BMP:"},
        {"bmp2-core.bmp", "-type truecolor BMP2:"},
        {"pal8.bmp", "-colors 200 -type palette -compress none BMP3:"},
        {"pal4.bmp", "-colors 16 -type palette BMP3:"},
        {"mono.bmp", "-monochrome BMP3:"},
        {"rle8.bmp", "-colors 60 -type palette -compress RLE BMP3:"},
        {"alpha32.bmp",
         "-alpha set -channel A -evaluate set 50% +channel -define bmp:format=bmp4 BMP:"},
        {"rgb565.bmp", "-define bmp:subtype=RGB565 BMP:", 1},
    };
    for (const auto& c : cases) {
        const std::string out = dir.path(c.name), ppm = out + ".ppm";
        ASSERT_TRUE(run(magick + " " + dir.path("in.ppm") + " " + c.options + out));
        ASSERT_TRUE(run(magick + " " + out + " -alpha off -depth 8 ppm:" + ppm)) << c.name;
        const auto expected = readPpm(readFile(ppm));
        ASSERT_TRUE(expected) << c.name;
        const auto bitmap = DecodeBmp(readFile(out));
        ASSERT_EQ(bitmap->width(), expected->width()) << c.name;
        ASSERT_EQ(bitmap->height(), expected->height()) << c.name;
        if (c.tolerance == 0) {
            EXPECT_EQ(differences(*bitmap, *expected), "") << c.name;
            continue;
        }
        int worst = 0;
        for (int32_t y = 0; y < bitmap->height(); ++y)
            for (int32_t i = 0; i < 3 * bitmap->width(); ++i)
                worst =
                    std::max(worst, std::abs(bitmap->scanLine(y)[i] - expected->scanLine(y)[i]));
        EXPECT_LE(worst, c.tolerance) << c.name;
    }
}

} // namespace
} // namespace tarnwick
