#pragma once
// The frame-rate overlay of -fps: frames per second over the last second and the share of one
// core the process used meanwhile, drawn in the bottom left corner of every frame.
#include "platform/form_window_proxy.h"

#include <string>

namespace tarnwick::hack {

// Counts frames; once at least a second has passed since the last figures, takes new ones.
class FpsMeter {
public:
    // One frame shown at `wall` seconds (any steady clock) with `cpu` seconds of processor time
    // used so far. Returns true when the figures changed.
    bool frame(double wall, double cpu);
    std::string text() const; // empty until the first second has passed

private:
    bool started_ = false;
    double wall0_ = 0, cpu0_ = 0;
    int frames_ = 0;
    double fps_ = -1, load_ = 0; // load as a share of one core, 1 = 100 %
};

// Draws the meter's figures over each frame before it is shown.
class FpsOverlay final : public platform::FormWindowProxy {
public:
    using FormWindowProxy::FormWindowProxy;
    FrameView beginFrame() override;
    void endFrame() override;

private:
    FpsMeter meter_;
    FrameView frame_;
};

} // namespace tarnwick::hack
