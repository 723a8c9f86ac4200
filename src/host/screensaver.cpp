#include "host/screensaver.h"

#include "host/command_line.h"

namespace tarnwick {

using platform::WindowState;

TScreenSaver::TScreenSaver(ScreenSaverEnvironment env) : env_(std::move(env)) {}

TScreenSaver::~TScreenSaver() {
    teardown();
}

void TScreenSaver::Loaded() {
    if (AutoEnable) DecideMode();
}

void TScreenSaver::DecideMode() {
    const char letter = SwitchLetter(env_.args);
    if (letter == 'P') {
        raise(OnBeforePreviewActive);
        if (PreviewWindow) {
            const int32_t parent = HandleArgument(env_.args, 0);
            const bool embed = HandleArgument(env_.args, -1) != -1;
            PreviewWindowWork(static_cast<platform::WindowId>(static_cast<uint32_t>(parent)),
                              embed);
        }
        raise(OnPreviewActive);
    } else if (letter == 'S') {
        raise(OnBeforeMainSaverActive);
        if (MainScreenSaver) FullScreenWindowWork();
        InstallHook();
        raise(OnMainSaverActive);
    } else if (letter == 'A') {
        raise(OnBeforePasswordSet);
        if (PasswordSetting) {
            std::vector<std::string> upper;
            for (const auto& a : env_.args) upper.push_back(UpperCaseAscii(a));
            const int32_t parent = HandleArgument(upper, 0);
            PasswordChangeRequest(static_cast<platform::WindowId>(static_cast<uint32_t>(parent)));
        }
        raise(OnPasswordSet);
        if (PasswordSetting) env_.requestTermination();
    } else {
        raise(OnBeforeConfigBoxActive);
        if (ConfigurationBox) {
            if (letter == 'C') DisableDisplayProperties();
            if (env_.form.windowState() != WindowState::Normal)
                env_.form.setWindowState(WindowState::Normal);
            Rect g = env_.form.geometry();
            const int32_t width = g.width();
            g.left = -width - 100;
            g.right = g.left + width;
            env_.form.setGeometry(g);
            raise(OnConfigBoxActive);
            if (letter == 'C') {
                EnableDisplayProperties();
                env_.windows.setForegroundWindow(
                    env_.windows.findTopLevelWindow(kDisplayPropertiesCaption));
            }
            env_.requestTermination();
        }
        raise(OnConfigBoxActive);
    }
}

void TScreenSaver::HideApplicationWindow() {
    env_.windows.hideApplicationWindow(env_.applicationTitle);
}

void TScreenSaver::PreviewWindowWork(platform::WindowId parent, bool embed) {
    HideApplicationWindow();
    env_.windows.setApplicationExStyle(platform::WS_EX_TOOLWINDOW | platform::WS_EX_TOPMOST);
    env_.form.handle();
    if (!embed) return;
    // The child takes the parent's styles plus child and disabled, and its extended styles.
    env_.form.embedInto(parent);
    if (AutoMaximize) {
        const Size screen = env_.form.screenSize();
        Rect g = env_.form.geometry();
        env_.form.setGeometry({g.left, g.top, g.left + screen.width, g.top + screen.height});
    }
    // Scaling by 152 / width only matters for child controls, and the form draws none of its own.
    env_.form.setGeometry({0, 0, kPreviewWidth, kPreviewHeight});
}

void TScreenSaver::FullScreenWindowWork() {
    HideApplicationWindow();
    if (SystemKeysDisabled) env_.saverState.setScreenSaverRunning(true);
    if (AutoMouseHide) env_.windows.showCursor(false);
    if (AutoMaximize) env_.form.setWindowState(WindowState::Maximized);
    if (AutoBorderLess) env_.form.setBorderless();
    if (AutoOnTop) env_.form.setStayOnTop();
}

void TScreenSaver::InstallHook() {
    if (hook_) return;
    env_.form.handle();
    savedProc_ = env_.form.windowProc();
    // The hook holds its own copy of the procedure it wraps and nothing of this object: a window
    // left with it (one whose procedure cannot be put back) never calls into a destroyed saver.
    hook_ = [saved = savedProc_](uint32_t msg, uintptr_t wParam, intptr_t lParam) {
        return hookProc(saved, msg, wParam, lParam);
    };
    env_.form.setWindowProc(hook_);
}

intptr_t TScreenSaver::hookProc(const platform::WindowProc& saved, uint32_t msg, uintptr_t wParam,
                                intptr_t lParam) {
    // Refuse the system's request to start a screen saver while this one runs.
    if (msg == platform::WM_SYSCOMMAND && wParam == platform::SC_SCREENSAVE) return 0;
    return saved ? saved(msg, wParam, lParam) : 0;
}

void TScreenSaver::RemoveHook() {
    // Never re-create a destroyed window just to put its procedure back.
    if (savedProc_ && env_.form.hasHandle()) env_.form.setWindowProc(savedProc_);
    hook_ = nullptr;
    savedProc_ = nullptr;
}

void TScreenSaver::DisableDisplayProperties() {
    env_.windows.enableWindow(env_.windows.findTopLevelWindow(kDisplayPropertiesCaption), false);
}

void TScreenSaver::EnableDisplayProperties() {
    env_.windows.enableWindow(env_.windows.findTopLevelWindow(kDisplayPropertiesCaption), true);
}

std::string PasswordLibraryPath(const std::string& systemDirectory) {
    std::string path = systemDirectory;
    if (!path.empty() && path.back() != '\\') path += '\\';
    return path + "MPR.DLL";
}

void TScreenSaver::PasswordChangeRequest(platform::WindowId parent) {
    HideApplicationWindow();
    env_.form.setWindowState(WindowState::Minimized);
    env_.windows.setApplicationExStyle(platform::WS_EX_TOOLWINDOW | platform::WS_EX_TOPMOST);
    // The system directory text is cut to the buffer the call was given.
    std::string dir = env_.windows.systemDirectory();
    if (dir.size() > 259) dir.resize(259);
    auto library = env_.passwords.load(PasswordLibraryPath(dir));
    if (!library) return;
    if (auto change = env_.passwords.find(library, "PwdChangePasswordA"))
        change("SCRSAVE", parent, 0, 0);
    env_.passwords.free(library);
}

void TScreenSaver::teardown() {
    RemoveHook();
    if (SwitchLetter(env_.args) == 'C') EnableDisplayProperties();
    if (SystemKeysDisabled) env_.saverState.setScreenSaverRunning(false);
    if (AutoMouseHide) env_.windows.showCursor(true);
}

} // namespace tarnwick
