#include "support/reference_transforms.h"

#include <cmath>

namespace tarnwick::testing {

namespace {

int32_t refClampInt(int32_t v, int32_t lo, int32_t hi) {
    return v > hi ? hi : v < lo ? lo : v;
}
uint8_t refClampByte(int32_t v) {
    return v > 255 ? 255 : v < 0 ? 0 : uint8_t(v);
}

// Arc tangent, sine and cosine as extended-precision results stored to 32 bits: computed in
// double precision and rounded once.
float refAtan(float v) {
    return float(std::atan(double(v)));
}
float refCos(float v) {
    return float(std::cos(double(v)));
}
float refSin(float v) {
    return float(std::sin(double(v)));
}

float refPointAngle(float xt, float yt) {
    const float halfPi = 1.5707964f;
    if (xt == 0) return yt > 0 ? halfPi : -halfPi;
    const float q = yt / xt;
    float a = refAtan(q);
    if (xt < 0) a = float((long double)a + 3.141592653589793238462643383279502884L);
    return a;
}

int32_t refWrap(int32_t i, int32_t n) {
    if (i < 0) return n - 1 - ((-i) % n);
    if (i > n - 1) return i % n;
    return i;
}

} // namespace

void referenceRotate(const WorkBitmap& s, WorkBitmap& d, int32_t cx, int32_t cy, double angle) {
    const double pi = 3.14159265358979323846;
    const double theta = -angle * pi / 180;
    const double cosA = std::cos(theta), sinA = std::sin(theta);
    const int32_t xoff = (d.width() - s.width()) / 2;
    const int32_t yoff = (d.height() - s.height()) / 2;
    for (int32_t y = 0; y < d.height(); ++y) {
        const int32_t yy = 2 * (y - cy) + 1;
        for (int32_t x = 0; x < d.width(); ++x) {
            const int32_t xx = 2 * (x - cx) + 1;
            const double sx = (xx * cosA - yy * sinA - 1) / 2 + cx - xoff;
            const double sy = (xx * sinA + yy * cosA - 1) / 2 + cy - yoff;
            const int32_t ix = int32_t(std::nearbyint(sx));
            const int32_t iy = int32_t(std::nearbyint(sy));
            if (ix < 0 || ix >= s.width() || iy < 0 || iy >= s.height()) continue;
            const double fx = sx - ix, fy = sy - iy;
            const int32_t x1 = refClampInt(ix + 1, 0, s.width() - 1);
            const int32_t y1 = refClampInt(iy + 1, 0, s.height() - 1);
            for (int c = 2; c >= 0; --c) {
                const int p00 = s.scanLine(iy)[3 * ix + c], p01 = s.scanLine(iy)[3 * x1 + c];
                const int p10 = s.scanLine(y1)[3 * ix + c], p11 = s.scanLine(y1)[3 * x1 + c];
                const double top = fx * (p01 - p00) + p00;
                const double bottom = fx * (p11 - p10) + p10;
                d.scanLine(y)[3 * x + c] =
                    refClampByte(int32_t(std::nearbyint((bottom - top) * fy + top)));
            }
        }
    }
}

void referenceWarp(const WorkBitmap& s, WorkBitmap& d, int32_t amount) {
    const int32_t W = s.width(), H = s.height();
    const float offset = -1.5707964f;
    const float w1 = float(W - 1), h1 = float(H - 1);
    const float diag = sqrtf(w1 * w1 + h1 * h1);
    float txmax = diag, tymax = diag;
    const float txmid = float(W - 1) / 2, fxmid = txmid;
    const float tymid = float(H - 1) / 2, fymid = tymid;
    if (!(float(W) > txmax)) txmax = float(W - 1);
    if (!(float(H) > tymax)) tymax = float(H - 1);
    for (int32_t ty = 0; ty <= int32_t(nearbyintf(tymax)); ++ty) {
        if (ty >= H || ty >= d.height()) continue;
        for (int32_t tx = 0; tx <= int32_t(nearbyintf(txmax)); ++tx) {
            if (tx >= W || tx >= d.width()) continue;
            const float dx = float(tx) - txmid, dy = float(ty) - tymid;
            const float r = sqrtf(dx * dx + dy * dy);
            float fx, fy;
            if (r == 0) {
                fx = 0;
                fy = 0;
            } else {
                const float theta = refPointAngle(dx, dy) - r / float(amount) - offset;
                fx = r * refCos(theta);
                fy = r * refSin(theta);
            }
            fx = fx + fxmid;
            fy = fy + fymid;
            int32_t ify = int32_t(fy), ifx = int32_t(fx);
            float wy0, wy1, wx0, wx1;
            if (fy >= 0) {
                wy1 = fy - float(ify);
                wy0 = 1 - wy1;
            } else {
                wy0 = float(ify) - fy;
                wy1 = 1 - wy0;
            }
            if (fx >= 0) {
                wx1 = fx - float(ifx);
                wx0 = 1 - wx1;
            } else {
                wx0 = float(ifx) - fx;
                wx1 = 1 - wx0;
            }
            ifx = refWrap(ifx, W);
            ify = refWrap(ify, H);
            const float wx[2] = {wx0, wx1}, wy[2] = {wy0, wy1};
            float sum[3] = {0, 0, 0};
            for (int ix = 0; ix <= 1; ++ix)
                for (int iy = 0; iy <= 1; ++iy) {
                    const int32_t row = ify + iy < H ? ify + iy : H - ify - iy;
                    const int32_t col = ifx + ix < W ? ifx + ix : W - ifx - ix;
                    const float weight = wx[ix] * wy[iy];
                    for (int c = 0; c < 3; ++c)
                        sum[c] += float(s.scanLine(row)[3 * col + c]) * weight;
                }
            for (int c = 0; c < 3; ++c)
                d.scanLine(ty)[3 * tx + c] = uint8_t(int32_t(nearbyintf(sum[c])));
        }
    }
}

void referenceBlur(WorkBitmap& b, int32_t d) {
    const int32_t W = b.width(), H = b.height();
    if (d == 0 || d >= W || d >= H) return;
    for (int32_t y = 0; y < H; ++y) {
        const int32_t up = y - d >= 0 ? y - d : y;
        const int32_t down = y + d <= H - 1 ? y + d : H - y;
        for (int32_t x = 0; x < W; ++x) {
            const int32_t left = x - d >= 0 ? x - d : x;
            const int32_t right = x + d <= W - 1 ? x + d : W - x;
            int v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = (b.scanLine(up)[3 * left + c] + b.scanLine(down)[3 * left + c] +
                        b.scanLine(up)[3 * right + c] + b.scanLine(down)[3 * right + c]) /
                       4;
            for (int c = 0; c < 3; ++c) b.scanLine(y)[3 * x + c] = uint8_t(v[c]);
        }
    }
}

} // namespace tarnwick::testing
