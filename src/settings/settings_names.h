#pragma once
// Where the settings live in the store and what their values are called. The dialog derives
// these names from its stored properties (component "_" property); the saver reads them as
// fixed strings, so both are spelled out once here.

namespace tarnwick {

// The saver always reads this key; the dialog writes to "Software\" + its executable's base name.
inline constexpr const char* kSaverSettingsKey = "Software\\Tarnwick";
inline constexpr const char* kSettingsSection = "TfrmConfig";
inline constexpr const char* kPictureListKey = "TfrmConfig.ListBox1_Items";

inline constexpr const char* kFormVersionValue = "FormVersion";
inline constexpr const char* kPlaySoundsValue = "cbxPlaySounds_Checked";
inline constexpr const char* kUseDesktopValue = "cbxUseDesktop_Checked";
inline constexpr const char* kMaxZoomValue = "fEdit_Value";
inline constexpr const char* kInitialDirValue = "JvDirectoryEdit1_InitialDir";
inline constexpr const char* kCameraPathValue = "rgPath_ItemIndex";
inline constexpr const char* kCycleValue = "udCycle_Position";
inline constexpr const char* kRefreshValue = "udRefresh_Position";
inline constexpr const char* kDesktopSettingValue = "rgDesktopSettings_ItemIndex";

// Values of the list key: "Count" and "Item0", "Item1", ...
inline constexpr const char* kListCountValue = "Count";
inline constexpr const char* kListItemPrefix = "Item";

} // namespace tarnwick
