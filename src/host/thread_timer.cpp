#include "host/thread_timer.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace tarnwick {

// TJvThreadTimerClass: the state shared by the timer, its thread and a tick on its way to the
// main thread (which may outlive both).
//
// The hand-over never blocks on the main thread: the worker posts the tick and waits on its own
// condition, which the timer's destruction also ends. So destruction can always join the thread
// at once, and no worker is left running to call into the program after main() returned.
struct TJvThreadTimer::Worker : std::enable_shared_from_this<Worker> {
    std::mutex mutex;
    std::condition_variable wake;
    bool suspended = true;
    bool terminated = false;
    bool hurry = false;  // the sleep under way, or the next one, ends at once
    int32_t within = -1; // the next sleep's cap, when not negative
    bool tickDone = false;
    std::atomic<int32_t> delay{100};
    int32_t nextSleep() const {
        return within >= 0 ? std::min(within, delay.load()) : delay.load();
    }
    // Written and read on the main thread only (setOnTimer, destruction, the tick itself).
    Handler handler;
    TJvThreadTimer* timer = nullptr;
    std::atomic<bool> finished{false};

    void run();
    void tick();
};

void TJvThreadTimer::Worker::tick() {
    // Main thread. The timer may have gone while the call waited in the queue.
    if (!timer) return;
    bool failed = false;
    try {
        if (handler) handler(*timer);
    } catch (...) {
        failed = true; // an exception from the handler ends this timer, silently
        finished = true;
    }
    {
        std::lock_guard lock(mutex);
        tickDone = true;
        if (failed) terminated = true;
    }
    wake.notify_all();
}

namespace {

// Ticks handed over and not yet run. They pass through this list, under a mutex of ours, rather
// than inside the posted call: Qt's queue synchronises in ways ThreadSanitizer cannot see, and
// the tests run under it.
std::mutex gHandOverMutex;
std::deque<std::shared_ptr<TJvThreadTimer::Worker>> gHandedOver;

// One posted call per tick, each running the oldest: a tick that runs a modal loop must not hold
// back another timer's tick handed over at the same time.
void runHandedOverTick() {
    std::shared_ptr<TJvThreadTimer::Worker> worker;
    {
        std::lock_guard lock(gHandOverMutex);
        if (gHandedOver.empty()) return;
        worker = std::move(gHandedOver.front());
        gHandedOver.pop_front();
    }
    worker->tick();
}

} // namespace

void TJvThreadTimer::Worker::run() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [&] { return !suspended || terminated; });
        if (terminated) break;
        // A sleep keeps the end time it began with, also across a pause.
        const auto end = Clock::now() + std::chrono::milliseconds(nextSleep());
        within = -1;
        wake.wait_until(lock, end, [&] { return terminated || hurry; });
        hurry = false;
        wake.wait(lock, [&] { return !suspended || terminated; });
        if (terminated) break; // the timer is gone: no tick after its destruction

        QCoreApplication* app = QCoreApplication::instance();
        if (!app) {
            finished = true; // no main thread to tick on
            break;
        }
        tickDone = false;
        lock.unlock();
        {
            // Posted under the mutex, which the call takes first: all that posting wrote is
            // then seen to come before the call runs.
            std::lock_guard handOver(gHandOverMutex);
            gHandedOver.push_back(shared_from_this());
            QMetaObject::invokeMethod(
                app, [] { runHandedOverTick(); }, Qt::QueuedConnection);
        }
        lock.lock();
        // The next sleep starts only when the tick has finished.
        wake.wait(lock, [&] { return tickDone || terminated; });
    }
}

TJvThreadTimer::TJvThreadTimer() : worker_(std::make_shared<Worker>()) {
    worker_->timer = this;
    thread_ = std::thread([w = worker_] { w->run(); });
}

TJvThreadTimer::~TJvThreadTimer() {
    {
        std::lock_guard lock(worker_->mutex);
        worker_->terminated = true;
    }
    worker_->timer = nullptr;
    worker_->wake.notify_all();
    // The worker waits on nothing but its own condition: this returns at once.
    thread_.join();
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

void TJvThreadTimer::nextTickWithin(int32_t ms) {
    std::lock_guard lock(worker_->mutex);
    worker_->within = std::max(0, ms);
}

int32_t TJvThreadTimer::nextSleep() const {
    std::lock_guard lock(worker_->mutex);
    return worker_->nextSleep();
}

void TJvThreadTimer::setOnTimer(Handler handler) {
    onTimer_ = handler;
    worker_->handler = std::move(handler);
}

bool TJvThreadTimer::finished() const {
    return worker_->finished;
}

} // namespace tarnwick
