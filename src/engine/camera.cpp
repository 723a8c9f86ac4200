// The per-tick camera: a straight glide between random targets, the zoom from the table, and the
// frame stretched from CopyBitmap onto the window.
#include "engine/scrsavermain.h"

#include "imaging/bitmap.h"
#include "imaging/stretch.h"

#include <cmath>
#include <limits>

namespace tarnwick {

namespace {

// trunc to 32 bits, saturating where a huge zoom would leave the range.
int32_t truncInt32(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// 32-bit signed arithmetic that wraps like the machine's instead of being undefined.
int32_t wrapMul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

struct Fit {
    int32_t W, H, halfW, halfH;
    bool operator()(int32_t x, int32_t y) const {
        return x - halfW >= 0 && x + halfW <= W && y - halfH >= 0 && y + halfH <= H;
    }
};

// The window's proportions; a window without area gets 1 so nothing below divides by zero.
double aspectOf(Size client) {
    if (client.width <= 0 || client.height <= 0) return 1.0;
    return static_cast<double>(client.width) / client.height;
}

Fit fitFor(const WorkBitmap* bitmap, double aspect) {
    const int32_t W = bitmap ? bitmap->width() : 0;
    const int32_t H = bitmap ? bitmap->height() : 0;
    const int32_t halfW = truncInt32(W / 5.0);
    return {W, H, halfW, truncInt32(halfW / aspect)};
}

} // namespace

Rect TForm1::CalcSourceRect() {
    const double aspect = aspectOf(services_.window.clientSize());
    const Fit fits = fitFor(module_.CopyBitmap.get(), aspect);
    const int32_t W = fits.W, H = fits.H;
    const int32_t ilcx = lcx, ilcy = lcy;
    int32_t& Angle = module_.Angle;
    Random& random = module_.random;

    if (Angle == 0 || Angle == 180) {
        if (PlaySounds) services_.platform.sound.play(2);
        lcx = cx;
        lcy = cy;
        cx = random(W);
        cy = random(H);
        // Up to 20 new draws; the last one stays untested.
        for (int n = 0; n < 20 && !fits(cx, cy); ++n) {
            cx = random(W);
            cy = random(H);
        }
    }

    const double z = Zooms[static_cast<size_t>(Angle)];
    const double w = std::abs(W * z / 5.0);
    const double h = w / aspect;
    const int32_t nn = Angle > 180 ? Angle - 180 : Angle;
    const int32_t ucx = wrapAdd(wrapMul(180 - nn, ilcx), wrapMul(nn, cx)) / 180;
    const int32_t ucy = wrapAdd(wrapMul(180 - nn, ilcy), wrapMul(nn, cy)) / 180;
    const int32_t tw = truncInt32(w), th = truncInt32(h);
    const Rect r{wrapAdd(ucx, -tw), wrapAdd(ucy, -th), wrapAdd(ucx, tw), wrapAdd(ucy, th)};

    Angle += 3;
    if (Angle > 359) Angle = 0;
    return r;
}

void TForm1::SyncSize() {
    const double aspect = aspectOf(services_.window.clientSize());
    if (module_.CopyBitmap) {
        const Fit fits = fitFor(module_.CopyBitmap.get(), aspect);
        // Bounded like the re-targeting: the current centre first, then at most 20 new draws.
        for (int n = 0; n < 20 && !fits(cx, cy); ++n) {
            cx = module_.random(fits.W);
            cy = module_.random(fits.H);
        }
    }
    // The window surface stretches with one mode only, nearest pixel (COLORONCOLOR), so there is
    // no stretch mode to set on it.
    module_.Synced = true;
}

void TForm1::placeCameraOnDesktop() {
    if (!module_.CopyBitmap) return;
    const Fit fits = fitFor(module_.CopyBitmap.get(), aspectOf(services_.window.clientSize()));
    for (int n = 0; n < 20 && !fits(cx, cy); ++n) {
        cx = module_.random(fits.W);
        cy = module_.random(fits.H);
    }
    lcx = cx;
    lcy = cy;
}

void TForm1::RenderFrame(const Rect& source, const FrameView& frame) const {
    StretchCopy(*module_.CopyBitmap, source, frame);
}

bool TForm1::everyViewEmpty() const {
    const double aspect = aspectOf(services_.window.clientSize());
    const int32_t W = module_.CopyBitmap ? module_.CopyBitmap->width() : 0;
    // Only the entries at multiples of 3 are ever read.
    for (size_t angle = 0; angle < Zooms.size(); angle += 3) {
        const double w = std::abs(W * Zooms[angle] / 5.0);
        if (truncInt32(w) > 0 && truncInt32(w / aspect) > 0) return false;
    }
    return true;
}

void TForm1::JvThreadTimer2Timer(TJvThreadTimer&) {
    if (!services_.window.visible()) return;
    if (!module_.CopyBitmap) return;
    // A change of picture whose decode finished since the last tick happens now. While the
    // saver's own picture stands in for the first one, that change must not wait out a long
    // refresh delay: the next tick looks again soon.
    TakePreparedPicture();
    if (pendingChange_ && !module_.Synced) JvThreadTimer2->nextTickWithin(kFirstPicturePoll);
    Rect source = CalcSourceRect();
    if (source.width() <= 0 || source.height() <= 0) {
        // An empty view (zoom 0 at each re-targeting) has nothing to show: the window keeps the
        // previous frame instead of flashing black. Before the first frame, and where every view
        // is empty (a tiny maximum zoom on a narrow picture), the smallest view around the centre
        // fills the window instead: the point there, as zoom 0 means.
        if (frameShown_ && !everyViewEmpty()) return;
        if (source.width() <= 0) {
            source.left = std::min(source.left, std::numeric_limits<int32_t>::max() - 1);
            source.right = source.left + 1;
        }
        if (source.height() <= 0) {
            source.top = std::min(source.top, std::numeric_limits<int32_t>::max() - 1);
            source.bottom = source.top + 1;
        }
    }
    const FrameView frame = services_.window.beginFrame();
    RenderFrame(source, frame);
    services_.window.endFrame();
    if (frame.pixels) frameShown_ = true;
}

} // namespace tarnwick
