// The XScreenSaver hack: the saver form in its preview mode, drawn at full size into the window
// the daemon hands over (or into a window of our own), with settings overridden for this run.
#include "engine/scrsavermain.h"
#include "host/hack_options.h"
#include "host/quiet_start.h"
#include "platform/form_window_proxy.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_password.h"
#include "platform/sdl/sdl_sound_player.h"
#include "platform/x11/x11_daemon_screen.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_screen.h"
#include "resources/sounds.h"
#include "settings/folder_search.h"
#include "settings/settings_names.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QWindow>

#include <X11/Xlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace tarnwick;
namespace x11 = platform::x11;

constexpr const char* kProgram = "tarnwick-hack";
constexpr const char* kTitle = "Tarnwick Screensaver";
constexpr int kBadUsage = 2;

void requestTermination() {
    QMetaObject::invokeMethod(
        qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

// SIGTERM and SIGINT reach the event loop through a pipe, the one thing a handler may safely do.
class SignalPipe {
public:
    SignalPipe() {
        if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw Error("Cannot create a pipe");
        writeEnd = fds_[1];
        struct sigaction sa {};
        sa.sa_handler = [](int) {
            const char c = 1;
            [[maybe_unused]] ssize_t n = write(writeEnd, &c, 1);
        };
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                         [] { requestTermination(); });
    }
    ~SignalPipe() {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        notifier_.reset();
        close(fds_[0]);
        close(fds_[1]);
    }
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

private:
    static inline int writeEnd = -1;
    int fds_[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> notifier_;
};

// The window of `-window`: q, Esc or closing it ends the run; the form is drawn inside it.
class OwnWindow final : public QWindow {
public:
    std::function<void()> resized;

protected:
    void keyPressEvent(QKeyEvent* e) override {
        if (e->key() == Qt::Key_Q || e->key() == Qt::Key_Escape) requestTermination();
    }
    void resizeEvent(QResizeEvent*) override {
        if (resized) resized();
    }
    bool event(QEvent* e) override {
        if (e->type() == QEvent::Close) requestTermination();
        return QWindow::event(e);
    }
};

Size windowSize(Display* dpy, x11::XWindow window) {
    XWindowAttributes a{};
    x11::ErrorTrap trap(dpy);
    if (!XGetWindowAttributes(dpy, window, &a) || trap.failed()) return {0, 0};
    return {a.width, a.height};
}

// The form's window, kept at the full size of the window it is embedded in: the saver's preview
// mode would otherwise make it the preview area's 152x112.
class FullSizeWindow final : public platform::FormWindowProxy {
public:
    FullSizeWindow(platform::FormWindow& inner, std::function<Size()> parentSize)
        : FormWindowProxy(inner), parentSize_(std::move(parentSize)) {}

    void fitParent() {
        const Size s = parentSize_();
        if (s.width > 0 && s.height > 0) inner_.setGeometry({0, 0, s.width, s.height});
    }

    void setGeometry(const Rect& r) override {
        if (embedded_)
            fitParent();
        else
            inner_.setGeometry(r);
    }
    void embedInto(platform::WindowId parent) override {
        inner_.embedInto(parent);
        embedded_ = true;
    }

private:
    std::function<Size()> parentSize_;
    bool embedded_ = false;
};

int badUsage(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n%s", kProgram, message.c_str(),
                 hack::usageText(kProgram).c_str());
    return kBadUsage;
}

} // namespace

int main(int argc, char** argv) {
    hack::HackOptions options;
    try {
        options = hack::parseHackOptions(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const hack::OptionError& e) {
        return badUsage(e.what());
    }
    if (options.help) {
        std::fputs(hack::usageText(kProgram).c_str(), stdout);
        return 0;
    }

    platform::PosixFileSystem files;
    hack::RunOnlyRegistry::Values overrides;
    const std::string section = std::string(kSaverSettingsKey) + "\\" + kSettingsSection;
    overrides[section] = hack::sectionOverrides(options);
    if (options.images) {
        std::vector<std::string> pictures;
        TJvSearchFiles search(files);
        search.rootDirectory = *options.images;
        search.onFindFile = [&](const std::string& name) { pictures.push_back(name); };
        if (!files.folderExists(*options.images) || !search.Search())
            return badUsage(
                format("-images: cannot search the folder \"%s\"", options.images->c_str()));
        if (pictures.empty())
            std::fprintf(stderr, "%s: no pictures in \"%s\"; the desktop is shown instead\n",
                         kProgram, options.images->c_str());
        overrides[std::string(kSaverSettingsKey) + "\\" + kPictureListKey] =
            hack::pictureListOverrides(pictures);
    }

    // Without an X server Qt would abort with a paragraph about platform plugins.
    if (!x11::openDisplay()) {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        std::fputs(host::noDisplayMessage(kProgram, wayland && *wayland).c_str(), stderr);
        return 1;
    }
    if (!options.verbose) host::keepQtChatterQuiet();

    // Qt sees no options of ours.
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    QGuiApplication::setApplicationDisplayName(kTitle);
    QGuiApplication::setQuitOnLastWindowClosed(false);

    try {
        x11::DisplayPtr display = x11::openDisplay();
        if (!display) throw Error("Cannot open display");
        Display* dpy = display.get();

        x11::XWindow target = 0;
        std::unique_ptr<OwnWindow> own; // outlives the form window embedded in it
        if (options.target == hack::Target::Root) {
            const char* env = std::getenv("XSCREENSAVER_WINDOW");
            if (env && *env) {
                const auto id = hack::parseWindowId(env);
                if (!id)
                    return badUsage(format("XSCREENSAVER_WINDOW: \"%s\" is not a window id", env));
                target = *id;
            } else {
                target = DefaultRootWindow(dpy);
            }
        } else if (options.target == hack::Target::WindowId) {
            target = options.windowId;
        } else {
            own = std::make_unique<OwnWindow>();
            own->setTitle(kTitle);
            own->resize(800, 600);
            own->show();
            target = own->winId();
        }
        if (options.target != hack::Target::Window && !x11::windowExists(dpy, target))
            return badUsage(format("window 0x%lx does not exist", target));

        SaverModule module;
        const std::vector<std::string> args{"/p", std::to_string(target)};
        module.startUp(args);

        SignalPipe signalPipe;
        auto formWindow = platform::createFormWindow();
        formWindow->setTitle(kTitle);
        FullSizeWindow window(*formWindow, [dpy, target] { return windowSize(dpy, target); });
        if (own) own->resized = [&window] { window.fitParent(); };
        auto windows = platform::createWindowSystem(*formWindow);
        auto saverState = platform::createSystemSaverState();
        x11::X11Screen grab;
        x11::DaemonScreen screen(grab, dpy, options.target == hack::Target::Window ? 0 : target,
                                 options.verbose, kProgram);
        platform::SdlSoundPlayer sound(soundResource, options.verbose);
        platform::PosixPasswordLibrary passwords;
        platform::FileRegistry store;
        hack::RunOnlyRegistry registry(store, overrides);
        platform::Platform platform{*windows,  *saverState, screen, sound,
                                    passwords, registry,    files};

        FormServices services{platform, window, args, requestTermination, [] {}};
        TForm1 form(module, services);
        if (!window.visible()) window.show();
        const int rc = app.exec();
        form.FormClose();
        return rc;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
}
