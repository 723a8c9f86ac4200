// The watch on the X connection: the program ends when its server goes away, and a watch that has
// been destroyed no longer ends anything. Each case runs its own X server so that it can kill it.
#include "platform/x11/x11_connection_watch.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tarnwick::platform::x11 {
namespace {

class PrivateServer {
public:
    PrivateServer() {
        int fds[2];
        if (pipe(fds) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "64x64x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The server writes its display number and a newline once it is ready.
        std::string number;
        char c;
        for (;;) {
            const ssize_t n = read(fds[0], &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || c == '\n') break;
            number += c;
        }
        close(fds[0]);
        if (!number.empty()) name_ = ":" + number;
    }
    ~PrivateServer() { kill(); }
    const std::string& name() const { return name_; }
    void kill() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM); // SIGTERM: the server removes its lock file, which a next server
                               // might trip over
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// True once the server has hung up on `dpy`.
bool hungUp(Display* dpy) {
    pollfd p{ConnectionNumber(dpy), POLLRDHUP, 0};
    return poll(&p, 1, 5000) == 1 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR));
}

TEST(ConnectionWatch, EndsTheProgramWhenTheServerGoes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PrivateServer server;
            Display* dpy = XOpenDisplay(server.name().c_str());
            if (!dpy) std::_Exit(2);
            ConnectionWatch watch(dpy, "watched");
            server.kill();
            std::this_thread::sleep_for(std::chrono::seconds(5));
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(1), "watched: the X server went away");
}

// In a child of its own, which ends with 0 only if nothing ended it at the hang-up. Its display
// is left to the exit: Xlib takes closing a lost connection for a fatal error.
TEST(ConnectionWatch, EndsNothingOnceDestroyed) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PrivateServer server;
            Display* dpy = XOpenDisplay(server.name().c_str());
            if (!dpy) std::_Exit(2);
            { ConnectionWatch watch(dpy, "watched"); }
            server.kill();
            if (!hungUp(dpy)) std::_Exit(3);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace tarnwick::platform::x11
