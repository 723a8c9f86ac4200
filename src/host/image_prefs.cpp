// XScreenSaver's image settings read from its resource files, and the hack's choice of source.
#include "host/image_prefs.h"

#include "settings/settings_names.h"
#include "settings/text_forms.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace tarnwick::hack {

namespace {

// Where Debian's daemon keeps its packaged defaults; the user's file overrides them.
constexpr const char* kPackagedDefaults = "/etc/X11/app-defaults/XScreenSaver";

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::optional<bool> resourceBool(std::string_view v) {
    const std::string u = upperAscii(v);
    if (u == "TRUE" || u == "ON" || u == "YES" || u == "1") return true;
    if (u == "FALSE" || u == "OFF" || u == "NO" || u == "0") return false;
    return std::nullopt;
}

bool readFile(const std::string& name, std::string& text) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

} // namespace

void readImagePrefs(std::string_view text, const std::string& home, ImagePrefs& prefs) {
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.front() == '*') line.remove_prefix(1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || line.front() == '!' || line.front() == '#') continue;
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (name == "grabDesktopImages") {
            if (auto b = resourceBool(value)) prefs.grabDesktopImages = *b;
        } else if (name == "chooseRandomImages") {
            if (auto b = resourceBool(value)) prefs.chooseRandomImages = *b;
        } else if (name == "imageDirectory") {
            if (value.substr(0, 2) == "~/" && !home.empty())
                prefs.imageDirectory = home + std::string(value.substr(1));
            else
                prefs.imageDirectory = std::string(value);
        }
    }
}

ImagePrefs loadImagePrefs(const std::string& home) {
    ImagePrefs prefs;
    std::string text;
    if (readFile(kPackagedDefaults, text)) readImagePrefs(text, home, prefs);
    if (!home.empty() && readFile(home + "/.xscreensaver", text)) readImagePrefs(text, home, prefs);
    return prefs;
}

ImageSource chooseImageSource(const ImagePrefs& prefs, bool storedDesktop, bool storedHasPictures,
                              bool folderHasPictures) {
    if (prefs.grabDesktopImages || !storedDesktop) return ImageSource::AsStored;
    if (storedHasPictures) return ImageSource::StoredPictures;
    if (prefs.chooseRandomImages && folderHasPictures) return ImageSource::Folder;
    return ImageSource::Builtin;
}

bool lockerInFront(const char* const* environment) {
    bool window = false, locker = false;
    for (const char* const* e = environment; e && *e; ++e) {
        const std::string_view v(*e);
        window = window || (v.starts_with("XSCREENSAVER_WINDOW=") && v.size() > 20);
        locker = locker || v.starts_with("XSECURELOCK_");
    }
    return window && locker;
}

StoredSource readStoredSource(platform::Registry& store) {
    const std::string settings = std::string(kSaverSettingsKey);
    const std::string section = settings + "\\" + kSettingsSection;
    const std::string list = settings + "\\" + kPictureListKey;
    auto reader = store.read();
    StoredSource s;
    for (const auto& name : reader->valueNames(list)) {
        if (!equalsIgnoringCase(name.substr(0, 4), kListItemPrefix)) continue;
        const auto v = reader->queryValue(list, name);
        if (v && v->isString() && !v->text().empty()) s.hasPictures = true;
    }
    const auto useDesktop = reader->queryValue(section, kUseDesktopValue);
    // The saver's reader: anything but "True" is False, missing is True, no pictures is desktop.
    s.desktop = !s.hasPictures || !useDesktop || upperAscii(useDesktop->text()) == "TRUE";
    return s;
}

} // namespace tarnwick::hack
