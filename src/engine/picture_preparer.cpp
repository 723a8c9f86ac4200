#include "engine/picture_preparer.h"

#include <utility>

namespace tarnwick {

PicturePreparer::PicturePreparer(Loader loader)
    : loader_(std::move(loader)), worker_([this](std::stop_token stop) { run(stop); }) {}

PicturePreparer::~PicturePreparer() {
    {
        // Under the lock, so the worker cannot miss the stop between its test and its wait.
        std::lock_guard lock(mutex_);
        jobStop_.request_stop();
        worker_.request_stop();
    }
    changed_.notify_all();
    // The jthread joins here; the worker never waits for the main thread, so this cannot block
    // for longer than the loader takes to notice its stop.
}

void PicturePreparer::prepare(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobStop_.request_stop();
        jobStop_ = std::stop_source();
        mailbox_.reset();
        queued_ = std::move(job);
    }
    changed_.notify_all();
}

std::optional<PicturePreparer::Result> PicturePreparer::take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return !queued_ && !working_; });
    std::optional<Result> result = std::move(mailbox_);
    mailbox_.reset();
    return result;
}

void PicturePreparer::cancel() {
    std::optional<Result> dropped;
    {
        std::lock_guard lock(mutex_);
        jobStop_.request_stop();
        queued_.reset();
        dropped = std::move(mailbox_);
        mailbox_.reset();
    }
    // `dropped` is freed here, outside the lock.
}

void PicturePreparer::run(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return queued_.has_value() || stop.stop_requested(); });
        if (stop.stop_requested()) return;
        Result result{std::move(*queued_), nullptr, nullptr};
        queued_.reset();
        const std::stop_token jobStop = jobStop_.get_token();
        working_ = true;
        lock.unlock();
        try {
            result.picture = loader_(result.job.path, jobStop);
        } catch (...) {
            result.error = std::current_exception();
        }
        lock.lock();
        working_ = false;
        // A cancelled or replaced job's result is dropped: it is freed outside the lock below.
        if (!jobStop.stop_requested()) mailbox_ = std::move(result);
        changed_.notify_all();
        if (result.picture) {
            lock.unlock();
            result.picture.reset();
            lock.lock();
        }
    }
}

} // namespace tarnwick
