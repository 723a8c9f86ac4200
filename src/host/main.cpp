// Program entry: the application, the saver form (whose creation runs the mode), a hidden settings
// dialog, and the message loop.
#include "engine/scrsavermain.h"
#include "host/command_line.h"
#include "host/hack_options.h"
#include "host/image_prefs.h"
#include "host/quiet_start.h"
#include "imaging/picture_loader.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_password.h"
#include "platform/sdl/sdl_sound_player.h"
#include "platform/wayland/portal_screenshot.h"
#include "platform/wayland/wayland_platform.h"
#include "platform/wayland/wayland_screen.h"
#include "platform/x11/x11_connection_watch.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_screen.h"
#include "platform/x11/x11_session_bus.h"
#include "resources/sounds.h"
#include "settings/dialog/tes.h"
#include "settings/settings_names.h"
#include "settings/text_forms.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
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

// A desktop run reads the desktop before the form exists and any surface maps: through the
// compositor's screencopy, else the desktop portal. Where neither gives it and the user has stored
// pictures, the run shows those instead, for this run only (nothing is written back).
std::unique_ptr<tarnwick::platform::Registry>
readDesktopOrPictures(tarnwick::platform::Registry& store,
                      tarnwick::platform::wayland::WaylandScreen& screen) {
    using namespace tarnwick;
    const hack::StoredSource stored = hack::readStoredSource(store);
    if (!stored.desktop) return nullptr;
    std::string why;
    if (screen.copyDesktop(why)) return nullptr;
    // A first portal start (it is activated on demand) takes about a second.
    std::string portalWhy;
    if (const auto path = platform::wayland::portalScreenshot(std::chrono::seconds(3), portalWhy)) {
        try {
            const auto shot = LoadPicture(*path, {}, PictureFormats::WithPngWebp);
            screen.keepDesktop(shot->data(), shot->width(), shot->height(), shot->stride());
            return nullptr;
        } catch (const std::exception& e) {
            portalWhy = std::string("the desktop portal's picture: ") + e.what();
        }
    }
    screen.explainUnreadable(why + "; " + portalWhy);
    if (!stored.hasPictures) return nullptr;
    std::fputs("tarnwick: showing the stored pictures instead\n", stderr);
    hack::RunOnlyRegistry::Values overrides;
    overrides[std::string(kSaverSettingsKey) + "\\" + kSettingsSection].emplace_back(
        kUseDesktopValue, storedBoolText(false));
    return std::make_unique<hack::RunOnlyRegistry>(store, overrides);
}

int main(int argc, char** argv) {
    using namespace tarnwick;
    namespace wl = platform::wayland;
    const std::vector<std::string> args = commandLine(argc, argv);
    const std::string executable = argc > 0 ? argv[0] : "tarnwick";

    // Without an X server Qt would abort with a paragraph about platform plugins.
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    const bool headless = host::headlessQtPlatform(qpa);
    // A session whose compositor is gone may still have its X server.
    const bool wayland =
        !headless && wl::waylandChosen(waylandDisplay, qpa) && wl::compositorAnswers();
    // One full-screen saver per session: a second one started meanwhile ends at once.
    std::optional<wl::SaverInstanceLock> saverLock;
    if (wayland && SwitchLetter(args) == 'S') {
        saverLock.emplace(std::getenv("XDG_RUNTIME_DIR"), waylandDisplay);
        if (!saverLock->held()) return 0;
    }
    // Qt's own windows (the settings dialog, message boxes) go to the same compositor.
    if (wayland && !qpa) setenv("QT_QPA_PLATFORM", "wayland;xcb", 1);
    platform::x11::DisplayPtr watchedDisplay;
    if (!headless && !wayland && !(watchedDisplay = platform::x11::openDisplay())) {
        std::fputs(host::noDisplayMessage("tarnwick", std::getenv("DISPLAY"),
                                          waylandDisplay && *waylandDisplay)
                       .c_str(),
                   stderr);
        return 1;
    }
    // The saver and its preview run briefly inside a session: they use its bus, never start one.
    // The dialog may need one for the desktop's file dialogs.
    const char mode = SwitchLetter(args);
    if (mode == 'S' || mode == 'P') platform::x11::useOnlyTheSessionsBus(watchedDisplay.get());
    host::keepQtChatterQuiet();
    QApplication app(argc, argv);
    // Before the form, whose creation parses the store: a start-up (or a run) whose X server went
    // away ends at once instead of running on until it next talks to the server.
    const platform::x11::ConnectionWatch watch(watchedDisplay.get(), "tarnwick");
    std::unique_ptr<wl::Connection> compositor;
    if (wayland && !(compositor = wl::Connection::open())) {
        std::fprintf(stderr, "tarnwick: cannot connect to the Wayland compositor %s\n",
                     waylandDisplay);
        return 1;
    }
    // The title is the main window's caption; a display name would be appended to every caption.
    QCoreApplication::setApplicationName("tarnwick");
    QApplication::setQuitOnLastWindowClosed(false);

    SaverModule module;
    module.startUp(args);
    try {
        std::unique_ptr<platform::FormWindow> formWindow;
        std::unique_ptr<platform::WindowSystem> windows;
        std::unique_ptr<platform::SystemSaverState> saverState;
        std::unique_ptr<platform::Screen> screen;
        platform::FileRegistry registry;
        std::unique_ptr<platform::Registry> runOnly;
        if (compositor) {
            auto waylandForm = std::make_unique<wl::WaylandFormWindow>(*compositor);
            windows = std::make_unique<wl::WaylandWindowSystem>(waylandForm.get());
            formWindow = std::move(waylandForm);
            saverState = std::make_unique<wl::WaylandSystemSaverState>();
            auto waylandScreen = std::make_unique<wl::WaylandScreen>(*compositor);
            const char letter = SwitchLetter(args);
            if (letter == 'S' || letter == 'P')
                runOnly = readDesktopOrPictures(registry, *waylandScreen);
            screen = std::move(waylandScreen);
        } else {
            formWindow = platform::createFormWindow();
            windows = platform::createWindowSystem(*formWindow);
            saverState = platform::createSystemSaverState();
            screen = std::make_unique<platform::x11::X11Screen>();
        }
        formWindow->setTitle(kTitle);
        platform::SdlSoundPlayer sound(soundResource);
        platform::PosixPasswordLibrary passwords;
        platform::PosixFileSystem files;
        platform::Platform platform{
            *windows, *saverState, *screen, sound, passwords, runOnly ? *runOnly : registry, files};
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
