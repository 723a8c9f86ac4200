#pragma once
// Drawing surfaces that never clear their area before a repaint: opaque, and they answer the
// erase-background request themselves.
#include <QImage>
#include <QWidget>

namespace tarnwick {

// Qt has no erase-background message; this is where a surface would be asked, and it answers
// "handled" (1) without drawing.
class FlickerlessSurface {
public:
    static constexpr long kEraseHandled = 1;
    long eraseBackground() const { return kEraseHandled; }
};

class TFlickerlessPaintBox : public QWidget, public FlickerlessSurface {
    Q_OBJECT
public:
    explicit TFlickerlessPaintBox(QWidget* parent = nullptr);
signals:
    void paint(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Shows a stored picture at its top left; with AutoSize the control takes the picture's size.
class TFlickerlessImage : public QWidget, public FlickerlessSurface {
    Q_OBJECT
public:
    explicit TFlickerlessImage(QWidget* parent = nullptr);
    void setPicture(QImage picture);
    const QImage& picture() const { return picture_; }
    void setAutoSize(bool autoSize);

signals:
    void mouseWheel();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    QImage picture_;
    bool autoSize_ = true;
};

} // namespace tarnwick
