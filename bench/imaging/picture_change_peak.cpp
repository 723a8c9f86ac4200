// Peak memory of a picture change: the picture on screen stays alive while the next one loads
// (a failed load keeps it), so the change costs both pictures at once. Writes a photo-like
// WIDTHxHEIGHT JPEG into a temporary folder, loads it once as the shown picture, then loads it
// again as the next one and prints the process's resident memory before, and its peak during,
// that second load.
// Usage: picture_change_peak WIDTH HEIGHT [progressive]
#include "imaging/bitmap.h"
#include "imaging/picture_loader.h"
#include "jpeg_writer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

namespace {

long statusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// Smooth colour gradients with grain, compressed row by row (no full-size source picture, so the
// program's own memory stays small).
std::vector<uint8_t> photoLikeJpeg(int w, int h, bool progressive) {
    std::vector<uint8_t> row(size_t(w) * 3);
    std::mt19937 gen(1);
    return tarnwick::bench::writeJpeg(w, h, JCS_EXT_BGR, 90, progressive, [&](int y) {
        const double v = double(y) / h;
        for (int x = 0; x < w; ++x) {
            const double u = double(x) / w;
            const double ch[3] = {128 + 100 * std::sin(6 * u + 2 * v),
                                  128 + 100 * std::cos(4 * v - 3 * u),
                                  128 + 90 * std::sin(9 * u * v + 1)};
            for (int k = 0; k < 3; ++k)
                row[size_t(3 * x + k)] =
                    uint8_t(std::min(255, std::max(0, int(ch[k]) + int(gen() % 13) - 6)));
        }
        return row.data();
    });
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT [progressive]\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[1]), h = std::atoi(argv[2]);
    const bool progressive = argc > 3 && std::strcmp(argv[3], "progressive") == 0;
    std::string dir = "/tmp/tarnwick-peak-XXXXXX";
    if (!mkdtemp(dir.data())) return 1;
    const std::string path = dir + "/next.jpg";
    long fileBytes = 0;
    {
        const std::vector<uint8_t> file = photoLikeJpeg(w, h, progressive);
        fileBytes = long(file.size());
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    auto shown = tarnwick::LoadPicture(path);
    // Reset the peak to the present resident size, then change the picture.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKilobytes("VmRSS:");
    auto next = tarnwick::LoadPicture(path);
    const long peak = statusKilobytes("VmHWM:");
    const double mib = 1024.0;
    const double picture = double(next->stride()) * next->height() / (1024.0 * 1024.0);
    std::printf("%dx%d %s JPEG, file %.1f MiB, decoded picture %.1f MiB\n", w, h,
                progressive ? "progressive" : "baseline", fileBytes / (1024.0 * 1024.0), picture);
    std::printf("resident with the shown picture: %.1f MiB\n", before / mib);
    std::printf("peak while the next one loads:   %.1f MiB (+%.1f MiB, %.2f pictures)\n",
                peak / mib, (peak - before) / mib, (peak - before) / mib / picture);
    shown.reset();
    next.reset();
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
    return 0;
}
