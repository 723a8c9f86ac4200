// The SDL sound player, heard through SDL's "disk" driver: it writes every byte it plays to a
// file in real time, so the file tells what was started and what replaced it.
#include "platform/sdl/sdl_sound_player.h"
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

namespace tarnwick::soundtest {
namespace {

using platform::SdlSoundPlayer;
using platform::WaveClip;

constexpr uint8_t kSilence = 0x80; // unsigned 8-bit midpoint

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Polls until `done` holds; false after a few seconds, so a stuck device fails instead of hanging.
template <typename Pred> bool waitFor(Pred done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::vector<uint8_t> asVector(std::span<const uint8_t> s) {
    return {s.begin(), s.end()};
}

bool allSilent(std::span<const uint8_t> s) {
    return std::all_of(s.begin(), s.end(), [](uint8_t b) { return b == kSilence; });
}

// Offset of `clip` in `output`, or npos when it is absent or occurs twice.
size_t findOnce(const std::vector<uint8_t>& output, std::span<const uint8_t> clip) {
    const auto first = std::search(output.begin(), output.end(), clip.begin(), clip.end());
    if (first == output.end()) return std::string::npos;
    if (std::search(first + 1, output.end(), clip.begin(), clip.end()) != output.end())
        return std::string::npos;
    return static_cast<size_t>(first - output.begin());
}

class DiskPlayerTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string outputPath = (dir / "played.raw").string();
    ScopedEnv driver{"SDL_AUDIODRIVER", "disk"};
    ScopedEnv file{"SDL_DISKAUDIOFILE", outputPath.c_str()};

    std::unique_ptr<SdlSoundPlayer> makePlayer(platform::ClipSource clips = soundResource) {
        return std::make_unique<SdlSoundPlayer>(std::move(clips));
    }
    // Closing the device finishes the file.
    std::vector<uint8_t> finish(std::unique_ptr<SdlSoundPlayer>& player) {
        EXPECT_EQ(player->driver(), "disk");
        EXPECT_TRUE(waitFor([&] { return player->queuedBytes() == 0; }));
        player.reset();
        return readBytes(outputPath);
    }
};

TEST_F(DiskPlayerTest, PlaysTheClipsSamplesOnceAndSilenceAroundThem) {
    auto player = makePlayer();
    player->play(1);
    const auto output = finish(player);
    const auto clip = statedSamples(1);
    const size_t at = findOnce(output, clip);
    ASSERT_NE(at, std::string::npos) << "clip 1 played exactly once, byte for byte";
    EXPECT_TRUE(allSilent(std::span(output).first(at)));
    EXPECT_TRUE(allSilent(std::span(output).subspan(at + clip.size())));
}

// A run that plays nothing never opens the device: no sound-system messages, no slow close.
TEST_F(DiskPlayerTest, OpensTheDeviceOnlyForTheFirstPlayableClip) {
    auto player = makePlayer();
    player->play(7); // no such clip
    EXPECT_EQ(player->driver(), "");
    EXPECT_FALSE(std::filesystem::exists(outputPath));
    player->play(1);
    EXPECT_EQ(player->driver(), "disk");
    EXPECT_TRUE(std::filesystem::exists(outputPath));
}

TEST_F(DiskPlayerTest, PlayReturnsWhileTheClipIsStillQueued) {
    auto player = makePlayer();
    player->play(2);
    // Waiting for the clip would have drained its 1.9 s; at most a moment's worth is gone.
    EXPECT_GT(player->queuedBytes(), kClip2Samples / 2);
}

TEST_F(DiskPlayerTest, NewSoundReplacesOneStillPlaying) {
    auto player = makePlayer();
    player->play(2);
    constexpr size_t kHeard = 2000; // about 0.18 s of sound 2
    ASSERT_TRUE(waitFor([&] { return player->queuedBytes() <= kClip2Samples - kHeard; }));
    player->play(1);
    EXPECT_LE(player->queuedBytes(), kClip1Samples) << "what was left of sound 2 is gone";
    const auto output = finish(player);

    const auto clip1 = statedSamples(1);
    const auto clip2 = statedSamples(2);
    const size_t at = findOnce(output, clip1);
    ASSERT_NE(at, std::string::npos);
    EXPECT_TRUE(allSilent(std::span(output).subspan(at + clip1.size())));
    // Before sound 1: silence, then the start of sound 2 up to the moment it was cut off.
    std::optional<size_t> heard;
    for (size_t lead = 0; lead <= at && (lead == 0 || output[lead - 1] == kSilence); ++lead) {
        const size_t length = at - lead;
        if (length <= clip2.size() &&
            std::equal(output.begin() + static_cast<std::ptrdiff_t>(lead),
                       output.begin() + static_cast<std::ptrdiff_t>(at), clip2.begin())) {
            heard = length;
            break;
        }
    }
    ASSERT_TRUE(heard.has_value()) << "sound 2's start, unbroken, just before sound 1";
    EXPECT_GE(*heard, kHeard);
    EXPECT_LT(*heard, clip2.size() / 2) << "sound 2 was cut off";
}

TEST_F(DiskPlayerTest, AnIdWithoutAPlayableClipChangesNothing) {
    const std::vector<uint8_t> broken = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'};
    auto player = makePlayer([&](int id) -> std::span<const uint8_t> {
        return id == 9 ? std::span<const uint8_t>(broken) : soundResource(id);
    });
    player->play(2);
    const size_t queued = player->queuedBytes();
    for (int id : {0, 3, 9}) player->play(id);
    EXPECT_GE(player->queuedBytes() + 1500, queued) << "sound 2 goes on";
    EXPECT_GT(player->queuedBytes(), 0u);
}

// A clip in another format is converted to the device's: 16-bit stereo 22050 Hz at half scale
// becomes 8-bit mono 11025 Hz at 128 + 64, half as many samples.
TEST_F(DiskPlayerTest, ConvertsAClipOfAnotherFormat) {
    constexpr uint32_t kFrames = 2205;
    std::vector<uint8_t> wav;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto id = [&](const char* s) { wav.insert(wav.end(), s, s + 4); };
    id("RIFF");
    put(4 + 24 + 8 + kFrames * 4, 4);
    id("WAVE");
    id("fmt ");
    put(16, 4);
    put(1, 2);
    put(2, 2);
    put(22050, 4);
    put(22050 * 4, 4);
    put(4, 2);
    put(16, 2);
    id("data");
    put(kFrames * 4, 4);
    for (uint32_t i = 0; i < kFrames * 2; ++i) put(0x4000, 2);

    auto player = makePlayer([&](int) { return std::span<const uint8_t>(wav); });
    player->play(1);
    const auto output = finish(player);
    const auto level =
        std::count_if(output.begin(), output.end(), [](uint8_t b) { return b >= 189 && b <= 195; });
    EXPECT_GT(level, 1000);
    EXPECT_LT(level, 1150);
}

// A machine without a usable device: the player falls back to the dummy driver and goes on.
struct NoDevice {
    const char* name;
    const char* driver;
    bool badFile; // the disk driver pointed at a folder that does not exist: its open fails
};

class NoDeviceTest : public ::testing::TestWithParam<NoDevice> {};

TEST_P(NoDeviceTest, FallsBackToTheDummyDriverAndStillAcceptsClips) {
    TempDir dir;
    const std::string missing = (dir / "no-such-folder" / "out.raw").string();
    ScopedEnv driver("SDL_AUDIODRIVER", GetParam().driver);
    ScopedEnv file("SDL_DISKAUDIOFILE", GetParam().badFile ? missing.c_str() : nullptr);
    SdlSoundPlayer player(soundResource);
    player.play(1);
    EXPECT_EQ(player.driver(), "dummy");
    player.play(2);
    EXPECT_GT(player.queuedBytes(), kClip2Samples / 2);
}

INSTANTIATE_TEST_SUITE_P(Drivers, NoDeviceTest,
                         ::testing::Values(NoDevice{"UnknownDriver", "no-such-driver", false},
                                           NoDevice{"DeviceWillNotOpen", "disk", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SdlSoundPlayer, TheFallbackDoesNotStickToTheProcess) {
    {
        ScopedEnv driver("SDL_AUDIODRIVER", "no-such-driver");
        SdlSoundPlayer player(soundResource);
        player.play(1);
        ASSERT_EQ(player.driver(), "dummy");
    }
    TempDir dir;
    const std::string path = (dir / "out.raw").string();
    ScopedEnv driver("SDL_AUDIODRIVER", "disk");
    ScopedEnv file("SDL_DISKAUDIOFILE", path.c_str());
    SdlSoundPlayer player(soundResource);
    player.play(1);
    EXPECT_EQ(player.driver(), "disk");
}

TEST(SdlSoundPlayer, WorksWithWhateverThisMachineHas) {
    ScopedEnv driver("SDL_AUDIODRIVER", nullptr);
    SdlSoundPlayer player(soundResource);
    player.play(2);
    EXPECT_FALSE(player.driver().empty());
    player.play(1);
}

TEST(SdlSoundPlayer, LeavesTheTerminationSignalsToTheProgram) {
    ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
    SdlSoundPlayer player(soundResource);
    player.play(1);
    ASSERT_EQ(player.driver(), "dummy");
    for (int signal : {SIGINT, SIGTERM}) {
        struct sigaction current {};
        ASSERT_EQ(sigaction(signal, nullptr, &current), 0);
        EXPECT_EQ(current.sa_handler, SIG_DFL) << "signal " << signal;
    }
}

// ALSA reports a configuration it cannot read on stderr whether or not there is a sound card.
// Each case runs in a fresh process, before anything has quietened the library.
void playThroughAlsa(bool libraryMessages) {
    ::setenv("SDL_AUDIODRIVER", "alsa", 1);
    ::setenv("ALSA_CONFIG_PATH", "/nonexistent/alsa.conf", 1);
    SdlSoundPlayer player(soundResource, libraryMessages);
    player.play(1);
    std::exit(0);
}

TEST(SdlSoundPlayerDeathTest, KeepsTheSoundLibrarysMessagesOffStderrUnlessAsked) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(playThroughAlsa(true), ::testing::ExitedWithCode(0), "ALSA lib");
    EXPECT_EXIT(playThroughAlsa(false), ::testing::ExitedWithCode(0), "^$");
}

std::vector<uint8_t> withChunkBeforeFormat(std::span<const uint8_t> wave) {
    std::vector<uint8_t> out(wave.begin(), wave.begin() + 12);
    const uint8_t odd[] = {'j', 'u', 'n', 'k', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    out.insert(out.end(), std::begin(odd), std::end(odd));
    out.insert(out.end(), wave.begin() + 12, wave.end());
    const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return out;
}

TEST(ParseWaveClip, ReadsTheProgramsClips) {
    for (int id : {1, 2}) {
        const std::optional<WaveClip> clip = platform::parseWaveClip(soundResource(id));
        ASSERT_TRUE(clip.has_value()) << id;
        EXPECT_EQ(clip->formatTag, 1);
        EXPECT_EQ(clip->channels, 1);
        EXPECT_EQ(clip->sampleRate, 11025u);
        EXPECT_EQ(clip->bitsPerSample, 8);
        EXPECT_EQ(asVector(clip->samples), asVector(statedSamples(id)));
    }
    const auto padded = withChunkBeforeFormat(soundResource(1));
    const std::optional<WaveClip> clip = platform::parseWaveClip(padded);
    ASSERT_TRUE(clip.has_value()) << "an odd chunk and its pad byte are stepped over";
    EXPECT_EQ(asVector(clip->samples), asVector(statedSamples(1)));
}

TEST(ParseWaveClip, RefusesDamagedFiles) {
    const auto good = asVector(soundResource(2));
    auto patched = [&](size_t at, std::vector<uint8_t> bytes) {
        auto copy = good;
        std::copy(bytes.begin(), bytes.end(), copy.begin() + static_cast<std::ptrdiff_t>(at));
        return copy;
    };
    const std::vector<std::pair<const char*, std::vector<uint8_t>>> cases = {
        {"empty", {}},
        {"header only", {good.begin(), good.begin() + 12}},
        {"truncated inside the samples", {good.begin(), good.begin() + 3000}},
        {"not RIFF", patched(0, {'R', 'I', 'F', 'X'})},
        {"not WAVE", patched(8, {'A', 'V', 'I', ' '})},
        {"RIFF size past the end", patched(4, {0xFF, 0xFF, 0, 0})},
        {"data size past the end", patched(52, {0xFF, 0xFF, 0xFF, 0x7F})},
        {"format chunk too short", patched(16, {8, 0, 0, 0})},
        {"no data chunk", patched(48, {'d', 'a', 't', 'x'})},
        {"no format chunk", patched(12, {'f', 'm', 'x', ' '})},
    };
    for (const auto& [name, bytes] : cases)
        EXPECT_FALSE(platform::parseWaveClip(bytes).has_value()) << name;
}

} // namespace
} // namespace tarnwick::soundtest
