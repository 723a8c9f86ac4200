#include "resources/sounds.h"

#include "resources/sound_bytes.h"

namespace tarnwick {

std::span<const uint8_t> soundResource(int id) {
    switch (id) {
    case kNewPictureSound:
        return resources::kSound1Wave;
    case kNewTargetSound:
        return resources::kSound2Wave;
    default:
        return {};
    }
}

} // namespace tarnwick
