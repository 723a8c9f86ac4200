#pragma once
// The benches' JPEG writer: libjpeg's compressor over rows of 3-byte pixels given one at a time,
// so that a large picture need not exist whole.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace tarnwick::bench {

// `row(y)` gives row y (`space`: JCS_RGB or JCS_EXT_BGR); `markers(c)` may write markers right
// after the start of image.
template <typename Row, typename Markers>
std::vector<uint8_t> writeJpeg(int width, int height, J_COLOR_SPACE space, int quality,
                               bool progressive, Row row, Markers markers) {
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    if (progressive) jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    markers(c);
    while (c.next_scanline < c.image_height) {
        JSAMPROW r = const_cast<JSAMPLE*>(row(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<uint8_t> file(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return file;
}

template <typename Row>
std::vector<uint8_t> writeJpeg(int width, int height, J_COLOR_SPACE space, int quality,
                               bool progressive, Row row) {
    return writeJpeg(width, height, space, quality, progressive, row, [](jpeg_compress_struct&) {});
}

} // namespace tarnwick::bench
