#include "imaging/jpeg_decoder.h"

#include "platform/error.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <jerror.h>
#include <jpeglib.h>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

std::string errorOf(const std::vector<uint8_t>& file, int64_t maxPixels = kMaxBitmapPixels,
                    int maxScans = kDefaultMaxJpegScans,
                    int64_t maxScanBlocks = kDefaultMaxJpegScanBlocks) {
    try {
        DecodeJpeg(file, maxPixels, maxScans, {}, maxScanBlocks);
    } catch (const Error& e) {
        return e.what();
    }
    return "(decoded)";
}

int worstDifference(const WorkBitmap& a, const WorkBitmap& b) {
    int worst = 0;
    for (int32_t y = 0; y < a.height(); ++y)
        for (int32_t i = 0; i < 3 * a.width(); ++i)
            worst = std::max(worst, std::abs(a.scanLine(y)[i] - b.scanLine(y)[i]));
    return worst;
}

// Our decode equals a plain libjpeg decode of the same file, and stays near the picture that
// was compressed (so the channels are in their places).
TEST(JpegDecoderTest, ColourVariantsMatchAPlainLibjpegDecode) {
    const struct {
        const char* name;
        JpegFormat format;
        int nearOriginal;
    } cases[] = {
        {"4:2:0 quality 90", {JpegFormat::YCbCr420, 90, false, 0}, 40},
        {"4:4:4 quality 100", {JpegFormat::YCbCr444, 100, false, 0}, 12},
        {"progressive", {JpegFormat::YCbCr420, 85, true, 0}, 45},
        {"restart markers", {JpegFormat::YCbCr444, 95, false, 1}, 20},
    };
    for (const auto& c : cases)
        for (const auto& [w, h] : {std::pair{1, 1}, {17, 9}, {64, 48}, {333, 101}}) {
            const WorkBitmap picture = photoLikeBitmap(w, h, uint32_t(w * h));
            const auto file = writeJpeg(picture, c.format);
            const auto bitmap = DecodeJpeg(file);
            const auto reference = referenceJpegDecode(file);
            ASSERT_TRUE(reference);
            EXPECT_EQ(differences(*bitmap, *reference), "") << c.name << " " << w << "x" << h;
            EXPECT_LE(worstDifference(*bitmap, picture), c.nearOriginal)
                << c.name << " " << w << "x" << h;
        }
}

TEST(JpegDecoderTest, GreyscaleBecomesThreeEqualChannels) {
    const WorkBitmap picture = photoLikeBitmap(40, 30, 8);
    const auto file = writeJpeg(picture, {JpegFormat::Grey, 100, false, 0});
    const auto bitmap = DecodeJpeg(file);
    const auto reference = referenceJpegDecode(file);
    ASSERT_TRUE(reference);
    EXPECT_EQ(differences(*bitmap, *reference), "");
    for (int32_t y = 0; y < 30; ++y)
        for (int32_t x = 0; x < 40; ++x) {
            const Bgr p = pixel(*bitmap, x, y), q = pixel(picture, x, y);
            EXPECT_EQ(p[0], p[1]);
            EXPECT_EQ(p[1], p[2]);
            EXPECT_NEAR(p[0], (q[0] + q[1] + q[2]) / 3, 3);
        }
}

TEST(JpegDecoderTest, CmykIsConvertedWithAndWithoutAdobesInversion) {
    // Blocks of flat colour, so that compression keeps them nearly exact.
    const Bgr colours[] = {{0, 0, 255},    {0, 255, 0},     {255, 0, 0},
                           {40, 120, 200}, {255, 255, 255}, {0, 0, 0}};
    WorkBitmap picture;
    SetBitmapSize(picture, 16 * 6, 16);
    for (int32_t y = 0; y < 16; ++y)
        for (int32_t x = 0; x < 96; ++x) setPixel(picture, x, y, colours[x / 16]);
    for (auto colour : {JpegFormat::CmykAdobe, JpegFormat::CmykPlain}) {
        const auto bitmap = DecodeJpeg(writeJpeg(picture, {colour, 100, false, 0}));
        for (int i = 0; i < 6; ++i) {
            const Bgr p = pixel(*bitmap, 16 * i + 8, 8);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(p[size_t(c)], colours[i][size_t(c)], 4)
                    << (colour == JpegFormat::CmykAdobe ? "Adobe" : "plain") << " colour " << i
                    << " channel " << c;
        }
    }
}

TEST(JpegDecoderTest, FailuresCarryLibjpegsMessageCode) {
    const auto good = writeJpeg(photoLikeBitmap(16, 16, 1), {});
    const std::vector<uint8_t> bmpBytes = {'B', 'M', 0, 0, 0, 0};
    std::vector<uint8_t> headerOnly(good.begin(), good.begin() + 2);
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        int code;
    } cases[] = {
        {"empty", {}, JERR_INPUT_EMPTY},
        {"not a JPEG", bmpBytes, JERR_NO_SOI},
        {"nothing after the start marker", headerOnly, JERR_NO_IMAGE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(errorOf(c.file), format("JPEG error #%d", c.code)) << c.name;
}

TEST(JpegDecoderTest, TruncatedAndDamagedFilesFailCleanlyOrDecode) {
    const auto file = writeJpeg(photoLikeBitmap(48, 40, 3), {JpegFormat::YCbCr420, 90, true, 0});
    int failed = 0, decoded = 0;
    for (size_t n = 0; n < file.size(); n += 7) {
        const std::string e = errorOf({file.begin(), file.begin() + long(n)});
        if (e == "(decoded)")
            ++decoded;
        else {
            ++failed;
            EXPECT_EQ(e.rfind("JPEG error #", 0), 0u) << e;
        }
    }
    EXPECT_GT(failed, 0);
    // Once the headers are in, a cut scan is a warning: the picture keeps its size.
    EXPECT_GT(decoded, 0);
    const auto cut = DecodeJpeg({file.begin(), file.begin() + long(file.size() * 2 / 3)});
    EXPECT_EQ(cut->width(), 48);
    EXPECT_EQ(cut->height(), 40);
}

TEST(JpegDecoderTest, LimitsRefuseHugeAndManyScanFiles) {
    auto file = writeJpeg(photoLikeBitmap(16, 16, 1), {});
    // The frame header (SOF0: FF C0, length, precision, height, width) claims 60000 x 50000.
    for (size_t i = 0; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && file[i + 1] == 0xC0) {
            file[i + 5] = 50000 >> 8;
            file[i + 6] = 50000 & 0xFF;
            file[i + 7] = 60000 >> 8;
            file[i + 8] = 60000 & 0xFF;
            break;
        }
    EXPECT_EQ(errorOf(file), "Bitmap size 60000 x 50000 is too large");
    const auto small = writeJpeg(photoLikeBitmap(100, 100, 1), {});
    EXPECT_EQ(errorOf(small, 9999), "Bitmap size 100 x 100 is too large");
    const auto progressive =
        writeJpeg(photoLikeBitmap(32, 32, 1), {JpegFormat::YCbCr420, 90, true, 0});
    EXPECT_EQ(errorOf(progressive, kMaxBitmapPixels, 3),
              format("JPEG error #%d", kJpegTooManyScans));
    EXPECT_EQ(errorOf(progressive), "(decoded)");
    // What the scans cover counts as well: this file's ten scans pass over its 24 blocks (4:2:0)
    // more than five times, and fewer than ten; a baseline file's one scan passes once.
    const int64_t blocks = 16 + 4 + 4;
    EXPECT_EQ(errorOf(progressive, kMaxBitmapPixels, 500, 5 * blocks),
              format("JPEG error #%d", kJpegTooManyScans));
    EXPECT_EQ(errorOf(progressive, kMaxBitmapPixels, 500, 10 * blocks), "(decoded)");
    const auto baseline = writeJpeg(photoLikeBitmap(32, 32, 1), {});
    EXPECT_EQ(errorOf(baseline, kMaxBitmapPixels, 500, blocks), "(decoded)");
}

// A small file claiming a huge picture fails instead of becoming a huge grey picture, without
// allocating the picture; a genuinely large picture whose file is small, and a plausible file cut
// short (TruncatedAndDamagedFilesFailCleanlyOrDecode), still decode.
TEST(JpegDecoderTest, SmallFilesClaimingHugePicturesAreRefused) {
    const std::string eof = format("JPEG error #%d", JWRN_JPEG_EOF);
    const std::string marker = format("JPEG error #%d", JWRN_HIT_MARKER);
    const auto baseline = claimJpegSize(writeJpeg(photoLikeBitmap(16, 16, 1), {}), 16000, 16000);
    int64_t grown = peakMemoryGrowth([&] { EXPECT_EQ(errorOf(baseline), eof); });
    if (grown >= 0) {
        EXPECT_LT(grown, 200 << 20); // a quarter of the picture, sanitizers' shadow included
    }
    EXPECT_THROW(PlanJpeg(baseline), Error);
    // Progressive data is read into coefficient buffers before the picture is allocated; the
    // early end is noticed while reading them.
    const auto progressive = claimJpegSize(
        writeJpeg(photoLikeBitmap(32, 32, 1), {JpegFormat::YCbCr420, 90, true, 0}), 12000, 9000);
    grown = peakMemoryGrowth([&] {
        const std::string e = errorOf(progressive);
        EXPECT_TRUE(e == eof || e == marker) << e;
    });
    if (grown >= 0) {
        EXPECT_LT(grown, 200 << 20); // a quarter of the picture, sanitizers' shadow included
    }
    EXPECT_EQ(PlanJpeg(progressive).width, 12000);

    // A flat 3000x2000 picture holds less than a byte per block (4:2:0: 1.5 blocks per 64
    // pixels), and is whole.
    const auto flat = writeJpeg(filledBitmap(3000, 2000, {90, 140, 200}), {});
    ASSERT_LT(flat.size(), 3000u * 2000 / 64 * 3 / 2);
    const auto bitmap = DecodeJpeg(flat);
    ASSERT_EQ(bitmap->width(), 3000);
    const Bgr far = pixel(*bitmap, 2999, 1999);
    EXPECT_NEAR(far[0], 90, 2);
    EXPECT_NEAR(far[2], 200, 2);
}

// Where displayed pixel (x, y) of a stored w by h photo comes from, for each EXIF orientation.
std::pair<int32_t, int32_t> storedPixel(int orientation, int32_t x, int32_t y, int32_t w,
                                        int32_t h) {
    switch (orientation) {
    case 2:
        return {w - 1 - x, y};
    case 3:
        return {w - 1 - x, h - 1 - y};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {y, h - 1 - x};
    case 7:
        return {w - 1 - y, h - 1 - x};
    case 8:
        return {w - 1 - y, x};
    default:
        return {x, y};
    }
}

// A photo is shown upright whichever of the eight orientations its camera wrote, in either byte
// order; sides odd (a middle row) and unequal so that a swapped or shifted axis shows.
TEST(JpegDecoderTest, ExifOrientationTurnsAndMirrorsThePhotoUpright) {
    const auto plain = writeJpeg(photoLikeBitmap(37, 23, 5), {JpegFormat::YCbCr444, 95, false, 0});
    const auto stored = DecodeJpeg(plain);
    const int32_t w = stored->width(), h = stored->height();
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const auto shown =
            DecodeJpeg(withApp1(plain, exifSegment(uint16_t(orientation), orientation % 2 == 0)));
        const bool swapped = orientation >= 5;
        ASSERT_EQ(shown->width(), swapped ? h : w);
        ASSERT_EQ(shown->height(), swapped ? w : h);
        for (int32_t y = 0; y < shown->height(); ++y)
            for (int32_t x = 0; x < shown->width(); ++x) {
                const auto [sx, sy] = storedPixel(orientation, x, y, w, h);
                ASSERT_EQ(pixel(*shown, x, y), pixel(*stored, sx, sy)) << x << "," << y;
            }
    }
}

// A damaged, foreign or out-of-range orientation shows the photo as stored.
TEST(JpegDecoderTest, UnusableExifOrientationShowsThePhotoAsStored) {
    const auto plain = writeJpeg(photoLikeBitmap(37, 23, 5), {});
    const auto stored = DecodeJpeg(plain);
    auto cut = exifSegment(6);
    cut.resize(30); // the directory's entries run past the segment's end
    auto foreign = exifSegment(6);
    foreign[0] = 'X'; // not an EXIF segment (XMP also lives in APP1)
    auto farDirectory = exifSegment(6);
    farDirectory[10] = 0xF0; // the first directory's offset points past the end
    for (const auto& body : {exifSegment(0), exifSegment(9), exifSegment(65535),
                             exifSegment(6, false, 4), exifSegment(6, true, 3, 2), cut, foreign,
                             farDirectory, std::vector<uint8_t>{'E', 'x', 'i', 'f', 0, 0}}) {
        const auto shown = DecodeJpeg(withApp1(plain, body));
        EXPECT_EQ(differences(*shown, *stored), "");
    }
}

} // namespace
} // namespace tarnwick
