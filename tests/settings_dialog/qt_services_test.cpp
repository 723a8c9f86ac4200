// The Qt file chooser and question box behind the dialog, answered by the test as a user would.
#include "dialog_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
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

TEST_F(QtServicesTest, OpenDialogGivesTheChosenFilesAndPreviewsThem) {
    const std::string a = picture("a.bmp", 30, 20, 0, 0, 255);
    const std::string b = picture("b.bmp", 4, 4);
    QtDialogServices services(nullptr);
    QStringList filters;
    bool multiple = false, previewShown = false, notesPreviewEmpty = false;
    whenOpen<QFileDialog>([&](QFileDialog& dialog) {
        filters = dialog.nameFilters();
        multiple = dialog.fileMode() == QFileDialog::ExistingFiles;
        emit dialog.currentChanged(QString::fromStdString(a));
        for (QLabel* label : dialog.findChildren<QLabel*>())
            if (!label->pixmap().isNull()) previewShown = label->pixmap().size() == QSize(30, 20);
        emit dialog.currentChanged(QString::fromStdString(file("notes.txt")));
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
              QStringList({"All (*.jpg *.jpeg *.bmp)", "JPEG Image File (*.jpg)",
                           "JPEG Image File (*.jpeg)", "Bitmaps (*.bmp)", "All Files (*)"}));
    EXPECT_TRUE(multiple);
    EXPECT_TRUE(previewShown);
    EXPECT_TRUE(notesPreviewEmpty);

    whenOpen<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    EXPECT_FALSE(services.openPictures(kOpenPictureFilter, path("")).has_value());
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

} // namespace
} // namespace tarnwick::testing
