#pragma once
// The settings dialog "Tarnwick Settings": every setting of the saver, the picture list built
// from files and folder trees, and a preview of the chosen picture.
#include "platform/platform.h"
#include "settings/dialog/dialog_services.h"
#include "settings/folder_search.h"

#include <QDialog>
#include <QHash>
#include <QString>

#include <memory>
#include <string>

class QCheckBox;
class QGroupBox;
class QImage;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QToolButton;

namespace tarnwick {

class TButtonEdit;
class TDirectoryEdit;
class TFlickerlessImage;
class TRadioGroup;
class WorkBitmap;
struct ConfigModel;
class FormStorage;

// The filter of the open-picture dialog, as the dialog states it.
inline constexpr const char* kOpenPictureFilter =
    "All (*.jpg;*.jpeg;*.bmp)|*.jpg;*.jpeg;*.bmp|JPEG Image File (*.jpg)|*.jpg|JPEG Image File "
    "(*.jpeg)|*.jpeg|Bitmaps (*.bmp)|*.bmp|All Files (*.*)|*.*";

// The question asked by "Ok" when no picture is listed and the desktop is not used.
inline constexpr const char* kConfirmTitle = "Confirm";
inline constexpr const char* kEmptyListQuestion =
    "No images were added to the list, please select from:\r"
    "\r"
    "   [Ok] - set to \"Use Desktop\" instead - dialog closes\r"
    "   [Cancel] - won''t close dialog";

class TfrmConfig : public QDialog {
    Q_OBJECT
public:
    // The dialog's store key follows the executable's base name ("Software\<name>"). Nothing
    // is read or written until the dialog is shown. Without `services` the Qt ones are used.
    TfrmConfig(platform::Platform& platform, const std::string& executablePath,
               DialogServices* services = nullptr, QWidget* parent = nullptr);
    ~TfrmConfig() override;

    // Window size and layout figures.
    static constexpr int kWidth = 466;
    static constexpr int kHeight = 388;
    static constexpr int kMinWidth = 444;
    static constexpr int kMinHeight = 388;
    static constexpr int kSettingsWidth = 201;
    static constexpr int kPanelWidth = 212;
    static constexpr int kStripHeight = 124;
    static constexpr int kBottomHeight = 73;
    static constexpr int kItemHeight = 13; // of ListBox1's entries
    static constexpr int kMargin = 8;      // between the window's edge and the settings group

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void JvFormStorage1RestorePlacement();
    void cbxUseDesktopClick();
    void JvComboEdit1ButtonClick();
    void AddListBoxItem(const QString& name);
    void ListBox1Click();
    void btnDelItemClick();
    void btnDelAllClick();
    void JvDirectoryEdit1ButtonClick();
    void JvDirectoryEdit1Drop(const QStringList& paths);
    void JvDirectoryEdit1Change();
    void JvSearchFiles1FindFile(const std::string& name);
    void fEditEnter();
    void fEditExit();
    void Image1MouseWheel();
    void btnOkClick();

    // The stored-properties mechanism `JvFormStorage1`, run through the controls: loading
    // starts from the controls' values and ends in JvFormStorage1RestorePlacement; saving does
    // nothing unless the set was loaded. Store errors go to the standard error box.
    void LoadStoredProps();
    void SaveStoredProps();

    // The zoom field's number: its text in the dialog's number format, 0 when it does not
    // convert; setting it writes 15 significant digits, trailing zeros dropped.
    double fEditValue() const;
    void setFEditValue(double value);

    QString CurrentPicture;
    double LastValidZoom = 0;
    // The folder the browse button starts in when the folder field is empty.
    QString InitialDir;

    // Controls, named as the dialog names them. Edit1 and Edit2 are the text parts of the
    // spin boxes udCycle and udRefresh.
    QGroupBox* GroupBox1;
    QLabel* lblCycle;
    QSpinBox* udCycle;
    QLabel* lblRefresh;
    QSpinBox* udRefresh;
    QLabel* lblZoom;
    QLineEdit* fEdit;
    TRadioGroup* rgPath;
    QCheckBox* cbxPlaySounds;
    QWidget* Panel3;
    QCheckBox* cbxUseDesktop;
    QLabel* lblAddPicture;
    TButtonEdit* JvComboEdit1;
    QLabel* lblAddPath;
    TDirectoryEdit* JvDirectoryEdit1;
    QToolButton* btnDelItem;
    QToolButton* btnDelAll;
    QListWidget* ListBox1;
    TRadioGroup* rgDesktopSettings;
    QScrollArea* ScrollBox1;
    TFlickerlessImage* Image1;
    QWidget* BottomPanel;
    QPushButton* btnOk;
    TJvSearchFiles JvSearchFiles1;

    const FormStorage& storage() const { return *JvFormStorage1; }
    // The list's selected entry, -1 when none is selected.
    int selectedRow() const;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // Every way of closing ends here: the whole set is written, the result is "cancel".
    void done(int result) override;

private:
    void layoutControls();
    void layoutPanel3();
    // Loads a picture file into the preview; throws tarnwick::Error when it cannot be loaded.
    void loadPreview(const QString& path);
    // Runs the folder search with a busy cursor, repainting the window while it works.
    void searchFolder(const QString& root);

    // The list and its case-folded index, changed only through these.
    void listAppend(const QString& name);
    void listRemove(int row);
    void listReplace(const QStringList& names);
    bool listContains(const QString& name) const;
    // Selection made by the dialog itself, which is no user click.
    void selectRow(int row);

    void modelToControls(const ConfigModel& model);
    void controlsToModel(ConfigModel& model) const;

    platform::Platform& platform_;
    std::unique_ptr<DialogServices> ownServices_;
    DialogServices& services_;
    std::unique_ptr<ConfigModel> model_;
    std::unique_ptr<FormStorage> JvFormStorage1;
    QHash<QString, int> listIndex_; // case-folded entry -> how often it is listed
    bool closeWhenSearchEnds_ = false;
    bool closed_ = false;
    bool inFEdit_ = false;
    std::string lastLoadError_; // the load failure last reported during this showing
};

// Creates a settings dialog for the executable at `executablePath`, shows it modally and frees
// it when it has closed.
void showSettingsDialogModal(platform::Platform& platform, const std::string& executablePath);

// A working bitmap as a Qt picture (a copy).
QImage toQImage(const WorkBitmap& bitmap);

} // namespace tarnwick
