#include "imaging/bmp_decoder.h"

#include "imaging/picture_loader.h"
#include "platform/error.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/mman.h>
#include <sys/uio.h>
#include <unistd.h>

namespace tarnwick {

namespace {

[[noreturn]] void invalid() {
    throw Error("Bitmap image is not valid");
}

enum Compression : uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kAlphaBitFields = 6,
};

constexpr size_t kFileHeaderSize = 14;
// The header, the largest bit-field masks and a full colour table all lie in the file's first
// bytes.
constexpr size_t kHeadBytes = kFileHeaderSize + 124 + 16 + 256 * 4;

// Little-endian fields, every read checked against the end of the data.
class Bytes {
public:
    explicit Bytes(std::span<const uint8_t> data) : data_(data) {}
    size_t size() const { return data_.size(); }
    const uint8_t* at(size_t offset, size_t count) const {
        if (offset > data_.size() || count > data_.size() - offset) invalid();
        return data_.data() + offset;
    }
    uint16_t u16(size_t offset) const {
        const uint8_t* p = at(offset, 2);
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    uint32_t u32(size_t offset) const {
        const uint8_t* p = at(offset, 4);
        return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
    int32_t i32(size_t offset) const { return static_cast<int32_t>(u32(offset)); }

private:
    std::span<const uint8_t> data_;
};

// One colour channel of a bit-field pixel, scaled to 0..255 with rounding.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint32_t max = 0;

    static Channel from(uint32_t mask) {
        Channel c;
        c.mask = mask;
        if (mask == 0) return c;
        c.shift = std::countr_zero(mask);
        c.max = mask >> c.shift;
        if ((c.max & (c.max + 1)) != 0) invalid(); // the bits of a channel must be contiguous
        return c;
    }
    uint8_t operator()(uint32_t pixel) const {
        if (max == 0) return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

struct Header {
    uint32_t headerSize = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool topDown = false;
    uint32_t bitCount = 0;
    uint32_t compression = kRgb;
    uint32_t colorsUsed = 0;
    size_t paletteEntrySize = 4;
    size_t paletteStart = 0;
    size_t pixelStart = 0;
    std::array<uint32_t, 3> masks{}; // red, green, blue
};

// `in` holds at least the file's first kHeadBytes bytes (or all of a shorter file).
Header readHeader(const Bytes& in, uint64_t fileSize) {
    const uint8_t* magic = in.at(0, 2);
    if (magic[0] != 'B' || magic[1] != 'M') invalid();
    Header h;
    h.pixelStart = in.u32(10);
    h.headerSize = in.u32(kFileHeaderSize);
    uint32_t planes = 0;
    if (h.headerSize == 12) { // BITMAPCOREHEADER
        h.width = in.u16(18);
        h.height = in.u16(20);
        planes = in.u16(22);
        h.bitCount = in.u16(24);
        h.paletteEntrySize = 3;
        if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24) invalid();
    } else if (h.headerSize == 40 || h.headerSize == 52 || h.headerSize == 56 ||
               h.headerSize == 64 || h.headerSize == 108 || h.headerSize == 124) {
        h.width = in.i32(18);
        const int32_t height = in.i32(22);
        planes = in.u16(26);
        h.bitCount = in.u16(28);
        h.compression = in.u32(30);
        h.colorsUsed = in.u32(46);
        if (height == INT32_MIN) invalid();
        h.topDown = height < 0;
        h.height = height < 0 ? -height : height;
        // The 64-byte OS/2 header gives 3 and 4 other meanings (Huffman, RLE24): not supported.
        if (h.headerSize == 64 && h.compression != kRgb && h.compression != kRle8 &&
            h.compression != kRle4)
            invalid();
        if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 16 &&
            h.bitCount != 24 && h.bitCount != 32)
            invalid();
    } else {
        invalid();
    }
    if (planes != 1 || h.width < 0) invalid();

    size_t afterHeader = kFileHeaderSize + h.headerSize;
    switch (h.compression) {
    case kRgb:
        if (h.bitCount == 16) h.masks = {0x7C00, 0x03E0, 0x001F};
        if (h.bitCount == 32) h.masks = {0xFF0000, 0x00FF00, 0x0000FF};
        break;
    case kRle8:
        if (h.bitCount != 8 || h.topDown) invalid();
        break;
    case kRle4:
        if (h.bitCount != 4 || h.topDown) invalid();
        break;
    case kBitFields:
    case kAlphaBitFields: {
        if (h.bitCount != 16 && h.bitCount != 32) invalid();
        size_t maskAt = kFileHeaderSize + 40;
        if (h.headerSize == 40)
            afterHeader += h.compression == kBitFields ? 12 : 16;
        else if (h.compression == kAlphaBitFields && h.headerSize < 56)
            invalid();
        h.masks = {in.u32(maskAt), in.u32(maskAt + 4), in.u32(maskAt + 8)};
        if (h.bitCount == 16)
            for (uint32_t m : h.masks)
                if (m > 0xFFFF) invalid();
        break;
    }
    default:
        invalid();
    }
    h.paletteStart = afterHeader;
    if (h.pixelStart < afterHeader || h.pixelStart > fileSize) invalid();
    return h;
}

using Palette = std::array<std::array<uint8_t, 3>, 256>; // blue, green, red

Palette readPalette(const Bytes& in, const Header& h) {
    Palette palette{};
    if (h.bitCount > 8) return palette;
    const size_t full = size_t{1} << h.bitCount;
    size_t count = h.colorsUsed == 0 ? full : std::min<size_t>(h.colorsUsed, full);
    // A colour table never reaches into the pixels.
    count = std::min(count, (h.pixelStart - h.paletteStart) / h.paletteEntrySize);
    const uint8_t* p = in.at(h.paletteStart, count * h.paletteEntrySize);
    for (size_t i = 0; i < count; ++i, p += h.paletteEntrySize) palette[i] = {p[0], p[1], p[2]};
    return palette;
}

inline void putIndex(uint8_t* out, const Palette& palette, unsigned index) {
    std::memcpy(out, palette[index].data(), 3);
}

void convertRow(const uint8_t* in, uint8_t* out, const Header& h, const Palette& palette,
                const std::array<Channel, 3>& channels, bool plainMasks) {
    const int32_t w = h.width;
    switch (h.bitCount) {
    case 1:
        for (int32_t x = 0; x < w; ++x)
            putIndex(out + 3 * x, palette, (in[x >> 3] >> (7 - (x & 7))) & 1);
        break;
    case 4:
        for (int32_t x = 0; x < w; ++x)
            putIndex(out + 3 * x, palette, (x & 1) ? in[x >> 1] & 15 : in[x >> 1] >> 4);
        break;
    case 8:
        for (int32_t x = 0; x < w; ++x) putIndex(out + 3 * x, palette, in[x]);
        break;
    case 24:
        std::memcpy(out, in, static_cast<size_t>(w) * 3);
        break;
    case 16:
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t v = in[2 * x] | uint32_t{in[2 * x + 1]} << 8;
            out[3 * x] = channels[2](v);
            out[3 * x + 1] = channels[1](v);
            out[3 * x + 2] = channels[0](v);
        }
        break;
    case 32:
        if (plainMasks) {
            for (int32_t x = 0; x < w; ++x) std::memcpy(out + 3 * x, in + 4 * x, 3);
            break;
        }
        for (int32_t x = 0; x < w; ++x) {
            const uint8_t* p = in + 4 * x;
            const uint32_t v =
                uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
            out[3 * x] = channels[2](v);
            out[3 * x + 1] = channels[1](v);
            out[3 * x + 2] = channels[0](v);
        }
        break;
    }
}

// Rows decoded between two looks at the stop token.
constexpr int32_t kRowsPerStep = 64;
// The most a palette or bit-field picture reads from the file at once.
constexpr uint64_t kChunkBytes = 256 << 10;

// A read buffer kept for one decode and not cleared: every byte used is read into it first.
class Scratch {
public:
    uint8_t* get(size_t size) {
        if (size > size_) {
            buffer_ = std::make_unique_for_overwrite<uint8_t[]>(size);
            size_ = size;
        }
        return buffer_.get();
    }

private:
    std::unique_ptr<uint8_t[]> buffer_;
    size_t size_ = 0;
};

// Where the pixels come from. Callers check that what they ask for lies inside size().
class Source {
public:
    explicit Source(uint64_t size) : size_(size) {}
    virtual ~Source() = default;
    uint64_t size() const { return size_; }
    // `count` bytes at `offset`: a pointer into the data, or into `scratch` once read there.
    virtual const uint8_t* bytes(uint64_t offset, size_t count, Scratch& scratch) = 0;
    // Consecutive rows of `rowBytes` bytes from `offset` on, each into its own destination.
    virtual void rowsInto(uint64_t offset, size_t rowBytes, std::span<uint8_t* const> rows) = 0;

private:
    uint64_t size_;
};

class MemorySource final : public Source {
public:
    explicit MemorySource(std::span<const uint8_t> data) : Source(data.size()), data_(data) {}
    const uint8_t* bytes(uint64_t offset, size_t, Scratch&) override {
        return data_.data() + offset;
    }
    void rowsInto(uint64_t offset, size_t rowBytes, std::span<uint8_t* const> rows) override {
        for (uint8_t* row : rows) {
            std::memcpy(row, data_.data() + offset, rowBytes);
            offset += rowBytes;
        }
    }

private:
    std::span<const uint8_t> data_;
};

class FileSource final : public Source {
public:
    FileSource(int fd, uint64_t size, const std::string& path)
        : Source(size), fd_(fd), path_(path) {}
    const uint8_t* bytes(uint64_t offset, size_t count, Scratch& scratch) override {
        uint8_t* buffer = scratch.get(count);
        iovec one{buffer, count};
        read(offset, {&one, 1});
        return buffer;
    }
    void rowsInto(uint64_t offset, size_t rowBytes, std::span<uint8_t* const> rows) override {
        std::array<iovec, kRowsPerStep> parts{};
        for (size_t done = 0; done < rows.size();) {
            const size_t n = std::min(rows.size() - done, parts.size());
            for (size_t i = 0; i < n; ++i) parts[i] = {rows[done + i], rowBytes};
            read(offset + rowBytes * done, {parts.data(), n});
            done += n;
        }
    }

private:
    // Fills every part in turn; a file that ends early (it shrank since it was opened) is not a
    // valid bitmap.
    void read(uint64_t offset, std::span<iovec> parts) {
        for (size_t first = 0;;) {
            while (first < parts.size() && parts[first].iov_len == 0) ++first;
            if (first == parts.size()) return;
            const ssize_t got =
                ::preadv(fd_, parts.data() + first,
                         static_cast<int>(std::min<size_t>(parts.size() - first, IOV_MAX)),
                         static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) cannotOpenPicture(path_, std::strerror(errno));
            if (got == 0) invalid();
            offset += static_cast<uint64_t>(got);
            for (size_t left = static_cast<size_t>(got); left > 0;) {
                const size_t take = std::min(left, parts[first].iov_len);
                parts[first].iov_base = static_cast<uint8_t*>(parts[first].iov_base) + take;
                parts[first].iov_len -= take;
                left -= take;
                if (parts[first].iov_len == 0) ++first;
            }
        }
    }

    int fd_;
    const std::string& path_;
};

uint64_t rowBytesOf(const Header& h) {
    return ((static_cast<uint64_t>(h.width) * h.bitCount + 31) / 32) * 4;
}

bool runLength(const Header& h) {
    return h.compression == kRle8 || h.compression == kRle4;
}

// Everything decided before a byte of pixels is allocated: the header, the size limit, and for
// uncompressed pictures that every row is in the file (a short file claiming a huge size would
// otherwise cost the whole picture's memory before failing).
Header plan(const Bytes& head, uint64_t fileSize, int64_t maxPixels) {
    const Header h = readHeader(head, fileSize);
    checkBitmapSize(h.width, h.height, maxPixels);
    if (!runLength(h) && rowBytesOf(h) * static_cast<uint64_t>(h.height) > fileSize - h.pixelStart)
        invalid();
    return h;
}

void decodeUncompressed(Source& in, const Header& h, const Palette& palette, WorkBitmap& out,
                        const std::stop_token& stop) {
    const std::array<Channel, 3> channels = {Channel::from(h.masks[0]), Channel::from(h.masks[1]),
                                             Channel::from(h.masks[2])};
    const bool plainMasks = h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 && h.masks[2] == 0xFF;
    const uint64_t rowBytes = rowBytesOf(h);
    out.resizeForOverwrite(h.width, h.height);
    auto dest = [&](int32_t row) {
        return out.data() + out.stride() * (h.topDown ? row : h.height - 1 - row);
    };
    if (h.bitCount == 24) {
        // A 24-bit row in the file is laid out exactly as the bitmap's row, padding included:
        // read it in place.
        std::array<uint8_t*, kRowsPerStep> rows{};
        for (int32_t row = 0; row < h.height; row += kRowsPerStep) {
            throwIfStopped(stop);
            const int32_t n = std::min(kRowsPerStep, h.height - row);
            for (int32_t i = 0; i < n; ++i) rows[static_cast<size_t>(i)] = dest(row + i);
            in.rowsInto(h.pixelStart + rowBytes * static_cast<uint64_t>(row), rowBytes,
                        {rows.data(), static_cast<size_t>(n)});
        }
        return;
    }
    const int32_t step = static_cast<int32_t>(
        std::clamp<uint64_t>(kChunkBytes / std::max<uint64_t>(rowBytes, 1), 1, kRowsPerStep));
    Scratch scratch;
    for (int32_t row = 0; row < h.height; row += step) {
        throwIfStopped(stop);
        const int32_t n = std::min(step, h.height - row);
        const uint8_t* pixels = in.bytes(h.pixelStart + rowBytes * static_cast<uint64_t>(row),
                                         rowBytes * static_cast<uint64_t>(n), scratch);
        for (int32_t i = 0; i < n; ++i)
            convertRow(pixels + rowBytes * i, dest(row + i), h, palette, channels, plainMasks);
    }
}

// Makes [p, p + size) zero. Whole pages inside it are handed back to the kernel instead of
// written: they read as zero and take no memory until written. So the black a run-length picture
// leaves where its codes skip or end early costs nothing, though 20 bytes may claim 800 MB of it.
void zeroLazily(uint8_t* p, size_t size) {
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t first = (start + page - 1) & ~(page - 1);
    const uintptr_t last = (start + size) & ~(page - 1);
    if (last < first + 16 * page) {
        std::memset(p, 0, size);
        return;
    }
    std::memset(p, 0, first - start);
    std::memset(reinterpret_cast<uint8_t*>(last), 0, start + size - last);
    // The bitmap's block is private anonymous memory (malloc's), which MADV_DONTNEED refills
    // with zeros on the next touch.
    if (madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED) != 0)
        std::memset(reinterpret_cast<uint8_t*>(first), 0, last - first);
}

// The run-length codes, read a chunk at a time: a stop is seen between two chunks, and a stream
// of any length costs one chunk of memory.
class CodeStream {
public:
    CodeStream(Source& source, uint64_t offset, const std::stop_token& stop)
        : source_(source), offset_(offset), stop_(stop) {}
    // The next `count` bytes (at most kMaxTake); a stream that ends before them is not valid.
    const uint8_t* next(size_t count) {
        if (count > end_ - pos_) refill(count);
        const uint8_t* p = buffer_.data() + pos_;
        pos_ += count;
        return p;
    }
    static constexpr size_t kMaxTake = 256; // the longest literal run with its padding

private:
    static constexpr size_t kChunk = 64 << 10;

    void refill(size_t count) {
        throwIfStopped(stop_);
        const size_t rest = end_ - pos_;
        std::memmove(buffer_.data(), buffer_.data() + pos_, rest);
        const uint64_t left = source_.size() - offset_;
        const size_t add = static_cast<size_t>(std::min<uint64_t>(kChunk, left));
        if (rest + add < count) invalid(); // the data ended before the end-of-bitmap code
        uint8_t* const into[] = {buffer_.data() + rest};
        source_.rowsInto(offset_, add, into);
        offset_ += add;
        pos_ = 0;
        end_ = rest + add;
    }

    Source& source_;
    uint64_t offset_;
    const std::stop_token& stop_;
    std::array<uint8_t, kChunk + kMaxTake> buffer_;
    size_t pos_ = 0;
    size_t end_ = 0;
};

void decodeRle(Source& source, const Header& h, const Palette& palette, WorkBitmap& out,
               const std::stop_token& stop) {
    auto in = std::make_unique<CodeStream>(source, h.pixelStart, stop);
    out.resizeForOverwrite(h.width, h.height);
    const bool rle8 = h.compression == kRle8;
    const int64_t w = h.width;
    const int64_t height = h.height;
    int64_t x = 0;
    int64_t y = 0; // counted from the bottom row
    // Rows turn black only when the codes reach them, not all at once beforehand: a stream that
    // breaks off early has then cost memory only for the rows it reached. Rows from the bottom
    // below `cleared` are black already; the rows of a range lie together in memory, the lowest
    // row last.
    int64_t cleared = 0;
    auto row = [&](int64_t fromBottom) {
        return out.data() + out.stride() * (height - 1 - fromBottom);
    };
    auto clearThrough = [&](int64_t last) {
        const int64_t end = std::min(last + 1, height);
        if (cleared >= end) return;
        throwIfStopped(stop);
        zeroLazily(row(end - 1), static_cast<size_t>(out.stride() * (end - cleared)));
        cleared = end;
    };
    auto put = [&](int64_t px, unsigned index) {
        if (px < w) putIndex(row(y) + 3 * px, palette, index);
    };
    for (uint32_t codes = 1; y < height; ++codes) {
        if (codes % 4096 == 0) throwIfStopped(stop); // rows of codes that draw nothing
        const uint8_t* code = in->next(2);
        const unsigned count = code[0];
        const unsigned value = code[1];
        if (count > 0) {
            clearThrough(y);
            const int64_t end = std::min<int64_t>(x + count, w);
            for (int64_t i = 0; x + i < end; ++i)
                put(x + i, rle8 ? value : (i & 1) ? value & 15 : value >> 4);
            x += count;
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            const uint8_t* delta = in->next(2);
            x += delta[0];
            y += delta[1];
        } else {
            const size_t bytes = rle8 ? value : (value + 1) / 2;
            // Literal runs end on a 16-bit boundary.
            const uint8_t* literal = in->next((bytes + 1) & ~size_t{1});
            clearThrough(y);
            const int64_t end = std::min<int64_t>(x + value, w);
            for (int64_t i = 0; x + i < end; ++i)
                put(x + i, rle8 ? literal[i] : (i & 1) ? literal[i / 2] & 15 : literal[i / 2] >> 4);
            x += value;
        }
    }
    clearThrough(height - 1); // what the codes skipped or left after their end is black
}

std::unique_ptr<WorkBitmap> decode(Source& in, const Bytes& head, int64_t maxPixels,
                                   const std::stop_token& stop) {
    throwIfStopped(stop);
    const Header h = plan(head, in.size(), maxPixels);
    const Palette palette = readPalette(head, h);
    auto bitmap = NewWorkBitmap();
    if (runLength(h))
        decodeRle(in, h, palette, *bitmap, stop);
    else
        decodeUncompressed(in, h, palette, *bitmap, stop);
    return bitmap;
}

} // namespace

std::unique_ptr<WorkBitmap> DecodeBmp(std::span<const uint8_t> data, int64_t maxPixels,
                                      std::stop_token stop) {
    MemorySource in(data);
    return decode(in, Bytes(data), maxPixels, stop);
}

std::unique_ptr<WorkBitmap> ReadBmp(int fd, uint64_t fileSize, const std::string& path,
                                    int64_t maxPixels, std::stop_token stop) {
    FileSource in(fd, fileSize, path);
    std::array<uint8_t, kHeadBytes> head;
    const size_t headSize = static_cast<size_t>(std::min<uint64_t>(fileSize, kHeadBytes));
    const std::array<uint8_t*, 1> rows{head.data()};
    in.rowsInto(0, headSize, rows);
    return decode(in, Bytes({head.data(), headSize}), maxPixels, stop);
}

BmpPlan PlanBmp(std::span<const uint8_t> head, uint64_t fileSize, int64_t maxPixels) {
    const Bytes in(head);
    const Header h = plan(in, fileSize, maxPixels);
    readPalette(in, h);
    return {h.width, h.height, runLength(h)};
}

} // namespace tarnwick
