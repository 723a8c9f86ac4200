#include "engine/picture_preparer.h"

#include <sys/resource.h>
#include <unistd.h>
#include <utility>

namespace tarnwick {

PicturePreparer::PicturePreparer(Loader loader, bool waitAtEnd)
    : state_(std::make_shared<State>()), waitAtEnd_(waitAtEnd) {
    state_->loader = std::move(loader);
    worker_ = std::thread([state = state_] { run(state); });
}

PicturePreparer::~PicturePreparer() {
    {
        std::lock_guard lock(state_->mutex);
        state_->jobStop.request_stop();
        state_->ending = true;
    }
    state_->changed.notify_all();
    // The decoders notice the stop within a few rows; waiting for the worker keeps everything the
    // loader uses alive until it has let go. The worker keeps its own state alive.
    if (waitAtEnd_)
        worker_.join();
    else
        worker_.detach();
}

void PicturePreparer::prepare(Job job) {
    std::optional<Result> dropped;
    {
        std::lock_guard lock(state_->mutex);
        state_->jobStop.request_stop();
        state_->jobStop = std::stop_source();
        dropped = std::move(state_->mailbox);
        state_->mailbox.reset();
        state_->queued = std::move(job);
    }
    state_->changed.notify_all();
}

std::optional<PicturePreparer::Result> PicturePreparer::take() {
    // The worker holds the lock only to hand a job over, never while it decodes.
    std::lock_guard lock(state_->mutex);
    if (state_->queued || state_->working) return std::nullopt;
    std::optional<Result> result = std::move(state_->mailbox);
    state_->mailbox.reset();
    return result;
}

bool PicturePreparer::waitUntilDone(std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return !state_->queued && !state_->working; });
}

void PicturePreparer::cancel() {
    std::optional<Result> dropped; // freed outside the lock
    std::lock_guard lock(state_->mutex);
    state_->jobStop.request_stop();
    state_->queued.reset();
    dropped = std::move(state_->mailbox);
    state_->mailbox.reset();
}

void PicturePreparer::run(const std::shared_ptr<State>& state) {
    // The frames come first: on a busy machine the decode takes what the animation leaves over.
    // (On Linux a thread's nice value is its own.)
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
    State& s = *state;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&] { return s.queued.has_value() || s.ending; });
        if (s.ending) break;
        Result result{std::move(*s.queued), nullptr, nullptr};
        s.queued.reset();
        const std::stop_token jobStop = s.jobStop.get_token();
        s.working = true;
        lock.unlock();
        try {
            result.picture = s.loader(result.job.path, jobStop);
        } catch (...) {
            result.error = std::current_exception();
        }
        lock.lock();
        s.working = false;
        // A cancelled or replaced job's result is dropped, and freed outside the lock.
        if (!jobStop.stop_requested()) s.mailbox = std::move(result);
        s.changed.notify_all();
        if (result.picture) {
            lock.unlock();
            result.picture.reset();
            lock.lock();
        }
    }
}

} // namespace tarnwick
