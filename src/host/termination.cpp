#include "host/termination.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

namespace tarnwick::termination {

std::atomic<bool> loopRunning{false};
std::atomic<int> pipeWrite{-1};

namespace {

std::atomic<bool> haveDeadline{false};
std::atomic<bool> deadlineArmed{false};
timer_t deadline{};

extern "C" void onTerminate(int) {
    if (!loopRunning) _exit(0);
    const char c = 1;
    [[maybe_unused]] ssize_t n = write(pipeWrite, &c, 1);
    // Armed by the first signal only: later ones must not put the exit off.
    if (haveDeadline && !deadlineArmed.exchange(true)) {
        itimerspec t{};
        t.it_value.tv_nsec = kGraceNs;
        timer_settime(deadline, 0, &t, nullptr);
    }
}

extern "C" void onDeadline(int) {
    _exit(0);
}

} // namespace

void install() {
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_handler = onDeadline;
    sigaction(SIGALRM, &sa, nullptr);
    sigevent ev{};
    ev.sigev_notify = SIGEV_SIGNAL;
    ev.sigev_signo = SIGALRM;
    haveDeadline = timer_create(CLOCK_MONOTONIC, &ev, &deadline) == 0;
    sa.sa_handler = onTerminate;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

} // namespace tarnwick::termination
