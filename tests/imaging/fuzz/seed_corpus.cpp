#include "fuzz/seed_corpus.h"

#include "support/pictures.h"

namespace tarnwick::testing {

std::vector<Seed> bmpSeeds() {
    std::vector<Seed> seeds;
    const WorkBitmap direct = randomBitmap(13, 7, 1);
    const struct {
        const char* name;
        BmpFormat format;
    } directFormats[] = {
        {"rgb24", {24, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"rgb24-topdown", {24, BmpHeader::Info, BmpCompression::Rgb, true, {}}},
        {"core24", {24, BmpHeader::Core, BmpCompression::Rgb, false, {}}},
        {"rgb16", {16, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"fields565",
         {16, BmpHeader::Info, BmpCompression::BitFields, false, {0xF800, 0x7E0, 0x1F}}},
        {"rgb32", {32, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"fields32-v4",
         {32, BmpHeader::V4, BmpCompression::BitFields, false, {0x3FF00000, 0xFFC00, 0x3FF}}},
        {"rgb24-v5", {24, BmpHeader::V5, BmpCompression::Rgb, true, {}}},
    };
    for (const auto& f : directFormats) seeds.push_back({f.name, writeBmp(direct, f.format)});
    const struct {
        const char* name;
        int colours;
        BmpFormat format;
    } indexed[] = {
        {"pal1", 2, {1, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"pal4-core", 16, {4, BmpHeader::Core, BmpCompression::Rgb, false, {}}},
        {"pal8", 200, {8, BmpHeader::Info, BmpCompression::Rgb, false, {}}},
        {"rle8", 40, {8, BmpHeader::Info, BmpCompression::Rle8, false, {}}},
        {"rle4", 16, {4, BmpHeader::Info, BmpCompression::Rle4, false, {}}},
    };
    uint32_t seed = 10;
    for (const auto& f : indexed)
        seeds.push_back(
            {f.name, writeBmp(randomIndexed(21, 9, f.colours, seed++, true), f.format)});
    return seeds;
}

std::vector<Seed> jpegSeeds() {
    const WorkBitmap picture = photoLikeBitmap(37, 29, 2);
    const struct {
        const char* name;
        JpegFormat format;
    } formats[] = {
        {"ycc420", {JpegFormat::YCbCr420, 90, false, 0}},
        {"ycc444-restart", {JpegFormat::YCbCr444, 75, false, 1}},
        {"grey", {JpegFormat::Grey, 90, false, 0}},
        {"progressive", {JpegFormat::YCbCr420, 85, true, 0}},
        {"cmyk-adobe", {JpegFormat::CmykAdobe, 90, false, 0}},
        {"cmyk-plain", {JpegFormat::CmykPlain, 90, true, 0}},
    };
    std::vector<Seed> seeds;
    for (const auto& f : formats) seeds.push_back({f.name, writeJpeg(picture, f.format)});
    // EXIF orientation: a photo turned a quarter, and a hostile segment whose directory claims
    // 65535 entries and whose offsets point at its own end.
    const auto plain = writeJpeg(picture, {});
    seeds.push_back({"exif-orientation-6", withApp1(plain, exifSegment(6, true))});
    auto hostile = exifSegment(8);
    hostile[14] = hostile[15] = 0xFF;          // entry count
    hostile[10] = uint8_t(hostile.size() - 8); // first directory near the end
    seeds.push_back({"exif-hostile", withApp1(plain, hostile)});
    return seeds;
}

std::vector<Seed> pngSeeds() {
    const WorkBitmap picture = photoLikeBitmap(19, 11, 4);
    PngPicture rgb = pngOf(picture);
    PngPicture interlaced = rgb;
    interlaced.interlaced = true;
    PngPicture rgba = rgb, wide = rgb, palette{19, 11, 3, 4, false, {}, {}, {}},
               grey{19, 11, 0, 2, true, {}, {}, {}};
    rgba.colourType = 6;
    rgba.samples.clear();
    for (size_t i = 0; i < rgb.samples.size(); i += 3)
        rgba.samples.insert(rgba.samples.end(), {rgb.samples[i], rgb.samples[i + 1],
                                                 rgb.samples[i + 2], uint16_t(i * 7 % 256)});
    wide.depth = 16;
    for (auto& v : wide.samples) v = uint16_t(v * 257 + 3);
    for (int i = 0; i < 19 * 11; ++i) palette.samples.push_back(uint16_t(i * 5 % 13));
    for (int i = 0; i < 13; ++i) palette.palette.push_back({uint8_t(i * 19), uint8_t(200 - i), 7});
    palette.transparency = {0, 128, 255};
    for (int i = 0; i < 19 * 11; ++i) grey.samples.push_back(uint16_t(i % 4));
    return {{"rgb8", writePng(rgb)},
            {"rgb8-interlaced", writePng(interlaced)},
            {"rgba8", writePng(rgba)},
            {"rgb16", writePng(wide)},
            {"palette4-trns", writePng(palette)},
            {"grey2-interlaced", writePng(grey)}};
}

std::vector<Seed> webpSeeds() {
    const WorkBitmap picture = photoLikeBitmap(37, 29, 6);
    std::vector<uint8_t> alpha(37 * 29);
    for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = uint8_t(i * 11);
    const auto frame = writeWebp(photoLikeBitmap(10, 8, 7), true);
    return {{"lossy", writeWebp(picture, false, 80)},
            {"lossy-alpha", writeWebp(picture, false, 80, alpha)},
            {"lossless", writeWebp(picture, true)},
            {"lossless-alpha", writeWebp(picture, true, 90, alpha)},
            {"animated", animatedWebp(24, 16, {{frame, 4, 2, 10, 8}, {frame, 0, 0, 10, 8}})}};
}

std::vector<Seed> hostileSeeds() {
    auto set32 = [](std::vector<uint8_t> f, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) f[at + size_t(i)] = uint8_t(v >> (8 * i));
        return f;
    };
    const auto small = photoLikeBitmap(16, 16, 3);
    // Cut before its end-of-bitmap code: the codes stop after 9 of the 4096 rows it claims.
    auto rle = writeBmp(randomIndexed(21, 9, 16, 4, true),
                        {8, BmpHeader::Info, BmpCompression::Rle8, false, {}});
    rle.resize(rle.size() - 2);
    const auto rgb = writeBmp(small, {24, BmpHeader::Info, BmpCompression::Rgb, false, {}});
    // Zeros after the end marker: a file of more bytes than the picture has blocks, with a
    // picture of 16x16 in it.
    auto padded = claimJpegSize(writeJpeg(small, {}), 4000, 4000);
    padded.resize(padded.size() + 400000);
    // Arithmetic coding fills the rest of a flat picture in without a warning: a legitimate
    // 16384x16384 file whose coefficients alone would take 1.5 GiB.
    const auto flat = filledBitmap(16, 16, {90, 120, 150});
    return {
        {"jpeg-baseline-16000", claimJpegSize(writeJpeg(small, {}), 16000, 16000)},
        {"jpeg-baseline-4000-padded", padded},
        {"jpeg-arithmetic-progressive-444-16384",
         claimJpegSize(writeJpeg(flat, {JpegFormat::YCbCr444, 90, true, 0, true}), 16384, 16384)},
        {"jpeg-progressive-16000",
         claimJpegSize(writeJpeg(small, {JpegFormat::YCbCr420, 90, true, 0}), 16000, 16000)},
        {"jpeg-cmyk-65535",
         claimJpegSize(writeJpeg(small, {JpegFormat::CmykAdobe, 90, false, 0}), 65535, 4096)},
        {"rle8-65535x4096-cut", set32(set32(rle, 18, 65535), 22, 4096)},
        {"rgb24-16000", set32(set32(rgb, 18, 16000), 22, 16000)},
        {"rgb24-16000-topdown", set32(set32(rgb, 18, 16000), 22, uint32_t(-16000))},
        {"png-16000", claimPngSize(writePng(pngOf(small)), 16000, 16000)},
        {"webp-lossy-16000", claimWebpSize(writeWebp(small, false, 80), 16000, 16000)},
    };
}

std::vector<uint8_t> mutate(std::vector<uint8_t> bytes, std::mt19937& gen) {
    auto pick = [&](size_t n) { return n == 0 ? size_t{0} : size_t(gen() % n); };
    const int edits = 1 + int(gen() % 4);
    for (int e = 0; e < edits; ++e) {
        switch (gen() % 6) {
        case 0: // flip a bit
            if (!bytes.empty()) bytes[pick(bytes.size())] ^= uint8_t(1u << (gen() % 8));
            break;
        case 1: { // an extreme value, often where header fields live
            static const uint8_t extremes[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE};
            const size_t at =
                gen() % 2 ? pick(std::min<size_t>(bytes.size(), 64)) : pick(bytes.size());
            if (at < bytes.size()) bytes[at] = extremes[gen() % 6];
            break;
        }
        case 2: // cut the tail
            bytes.resize(pick(bytes.size() + 1));
            break;
        case 3: { // duplicate a stretch
            if (bytes.empty()) break;
            const size_t from = pick(bytes.size()),
                         len = std::min<size_t>(pick(64) + 1, bytes.size() - from);
            const std::vector<uint8_t> piece(bytes.begin() + long(from),
                                             bytes.begin() + long(from + len));
            bytes.insert(bytes.begin() + long(pick(bytes.size() + 1)), piece.begin(), piece.end());
            break;
        }
        case 4: { // remove a stretch
            if (bytes.empty()) break;
            const size_t from = pick(bytes.size()),
                         len = std::min<size_t>(pick(32) + 1, bytes.size() - from);
            bytes.erase(bytes.begin() + long(from), bytes.begin() + long(from + len));
            break;
        }
        default: // random bytes
            for (int i = 0; i < 4 && !bytes.empty(); ++i)
                bytes[pick(bytes.size())] = uint8_t(gen());
        }
    }
    return bytes;
}

} // namespace tarnwick::testing
