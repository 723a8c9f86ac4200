// The drawing half of the frame-rate overlay.
#include "host/fps_overlay.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <sys/resource.h>

namespace tarnwick::hack {

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto secs = [](const timeval& t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

FrameView FpsOverlay::beginFrame() {
    frame_ = inner_.beginFrame();
    return frame_;
}

void FpsOverlay::endFrame() {
    meter_.frame(wallSeconds(), cpuSeconds());
    const std::string text = meter_.text();
    if (!text.empty() && frame_.pixels && frame_.width > 0 && frame_.height > 0) {
        QImage image(reinterpret_cast<uchar*>(frame_.pixels), frame_.width, frame_.height,
                     qsizetype(frame_.stride) * 4, QImage::Format_RGB32);
        QPainter p(&image);
        QFont font(QStringLiteral("Monospace"));
        font.setStyleHint(QFont::TypeWriter);
        font.setPixelSize(std::clamp(frame_.height / 50, 10, 24));
        p.setFont(font);
        const QString label = QString::fromStdString(text);
        const QFontMetrics m(font);
        const int pad = font.pixelSize() / 3 + 1;
        const QRect box(0, frame_.height - m.height() - 2 * pad,
                        m.horizontalAdvance(label) + 2 * pad, m.height() + 2 * pad);
        // A box of its own, so the figures stay readable on any picture and never pile up on
        // a frame that was not redrawn.
        p.fillRect(box, Qt::black);
        p.setPen(Qt::yellow);
        p.drawText(box, Qt::AlignCenter, label);
    }
    frame_ = {};
    inner_.endFrame();
}

} // namespace tarnwick::hack
