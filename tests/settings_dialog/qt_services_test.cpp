// The Qt file chooser and question box behind the dialog, answered by the test as a user would.
#include "dialog_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace tarnwick::testing {
namespace {

// Runs `answer` on the modal window that opens next.
template <typename Window, typename Answer> void whenOpen(Answer answer) {
    QTimer::singleShot(0, [answer] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        answer(*window);
    });
}

class QtServicesTest : public DialogTest {};

// The names the file dialog lists (and lets the user choose) in its current folder.
QStringList listed(QFileDialog& dialog) {
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (model == nullptr) return {};
    const QModelIndex folder = model->index(dialog.directory().absolutePath());
    QStringList names;
    for (int row = 0; row < model->rowCount(folder); ++row) {
        const QModelIndex item = model->index(row, 0, folder);
        if (model->flags(item) & Qt::ItemIsEnabled) names << item.data().toString();
    }
    names.sort();
    return names;
}

TEST_F(QtServicesTest, OpenDialogGivesTheChosenFilesAndPreviewsThem) {
    const std::string a = picture("a.bmp", 30, 20, 0, 0, 255);
    const std::string b = picture("b.bmp", 4, 4);
    QtDialogServices services(nullptr);
    const std::string notes = file("notes.txt");
    QStringList filters, pictures, everything;
    bool multiple = false, previewShown = false, notesPreviewEmpty = false;
    // The filter's texts as given, each listing what its patterns match.
    whenOpen<QFileDialog>([&](QFileDialog& dialog) {
        filters = dialog.nameFilters();
        (void)QTest::qWaitFor([&] { return listed(dialog).size() == 2; });
        pictures = listed(dialog);
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(types, nullptr);
        types->setCurrentIndex(4); // as the user picks "All Files"
        emit types->activated(4);
        emit types->textActivated(types->currentText());
        (void)QTest::qWaitFor([&] { return listed(dialog).size() == 3; });
        everything = listed(dialog);
        dialog.reject();
    });
    EXPECT_FALSE(services.openPictures(kOpenPictureFilter, path("")).has_value());

    whenOpen<QFileDialog>([&](QFileDialog& dialog) {
        multiple = dialog.fileMode() == QFileDialog::ExistingFiles;
        emit dialog.currentChanged(QString::fromStdString(a));
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->pixmap().isNull()) previewShown = label->pixmap().size() == QSize(30, 20);
        emit dialog.currentChanged(QString::fromStdString(notes));
        notesPreviewEmpty = true;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->pixmap().isNull()) notesPreviewEmpty = false;
        auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText("\"b.bmp\" \"a.bmp\"");
        static_cast<QDialog&>(dialog).accept(); // the file dialog checks the names as on "Open"
    });
    const auto chosen = services.openPictures(kOpenPictureFilter, path(""));
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, (std::vector<std::string>{b, a}));
    EXPECT_EQ(filters,
              QStringList({"All (*.jpg;*.jpeg;*.bmp)", "JPEG Image File (*.jpg)",
                           "JPEG Image File (*.jpeg)", "Bitmaps (*.bmp)", "All Files (*.*)"}));
    EXPECT_EQ(pictures, QStringList({"a.bmp", "b.bmp"}));
    EXPECT_EQ(everything, QStringList({"a.bmp", "b.bmp", "notes.txt"}));
    EXPECT_TRUE(multiple);
    EXPECT_TRUE(previewShown);
    EXPECT_TRUE(notesPreviewEmpty);
}

TEST_F(QtServicesTest, QuestionBoxShowsTheLinesAndAnswersBothWays) {
    QtDialogServices services(nullptr);
    for (bool ok : {false, true}) {
        QString text, title;
        bool okIsDefault = false, escapeIsCancel = false;
        whenOpen<QMessageBox>([&](QMessageBox& box) {
            text = box.text();
            title = box.windowTitle();
            okIsDefault =
                static_cast<QAbstractButton*>(box.defaultButton()) == box.button(QMessageBox::Ok);
            escapeIsCancel = box.escapeButton() == box.button(QMessageBox::Cancel);
            box.button(ok ? QMessageBox::Ok : QMessageBox::Cancel)->click();
        });
        EXPECT_EQ(services.confirm("Confirm", "one\r\r   two"), ok);
        EXPECT_EQ(title, "Confirm");
        EXPECT_EQ(text, "one\n\n   two");
        EXPECT_TRUE(okIsDefault);
        EXPECT_TRUE(escapeIsCancel);
    }
}

TEST_F(QtServicesTest, ErrorBoxCarriesTheApplicationTitle) {
    QtDialogServices services(nullptr);
    QString title, text;
    whenOpen<QMessageBox>([&](QMessageBox& box) {
        title = box.windowTitle();
        text = box.text();
        box.button(QMessageBox::Ok)->click();
    });
    services.showError("Failed to set data for 'FormVersion'\nNo space left on device");
    EXPECT_EQ(title, "Tarnwick Screensaver");
    EXPECT_EQ(text, "Failed to set data for 'FormVersion'\nNo space left on device");
}

} // namespace
} // namespace tarnwick::testing
