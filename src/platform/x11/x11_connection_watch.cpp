#include "platform/x11/x11_connection_watch.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace tarnwick::platform::x11 {

ConnectionWatch::ConnectionWatch(Display* display, const char* program) {
    if (!display || pipe2(stop_, O_CLOEXEC) != 0) return;
    const int fd = ConnectionNumber(display);
    const std::string message = std::string(program) + ": the X server went away\n";
    thread_ = std::jthread([fd, stop = stop_[0], message] {
        // Only the hang-up is asked for: data for the main thread's reads does not wake this.
        pollfd fds[2] = {{fd, POLLRDHUP, 0}, {stop, POLLIN, 0}};
        for (;;) {
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            if (fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) {
                [[maybe_unused]] ssize_t n = write(2, message.data(), message.size());
                _exit(1);
            }
        }
    });
}

ConnectionWatch::~ConnectionWatch() {
    if (stop_[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] ssize_t n = write(stop_[1], &c, 1);
    }
    if (thread_.joinable()) thread_.join();
    for (int fd : stop_)
        if (fd >= 0) close(fd);
}

} // namespace tarnwick::platform::x11
