#include "settings/dialog/tes.h"

#include "host/widgets/flickerless.h"
#include "imaging/bitmap.h"
#include "imaging/picture_loader.h"
#include "settings/dialog/controls.h"
#include "settings/dialog/path_text.h"
#include "settings/stored_props.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <cstring>
#include <exception>

namespace tarnwick {

namespace {

// Every number in the dialog is shown and read in the C locale whatever the user's locale:
// "1,250" in the interval fields, "." and no group separator in the zoom field. The store
// holds plain digits either way.
QLocale dialogLocale() {
    return QLocale::c();
}
QLocale intervalLocale() {
    QLocale locale = QLocale::c();
    locale.setNumberOptions(QLocale::DefaultNumberOptions); // the C locale omits separators
    return locale;
}

QString fromPath(const std::string& path) {
    return pathToText(path);
}
std::string toPath(const QString& path) {
    return textToPath(path);
}

// Sets an override cursor for as long as it lives.
class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// Focus that moves with the window's activation or to a popup menu is no leaving of the field.
bool isFieldFocusChange(const QFocusEvent* event) {
    return event->reason() != Qt::ActiveWindowFocusReason &&
           event->reason() != Qt::PopupFocusReason;
}

} // namespace

QImage toQImage(const WorkBitmap& bitmap) {
    if (bitmap.empty()) return QImage();
    QImage image(bitmap.width(), bitmap.height(), QImage::Format_BGR888);
    const size_t rowBytes = static_cast<size_t>(bitmap.width()) * 3;
    for (int32_t y = 0; y < bitmap.height(); ++y)
        std::memcpy(image.scanLine(y), bitmap.scanLine(y).data(), rowBytes);
    return image;
}

TfrmConfig::TfrmConfig(platform::Platform& platform, const std::string& executablePath,
                       DialogServices* services, QWidget* parent)
    : QDialog(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      JvSearchFiles1(platform.files), platform_(platform),
      ownServices_(services ? nullptr : std::make_unique<QtDialogServices>(this)),
      services_(services ? *services : *ownServices_), model_(std::make_unique<ConfigModel>()),
      JvFormStorage1(std::make_unique<FormStorage>(platform.registry, *model_, executablePath)) {
    setObjectName("frmConfig");
    setWindowTitle("Tarnwick Settings");
    setLocale(dialogLocale());
    QFont font("MS Sans Serif", 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setSizeGripEnabled(false);
    resize(kWidth, kHeight);
    setMinimumSize(kMinWidth, kMinHeight);

    // Settings group.
    GroupBox1 = new QGroupBox("Settings", this);
    lblCycle = new QLabel("Cycle Pictures (1/1000 s)", GroupBox1);
    udCycle = new QSpinBox(GroupBox1);
    udCycle->setRange(250, 32767);
    udCycle->setSingleStep(1);
    udCycle->setWrapping(false);
    udCycle->setLocale(intervalLocale());
    udCycle->setGroupSeparatorShown(true);
    udCycle->setValue(1250);
    lblRefresh = new QLabel("Refresh (1/1000 s)", GroupBox1);
    udRefresh = new QSpinBox(GroupBox1);
    udRefresh->setRange(0, 2000);
    udRefresh->setSingleStep(1);
    udRefresh->setWrapping(false);
    udRefresh->setLocale(intervalLocale());
    udRefresh->setGroupSeparatorShown(true);
    udRefresh->setValue(20);
    lblZoom = new QLabel("Maximum Zoom", GroupBox1);
    fEdit = new QLineEdit(GroupBox1);
    setFEditValue(0.96);
    fEdit->installEventFilter(this);
    rgPath = new TRadioGroup("Camera Path",
                             {"Sine wave", "Zigzag", "(Sine + Zigzag) / 2", "Drunken"}, GroupBox1);
    rgPath->setItemIndex(1);
    cbxPlaySounds = new QCheckBox("Play Sounds", GroupBox1);
    cbxPlaySounds->setChecked(true);

    // Picture panel.
    Panel3 = new QWidget(this);
    cbxUseDesktop = new QCheckBox("Use Desktop instead of pictures", Panel3);
    cbxUseDesktop->setChecked(true);
    lblAddPicture = new QLabel("Add Picture", Panel3);
    JvComboEdit1 = new TButtonEdit(style()->standardIcon(QStyle::SP_DialogOpenButton), Panel3);
    lblAddPath = new QLabel("Add Path", Panel3);
    JvDirectoryEdit1 = new TDirectoryEdit(style()->standardIcon(QStyle::SP_DirOpenIcon), Panel3);
    btnDelItem = new QToolButton(Panel3);
    btnDelItem->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    btnDelAll = new QToolButton(Panel3);
    btnDelAll->setIcon(style()->standardIcon(QStyle::SP_TrashIcon));
    btnDelAll->setText("All");
    btnDelAll->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ListBox1 = new QListWidget(Panel3);
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setUniformItemSizes(true);
    ListBox1->setItemDelegate(new TFixedHeightDelegate(kItemHeight, ListBox1));
    rgDesktopSettings = new TRadioGroup("Desktop Settings",
                                        {"Normal", "Rotated 90", "Rotated 180", "Rotated 270",
                                         "Warped (slow initialization)", "Blurred Vision"},
                                        Panel3);
    rgDesktopSettings->setItemIndex(0);
    rgDesktopSettings->setAutoFillBackground(true); // it lies over the controls below it

    // Preview.
    ScrollBox1 = new QScrollArea(this);
    ScrollBox1->setWidgetResizable(false);
    ScrollBox1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1 = new TFlickerlessImage;
    ScrollBox1->setWidget(Image1);
    ScrollBox1->viewport()->installEventFilter(this);

    // Bottom strip.
    BottomPanel = new QWidget(this);
    btnOk = new QPushButton("Ok", BottomPanel);
    btnOk->setDefault(true);

    connect(cbxUseDesktop, &QCheckBox::toggled, this, [this] { cbxUseDesktopClick(); });
    connect(JvComboEdit1, &TButtonEdit::buttonClick, this, [this] { JvComboEdit1ButtonClick(); });
    connect(ListBox1, &QListWidget::itemSelectionChanged, this, [this] { ListBox1Click(); });
    connect(btnDelItem, &QToolButton::clicked, this, [this] { btnDelItemClick(); });
    connect(btnDelAll, &QToolButton::clicked, this, [this] { btnDelAllClick(); });
    connect(JvDirectoryEdit1, &TButtonEdit::buttonClick, this,
            [this] { JvDirectoryEdit1ButtonClick(); });
    connect(JvDirectoryEdit1->folderEdit(), &TFolderLineEdit::pathsDropped, this,
            [this](const QStringList& paths) { JvDirectoryEdit1Drop(paths); });
    connect(JvDirectoryEdit1->folderEdit(), &QLineEdit::textChanged, this,
            [this] { JvDirectoryEdit1Change(); });
    // Text that reaches the field without focus (a drop) is checked when the dialog closes.
    connect(fEdit, &QLineEdit::textEdited, this, [this] { inFEdit_ = true; });
    connect(Image1, &TFlickerlessImage::mouseWheel, this, [this] { Image1MouseWheel(); });
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    JvSearchFiles1.onFindFile = [this](const std::string& name) { JvSearchFiles1FindFile(name); };
    JvFormStorage1->OnRestorePlacement = [this] {
        modelToControls(*model_);
        JvFormStorage1RestorePlacement();
    };

    // Owned by the dialog and made after the buttons, so it outlives them.
    auto* indicatorStyle = new TReadableIndicatorStyle;
    indicatorStyle->setParent(this);
    for (QAbstractButton* b : findChildren<QAbstractButton*>())
        if (qobject_cast<QRadioButton*>(b) || qobject_cast<QCheckBox*>(b))
            b->setStyle(indicatorStyle);

    cbxUseDesktopClick();
    FormCreate();
}

TfrmConfig::~TfrmConfig() {
    // A shown dialog destroyed without being closed still writes its set.
    if (!closed_) SaveStoredProps();
}

void TfrmConfig::FormCreate() {
    CurrentPicture.clear();
}

void TfrmConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return; // restored by the window manager: no new show
    closed_ = false;
    lastLoadError_.clear();
    if (const QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->geometry().center());
        move(frame.topLeft());
    }
    LoadStoredProps();
    // The activation that follows the show. Later activations (back from a file dialog or
    // another program) only set the layout: reloading there would throw away every edit made
    // since the show, since nothing is written before the dialog closes.
    FormActivate();
}

void TfrmConfig::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) cbxUseDesktopClick();
}

void TfrmConfig::FormActivate() {
    LoadStoredProps();
    cbxUseDesktopClick();
}

void TfrmConfig::JvFormStorage1RestorePlacement() {
    const QString name = JvComboEdit1->text();
    if (!platform_.files.fileExists(toPath(name))) return;
    try {
        loadPreview(name);
        CurrentPicture = name;
        AddListBoxItem(name);
    } catch (const std::exception&) {
        JvComboEdit1->setText(QString());
        CurrentPicture.clear();
    }
}

void TfrmConfig::cbxUseDesktopClick() {
    const bool useDesktop = cbxUseDesktop->isChecked();
    for (QWidget* w : std::initializer_list<QWidget*>{JvComboEdit1, JvDirectoryEdit1, btnDelItem,
                                                      btnDelAll, ListBox1, udCycle})
        w->setEnabled(!useDesktop);
    rgDesktopSettings->setVisible(useDesktop);
    ListBox1->setVisible(!useDesktop);
    ScrollBox1->setVisible(!useDesktop);
    layoutControls();
}

void TfrmConfig::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    layoutControls();
}

void TfrmConfig::layoutControls() {
    const int w = width();
    const int top = height() - kBottomHeight;
    GroupBox1->setGeometry(kMargin, kMargin, kSettingsWidth - kMargin, top - kMargin);
    lblCycle->setGeometry(8, 18, 185, 16);
    udCycle->setGeometry(8, 34, 90, 21);
    lblRefresh->setGeometry(8, 62, 185, 16);
    udRefresh->setGeometry(8, 78, 90, 21);
    lblZoom->setGeometry(8, 112, 90, 16);
    fEdit->setGeometry(100, 109, 70, 21);
    rgPath->setGeometry(8, 138, 185, 105);
    cbxPlaySounds->setGeometry(8, 250, 185, 20);

    const bool useDesktop = cbxUseDesktop->isChecked();
    const int panelWidth = useDesktop ? std::max(0, w - kSettingsWidth) : kPanelWidth;
    Panel3->setGeometry(kSettingsWidth, 0, panelWidth, top);
    layoutPanel3();
    if (!useDesktop)
        ScrollBox1->setGeometry(kSettingsWidth + kPanelWidth, 0,
                                std::max(0, w - kSettingsWidth - kPanelWidth), top);

    BottomPanel->setGeometry(0, top, w, kBottomHeight);
    btnOk->setGeometry(w - 75 - 8, (kBottomHeight - 25) / 2, 75, 25);
}

void TfrmConfig::layoutPanel3() {
    const int w = Panel3->width();
    cbxUseDesktop->setGeometry(8, 8, 200, 20);
    lblAddPicture->setGeometry(8, 34, 120, 16);
    JvComboEdit1->setGeometry(8, 50, 196, 21);
    lblAddPath->setGeometry(8, 78, 120, 16);
    JvDirectoryEdit1->setGeometry(8, 94, 128, 21);
    btnDelItem->setGeometry(140, 94, 22, 22);
    btnDelAll->setGeometry(164, 94, 42, 22);
    ListBox1->setGeometry(0, kStripHeight, w, std::max(0, Panel3->height() - kStripHeight));
    rgDesktopSettings->setGeometry(0, 33, w, 189);
    rgDesktopSettings->raise();
}

void TfrmConfig::loadPreview(const QString& path) {
    std::unique_ptr<WorkBitmap> picture = LoadPicture(toPath(path));
    Image1->setPicture(toQImage(*picture));
}

void TfrmConfig::JvComboEdit1ButtonClick() {
    const std::optional<std::vector<std::string>> files =
        services_.openPictures(kOpenPictureFilter, std::string());
    if (!files || files->empty()) return;
    if (files->size() == 1) {
        const QString name = fromPath(files->front());
        try {
            loadPreview(name);
            CurrentPicture = name;
            JvComboEdit1->setText(CurrentPicture);
            AddListBoxItem(JvComboEdit1->text());
        } catch (const std::exception&) {
            JvComboEdit1->setText(CurrentPicture);
        }
        return;
    }
    for (const std::string& file : *files) {
        CurrentPicture = fromPath(file);
        JvComboEdit1->setText(CurrentPicture);
        AddListBoxItem(JvComboEdit1->text());
    }
    try {
        loadPreview(fromPath(files->front()));
    } catch (const std::exception&) {
        // Several files are added unchecked; a first one that does not load shows nothing new.
    }
}

void TfrmConfig::AddListBoxItem(const QString& name) {
    if (!listContains(name)) listAppend(name);
}

int TfrmConfig::selectedRow() const {
    const QModelIndexList rows = ListBox1->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

void TfrmConfig::ListBox1Click() {
    const int row = selectedRow();
    if (row < 0) return;
    const QString entry = ListBox1->item(row)->text();
    try {
        loadPreview(entry);
        CurrentPicture = entry;
        JvComboEdit1->setText(entry);
    } catch (const std::exception&) {
        listRemove(row);
        try {
            loadPreview(CurrentPicture);
            JvComboEdit1->setText(CurrentPicture);
        } catch (const std::exception& e) {
            services_.showError(errorText(e));
        }
    }
}

void TfrmConfig::btnDelItemClick() {
    const int row = selectedRow();
    if (row >= 0) listRemove(row);
}

void TfrmConfig::btnDelAllClick() {
    while (ListBox1->count() > 0) listRemove(0);
}

void TfrmConfig::JvDirectoryEdit1ButtonClick() {
    QString start = JvDirectoryEdit1->text();
    if (start.isEmpty()) start = InitialDir;
    if (start.isEmpty() || !platform_.files.folderExists(toPath(start))) start = "/";
    const std::optional<std::string> chosen = services_.browseFolder(toPath(start));
    if (!chosen) return;
    const QString folder = fromPath(*chosen);
    // Choosing the folder the field already names searches it again.
    if (folder == JvDirectoryEdit1->text())
        JvDirectoryEdit1Change();
    else
        JvDirectoryEdit1->setText(folder);
    if (platform_.files.folderExists(*chosen)) InitialDir = folder;
}

void TfrmConfig::JvDirectoryEdit1Drop(const QStringList& paths) {
    if (paths.isEmpty()) return;
    const QString first = paths.front();
    // A file stands for the folder that holds it.
    std::string folder = toPath(first);
    if (!platform_.files.folderExists(folder)) {
        const size_t slash = folder.rfind('/');
        folder = slash == 0 ? "/" : folder.substr(0, slash == std::string::npos ? 0 : slash);
    }
    if (fromPath(folder) == JvDirectoryEdit1->text())
        JvDirectoryEdit1Change();
    else
        JvDirectoryEdit1->setText(fromPath(folder));
}

void TfrmConfig::JvDirectoryEdit1Change() {
    const QString root = JvDirectoryEdit1->text();
    // An emptied field is no request to add every picture of the file system.
    if (root.isEmpty()) return;
    const int noted = selectedRow();
    searchFolder(root);
    selectRow(noted);
}

void TfrmConfig::searchFolder(const QString& root) {
    if (JvSearchFiles1.searching()) return;
    BusyCursor busy;
    QElapsedTimer sinceRepaint;
    sinceRepaint.start();
    // Paint and handle window-system events now and then; user input waits until the search
    // has ended, so nothing can start a second search or edit the list meanwhile.
    JvSearchFiles1.onProgress = [&sinceRepaint] {
        if (sinceRepaint.elapsed() < 50) return;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        sinceRepaint.restart();
    };
    struct DropProgress {
        TJvSearchFiles& search;
        ~DropProgress() { search.onProgress = nullptr; } // it refers to this frame
    } dropProgress{JvSearchFiles1};
    // A folder dropped meanwhile could not be searched: the field takes none until the end.
    struct RefuseDrops {
        QWidget* field;
        explicit RefuseDrops(QWidget* f) : field(f) { field->setAcceptDrops(false); }
        ~RefuseDrops() { field->setAcceptDrops(true); }
        RefuseDrops(const RefuseDrops&) = delete;
        RefuseDrops& operator=(const RefuseDrops&) = delete;
    } refuseDrops{JvDirectoryEdit1->folderEdit()};
    JvSearchFiles1.rootDirectory = toPath(root);
    JvSearchFiles1.Search();
    if (closeWhenSearchEnds_) {
        closeWhenSearchEnds_ = false;
        close();
    }
}

void TfrmConfig::JvSearchFiles1FindFile(const std::string& name) {
    try {
        CurrentPicture = fromPath(name);
        JvComboEdit1->setText(CurrentPicture);
        AddListBoxItem(CurrentPicture);
    } catch (const std::exception&) {
        JvComboEdit1->setText(QString());
        CurrentPicture.clear();
    }
}

double TfrmConfig::fEditValue() const {
    QLocale locale = dialogLocale();
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double value = locale.toDouble(fEdit->text().trimmed(), &ok);
    return ok ? value : 0.0;
}

void TfrmConfig::setFEditValue(double value) {
    fEdit->setText(dialogLocale().toString(value, 'g', 15));
    if (!inFEdit_) LastValidZoom = value;
}

void TfrmConfig::fEditEnter() {
    inFEdit_ = true;
    LastValidZoom = fEditValue();
}

void TfrmConfig::fEditExit() {
    inFEdit_ = false;
    const double value = fEditValue();
    // Written so that NaN (which the locale parses from "nan") is out of range too.
    if (!(value >= 0.01 && value <= 1.0)) {
        services_.beep();
        setFEditValue(LastValidZoom);
    } else {
        LastValidZoom = value;
    }
}

void TfrmConfig::Image1MouseWheel() {
    services_.beep();
}

bool TfrmConfig::eventFilter(QObject* watched, QEvent* event) {
    if (watched == fEdit) {
        // Entering counts however the focus arrives: a click that also activates the window
        // gives the field its focus with the activation's reason.
        if (event->type() == QEvent::FocusIn && !inFEdit_)
            fEditEnter();
        else if (event->type() == QEvent::FocusOut && inFEdit_ &&
                 isFieldFocusChange(static_cast<QFocusEvent*>(event)))
            fEditExit();
    } else if (watched == ScrollBox1->viewport() && event->type() == QEvent::Wheel) {
        return true; // the wheel never scrolls the preview
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmConfig::keyPressEvent(QKeyEvent* event) {
    // The dialog has no cancel button: Escape closes nothing.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmConfig::btnOkClick() {
    if (!cbxUseDesktop->isChecked() && ListBox1->count() == 0) {
        if (!services_.confirm(kConfirmTitle, kEmptyListQuestion)) return;
        cbxUseDesktop->setChecked(true);
        cbxUseDesktopClick();
    }
    close();
}

void TfrmConfig::done(int /*result*/) {
    if (JvSearchFiles1.searching()) {
        closeWhenSearchEnds_ = true; // the search's own loop is still on the stack
        return;
    }
    // Closing by the close box leaves the zoom field without a focus change: check it as
    // leaving it would, so an out-of-range zoom is never written.
    if (inFEdit_) fEditExit();
    closed_ = true;
    SaveStoredProps();
    QDialog::done(QDialog::Rejected);
}

void TfrmConfig::listAppend(const QString& name) {
    ListBox1->addItem(name);
    ++listIndex_[pathKey(name)];
}

void TfrmConfig::listRemove(int row) {
    const QSignalBlocker blocker(ListBox1);
    std::unique_ptr<QListWidgetItem> item(ListBox1->takeItem(row));
    if (!item) return;
    const QString key = pathKey(item->text());
    auto it = listIndex_.find(key);
    if (it != listIndex_.end() && --it.value() <= 0) listIndex_.erase(it);
    ListBox1->clearSelection();
    ListBox1->setCurrentIndex(QModelIndex());
}

void TfrmConfig::listReplace(const QStringList& names) {
    const QSignalBlocker blocker(ListBox1);
    ListBox1->clear();
    listIndex_.clear();
    for (const QString& name : names) listAppend(name);
}

bool TfrmConfig::listContains(const QString& name) const {
    return listIndex_.contains(pathKey(name));
}

void TfrmConfig::selectRow(int row) {
    const QSignalBlocker blocker(ListBox1);
    if (row < 0 || row >= ListBox1->count()) {
        ListBox1->clearSelection();
        ListBox1->setCurrentIndex(QModelIndex());
    } else {
        ListBox1->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    }
}

} // namespace tarnwick
