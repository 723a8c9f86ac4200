#pragma once
// One persistent helper thread that takes one part of a job while its owner does the other.
#include <atomic>
#include <cstdint>
#include <thread>

namespace tarnwick {

// The owner hands over a part, does its own, and waits for the helper before it reads anything
// the helper wrote; until then the helper alone touches what its part writes. Started once and
// reused, so a frame pays a wake-up, not a thread start. Not for use by two owners at once.
class BandWorker {
public:
    // Starts the thread; throws std::system_error when none can be had.
    BandWorker();
    ~BandWorker();
    BandWorker(const BandWorker&) = delete;
    BandWorker& operator=(const BandWorker&) = delete;

    // Runs `helperPart` on the helper thread and `ownPart` on the calling one; returns when both
    // are done. Neither may throw.
    template <class Helper, class Own> void runAlongside(Helper& helperPart, Own&& ownPart) {
        post([](void* part) { (*static_cast<Helper*>(part))(); }, &helperPart);
        ownPart();
        waitForHelper();
    }

private:
    void post(void (*task)(void*), void* context);
    void waitForHelper();
    void loop();

    // Written by the owner before `posted_` is raised, read by the helper after it sees it.
    void (*task_)(void*) = nullptr;
    void* context_ = nullptr;
    std::atomic<uint64_t> posted_{0};
    std::atomic<uint64_t> done_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace tarnwick
