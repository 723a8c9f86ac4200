// The hack as the daemon runs it: drawing into a window it is handed, ending on SIGTERM, and
// refusing bad options. Each test runs the real program on the test's X server.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <webp/encode.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <pwd.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How soon SIGTERM must end the hack: well past its 150 ms forced exit, for a loaded CI machine
// (bench/ measures the real figure); sanitizer builds run about three times slower.
#ifdef TARNWICK_SANITIZED
constexpr std::chrono::milliseconds kTermLimit{1500};
#else
constexpr std::chrono::milliseconds kTermLimit{600};
#endif

// The test picture's one colour, so that what is drawn can be told from the desktop.
constexpr uint8_t kRed = 200, kGreen = 120, kBlue = 40;
constexpr unsigned long kPixel = (unsigned long)kRed << 16 | kGreen << 8 | kBlue;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string t = (fs::temp_directory_path() / "tarnwick-hack-XXXXXX").string();
        path = mkdtemp(t.data());
    }
    ~TempDir() { fs::remove_all(path); }
};

void put16(std::string& s, uint32_t v) {
    s += char(v & 0xFF), s += char((v >> 8) & 0xFF);
}
void put32(std::string& s, uint32_t v) {
    put16(s, v & 0xFFFF), put16(s, v >> 16);
}

// A 24-bit uncompressed BMP of one colour.
void writeBmp(const fs::path& file, int w, int h) {
    const uint32_t row = (w * 3 + 3) & ~3u, size = 54 + row * h;
    std::string s = "BM";
    put32(s, size), put32(s, 0), put32(s, 54), put32(s, 40), put32(s, w), put32(s, h);
    put16(s, 1), put16(s, 24), put32(s, 0), put32(s, row * h);
    put32(s, 2835), put32(s, 2835), put32(s, 0), put32(s, 0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) s += char(kBlue), s += char(kGreen), s += char(kRed);
        s.append(row - w * 3, '\0');
    }
    std::ofstream(file, std::ios::binary) << s;
}

// The same picture as PNG and as lossless WebP, for the folders XScreenSaver users keep.
void writePngAndWebp(const fs::path& png, const fs::path& webp, int w, int h) {
    std::vector<uint8_t> rgb;
    for (int i = 0; i < w * h; ++i) rgb.insert(rgb.end(), {kRed, kGreen, kBlue});
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = w, image.height = h, image.format = PNG_FORMAT_RGB;
    ASSERT_TRUE(png_image_write_to_file(&image, png.c_str(), 0, rgb.data(), 0, nullptr));
    uint8_t* data = nullptr;
    const size_t size = WebPEncodeLosslessRGB(rgb.data(), w, h, w * 3, &data);
    ASSERT_GT(size, 0u);
    std::ofstream(webp, std::ios::binary).write(reinterpret_cast<const char*>(data), long(size));
    WebPFree(data);
}

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};

// A run of the program with a home folder of its own; killed at the end if still running.
struct Hack {
    pid_t pid = -1;
    int status = 0;
    std::string stderrText;
    int errFd = -1;

    Hack(const std::vector<std::string>& args, const fs::path& home,
         const std::vector<std::string>& extraEnv = {}, const char* program = TARNWICK_HACK) {
        // Ours win over the inherited ones; no image helper is found unless a test puts one on
        // PATH, the daemon's window is only set where a test sets it, and no run is handed the
        // bus of the session running the tests.
        std::map<std::string, std::string> ours{{"HOME", home.string()},
                                                {"XDG_CONFIG_HOME", (home / "config").string()},
                                                {"SDL_AUDIODRIVER", "dummy"},
                                                {"PATH", (home / "bin").string()}};
        for (const auto& e : extraEnv) ours[e.substr(0, e.find('='))] = e.substr(e.find('=') + 1);
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string s = *e, name = s.substr(0, s.find('='));
            if (!ours.count(name) && name != "XSCREENSAVER_WINDOW" &&
                name != "DBUS_SESSION_BUS_ADDRESS")
                env.push_back(s);
        }
        for (const auto& [name, value] : ours) env.push_back(name + "=" + value);
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), args.begin(), args.end());
        int fds[2];
        EXPECT_EQ(pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        auto ptrs = [](std::vector<std::string>& v) {
            std::vector<char*> p;
            for (auto& s : v) p.push_back(s.data());
            p.push_back(nullptr);
            return p;
        };
        auto a = ptrs(argv), e = ptrs(env);
        EXPECT_EQ(posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, a.data(), e.data()), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        errFd = fds[0];
    }
    ~Hack() {
        if (pid > 0 && running()) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        close(errFd);
    }
    bool running() {
        if (pid <= 0) return false;
        if (waitpid(pid, &status, WNOHANG) == 0) return true;
        pid = -1;
        return false;
    }
    // Waits for the end; false when it did not end within `limit`.
    bool waitEnd(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (running())
            if (Clock::now() > end)
                return false;
            else
                std::this_thread::sleep_for(2ms);
        char buf[4096];
        for (ssize_t n; (n = read(errFd, buf, sizeof buf)) > 0;) stderrText.append(buf, n);
        return true;
    }
    int exitCode() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

class HackRun : public ::testing::Test {
protected:
    void SetUp() override {
        dpy.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(dpy) << "no X server";
        fs::create_directories(pictures.path / "deep");
        writeBmp(pictures.path / "deep" / "one.bmp", 64, 48);
    }

    Window makeWindow(int w, int h) {
        Window win =
            XCreateSimpleWindow(dpy.get(), DefaultRootWindow(dpy.get()), 10, 10, w, h, 0, 0, 0);
        XMapWindow(dpy.get(), win);
        XSync(dpy.get(), False);
        return win;
    }

    std::vector<Window> children(Window win) {
        Window root, parent, *kids = nullptr;
        unsigned n = 0;
        std::vector<Window> out;
        if (XQueryTree(dpy.get(), win, &root, &parent, &kids, &n)) out.assign(kids, kids + n);
        if (kids) XFree(kids);
        return out;
    }

    // Share of the window's pixels in the test picture's colour, or with `black`, in black.
    double pictureShare(Window win, int w, int h, bool black = false) {
        XImage* img = XGetImage(dpy.get(), win, 0, 0, w, h, AllPlanes, ZPixmap);
        if (!img) return 0;
        long hits = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const unsigned long p = XGetPixel(img, x, y);
                const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
                hits += black ? (p & 0xFFFFFF) == 0
                              : std::abs(r - kRed) < 8 && std::abs(g - kGreen) < 8 &&
                                    std::abs(b - kBlue) < 8;
            }
        XDestroyImage(img);
        return double(hits) / (double(w) * h);
    }

    // Waits until the hack's window inside `win` has the full size and shows the picture;
    // returns how long the picture took from the window's mapping.
    Clock::duration expectDrawsFullSize(Window win, int w, int h,
                                        std::chrono::milliseconds poll = 50ms) {
        const auto end = Clock::now() + 10s;
        bool full = false;
        double share = 0;
        Clock::time_point mapped{};
        while (Clock::now() < end && !(full && share > 0.9)) {
            std::this_thread::sleep_for(poll);
            const auto kids = children(win);
            full = false;
            for (Window k : kids) {
                XWindowAttributes a;
                if (XGetWindowAttributes(dpy.get(), k, &a) && a.width == w && a.height == h &&
                    a.map_state == IsViewable)
                    full = true;
            }
            if (full && mapped == Clock::time_point{}) mapped = Clock::now();
            share = full ? pictureShare(win, w, h) : 0;
        }
        EXPECT_TRUE(full) << "no child window of " << w << "x" << h;
        EXPECT_GT(share, 0.9);
        return Clock::now() - mapped;
    }

    // The hack's own top-level window, once it is mapped; 0 until then.
    Window ownWindow() {
        for (Window w : children(DefaultRootWindow(dpy.get()))) {
            XWindowAttributes a;
            char* name = nullptr;
            const bool ours = XGetWindowAttributes(dpy.get(), w, &a) && a.map_state == IsViewable &&
                              a.width > 100 && XFetchName(dpy.get(), w, &name) && name &&
                              std::string(name) == "Tarnwick Screensaver";
            if (name) XFree(name);
            if (ours) return w;
        }
        return 0;
    }

    // Ends the run with SIGTERM; it must end cleanly, having said where its desktop came from.
    static void expectEndsSayingSource(Hack& hack, const std::string& source) {
        kill(hack.pid, SIGTERM);
        ASSERT_TRUE(hack.waitEnd(2s));
        EXPECT_EQ(hack.exitCode(), 0);
        EXPECT_NE(hack.stderrText.find("desktop snapshot from " + source), std::string::npos)
            << hack.stderrText;
    }

    std::unique_ptr<Display, DisplayCloser> dpy;
    TempDir home, pictures;
};

TEST_F(HackRun, WindowIdDrawsThePictureAtFullSizeAndEndsOnSigterm) {
    const Window win = makeWindow(320, 240);
    Hack hack({"-window-id", std::to_string(win), "-images", pictures.path.string(), "-refresh",
               "10", "-cycle", "250"},
              home.path);
    expectDrawsFullSize(win, 320, 240);
    ASSERT_TRUE(hack.running()) << hack.stderrText;

    // Input over its window is the daemon's business: the hack goes on.
    const std::string input = "xdotool mousemove 100 100 sleep 0.1 click 1 key Escape key q "
                              "mousemove 150 120";
    ASSERT_EQ(std::system(input.c_str()), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(hack.running()) << "ended on input";
    expectDrawsFullSize(win, 320, 240);

    kill(hack.pid, SIGTERM);
    const auto t0 = Clock::now();
    ASSERT_TRUE(hack.waitEnd(kTermLimit))
        << "still running " << kTermLimit.count() << " ms after SIGTERM";
    EXPECT_LT(Clock::now() - t0, kTermLimit);
    EXPECT_EQ(hack.exitCode(), 0) << hack.stderrText;
    // Its window went with it, and the settings store was never written.
    XSync(dpy.get(), False);
    EXPECT_TRUE(children(win).empty());
    EXPECT_FALSE(fs::exists(home.path / "config"));

    // A well-formed id naming no window is no misuse: one line, and the status of a failed run.
    Hack gone({"-window-id", "0x7ffffff0"}, home.path);
    ASSERT_TRUE(gone.waitEnd(10s));
    EXPECT_EQ(gone.exitCode(), 1);
    EXPECT_EQ(gone.stderrText, "tarnwick-hack: there is no window 0x7ffffff0 on this display\n");
}

// -images finds and shows PNG and WebP files too.
TEST_F(HackRun, ImagesFolderOfPngOrWebpIsShown) {
    TempDir png, webp;
    writePngAndWebp(png.path / "one.PNG", webp.path / "one.webp", 64, 48);
    for (const auto* folder : {&png, &webp}) {
        const Window win = makeWindow(320, 240);
        Hack hack({"-window-id", std::to_string(win), "-images", folder->path.string()}, home.path);
        expectDrawsFullSize(win, 320, 240);
        EXPECT_TRUE(hack.running()) << folder->path;
    }
}

TEST_F(HackRun, RootDrawsIntoTheDaemonsWindowAndSaysWhereTheSnapshotCameFrom) {
    const Window win = makeWindow(200, 150);
    char id[32];
    std::snprintf(id, sizeof id, "0x%lx", win);
    Hack hack({"-root", "-verbose", "-images", pictures.path.string(), "-refresh", "10"}, home.path,
              {std::string("XSCREENSAVER_WINDOW=") + id});
    expectDrawsFullSize(win, 200, 150);
    kill(hack.pid, SIGTERM);
    ASSERT_TRUE(hack.waitEnd(2s));
    EXPECT_EQ(hack.exitCode(), 0);

    // With the desktop as the source the snapshot's origin is reported once; a helper that
    // fails leaves the screen grab.
    Hack desktop(
        {"-root", "-verbose", "-desktop", "normal"}, home.path,
        {std::string("XSCREENSAVER_WINDOW=") + id, "PATH=" FAKE_HELPER_DIR, "FAKE_HELPER_EXIT=3"});
    std::this_thread::sleep_for(1500ms);
    kill(desktop.pid, SIGTERM);
    ASSERT_TRUE(desktop.waitEnd(2s));
    const std::string line = "desktop snapshot from a grab of the screen\n";
    const auto at = desktop.stderrText.find(line);
    EXPECT_NE(at, std::string::npos) << desktop.stderrText;
    EXPECT_EQ(desktop.stderrText.find(line, at + 1), std::string::npos) << "reported twice";
}

TEST_F(HackRun, TheFirstFrameComesAtOnceEvenWhereEveryViewIsEmpty) {
    // The smallest maximum zoom on a 64-pixel picture: no view has a whole pixel. The longest
    // frame delay: the first frame must not wait for it. Timed from the window's mapping, so a
    // slow start on a loaded machine does not count.
    const Window win = makeWindow(320, 240);
    Hack hack({"-window-id", std::to_string(win), "-images", pictures.path.string(), "-zoom",
               "0.01", "-refresh", "2000"},
              home.path);
    EXPECT_LT(expectDrawsFullSize(win, 320, 240, 5ms), 1500ms);
}

TEST_F(HackRun, BehindALockerTheDesktopNeverShowsButTheSaversOwnPictureDoes) {
    // The desktop in the test picture's colour; the command line asks for it.
    Display* d = dpy.get();
    XSetWindowBackground(d, DefaultRootWindow(d), kPixel);
    XClearWindow(d, DefaultRootWindow(d));
    const Window win = makeWindow(200, 150);
    Hack hack({"-root", "-verbose", "-desktop", "normal", "-refresh", "10"}, home.path,
              {"XSCREENSAVER_WINDOW=" + std::to_string(win), "XSECURELOCK_SAVER=tarnwick-hack"});
    const auto end = Clock::now() + 10s;
    double black = 1;
    while (Clock::now() < end && black > 0.5) {
        std::this_thread::sleep_for(50ms);
        if (!children(win).empty()) black = pictureShare(win, 200, 150, true);
        EXPECT_LT(pictureShare(win, 200, 150), 0.05) << "the desktop shows";
    }
    XSetWindowBackground(d, DefaultRootWindow(d), 0);
    XClearWindow(d, DefaultRootWindow(d));
    EXPECT_LT(black, 0.5) << "nothing shows";
    kill(hack.pid, SIGTERM);
    ASSERT_TRUE(hack.waitEnd(2s));
    EXPECT_NE(hack.stderrText.find("a screen locker is in front; showing the saver's own picture"),
              std::string::npos)
        << hack.stderrText;
}

TEST_F(HackRun, SigtermEndsTheStartUpBeforeTheEventLoopRuns) {
    // The start-up waits for a stuck image helper, which it gives up only after 5 s.
    const Window win = makeWindow(160, 120);
    const fs::path log = home.path / "helper-args";
    Hack hack({"-root", "-verbose", "-desktop", "normal"}, home.path,
              {"XSCREENSAVER_WINDOW=" + std::to_string(win), "PATH=" FAKE_HELPER_DIR,
               "FAKE_HELPER_LOG=" + log.string(), "FAKE_HELPER_HANG=1"});
    const auto started = Clock::now();
    while (!fs::exists(log) && Clock::now() - started < 10s) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(fs::exists(log)) << "the helper never ran";
    kill(hack.pid, SIGTERM);
    // Gone long before the helper's limit, without going on to take the desktop.
    ASSERT_TRUE(hack.waitEnd(3s)) << "still in its start-up";
    EXPECT_EQ(hack.exitCode(), 0);
    EXPECT_EQ(hack.stderrText.find("desktop snapshot"), std::string::npos) << hack.stderrText;
}

TEST_F(HackRun, AStartUpWhoseXServerWentAwayEnds) {
    // A server of the test's own, killed while the hack waits for a stuck image helper.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const std::string fdArg = std::to_string(fds[1]);
    std::vector<std::string> args{"Xvfb", "-displayfd", fdArg,       "-screen",
                                  "0",    "320x240x24", "-nolisten", "tcp"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t server = -1;
    ASSERT_EQ(posix_spawnp(&server, "Xvfb", nullptr, nullptr, argv.data(), environ), 0);
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start";

    const fs::path log = home.path / "helper-args";
    Hack hack({"-root", "-desktop", "normal"}, home.path,
              {"DISPLAY=:" + number, "PATH=" FAKE_HELPER_DIR, "FAKE_HELPER_LOG=" + log.string(),
               "FAKE_HELPER_HANG=1"});
    const auto started = Clock::now();
    while (!fs::exists(log) && Clock::now() - started < 10s) std::this_thread::sleep_for(5ms);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    ASSERT_TRUE(fs::exists(log)) << "the helper never ran";
    // Gone long before the helper's limit.
    ASSERT_TRUE(hack.waitEnd(3s)) << "still running without its X server";
    EXPECT_NE(hack.exitCode(), 0);
    EXPECT_NE(hack.stderrText.find("the X server went away"), std::string::npos) << hack.stderrText;
}

TEST_F(HackRun, WithoutAScreenshotTheDaemonsHelperPaintsTheDesktop) {
    const Window win = makeWindow(160, 120);
    const fs::path log = home.path / "helper-args";
    Hack hack({"-root", "-verbose", "-desktop", "normal", "-refresh", "10"}, home.path,
              {"XSCREENSAVER_WINDOW=" + std::to_string(win), "PATH=" FAKE_HELPER_DIR,
               "FAKE_HELPER_LOG=" + log.string(), "FAKE_HELPER_COLOR=" + std::to_string(kPixel)});
    expectDrawsFullSize(win, 160, 120);
    expectEndsSayingSource(hack, "the daemon's image helper");
    // It was handed the daemon's window and a pixmap of that window's size.
    std::ifstream in(log);
    std::string windowArg, pixmapArg;
    ASSERT_TRUE(in >> windowArg >> pixmapArg);
    EXPECT_NE(std::stoul(pixmapArg, nullptr, 0), 0u);
    EXPECT_EQ(std::stoul(windowArg, nullptr, 0), win);
    std::string size;
    ASSERT_TRUE(in >> size);
    EXPECT_EQ(size, "160x120");
}

TEST_F(HackRun, TheDesktopComesFromTheDaemonsScreenshot) {
    // The daemon keeps what the screen showed as a pixmap on its window; the screen itself
    // (black here) is covered by then.
    Display* d = dpy.get();
    const Window win = makeWindow(240, 180);
    const Pixmap shot = XCreatePixmap(d, win, 1920, 1080, DefaultDepth(d, DefaultScreen(d)));
    GC gc = XCreateGC(d, shot, 0, nullptr);
    XSetForeground(d, gc, kPixel);
    XFillRectangle(d, shot, gc, 0, 0, 1920, 1080);
    XFreeGC(d, gc);
    const Atom prop = XInternAtom(d, "_SCREENSAVER_SCREENSHOT", False);
    XChangeProperty(d, win, prop, XA_PIXMAP, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&shot), 1);
    XSync(d, False);
    char id[32];
    std::snprintf(id, sizeof id, "%lu", win);
    Hack hack({"-root", "-verbose", "-desktop", "normal", "-refresh", "10"}, home.path,
              {std::string("XSCREENSAVER_WINDOW=") + id});
    expectDrawsFullSize(win, 240, 180);
    expectEndsSayingSource(hack, "the daemon's screenshot");
    XFreePixmap(d, shot);
}

TEST_F(HackRun, OwnWindowEndsOnQEscapeOrClosing) {
    for (const std::string how : {"q", "Escape", "close"}) {
        Hack hack({"-window", "-images", pictures.path.string()}, home.path);
        Window win = 0;
        for (int i = 0; i < 200 && !win; ++i, std::this_thread::sleep_for(50ms)) win = ownWindow();
        ASSERT_NE(win, 0u) << how << ": no window";
        std::this_thread::sleep_for(300ms);
        ASSERT_TRUE(hack.running()) << how;
        if (how == "close") {
            // What a window manager sends when the user closes the window.
            XEvent e{};
            e.xclient.type = ClientMessage;
            e.xclient.window = win;
            e.xclient.message_type = XInternAtom(dpy.get(), "WM_PROTOCOLS", False);
            e.xclient.format = 32;
            e.xclient.data.l[0] =
                static_cast<long>(XInternAtom(dpy.get(), "WM_DELETE_WINDOW", False));
            e.xclient.data.l[1] = CurrentTime;
            XSendEvent(dpy.get(), win, False, NoEventMask, &e);
            XSync(dpy.get(), False);
        } else {
            XWindowAttributes a;
            XGetWindowAttributes(dpy.get(), win, &a);
            // No --sync: it waits for a movement that never comes when the pointer is there.
            const std::string move = "xdotool mousemove " + std::to_string(a.x + 50) + " " +
                                     std::to_string(a.y + 50) + " sleep 0.1 ";
            // Other keys and clicks leave it running.
            ASSERT_EQ(std::system((move + "key a space click 1").c_str()), 0);
            std::this_thread::sleep_for(300ms);
            ASSERT_TRUE(hack.running()) << how << ": ended on another key";
            ASSERT_EQ(std::system(("xdotool key " + how).c_str()), 0);
        }
        ASSERT_TRUE(hack.waitEnd(3s)) << how << ": still running";
        EXPECT_EQ(hack.exitCode(), 0) << how << hack.stderrText;
    }
}

// With no bus in the environment, neither the hack nor the saver starts one. libdbus would run
// dbus-launch --autolaunch, which outlives the run owning a selection on this display.
TEST_F(HackRun, NoSessionBusIsStarted) {
    std::string id;
    for (const char* file : {"/var/lib/dbus/machine-id", "/etc/machine-id"})
        if (id.size() != 32) std::ifstream(file) >> id;
    if (id.size() != 32) GTEST_SKIP() << "no machine id: an autolaunch could not run here anyway";
    const std::string name =
        "_DBUS_SESSION_BUS_SELECTION_" + std::string(getpwuid(getuid())->pw_name) + "_" + id;
    const Atom selection = XInternAtom(dpy.get(), name.c_str(), False);
    ASSERT_EQ(XGetSelectionOwner(dpy.get(), selection), None) << "a bus runs here already";
    fs::create_directories(home.path / "runtime"); // a session without a user bus
    const std::vector<std::pair<const char*, std::vector<std::string>>> runs{
        {TARNWICK_HACK, {"-window", "-images", pictures.path.string()}}, {TARNWICK_SAVER, {"/s"}}};
    for (const auto& [program, args] : runs) {
        Hack run(args, home.path, {"XDG_RUNTIME_DIR=" + (home.path / "runtime").string()}, program);
        std::this_thread::sleep_for(1500ms);
        kill(run.pid, SIGTERM);
        ASSERT_TRUE(run.waitEnd(3s)) << program;
        EXPECT_EQ(XGetSelectionOwner(dpy.get(), selection), None) << program;
    }
}

TEST_F(HackRun, BadOptionsExitWithCodeTwoAndAMessage) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> env;
    };
    const Case cases[] = {
        {{"-cycle", "10"}, {}},
        {{"-refresh", "abc"}, {}},
        {{"-zoom", "5"}, {}},
        {{"-path", "circle"}, {}},
        {{"-desktop", "mirror"}, {}},
        {{"-window-id", "nope"}, {}},
        {{"-images", (pictures.path / "missing").string()}, {}},
        {{"-frobnicate"}, {}},
        {{"-root"}, {"XSCREENSAVER_WINDOW=garbage"}},
    };
    for (const Case& c : cases) {
        Hack hack(c.args, home.path, c.env);
        ASSERT_TRUE(hack.waitEnd(10s)) << c.args[0];
        EXPECT_EQ(hack.exitCode(), 2) << c.args[0];
        EXPECT_NE(hack.stderrText.find("tarnwick-hack: "), std::string::npos) << c.args[0];
        EXPECT_NE(hack.stderrText.find("usage:"), std::string::npos) << c.args[0];
    }
    EXPECT_FALSE(fs::exists(home.path / "config"));

    // A well-formed id naming no window is no misuse: one line, and the status of a failed run.
    Hack gone({"-window-id", "0x7ffffff0"}, home.path);
    ASSERT_TRUE(gone.waitEnd(10s));
    EXPECT_EQ(gone.exitCode(), 1);
    EXPECT_EQ(gone.stderrText, "tarnwick-hack: there is no window 0x7ffffff0 on this display\n");
}

} // namespace
