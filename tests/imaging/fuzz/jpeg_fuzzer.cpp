// libFuzzer target: any input either decodes or fails with the decoder's own error.
#include "imaging/jpeg_decoder.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        tarnwick::DecodeJpeg({data, size}, int64_t{1} << 22, 100);
    } catch (const tarnwick::Error&) {
    }
    return 0;
}
