// Writes the decoders' seed corpus: DIR/<kind>-seeds for bmp, jpeg, png and webp, and
// DIR/plan-seeds (the hostile files) for the header-check fuzzer, plus an empty DIR/<kind> for
// what each fuzzer finds.
#include "fuzz/seed_corpus.h"
#include "support/pictures.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path dir = argv[1];
    const struct {
        const char* kind;
        std::vector<tarnwick::testing::Seed> seeds;
    } sets[] = {{"bmp", tarnwick::testing::bmpSeeds()},
                {"jpeg", tarnwick::testing::jpegSeeds()},
                {"png", tarnwick::testing::pngSeeds()},
                {"webp", tarnwick::testing::webpSeeds()},
                {"plan", tarnwick::testing::hostileSeeds()}};
    for (const auto& set : sets) {
        const fs::path seeds = dir / (std::string(set.kind) + "-seeds");
        fs::create_directories(seeds);
        fs::create_directories(dir / set.kind);
        for (const auto& s : set.seeds)
            tarnwick::testing::writeFile((seeds / s.name).string(), s.bytes);
    }
    return 0;
}
