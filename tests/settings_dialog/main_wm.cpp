// GoogleTest with a Qt application object on an X server run by a window manager, which is
// started before the application so Qt sees it from its first request on.
#include "x11_test_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QProcess wm;
    wm.start("openbox", {"--sm-disable"});
    if (!wm.waitForStarted()) {
        std::fprintf(stderr, "openbox did not start\n");
        return 1;
    }
    bool ready = false;
    for (int i = 0; i < 100 && !ready; ++i) {
        ready = tarnwick::testing::runTool("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"})
                    .find("window id") != std::string::npos;
        if (!ready) wm.waitForFinished(50);
    }
    int rc = 1;
    if (ready) {
        QApplication app(argc, argv);
        rc = RUN_ALL_TESTS();
    } else {
        std::fprintf(stderr, "openbox did not take the screen\n");
    }
    wm.terminate();
    wm.waitForFinished(3000);
    return rc;
}
