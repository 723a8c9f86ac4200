// The compiled-in clips as other programs read them: Python's wave module and sox.
#include "sound_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>

namespace tarnwick::soundtest {
namespace {

struct Command {
    int status;
    std::string output;
};

Command run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
    if (!pipe) return {-1, ""};
    std::string output;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) output.append(buffer, n);
    return {pclose(pipe.release()), output};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string hex(std::span<const uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

struct StatedLayout {
    int id;
    std::vector<std::string> description; // what read_wave.py prints before the frames
};

class WaveFileTest : public ::testing::TestWithParam<StatedLayout> {};

TEST_P(WaveFileTest, IndependentReaderSeesTheStatedLayout) {
    const StatedLayout& stated = GetParam();
    TempDir dir;
    const auto path = dir / "clip.wav";
    writeBytes(path, soundResource(stated.id));

    const Command python =
        run("python3 '" TARNWICK_SOURCE_DIR "/tests/sound/read_wave.py' '" + path.string() + "'");
    ASSERT_EQ(python.status, 0) << python.output;
    std::vector<std::string> got = lines(python.output);
    ASSERT_EQ(got.size(), stated.description.size() + 1) << python.output;
    for (size_t i = 0; i < stated.description.size(); ++i) EXPECT_EQ(got[i], stated.description[i]);
    // The frames Python decodes are exactly the samples at the stated offset.
    EXPECT_EQ(got.back(), "frames " + hex(statedSamples(stated.id)));
}

TEST_P(WaveFileTest, SoxSeesUnsignedEightBitMono) {
    TempDir dir;
    const auto path = dir / "clip.wav";
    writeBytes(path, soundResource(GetParam().id));
    const std::string file = " '" + path.string() + "'";
    const std::vector<std::pair<std::string, std::string>> queries = {
        {"-t", "wav"},
        {"-c", "1"},
        {"-r", "11025"},
        {"-b", "8"},
        {"-e", "Unsigned Integer PCM"},
        {"-s", std::to_string(statedSampleCount(GetParam().id))},
    };
    for (const auto& [flag, expected] : queries) {
        const Command sox = run("sox --i " + flag + file);
        EXPECT_EQ(sox.status, 0) << sox.output;
        EXPECT_EQ(sox.output, expected + "\n") << "sox --i " << flag;
    }
}

const char* const kFormat =
    "chunk fmt  16 tag=1 channels=1 rate=11025 byterate=11025 align=1 bits=8";

INSTANTIATE_TEST_SUITE_P(
    Clips, WaveFileTest,
    ::testing::Values(
        // 12 + 24 + 12 + 8 + 1173 + 1 pad byte = 1230.
        StatedLayout{1,
                     {"size 1230", "header RIFF 1222 WAVE", kFormat, "chunk fact 4 samples=1173",
                      "chunk data 1173", "end 1230", "wave 1 1 11025 1173 NONE"}},
        StatedLayout{2,
                     {"size 21502", "header RIFF 21494 WAVE", kFormat, "chunk fact 4 samples=21330",
                      "chunk data 21330", "chunk alia 34 zero", "chunk mark 66 zero", "end 21502",
                      "wave 1 1 11025 21330 NONE"}}),
    [](const auto& info) { return "Sound" + std::to_string(info.param.id); });

TEST(SoundResource, UnknownIdsHaveNoClip) {
    for (int id : {0, 3, -1, 1000}) EXPECT_TRUE(soundResource(id).empty()) << id;
}

} // namespace
} // namespace tarnwick::soundtest
