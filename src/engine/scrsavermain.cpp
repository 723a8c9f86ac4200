#include "engine/scrsavermain.h"

#include "host/command_line.h"
#include "imaging/bitmap.h"
#include "imaging/picture_loader.h"

namespace tarnwick {

SaverModule::SaverModule() = default;
SaverModule::~SaverModule() = default;

void SaverModule::startUp(const std::vector<std::string>& args) {
    CopyBitmap = NewWorkBitmap();
    Angle = 0;
    random.seedFromClock();
    launchArgument = args.empty() ? std::string() : UpperCaseAscii(args[0]);
}

TForm1::TForm1(SaverModule& module, FormServices services)
    : module_(module), services_(std::move(services)), loader_(services_.pictureLoader) {
    if (!loader_)
        loader_ = [formats = services_.pictureFormats](const std::string& path,
                                                       std::stop_token stop) {
            return LoadPicture(path, stop, formats);
        };
    auto& w = services_.window;
    w.setListener(this);
    // Form design: no border, black, maximised.
    w.setBorderless();
    w.setWindowState(platform::WindowState::Maximized);

    JvThreadTimer1 = std::make_unique<TJvThreadTimer>();
    JvThreadTimer1->setDelay(kCycleDesignDelay);
    JvThreadTimer1->setOnTimer([this](TJvThreadTimer& t) { JvThreadTimer1Timer(t); });
    JvThreadTimer2 = std::make_unique<TJvThreadTimer>();
    JvThreadTimer2->setDelay(kRefreshDesignDelay);
    JvThreadTimer2->setOnTimer([this](TJvThreadTimer& t) { JvThreadTimer2Timer(t); });

    auto& p = services_.platform;
    ScreenSaver1 = std::make_unique<TScreenSaver>(
        ScreenSaverEnvironment{w, p.windows, p.saverState, p.password, services_.args,
                               "Tarnwick Screensaver", services_.requestTermination});
    ScreenSaver1->OnMainSaverActive = [this](TScreenSaver& s) { ScreenSaver1MainSaverActive(s); };
    ScreenSaver1->OnPreviewActive = [this](TScreenSaver& s) { ScreenSaver1PreviewActive(s); };
    ScreenSaver1->OnConfigBoxActive = [this](TScreenSaver& s) { ScreenSaver1ConfigBoxActive(s); };

    // Every component exists and holds its design values: now their load steps, then FormCreate.
    ScreenSaver1->Loaded();
    FormCreate();
}

TForm1::~TForm1() {
    services_.window.setListener(nullptr);
    preparer_.reset();
    // The window goes before the components; the host's teardown runs with its destruction.
    JvThreadTimer1.reset();
    JvThreadTimer2.reset();
    ScreenSaver1.reset();
}

void TForm1::ScreenSaver1MainSaverActive(TScreenSaver&) {
    Read_Registry();
    services_.window.show();
    IsPreview = false;
    if (!JvThreadTimer1->Active()) JvThreadTimer1->setActive(!UseDesktop);
    startRefreshTimer();
    if (JvThreadTimer1->Active()) PrepareNextPicture();
}

void TForm1::ScreenSaver1PreviewActive(TScreenSaver&) {
    Read_Registry();
    Rect g = services_.window.geometry();
    services_.window.setGeometry({g.left, g.top, g.left + TScreenSaver::kPreviewWidth,
                                  g.top + TScreenSaver::kPreviewHeight});
    IsPreview = true;
    if (!JvThreadTimer1->Active()) JvThreadTimer1->setActive(!UseDesktop);
    startRefreshTimer();
    if (JvThreadTimer1->Active()) PrepareNextPicture();
}

void TForm1::startRefreshTimer() {
    if (JvThreadTimer2->Active()) return;
    // The first frame as soon as the message loop runs, not one refresh interval later.
    JvThreadTimer2->tickSoon();
    JvThreadTimer2->setActive(true);
}

void TForm1::ScreenSaver1ConfigBoxActive(TScreenSaver&) {
    if (module_.ConfigDone) return;
    struct MarkDone {
        bool& done;
        ~MarkDone() { done = true; }
    } markDone{module_.ConfigDone};
    if (services_.showSettingsDialog) services_.showSettingsDialog();
    Read_Registry();
}

void TForm1::FormCreate() {
    if (module_.ConfigDone || IsPreview) return;
    module_.random.seedFromClock();
}

void TForm1::FormKeyDown(int, unsigned) {
    services_.window.close();
}

void TForm1::ClickToClose() {
    services_.window.close();
}

void TForm1::PaintBox1MouseMove(unsigned, int, int) {}

void TForm1::FormClose() {
    JvThreadTimer1->setActive(false);
    JvThreadTimer2->setActive(false);
    dropPrepared();
    module_.CopyBitmap.reset();
    pictureList.reset();
}

void TForm1::closed() {
    FormClose();
    // Closing the main form ends the message loop.
    if (services_.requestTermination) services_.requestTermination();
}

} // namespace tarnwick
