#pragma once
// A sound player that plays nothing and records which sound was started, and when.
#include "fakes/fakes.h"
#include "platform/sound.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick::fakes {

class FakeSoundPlayer final : public platform::SoundPlayer {
public:
    struct Played {
        int id;
        int64_t moment;
    };

    explicit FakeSoundPlayer(CallLog* log = nullptr) : log_(log) {}

    // What a moment is belongs to the test (a tick count, the camera phase...); without a source
    // it is the number of sounds started before this one.
    std::function<int64_t()> momentSource;

    void play(int id) override {
        const auto moment = momentSource ? momentSource() : static_cast<int64_t>(played.size());
        played.push_back({id, moment});
        if (log_) log_->push_back("sound:" + std::to_string(id));
    }

    std::vector<int> ids() const {
        std::vector<int> out;
        for (const Played& p : played) out.push_back(p.id);
        return out;
    }
    // The moments at which sound `id` was started, in order.
    std::vector<int64_t> momentsOf(int id) const {
        std::vector<int64_t> out;
        for (const Played& p : played)
            if (p.id == id) out.push_back(p.moment);
        return out;
    }
    int count(int id) const {
        return static_cast<int>(std::count_if(played.begin(), played.end(),
                                              [id](const Played& p) { return p.id == id; }));
    }

    std::vector<Played> played;

private:
    CallLog* log_;
};

} // namespace tarnwick::fakes
