// The next picture is decoded ahead on a worker thread; the cycle tick only swaps it in.
#include "engine/picture_preparer.h"
#include "engine_fixture.h"
#include "imaging/picture_loader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using testing_support::EngineWorld;
using testing_support::writeBmp;

// A loader that records where each load ran and can tell when the worker has finished one.
struct RecordingLoader {
    std::mutex mutex;
    std::condition_variable done;
    std::vector<std::pair<std::string, bool>> loads; // path, on the main thread
    const std::thread::id mainThread = std::this_thread::get_id();

    PicturePreparer::Loader loader() {
        return [this](const std::string& path, std::stop_token stop) {
            auto picture = LoadPicture(path, stop);
            std::lock_guard lock(mutex);
            loads.emplace_back(path, std::this_thread::get_id() == mainThread);
            done.notify_all();
            return picture;
        };
    }
    bool waitForLoads(size_t n) {
        std::unique_lock lock(mutex);
        return done.wait_for(lock, 10s, [&] { return loads.size() >= n; });
    }
};

class Prepared : public testing::Test {
protected:
    void SetUp() override {
        world.start({"/p"});
        world.window.visible_ = true;
        form().setPictureLoader(recorder.loader());
        form().UseDesktop = false; // the first run chose the desktop
        world.module.CopyBitmap = NewWorkBitmap();
        form().pictureList = std::make_unique<std::vector<std::string>>();
    }
    TForm1& form() { return *world.form; }
    std::string file(int n, int width) {
        const std::string path = world.dir / ("p" + std::to_string(n) + ".bmp");
        writeBmp(path, width, 20, static_cast<uint8_t>(n));
        return path;
    }
    int shownWidth() const { return world.module.CopyBitmap->width(); }
    void tick() { form().JvThreadTimer1Timer(*form().JvThreadTimer1); }
    // Declared first, so destroyed last: the form's worker may still be in the loader until
    // the form has gone.
    RecordingLoader recorder;
    EngineWorld world;
};

TEST_F(Prepared, TicksSwapInPicturesDecodedOffTheMainThreadInListOrder) {
    *form().pictureList = {file(1, 11), file(2, 12), world.dir / "gone.bmp", file(4, 14)};
    form().PlaySounds = true;
    world.sound.played.clear();
    form().PrepareNextPicture();
    std::vector<int> shown;
    for (int i = 0; i < 5; ++i) {
        tick();
        shown.push_back(shownWidth() - 10);
    }
    EXPECT_EQ(shown, (std::vector<int>{2, 2, 4, 1, 2}));
    EXPECT_EQ(world.sound.count(1), 4);
    ASSERT_TRUE(recorder.waitForLoads(4)); // entries 2, 4, 1, 2; the missing one is not read
    std::lock_guard lock(recorder.mutex);
    for (const auto& [path, onMain] : recorder.loads) EXPECT_FALSE(onMain) << path;
}

TEST_F(Prepared, AFileRewrittenAfterItWasDecodedIsReadAgainAtTheTick) {
    const std::string second = file(2, 12);
    *form().pictureList = {file(1, 11), second};
    form().PrepareNextPicture();
    ASSERT_TRUE(recorder.waitForLoads(1));
    writeBmp(second, 17, 20); // another size: another stamp
    tick();
    EXPECT_EQ(shownWidth(), 17);
    ASSERT_TRUE(recorder.waitForLoads(2));
    std::lock_guard lock(recorder.mutex);
    EXPECT_TRUE(recorder.loads[1].second); // read again by the tick itself
}

TEST_F(Prepared, ClosingDropsThePreparedPictureAndTheDesktopPreparesNone) {
    const std::vector<std::string> list{file(1, 11), file(2, 12)};
    *form().pictureList = list;
    form().PrepareNextPicture();
    ASSERT_TRUE(recorder.waitForLoads(1));
    form().FormClose();
    world.module.CopyBitmap = NewWorkBitmap();
    form().pictureList = std::make_unique<std::vector<std::string>>(list);
    form().UseDesktop = true;
    form().PrepareNextPicture();
    form().UseDesktop = false;
    tick(); // nothing prepared: the tick reads entry 2 itself
    EXPECT_EQ(shownWidth(), 12);
    ASSERT_TRUE(recorder.waitForLoads(2));
    std::lock_guard lock(recorder.mutex);
    EXPECT_TRUE(recorder.loads[1].second);
}

// A loader that holds a slow load until its stop is requested (or 10 s pass).
TEST(PicturePreparer, ANewJobOrTheEndStopsTheLoadUnderWay) {
    std::mutex mutex;
    std::condition_variable_any cv;
    std::vector<std::string> started, stopped;
    auto loader = [&](const std::string& path, std::stop_token stop) {
        auto b = NewWorkBitmap();
        if (path == "fast") return b;
        std::unique_lock lock(mutex);
        started.push_back(path);
        cv.notify_all();
        cv.wait_for(lock, stop, 10s, [] { return false; });
        if (stop.stop_requested()) stopped.push_back(path);
        throw PictureLoadCancelled();
    };
    auto waitStarted = [&](size_t n) {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, 10s, [&] { return started.size() >= n; });
    };
    {
        PicturePreparer preparer(loader);
        preparer.prepare({1, "slow", {}});
        ASSERT_TRUE(waitStarted(1));
        preparer.prepare({2, "fast", {}});
        auto result = preparer.take();
        ASSERT_TRUE(result);
        EXPECT_EQ(result->job.path, "fast");
        EXPECT_TRUE(result->picture);
        EXPECT_FALSE(preparer.take()); // taken once
        preparer.prepare({3, "slow at the end", {}});
        ASSERT_TRUE(waitStarted(2));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(stopped, (std::vector<std::string>{"slow", "slow at the end"}));
}

} // namespace
} // namespace tarnwick
