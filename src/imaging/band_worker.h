#pragma once
// One persistent helper thread that takes part of a job while its owner does the rest.
#include <atomic>
#include <cstdint>
#include <thread>

namespace tarnwick {

// The owner hands over a task, works on its own part, and then either takes the task back (the
// helper has not started it: a busy machine left it no core) or waits until the helper has
// finished it, before it reads anything the helper wrote; until then the helper alone touches
// what its part writes. Started once and reused, so a job pays a wake-up, not a thread start.
// Not for use by two owners at once.
class BandWorker {
public:
    // Starts the thread; throws std::system_error when none can be had.
    BandWorker();
    ~BandWorker();
    BandWorker(const BandWorker&) = delete;
    BandWorker& operator=(const BandWorker&) = delete;

    // Offers `helperPart` to the helper thread and runs `ownPart` on the calling one; returns
    // when `ownPart` is done and `helperPart` is either done or was never started. Neither may
    // throw. Returns whether the helper ran its part.
    template <class Helper, class Own> bool runAlongside(Helper& helperPart, Own&& ownPart) {
        post([](void* part) { (*static_cast<Helper*>(part))(); }, &helperPart);
        ownPart();
        return finish();
    }

private:
    enum Phase : int { kIdle, kPosted, kRunning, kDone };

    void post(void (*task)(void*), void* context);
    bool finish();
    void loop();

    // Written by the owner before the task is posted, read by the helper once it has claimed it.
    void (*task_)(void*) = nullptr;
    void* context_ = nullptr;
    // kPosted -> kRunning (the helper claims the task) or kPosted -> kIdle (the owner takes it
    // back); exactly one of the two wins.
    std::atomic<int> phase_{kIdle};
    std::atomic<uint64_t> posted_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace tarnwick
