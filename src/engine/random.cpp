#include "engine/random.h"

#include <chrono>

namespace tarnwick {

void Random::seedFromClock() {
    ++clockSeedings_;
    seed(static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
}

} // namespace tarnwick
