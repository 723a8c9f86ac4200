#include "host/thread_timer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Runs the main thread's event loop for a while, as the message loop would.
void pump(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Pumps until `done` holds or the time is up.
template <typename Pred> bool pumpUntil(Pred done, int maxMs = 3000) {
    const auto t0 = Clock::now();
    while (!done() && msSince(t0) < maxMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

struct Ticks {
    std::vector<double> at; // ms since start
    Clock::time_point start = Clock::now();
    TJvThreadTimer::Handler handler(int workMs = 0) {
        return [this, workMs](TJvThreadTimer&) {
            at.push_back(msSince(start));
            if (workMs) QThread::msleep(static_cast<unsigned long>(workMs));
        };
    }
};

TEST(ThreadTimer, FirstTickAfterOneDelayThenDelayPlusHandlerTime) {
    Ticks t;
    TJvThreadTimer timer;
    timer.setDelay(20);
    timer.setOnTimer(t.handler(10));
    t.start = Clock::now();
    timer.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return t.at.size() >= 6; }));
    timer.setActive(false);
    EXPECT_GE(t.at[0], 19.0);
    EXPECT_LT(t.at[0], 120.0);
    for (size_t i = 1; i < t.at.size(); ++i) {
        const double period = t.at[i] - t.at[i - 1];
        EXPECT_GE(period, 29.0) << i; // 20 ms sleep after a 10 ms tick: never catches up
        EXPECT_LT(period, 150.0) << i;
    }
}

TEST(ThreadTimer, TickSoonCutsOnlyTheNextSleepShort) {
    Ticks t;
    TJvThreadTimer timer;
    timer.setDelay(10000);
    timer.setOnTimer(t.handler());
    timer.tickSoon(); // asked before the activation, as a mode handler does
    timer.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return !t.at.empty(); }));
    pump(300);
    timer.setActive(false);
    EXPECT_EQ(t.at.size(), 1u) << "the tick after it waits for the whole delay";
}

TEST(ThreadTimer, TicksRunOnTheMainThread) {
    TJvThreadTimer timer;
    QThread* seen = nullptr;
    timer.setDelay(5);
    timer.setOnTimer([&](TJvThreadTimer& sender) {
        seen = QThread::currentThread();
        EXPECT_EQ(&sender, &timer);
    });
    timer.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return seen != nullptr; }));
    timer.setActive(false);
    EXPECT_EQ(seen, QCoreApplication::instance()->thread());
}

TEST(ThreadTimer, RepeatedActivationIsIgnoredAndOneDeactivationPauses) {
    Ticks t;
    TJvThreadTimer timer;
    timer.setDelay(10);
    timer.setOnTimer(t.handler());
    timer.setActive(true);
    timer.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return t.at.size() >= 2; }));
    timer.setActive(false);
    EXPECT_FALSE(timer.Active());
    pump(30); // a tick already handed over may still arrive
    const size_t count = t.at.size();
    pump(150);
    EXPECT_EQ(t.at.size(), count);
}

TEST(ThreadTimer, ANewDelayDoesNotShortenTheSleepUnderWay) {
    Ticks t;
    TJvThreadTimer timer;
    timer.setDelay(400);
    timer.setOnTimer(t.handler());
    t.start = Clock::now();
    timer.setActive(true);
    pump(50);
    timer.setDelay(40);
    EXPECT_EQ(timer.Delay(), 40);
    ASSERT_TRUE(pumpUntil([&] { return t.at.size() >= 3; }));
    timer.setActive(false);
    EXPECT_GE(t.at[0], 395.0);
    EXPECT_LT(t.at[2] - t.at[1], 200.0);
    EXPECT_GE(t.at[2] - t.at[1], 39.0);
}

TEST(ThreadTimer, ATickAskingForTheNextWithinAWhileShortensThatSleepOnly) {
    Ticks t;
    TJvThreadTimer timer;
    timer.setDelay(400);
    timer.setOnTimer([&](TJvThreadTimer& self) {
        t.at.push_back(msSince(t.start));
        if (t.at.size() == 1) self.nextTickWithin(20);
    });
    t.start = Clock::now();
    timer.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return t.at.size() >= 3; }, 5000));
    timer.setActive(false);
    EXPECT_LT(t.at[1] - t.at[0], 200.0);
    EXPECT_GE(t.at[1] - t.at[0], 19.0);
    EXPECT_GE(t.at[2] - t.at[1], 395.0);
}

TEST(ThreadTimer, ASleepKeepsItsEndTimeAcrossAPause) {
    // Paused past the sleep's end: the tick comes at once on resumption.
    {
        Ticks t;
        TJvThreadTimer timer;
        timer.setDelay(200);
        timer.setOnTimer(t.handler());
        timer.setActive(true);
        pump(50);
        timer.setActive(false);
        pump(300);
        EXPECT_TRUE(t.at.empty());
        const auto resumed = Clock::now();
        timer.setActive(true);
        ASSERT_TRUE(pumpUntil([&] { return !t.at.empty(); }));
        timer.setActive(false);
        EXPECT_LT(msSince(resumed), 100.0);
    }
    // Resumed before the end: the tick still comes at the end the sleep began with.
    {
        Ticks t;
        TJvThreadTimer timer;
        timer.setDelay(300);
        timer.setOnTimer(t.handler());
        t.start = Clock::now();
        timer.setActive(true);
        pump(50);
        timer.setActive(false);
        pump(50);
        timer.setActive(true);
        ASSERT_TRUE(pumpUntil([&] { return !t.at.empty(); }));
        timer.setActive(false);
        EXPECT_GE(t.at[0], 295.0);
        EXPECT_LT(t.at[0], 420.0);
    }
}

TEST(ThreadTimer, AnExceptionEndsThatTimerForGoodAndNotTheOther) {
    int failing = 0;
    Ticks other;
    TJvThreadTimer bad, good;
    bad.setDelay(10);
    bad.setOnTimer([&](TJvThreadTimer&) {
        ++failing;
        throw std::runtime_error("tick failed");
    });
    good.setDelay(10);
    good.setOnTimer(other.handler());
    bad.setActive(true);
    good.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return bad.finished(); }));
    bad.setActive(false);
    bad.setDelay(5);
    bad.setActive(true);
    const size_t before = other.at.size();
    pump(150);
    EXPECT_EQ(failing, 1);
    EXPECT_GT(other.at.size(), before + 3);
    good.setActive(false);
}

TEST(ThreadTimer, TheOtherTimerTicksWhileAHandlerRunsAModalLoop) {
    Ticks modalTicks;
    TJvThreadTimer modal, other;
    bool inModal = false;
    int otherDuringModal = 0, modalDuringModal = 0;
    double returnedAt = -1;
    modal.setDelay(10);
    modal.setOnTimer([&](TJvThreadTimer&) {
        if (inModal) ++modalDuringModal; // a hand-over that did not wait for its tick
        modalTicks.at.push_back(msSince(modalTicks.start));
        if (modalTicks.at.size() > 1) return;
        inModal = true;
        // Stands for a modal dialog's own loop, whose showing posts events of its own (the
        // event dispatcher delivers events that were already waiting once something new is
        // posted).
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
        pump(250);
        inModal = false;
        returnedAt = msSince(modalTicks.start);
    });
    other.setDelay(10);
    other.setOnTimer([&](TJvThreadTimer&) {
        if (inModal) ++otherDuringModal;
    });
    modal.setActive(true);
    other.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return modalTicks.at.size() >= 2 && returnedAt >= 0; }));
    modal.setActive(false);
    other.setActive(false);
    EXPECT_GE(otherDuringModal, 5);
    // This timer's next tick came only after its handler had returned.
    EXPECT_EQ(modalDuringModal, 0);
    EXPECT_GE(modalTicks.at[1], returnedAt);
}

TEST(ThreadTimer, NoTickAfterDestruction) {
    int ticks = 0;
    {
        TJvThreadTimer timer;
        timer.setDelay(1);
        timer.setOnTimer([&](TJvThreadTimer&) { ++ticks; });
        timer.setActive(true);
        ASSERT_TRUE(pumpUntil([&] { return ticks >= 2; }));
    } // destroyed while active: its worker may be handing over right now
    const int atDestruction = ticks;
    pump(100);
    EXPECT_EQ(ticks, atDestruction);
}

// Threads of this process now, as the kernel counts them.
int threadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) return std::stoi(line.substr(8));
    return -1;
}

// A worker left running could call into the program after main() returned: destruction ends
// it, even when it is handing a tick over to a main thread that is not taking it.
TEST(ThreadTimer, DestructionEndsTheWorkerThread) {
    const int before = threadCount();
    int ticks = 0;
    {
        TJvThreadTimer timer;
        timer.setDelay(1);
        timer.setOnTimer([&](TJvThreadTimer&) { ++ticks; });
        timer.setActive(true);
        QThread::msleep(50); // the tick is waiting for the main thread by now
        EXPECT_EQ(threadCount(), before + 1);
    }
    EXPECT_EQ(threadCount(), before);
    pump(20);
    EXPECT_EQ(ticks, 0);
}

TEST(ThreadTimer, DeactivatingInsideItsOwnTickDoesNotDeadlock) {
    int ticks = 0;
    TJvThreadTimer timer;
    timer.setDelay(5);
    timer.setOnTimer([&](TJvThreadTimer& self) {
        ++ticks;
        self.setActive(false);
        self.setActive(true);
        if (ticks == 3) self.setActive(false);
    });
    timer.setActive(true);
    ASSERT_TRUE(pumpUntil([&] { return ticks >= 3; }));
    pump(60);
    EXPECT_EQ(ticks, 3);
}

} // namespace
} // namespace tarnwick

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
