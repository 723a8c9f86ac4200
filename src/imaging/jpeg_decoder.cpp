#include "imaging/jpeg_decoder.h"

#include "imaging/exif.h"
#include "imaging/picture_loader.h"
#include "imaging/transforms.h"
#include "platform/error.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <unistd.h>
#include <vector>

// libjpeg's headers need <cstdio> first.
#include <jerror.h>
#include <jpeglib.h>

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's extended colour spaces are needed (JCS_EXT_BGR)"
#endif

namespace tarnwick {

namespace {

// Reported as the load's cancellation, never as a message number.
constexpr int kJpegCancelled = kJpegTooManyScans + 1;
const char* const kAddonMessages[] = {"Too many scans", "Cancelled"};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    uint64_t inputSize;        // bytes in memory, or
    const uint64_t* delivered; // what the file source has handed over so far
};

struct ProgressManager {
    jpeg_progress_mgr pub;
    int maxScans;
    int64_t maxScanBlocks;
    int64_t scanBlocks; // 8x8 blocks of the scans seen so far
    int lastScan;
    std::stop_token stop;
};

constexpr size_t kReadChunk = 64 << 10;

struct FileSourceManager {
    jpeg_source_mgr pub;
    int fd;
    bool started;
    uint64_t delivered;
    std::unique_ptr<uint8_t[]> buffer;
    const std::stop_token* stop;
};

void errorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void quietOutput(j_common_ptr) {}

uint64_t blocksOf(const jpeg_component_info& c) {
    return uint64_t{c.width_in_blocks} * c.height_in_blocks;
}

// A file that runs out of data (or skips a picture's first coefficients) while holding less
// than one byte per 8x8 block of all its components has lost nearly all of its picture, or never
// had one: a small file claiming a huge picture. Showing its grey fill would cost the whole
// picture's memory for nothing. A file holding more that ends early still shows, the missing
// part grey; a whole file may hold less (a flat colour does).
void watchWarnings(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // trace messages
    ++cinfo->err->num_warnings;
    const int code = cinfo->err->msg_code;
    if (!cinfo->is_decompressor ||
        (code != JWRN_JPEG_EOF && code != JWRN_HIT_MARKER && code != JWRN_BOGUS_PROGRESSION))
        return;
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->comp_info == nullptr) return;
    uint64_t blocks = 0;
    for (int i = 0; i < d->num_components; ++i) blocks += blocksOf(d->comp_info[i]);
    // What was consumed, not the file's size: padding after the end marker holds no picture.
    const auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    const uint64_t handed = errors->delivered ? *errors->delivered : errors->inputSize;
    if (handed - std::min<uint64_t>(handed, d->src->bytes_in_buffer) < blocks)
        cinfo->err->error_exit(cinfo);
}

void watchProgress(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    auto* progress = reinterpret_cast<ProgressManager*>(cinfo->progress);
    if (progress->stop.stop_requested()) {
        cinfo->err->msg_code = kJpegCancelled;
        cinfo->err->error_exit(cinfo);
    }
    const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number != progress->lastScan) {
        // A new scan: its blocks are what decoding it costs, whatever the file's size.
        progress->lastScan = d->input_scan_number;
        for (int i = 0; i < d->comps_in_scan; ++i)
            if (d->cur_comp_info[i]) progress->scanBlocks += blocksOf(*d->cur_comp_info[i]);
    }
    if (d->input_scan_number > progress->maxScans ||
        progress->scanBlocks > progress->maxScanBlocks) {
        cinfo->err->msg_code = kJpegTooManyScans;
        cinfo->err->error_exit(cinfo);
    }
}

// Reading the file a chunk at a time into one small buffer: the header is looked at before the
// rest is read, and no buffer of the file's size is faulted in.
void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<FileSourceManager*>(cinfo->src);
    // The header's markers are read before any progress report: a stop is seen here too.
    if (src->stop->stop_requested()) {
        cinfo->err->msg_code = kJpegCancelled;
        cinfo->err->error_exit(reinterpret_cast<j_common_ptr>(cinfo));
    }
    ssize_t got = 0;
    do got = ::read(src->fd, src->buffer.get(), kReadChunk);
    while (got < 0 && errno == EINTR);
    if (got < 0) ERREXIT(cinfo, JERR_FILE_READ);
    if (got == 0) {
        if (!src->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        // As libjpeg's own sources do: an end marker, so the missing rest decodes as grey.
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        got = 2;
    }
    src->started = true;
    src->delivered += static_cast<uint64_t>(got);
    src->pub.next_input_byte = src->buffer.get();
    src->pub.bytes_in_buffer = static_cast<size_t>(got);
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
    if (count <= 0) return;
    auto& src = *cinfo->src;
    while (static_cast<size_t>(count) > src.bytes_in_buffer) {
        count -= static_cast<long>(src.bytes_in_buffer);
        src.fill_input_buffer(cinfo);
    }
    src.next_input_byte += count;
    src.bytes_in_buffer -= static_cast<size_t>(count);
}

// The picture's data: a file's descriptor, or bytes in memory when `fd` is negative.
struct Input {
    std::span<const uint8_t> memory;
    int fd = -1;
    uint64_t size = 0;
};

// Everything that must outlive a longjmp lives here, in the caller's frame, and is released by
// its destructor whichever way the decode ends.
struct Session {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    ProgressManager progress{};
    FileSourceManager file{};
    std::vector<uint8_t> cmykRow;
    int orientation = 0;
    ~Session() { jpeg_destroy_decompress(&cinfo); } // does nothing before the memory manager exists
};

inline uint8_t mulDiv255(unsigned a, unsigned b) {
    return static_cast<uint8_t>((a * b + 127) / 255);
}

void cmykRowToBgr(const uint8_t* in, uint8_t* out, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
        // Adobe's files store 255 - ink; others store the ink itself.
        const unsigned c = inverted ? in[0] : 255u - in[0];
        const unsigned m = inverted ? in[1] : 255u - in[1];
        const unsigned y = inverted ? in[2] : 255u - in[2];
        const unsigned k = inverted ? in[3] : 255u - in[3];
        out[0] = mulDiv255(y, k);
        out[1] = mulDiv255(m, k);
        out[2] = mulDiv255(c, k);
    }
}

constexpr int kDecoded = -1; // message codes start at 0

// The longjmp lands in this function, so it owns no object with a destructor and reads no local
// changed after setjmp once it has landed. Returns kDecoded, or the library's message code.
// With `out` null it stops once the header is checked, before anything is allocated for pixels.
int decodeInto(Session& s, const Input& input, WorkBitmap* out, int64_t maxPixels) {
    s.cinfo.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = errorExit;
    s.errors.pub.output_message = quietOutput;
    s.errors.pub.emit_message = watchWarnings;
    s.errors.pub.addon_message_table = kAddonMessages;
    s.errors.pub.first_addon_message = kJpegTooManyScans;
    s.errors.pub.last_addon_message = kJpegCancelled;
    s.errors.inputSize = input.size;
    s.errors.delivered = input.fd >= 0 ? &s.file.delivered : nullptr;
    if (setjmp(s.errors.jump)) return s.errors.pub.msg_code;

    jpeg_create_decompress(&s.cinfo);
    s.progress.pub.progress_monitor = watchProgress;
    s.cinfo.progress = &s.progress.pub;
    if (input.fd >= 0) {
        s.file.fd = input.fd;
        s.file.stop = &s.progress.stop;
        s.file.buffer = std::make_unique_for_overwrite<uint8_t[]>(kReadChunk);
        s.file.pub.init_source = initSource;
        s.file.pub.fill_input_buffer = fillInput;
        s.file.pub.skip_input_data = skipInput;
        s.file.pub.resync_to_restart = jpeg_resync_to_restart;
        s.file.pub.term_source = termSource;
        s.cinfo.src = &s.file.pub;
    } else {
        jpeg_mem_src(&s.cinfo, input.memory.data(),
                     static_cast<unsigned long>(input.memory.size()));
    }
    // APP1 segments are kept for the EXIF orientation (a segment is at most 64 KiB).
    jpeg_save_markers(&s.cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&s.cinfo, TRUE);
    for (jpeg_saved_marker_ptr m = s.cinfo.marker_list; m && s.orientation == 0; m = m->next)
        if (m->marker == JPEG_APP0 + 1) s.orientation = ExifOrientation({m->data, m->data_length});
    checkBitmapSize(s.cinfo.image_width, s.cinfo.image_height, maxPixels);
    // Huffman-coded sequential data spends at least two bits on every block of a scan, and every
    // file has a scan: a file below that for its smallest component breaks off early, and the
    // rule in watchWarnings would refuse it then; refuse it now, before the pixels are allocated.
    if (!s.cinfo.progressive_mode && !s.cinfo.arith_code) {
        uint64_t fewest = UINT64_MAX;
        for (int i = 0; i < s.cinfo.num_components; ++i)
            fewest = std::min(fewest, blocksOf(s.cinfo.comp_info[i]));
        if (input.size < fewest / 4) return JWRN_JPEG_EOF;
    }
    if (!out) return kDecoded;

    const bool cmyk = s.cinfo.jpeg_color_space == JCS_CMYK || s.cinfo.jpeg_color_space == JCS_YCCK;
    s.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    // The library may use what the pixels leave of the limit; its buffers for a whole picture
    // (all coefficients of a progressive file) are then refused before they are allocated.
    const int64_t pixelBytes =
        WorkBitmap::strideFor(static_cast<int32_t>(s.cinfo.image_width)) * s.cinfo.image_height;
    if (pixelBytes >= kJpegMemoryLimit) return JERR_NO_BACKING_STORE;
    s.cinfo.mem->max_memory_to_use = static_cast<long>(kJpegMemoryLimit - pixelBytes);
    jpeg_start_decompress(&s.cinfo);

    const JDIMENSION width = s.cinfo.output_width;
    const JDIMENSION height = s.cinfo.output_height;
    out->resizeForOverwrite(static_cast<int32_t>(width), static_cast<int32_t>(height), maxPixels);
    if (cmyk) s.cmykRow.resize(static_cast<size_t>(width) * 4);
    while (s.cinfo.output_scanline < height) {
        const JDIMENSION y = s.cinfo.output_scanline;
        uint8_t* row = out->data() + out->stride() * y;
        if (cmyk) {
            JSAMPROW in = s.cmykRow.data();
            if (jpeg_read_scanlines(&s.cinfo, &in, 1) != 1) return JERR_INPUT_EOF;
            cmykRowToBgr(s.cmykRow.data(), row, width, s.cinfo.saw_Adobe_marker);
            continue;
        }
        // As many rows a call as the library produces at once, written straight into the bitmap.
        JSAMPROW rows[4];
        const JDIMENSION want = std::min<JDIMENSION>(
            {height - y, 4, static_cast<JDIMENSION>(std::max(1, s.cinfo.rec_outbuf_height))});
        for (JDIMENSION i = 0; i < want; ++i) rows[i] = row + out->stride() * i;
        if (jpeg_read_scanlines(&s.cinfo, rows, want) == 0) return JERR_INPUT_EOF;
    }
    jpeg_finish_decompress(&s.cinfo);
    return kDecoded;
}

std::unique_ptr<WorkBitmap> decode(const Input& input, int64_t maxPixels, int maxScans,
                                   int64_t maxScanBlocks, std::stop_token stop) {
    throwIfStopped(stop);
    auto bitmap = NewWorkBitmap();
    Session session;
    session.progress.maxScans = maxScans;
    session.progress.maxScanBlocks = maxScanBlocks;
    session.progress.stop = std::move(stop);
    const int code = decodeInto(session, input, bitmap.get(), maxPixels);
    if (code == kJpegCancelled) throw PictureLoadCancelled();
    if (code != kDecoded) throw Error(format("JPEG error #%d", code));
    throwIfStopped(session.progress.stop);
    OrientBitmap(*bitmap, session.orientation);
    return bitmap;
}

} // namespace

std::unique_ptr<WorkBitmap> DecodeJpeg(std::span<const uint8_t> data, int64_t maxPixels,
                                       int maxScans, std::stop_token stop, int64_t maxScanBlocks) {
    return decode({data, -1, data.size()}, maxPixels, maxScans, maxScanBlocks, std::move(stop));
}

std::unique_ptr<WorkBitmap> ReadJpeg(int fd, uint64_t fileSize, int64_t maxPixels, int maxScans,
                                     std::stop_token stop, int64_t maxScanBlocks) {
    return decode({{}, fd, fileSize}, maxPixels, maxScans, maxScanBlocks, std::move(stop));
}

JpegPlan PlanJpeg(std::span<const uint8_t> data, int64_t maxPixels) {
    Session session;
    session.progress.maxScans = kDefaultMaxJpegScans;
    session.progress.maxScanBlocks = kDefaultMaxJpegScanBlocks;
    if (const int code = decodeInto(session, {data, -1, data.size()}, nullptr, maxPixels);
        code != kDecoded)
        throw Error(format("JPEG error #%d", code));
    return {static_cast<int32_t>(session.cinfo.image_width),
            static_cast<int32_t>(session.cinfo.image_height)};
}

} // namespace tarnwick
