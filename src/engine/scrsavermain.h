#pragma once
// The saver form: the engine's state and its entry points (mode events, ticks, input, close).
#include "engine/picture_preparer.h"
#include "engine/random.h"
#include "host/screensaver.h"
#include "host/thread_timer.h"
#include "imaging/picture_loader.h"
#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
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
    // The picture files the form reads (the hack's folders also hold PNG and WebP).
    PictureFormats pictureFormats = PictureFormats::BmpJpeg;
    // How pictures are decoded, on the preparing worker; LoadPicture when empty.
    PicturePreparer::Loader pictureLoader = {};
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
    // Takes the next entry and, when it names an existing file, starts its decode off the main
    // thread; true then. The picture replaces CopyBitmap once decoded (TakePreparedPicture).
    // `announce`: the change is a cycle's, with its sound and the camera carried over.
    bool LoadNextPicture(bool announce = false);
    // The waiting change of picture, once its decode has finished: CopyBitmap takes the picture,
    // SyncSize places the camera on the first one, and a cycle's change plays sound 1 and carries
    // the camera over. False while the decode goes on, when nothing waits, or when the file
    // failed to load (CopyBitmap then stays as it is). Called by both ticks; never waits.
    bool TakePreparedPicture();
    // The picture shown while the first one is decoded.
    std::unique_ptr<WorkBitmap> PlaceholderPicture();
    void TakeDesktopSnapshot();
    void ApplyDesktopSetting(int32_t index);
    void RotateDesktop(int32_t angle);
    void WarpDesktop();
    void BlurDesktop();
    void JvThreadTimer1Timer(TJvThreadTimer& sender);
    // Starts decoding, off the main thread, the entry the next cycle tick will take; nothing
    // while a change still waits for its picture.
    void PrepareNextPicture();
    // The decodes under way (nullptr before the first); for tests and benchmarks that wait.
    PicturePreparer* preparer() { return preparer_.get(); }
    // Whether a change of picture waits for its decode.
    bool pictureChangePending() const { return pendingChange_.has_value(); }

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
    // How soon a refresh tick looks again for the first picture while it is being decoded (ms).
    static constexpr int32_t kFirstPicturePoll = 20;

private:
    void keyDown(int key, unsigned shift) override { FormKeyDown(key, shift); }
    void click() override { ClickToClose(); }
    void doubleClick() override { ClickToClose(); }
    void mouseMove(unsigned shift, int x, int y) override { PaintBox1MouseMove(shift, x, y); }
    void closed() override;
    // Gives `job` to the worker; false when no worker can be started.
    bool startPreparing(PicturePreparer::Job job);
    // Whether `job`'s file failed to load before, as it is now.
    bool failedBefore(const PicturePreparer::Job& job) const;
    void dropPrepared();
    // Activates the refresh timer, unless it is active already, with its first tick at once.
    void startRefreshTimer();
    // Starts the first glide on the desktop at a random centre that fits, as SyncSize places the
    // camera on a picture file: the corner it would start from is often a plain panel or black.
    void placeCameraOnDesktop();
    // Whether no view of the current picture in this window has any area, whatever the zoom.
    bool everyViewEmpty() const;

    SaverModule& module_;
    FormServices services_;
    PicturePreparer::Loader loader_;
    bool frameShown_ = false;   // a frame has been drawn into the window
    bool builtinShown_ = false; // CopyBitmap holds the saver's own picture, not the desktop
    std::unique_ptr<PicturePreparer> preparer_;     // started with the first picture to prepare
    std::optional<PicturePreparer::Job> preparing_; // given to the worker, result not yet taken
    // A change of picture waiting for its decode; true when it is a cycle's.
    std::optional<bool> pendingChange_;
    // Files that failed to load, with their stamp then: not decoded again until they change.
    std::unordered_map<std::string, platform::FileStamp> failed_;
};

} // namespace tarnwick
