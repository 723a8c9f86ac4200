// Runs the full-screen saver (real window, real timers, the desktop snapshot as picture) at a
// refresh delay of 0 for a few seconds and prints the frames shown per second.
#include "engine/scrsavermain.h"
#include "fakes/fake_sound.h"
#include "fakes/fakes.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"
#include "platform/x11/x11_platform.h"
#include "platform/x11/x11_screen.h"

#include <QGuiApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

using namespace tarnwick;

// Passes everything to the real window and counts the frames it shows.
class CountingWindow : public platform::FormWindow {
public:
    explicit CountingWindow(platform::FormWindow& w) : w_(w) {}
    long frames = 0;
    void setListener(platform::InputListener* l) override { w_.setListener(l); }
    void setTitle(const std::string& t) override { w_.setTitle(t); }
    bool visible() const override { return w_.visible(); }
    void show() override { w_.show(); }
    void close() override { w_.close(); }
    platform::WindowState windowState() const override { return w_.windowState(); }
    void setWindowState(platform::WindowState s) override { w_.setWindowState(s); }
    void setBorderless() override { w_.setBorderless(); }
    void setStayOnTop() override { w_.setStayOnTop(); }
    Rect geometry() const override { return w_.geometry(); }
    void setGeometry(const Rect& r) override { w_.setGeometry(r); }
    Size clientSize() const override { return w_.clientSize(); }
    Size screenSize() const override { return w_.screenSize(); }
    bool hasHandle() const override { return w_.hasHandle(); }
    platform::WindowId handle() override { return w_.handle(); }
    void embedInto(platform::WindowId p) override { w_.embedInto(p); }
    platform::WindowProc windowProc() const override { return w_.windowProc(); }
    void setWindowProc(platform::WindowProc p) override { w_.setWindowProc(std::move(p)); }
    intptr_t sendMessage(uint32_t m, uintptr_t wp, intptr_t lp) override {
        return w_.sendMessage(m, wp, lp);
    }
    FrameView beginFrame() override { return w_.beginFrame(); }
    void endFrame() override {
        w_.endFrame();
        ++frames;
    }

private:
    platform::FormWindow& w_;
};

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    char dir[] = "/tmp/tarnwick-fps-XXXXXX";
    mkdtemp(dir);
    const std::string store = std::string(dir) + "/user.reg";
    std::ofstream(store)
        << "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"
           "\"udRefresh_Position\"=\"0\"\r\n\"cbxUseDesktop_Checked\"=\"True\"\r\n"
           "\"rgPath_ItemIndex\"=\"2\"\r\n\"fEdit_Value\"=\"1\"\r\n";

    QGuiApplication app(argc, argv);
    auto real = platform::createFormWindow();
    CountingWindow window(*real);
    auto windows = platform::createWindowSystem(*real);
    auto saverState = platform::createSystemSaverState();
    platform::x11::X11Screen screen;
    fakes::FakeSoundPlayer sound;
    fakes::FakePasswordLibrary passwords;
    platform::FileRegistry registry(store);
    platform::PosixFileSystem files;
    platform::Platform platform{*windows, *saverState, screen, sound, passwords, registry, files};
    SaverModule module;
    module.startUp({"/s"});
    TForm1 form(module, FormServices{platform, window, {"/s"}, [] {}, {}});

    long startFrames = 0;
    auto t0 = std::chrono::steady_clock::now();
    QTimer::singleShot(1000, [&] { // let the window settle first
        startFrames = window.frames;
        t0 = std::chrono::steady_clock::now();
    });
    QTimer::singleShot(1000 + seconds * 1000, [&] {
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const Size c = window.clientSize();
        std::printf("%dx%d: %ld frames in %.2f s = %.0f frames/s\n", c.width, c.height,
                    window.frames - startFrames, s,
                    static_cast<double>(window.frames - startFrames) / s);
        form.FormClose();
        QCoreApplication::exit(0);
    });
    const int rc = app.exec();
    std::filesystem::remove_all(dir);
    return rc;
}
