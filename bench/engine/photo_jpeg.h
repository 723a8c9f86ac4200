#pragma once
// Test pictures for the picture-change benchmarks, written by cjpeg from libjpeg-turbo-progs.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick::bench {

// Value noise summed over octaves from 512 down to 2 pixels, finer ones weaker: smooth areas with
// detail at every scale, as in a photo. Roughly -1..1.
inline std::vector<float> fractalField(int w, int h, std::mt19937& gen) {
    std::vector<float> field(static_cast<size_t>(w) * h, 0.0f);
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    float total = 0;
    for (int cell = 512; cell >= 2; cell /= 2) {
        const float amp = std::sqrt(static_cast<float>(cell));
        total += amp;
        const int gw = w / cell + 2, gh = h / cell + 2;
        std::vector<float> grid(static_cast<size_t>(gw) * gh);
        for (float& g : grid) g = uniform(gen);
        for (int y = 0; y < h; ++y) {
            const int gy = y / cell;
            const float fy = static_cast<float>(y % cell) / cell;
            const float* r0 = &grid[static_cast<size_t>(gy) * gw];
            const float* r1 = r0 + gw;
            float* out = &field[static_cast<size_t>(y) * w];
            for (int x = 0; x < w; ++x) {
                const int gx = x / cell;
                const float fx = static_cast<float>(x % cell) / cell;
                const float top = r0[gx] + (r0[gx + 1] - r0[gx]) * fx;
                const float bottom = r1[gx] + (r1[gx + 1] - r1[gx]) * fx;
                out[x] += amp * (top + (bottom - top) * fy);
            }
        }
    }
    for (float& v : field) v /= total * 0.5f;
    return field;
}

// A photo-like picture as a quality-90 JPEG made by cjpeg (4:2:0, like a camera's), through a
// temporary PPM beside it.
inline void makePhotoJpeg(const std::string& jpegPath, const std::string& ppmPath, int width,
                          int height) {
    std::mt19937 gen(7);
    const std::vector<float> light = fractalField(width, height, gen);
    const std::vector<float> warm = fractalField(width, height, gen);
    const std::vector<float> green = fractalField(width, height, gen);
    std::vector<uint8_t> rgb(light.size() * 3);
    // Grain like a sensor's: mostly in the brightness, a little in each channel.
    std::normal_distribution<float> grain(0.0f, 5.0f), tint(0.0f, 2.0f);
    auto clamp = [](float v) { return static_cast<uint8_t>(std::clamp(v, 0.0f, 255.0f)); };
    for (size_t i = 0; i < light.size(); ++i) {
        const float l = 120 + 80 * light[i] + grain(gen);
        rgb[3 * i] = clamp(l + 35 * warm[i] + tint(gen));
        rgb[3 * i + 1] = clamp(l + 25 * green[i] + tint(gen));
        rgb[3 * i + 2] = clamp(l - 35 * warm[i] + tint(gen));
    }
    {
        std::ofstream ppm(ppmPath, std::ios::binary);
        ppm << "P6\n" << width << ' ' << height << "\n255\n";
        ppm.write(reinterpret_cast<const char*>(rgb.data()),
                  static_cast<std::streamsize>(rgb.size()));
    }
    const std::string command = "cjpeg -quality 90 -outfile '" + jpegPath + "' '" + ppmPath + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("cjpeg failed");
    std::filesystem::remove(ppmPath);
}

// A large picture streamed row by row into cjpeg (baseline, or progressive as cameras and the web
// often write them): smooth gradients with per-pixel grain, so that the file is not trivially
// small; only one row is held in memory here.
inline void makeLargeJpeg(const std::string& jpegPath, int width, int height, bool progressive) {
    const std::string command = std::string("cjpeg -quality 90 ") +
                                (progressive ? "-progressive " : "") + "-outfile '" + jpegPath +
                                "'";
    FILE* pipe = popen(command.c_str(), "w");
    if (!pipe) throw std::runtime_error("cannot run cjpeg");
    std::fprintf(pipe, "P6\n%d %d\n255\n", width, height);
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>(seed >> 28) - 8;
            const int r = 128 + static_cast<int>(100 * std::sin(x * 0.0011 + y * 0.0003)) + grain;
            const int g = 128 + static_cast<int>(90 * std::cos(y * 0.0013 - x * 0.0002)) + grain;
            const int b = 128 + static_cast<int>(80 * std::sin((x + y) * 0.0007)) + grain;
            row[3 * static_cast<size_t>(x)] = static_cast<uint8_t>(std::clamp(r, 0, 255));
            row[3 * static_cast<size_t>(x) + 1] = static_cast<uint8_t>(std::clamp(g, 0, 255));
            row[3 * static_cast<size_t>(x) + 2] = static_cast<uint8_t>(std::clamp(b, 0, 255));
        }
        std::fwrite(row.data(), 1, row.size(), pipe);
    }
    if (pclose(pipe) != 0) throw std::runtime_error("cjpeg failed");
}

} // namespace tarnwick::bench
