// The saver's settings reader: the stored settings into the form, with the saver's own defaults,
// and the first-run values stored when no settings exist yet.
#include "engine/scrsavermain.h"

#include "imaging/bitmap.h"
#include "settings/reg_access.h"
#include "settings/settings_names.h"
#include "settings/text_forms.h"

#include <exception>
#include <string>

namespace tarnwick {

namespace {

constexpr int32_t kCycleDefault = 9000;
constexpr int32_t kRefreshDefault = 50;

const std::string kSettingsPath = std::string("\\") + kSaverSettingsKey;
const std::string kSectionPath = kSettingsPath + "\\" + kSettingsSection;

// Missing, or not a decimal integer: the default.
int32_t readInt(RegistryAccess& reg, const char* name, int32_t fallback) {
    return parseStoredInt(reg.readString(name, std::to_string(fallback))).value_or(fallback);
}

bool readBool(RegistryAccess& reg, const char* name, const char* fallback) {
    return upperAscii(reg.readString(name, fallback)) == "TRUE";
}

// The store's own error at the bottom of a nested failure: it names the file and the reason.
std::string innermostReason(const std::exception& e) {
    try {
        std::rethrow_if_nested(e);
    } catch (const std::exception& cause) {
        return innermostReason(cause);
    }
    return e.what();
}

} // namespace

void TForm1::Read_Registry() {
    if (!pictureList) pictureList = std::make_unique<std::vector<std::string>>();
    UseDesktop = false;
    platform::Registry& store = services_.platform.registry;

    // One view of the store serves the whole reading, so a dialog saving at the same moment is
    // seen entirely or not at all.
    RegistryAccess reg(store);

    // The picture list. Both keys are created, so a first run leaves an empty list key behind.
    auto opened = reg.tryOpenKey(kSettingsPath, true);
    if (opened == RegistryAccess::OpenResult::Opened)
        opened = reg.tryOpenKey(kPictureListKey, true);
    const bool storeRefused = opened == RegistryAccess::OpenResult::CreateFailed;
    if (opened == RegistryAccess::OpenResult::Opened) {
        const int32_t count = readInt(reg, kListCountValue, 0);
        // Only the items present are visited: a huge Count costs nothing.
        for (int32_t i : reg.presentIndexes(kListItemPrefix, count)) {
            std::string item = reg.readString(kListItemPrefix + std::to_string(i));
            if (!item.empty()) pictureList->push_back(std::move(item));
        }
    }

    if (reg.openKey(kSettingsPath, false) && reg.openKey(kSettingsSection, false)) {
        PlaySounds = readBool(reg, kPlaySoundsValue, "FALSE");
        UseDesktop = readBool(reg, kUseDesktopValue, "TRUE");
        if (pictureList->empty()) UseDesktop = true;
        MaxZoom = parseStoredFloat(reg.readString(kMaxZoomValue, "1.0")).value_or(1.0);
        BuildZooms(readInt(reg, kCameraPathValue, 0));

        const std::string& arg = module_.launchArgument;
        if (arg != "/C" && arg != "/A" && !arg.empty()) {
            if (UseDesktop) {
                TakeDesktopSnapshot();
                ApplyDesktopSetting(readInt(reg, kDesktopSettingValue, 0));
                placeCameraOnDesktop();
            } else {
                // The first picture is decoded while the window already shows this (or black).
                if (auto placeholder = PlaceholderPicture())
                    module_.CopyBitmap = std::move(placeholder);
                LoadNextPicture();
            }
        }
        JvThreadTimer1->setDelay(readInt(reg, kCycleValue, kCycleDefault));
        JvThreadTimer2->setDelay(readInt(reg, kRefreshValue, kRefreshDefault));
        return;
    }
    // Software\Tarnwick is missing although it was just created: someone deleted it meanwhile.
    // Nothing is read then, unless the store refused to create it; such a store still gets a
    // first run, whose values are then used without being stored.
    if (!reg.keyExists(kSettingsPath) && !storeRefused) return;

    // First run: the saver's own values, stored in one replacement when the store allows it.
    try {
        RegistryUpdate update(reg);
        reg.createKey(kSectionPath);
        reg.openKey(kSectionPath, false);
        reg.writeString(kMaxZoomValue, "0.75");
        reg.writeString(kCameraPathValue, "0");
        reg.writeString(kDesktopSettingValue, "0");
        reg.writeString(kPlaySoundsValue, "False");
        reg.writeString(kUseDesktopValue, "True");
        reg.writeString(kCycleValue, std::to_string(kCycleDefault));
        reg.writeString(kRefreshValue, std::to_string(kRefreshDefault));
        update.commit();
    } catch (const platform::RegistryError&) {
        throw; // a store that cannot be read is reported, never run over
    } catch (const Error& e) {
        // The store cannot be written (a read-only folder, a full disk): run with the same values,
        // and say once why they will be asked for again next time.
        if (services_.notice && !module_.firstRunFailureTold) {
            module_.firstRunFailureTold = true;
            services_.notice("the settings could not be stored: " + innermostReason(e));
        }
    }
    PlaySounds = false;
    MaxZoom = 0.75;
    BuildZooms(0);
    UseDesktop = true;
    TakeDesktopSnapshot();
    placeCameraOnDesktop();

    // The intervals are read back from what was stored.
    reg.closeKey();
    const bool stored = reg.openKey(kSectionPath, false);
    JvThreadTimer1->setDelay(stored ? readInt(reg, kCycleValue, kCycleDefault) : kCycleDefault);
    JvThreadTimer2->setDelay(stored ? readInt(reg, kRefreshValue, kRefreshDefault)
                                    : kRefreshDefault);
}

} // namespace tarnwick
