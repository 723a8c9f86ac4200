#pragma once
// Drawing surfaces that never clear their area before a repaint: opaque, with no system
// background (Qt has no erase-background request to answer).
#include <QImage>
#include <QWidget>

namespace tarnwick {

class TFlickerlessPaintBox : public QWidget {
    Q_OBJECT
public:
    explicit TFlickerlessPaintBox(QWidget* parent = nullptr);
signals:
    void paint(QPainter& painter);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Shows a stored picture at its top left; with AutoSize the control takes the picture's size.
class TFlickerlessImage : public QWidget {
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
