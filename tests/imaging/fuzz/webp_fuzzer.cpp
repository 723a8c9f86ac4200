// libFuzzer target with the product's own size limits: any input either decodes or fails with
// the decoder's own error.
#include "imaging/webp_decoder.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        tarnwick::DecodeWebp({data, size}, tarnwick::kMaxBitmapPixels);
    } catch (const tarnwick::Error&) {
    }
    return 0;
}
