#include "host/widgets/flickerless.h"

#include <QApplication>
#include <QPainter>
#include <QTest>

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

// A parent that counts how often it paints its own background.
class Parent : public QWidget {
public:
    int fills = 0;
    QRegion lastRegion;

protected:
    void paintEvent(QPaintEvent* e) override {
        ++fills;
        lastRegion = e->region();
        QPainter(this).fillRect(rect(), Qt::red);
    }
};

TEST(Flickerless, SurfacesAreOpaqueWithNoSystemBackground) {
    TFlickerlessPaintBox box;
    TFlickerlessImage image;
    for (QWidget* w : {static_cast<QWidget*>(&box), static_cast<QWidget*>(&image)}) {
        EXPECT_TRUE(w->testAttribute(Qt::WA_OpaquePaintEvent));
        EXPECT_TRUE(w->testAttribute(Qt::WA_NoSystemBackground));
        EXPECT_FALSE(w->autoFillBackground());
    }
}

TEST(Flickerless, RepaintingTheSurfaceDoesNotRepaintTheParentBeneathIt) {
    Parent parent;
    parent.resize(200, 200);
    auto* box = new TFlickerlessPaintBox(&parent);
    box->setGeometry(0, 0, 200, 200);
    int paints = 0;
    QObject::connect(box, &TFlickerlessPaintBox::paint, [&](QPainter& p) {
        ++paints;
        p.fillRect(0, 0, 200, 200, Qt::blue);
    });
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
    QTest::qWait(50);
    const int fillsBefore = parent.fills;
    const int paintsBefore = paints;
    box->update();
    QTest::qWait(50);
    EXPECT_GT(paints, paintsBefore);
    EXPECT_EQ(parent.fills, fillsBefore);
}

TEST(Flickerless, ImageSizesItselfToItsPicture) {
    TFlickerlessImage image;
    QImage picture(37, 21, QImage::Format_RGB32);
    picture.fill(Qt::green);
    image.setPicture(picture);
    EXPECT_EQ(image.size(), QSize(37, 21));
    image.setAutoSize(false);
    image.setPicture(QImage());
    EXPECT_EQ(image.size(), QSize(37, 21));
}

} // namespace
} // namespace tarnwick

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
