// The zoom field, the preview's wheel and the folder field with its search.
#include "dialog_fixture.h"
#include "settings/dialog/controls.h"

#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>

namespace tarnwick::testing {
namespace {

struct ZoomCase {
    const char* typed;
    bool beeps;
    const char* shown; // after leaving the field
};

TEST_F(DialogTest, ZoomFieldTakesOnlyTheRangeFromOneHundredthToOne) {
    const ZoomCase cases[] = {
        {"1.5", true, "0.5"},    {"0", true, "0.5"},          {"0.009", true, "0.5"},
        {"1.0001", true, "0.5"}, {"-0.5", true, "0.5"},       {"abc", true, "0.5"},
        {"0,7", true, "0.5"},    {"", true, "0.5"},           {"0.01", false, "0.01"},
        {"1", false, "1"},       {" 0.25 ", false, " 0.25 "}, {"0.75", false, "0.75"},
        {"nan", true, "0.5"},    {"inf", true, "0.5"},        {"-inf", true, "0.5"},
    };
    TfrmConfig& d = show();
    for (const ZoomCase& c : cases) {
        d.fEdit->setText("0.5");
        focus(d.fEdit, QEvent::FocusIn);
        focus(d.fEdit, QEvent::FocusOut);
        const int before = services.beeps;
        focus(d.fEdit, QEvent::FocusIn);
        d.fEdit->setText(c.typed);
        focus(d.fEdit, QEvent::FocusOut);
        EXPECT_EQ(services.beeps - before, c.beeps ? 1 : 0) << c.typed;
        EXPECT_EQ(d.fEdit->text(), c.shown) << c.typed;
    }
}

TEST_F(DialogTest, ZoomRestoresTheLastAcceptedValueNotTheEnteredOne) {
    TfrmConfig& d = show();
    focus(d.fEdit, QEvent::FocusIn);
    d.fEdit->setText("0.3");
    focus(d.fEdit, QEvent::FocusOut);
    EXPECT_EQ(d.LastValidZoom, 0.3);
    // Switching windows or opening a context menu is no leaving of the field.
    focus(d.fEdit, QEvent::FocusIn);
    d.fEdit->setText("7");
    focus(d.fEdit, QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    focus(d.fEdit, QEvent::FocusOut, Qt::PopupFocusReason);
    EXPECT_EQ(services.beeps, 0);
    EXPECT_EQ(d.fEdit->text(), "7");
    focus(d.fEdit, QEvent::FocusOut);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_EQ(d.fEdit->text(), "0.3");
}

TEST_F(DialogTest, StoredZoomOutOfRangeIsShownAndKept) {
    registry.put("Software\\Tarnwick\\TfrmConfig", "fEdit_Value", "5");
    TfrmConfig& d = show();
    EXPECT_EQ(d.fEdit->text(), "5");
    focus(d.fEdit, QEvent::FocusIn);
    focus(d.fEdit, QEvent::FocusOut);
    EXPECT_EQ(services.beeps, 1);
    EXPECT_EQ(d.fEdit->text(), "5");
}

TEST_F(DialogTest, ClosingWhileInTheZoomFieldChecksIt) {
    TfrmConfig& d = show();
    focus(d.fEdit, QEvent::FocusIn);
    d.fEdit->setText("1.5");
    d.close(); // the close box: no focus change reaches the field
    EXPECT_EQ(services.beeps, 1);
    EXPECT_EQ(stored("fEdit_Value"), "0.96");
}

TEST_F(DialogTest, MouseWheelOverThePreviewOnlyBeeps) {
    TfrmConfig& d = showForPictures();
    d.resize(466, 388);
    services.pictureAnswers.push_back(std::vector<std::string>{picture("big.bmp", 400, 900)});
    d.JvComboEdit1ButtonClick();
    QScrollBar* bar = d.ScrollBox1->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    for (QWidget* target : {static_cast<QWidget*>(d.Image1), d.ScrollBox1->viewport()}) {
        QWheelEvent wheel(QPointF(10, 10), target->mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(target, &wheel);
    }
    EXPECT_EQ(services.beeps, 1); // the image beeps; the scroll box around it does not scroll
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(d.Image1->picture().size(), QSize(400, 900));
}

TEST_F(DialogTest, FolderFieldTakesNoTyping) {
    TfrmConfig& d = showForPictures();
    QLineEdit* edit = d.JvDirectoryEdit1->edit();
    QTest::keyClicks(edit, "abc/");
    EXPECT_TRUE(edit->text().isEmpty());
    // (A folder that does not exist: each change of the text starts a search.)
    const QString folder = QString::fromStdString(path("none"));
    edit->setText(folder);
    edit->setCursorPosition(4);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), folder);
    // Keys that type no character still edit.
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), folder.mid(1));
}

TEST_F(DialogTest, BrowsedFolderAddsEveryPictureBelowIt) {
    TfrmConfig& d = showForPictures();
    const std::string root = path("pics");
    picture("pics/1.bmp", 1, 1);
    file("pics/sub/2.JPG");
    file("pics/sub/deeper/3.jpeg");
    file("pics/.thumbs/4.jpg");
    file("pics/readme.txt");
    const std::string preview = picture("shown.bmp", 2, 2);
    services.pictureAnswers.push_back(std::vector<std::string>{preview});
    d.JvComboEdit1ButtonClick();
    clickEntry(0);

    // Empty field, no start folder yet: the browse starts at the root.
    services.folderAnswers.push_back(root);
    d.JvDirectoryEdit1->button()->click();
    ASSERT_EQ(services.browseStarts, std::vector<std::string>{"/"});
    EXPECT_EQ(d.JvDirectoryEdit1->text().toStdString(), root);
    EXPECT_EQ(d.InitialDir.toStdString(), root);
    EXPECT_EQ(listEntries(),
              QStringList({QString::fromStdString(preview), QString::fromStdString(root + "/1.bmp"),
                           QString::fromStdString(root + "/sub/2.JPG"),
                           QString::fromStdString(root + "/sub/deeper/3.jpeg")}));
    // The last file found names itself in the field; the preview and the selection stay.
    EXPECT_EQ(d.JvComboEdit1->text().toStdString(), root + "/sub/deeper/3.jpeg");
    EXPECT_EQ(d.CurrentPicture.toStdString(), root + "/sub/deeper/3.jpeg");
    EXPECT_EQ(d.Image1->picture().size(), QSize(2, 2));
    EXPECT_EQ(d.selectedRow(), 0);

    // The next browse starts from the field; choosing the same folder searches it again.
    file("pics/new.bmp");
    services.folderAnswers.push_back(root);
    d.JvDirectoryEdit1ButtonClick();
    EXPECT_EQ(services.browseStarts.back(), root);
    EXPECT_EQ(listEntries().last().toStdString(), root + "/new.bmp");
    EXPECT_EQ(d.ListBox1->count(), 5);

    // With the field emptied the start is the last folder chosen; a cancel changes nothing.
    d.JvDirectoryEdit1->setText(QString());
    EXPECT_EQ(d.ListBox1->count(), 5);
    services.folderAnswers.push_back(std::nullopt);
    d.JvDirectoryEdit1ButtonClick();
    EXPECT_EQ(services.browseStarts.back(), root);
    EXPECT_TRUE(d.JvDirectoryEdit1->text().isEmpty());

    // A start folder that no longer exists gives the root; a chosen folder that does not exist
    // is searched (nothing found) but not kept as the start folder.
    d.InitialDir = QString::fromStdString(path("vanished"));
    services.folderAnswers.push_back(path("not-there"));
    d.JvDirectoryEdit1ButtonClick();
    EXPECT_EQ(services.browseStarts.back(), "/");
    EXPECT_EQ(d.JvDirectoryEdit1->text().toStdString(), path("not-there"));
    EXPECT_EQ(d.InitialDir.toStdString(), path("vanished"));
    EXPECT_EQ(d.ListBox1->count(), 5);
}

// Drags `items` onto the widget and drops them there; whether the drag and the drop were taken.
std::pair<bool, bool> dropOn(QWidget* target, const std::vector<std::string>& items) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const std::string& item : items) urls << QUrl::fromLocalFile(QString::fromStdString(item));
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return {enter.isAccepted(), drop.isAccepted()};
}

TEST_F(DialogTest, DroppedItemNamesTheFolder) {
    TfrmConfig& d = showForPictures();
    file("drop/a/inside.jpg");
    file("drop/b/other.jpg");
    struct DropCase {
        std::vector<std::string> items;
        std::string folder;
    };
    const DropCase cases[] = {
        {{path("drop/a/inside.jpg"), path("drop/b")}, path("drop/a")}, // a file: its folder
        {{path("drop/b"), path("drop/a")}, path("drop/b")},            // only the first counts
    };
    for (const DropCase& c : cases) {
        EXPECT_EQ(dropOn(d.JvDirectoryEdit1->edit(), c.items), std::make_pair(true, true));
        EXPECT_EQ(d.JvDirectoryEdit1->text().toStdString(), c.folder);
    }
    EXPECT_EQ(listEntries(), QStringList({QString::fromStdString(path("drop/a/inside.jpg")),
                                          QString::fromStdString(path("drop/b/other.jpg"))}));
}

// The field would name the dropped folder while nothing of it is added: it takes no drop then.
TEST_F(DialogTest, DropDuringASearchIsRefused) {
    fakes::FakeFileSystem tree;
    tree.addFile("/lib/1.jpg");
    tree.addFile("/lib/a/2.jpg");
    tree.addFile("/other/3.jpg");
    TfrmConfig& d = show(&tree);
    d.cbxUseDesktop->setChecked(false);
    std::pair<bool, bool> taken{true, true};
    tree.onOpen = [&](const std::string& folder) {
        if (folder == "/lib/a/") taken = dropOn(d.JvDirectoryEdit1->edit(), {"/other"});
    };
    d.JvDirectoryEdit1->setText("/lib");
    EXPECT_EQ(taken, std::make_pair(false, false));
    EXPECT_EQ(d.JvDirectoryEdit1->text(), "/lib");
    EXPECT_EQ(listEntries(), QStringList({"/lib/1.jpg", "/lib/a/2.jpg"}));
    // Afterwards drops are taken again.
    tree.onOpen = nullptr;
    EXPECT_EQ(dropOn(d.JvDirectoryEdit1->edit(), {"/other"}), std::make_pair(true, true));
    EXPECT_EQ(d.JvDirectoryEdit1->text(), "/other");
    EXPECT_EQ(listEntries(), QStringList({"/lib/1.jpg", "/lib/a/2.jpg", "/other/3.jpg"}));
}

TEST_F(DialogTest, CloseDuringASearchWaitsForItsEnd) {
    fakes::FakeFileSystem tree;
    tree.addFile("/lib/1.jpg");
    tree.addFile("/lib/a/2.jpg");
    tree.addFile("/lib/b/3.jpg");
    TfrmConfig& d = show(&tree);
    d.cbxUseDesktop->setChecked(false);
    bool busyInside = false, visibleInside = false;
    tree.onOpen = [&](const std::string& folder) {
        if (folder != "/lib/a/") return;
        busyInside = QApplication::overrideCursor() != nullptr &&
                     QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        d.close();
        visibleInside = d.isVisible();
        EXPECT_FALSE(d.JvSearchFiles1.Search()); // no second search from inside
    };
    d.JvDirectoryEdit1->setText("/lib");
    EXPECT_TRUE(busyInside);
    EXPECT_TRUE(visibleInside);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(stored("Count", "TfrmConfig.ListBox1_Items"), "3");
    EXPECT_EQ(stored("Item2", "TfrmConfig.ListBox1_Items"), "/lib/b/3.jpg");
}

} // namespace
} // namespace tarnwick::testing
