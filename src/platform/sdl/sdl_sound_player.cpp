#include "platform/sdl/sdl_sound_player.h"

#include <SDL.h>

#include <dlfcn.h>

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

namespace tarnwick::platform {
namespace {

// The program's clips are all in this format, so the device is opened in it and SDL converts
// to whatever the hardware takes.
constexpr int kDeviceRate = 11025;
constexpr SDL_AudioFormat kDeviceFormat = AUDIO_U8;
constexpr Uint8 kDeviceChannels = 1;
constexpr Uint16 kDeviceBufferFrames = 256; // about 23 ms: a new clip starts without delay

uint16_t le16(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t le32(std::span<const uint8_t> b, size_t at) {
    return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
           (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

bool hasId(std::span<const uint8_t> b, size_t at, std::string_view id) {
    return std::string_view(reinterpret_cast<const char*>(b.data() + at), 4) == id;
}

std::optional<SDL_AudioFormat> sdlFormat(const WaveClip& clip) {
    if (clip.formatTag != 1 || clip.channels == 0 || clip.channels > 8 || clip.sampleRate == 0)
        return std::nullopt;
    if (clip.bitsPerSample == 8) return AUDIO_U8;
    if (clip.bitsPerSample == 16) return AUDIO_S16LSB;
    return std::nullopt;
}

// ALSA reports every failed probe of a missing sound card on stderr (nine lines on a machine
// without one). SDL loads the library at run time; loading it first lets us set its error
// handler, which is process-wide. The handle is kept: unloading would drop the handler.
void ignoreAlsaMessage(const char*, int, const char*, int, const char*, ...) {}

void silenceAlsa() {
    static const bool done = [] {
        void* lib = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) return false;
        using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
        using SetHandler = int (*)(Handler);
        auto set = reinterpret_cast<SetHandler>(dlsym(lib, "snd_lib_error_set_handler"));
        if (set == nullptr) return false;
        set(ignoreAlsaMessage);
        return true;
    }();
    (void)done;
}

} // namespace

std::optional<WaveClip> parseWaveClip(std::span<const uint8_t> bytes) {
    if (bytes.size() < 12 || !hasId(bytes, 0, "RIFF") || !hasId(bytes, 8, "WAVE"))
        return std::nullopt;
    const uint32_t riffSize = le32(bytes, 4);
    if (riffSize < 4 || riffSize > bytes.size() - 8) return std::nullopt;
    const std::span<const uint8_t> body = bytes.subspan(12, riffSize - 4);

    WaveClip clip;
    bool haveFormat = false;
    bool haveData = false;
    size_t pos = 0;
    while (body.size() - pos >= 8) {
        const uint32_t size = le32(body, pos + 4);
        if (size > body.size() - pos - 8) return std::nullopt;
        const std::span<const uint8_t> payload = body.subspan(pos + 8, size);
        if (hasId(body, pos, "fmt ") && !haveFormat) {
            if (size < 16) return std::nullopt;
            clip.formatTag = le16(payload, 0);
            clip.channels = le16(payload, 2);
            clip.sampleRate = le32(payload, 4);
            clip.bitsPerSample = le16(payload, 14);
            haveFormat = true;
        } else if (hasId(body, pos, "data") && !haveData) {
            clip.samples = payload;
            haveData = true;
        }
        // Odd-sized chunks are followed by a pad byte; a missing pad after the last one is
        // harmless.
        pos += 8 + static_cast<size_t>(size) + (size & 1u);
        if (pos > body.size()) break;
    }
    if (!haveFormat || !haveData) return std::nullopt;
    return clip;
}

// The audio subsystem and the one open device; both released in reverse order.
struct SdlSoundPlayer::Device {
    bool subsystem = false;
    SDL_AudioDeviceID id = 0;
    SDL_AudioSpec obtained{};
    std::string driver;

    ~Device() { close(); }

    bool open() {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        subsystem = true;
        SDL_AudioSpec want{};
        want.freq = kDeviceRate;
        want.format = kDeviceFormat;
        want.channels = kDeviceChannels;
        want.samples = kDeviceBufferFrames;
        want.callback = nullptr; // clips are queued
        // No allowed changes: SDL converts from this format to the hardware's itself.
        id = SDL_OpenAudioDevice(nullptr, 0, &want, &obtained, 0);
        if (id == 0) {
            close();
            return false;
        }
        const char* name = SDL_GetCurrentAudioDriver();
        driver = name != nullptr ? name : "";
        // Running from start-up: some servers take a while before a new stream sounds.
        SDL_PauseAudioDevice(id, 0);
        return true;
    }

    void close() {
        if (id != 0) SDL_CloseAudioDevice(id);
        id = 0;
        if (subsystem) SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystem = false;
        driver.clear();
    }

    // `clip` in the device's format: its own samples when they already are, else a converted
    // copy in `storage`. Empty when it cannot be converted.
    std::span<const uint8_t> samplesFor(const WaveClip& clip, std::vector<uint8_t>& storage) const {
        const std::optional<SDL_AudioFormat> format = sdlFormat(clip);
        if (!format) return {};
        const size_t frame = static_cast<size_t>(clip.channels) * (clip.bitsPerSample / 8u);
        const std::span<const uint8_t> whole =
            clip.samples.first(clip.samples.size() - clip.samples.size() % frame);
        if (whole.size() > static_cast<size_t>(std::numeric_limits<int>::max() / 16)) return {};
        SDL_AudioCVT cvt;
        const int needed = SDL_BuildAudioCVT(&cvt, *format, static_cast<Uint8>(clip.channels),
                                             static_cast<int>(clip.sampleRate), obtained.format,
                                             obtained.channels, obtained.freq);
        if (needed < 0) return {};
        if (needed == 0) return whole;
        cvt.len = static_cast<int>(whole.size());
        storage.assign(whole.size() * static_cast<size_t>(cvt.len_mult), 0);
        std::copy(whole.begin(), whole.end(), storage.begin());
        cvt.buf = storage.data();
        if (SDL_ConvertAudio(&cvt) != 0) return {};
        storage.resize(static_cast<size_t>(cvt.len_cvt));
        return storage;
    }
};

SdlSoundPlayer::SdlSoundPlayer(ClipSource clips, bool libraryMessages)
    : clips_(std::move(clips)), device_(std::make_unique<Device>()),
      libraryMessages_(libraryMessages) {}

SdlSoundPlayer::~SdlSoundPlayer() = default;

void SdlSoundPlayer::openDevice() {
    opened_ = true;
    if (!libraryMessages_) silenceAlsa();
    // SDL's audio start-up brings up its event subsystem, which would otherwise take over SIGINT
    // and SIGTERM and turn them into events nobody reads: the saver could not be stopped.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Tarnwick Screensaver");
    if (device_->open()) return;
    // No usable device (no sound card, no sound server): play into nothing rather than fail.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
    device_->open();
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
}

void SdlSoundPlayer::play(int id) {
    if (!clips_) return;
    const std::optional<WaveClip> clip = parseWaveClip(clips_(id));
    if (!clip) return;
    if (!opened_) openDevice();
    if (device_->id == 0) return;
    std::vector<uint8_t> storage;
    const std::span<const uint8_t> samples = device_->samplesFor(*clip, storage);
    if (samples.empty()) return;
    // Under the device lock the audio thread sees either the old clip or the whole new one.
    SDL_LockAudioDevice(device_->id);
    SDL_ClearQueuedAudio(device_->id);
    SDL_QueueAudio(device_->id, samples.data(), static_cast<Uint32>(samples.size()));
    SDL_UnlockAudioDevice(device_->id);
}

const std::string& SdlSoundPlayer::driver() const {
    return device_->driver;
}

std::size_t SdlSoundPlayer::queuedBytes() const {
    return device_->id != 0 ? SDL_GetQueuedAudioSize(device_->id) : 0;
}

} // namespace tarnwick::platform
