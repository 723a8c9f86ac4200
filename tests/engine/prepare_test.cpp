// Pictures are decoded on a worker thread; the ticks only swap them in and never wait for one.
#include "engine/picture_preparer.h"
#include "engine_fixture.h"
#include "fakes/fake_registry.h"
#include "imaging/picture_loader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

namespace tarnwick {
namespace {

using namespace std::chrono_literals;
using testing_support::EngineWorld;
using testing_support::writeBmp;

// A loader that records where each load ran (or began), and holds the loads of chosen files until
// they are released (or stopped, or 10 s have passed).
struct RecordingLoader {
    std::mutex mutex;
    std::condition_variable_any changed;
    std::vector<std::pair<std::string, bool>> loads; // path, on the main thread
    std::set<std::string> held;
    const std::thread::id mainThread = std::this_thread::get_id();

    PicturePreparer::Loader loader() {
        return [this](const std::string& path, std::stop_token stop) {
            {
                std::unique_lock lock(mutex);
                changed.wait_for(lock, stop, 10s, [&] { return !held.contains(path); });
            }
            {
                std::lock_guard lock(mutex);
                loads.emplace_back(path, std::this_thread::get_id() == mainThread);
            }
            return LoadPicture(path, stop);
        };
    }
    void hold(const std::string& path) {
        std::lock_guard lock(mutex);
        held.insert(path);
    }
    void release() {
        std::lock_guard lock(mutex);
        held.clear();
        changed.notify_all();
    }
    size_t loadsOf(const std::string& path) {
        std::lock_guard lock(mutex);
        return static_cast<size_t>(std::count_if(
            loads.begin(), loads.end(), [&](const auto& load) { return load.first == path; }));
    }
    bool noneOnTheMainThread() {
        std::lock_guard lock(mutex);
        return std::none_of(loads.begin(), loads.end(), [](const auto& l) { return l.second; });
    }
};

class Prepared : public testing::Test {
protected:
    void SetUp() override {
        world.loader = recorder.loader();
        world.start({"/p"});
        world.window.visible_ = true;
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
    // A tick whose picture was decoded ahead, and its change.
    void cycle() {
        if (form().preparer()) form().preparer()->waitUntilDone(10s);
        tick();
        world.settle();
    }
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
        cycle();
        shown.push_back(shownWidth() - 10);
    }
    EXPECT_EQ(shown, (std::vector<int>{2, 2, 4, 1, 2}));
    EXPECT_EQ(world.sound.count(1), 4);
    EXPECT_TRUE(recorder.noneOnTheMainThread());
}

TEST_F(Prepared, ATickNeverWaitsForADecodeAndTheChangeComesAtARefreshTickOnceReady) {
    const std::string slow = file(2, 12);
    *form().pictureList = {file(1, 11), slow, file(3, 13)};
    form().PlaySounds = true;
    world.sound.played.clear();
    recorder.hold(slow);
    form().PrepareNextPicture();
    tick();
    tick(); // the change still waits: this tick takes no entry of its own
    EXPECT_EQ(shownWidth(), 0);
    EXPECT_EQ(form().pictureIndex, 1);
    EXPECT_EQ(world.sound.count(1), 0);
    recorder.release();
    ASSERT_TRUE(form().preparer()->waitUntilDone(10s));
    form().JvThreadTimer2Timer(*form().JvThreadTimer2);
    EXPECT_EQ(shownWidth(), 12);
    EXPECT_EQ(world.sound.count(1), 1);
    cycle();
    EXPECT_EQ(shownWidth(), 13);
}

TEST_F(Prepared, AFileRewrittenAfterItWasDecodedIsReadAgainBeforeItShows) {
    const std::string second = file(2, 12);
    *form().pictureList = {file(1, 11), second};
    form().PrepareNextPicture();
    ASSERT_TRUE(form().preparer()->waitUntilDone(10s));
    writeBmp(second, 17, 20); // another size: another stamp
    tick();
    world.settle();
    EXPECT_EQ(shownWidth(), 17);
    EXPECT_EQ(recorder.loadsOf(second), 2u);
    EXPECT_TRUE(recorder.noneOnTheMainThread());
}

TEST_F(Prepared, AFileThatFailedIsNotDecodedAgainUntilItChanges) {
    const std::string bad = world.dir / "bad.bmp";
    std::ofstream(bad, std::ios::binary) << "BM not really a bitmap";
    *form().pictureList = {file(1, 11), bad};
    for (int i = 0; i < 4; ++i) cycle(); // bad, 1, bad, 1
    EXPECT_EQ(shownWidth(), 11);
    EXPECT_EQ(recorder.loadsOf(bad), 1u);
    writeBmp(bad, 15, 20);
    cycle();
    EXPECT_EQ(shownWidth(), 15);
}

TEST_F(Prepared, ClosingDropsThePreparedPictureAndTheDesktopPreparesNone) {
    const std::vector<std::string> list{file(1, 11), file(2, 12)};
    *form().pictureList = list;
    form().PrepareNextPicture();
    ASSERT_TRUE(form().preparer()->waitUntilDone(10s));
    form().FormClose();
    world.module.CopyBitmap = NewWorkBitmap();
    form().pictureList = std::make_unique<std::vector<std::string>>(list);
    form().UseDesktop = true;
    form().PrepareNextPicture();
    form().UseDesktop = false;
    recorder.hold(list[1]);
    tick(); // nothing prepared: the tick starts the decode of entry 2
    EXPECT_TRUE(form().pictureChangePending());
    recorder.release();
    world.settle();
    EXPECT_EQ(shownWidth(), 12);
    EXPECT_EQ(recorder.loadsOf(list[1]), 2u);
}

// The first picture is decoded while the window already shows the saver's own picture; no sound
// marks it, and it comes at the first refresh tick after it is ready, however long the delay.
TEST(FirstPicture, TheWindowShowsBeforeTheFirstPictureIsDecoded) {
    testing_support::TempDir dir;
    const std::string only = dir / "a.bmp";
    writeBmp(only, 40, 30);
    fakes::FakeRegistry store;
    store.put("Software\\Tarnwick\\TfrmConfig", "cbxUseDesktop_Checked", "False");
    store.put("Software\\Tarnwick\\TfrmConfig", "cbxPlaySounds_Checked", "True");
    store.put("Software\\Tarnwick\\TfrmConfig.ListBox1_Items", "Count", "1");
    store.put("Software\\Tarnwick\\TfrmConfig.ListBox1_Items", "Item0", only);
    RecordingLoader recorder;
    recorder.hold(only);
    EngineWorld world(store);
    world.loader = recorder.loader();
    TForm1& form = world.start({"/s"});
    EXPECT_TRUE(world.window.visible_);
    EXPECT_GT(world.module.CopyBitmap->width(), 40);
    EXPECT_FALSE(world.module.Synced);
    // A refresh tick while it decodes: the next looks again soon, not after the longest delay.
    // (Paused, the timer's own thread starts no sleep that would use up the request.)
    form.JvThreadTimer2->setActive(false);
    form.JvThreadTimer2->setDelay(2000);
    form.JvThreadTimer2Timer(*form.JvThreadTimer2);
    EXPECT_LT(form.JvThreadTimer2->nextSleep(), 100);
    recorder.release();
    ASSERT_TRUE(form.preparer()->waitUntilDone(10s));
    form.JvThreadTimer2Timer(*form.JvThreadTimer2);
    EXPECT_EQ(world.module.CopyBitmap->width(), 40);
    EXPECT_TRUE(world.module.Synced);
    EXPECT_EQ(world.sound.count(1), 0);
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
        EXPECT_FALSE(preparer.take()); // still decoding: nothing, at once
        preparer.prepare({2, "fast", {}});
        ASSERT_TRUE(preparer.waitUntilDone(10s));
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
