#include "imaging/cpu_features.h"

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace tarnwick {

namespace {

CpuFeatures detect() {
    CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    f.ssse3 = __builtin_cpu_supports("ssse3");
    f.avx2 = __builtin_cpu_supports("avx2");
    f.fma = __builtin_cpu_supports("fma");
#endif
    return f;
}

} // namespace

CpuFeatures withFallbacks(CpuFeatures detected, std::string_view fallbacks) {
    size_t start = 0;
    while (start <= fallbacks.size()) {
        size_t end = fallbacks.find(',', start);
        if (end == std::string_view::npos) end = fallbacks.size();
        const std::string_view name = fallbacks.substr(start, end - start);
        if (name == "all")
            detected = {};
        else if (name == "ssse3")
            detected.ssse3 = false;
        else if (name == "avx2")
            detected.avx2 = false;
        else if (name == "fma")
            detected.fma = false;
        else if (!name.empty())
            throw std::invalid_argument("unknown processor feature \"" + std::string(name) + "\"");
        start = end + 1;
    }
    return detected;
}

const CpuFeatures& cpuFeatures() {
    static const CpuFeatures features = [] {
        const char* fallbacks = std::getenv("TARNWICK_CPU_FALLBACKS");
        if (!fallbacks) return detect();
        try {
            return withFallbacks(detect(), fallbacks);
        } catch (const std::invalid_argument& e) {
            // A test run that asked for fallbacks must not quietly run the fast loops instead.
            std::fprintf(stderr, "TARNWICK_CPU_FALLBACKS: %s\n", e.what());
            std::abort();
        }
    }();
    return features;
}

} // namespace tarnwick
