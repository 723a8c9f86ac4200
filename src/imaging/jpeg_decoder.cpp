#include "imaging/jpeg_decoder.h"

#include "platform/error.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <vector>

// libjpeg's headers need <cstdio> first.
#include <jerror.h>
#include <jpeglib.h>

#ifndef JCS_EXTENSIONS
#error "libjpeg-turbo's extended colour spaces are needed (JCS_EXT_BGR)"
#endif

namespace tarnwick {

namespace {

const char* const kAddonMessages[] = {"Too many scans"};

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct ProgressManager {
    jpeg_progress_mgr pub;
    int maxScans;
};

void errorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void quietOutput(j_common_ptr) {}

void watchScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    const auto* progress = reinterpret_cast<ProgressManager*>(cinfo->progress);
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > progress->maxScans) {
        cinfo->err->msg_code = kJpegTooManyScans;
        cinfo->err->error_exit(cinfo);
    }
}

// Everything that must outlive a longjmp lives here, in the caller's frame, and is released by
// its destructor whichever way the decode ends.
struct Session {
    jpeg_decompress_struct cinfo{};
    ErrorManager errors{};
    ProgressManager progress{};
    std::vector<uint8_t> cmykRow;
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
int decodeInto(Session& s, std::span<const uint8_t> data, WorkBitmap& out, int64_t maxPixels) {
    s.cinfo.err = jpeg_std_error(&s.errors.pub);
    s.errors.pub.error_exit = errorExit;
    s.errors.pub.output_message = quietOutput;
    s.errors.pub.addon_message_table = kAddonMessages;
    s.errors.pub.first_addon_message = kJpegTooManyScans;
    s.errors.pub.last_addon_message = kJpegTooManyScans;
    if (setjmp(s.errors.jump)) return s.errors.pub.msg_code;

    jpeg_create_decompress(&s.cinfo);
    s.progress.pub.progress_monitor = watchScans;
    s.cinfo.progress = &s.progress.pub;
    jpeg_mem_src(&s.cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&s.cinfo, TRUE);
    checkBitmapSize(s.cinfo.image_width, s.cinfo.image_height, maxPixels);

    const bool cmyk = s.cinfo.jpeg_color_space == JCS_CMYK || s.cinfo.jpeg_color_space == JCS_YCCK;
    s.cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&s.cinfo);

    const JDIMENSION width = s.cinfo.output_width;
    const JDIMENSION height = s.cinfo.output_height;
    out.resizeForOverwrite(static_cast<int32_t>(width), static_cast<int32_t>(height), maxPixels);
    if (cmyk) s.cmykRow.resize(static_cast<size_t>(width) * 4);
    while (s.cinfo.output_scanline < height) {
        const JDIMENSION y = s.cinfo.output_scanline;
        uint8_t* row = out.data() + out.stride() * y;
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
        for (JDIMENSION i = 0; i < want; ++i) rows[i] = row + out.stride() * i;
        if (jpeg_read_scanlines(&s.cinfo, rows, want) == 0) return JERR_INPUT_EOF;
    }
    jpeg_finish_decompress(&s.cinfo);
    return kDecoded;
}

} // namespace

std::unique_ptr<WorkBitmap> DecodeJpeg(std::span<const uint8_t> data, int64_t maxPixels,
                                       int maxScans) {
    auto bitmap = NewWorkBitmap();
    Session session;
    session.progress.maxScans = maxScans;
    if (const int code = decodeInto(session, data, *bitmap, maxPixels); code != kDecoded)
        throw Error(format("JPEG error #%d", code));
    return bitmap;
}

} // namespace tarnwick
