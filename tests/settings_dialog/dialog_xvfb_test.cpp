// The dialog on a real X server: its window, and a screenshot of each of its two layouts
// (written to the build folder's screenshots/ for the documentation).
#include "dialog_fixture.h"
#include "settings/dialog/controls.h"

#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSet>

namespace tarnwick::testing {
namespace {

QImage grabDialog(TfrmConfig& d) {
    QCoreApplication::processEvents();
    QTest::qWait(200); // let the server draw what the dialog sent
    return d.screen()->grabWindow(d.winId()).toImage();
}

int colourCount(const QImage& image) {
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) colours.insert(image.pixel(x, y));
    return static_cast<int>(colours.size());
}

void save(const QImage& image, const char* name) {
    const QString folder = QString(TARNWICK_BINARY_DIR) + "/screenshots";
    QDir().mkpath(folder);
    EXPECT_TRUE(image.save(folder + "/" + name)) << name;
}

TEST_F(DialogTest, BothLayoutsOnAnXServer) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    TfrmConfig& d = show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    EXPECT_EQ(d.size(), QSize(466, 388));
    // Centred on the screen.
    const QRect screen = d.screen()->geometry();
    EXPECT_LE(std::abs(d.frameGeometry().center().x() - screen.center().x()), 2);
    EXPECT_LE(std::abs(d.frameGeometry().center().y() - screen.center().y()), 2);

    const QImage desktop = grabDialog(d);
    ASSERT_EQ(desktop.size(), QSize(466, 388));
    EXPECT_GT(colourCount(desktop), 4); // drawn controls, not one flat colour
    save(desktop, "dialog-desktop.png");

    d.cbxUseDesktop->setChecked(false);
    const std::string first = picture("sunset.bmp", 120, 160, 40, 120, 230);
    services.pictureAnswers.push_back(
        std::vector<std::string>{first, path("holiday/beach.jpg"), path("holiday/harbour.jpg")});
    d.JvComboEdit1ButtonClick();
    const QImage pictures = grabDialog(d);
    ASSERT_EQ(pictures.size(), QSize(466, 388));
    EXPECT_NE(pictures, desktop);
    // The preview's corner shows the first picture's colour on screen.
    const QPoint corner = d.Image1->mapTo(&d, QPoint(2, 2));
    EXPECT_EQ(QColor(pictures.pixel(corner)), QColor(230, 120, 40));
    save(pictures, "dialog-pictures.png");
}

} // namespace
} // namespace tarnwick::testing
