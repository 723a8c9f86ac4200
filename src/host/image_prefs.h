#pragma once
// XScreenSaver's image settings (the settings program's "Advanced" tab), and what the hack shows
// under the daemon when its own options leave the picture source open.
#include "platform/registry.h"
#include "platform/screen.h"

#include <string>
#include <string_view>
#include <utility>

namespace tarnwick::hack {

struct ImagePrefs {
    bool grabDesktopImages = true;
    bool chooseRandomImages = false;
    std::string imageDirectory; // bytes as written, "~/" already expanded
};

// Applies the resource lines of `text` ("name: value", optionally "*name:") over `prefs`.
// `home` expands a leading "~/" of imageDirectory.
void readImagePrefs(std::string_view text, const std::string& home, ImagePrefs& prefs);

// The daemon's packaged defaults, then the user's ~/.xscreensaver; unreadable files are skipped.
ImagePrefs loadImagePrefs(const std::string& home);

enum class ImageSource {
    AsStored,       // the stored settings decide
    StoredPictures, // the stored picture list, although the stored settings ask for the desktop
    Folder,         // the pictures of ImagePrefs::imageDirectory
    Builtin,        // no pictures, and the desktop may not be shown: the saver's own picture
};

// What to show when the command line names neither a folder nor a desktop effect (or a locker
// overrules the effect). The desktop is never shown when grabbing is off; Tarnwick's own stored
// list comes before the daemon's folder.
// `storedDesktop` is what the stored settings would show: true for the desktop.
ImageSource chooseImageSource(const ImagePrefs& prefs, bool storedDesktop, bool storedHasPictures,
                              bool folderHasPictures);

// Whether the stored settings ask for the desktop, and whether they list any picture.
struct StoredSource {
    bool desktop = true;
    bool hasPictures = false;
};
StoredSource readStoredSource(platform::Registry& store);

// Whether the hack runs behind a screen locker, which must never show the desktop it hides:
// xsecurelock hands its savers a window in XSCREENSAVER_WINDOW and is configured through
// XSECURELOCK_* variables, which its children inherit. `environment` is as `environ`.
bool lockerInFront(const char* const* environment);

// The line the saver's own picture shows when desktop grabbing is turned off.
inline constexpr const char* kGrabOffHint =
    "Turn on \"Grab desktop images\" or choose pictures in Tarnwick Settings";

} // namespace tarnwick::hack

namespace tarnwick::hack {

// The screen of a run that must not show the desktop: every capture is refused with `hint`, so
// that the saver shows its own picture with that line instead.
class WithheldScreen final : public platform::Screen {
public:
    WithheldScreen(Rect desktop, std::string hint) : desktop_(desktop), hint_(std::move(hint)) {}
    Rect virtualDesktop() override { return desktop_; }
    void capture(const Rect&, int32_t, int32_t, uint8_t*, std::ptrdiff_t) override {
        throw platform::DesktopWithheld(hint_);
    }

private:
    Rect desktop_;
    std::string hint_;
};

} // namespace tarnwick::hack
