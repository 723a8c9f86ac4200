#include "host/thread_timer.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace tarnwick {

// TJvThreadTimerClass. The thread keeps this alive through a shared_ptr, so the timer can be
// destroyed without waiting for it.
struct TJvThreadTimer::Worker {
    std::mutex mutex;
    std::condition_variable wake;
    bool suspended = true;
    bool terminated = false;
    bool hurry = false; // the sleep under way, or the next one, ends at once
    std::atomic<int32_t> delay{100};
    // Written and read on the main thread only (setOnTimer, destruction, the tick itself).
    Handler handler;
    TJvThreadTimer* timer = nullptr;
    std::atomic<bool> finished{false};

    void run();
};

void runOnMainThread(const std::function<void()>& fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) throw std::runtime_error("no application object to hand the call to");
    if (QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    std::exception_ptr error;
    QMetaObject::invokeMethod(
        app,
        [&] {
            try {
                fn();
            } catch (...) {
                error = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (error) std::rethrow_exception(error);
}

void TJvThreadTimer::Worker::run() {
    using Clock = std::chrono::steady_clock;
    try {
        for (;;) {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return !suspended || terminated; });
            if (terminated) break;
            // A sleep keeps the end time it began with, also across a pause.
            const auto end = Clock::now() + std::chrono::milliseconds(delay.load());
            wake.wait_until(lock, end, [&] { return terminated || hurry; });
            hurry = false;
            wake.wait(lock, [&] { return !suspended || terminated; });
            if (terminated) break; // the timer is gone: no tick after its destruction
            lock.unlock();

            runOnMainThread([this] {
                if (timer && handler) handler(*timer);
            });
        }
    } catch (...) {
        finished = true; // an exception from the handler ends this timer, silently
    }
}

TJvThreadTimer::TJvThreadTimer() : worker_(std::make_shared<Worker>()) {
    worker_->timer = this;
    std::thread([w = worker_] { w->run(); }).detach();
}

TJvThreadTimer::~TJvThreadTimer() {
    {
        std::lock_guard lock(worker_->mutex);
        worker_->terminated = true;
        worker_->timer = nullptr;
    }
    // Woken only so that its thread ends now rather than after its sleep; nothing waits for it.
    worker_->wake.notify_all();
}

void TJvThreadTimer::setActive(bool value) {
    if (value == active_) return;
    active_ = value;
    {
        std::lock_guard lock(worker_->mutex);
        worker_->suspended = !value;
    }
    worker_->wake.notify_all();
}

void TJvThreadTimer::setDelay(int32_t ms) {
    delay_ = ms;
    worker_->delay = ms;
}

void TJvThreadTimer::tickSoon() {
    {
        std::lock_guard lock(worker_->mutex);
        worker_->hurry = true;
    }
    worker_->wake.notify_all();
}

void TJvThreadTimer::setOnTimer(Handler handler) {
    onTimer_ = handler;
    worker_->handler = std::move(handler);
}

bool TJvThreadTimer::finished() const {
    return worker_->finished;
}

} // namespace tarnwick
