#include "host/widgets/flickerless.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

namespace tarnwick {

namespace {
void makeOpaque(QWidget* w) {
    // The parent does not paint under an opaque child, and repaints do not erase first.
    w->setAttribute(Qt::WA_OpaquePaintEvent);
    w->setAttribute(Qt::WA_NoSystemBackground);
    w->setAutoFillBackground(false);
}
} // namespace

TFlickerlessPaintBox::TFlickerlessPaintBox(QWidget* parent) : QWidget(parent) {
    makeOpaque(this);
}

void TFlickerlessPaintBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    emit paint(painter);
}

TFlickerlessImage::TFlickerlessImage(QWidget* parent) : QWidget(parent) {
    makeOpaque(this);
}

void TFlickerlessImage::setPicture(QImage picture) {
    picture_ = std::move(picture);
    if (autoSize_) resize(picture_.isNull() ? QSize(0, 0) : picture_.size());
    update();
}

void TFlickerlessImage::setAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    if (autoSize_) resize(picture_.size());
}

void TFlickerlessImage::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (!picture_.isNull()) painter.drawImage(QPoint(0, 0), picture_);
    // Whatever the picture does not cover is drawn once, not erased before each repaint.
    const QRegion rest = QRegion(event->rect()) - QRegion(QRect(QPoint(0, 0), picture_.size()));
    for (const QRect& r : rest) painter.fillRect(r, palette().window());
}

void TFlickerlessImage::wheelEvent(QWheelEvent* event) {
    emit mouseWheel();
    event->accept();
}

} // namespace tarnwick
