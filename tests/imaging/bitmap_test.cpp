#include "imaging/bitmap.h"

#include "platform/error.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

std::string errorOf(auto&& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(WorkBitmapTest, NewIsEmptyAndSizedIsWhite) {
    auto bitmap = NewWorkBitmap();
    EXPECT_EQ(bitmap->width(), 0);
    EXPECT_EQ(bitmap->height(), 0);
    EXPECT_TRUE(bitmap->empty());
    SetBitmapSize(*bitmap, 3, 2);
    EXPECT_EQ(bitmap->width(), 3);
    EXPECT_EQ(bitmap->height(), 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(pixel(*bitmap, x, y), (Bgr{255, 255, 255}));
}

TEST(WorkBitmapTest, RowsArePaddedToFourBytes) {
    for (const auto& [w, stride] :
         {std::pair{0, 0}, {1, 4}, {2, 8}, {3, 12}, {4, 12}, {5, 16}, {1921, 5764}}) {
        WorkBitmap b;
        SetBitmapSize(b, w, 2);
        EXPECT_EQ(b.stride(), stride) << w;
        EXPECT_EQ(b.scanLine(1).size(), size_t(3 * w));
        if (w > 0) {
            EXPECT_EQ(b.scanLine(1).data(), b.data() + stride);
        }
    }
}

TEST(WorkBitmapTest, ScanLineOutsideTheRowsFails) {
    WorkBitmap b;
    SetBitmapSize(b, 4, 3);
    const WorkBitmap& constant = b;
    for (int32_t y : {-1, 3, 100, INT32_MIN}) {
        EXPECT_EQ(errorOf([&] { b.scanLine(y); }), "Scan line index out of range") << y;
        EXPECT_EQ(errorOf([&] { constant.scanLine(y); }), "Scan line index out of range") << y;
    }
    EXPECT_EQ(errorOf([&] { WorkBitmap().scanLine(0); }), "Scan line index out of range");
}

TEST(WorkBitmapTest, ResizingKeepsTheSharedPartAndWhitensTheRest) {
    WorkBitmap b = randomBitmap(4, 3, 5);
    const WorkBitmap original = randomBitmap(4, 3, 5);
    SetBitmapSize(b, 6, 2);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 6; ++x)
            EXPECT_EQ(pixel(b, x, y), (x < 4 ? pixel(original, x, y) : Bgr{255, 255, 255}));
    SetBitmapSize(b, 2, 4);
    EXPECT_EQ(pixel(b, 1, 1), pixel(original, 1, 1));
    EXPECT_EQ(pixel(b, 1, 3), (Bgr{255, 255, 255}));
}

TEST(WorkBitmapTest, SizesBeyondTheLimitsOrNegativeAreRefused) {
    WorkBitmap b;
    EXPECT_EQ(errorOf([&] { SetBitmapSize(b, -1, 5); }), "Bitmap size -1 x 0 is not valid");
    EXPECT_EQ(errorOf([&] { SetBitmapSize(b, 70000, 1); }), "Bitmap size 70000 x 0 is too large");
    EXPECT_EQ(errorOf([&] { SetBitmapSize(b, 65535, 65535); }),
              "Bitmap size 65535 x 65535 is too large");
    EXPECT_EQ(b.width(), 65535); // the width was set before the height failed
    EXPECT_EQ(errorOf([&] { checkBitmapSize(20000, 20000); }),
              "Bitmap size 20000 x 20000 is too large");
    EXPECT_EQ(errorOf([&] { checkBitmapSize(16384, 16384); }), "(no error)");
}

TEST(WorkBitmapTest, CopyGraphicTakesSizeAndPixels) {
    for (const auto& [w, h] : {std::pair{0, 0}, {1, 1}, {5, 3}, {8, 2}}) {
        const WorkBitmap graphic = randomBitmap(w, h, uint32_t(w + h));
        WorkBitmap target = randomBitmap(9, 9, 1);
        CopyGraphicToBitmap(target, graphic);
        EXPECT_EQ(differences(target, graphic), "") << w << "x" << h;
        EXPECT_EQ(graphic.width(), w); // only read
    }
}

TEST(WorkBitmapTest, CopyGraphicFromADecodedPictureMovesItsPixels) {
    auto decoded = std::make_unique<WorkBitmap>(randomBitmap(7, 4, 3));
    const uint8_t* pixels = decoded->data();
    WorkBitmap target = randomBitmap(2, 2, 1);
    CopyGraphicToBitmap(target, std::move(decoded));
    EXPECT_EQ(target.data(), pixels);
    EXPECT_EQ(differences(target, randomBitmap(7, 4, 3)), "");
    EXPECT_EQ(errorOf([&] { CopyGraphicToBitmap(target, std::unique_ptr<WorkBitmap>()); }),
              "Bitmap image is not valid");
}

TEST(WorkBitmapTest, MovedFromBitmapsAreEmpty) {
    WorkBitmap a = randomBitmap(3, 3, 1);
    WorkBitmap b = std::move(a);
    EXPECT_EQ(b.width(), 3);
    EXPECT_TRUE(a.empty()); // NOLINT(bugprone-use-after-move): the state is part of the contract
    EXPECT_EQ(a.stride(), 0);
}

// A picture change frees one photo and decodes the next on another thread: the next one of the same
// size takes the freed block, so no fresh memory is faulted in; a block over twice the need is not
// handed out.
TEST(WorkBitmapTest, TheNextLargePictureTakesTheLastFreedBlock) {
    ReleaseSparePixels();
    const uint8_t* freed = nullptr;
    std::thread([&] {
        WorkBitmap landscape;
        landscape.resizeForOverwrite(2000, 1500);
        freed = landscape.data();
    }).join();
    WorkBitmap portrait;
    portrait.resizeForOverwrite(1500, 2000);
    EXPECT_EQ(portrait.data(), freed);

    WorkBitmap kept;
    kept.resizeForOverwrite(5000, 5000);
    const uint8_t* big = kept.data();
    kept = WorkBitmap();
    WorkBitmap small;
    small.resizeForOverwrite(1500, 1000);
    EXPECT_NE(small.data(), big);

    // Small pictures after a large one: the block kept for another large one goes.
    small = WorkBitmap();
    EXPECT_GT(SparePixelBytes(), 0u);
    WorkBitmap tiny;
    tiny.resizeForOverwrite(100, 100);
    EXPECT_EQ(SparePixelBytes(), 0u);
    ReleaseSparePixels();
}

} // namespace
} // namespace tarnwick
