// The dialog's window, its first show and the two layouts.
#include "dialog_fixture.h"
#include "settings/dialog/controls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>

namespace tarnwick::testing {
namespace {

TEST_F(DialogTest, FirstShowWithNoStoredValues) {
    TfrmConfig& d = show();
    EXPECT_EQ(d.windowTitle(), "Tarnwick Settings");
    EXPECT_EQ(d.size(), QSize(466, 388));
    EXPECT_EQ(d.minimumSize(), QSize(444, 388));
    EXPECT_TRUE(d.windowFlags() & Qt::Tool);

    EXPECT_EQ(d.udCycle->text(), "1,250");
    EXPECT_EQ(d.udCycle->value(), 1250);
    EXPECT_EQ(d.udRefresh->text(), "20");
    EXPECT_EQ(d.fEdit->text(), "0.96");
    EXPECT_EQ(d.rgPath->itemIndex(), 1);
    EXPECT_EQ(d.rgPath->button(1)->text(), "Zigzag");
    EXPECT_TRUE(d.cbxPlaySounds->isChecked());
    EXPECT_TRUE(d.cbxUseDesktop->isChecked());
    EXPECT_EQ(d.ListBox1->count(), 0);
    EXPECT_EQ(d.rgDesktopSettings->itemIndex(), 0);
    EXPECT_TRUE(d.CurrentPicture.isEmpty());
    EXPECT_TRUE(services.errors.empty());

    // Desktop layout: the desktop settings over the picture controls, no list, no preview.
    EXPECT_TRUE(d.rgDesktopSettings->isVisible());
    EXPECT_FALSE(d.ListBox1->isVisible());
    EXPECT_FALSE(d.ScrollBox1->isVisible());
    EXPECT_EQ(d.Panel3->geometry(), QRect(201, 0, 466 - 201, 388 - 73));
    EXPECT_EQ(d.rgDesktopSettings->geometry(), QRect(0, 33, 466 - 201, 189));
    // The settings group's caption keeps the margin of the check box beside it.
    EXPECT_EQ(d.GroupBox1->geometry().topLeft(), QPoint(8, 8));
}

TEST_F(DialogTest, UncheckedRadioButtonsShowUnderADarkTheme) {
    TfrmConfig& d = show();
    QPalette dark;
    for (auto [role, rgb] : {std::pair{QPalette::Window, 0x353535},
                             {QPalette::WindowText, 0xeeeeec},
                             {QPalette::Base, 0x2d2d2d},
                             {QPalette::Text, 0xeeeeec},
                             {QPalette::Button, 0x353535},
                             {QPalette::ButtonText, 0xeeeeec}})
        dark.setColor(role, QColor::fromRgb(rgb));
    d.setPalette(dark);
    for (QAbstractButton* b : {static_cast<QAbstractButton*>(d.rgPath->button(0)),
                               static_cast<QAbstractButton*>(d.cbxUseDesktop)}) {
        b->setText(QString()); // only the indicator is drawn
        if (b == d.cbxUseDesktop) b->setChecked(false);
        const QImage image = b->grab().toImage();
        int contrast = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                contrast = std::max(contrast, std::abs(qGray(image.pixel(x, y)) - 0x35));
        EXPECT_GE(contrast, 30) << b->metaObject()->className(); // unfixed: 11 to 17
    }
}

TEST_F(DialogTest, UpDownsStopAtTheirLimits) {
    TfrmConfig& d = show();
    struct Range {
        QSpinBox* box;
        int min, max;
        const char* maxText;
    };
    for (const Range& r :
         {Range{d.udCycle, 250, 32767, "32,767"}, Range{d.udRefresh, 0, 2000, "2,000"}}) {
        EXPECT_EQ(r.box->minimum(), r.min);
        EXPECT_EQ(r.box->maximum(), r.max);
        r.box->setValue(r.max);
        r.box->stepBy(1);
        EXPECT_EQ(r.box->value(), r.max);
        EXPECT_EQ(r.box->text(), r.maxText);
        r.box->setValue(r.min);
        r.box->stepBy(-1);
        EXPECT_EQ(r.box->value(), r.min);
        r.box->stepBy(1);
        EXPECT_EQ(r.box->value(), r.min + 1);
    }
}

TEST_F(DialogTest, UseDesktopToggleSwitchesTheLayout) {
    TfrmConfig& d = show();
    QCheckBox* box = d.cbxUseDesktop;
    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(8, box->height() / 2));
    ASSERT_FALSE(box->isChecked());

    QWidget* const pictureControls[] = {d.JvComboEdit1, d.JvDirectoryEdit1, d.btnDelItem,
                                        d.btnDelAll,    d.ListBox1,         d.udCycle};
    for (QWidget* w : pictureControls) EXPECT_TRUE(w->isEnabled()) << w->metaObject()->className();
    EXPECT_TRUE(d.udRefresh->isEnabled());
    EXPECT_FALSE(d.rgDesktopSettings->isVisible());
    EXPECT_TRUE(d.ListBox1->isVisible());
    EXPECT_TRUE(d.ScrollBox1->isVisible());
    EXPECT_EQ(d.Panel3->geometry(), QRect(201, 0, 212, 315));
    EXPECT_EQ(d.ScrollBox1->geometry(), QRect(413, 0, 466 - 413, 315));
    EXPECT_EQ(d.ListBox1->geometry(), QRect(0, 124, 212, 315 - 124));

    // The preview takes what a wider window gives; "Ok" follows the right edge.
    d.resize(700, 400);
    EXPECT_EQ(d.ScrollBox1->geometry(), QRect(413, 0, 700 - 413, 400 - 73));
    EXPECT_EQ(d.btnOk->mapTo(&d, QPoint(0, 0)).x() + 75 + 8, 700);

    QTest::mouseClick(box, Qt::LeftButton, Qt::NoModifier, QPoint(8, box->height() / 2));
    ASSERT_TRUE(box->isChecked());
    for (QWidget* w : pictureControls) EXPECT_FALSE(w->isEnabled()) << w->metaObject()->className();
    EXPECT_TRUE(d.rgDesktopSettings->isVisible());
    EXPECT_FALSE(d.ListBox1->isVisible());
    EXPECT_FALSE(d.ScrollBox1->isVisible());
    EXPECT_EQ(d.Panel3->geometry(), QRect(201, 0, 700 - 201, 400 - 73));
}

TEST_F(DialogTest, EnterPressesOkAndEscapeClosesNothing) {
    TfrmConfig& d = show();
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_TRUE(d.isVisible());
    EXPECT_FALSE(stored("FormVersion"));

    QTest::keyClick(d.udRefresh, Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(stored("FormVersion"), "0");
}

TEST_F(DialogTest, FieldButtonsAnswerAltDown) {
    TfrmConfig& d = showForPictures();
    services.pictureAnswers.push_back(std::nullopt);
    QTest::keyClick(d.JvComboEdit1->edit(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(services.openCalls.size(), 1u);
    services.folderAnswers.push_back(std::nullopt);
    QTest::keyClick(d.JvDirectoryEdit1->edit(), Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(services.browseStarts.size(), 1u);
    // A plain Down does neither.
    QTest::keyClick(d.JvComboEdit1->edit(), Qt::Key_Down);
    EXPECT_EQ(services.openCalls.size(), 1u);
}

} // namespace
} // namespace tarnwick::testing
