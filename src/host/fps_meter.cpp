// The counting half of the frame-rate overlay; the drawing half needs Qt and lives in the hack.
#include "host/fps_overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarnwick::hack {

bool FpsMeter::frame(double wall, double cpu) {
    if (!started_) {
        started_ = true, wall0_ = wall, cpu0_ = cpu, frames_ = 0;
        return false;
    }
    ++frames_;
    const double span = wall - wall0_;
    if (span < 1.0) return false;
    fps_ = frames_ / span;
    load_ = std::max(0.0, (cpu - cpu0_) / span);
    wall0_ = wall, cpu0_ = cpu, frames_ = 0;
    return true;
}

std::string FpsMeter::text() const {
    if (fps_ < 0) return {};
    char s[64];
    std::snprintf(s, sizeof s, "FPS: %.1f  Load: %.0f%%", fps_, std::round(load_ * 100));
    return s;
}

} // namespace tarnwick::hack
