// Program entry: the application, the saver form (whose creation runs the mode), a hidden settings
// dialog, and the message loop.
#include "engine/scrsavermain.h"
#include "host/quiet_start.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_password.h"
#include "platform/sdl/sdl_sound_player.h"
#include "platform/x11/x11_connection_watch.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_screen.h"
#include "resources/sounds.h"
#include "settings/dialog/tes.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* kTitle = "Tarnwick Screensaver";

// Arguments after the program path; double quotes only group, so they are dropped.
std::vector<std::string> commandLine(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        std::string a;
        for (const char* p = argv[i]; *p; ++p)
            if (*p != '"') a += *p;
        args.push_back(a);
    }
    return args;
}

bool terminationRequested = false;

void requestTermination() {
    // Posted: it takes effect only when the message loop reaches it.
    terminationRequested = true;
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

int fatal(const char* text) {
    std::fprintf(stderr, "%s: %s\n", kTitle, text);
    if (qApp) QMessageBox::critical(nullptr, "Application Error", QString::fromLocal8Bit(text));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    using namespace tarnwick;
    const std::vector<std::string> args = commandLine(argc, argv);
    const std::string executable = argc > 0 ? argv[0] : "tarnwick";

    // Without an X server Qt would abort with a paragraph about platform plugins.
    const bool headless = host::headlessQtPlatform(std::getenv("QT_QPA_PLATFORM"));
    platform::x11::DisplayPtr watchedDisplay;
    if (!headless && !(watchedDisplay = platform::x11::openDisplay())) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        std::fputs(host::noDisplayMessage("tarnwick", wayland && *wayland).c_str(), stderr);
        return 1;
    }
    host::keepQtChatterQuiet();
    QApplication app(argc, argv);
    // Before the form, whose creation parses the store: a start-up (or a run) whose X server went
    // away ends at once instead of running on until it next talks to the server.
    const platform::x11::ConnectionWatch watch(watchedDisplay.get(), "tarnwick");
    // The title is the main window's caption; a display name would be appended to every caption.
    QCoreApplication::setApplicationName("tarnwick");
    QApplication::setQuitOnLastWindowClosed(false);

    SaverModule module;
    module.startUp(args);
    try {
        auto formWindow = platform::createFormWindow();
        formWindow->setTitle(kTitle);
        auto windows = platform::createWindowSystem(*formWindow);
        auto saverState = platform::createSystemSaverState();
        platform::x11::X11Screen screen;
        platform::SdlSoundPlayer sound(soundResource);
        platform::PosixPasswordLibrary passwords;
        platform::FileRegistry registry;
        platform::PosixFileSystem files;
        platform::Platform platform{*windows,  *saverState, screen, sound,
                                    passwords, registry,    files};

        FormServices services{
            platform,
            *formWindow,
            args,
            requestTermination,
            [&] { showSettingsDialogModal(platform, executable); },
            [](const std::string& text) { std::fprintf(stderr, "tarnwick: %s\n", text.c_str()); }};
        TForm1 form(module, services);
        // The start-up instance stays hidden and never touches the store.
        TfrmConfig hiddenConfig(platform, executable);

        // Configuration and password requests have already asked to end: their form would
        // only flash on the screen (a window manager pulls an off-screen window back into view).
        if (!terminationRequested && !formWindow->visible()) formWindow->show();
        const int rc = app.exec();
        form.FormClose();
        return rc;
    } catch (const std::exception& e) {
        return fatal(e.what());
    }
}
