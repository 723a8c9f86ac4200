#pragma once
// The screen-saver component: reads the command line once, does the run mode's window work and
// raises the mode's events on its owner form.
#include "platform/password.h"
#include "platform/window.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tarnwick {

struct ScreenSaverEnvironment {
    platform::FormWindow& form; // the owner form's window: every form operation acts on it
    platform::WindowSystem& windows;
    platform::SystemSaverState& saverState;
    platform::PasswordLibrary& passwords;
    std::vector<std::string> args; // command-line arguments after the program path
    std::string applicationTitle;
    std::function<void()> requestTermination; // posts a quit request to the message loop
};

class TScreenSaver {
public:
    using Event = std::function<void(TScreenSaver& sender)>;

    explicit TScreenSaver(ScreenSaverEnvironment env);
    ~TScreenSaver(); // teardown
    TScreenSaver(const TScreenSaver&) = delete;
    TScreenSaver& operator=(const TScreenSaver&) = delete;

    bool AutoEnable = true;
    bool AutoMaximize = true;
    bool AutoBorderLess = true;
    bool AutoOnTop = true;
    bool AutoMouseHide = true;
    bool PreviewWindow = true;
    bool MainScreenSaver = true;
    bool ConfigurationBox = true;
    bool SystemKeysDisabled = true;
    bool PasswordSetting = true;

    Event OnBeforePreviewActive;
    Event OnPreviewActive;
    Event OnBeforeMainSaverActive;
    Event OnMainSaverActive;
    Event OnBeforeConfigBoxActive;
    Event OnConfigBoxActive;
    Event OnBeforePasswordSet;
    Event OnPasswordSet;

    // The load step: runs the mode decision when AutoEnable is set.
    void Loaded();
    void DecideMode();

    // Window work of the modes.
    void HideApplicationWindow();
    void PreviewWindowWork(platform::WindowId parent, bool embed);
    void FullScreenWindowWork();
    void InstallHook();
    void RemoveHook();
    void DisableDisplayProperties();
    void EnableDisplayProperties();
    void PasswordChangeRequest(platform::WindowId parent);

    bool hookInstalled() const { return static_cast<bool>(hook_); }

    static constexpr int32_t kPreviewWidth = 152;
    static constexpr int32_t kPreviewHeight = 112;
    static constexpr const char* kDisplayPropertiesCaption = "Display Properties";

private:
    void raise(const Event& event) {
        if (event) event(*this);
    }
    static intptr_t hookProc(const platform::WindowProc& saved, uint32_t msg, uintptr_t wParam,
                             intptr_t lParam);
    void teardown();

    ScreenSaverEnvironment env_;
    platform::WindowProc savedProc_;
    platform::WindowProc hook_;
};

// The password provider's path: the system directory with exactly one trailing backslash,
// then the library's file name.
std::string PasswordLibraryPath(const std::string& systemDirectory);

} // namespace tarnwick
