// What the dialog stores: "Ok" and its question, closing by any means, reopening, the hidden
// instance, store failures; and the helpers for the preview and the open dialog.
#include "dialog_fixture.h"
#include "imaging/bitmap.h"
#include "settings/dialog/controls.h"
#include "settings/stored_props.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

namespace tarnwick::testing {
namespace {

const std::string kQuestion = "No images were added to the list, please select from:\r\r"
                              "   [Ok] - set to \"Use Desktop\" instead - dialog closes\r"
                              "   [Cancel] - won''t close dialog";

TEST_F(DialogTest, OkWithNoPicturesAsksFirst) {
    TfrmConfig& d = showForPictures();
    services.confirmAnswers = {false, true};

    d.btnOk->click();
    ASSERT_EQ(services.confirmCalls.size(), 1u);
    EXPECT_EQ(services.confirmCalls[0].first, "Confirm");
    EXPECT_EQ(services.confirmCalls[0].second, kQuestion);
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(d.cbxUseDesktop->isChecked());
    EXPECT_FALSE(stored("cbxUseDesktop_Checked"));

    d.btnOk->click();
    EXPECT_EQ(services.confirmCalls.size(), 2u);
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(d.cbxUseDesktop->isChecked());
    EXPECT_TRUE(d.rgDesktopSettings->isVisibleTo(&d));
    EXPECT_EQ(stored("cbxUseDesktop_Checked"), "True");
}

TEST_F(DialogTest, OkAsksNothingWithPicturesOrTheDesktop) {
    for (bool useDesktop : {true, false}) {
        show();
        dialog->cbxUseDesktop->setChecked(useDesktop);
        if (!useDesktop) dialog->AddListBoxItem("/p/a.jpg");
        dialog->btnOk->click();
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(stored("cbxUseDesktop_Checked"), useDesktop ? "True" : "False");
    }
    EXPECT_TRUE(services.confirmCalls.empty());
}

TEST_F(DialogTest, CloseBoxStoresAnEmptyListWithoutAsking) {
    registry.put("Software\\Tarnwick\\TfrmConfig.ListBox1_Items", "Count", "1");
    registry.put("Software\\Tarnwick\\TfrmConfig.ListBox1_Items", "Item0", "/old.jpg");
    TfrmConfig& d = showForPictures();
    EXPECT_EQ(d.ListBox1->count(), 1);
    d.btnDelAllClick();
    d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_TRUE(services.confirmCalls.empty());
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_FALSE(registry.tree.keyExists("Software\\Tarnwick\\TfrmConfig.ListBox1_Items"));
    EXPECT_EQ(stored("cbxUseDesktop_Checked"), "False");
}

TEST_F(DialogTest, ReopenedDialogShowsWhatWasStored) {
    TfrmConfig& d = showForPictures();
    d.AddListBoxItem("/p/one.jpg");
    d.AddListBoxItem("/p/two.bmp");
    d.udCycle->setValue(5000);
    d.udRefresh->setValue(35);
    focus(d.fEdit, QEvent::FocusIn);
    d.fEdit->setText("0.5");
    focus(d.fEdit, QEvent::FocusOut);
    d.rgPath->setItemIndex(3);
    d.cbxPlaySounds->setChecked(false);
    d.rgDesktopSettings->setItemIndex(4);
    d.InitialDir = "/p";
    d.close();

    const std::pair<const char*, const char*> expected[] = {{"FormVersion", "0"},
                                                            {"cbxPlaySounds_Checked", "False"},
                                                            {"cbxUseDesktop_Checked", "False"},
                                                            {"fEdit_Value", "0.5"},
                                                            {"JvDirectoryEdit1_InitialDir", "/p"},
                                                            {"rgPath_ItemIndex", "3"},
                                                            {"udCycle_Position", "5000"},
                                                            {"udRefresh_Position", "35"},
                                                            {"rgDesktopSettings_ItemIndex", "4"}};
    for (const auto& [name, text] : expected) EXPECT_EQ(stored(name), text) << name;
    EXPECT_EQ(stored("Count", "TfrmConfig.ListBox1_Items"), "2");
    EXPECT_EQ(stored("Item1", "TfrmConfig.ListBox1_Items"), "/p/two.bmp");

    TfrmConfig& again = show();
    EXPECT_EQ(listEntries(), QStringList({"/p/one.jpg", "/p/two.bmp"}));
    EXPECT_EQ(again.udCycle->text(), "5,000");
    EXPECT_EQ(again.udRefresh->value(), 35);
    EXPECT_EQ(again.fEdit->text(), "0.5");
    EXPECT_EQ(again.rgPath->itemIndex(), 3);
    EXPECT_FALSE(again.cbxPlaySounds->isChecked());
    EXPECT_FALSE(again.cbxUseDesktop->isChecked());
    EXPECT_TRUE(again.ListBox1->isVisible()); // the layout follows the loaded box
    EXPECT_EQ(again.rgDesktopSettings->itemIndex(), 4);
    EXPECT_EQ(again.InitialDir, "/p");
}

TEST_F(DialogTest, StoredValuesOutOfRangeAreBroughtIntoRange) {
    const std::pair<const char*, const char*> values[] = {{"rgPath_ItemIndex", "7"},
                                                          {"rgDesktopSettings_ItemIndex", "-5"},
                                                          {"udCycle_Position", "abc"},
                                                          {"udRefresh_Position", "99999"}};
    for (const auto& [name, text] : values)
        registry.put("Software\\Tarnwick\\TfrmConfig", name, text);
    TfrmConfig& d = show();
    EXPECT_EQ(d.rgPath->itemIndex(), 3);
    EXPECT_EQ(d.rgDesktopSettings->itemIndex(), -1);
    EXPECT_EQ(d.udCycle->value(), 250);
    EXPECT_EQ(d.udRefresh->value(), 2000);
    d.close();
    EXPECT_EQ(stored("rgPath_ItemIndex"), "3");
    EXPECT_EQ(stored("rgDesktopSettings_ItemIndex"), "-1");
}

TEST_F(DialogTest, StoreFollowsTheExecutableName) {
    platformPtr = std::make_unique<platform::Platform>(
        platform::Platform{windows, saverState, screen, sound, password, registry, realFiles});
    dialog = std::make_unique<TfrmConfig>(*platformPtr, "/usr/bin/other-saver", &services);
    dialog->show();
    dialog->close();
    EXPECT_TRUE(registry.tree.keyExists("Software\\other-saver\\TfrmConfig"));
    EXPECT_FALSE(registry.tree.keyExists("Software\\Tarnwick"));
}

TEST_F(DialogTest, HiddenInstanceNeverTouchesTheStore) {
    make();
    dialog->AddListBoxItem("/p/a.jpg");
    dialog.reset();
    EXPECT_EQ(registry.commits, 0);
    EXPECT_TRUE(registry.tree.subKeyNames("").empty());
}

TEST_F(DialogTest, LaterActivationKeepsTheEdits) {
    registry.put("Software\\Tarnwick\\TfrmConfig", "udRefresh_Position", "40");
    TfrmConfig& d = show();
    EXPECT_EQ(d.udRefresh->value(), 40);
    d.udRefresh->setValue(90);
    d.cbxUseDesktop->setChecked(false);
    QEvent activation(QEvent::ActivationChange);
    QApplication::setActiveWindow(&d);
    QCoreApplication::sendEvent(&d, &activation);
    EXPECT_EQ(d.udRefresh->value(), 90);
    EXPECT_TRUE(d.ListBox1->isVisible());
}

TEST_F(DialogTest, StoreFailuresAreReportedWithTheirCauseAndTheDialogStillCloses) {
    TfrmConfig& d = show();
    registry.commitFailure = "No space left on device";
    d.close();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(services.errors,
              std::vector<std::string>{"Failed to create key Software\\Tarnwick\\TfrmConfig\n"
                                       "No space left on device"});
    EXPECT_FALSE(registry.tree.keyExists("Software\\Tarnwick\\TfrmConfig"));

    // A settings folder that cannot be locked: the key cannot be created, and why.
    services.errors.clear();
    registry.commitFailure.reset();
    registry.lockFailure = "cannot lock the settings: Permission denied";
    registry.tree = {};
    show();
    ASSERT_FALSE(services.errors.empty());
    EXPECT_EQ(services.errors[0], "Failed to create key Software\\Tarnwick\n"
                                  "cannot lock the settings: Permission denied");

    // A store that cannot be read: reported once for the show and its activation, and nothing
    // is written at the close.
    services.errors.clear();
    registry.lockFailure.reset();
    registry.unreadable = "The settings file cannot be read";
    const int commits = registry.commits;
    show();
    EXPECT_EQ(services.errors, std::vector<std::string>{"The settings file cannot be read"});
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(registry.commits, commits);
}

TEST_F(DialogTest, ShownModallyThenFreed) {
    platformPtr = std::make_unique<platform::Platform>(
        platform::Platform{windows, saverState, screen, sound, password, registry, realFiles});
    bool wasModal = false;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        wasModal = modal != nullptr && modal->windowTitle() == "Tarnwick Settings";
        if (modal) modal->close();
    });
    showSettingsDialogModal(*platformPtr, "/usr/local/bin/tarnwick");
    EXPECT_TRUE(wasModal);
    EXPECT_TRUE(registry.tree.keyExists("Software\\tarnwick\\TfrmConfig"));
    EXPECT_EQ(QApplication::topLevelWidgets().count(), 0);
}

TEST(PreviewPicture, KeepsEveryChannelInPlace) {
    WorkBitmap bitmap;
    SetBitmapSize(bitmap, 2, 2);
    const uint8_t rows[2][6] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 250, 251, 252}};
    for (int y = 0; y < 2; ++y) std::copy(rows[y], rows[y] + 6, bitmap.scanLine(y).begin());
    const QImage image = toQImage(bitmap);
    ASSERT_EQ(image.size(), QSize(2, 2));
    EXPECT_EQ(image.pixel(0, 0), qRgb(3, 2, 1));
    EXPECT_EQ(image.pixel(1, 0), qRgb(6, 5, 4));
    EXPECT_EQ(image.pixel(0, 1), qRgb(9, 8, 7));
    EXPECT_EQ(image.pixel(1, 1), qRgb(252, 251, 250));
    EXPECT_TRUE(toQImage(WorkBitmap()).isNull());
}

TEST(OpenDialogFilter, SplitsIntoShownTextsAndPatterns) {
    const std::vector<OpenFilter> entries = parseOpenFilter(kOpenPictureFilter);
    std::vector<std::string> shown;
    for (const OpenFilter& e : entries) shown.push_back(e.description);
    EXPECT_EQ(shown, (std::vector<std::string>{
                         "All (*.jpg;*.jpeg;*.bmp)", "JPEG Image File (*.jpg)",
                         "JPEG Image File (*.jpeg)", "Bitmaps (*.bmp)", "All Files (*.*)"}));
    EXPECT_EQ(entries[0].patterns, (std::vector<std::string>{"*.jpg", "*.jpeg", "*.bmp"}));
    EXPECT_EQ(entries[4].patterns, std::vector<std::string>{"*.*"});
    EXPECT_TRUE(parseOpenFilter("dangling").empty());
}

} // namespace
} // namespace tarnwick::testing
