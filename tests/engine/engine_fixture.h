#pragma once
// A saver form on the in-memory platform, with a store in a temporary folder and real files.
#include "engine/scrsavermain.h"
#include "fakes/fake_sound.h"
#include "fakes/fakes.h"
#include "imaging/bitmap.h"
#include "platform/posix/file_registry.h"
#include "platform/posix/posix_files.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick::testing_support {

// A screen showing a fixed picture: pixel (x, y) is (x, y, x ^ y) in red, green, blue, low bytes.
// It can also show nothing but black, fail to be read, or refuse to be shown.
class PatternScreen : public platform::Screen {
public:
    enum class Shows { Pattern, Black, Unreadable, Withheld };
    Rect desktop{0, 0, 1920, 1080};
    int captures = 0;
    Shows shows = Shows::Pattern;
    std::string refusal = "a hint for the test";
    Rect virtualDesktop() override { return desktop; }
    void capture(const Rect& source, int32_t width, int32_t height, uint8_t* rows,
                 std::ptrdiff_t stride) override {
        ++captures;
        if (shows == Shows::Unreadable) throw Error("Cannot read the screen");
        if (shows == Shows::Withheld) throw platform::DesktopWithheld(refusal);
        const uint8_t mask = shows == Shows::Black ? 0 : 0xFF;
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x) {
                const int32_t sx = source.left + x, sy = source.top + y;
                uint8_t* p = rows + y * stride + 3 * x;
                p[0] = static_cast<uint8_t>(sx ^ sy) & mask;
                p[1] = static_cast<uint8_t>(sy) & mask;
                p[2] = static_cast<uint8_t>(sx) & mask;
            }
    }
};

// Writes a 24-bit bottom-up BMP whose pixel (x, y) is (x, y, seed) in red, green, blue.
inline void writeBmp(const std::string& path, int w, int h, uint8_t seed = 0) {
    const int stride = (w * 3 + 3) & ~3;
    const uint32_t size = 54 + static_cast<uint32_t>(stride * h);
    std::vector<uint8_t> b(size, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(w));
    put32(22, static_cast<uint32_t>(h));
    b[26] = 1;
    b[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &b[54 + static_cast<size_t>((h - 1 - y) * stride + 3 * x)];
            p[0] = seed;
            p[1] = static_cast<uint8_t>(y);
            p[2] = static_cast<uint8_t>(x);
        }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), size);
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/tarnwick-test-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

struct EngineWorld {
    EngineWorld() : registry(fileStore) {}
    // The form reads `store` instead of the file in the temporary folder.
    explicit EngineWorld(platform::Registry& store) : registry(store) {}
    ~EngineWorld() {
        if (form) form->FormClose();
    }

    // Creates the form as the program entry does; the mode runs inside.
    TForm1& start(std::vector<std::string> args) {
        module.startUp(args);
        FormServices services{platform,
                              window,
                              args,
                              [this] { ++terminations; },
                              [this] {
                                  ++dialogsShown;
                                  if (onDialog) onDialog();
                              },
                              [this](const std::string& text) { notices.push_back(text); },
                              PictureFormats::BmpJpeg,
                              loader};
        form = std::make_unique<TForm1>(module, std::move(services));
        return *form;
    }

    // Lets the change of picture under way land as the refresh ticks would, once its decode
    // has finished (a rewritten file is read again first).
    void settle() {
        for (int i = 0; i < 10 && form->pictureChangePending(); ++i) {
            if (!form->preparer()->waitUntilDone(std::chrono::seconds(10))) break;
            form->TakePreparedPicture();
        }
    }

    TempDir dir;
    PicturePreparer::Loader loader; // how the form decodes pictures; LoadPicture when empty
    fakes::CallLog log;
    fakes::FakeFormWindow window{&log};
    fakes::FakeWindowSystem windows{&log};
    fakes::FakeSaverState saverState{&log};
    PatternScreen screen;
    fakes::FakeSoundPlayer sound{&log};
    fakes::FakePasswordLibrary passwords{&log};
    platform::FileRegistry fileStore{dir / "user.reg"};
    platform::Registry& registry;
    platform::PosixFileSystem files;
    platform::Platform platform{windows, saverState, screen, sound, passwords, registry, files};
    SaverModule module;
    std::unique_ptr<TForm1> form;
    int terminations = 0;
    int dialogsShown = 0;
    std::vector<std::string> notices; // what the program would print on stderr
    std::function<void()> onDialog;   // the dialog's work, when a test needs one
};

} // namespace tarnwick::testing_support
