#pragma once
// Shared by the sound tests: where the samples sit in a clip laid out as stated, and a private
// temporary folder.
#include "resources/sounds.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace tarnwick::soundtest {

constexpr int kSampleRate = 11025;
constexpr size_t kClip1Samples = 1173;
constexpr size_t kClip2Samples = 21330;
// RIFF header (12) + "fmt " (8 + 16) + "fact" (8 + 4) + the "data" header (8).
constexpr size_t kDataOffset = 56;

inline size_t statedSampleCount(int id) {
    return id == 1 ? kClip1Samples : kClip2Samples;
}

// The samples of clip `id`, by the stated layout; empty if the clip is too short for it.
inline std::span<const uint8_t> statedSamples(int id) {
    const std::span<const uint8_t> wave = soundResource(id);
    const size_t count = statedSampleCount(id);
    if (wave.size() < kDataOffset + count) return {};
    return wave.subspan(kDataOffset, count);
}

class TempDir {
public:
    TempDir() {
        path_ = std::filesystem::temp_directory_path() /
                ("tarnwick-sound-" + std::to_string(::getpid()) + "-" + std::to_string(next()++));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    static int& next() {
        static int counter = 0;
        return counter;
    }
    std::filesystem::path path_;
};

inline void writeBytes(const std::filesystem::path& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace tarnwick::soundtest
