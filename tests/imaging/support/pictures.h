#pragma once
// Pictures for the imaging tests, made in code: random bitmaps, and BMP, JPEG, PNG and WebP files
// written here (JPEG, PNG and WebP through their libraries' encoders).
#include "imaging/bitmap.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick::testing {

using Bgr = std::array<uint8_t, 3>;

Bgr pixel(const WorkBitmap& b, int32_t x, int32_t y);
void setPixel(WorkBitmap& b, int32_t x, int32_t y, Bgr value);

WorkBitmap randomBitmap(int32_t width, int32_t height, uint32_t seed);
// Smooth colour gradients with a little noise: compresses like a photo.
WorkBitmap photoLikeBitmap(int32_t width, int32_t height, uint32_t seed);
WorkBitmap filledBitmap(int32_t width, int32_t height, Bgr value);

// Empty when equal; else where and how they first differ.
std::string differences(const WorkBitmap& a, const WorkBitmap& b);

// A picture of palette indices.
struct IndexedPicture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> indices; // row by row from the top
    std::vector<Bgr> palette;
    WorkBitmap expand() const;
};
IndexedPicture randomIndexed(int32_t width, int32_t height, int colours, uint32_t seed,
                             bool runs = false);

enum class BmpHeader { Core, Info, V4, V5 };
enum class BmpCompression { Rgb, Rle8, Rle4, BitFields };

struct BmpFormat {
    int bits = 24;
    BmpHeader header = BmpHeader::Info;
    BmpCompression compression = BmpCompression::Rgb;
    bool topDown = false;
    std::array<uint32_t, 3> masks{}; // red, green, blue, for BitFields
};

// Direct-colour formats (16, 24, 32 bits).
std::vector<uint8_t> writeBmp(const WorkBitmap& picture, const BmpFormat& format);
// Palette formats (1, 4, 8 bits, RLE8, RLE4).
std::vector<uint8_t> writeBmp(const IndexedPicture& picture, const BmpFormat& format);
// What a direct-colour picture reads back as after `masks` quantise it: each channel's value
// v of n bits becomes round(v * 255 / (2^n - 1)).
WorkBitmap quantised(const WorkBitmap& picture, const std::array<uint32_t, 3>& masks);

struct JpegFormat {
    enum Colour { YCbCr420, YCbCr444, Grey, CmykAdobe, CmykPlain } colour = YCbCr420;
    int quality = 90;
    bool progressive = false;
    int restartRows = 0;
    bool arithmetic = false;
};
std::vector<uint8_t> writeJpeg(const WorkBitmap& picture, const JpegFormat& format);
// CMYK ink for a colour, stored as the format expects (inverted in Adobe's files).
std::array<uint8_t, 4> cmykFor(Bgr colour, bool adobe);
// A plain libjpeg decode to RGB, for comparison: nullopt when libjpeg fails.
std::optional<WorkBitmap> referenceJpegDecode(const std::vector<uint8_t>& file);

std::vector<uint8_t> readFile(const std::string& path);
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// A binary PPM (P6) as ImageMagick writes it.
std::optional<WorkBitmap> readPpm(const std::vector<uint8_t>& bytes);
std::vector<uint8_t> writePpm(const WorkBitmap& picture);

// How far the process's peak resident memory rose above its resident memory while `work` ran,
// in bytes; -1 where the kernel cannot reset the peak (/proc/self/clear_refs).
int64_t peakMemoryGrowth(const std::function<void()>& work);

// A PNG file through libpng's writer. `samples` holds width x height x channels values row by
// row (channels as the colour type has them: palette indices, grey, grey and alpha, RGB or RGBA),
// each below 2^depth; `palette` and `transparency` fill PLTE and tRNS when not empty.
struct PngPicture {
    int32_t width = 0;
    int32_t height = 0;
    int colourType = 2; // PNG's numbers: 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
    int depth = 8;
    bool interlaced = false;
    std::vector<uint16_t> samples;
    std::vector<Bgr> palette;
    std::vector<uint8_t> transparency;
};
std::vector<uint8_t> writePng(const PngPicture& picture);
// `picture` as 8-bit RGB samples.
PngPicture pngOf(const WorkBitmap& picture);

// A WebP file through libwebp's encoder: lossless or lossy at `quality`, with `alpha` (one byte
// per pixel, row by row) when not empty.
std::vector<uint8_t> writeWebp(const WorkBitmap& picture, bool lossless, int quality = 90,
                               const std::vector<uint8_t>& alpha = {});
// A PNG file whose header claims another size (its checksum made right again), and the same for
// a simple lossy WebP's frame header.
std::vector<uint8_t> claimPngSize(std::vector<uint8_t> file, uint32_t width, uint32_t height);
std::vector<uint8_t> claimWebpSize(std::vector<uint8_t> file, uint16_t width, uint16_t height);
// An animated WebP on a canvas of `width` x `height` whose frames are the still files `frames`,
// each placed at its (even) offset.
struct WebpFrame {
    std::vector<uint8_t> file;
    int32_t x = 0, y = 0, width = 0, height = 0;
};
std::vector<uint8_t> animatedWebp(int32_t width, int32_t height,
                                  const std::vector<WebpFrame>& frames);

// An EXIF APP1 segment's body ("Exif\0\0", a TIFF header in the byte order asked for, a first
// directory of a date entry and an orientation entry of `type` and `count`).
std::vector<uint8_t> exifSegment(uint16_t orientation, bool bigEndian = false, uint16_t type = 3,
                                 uint32_t count = 1);
// `file` with an APP1 segment of `body` right after its start marker, as cameras write it.
std::vector<uint8_t> withApp1(std::vector<uint8_t> file, const std::vector<uint8_t>& body);

// A JPEG file whose frame header (baseline or progressive, Huffman or arithmetic coded) is
// rewritten to claim another size.
std::vector<uint8_t> claimJpegSize(std::vector<uint8_t> file, uint16_t width, uint16_t height);

// ImageMagick's own binary, or empty when it is not installed.
std::string imageMagick();
// Runs a shell command; true when it exits with 0.
bool run(const std::string& command);
// A fresh folder under the system's temporary folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

} // namespace tarnwick::testing
