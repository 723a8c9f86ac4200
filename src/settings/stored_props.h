#pragma once
// The settings dialog's stored properties: which of its controls' values are kept in the store,
// under which names, and how they are loaded and saved. The controls are modelled by ConfigModel,
// so the dialog only binds its widgets to it.
#include "platform/registry.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

// The stored values of the dialog's controls, at their design values. A load brings item indexes
// into -1 (no item) .. count - 1 and up-down positions into their ranges, as the controls would.
struct ConfigModel {
    static constexpr int32_t kPathItemCount = 4;    // rgPath's items
    static constexpr int32_t kDesktopItemCount = 6; // rgDesktopSettings' items
    static constexpr int32_t kCycleMin = 250, kCycleMax = 32767;
    static constexpr int32_t kRefreshMin = 0, kRefreshMax = 2000;

    std::vector<std::string> ListBox1_Items;
    bool cbxPlaySounds_Checked = true;
    bool cbxUseDesktop_Checked = true;
    double fEdit_Value = 0.96;
    std::string JvDirectoryEdit1_InitialDir;
    int32_t rgPath_ItemIndex = 1;
    int32_t udCycle_Position = 1250;
    int32_t udRefresh_Position = 20;
    int32_t rgDesktopSettings_ItemIndex = 0;

    friend bool operator==(const ConfigModel&, const ConfigModel&) = default;
};

// "Software\" + the executable's file name without its extension.
std::string dialogSettingsKey(std::string_view executablePath);

class FormStorage {
public:
    // Entries are component "." property, in the order they are loaded and saved.
    static const std::array<const char*, 9> StoredProps;
    static constexpr int32_t Version = 0;
    // A list longer than this is taken as damage: the dialog never loads more entries.
    static constexpr int32_t kMaxListItems = 1 << 20;

    FormStorage(platform::Registry& store, ConfigModel& model, std::string_view executablePath);

    bool Active = true;
    // Raised after a load that read the stored values.
    std::function<void()> OnRestorePlacement;

    // Loads the stored values into the model. Values of another type or that do not convert
    // are passed over; a FormVersion of another type, a store that cannot be read or a settings
    // key that cannot be created make the whole load fail (and the set counts as not loaded).
    void LoadStoredProps();
    // Writes the whole set as one replacement of the store; does nothing unless the set was
    // loaded. Throws the store's error text on failure, leaving the store as it was.
    void SaveStoredProps();

    const std::string& settingsKey() const { return key_; }
    bool loaded() const { return loaded_; }
    bool saved() const { return saved_; }

private:
    platform::Registry& store_;
    ConfigModel& model_;
    std::string key_;
    bool loaded_ = false;
    bool saved_ = false;
};

} // namespace tarnwick
