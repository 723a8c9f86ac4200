#include "settings/stored_props.h"

#include "settings/reg_access.h"
#include "settings/settings_names.h"
#include "settings/text_forms.h"

#include <algorithm>
#include <variant>

namespace tarnwick {

namespace {

using Member =
    std::variant<std::vector<std::string> ConfigModel::*, bool ConfigModel::*,
                 double ConfigModel::*, std::string ConfigModel::*, int32_t ConfigModel::*>;

struct Prop {
    const char* entry; // component "." property
    Member member;
    int32_t min = 0, max = 0; // the control's range, for integers (item indexes: -1 is none)
};

const std::array<Prop, 9> kProps{{
    {"ListBox1.Items", &ConfigModel::ListBox1_Items},
    {"cbxPlaySounds.Checked", &ConfigModel::cbxPlaySounds_Checked},
    {"cbxUseDesktop.Checked", &ConfigModel::cbxUseDesktop_Checked},
    {"fEdit.Value", &ConfigModel::fEdit_Value},
    {"JvDirectoryEdit1.InitialDir", &ConfigModel::JvDirectoryEdit1_InitialDir},
    {"rgPath.ItemIndex", &ConfigModel::rgPath_ItemIndex, -1, ConfigModel::kPathItemCount - 1},
    {"udCycle.Position", &ConfigModel::udCycle_Position, ConfigModel::kCycleMin,
     ConfigModel::kCycleMax},
    {"udRefresh.Position", &ConfigModel::udRefresh_Position, ConfigModel::kRefreshMin,
     ConfigModel::kRefreshMax},
    {"rgDesktopSettings.ItemIndex", &ConfigModel::rgDesktopSettings_ItemIndex, -1,
     ConfigModel::kDesktopItemCount - 1},
}};

// Scalars: the value named component "_" property in the section.
std::string valueName(const char* entry) {
    std::string s(entry);
    std::replace(s.begin(), s.end(), '.', '_');
    return s;
}

// String lists: a key of their own beside the section, section "." component "_" property.
std::string listKeyName(const char* entry) {
    return std::string(kSettingsSection) + "." + valueName(entry);
}

int32_t storedIntOrZero(std::string_view text) {
    return parseStoredInt(trimStoredText(text)).value_or(0);
}

std::string itemName(int32_t index) {
    return kListItemPrefix + std::to_string(index);
}

void loadList(RegistryAccess& reg, const std::string& settingsKey, const char* entry,
              std::vector<std::string>& list) {
    if (!reg.openKey("\\" + settingsKey + "\\" + listKeyName(entry), false)) return;
    int32_t count = storedIntOrZero(reg.readString(kListCountValue, "0"));
    if (count < 1) return;
    // Items are read where they are: a Count far beyond them must not make a list of that size.
    // Entries missing between stored items stay as empty entries; missing ones after the last
    // stored item are not added.
    std::vector<int32_t> present = reg.presentIndexes(kListItemPrefix, count);
    while (!present.empty() && present.back() >= FormStorage::kMaxListItems) present.pop_back();
    std::vector<std::string> items(present.empty() ? 0 : static_cast<size_t>(present.back()) + 1);
    for (int32_t i : present) items[static_cast<size_t>(i)] = reg.readString(itemName(i));
    list = std::move(items);
}

} // namespace

const std::array<const char*, 9> FormStorage::StoredProps = [] {
    std::array<const char*, 9> entries{};
    for (size_t i = 0; i < kProps.size(); ++i) entries[i] = kProps[i].entry;
    return entries;
}();

std::string dialogSettingsKey(std::string_view executablePath) {
    std::string_view name = executablePath.substr(executablePath.rfind('/') + 1);
    if (size_t dot = name.rfind('.'); dot != std::string_view::npos) name = name.substr(0, dot);
    return "Software\\" + std::string(name);
}

FormStorage::FormStorage(platform::Registry& store, ConfigModel& model,
                         std::string_view executablePath)
    : store_(store), model_(model), key_(dialogSettingsKey(executablePath)) {}

void FormStorage::LoadStoredProps() {
    if (!Active) return;
    saved_ = false;
    loaded_ = false;
    RegistryAccess reg(store_);
    reg.createKey("\\" + key_);
    const std::string section = "\\" + key_ + "\\" + kSettingsSection;

    int32_t version = 0;
    if (reg.openKey(section, false))
        version = storedIntOrZero(reg.readString(kFormVersionValue, "0"));

    if (version >= Version) {
        for (const Prop& prop : kProps) {
            try {
                if (auto list =
                        std::get_if<std::vector<std::string> ConfigModel::*>(&prop.member)) {
                    loadList(reg, key_, prop.entry, model_.**list);
                    continue;
                }
                if (!reg.openKey(section, false)) continue;
                const std::string name = valueName(prop.entry);
                if (!reg.valueExists(name)) continue;
                const std::string text = reg.readString(name);
                if (auto b = std::get_if<bool ConfigModel::*>(&prop.member)) {
                    if (equalsIgnoringCase(text, "False")) model_.** b = false;
                    if (equalsIgnoringCase(text, "True")) model_.** b = true;
                } else if (auto d = std::get_if<double ConfigModel::*>(&prop.member)) {
                    if (auto v = parseStoredFloat(text)) model_.** d = *v;
                } else if (auto s = std::get_if<std::string ConfigModel::*>(&prop.member)) {
                    model_.** s = trimStoredText(text);
                } else if (auto n = std::get_if<int32_t ConfigModel::*>(&prop.member)) {
                    model_.** n = std::clamp(storedIntOrZero(text), prop.min, prop.max);
                }
            } catch (const platform::RegistryError&) {
                throw; // the store itself failed: not a matter of one property
            } catch (const Error&) {
                // A value of another type or one the store cannot give: keep the control's value.
            }
        }
        if (OnRestorePlacement) OnRestorePlacement();
    }
    loaded_ = true;
    reg.closeKey();
}

void FormStorage::SaveStoredProps() {
    if (!loaded_) return;
    RegistryAccess reg(store_);
    RegistryUpdate update(reg);
    const std::string section = "\\" + key_ + "\\" + kSettingsSection;
    reg.createKey("\\" + key_);
    reg.createKey(section);
    reg.openKey(section, false);
    reg.writeString(kFormVersionValue, std::to_string(Version));
    for (const Prop& prop : kProps) {
        if (auto list = std::get_if<std::vector<std::string> ConfigModel::*>(&prop.member)) {
            const std::vector<std::string>& items = model_.**list;
            const std::string listKey = "\\" + key_ + "\\" + listKeyName(prop.entry);
            reg.deleteKey(listKey);
            if (items.empty()) continue;
            reg.createKey(listKey);
            reg.openKey(listKey, false);
            reg.writeString(kListCountValue, std::to_string(items.size()));
            for (size_t i = 0; i < items.size(); ++i)
                reg.writeString(kListItemPrefix + std::to_string(i), items[i]);
            reg.openKey(section, false);
            continue;
        }
        const std::string name = valueName(prop.entry);
        if (auto b = std::get_if<bool ConfigModel::*>(&prop.member)) {
            reg.writeString(name, storedBoolText(model_.**b));
        } else if (auto d = std::get_if<double ConfigModel::*>(&prop.member)) {
            reg.writeString(name, formatStoredFloat(model_.**d));
        } else if (auto s = std::get_if<std::string ConfigModel::*>(&prop.member)) {
            reg.writeString(name, trimStoredText(model_.**s));
        } else if (auto n = std::get_if<int32_t ConfigModel::*>(&prop.member)) {
            reg.writeString(name, std::to_string(model_.**n));
        }
    }
    update.commit();
    saved_ = true;
}

} // namespace tarnwick
