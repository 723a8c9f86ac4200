#pragma once
// XScreenSaver's image settings (the settings program's "Advanced" tab), and what the hack shows
// under the daemon when its own options leave the picture source open.
#include "platform/registry.h"
#include "platform/screen.h"

#include <string>
#include <string_view>

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
    Black,          // nothing may be shown
};

// What to show when the command line names neither a folder nor a desktop effect. The desktop is
// never shown when grabbing is off; Tarnwick's own stored list comes before the daemon's folder.
// `storedDesktop` is what the stored settings would show: true for the desktop.
ImageSource chooseImageSource(const ImagePrefs& prefs, bool storedDesktop, bool storedHasPictures,
                              bool folderHasPictures);

// Whether the stored settings ask for the desktop, and whether they list any picture.
struct StoredSource {
    bool desktop = true;
    bool hasPictures = false;
};
StoredSource readStoredSource(platform::Registry& store);

} // namespace tarnwick::hack

namespace tarnwick::hack {

// A screen that shows nothing: every capture is black. For runs that must not show the desktop.
class BlackScreen final : public platform::Screen {
public:
    explicit BlackScreen(Rect desktop) : desktop_(desktop) {}
    Rect virtualDesktop() override { return desktop_; }
    void capture(const Rect&, int32_t width, int32_t height, uint8_t* rows,
                 std::ptrdiff_t stride) override;

private:
    Rect desktop_;
};

} // namespace tarnwick::hack
