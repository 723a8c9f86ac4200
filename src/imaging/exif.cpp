#include "imaging/exif.h"

#include <cstring>

namespace tarnwick {

int ExifOrientation(std::span<const uint8_t> app1) {
    constexpr uint8_t kSignature[] = {'E', 'x', 'i', 'f', 0, 0};
    if (app1.size() < sizeof kSignature || std::memcmp(app1.data(), kSignature, 6) != 0) return 0;
    const std::span<const uint8_t> tiff = app1.subspan(sizeof kSignature);
    if (tiff.size() < 8) return 0;
    bool little = false;
    if (tiff[0] == 'I' && tiff[1] == 'I')
        little = true;
    else if (tiff[0] != 'M' || tiff[1] != 'M')
        return 0;
    auto u16 = [&](size_t at) {
        return static_cast<uint32_t>(little ? tiff[at] | tiff[at + 1] << 8
                                            : tiff[at] << 8 | tiff[at + 1]);
    };
    auto u32 = [&](size_t at) {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42) return 0;
    const uint32_t directory = u32(4);
    if (directory < 8 || directory > tiff.size() - 2) return 0;
    const uint32_t count = u16(directory);
    // Entries that would run past the end are not there.
    const size_t present = (tiff.size() - directory - 2) / 12;
    for (size_t i = 0; i < count && i < present; ++i) {
        const size_t entry = directory + 2 + 12 * i;
        if (u16(entry) != 0x0112) continue;
        // A SHORT (type 3), one value, stored in the entry itself.
        if (u16(entry + 2) != 3 || u32(entry + 4) != 1) return 0;
        const uint32_t value = u16(entry + 8);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 0;
    }
    return 0;
}

} // namespace tarnwick
