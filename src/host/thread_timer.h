#pragma once
// A timer whose worker thread sleeps for the delay and then runs the tick on the main thread,
// waiting for it to finish before the next sleep.
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace tarnwick {

class TJvThreadTimer {
public:
    using Handler = std::function<void(TJvThreadTimer& sender)>;

    TJvThreadTimer();
    ~TJvThreadTimer();
    TJvThreadTimer(const TJvThreadTimer&) = delete;
    TJvThreadTimer& operator=(const TJvThreadTimer&) = delete;

    bool Active() const { return active_; }
    void setActive(bool value);
    int32_t Delay() const { return delay_; }
    void setDelay(int32_t ms);
    void setOnTimer(Handler handler);
    // The next tick comes without waiting out the rest of its delay (once the timer is active);
    // the ones after it keep the delay. For a first frame that should not wait a whole interval.
    void tickSoon();
    // The next sleep lasts at most `ms` (the delay still caps it); the ones after it keep the
    // delay. Called from a tick, it is the sleep right after that tick.
    void nextTickWithin(int32_t ms);
    // How long the next sleep will last.
    int32_t nextSleep() const;

    // True once a handler has raised: this timer then never ticks again.
    bool finished() const;

    struct Worker; // TJvThreadTimerClass: the worker's state, shared with its thread

private:
    bool active_ = false;
    int32_t delay_ = 100;
    Handler onTimer_;
    std::shared_ptr<Worker> worker_;
    std::thread thread_; // joined on destruction
};

} // namespace tarnwick
