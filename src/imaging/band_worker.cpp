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
    phase_.store(kPosted, std::memory_order_release);
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_one();
}

bool BandWorker::finish() {
    int phase = kPosted;
    if (phase_.compare_exchange_strong(phase, kIdle, std::memory_order_acq_rel)) return false;
    // The helper has it: its part usually ends about when ours did, so spin a little first.
    for (int i = 0; i < 2000 && phase != kDone; ++i) phase = phase_.load(std::memory_order_acquire);
    while (phase != kDone) {
        phase_.wait(phase, std::memory_order_acquire);
        phase = phase_.load(std::memory_order_acquire);
    }
    phase_.store(kIdle, std::memory_order_relaxed);
    return true;
}

void BandWorker::loop() {
    uint64_t seen = 0;
    for (;;) {
        posted_.wait(seen, std::memory_order_acquire);
        seen = posted_.load(std::memory_order_acquire);
        if (stop_.load(std::memory_order_relaxed)) return;
        int phase = kPosted;
        if (!phase_.compare_exchange_strong(phase, kRunning, std::memory_order_acq_rel))
            continue; // taken back, or not posted yet: the next post wakes us again
        task_(context_);
        phase_.store(kDone, std::memory_order_release);
        phase_.notify_one();
    }
}

} // namespace tarnwick
