#pragma once
// Ends the program when its X server goes away, whatever the main thread is doing: a start-up
// busy with a slow store or picture would otherwise run on, for nothing, until it next asks the
// server for something.
#include <thread>

typedef struct _XDisplay Display;

namespace tarnwick::platform::x11 {

class ConnectionWatch {
public:
    // Watches `display`'s socket (only for its hang-up: it never reads from it). `program` prefixes
    // the one line written to standard error before the exit with status 1.
    ConnectionWatch(Display* display, const char* program);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch&) = delete;
    ConnectionWatch& operator=(const ConnectionWatch&) = delete;

private:
    int stop_[2] = {-1, -1};
    std::jthread thread_;
};

} // namespace tarnwick::platform::x11
