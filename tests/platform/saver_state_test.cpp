#include "platform/x11/x11_saver_state.h"
#include "x11_test_support.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QObject>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

namespace tarnwick {
namespace {

using platform::x11::X11SystemSaverState;
using testing::OtherClient;

constexpr int kServerSaverOn = 1;

// The desktop's saver as the session bus offers it; it records the calls it gets.
class FakeDesktopSaver : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    struct Log {
        std::mutex mutex;
        std::vector<std::string> calls;
    };
    explicit FakeDesktopSaver(Log& log) : log_(log) {}

public slots:
    uint Inhibit(const QString& application, const QString& reason) {
        std::lock_guard lock(log_.mutex);
        log_.calls.push_back("Inhibit:" + application.toStdString() + ":" +
                             std::to_string(!reason.isEmpty()));
        return 4711;
    }
    void UnInhibit(uint cookie) {
        std::lock_guard lock(log_.mutex);
        log_.calls.push_back("UnInhibit:" + std::to_string(cookie));
    }

private:
    Log& log_;
};

// Serves the fake on a connection of its own, in a thread of its own, so that the blocking calls
// of the code under test are answered while the main thread waits.
class DesktopSaverService {
public:
    DesktopSaverService() {
        thread_.start();
        QMetaObject::invokeMethod(
            &anchor_,
            [this] {
                auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-saver");
                saver_ = std::make_unique<FakeDesktopSaver>(log_);
                ok_ = bus.registerService("org.freedesktop.ScreenSaver") &&
                      bus.registerObject("/org/freedesktop/ScreenSaver", saver_.get(),
                                         QDBusConnection::ExportAllSlots);
            },
            Qt::BlockingQueuedConnection);
    }
    ~DesktopSaverService() {
        QMetaObject::invokeMethod(
            &anchor_,
            [this] {
                {
                    auto bus = QDBusConnection(QStringLiteral("fake-saver"));
                    bus.unregisterObject("/org/freedesktop/ScreenSaver");
                    bus.unregisterService("org.freedesktop.ScreenSaver");
                }
                QDBusConnection::disconnectFromBus("fake-saver");
                saver_.reset();
            },
            Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    bool ok() const { return ok_; }
    std::vector<std::string> calls() {
        std::lock_guard lock(log_.mutex);
        return log_.calls;
    }

private:
    struct Anchor : QObject {};
    QThread thread_;
    Anchor anchor_;
    bool ok_ = false;
    FakeDesktopSaver::Log log_;
    std::unique_ptr<FakeDesktopSaver> saver_;

public:
    // Moves the anchor into the service thread before any call reaches it.
    struct Mover {
        Mover(QObject& o, QThread& t) { o.moveToThread(&t); }
    };
    Mover mover_{anchor_, thread_};
};

TEST(SystemSaverState, ReturnsThePreviousState) {
    X11SystemSaverState state;
    EXPECT_FALSE(state.setScreenSaverRunning(true));
    EXPECT_TRUE(state.setScreenSaverRunning(true));
    EXPECT_TRUE(state.setScreenSaverRunning(false));
    EXPECT_FALSE(state.setScreenSaverRunning(false));
}

TEST(SystemSaverState, SuspendsTheServerSaverWhileRunning) {
    OtherClient other;
    other.setServerSaverTimeout(1);
    X11SystemSaverState state;
    state.setScreenSaverRunning(true);
    testing::pump(2500); // idle past the timeout
    EXPECT_NE(other.serverSaverState(), kServerSaverOn);
    state.setScreenSaverRunning(false);
    EXPECT_TRUE(
        testing::pumpUntil([&] { return other.serverSaverState() == kServerSaverOn; }, 4000));
    other.forceServerSaver(false);
    other.setServerSaverTimeout(0);
}

TEST(SystemSaverState, InhibitsTheDesktopSaverAndReleasesItWithItsCookie) {
    DesktopSaverService service;
    ASSERT_TRUE(service.ok());
    {
        X11SystemSaverState state;
        state.setScreenSaverRunning(true);
        EXPECT_EQ(state.inhibitCookie(), 4711u);
        state.setScreenSaverRunning(true); // already running: not inhibited twice
        state.setScreenSaverRunning(false);
        EXPECT_FALSE(state.inhibitCookie().has_value());
        state.setScreenSaverRunning(true);
    } // destroyed while running: the inhibition does not outlive it
    const std::vector<std::string> expected = {"Inhibit:Tarnwick Screensaver:1", "UnInhibit:4711",
                                               "Inhibit:Tarnwick Screensaver:1", "UnInhibit:4711"};
    EXPECT_EQ(service.calls(), expected);
}

// Without anyone to inhibit, starting is reported as not done, stopping as done, and quickly.
void expectRunsWithoutADesktopSaver() {
    X11SystemSaverState state;
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(state.setScreenSaverRunning(true));
    EXPECT_FALSE(state.inhibitCookie().has_value());
    EXPECT_TRUE(state.setScreenSaverRunning(false));
    EXPECT_LT(timer.elapsed(), 1000);
}

TEST(SystemSaverState, NoDesktopSaverOnTheBusIsNoError) {
    expectRunsWithoutADesktopSaver();
}

// Run with DBUS_SESSION_BUS_ADDRESS naming no bus.
TEST(NoBus, RunningStateStillWorks) {
    expectRunsWithoutADesktopSaver();
}

} // namespace
} // namespace tarnwick

// A private session bus for the test, stopped by its PID at the end.
int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    QProcess bus;
    if (qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") != "unix:path=/nonexistent") {
        bus.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!bus.waitForStarted() || !bus.waitForReadyRead(5000)) {
            std::fprintf(stderr, "no dbus-daemon\n");
            return 1;
        }
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.readLine().trimmed());
    }
    const int rc = RUN_ALL_TESTS();
    if (bus.state() != QProcess::NotRunning) {
        bus.terminate();
        bus.waitForFinished(3000);
    }
    return rc;
}

#include "saver_state_test.moc"
