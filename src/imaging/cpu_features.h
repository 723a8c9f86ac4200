#pragma once
// The processor features the pixel loops choose their versions by, found once per process.
//
// For testing only: TARNWICK_CPU_FALLBACKS names features to treat as missing, so the fallback
// loops run on a processor that has them: "all", or a comma list of "ssse3", "avx2" and "fma".
#include <string_view>

namespace tarnwick {

struct CpuFeatures {
    bool ssse3 = false;
    bool avx2 = false;
    bool fma = false;
};

// The features of this processor less those the environment turns off.
const CpuFeatures& cpuFeatures();

// `detected` less the features `fallbacks` names (the variable's syntax). Throws
// std::invalid_argument on a name it does not know, so a misspelt override never passes for one.
CpuFeatures withFallbacks(CpuFeatures detected, std::string_view fallbacks);

} // namespace tarnwick
