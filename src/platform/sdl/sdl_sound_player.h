#pragma once
// The sound player over SDL2's audio subsystem (no SDL video): one device opened when the first
// clip is played and kept open, each clip queued on it, a new clip replacing whatever is still
// queued. A run that plays nothing never touches the audio system.
#include "platform/sound.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tarnwick::platform {

// The bytes of the RIFF/WAVE clip with resource id `id`; an empty span for an unknown id.
using ClipSource = std::function<std::span<const uint8_t>(int id)>;

// The parts of a RIFF/WAVE file a player needs.
struct WaveClip {
    uint16_t formatTag = 0; // 1: PCM
    uint16_t channels = 0;
    uint32_t sampleRate = 0;
    uint16_t bitsPerSample = 0;
    std::span<const uint8_t> samples; // the "data" chunk's payload, inside the given bytes
};

// Reads the "fmt " and "data" chunks; nullopt for anything that is not a well-formed RIFF/WAVE
// file (truncated, sizes past the end, a chunk missing).
std::optional<WaveClip> parseWaveClip(std::span<const uint8_t> bytes);

class SdlSoundPlayer final : public SoundPlayer {
public:
    // The first play() opens the default audio device; when that fails, SDL's "dummy" driver, so
    // that a machine without sound goes on silently. Never throws for want of a device. The sound
    // libraries' own messages (ALSA's probing of missing cards) reach stderr only with
    // `libraryMessages`.
    explicit SdlSoundPlayer(ClipSource clips, bool libraryMessages = false);
    ~SdlSoundPlayer() override;
    SdlSoundPlayer(const SdlSoundPlayer&) = delete;
    SdlSoundPlayer& operator=(const SdlSoundPlayer&) = delete;

    // Queues clip `id` in place of anything still playing and returns at once. An id without a
    // playable clip changes nothing.
    void play(int id) override;

    // The audio driver in use ("dummy" after the fallback); empty before the first clip was
    // played, or when no device could be opened, and then play() does nothing.
    const std::string& driver() const;
    // Bytes queued and not yet handed to the device.
    std::size_t queuedBytes() const;

private:
    void openDevice();

    struct Device;
    ClipSource clips_;
    std::unique_ptr<Device> device_;
    bool libraryMessages_;
    bool opened_ = false; // tried once, whatever came of it
};

} // namespace tarnwick::platform
