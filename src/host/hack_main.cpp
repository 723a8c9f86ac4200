// The XScreenSaver hack: the saver form in its preview mode, drawn at full size into the window
// the daemon hands over (or into a window of our own), with settings overridden for this run.
#include "engine/scrsavermain.h"
#include "host/fps_overlay.h"
#include "host/hack_options.h"
#include "host/image_prefs.h"
#include "host/quiet_start.h"
#include "host/termination.h"
#include "host/xscreensaver_list.h"
#include "imaging/builtin_picture.h"
#include "platform/form_window_proxy.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_password.h"
#include "platform/sdl/sdl_sound_player.h"
#include "platform/x11/x11_connection_watch.h"
#include "platform/x11/x11_daemon_screen.h"
#include "platform/x11/x11_display.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_screen.h"
#include "platform/x11/x11_session_bus.h"
#include "resources/sounds.h"
#include "settings/folder_search.h"
#include "settings/settings_names.h"
#include "settings/text_forms.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMetaObject>
#include <QScreen>
#include <QSocketNotifier>
#include <QWindow>

#include <X11/Xlib.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

// While the event loop runs, a signal reaches it through a pipe, the one thing a handler may
// safely do.
class SignalPipe {
public:
    SignalPipe() {
        if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw Error("Cannot create a pipe");
        termination::pipeWrite = fds_[1];
        notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated,
                         [] { requestTermination(); });
    }
    ~SignalPipe() {
        termination::loopRunning = false; // from here on a signal exits at once
        notifier_.reset();
    }
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    // Runs the event loop; signals ask it to quit meanwhile.
    int exec(QGuiApplication& app) {
        termination::loopRunning = true;
        const int rc = app.exec();
        termination::loopRunning = false;
        return rc;
    }

private:
    int fds_[2] = {-1, -1}; // left open: a late signal may still write to it
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

// The pictures of `folder` and its subfolders; nullopt when it cannot be searched. A subfolder
// that cannot be read is passed over (and named when `verbose`): the rest is still worth showing.
std::optional<std::vector<std::string>> picturesIn(platform::FileSystem& files,
                                                   const std::string& folder, bool verbose) {
    std::vector<std::string> pictures;
    TJvSearchFiles search(files);
    search.rootDirectory = folder;
    search.masks = kHackPictureMasks;
    search.onFindFile = [&](const std::string& name) { pictures.push_back(name); };
    search.onSkippedFolder = [verbose](const std::string& skipped, int err) {
        if (verbose)
            std::fprintf(stderr, "%s: skipped the folder \"%s\": %s\n", kProgram, skipped.c_str(),
                         err ? std::strerror(err) : "cannot read it");
    };
    if (!files.folderExists(folder) || !search.Search()) return std::nullopt;
    return pictures;
}

// The XScreenSaver daemon marks the root window (its status, or its version in older daemons);
// other programs that hand over a window do not.
bool underXScreenSaver(Display* dpy) {
    for (const char* name : {"_SCREENSAVER_STATUS", "_SCREENSAVER_VERSION"}) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        x11::ErrorTrap trap(dpy);
        const bool found =
            XGetWindowProperty(dpy, DefaultRootWindow(dpy), x11::atom(dpy, name), 0, 1, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            type != None;
        if (data) XFree(data);
        if (found && !trap.failed()) return true;
    }
    return false;
}

// Where the desktop may not be shown and the command line names no folder, the user's image
// settings choose what shows instead: the stored pictures, else the daemon's image folder (with
// random images on), else the saver's own picture.
void followImagePrefs(platform::Registry& store, platform::FileSystem& files,
                      const hack::ImagePrefs& prefs, hack::RunOnlyRegistry::Values& overrides,
                      bool verbose, const char* why) {
    const hack::StoredSource stored = hack::readStoredSource(store);
    std::optional<std::vector<std::string>> folder;
    if (!prefs.grabDesktopImages && stored.desktop && !stored.hasPictures &&
        prefs.chooseRandomImages && !prefs.imageDirectory.empty())
        folder = picturesIn(files, prefs.imageDirectory, verbose);
    const auto source = hack::chooseImageSource(prefs, stored.desktop, stored.hasPictures,
                                                folder && !folder->empty());
    const std::string section = std::string(kSaverSettingsKey) + "\\" + kSettingsSection;
    auto& values = overrides[section];
    if (source == hack::ImageSource::Folder) {
        overrides[std::string(kSaverSettingsKey) + "\\" + kPictureListKey] =
            hack::pictureListOverrides(*folder);
        values.emplace_back(kUseDesktopValue, storedBoolText(false));
    } else if (source == hack::ImageSource::StoredPictures) {
        values.emplace_back(kUseDesktopValue, storedBoolText(false));
    }
    if (verbose && source != hack::ImageSource::AsStored)
        std::fprintf(stderr, "%s: %s; showing %s\n", kProgram, why,
                     source == hack::ImageSource::Folder           ? "the image directory"
                     : source == hack::ImageSource::StoredPictures ? "the stored pictures"
                                                                   : "the saver's own picture");
}

// The size and place of -window's window: 800x600 where the window manager likes, unless
// -geometry says otherwise.
void placeOwnWindow(QWindow& window, const std::optional<hack::WindowGeometry>& g) {
    const QSize size(g && g->width ? *g->width : 800, g && g->height ? *g->height : 600);
    window.resize(size);
    if (!g || !g->x) return;
    const QRect screen = window.screen() ? window.screen()->virtualGeometry() : QRect();
    window.setPosition(g->fromRight ? screen.right() + 1 - size.width() - *g->x : *g->x,
                       g->fromBottom ? screen.bottom() + 1 - size.height() - *g->y : *g->y);
}

// Puts the hack in the user's XScreenSaver list, and says where.
int addToXScreenSaver() {
    const char* home = std::getenv("HOME");
    try {
        const hack::ProgramsEdit edit =
            hack::addToUserFile(home ? home : "", hack::kXScreenSaverDefaults);
        std::printf(
            "%s: Tarnwick is%s number %d in the programs list of ~/.xscreensaver\n"
            "Choose it in xscreensaver-settings, or try it: xscreensaver-command -select %d\n",
            kProgram, edit.added ? "" : " already", edit.number, edit.number);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
}

int badUsage(const std::string& message) {
    std::fprintf(stderr, "%s: %s\n%s", kProgram, message.c_str(),
                 hack::usageText(kProgram).c_str());
    return kBadUsage;
}

} // namespace

int main(int argc, char** argv) {
    termination::install();
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
    if (options.addToXScreenSaver) return addToXScreenSaver();

    // A locker never shows the desktop it hides, whatever the command line asks for; elsewhere
    // the user's image settings may forbid it too, unless the command line names an effect.
    const bool locker = hack::lockerInFront(environ);
    if (locker) options.desktop.reset();
    const char* home = std::getenv("HOME");
    hack::ImagePrefs prefs = hack::loadImagePrefs(home ? home : "");
    if (locker) prefs.grabDesktopImages = false;
    const bool desktopAllowed = !locker && (options.desktop || prefs.grabDesktopImages);

    platform::PosixFileSystem files;
    hack::RunOnlyRegistry::Values overrides;
    const std::string section = std::string(kSaverSettingsKey) + "\\" + kSettingsSection;
    overrides[section] = hack::sectionOverrides(options);
    if (options.display) setenv("DISPLAY", options.display->c_str(), 1);
    if (options.images) {
        const auto found = picturesIn(files, *options.images, options.verbose);
        if (!found)
            return badUsage(
                format("-images: cannot search the folder \"%s\"", options.images->c_str()));
        const std::vector<std::string>& pictures = *found;
        if (pictures.empty())
            std::fprintf(stderr, "%s: no pictures in \"%s\"; %s is shown instead\n", kProgram,
                         options.images->c_str(),
                         desktopAllowed ? "the desktop" : "the saver's own picture");
        overrides[std::string(kSaverSettingsKey) + "\\" + kPictureListKey] =
            hack::pictureListOverrides(pictures);
    }

    // Without an X server Qt would abort with a paragraph about platform plugins.
    if (const x11::DisplayPtr probe = x11::openDisplay()) {
        x11::useOnlyTheSessionsBus(probe.get());
    } else {
        const char* wayland = std::getenv("WAYLAND_DISPLAY");
        std::fputs(
            host::noDisplayMessage(kProgram, std::getenv("DISPLAY"), wayland && *wayland).c_str(),
            stderr);
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
        const x11::ConnectionWatch watch(dpy, kProgram);

        x11::XWindow target = 0;
        bool daemonWindow = false;
        std::unique_ptr<OwnWindow> own; // outlives the form window embedded in it
        if (options.target == hack::Target::Root) {
            const char* env = std::getenv("XSCREENSAVER_WINDOW");
            if (env && *env) {
                daemonWindow = true;
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
            placeOwnWindow(*own, options.geometry);
            // Shown once the desktop snapshot is taken, so that it is not in the snapshot.
            own->create();
            target = own->winId();
        }
        if (options.target != hack::Target::Window && !x11::windowExists(dpy, target)) {
            // A well-formed id naming no window is no misuse of the options: one line.
            std::fprintf(stderr, "%s: there is no window 0x%lx on this display\n", kProgram,
                         target);
            return 1;
        }

        platform::FileRegistry store;
        if (!desktopAllowed && !options.images)
            followImagePrefs(store, files, prefs, overrides, options.verbose,
                             locker ? "a screen locker is in front" : "desktop grabbing is off");

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
        // Under the daemon its window covers the screen: a grab would show only that.
        const bool grabAllowed = !(daemonWindow && underXScreenSaver(dpy));
        x11::DaemonScreen screen(grab, dpy, options.target == hack::Target::Window ? 0 : target,
                                 grabAllowed, options.verbose, kProgram);
        platform::SdlSoundPlayer sound(soundResource, options.verbose);
        platform::PosixPasswordLibrary passwords;
        hack::RunOnlyRegistry registry(store, overrides);
        const Size targetSize = windowSize(dpy, target);
        hack::WithheldScreen withheld({0, 0, targetSize.width, targetSize.height},
                                      locker ? std::string(kBuiltinPictureHint)
                                             : hack::kGrabOffHint);
        platform::Platform platform{
            *windows,
            *saverState,
            desktopAllowed ? static_cast<platform::Screen&>(screen) : withheld,
            sound,
            passwords,
            registry,
            files};

        hack::FpsOverlay overlay(window);
        platform::FormWindow& drawn = options.fps ? static_cast<platform::FormWindow&>(overlay)
                                                  : static_cast<platform::FormWindow&>(window);
        // No notices: the hack never writes the store, so a first run is never stored.
        FormServices services{
            platform, drawn, args, requestTermination, [] {}, {}, PictureFormats::WithPngWebp};
        TForm1 form(module, services);
        if (own) own->show();
        if (!window.visible()) window.show();
        const int rc = signalPipe.exec(app);
        form.FormClose();
        return rc;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", kProgram, e.what());
        return 1;
    }
}
