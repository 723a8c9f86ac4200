#pragma once
// The saver form: the engine's state and its entry points (mode events, ticks, input, close).
#include "engine/picture_preparer.h"
#include "engine/random.h"
#include "host/screensaver.h"
#include "host/thread_timer.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick {

class WorkBitmap;

// Module state: one per program, outside the form (created before it, outlives it).
struct SaverModule {
    SaverModule();
    ~SaverModule();
    std::unique_ptr<WorkBitmap> CopyBitmap;
    int32_t Angle = 0;
    bool ConfigDone = false;
    bool Synced = false;
    std::string launchArgument; // the first command-line argument, upper-cased
    bool firstRunFailureTold = false;
    Random random;

    // Module start-up: a new empty picture, phase 0, generator seeded from the clock.
    void startUp(const std::vector<std::string>& args);
};

// What the form needs from outside besides the platform.
struct FormServices {
    platform::Platform& platform;
    platform::FormWindow& window;
    std::vector<std::string> args;            // command-line arguments after the program path
    std::function<void()> requestTermination; // posts a quit request to the message loop
    // Shows a new settings dialog modally and frees it (configuration mode).
    std::function<void()> showSettingsDialog;
    // Tells the user something that does not stop the run (on stderr); may be empty.
    std::function<void(const std::string&)> notice;
};

// The warp's twist for the desktop: one of 585, 630, ..., 2880, all equally likely.
int32_t WarpAmount(Random& random);

class TForm1 : private platform::InputListener {
public:
    TForm1(SaverModule& module, FormServices services);
    ~TForm1() override;
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Mode events raised by ScreenSaver1.
    void ScreenSaver1MainSaverActive(TScreenSaver& sender);
    void ScreenSaver1PreviewActive(TScreenSaver& sender);
    void ScreenSaver1ConfigBoxActive(TScreenSaver& sender);
    void FormCreate();
    void FormKeyDown(int key, unsigned shift);
    void ClickToClose();
    void PaintBox1MouseMove(unsigned shift, int x, int y);
    void FormClose();

    // Settings reader; fills the settings and prepares the picture.
    void Read_Registry();

    // Zoom tables.
    void InitSineZooms();
    void InitZigzagZooms();
    void InitAverageZooms();
    void InitDrunkenZooms();
    void BuildZooms(int32_t pathIndex); // index outside 0..3 builds the sine table

    // Frames.
    void JvThreadTimer2Timer(TJvThreadTimer& sender);
    Rect CalcSourceRect();
    void SyncSize();
    // Draws one frame of the current rectangle into `frame` (the window's surface or a test frame).
    void RenderFrame(const Rect& source, const FrameView& frame) const;

    // Pictures.
    std::string Nextfilename();
    bool LoadNextPicture();
    void TakeDesktopSnapshot();
    void ApplyDesktopSetting(int32_t index);
    void RotateDesktop(int32_t angle);
    void WarpDesktop();
    void BlurDesktop();
    void JvThreadTimer1Timer(TJvThreadTimer& sender);
    // Starts decoding, off the main thread, the entry the next cycle tick will take.
    void PrepareNextPicture();
    // How pictures are decoded (LoadPicture unless a test replaces it before the mode runs).
    void setPictureLoader(PicturePreparer::Loader loader) { loader_ = std::move(loader); }

    // Form state, in declaration order.
    std::array<double, 360> Zooms{};
    int32_t cx = 0, cy = 0;
    int32_t lcx = 0, lcy = 0;
    int32_t pictureIndex = 0;
    std::unique_ptr<std::vector<std::string>> pictureList;
    double MaxZoom = 0;
    bool PlaySounds = false;
    bool UseDesktop = false;
    bool IsPreview = false;

    // Components.
    std::unique_ptr<TScreenSaver> ScreenSaver1;
    std::unique_ptr<TJvThreadTimer> JvThreadTimer1; // cycle
    std::unique_ptr<TJvThreadTimer> JvThreadTimer2; // refresh

    SaverModule& module() { return module_; }
    platform::FormWindow& window() { return services_.window; }

    // Design delays of the two timers.
    static constexpr int32_t kCycleDesignDelay = 12000;
    static constexpr int32_t kRefreshDesignDelay = 20;

private:
    void keyDown(int key, unsigned shift) override { FormKeyDown(key, shift); }
    void click() override { ClickToClose(); }
    void doubleClick() override { ClickToClose(); }
    void mouseMove(unsigned shift, int x, int y) override { PaintBox1MouseMove(shift, x, y); }
    void closed() override;
    // The picture prepared for list entry `name` if it is still what the file holds; nullptr
    // when there is none to use (the caller then loads the file itself).
    std::unique_ptr<WorkBitmap> takePrepared(const std::string& name);
    void dropPrepared();

    SaverModule& module_;
    FormServices services_;
    PicturePreparer::Loader loader_;
    std::unique_ptr<PicturePreparer> preparer_; // started with the first picture to prepare
};

} // namespace tarnwick
