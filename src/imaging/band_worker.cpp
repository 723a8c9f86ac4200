#include "imaging/band_worker.h"

namespace tarnwick {

BandWorker::BandWorker() : thread_([this] { loop(); }) {}

BandWorker::~BandWorker() {
    stop_.store(true, std::memory_order_relaxed);
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_one();
    thread_.join();
}

void BandWorker::post(void (*task)(void*), void* context) {
    task_ = task;
    context_ = context;
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_one();
}

void BandWorker::waitForHelper() {
    const uint64_t want = posted_.load(std::memory_order_relaxed);
    // The owner's own part usually takes about as long as the helper's: a short spin saves a
    // sleep and a wake-up.
    for (int i = 0; i < 2000; ++i)
        if (done_.load(std::memory_order_acquire) == want) return;
    for (uint64_t seen = done_.load(std::memory_order_acquire); seen != want;
         seen = done_.load(std::memory_order_acquire))
        done_.wait(seen, std::memory_order_acquire);
}

void BandWorker::loop() {
    uint64_t seen = 0;
    for (;;) {
        posted_.wait(seen, std::memory_order_acquire);
        seen = posted_.load(std::memory_order_acquire);
        if (stop_.load(std::memory_order_relaxed)) return;
        task_(context_);
        done_.store(seen, std::memory_order_release);
        done_.notify_one();
    }
}

} // namespace tarnwick
