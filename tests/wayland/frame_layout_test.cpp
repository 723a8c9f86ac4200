// The one frame across the outputs, and an output's own picture turned back to how it is shown.
#include "platform/wayland/frame_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarnwick::platform::wayland {
namespace {

TEST(FrameLayout, SpansTheOutputsAtTheFinestScale) {
    // A scale-2 laptop panel left of and above a scale-1 monitor at negative coordinates.
    const std::vector<OutputPlace> outputs = {{-1280, -100, 1280, 800, 2}, {0, 0, 1920, 1080, 1}};
    const FrameLayout layout = layoutFrame(outputs);
    EXPECT_EQ(layout.scale, 2);
    EXPECT_EQ(layout.logical, (Rect{-1280, -100, 1920, 1080}));
    EXPECT_EQ(layout.size, (Size{3200 * 2, 1180 * 2}));
    ASSERT_EQ(layout.parts.size(), 2u);
    EXPECT_EQ(layout.parts[0], (Rect{0, 0, 2560, 1600}));
    EXPECT_EQ(layout.parts[1], (Rect{2560, 200, 2560 + 3840, 200 + 2160}));
}

// A 3x2 picture whose pixels are numbered 1..6 row by row, placed into a frame of `w` x `h`.
std::vector<uint32_t> place(OutputTransform t, bool yInverted, int32_t w, int32_t h) {
    const uint32_t pixels[6] = {1, 2, 3, 4, 5, 6};
    std::vector<uint32_t> frame(size_t(w) * size_t(h), 0);
    placeOutputPicture({reinterpret_cast<const uint8_t*>(pixels), 3, 2, 12, t, yInverted},
                       {0, 0, w, h}, frame.data(), w);
    for (uint32_t& p : frame) p &= 0xFFFFFF;
    return frame;
}

TEST(PlaceOutputPicture, TurnsEachTransformBackAndScales) {
    using T = OutputTransform;
    // Shown the other way round, the picture is 2 wide and 3 high. The turns' directions are as
    // sway shows them (checked against grim's screenshots of turned outputs).
    EXPECT_EQ(place(T::Normal, false, 3, 2), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(place(T::R90, false, 2, 3), (std::vector<uint32_t>{4, 1, 5, 2, 6, 3}));
    EXPECT_EQ(place(T::R180, false, 3, 2), (std::vector<uint32_t>{6, 5, 4, 3, 2, 1}));
    EXPECT_EQ(place(T::R270, false, 2, 3), (std::vector<uint32_t>{3, 6, 2, 5, 1, 4}));
    EXPECT_EQ(place(T::Flipped, false, 3, 2), (std::vector<uint32_t>{3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(place(T::Flipped90, false, 2, 3), (std::vector<uint32_t>{1, 4, 2, 5, 3, 6}));
    // Rows stored bottom up.
    EXPECT_EQ(place(T::Normal, true, 3, 2), (std::vector<uint32_t>{4, 5, 6, 1, 2, 3}));
    // A part twice the size (a scale-1 output in a scale-2 frame): each pixel doubled.
    EXPECT_EQ(place(T::Normal, false, 6, 4),
              (std::vector<uint32_t>{1, 1, 2, 2, 3, 3, 1, 1, 2, 2, 3, 3,
                                     4, 4, 5, 5, 6, 6, 4, 4, 5, 5, 6, 6}));
}

} // namespace
} // namespace tarnwick::platform::wayland
