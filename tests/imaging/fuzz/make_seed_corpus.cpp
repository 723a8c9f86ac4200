// Writes the decoders' seed corpus: DIR/bmp-seeds and DIR/jpeg-seeds, and DIR/plan-seeds (both
// kinds and the hostile files) for the header-check fuzzer, plus empty DIR/bmp, DIR/jpeg and
// DIR/plan for what the fuzzers find.
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
