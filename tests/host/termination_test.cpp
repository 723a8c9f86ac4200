// SIGTERM while the hack's event loop runs: the loop is asked to quit, and the process ends
// anyway a grace period after the first signal, however many follow.
#include "host/termination.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnwick {
namespace {

TEST(Termination, TheFirstSignalSetsTheDeadlineAndLaterOnesDoNotPutItOff) {
    int counted[2];
    ASSERT_EQ(pipe(counted), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A main thread too busy to quit, signalled every 100 ms, ten times.
        close(counted[0]);
        termination::install();
        termination::loopRunning = true;
        const timespec step{0, 100'000'000};
        for (int i = 0; i < 10; ++i) {
            const char c = 1;
            [[maybe_unused]] ssize_t n = write(counted[1], &c, 1);
            raise(SIGTERM);
            nanosleep(&step, nullptr);
        }
        _exit(3); // outlived every signal
    }
    close(counted[1]);
    int signals = 0;
    char c = 0;
    while (read(counted[0], &c, 1) == 1) ++signals;
    close(counted[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_LT(signals, 10);
}

} // namespace
} // namespace tarnwick
