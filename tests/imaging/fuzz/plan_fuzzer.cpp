// libFuzzer target: the header checks and allocation decisions of both decoders with the
// product's real limits, without decoding. The decoders' own targets cap pictures at 2^22 pixels
// and so never reach the paths that decide about large pictures.
#include "imaging/bitmap.h"
#include "imaging/bmp_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "platform/error.h"

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "plan_fuzzer: %s\n", what);
    std::abort();
}

void withinLimits(int64_t width, int64_t height) {
    require(width >= 0 && height >= 0, "negative size accepted");
    require(width <= tarnwick::kMaxBitmapDimension && height <= tarnwick::kMaxBitmapDimension &&
                width * height <= tarnwick::kMaxBitmapPixels,
            "size beyond the limits accepted");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    try {
        const tarnwick::BmpPlan plan = tarnwick::PlanBmp(bytes, size);
        withinLimits(plan.width, plan.height);
        // An uncompressed picture is allocated only once its rows are known to be in the file,
        // so its bitmap is at most 24 times the file (1 bit to 24 per pixel) plus row padding.
        if (!plan.runLength)
            require(uint64_t(tarnwick::WorkBitmap::strideFor(plan.width)) * uint64_t(plan.height) <=
                        24 * uint64_t(size) + 3 * uint64_t(plan.height),
                    "uncompressed bitmap larger than its file can fill");
    } catch (const tarnwick::Error&) {
    }
    try {
        const tarnwick::JpegPlan plan = tarnwick::PlanJpeg(bytes);
        withinLimits(plan.width, plan.height);
    } catch (const tarnwick::Error&) {
    }
    return 0;
}
