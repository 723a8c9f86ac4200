// libFuzzer target: any input either decodes or fails with the decoder's own error.
#include "imaging/bmp_decoder.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        tarnwick::DecodeBmp({data, size}, int64_t{1} << 22);
    } catch (const tarnwick::Error&) {
    }
    return 0;
}
