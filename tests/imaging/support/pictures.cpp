#include "support/pictures.h"

#include <png.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <jpeglib.h>

namespace tarnwick::testing {

Bgr pixel(const WorkBitmap& b, int32_t x, int32_t y) {
    const auto row = b.scanLine(y);
    return {row[3 * x], row[3 * x + 1], row[3 * x + 2]};
}

void setPixel(WorkBitmap& b, int32_t x, int32_t y, Bgr value) {
    auto row = b.scanLine(y);
    std::copy(value.begin(), value.end(), row.begin() + 3 * x);
}

WorkBitmap randomBitmap(int32_t width, int32_t height, uint32_t seed) {
    WorkBitmap b;
    SetBitmapSize(b, width, height);
    std::mt19937 gen(seed);
    for (int32_t y = 0; y < height; ++y)
        for (uint8_t& v : b.scanLine(y)) v = static_cast<uint8_t>(gen());
    return b;
}

WorkBitmap photoLikeBitmap(int32_t width, int32_t height, uint32_t seed) {
    WorkBitmap b;
    SetBitmapSize(b, width, height);
    std::mt19937 gen(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    for (int32_t y = 0; y < height; ++y) {
        auto row = b.scanLine(y);
        for (int32_t x = 0; x < width; ++x) {
            const double u = double(x) / std::max(1, width), v = double(y) / std::max(1, height);
            const double base[3] = {128 + 100 * std::sin(6.0 * u + 2.0 * v),
                                    128 + 100 * std::cos(4.0 * v - 3.0 * u),
                                    128 + 90 * std::sin(9.0 * u * v + 1.0)};
            for (int c = 0; c < 3; ++c)
                row[3 * x + c] =
                    static_cast<uint8_t>(std::clamp(int(base[c]) + noise(gen), 0, 255));
        }
    }
    return b;
}

WorkBitmap filledBitmap(int32_t width, int32_t height, Bgr value) {
    WorkBitmap b;
    SetBitmapSize(b, width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) setPixel(b, x, y, value);
    return b;
}

std::string differences(const WorkBitmap& a, const WorkBitmap& b) {
    std::ostringstream out;
    if (a.width() != b.width() || a.height() != b.height()) {
        out << "sizes " << a.width() << "x" << a.height() << " and " << b.width() << "x"
            << b.height();
        return out.str();
    }
    int64_t count = 0;
    for (int32_t y = 0; y < a.height(); ++y)
        for (int32_t x = 0; x < a.width(); ++x) {
            const Bgr p = pixel(a, x, y), q = pixel(b, x, y);
            if (p == q) continue;
            if (count++ == 0)
                out << "first at (" << x << ", " << y << "): " << int(p[0]) << "," << int(p[1])
                    << "," << int(p[2]) << " vs " << int(q[0]) << "," << int(q[1]) << ","
                    << int(q[2]);
        }
    if (count > 0) out << "; " << count << " pixels differ";
    return out.str();
}

WorkBitmap IndexedPicture::expand() const {
    WorkBitmap b;
    SetBitmapSize(b, width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            setPixel(b, x, y, palette[indices[size_t(y) * width + x]]);
    return b;
}

IndexedPicture randomIndexed(int32_t width, int32_t height, int colours, uint32_t seed, bool runs) {
    std::mt19937 gen(seed);
    IndexedPicture p;
    p.width = width;
    p.height = height;
    for (int i = 0; i < colours; ++i)
        p.palette.push_back({uint8_t(gen()), uint8_t(gen()), uint8_t(gen())});
    p.indices.resize(size_t(width) * height);
    uint8_t current = 0;
    for (auto& v : p.indices) {
        // With runs, colours repeat for a while, so that RLE has runs to encode.
        if (!runs || gen() % 4 == 0) current = uint8_t(gen() % colours);
        v = current;
    }
    return p;
}

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void set32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

uint32_t headerSize(BmpHeader h) {
    switch (h) {
    case BmpHeader::Core:
        return 12;
    case BmpHeader::Info:
        return 40;
    case BmpHeader::V4:
        return 108;
    case BmpHeader::V5:
        return 124;
    }
    return 40;
}

uint32_t compressionCode(BmpCompression c) {
    switch (c) {
    case BmpCompression::Rgb:
        return 0;
    case BmpCompression::Rle8:
        return 1;
    case BmpCompression::Rle4:
        return 2;
    case BmpCompression::BitFields:
        return 3;
    }
    return 0;
}

// File header and bitmap header; returns the offset of bfOffBits to patch.
std::vector<uint8_t> headers(int32_t width, int32_t height, const BmpFormat& f, uint32_t colours,
                             const std::array<uint32_t, 3>& masks) {
    std::vector<uint8_t> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, 0); // file size, patched
    put32(out, 0);
    put32(out, 0); // pixel offset, patched
    const uint32_t size = headerSize(f.header);
    put32(out, size);
    if (f.header == BmpHeader::Core) {
        put16(out, uint32_t(width));
        put16(out, uint32_t(height));
        put16(out, 1);
        put16(out, uint32_t(f.bits));
        return out;
    }
    put32(out, uint32_t(width));
    put32(out, uint32_t(f.topDown ? -height : height));
    put16(out, 1);
    put16(out, uint32_t(f.bits));
    put32(out, compressionCode(f.compression));
    put32(out, 0); // image size
    put32(out, 2835);
    put32(out, 2835);
    put32(out, colours);
    put32(out, 0);
    const bool fields = f.compression == BmpCompression::BitFields;
    if (f.header == BmpHeader::Info) {
        if (fields)
            for (uint32_t m : masks) put32(out, m);
        return out;
    }
    for (uint32_t m : masks) put32(out, fields ? m : 0);
    put32(out, 0);                              // alpha mask
    put32(out, 0x73524742);                     // 'sRGB'
    for (int i = 0; i < 12; ++i) put32(out, 0); // end points and gamma
    if (f.header == BmpHeader::V5)
        for (int i = 0; i < 4; ++i) put32(out, i == 0 ? 4 : 0); // intent, profile, reserved
    return out;
}

void finish(std::vector<uint8_t>& out, size_t pixelOffset) {
    set32(out, 2, uint32_t(out.size()));
    set32(out, 10, uint32_t(pixelOffset));
}

uint32_t quantise(uint8_t value, uint32_t mask) {
    if (mask == 0) return 0;
    const int shift = std::countr_zero(mask);
    const uint32_t max = mask >> shift;
    return uint32_t(std::lround(value * double(max) / 255.0)) << shift;
}

void rleRow(std::vector<uint8_t>& out, const uint8_t* row, int32_t w, bool four) {
    int32_t x = 0;
    while (x < w) {
        int32_t run = 1;
        while (x + run < w && run < 255 && row[x + run] == row[x]) ++run;
        if (run >= 2 || w - x < 3) {
            out.push_back(uint8_t(run));
            out.push_back(four ? uint8_t(row[x] << 4 | row[x]) : row[x]);
            x += run;
            continue;
        }
        // A literal stretch until two equal pixels start a run.
        int32_t n = 1;
        while (x + n < w && n < 255 && !(x + n + 1 < w && row[x + n] == row[x + n + 1])) ++n;
        if (n < 3) {
            for (int32_t i = 0; i < n; ++i) {
                out.push_back(1);
                out.push_back(four ? uint8_t(row[x + i] << 4) : row[x + i]);
            }
        } else {
            out.push_back(0);
            out.push_back(uint8_t(n));
            size_t bytes = 0;
            if (four) {
                for (int32_t i = 0; i < n; i += 2, ++bytes)
                    out.push_back(uint8_t(row[x + i] << 4 | (i + 1 < n ? row[x + i + 1] : 0)));
            } else {
                for (int32_t i = 0; i < n; ++i, ++bytes) out.push_back(row[x + i]);
            }
            if (bytes & 1) out.push_back(0);
        }
        x += n;
    }
    out.push_back(0);
    out.push_back(0);
}

} // namespace

WorkBitmap quantised(const WorkBitmap& picture, const std::array<uint32_t, 3>& masks) {
    WorkBitmap b;
    SetBitmapSize(b, picture.width(), picture.height());
    auto back = [](uint32_t q, uint32_t mask) -> uint8_t {
        if (mask == 0) return 0;
        const int shift = std::countr_zero(mask);
        const uint32_t max = mask >> shift;
        return uint8_t(std::lround(double(q >> shift) * 255.0 / max));
    };
    for (int32_t y = 0; y < picture.height(); ++y)
        for (int32_t x = 0; x < picture.width(); ++x) {
            const Bgr p = pixel(picture, x, y);
            setPixel(b, x, y,
                     {back(quantise(p[0], masks[2]), masks[2]),
                      back(quantise(p[1], masks[1]), masks[1]),
                      back(quantise(p[2], masks[0]), masks[0])});
        }
    return b;
}

std::vector<uint8_t> writeBmp(const WorkBitmap& picture, const BmpFormat& f) {
    std::array<uint32_t, 3> masks = f.masks;
    if (f.compression == BmpCompression::Rgb)
        masks = f.bits == 16 ? std::array<uint32_t, 3>{0x7C00, 0x3E0, 0x1F}
                             : std::array<uint32_t, 3>{0xFF0000, 0xFF00, 0xFF};
    std::vector<uint8_t> out = headers(picture.width(), picture.height(), f, 0, masks);
    const size_t offset = out.size();
    const int32_t h = picture.height();
    for (int32_t i = 0; i < h; ++i) {
        const int32_t y = f.topDown ? i : h - 1 - i;
        const size_t start = out.size();
        for (int32_t x = 0; x < picture.width(); ++x) {
            const Bgr p = pixel(picture, x, y);
            if (f.bits == 24) {
                out.insert(out.end(), p.begin(), p.end());
                continue;
            }
            const uint32_t v =
                quantise(p[2], masks[0]) | quantise(p[1], masks[1]) | quantise(p[0], masks[2]);
            if (f.bits == 16)
                put16(out, v);
            else
                put32(out, v);
        }
        while ((out.size() - start) % 4) out.push_back(0);
    }
    finish(out, offset);
    return out;
}

std::vector<uint8_t> writeBmp(const IndexedPicture& picture, const BmpFormat& f) {
    std::vector<uint8_t> out =
        headers(picture.width, picture.height, f, uint32_t(picture.palette.size()), {});
    for (const Bgr& c : picture.palette) {
        out.insert(out.end(), c.begin(), c.end());
        if (f.header != BmpHeader::Core) out.push_back(0);
    }
    const size_t offset = out.size();
    const int32_t w = picture.width, h = picture.height;
    for (int32_t i = 0; i < h; ++i) {
        const int32_t y = f.topDown ? i : h - 1 - i;
        const uint8_t* row = picture.indices.data() + size_t(y) * w;
        if (f.compression != BmpCompression::Rgb) {
            rleRow(out, row, w, f.compression == BmpCompression::Rle4);
            continue;
        }
        const size_t start = out.size();
        const int perByte = 8 / f.bits;
        for (int32_t x = 0; x < w; x += perByte) {
            uint8_t byte = 0;
            for (int k = 0; k < perByte; ++k)
                if (x + k < w) byte |= uint8_t(row[x + k] << (8 - f.bits * (k + 1)));
            out.push_back(byte);
        }
        while ((out.size() - start) % 4) out.push_back(0);
    }
    if (f.compression != BmpCompression::Rgb) {
        out.push_back(0);
        out.push_back(1);
    }
    finish(out, offset);
    return out;
}

std::array<uint8_t, 4> cmykFor(Bgr colour, bool adobe) {
    const int r = colour[2], g = colour[1], b = colour[0];
    const int k = 255 - std::max({r, g, b});
    auto ink = [k](int v) { return k == 255 ? 0 : (255 - v - k) * 255 / (255 - k); };
    std::array<uint8_t, 4> cmyk = {uint8_t(ink(r)), uint8_t(ink(g)), uint8_t(ink(b)), uint8_t(k)};
    if (adobe)
        for (auto& v : cmyk) v = uint8_t(255 - v);
    return cmyk;
}

std::vector<uint8_t> writeJpeg(const WorkBitmap& picture, const JpegFormat& f) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(picture.width());
    c.image_height = JDIMENSION(picture.height());
    const bool cmyk = f.colour == JpegFormat::CmykAdobe || f.colour == JpegFormat::CmykPlain;
    if (f.colour == JpegFormat::Grey) {
        c.input_components = 1;
        c.in_color_space = JCS_GRAYSCALE;
    } else if (cmyk) {
        c.input_components = 4;
        c.in_color_space = JCS_CMYK;
    } else {
        c.input_components = 3;
        c.in_color_space = JCS_EXT_BGR;
    }
    jpeg_set_defaults(&c);
    if (cmyk) {
        jpeg_set_colorspace(&c, JCS_CMYK);
        c.write_Adobe_marker = f.colour == JpegFormat::CmykAdobe;
    }
    jpeg_set_quality(&c, f.quality, TRUE);
    if (f.colour == JpegFormat::YCbCr444) {
        c.comp_info[0].h_samp_factor = 1;
        c.comp_info[0].v_samp_factor = 1;
    }
    if (f.progressive) jpeg_simple_progression(&c);
    c.arith_code = f.arithmetic;
    c.restart_in_rows = f.restartRows;
    jpeg_start_compress(&c, TRUE);
    std::vector<uint8_t> row(size_t(picture.width()) * 4);
    while (c.next_scanline < c.image_height) {
        const int32_t y = int32_t(c.next_scanline);
        for (int32_t x = 0; x < picture.width(); ++x) {
            const Bgr p = pixel(picture, x, y);
            if (f.colour == JpegFormat::Grey) {
                row[size_t(x)] = uint8_t((p[0] + p[1] + p[2]) / 3);
            } else if (cmyk) {
                const auto ink = cmykFor(p, f.colour == JpegFormat::CmykAdobe);
                std::copy(ink.begin(), ink.end(), row.begin() + 4 * x);
            } else {
                std::copy(p.begin(), p.end(), row.begin() + 3 * x);
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> file(buffer, buffer + size);
    jpeg_destroy_compress(&c);
    std::free(buffer);
    return file;
}

namespace {
struct TestJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
void testErrorExit(j_common_ptr c) {
    std::longjmp(reinterpret_cast<TestJpegError*>(c->err)->jump, 1);
}
void silence(j_common_ptr) {}

// C style on purpose: nothing with a destructor lives where the longjmp lands.
bool plainDecode(jpeg_decompress_struct* d, TestJpegError* err, const std::vector<uint8_t>* file,
                 WorkBitmap* out, std::vector<uint8_t>* row) {
    d->err = jpeg_std_error(&err->pub);
    err->pub.error_exit = testErrorExit;
    err->pub.output_message = silence;
    if (setjmp(err->jump)) return false;
    jpeg_create_decompress(d);
    jpeg_mem_src(d, file->data(), static_cast<unsigned long>(file->size()));
    jpeg_read_header(d, TRUE);
    d->out_color_space = JCS_RGB;
    jpeg_start_decompress(d);
    SetBitmapSize(*out, int32_t(d->output_width), int32_t(d->output_height));
    row->resize(size_t(d->output_width) * 3);
    while (d->output_scanline < d->output_height) {
        const int32_t y = int32_t(d->output_scanline);
        JSAMPROW r = row->data();
        jpeg_read_scanlines(d, &r, 1);
        for (int32_t x = 0; x < out->width(); ++x)
            setPixel(*out, x, y, {(*row)[3 * x + 2], (*row)[3 * x + 1], (*row)[3 * x]});
    }
    jpeg_finish_decompress(d);
    return true;
}
} // namespace

std::optional<WorkBitmap> referenceJpegDecode(const std::vector<uint8_t>& file) {
    jpeg_decompress_struct d{};
    TestJpegError err{};
    WorkBitmap out;
    std::vector<uint8_t> row;
    const bool ok = plainDecode(&d, &err, &file, &out, &row);
    jpeg_destroy_decompress(&d);
    if (!ok) return std::nullopt;
    return out;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::optional<WorkBitmap> readPpm(const std::vector<uint8_t>& bytes) {
    size_t pos = 0;
    auto token = [&]() -> std::string {
        while (pos < bytes.size()) {
            if (bytes[pos] == '#')
                while (pos < bytes.size() && bytes[pos] != '\n') ++pos;
            else if (std::isspace(bytes[pos]))
                ++pos;
            else
                break;
        }
        std::string t;
        while (pos < bytes.size() && !std::isspace(bytes[pos])) t += char(bytes[pos++]);
        return t;
    };
    if (token() != "P6") return std::nullopt;
    const int w = std::atoi(token().c_str()), h = std::atoi(token().c_str());
    if (token() != "255") return std::nullopt;
    ++pos; // the single white space before the pixels
    if (w < 0 || h < 0 || bytes.size() - pos < size_t(w) * h * 3) return std::nullopt;
    WorkBitmap b;
    SetBitmapSize(b, w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, pos += 3)
            setPixel(b, x, y, {bytes[pos + 2], bytes[pos + 1], bytes[pos]});
    return b;
}

std::vector<uint8_t> writePpm(const WorkBitmap& picture) {
    const std::string header = "P6\n" + std::to_string(picture.width()) + " " +
                               std::to_string(picture.height()) + "\n255\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    for (int32_t y = 0; y < picture.height(); ++y)
        for (int32_t x = 0; x < picture.width(); ++x) {
            const Bgr p = pixel(picture, x, y);
            out.insert(out.end(), {p[2], p[1], p[0]});
        }
    return out;
}

std::string imageMagick() {
    return run("command -v convert-im6.q16 >/dev/null 2>&1") ? "convert-im6.q16" : "";
}

bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

namespace {

int64_t statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stoll(line.substr(std::strlen(field)));
    return -1;
}

} // namespace

int64_t peakMemoryGrowth(const std::function<void()>& work) {
    {
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5"; // resets the peak to the present resident size
        if (!reset.flush()) return -1;
    }
    const int64_t before = statusKilobytes("VmRSS:");
    work();
    const int64_t peak = statusKilobytes("VmHWM:");
    if (before < 0 || peak < 0) return -1;
    return (peak - before) * 1024;
}

std::vector<uint8_t> claimJpegSize(std::vector<uint8_t> file, uint16_t width, uint16_t height) {
    // SOF0, SOF2, SOF9 or SOF10: FF C0/C2/C9/CA, length, precision, height, width.
    for (size_t i = 0; i + 9 < file.size(); ++i)
        if (file[i] == 0xFF && (file[i + 1] == 0xC0 || file[i + 1] == 0xC2 || file[i + 1] == 0xC9 ||
                                file[i + 1] == 0xCA)) {
            file[i + 5] = uint8_t(height >> 8);
            file[i + 6] = uint8_t(height);
            file[i + 7] = uint8_t(width >> 8);
            file[i + 8] = uint8_t(width);
            break;
        }
    return file;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-img-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    dir_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<uint8_t> exifSegment(uint16_t orientation, bool bigEndian, uint16_t type,
                                 uint32_t count) {
    std::vector<uint8_t> b{'E', 'x', 'i', 'f', 0, 0};
    auto put16 = [&](uint32_t v) {
        const uint8_t lo = uint8_t(v), hi = uint8_t(v >> 8);
        b.insert(b.end(), bigEndian ? std::initializer_list<uint8_t>{hi, lo}
                                    : std::initializer_list<uint8_t>{lo, hi});
    };
    auto put32 = [&](uint32_t v) {
        if (bigEndian) put16(v >> 16);
        put16(v & 0xFFFF);
        if (!bigEndian) put16(v >> 16);
    };
    b.push_back(bigEndian ? 'M' : 'I');
    b.push_back(bigEndian ? 'M' : 'I');
    put16(42);
    put32(8);
    put16(2);
    // DateTime (ASCII, 20 bytes elsewhere), then the orientation: the tag is found among others.
    put16(0x0132), put16(2), put32(20), put32(8 + 2 + 24 + 4);
    put16(0x0112), put16(type), put32(count), put16(orientation), put16(0);
    put32(0); // no next directory
    for (char c : std::string("2024:05:01 12:00:00")) b.push_back(uint8_t(c));
    b.push_back(0);
    return b;
}

std::vector<uint8_t> withApp1(std::vector<uint8_t> file, const std::vector<uint8_t>& body) {
    const size_t length = body.size() + 2;
    std::vector<uint8_t> segment{0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length)};
    segment.insert(segment.end(), body.begin(), body.end());
    file.insert(file.begin() + 2, segment.begin(), segment.end());
    return file;
}

std::vector<uint8_t> writePng(const PngPicture& p) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> out;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("writePng failed");
    }
    png_set_write_fn(
        png, &out,
        [](png_structp w, png_bytep data, size_t n) {
            auto* o = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(w));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, png_uint_32(p.width), png_uint_32(p.height), p.depth, p.colourType,
                 p.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette;
    for (const Bgr& c : p.palette) palette.push_back({c[2], c[1], c[0]});
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
    if (!p.transparency.empty())
        png_set_tRNS(png, info, p.transparency.data(), int(p.transparency.size()), nullptr);
    png_write_info(png, info);
    const int channels = p.colourType == 2 ? 3 : p.colourType == 6 ? 4 : p.colourType == 4 ? 2 : 1;
    const size_t perRow = size_t(p.width) * size_t(channels);
    std::vector<std::vector<uint8_t>> rows(size_t(p.height),
                                           std::vector<uint8_t>((perRow * p.depth + 7) / 8));
    for (size_t y = 0; y < rows.size(); ++y)
        for (size_t i = 0; i < perRow; ++i) {
            const uint16_t v = p.samples[y * perRow + i];
            auto& row = rows[y];
            if (p.depth == 16) {
                row[2 * i] = uint8_t(v >> 8);
                row[2 * i + 1] = uint8_t(v);
            } else {
                const size_t bit = i * size_t(p.depth);
                row[bit / 8] |= uint8_t(v << (8 - p.depth - bit % 8));
            }
        }
    std::vector<png_bytep> pointers;
    for (auto& r : rows) pointers.push_back(r.data());
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

PngPicture pngOf(const WorkBitmap& picture) {
    PngPicture p{picture.width(), picture.height(), 2, 8, false, {}, {}, {}};
    for (int32_t y = 0; y < picture.height(); ++y)
        for (int32_t x = 0; x < picture.width(); ++x) {
            const Bgr c = pixel(picture, x, y);
            p.samples.insert(p.samples.end(), {c[2], c[1], c[0]});
        }
    return p;
}

std::vector<uint8_t> writeWebp(const WorkBitmap& picture, bool lossless, int quality,
                               const std::vector<uint8_t>& alpha) {
    const int w = picture.width(), h = picture.height();
    std::vector<uint8_t> bgra(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bgr c = pixel(picture, x, y);
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            bgra[4 * i] = c[0], bgra[4 * i + 1] = c[1], bgra[4 * i + 2] = c[2];
            bgra[4 * i + 3] = alpha.empty() ? 255 : alpha[i];
        }
    uint8_t* data = nullptr;
    const size_t size = lossless ? WebPEncodeLosslessBGRA(bgra.data(), w, h, w * 4, &data)
                                 : WebPEncodeBGRA(bgra.data(), w, h, w * 4, float(quality), &data);
    std::vector<uint8_t> out(data, data + size);
    WebPFree(data);
    if (size == 0) throw std::runtime_error("writeWebp failed");
    return out;
}

namespace {
void putLe(std::vector<uint8_t>& b, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void putChunk(std::vector<uint8_t>& b, const char* tag, const std::vector<uint8_t>& body) {
    b.insert(b.end(), tag, tag + 4);
    putLe(b, uint32_t(body.size()), 4);
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() % 2) b.push_back(0);
}
} // namespace

std::vector<uint8_t> animatedWebp(int32_t width, int32_t height,
                                  const std::vector<WebpFrame>& frames) {
    std::vector<uint8_t> vp8x, anim, body{'W', 'E', 'B', 'P'};
    putLe(vp8x, 0x02 | 0x10, 4); // animation, alpha
    putLe(vp8x, uint32_t(width - 1), 3);
    putLe(vp8x, uint32_t(height - 1), 3);
    putChunk(body, "VP8X", vp8x);
    putLe(anim, 0, 4); // background colour
    putLe(anim, 0, 2); // loop forever
    putChunk(body, "ANIM", anim);
    for (const auto& f : frames) {
        std::vector<uint8_t> anmf;
        putLe(anmf, uint32_t(f.x / 2), 3);
        putLe(anmf, uint32_t(f.y / 2), 3);
        putLe(anmf, uint32_t(f.width - 1), 3);
        putLe(anmf, uint32_t(f.height - 1), 3);
        putLe(anmf, 100, 3); // duration
        anmf.push_back(0);
        // The still file's chunks after "RIFF", its size and "WEBP".
        anmf.insert(anmf.end(), f.file.begin() + 12, f.file.end());
        putChunk(body, "ANMF", anmf);
    }
    std::vector<uint8_t> file{'R', 'I', 'F', 'F'};
    putLe(file, uint32_t(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

std::vector<uint8_t> claimPngSize(std::vector<uint8_t> file, uint32_t width, uint32_t height) {
    // IHDR's body starts at 16, after the signature, its length and its name.
    for (int i = 0; i < 4; ++i) {
        file[16 + size_t(i)] = uint8_t(width >> (24 - 8 * i));
        file[20 + size_t(i)] = uint8_t(height >> (24 - 8 * i));
    }
    const uint32_t crc = uint32_t(::crc32(0, file.data() + 12, 17));
    for (int i = 0; i < 4; ++i) file[29 + size_t(i)] = uint8_t(crc >> (24 - 8 * i));
    return file;
}

std::vector<uint8_t> claimWebpSize(std::vector<uint8_t> file, uint16_t width, uint16_t height) {
    // "RIFF", size, "WEBP", "VP8 ", size, 3 bytes of frame tag, the start code: then 14-bit sides.
    if (std::memcmp(file.data() + 12, "VP8 ", 4) != 0) throw std::runtime_error("not simple lossy");
    file[26] = uint8_t(width), file[27] = uint8_t(width >> 8 & 0x3F);
    file[28] = uint8_t(height), file[29] = uint8_t(height >> 8 & 0x3F);
    return file;
}

} // namespace tarnwick::testing
