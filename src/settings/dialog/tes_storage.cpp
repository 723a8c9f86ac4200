// The dialog's side of the stored properties: controls to model before a load or a save, model
// to controls after a load.
#include "settings/dialog/controls.h"
#include "settings/dialog/path_text.h"
#include "settings/dialog/tes.h"
#include "settings/stored_props.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QSpinBox>

#include <exception>

namespace tarnwick {

void TfrmConfig::controlsToModel(ConfigModel& model) const {
    model.ListBox1_Items.clear();
    model.ListBox1_Items.reserve(static_cast<size_t>(ListBox1->count()));
    for (int i = 0; i < ListBox1->count(); ++i)
        model.ListBox1_Items.push_back(textToPath(ListBox1->item(i)->text()));
    model.cbxPlaySounds_Checked = cbxPlaySounds->isChecked();
    model.cbxUseDesktop_Checked = cbxUseDesktop->isChecked();
    model.fEdit_Value = fEditValue();
    model.JvDirectoryEdit1_InitialDir = textToPath(InitialDir);
    model.rgPath_ItemIndex = rgPath->itemIndex();
    model.udCycle_Position = udCycle->value();
    model.udRefresh_Position = udRefresh->value();
    model.rgDesktopSettings_ItemIndex = rgDesktopSettings->itemIndex();
}

void TfrmConfig::modelToControls(const ConfigModel& model) {
    QStringList items;
    items.reserve(static_cast<qsizetype>(model.ListBox1_Items.size()));
    for (const std::string& item : model.ListBox1_Items) items << pathToText(item);
    // An unchanged list keeps its selection.
    bool same = items.size() == ListBox1->count();
    for (int i = 0; same && i < items.size(); ++i) same = ListBox1->item(i)->text() == items[i];
    if (!same) listReplace(items);
    cbxPlaySounds->setChecked(model.cbxPlaySounds_Checked);
    cbxUseDesktop->setChecked(model.cbxUseDesktop_Checked);
    setFEditValue(model.fEdit_Value);
    InitialDir = pathToText(model.JvDirectoryEdit1_InitialDir);
    rgPath->setItemIndex(model.rgPath_ItemIndex);
    udCycle->setValue(model.udCycle_Position);
    udRefresh->setValue(model.udRefresh_Position);
    rgDesktopSettings->setItemIndex(model.rgDesktopSettings_ItemIndex);
}

void TfrmConfig::LoadStoredProps() {
    controlsToModel(*model_);
    try {
        JvFormStorage1->LoadStoredProps();
    } catch (const std::exception& e) {
        // Whatever was read before the failure is shown; the set counts as not loaded. The
        // reload on activation meets the same damage: it is reported once per showing.
        modelToControls(*model_);
        const std::string text = errorText(e);
        if (text != lastLoadError_) services_.showError(text);
        lastLoadError_ = text;
        return;
    }
    lastLoadError_.clear();
}

void TfrmConfig::SaveStoredProps() {
    if (!JvFormStorage1->loaded()) return;
    controlsToModel(*model_);
    try {
        JvFormStorage1->SaveStoredProps();
    } catch (const std::exception& e) {
        services_.showError(errorText(e));
    }
}

void showSettingsDialogModal(platform::Platform& platform, const std::string& executablePath) {
    TfrmConfig dialog(platform, executablePath);
    dialog.exec();
}

} // namespace tarnwick
