#pragma once
// A timer whose worker thread sleeps for the delay and then runs the tick on the main thread,
// waiting for it to finish before the next sleep.
#include <cstdint>
#include <functional>
#include <memory>

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

    // True once a handler has raised: this timer then never ticks again.
    bool finished() const;

    struct Worker; // TJvThreadTimerClass: the worker's state, shared with its thread

private:
    bool active_ = false;
    int32_t delay_ = 100;
    Handler onTimer_;
    std::shared_ptr<Worker> worker_;
};

// Runs `fn` on the main (application) thread and waits for it; an exception from `fn` is
// rethrown in the caller. Runs at once when called on the main thread.
void runOnMainThread(const std::function<void()>& fn);

} // namespace tarnwick
