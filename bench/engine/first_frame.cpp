// From starting a program to its first frame on the screen, for every way the saver is run: both
// programs as a user or a saver host starts them, each a fresh process. The desktop is one plain
// colour, so that a frame of it is not black; the first frame is the first time the middle of the
// saver's window is not black.
// Usage: bench_first_frame BUILD_DIR [RUNS]   (under scripts/with-xvfb; XDG_CONFIG_HOME and HOME
// are set to empty temporary folders for the runs)
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// The top-level window named `title`, or 0.
Window topLevel(Display* d, const char* title) {
    Window root, parent, *kids = nullptr, found = 0;
    unsigned n = 0;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n))
        for (unsigned i = 0; i < n && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(d, kids[i], &name) && name && !std::strcmp(name, title)) found = kids[i];
            if (name) XFree(name);
        }
    if (kids) XFree(kids);
    return found;
}

// Whether a 64 x 64 square in the middle of `w` shows anything but black.
bool drawn(Display* d, Window w) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable || a.width < 64) return false;
    XImage* img = XGetImage(d, w, a.width / 2 - 32, a.height / 2 - 32, 64, 64, AllPlanes, ZPixmap);
    if (!img) return false;
    bool any = false;
    for (int y = 0; y < 64 && !any; y += 2)
        for (int x = 0; x < 64 && !any; x += 2) any = (XGetPixel(img, x, y) & 0xFFFFFF) != 0;
    XDestroyImage(img);
    return any;
}

struct Case {
    std::string name;
    std::vector<std::string> args;
    std::vector<std::string> env;
    bool ownParent = false; // the program draws into a window the bench makes (id as "%W")
    std::string home;       // HOME for the run
};

// The CPU time `pid` has used, all its threads, in ms (10 ms steps).
double cpuMs(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 3; i < 14; ++i) fields >> skip; // state .. cmajflt
    double user = 0, system = 0;
    fields >> user >> system;
    return (user + system) * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct Run {
    double ms = -1;  // to the first frame; -1 when none came within 10 s
    double cpu = -1; // the program's CPU time by then
};

Run runOnce(Display* d, const Case& c) {
    Window parent = 0;
    if (c.ownParent) {
        // Big enough for the preview's 152 x 112 at its top left to cover the middle square.
        parent = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 200, 150, 0, 0, 0);
        XStoreName(d, parent, "first-frame parent");
        XMapWindow(d, parent);
        XSync(d, False);
    }
    std::vector<std::string> args = c.args, env;
    for (auto& a : args)
        if (a == "%W") a = std::to_string(parent);
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back("HOME=" + c.home);
    for (auto e : c.env) {
        if (auto at = e.find("%W"); at != std::string::npos)
            e.replace(at, 2, std::to_string(parent));
        env.push_back(e);
    }
    auto ptrs = [](std::vector<std::string>& v) {
        std::vector<char*> p;
        for (auto& s : v) p.push_back(s.data());
        p.push_back(nullptr);
        return p;
    };
    auto a = ptrs(args), e = ptrs(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, a[0], &actions, nullptr, a.data(), e.data()) != 0) return {};
    posix_spawn_file_actions_destroy(&actions);
    Run run;
    while (msSince(t0) < 10000) {
        // Looked up each time: the program may make and drop windows of that name on its way.
        const Window w = parent ? parent : topLevel(d, "Tarnwick Screensaver");
        if (w && drawn(d, w)) {
            run.ms = msSince(t0);
            run.cpu = cpuMs(pid);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    if (parent) XDestroyWindow(d, parent);
    XSync(d, False);
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_first_frame BUILD_DIR [RUNS]\n");
        return 2;
    }
    const fs::path build = argv[1];
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 1;
    XSetErrorHandler(ignoreErrors);
    XSetWindowBackground(d, DefaultRootWindow(d), 0x3070A0);
    XClearWindow(d, DefaultRootWindow(d));
    XSync(d, False);

    const fs::path tmp = fs::temp_directory_path() / ("first-frame-" + std::to_string(getpid()));
    const fs::path grabOn = tmp / "grab-on", grabOff = tmp / "grab-off", pics = tmp / "pictures";
    fs::create_directories(grabOn);
    fs::create_directories(grabOff);
    fs::create_directories(pics);
    std::ofstream(grabOn / ".xscreensaver") << "grabDesktopImages: True\n";
    std::ofstream(grabOff / ".xscreensaver") << "grabDesktopImages: False\n";
    {
        // A 640 x 480 BMP of one colour.
        std::ofstream f(pics / "one.bmp", std::ios::binary);
        auto put = [&](uint32_t v, int n) {
            for (int i = 0; i < n; ++i) f.put(static_cast<char>((v >> (8 * i)) & 0xFF));
        };
        f << "BM";
        put(54 + 640 * 480 * 3, 4), put(0, 4), put(54, 4), put(40, 4), put(640, 4), put(480, 4);
        put(1, 2), put(24, 2), put(0, 4), put(640 * 480 * 3, 4), put(0, 16);
        for (int i = 0; i < 640 * 480; ++i) put(0x2878C8, 3);
    }
    setenv("XDG_CONFIG_HOME", (tmp / "config").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);

    const std::string hack = (build / "src/host/tarnwick-hack").string();
    const std::string saver = (build / "src/host/tarnwick").string();
    const std::string images = pics.string();
    const std::vector<Case> cases = {
        {"hack -window, desktop", {hack, "-window"}, {}, false, grabOn},
        {"hack -window, grabbing off", {hack, "-window"}, {}, false, grabOff},
        {"hack -window -images", {hack, "-window", "-images", images}, {}, false, grabOn},
        {"hack -window, desktop, -refresh 2000",
         {hack, "-window", "-refresh", "2000"},
         {},
         false,
         grabOn},
        {"hack -window -zoom 0.01 -images",
         {hack, "-window", "-zoom", "0.01", "-images", images},
         {},
         false,
         grabOn},
        {"hack -window-id, desktop", {hack, "-window-id", "%W"}, {}, true, grabOn},
        {"hack -root in a handed window, desktop",
         {hack, "-root"},
         {"XSCREENSAVER_WINDOW=%W"},
         true,
         grabOn},
        {"hack behind a locker",
         {hack, "-root"},
         {"XSCREENSAVER_WINDOW=%W", "XSECURELOCK_SAVER=saver_xscreensaver"},
         true,
         grabOn},
        {"tarnwick /s, desktop", {saver, "/s"}, {}, false, grabOn},
        {"tarnwick /p, desktop", {saver, "/p", "%W"}, {}, true, grabOn},
    };
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    for (const Case& c : cases) {
        std::vector<double> ms, cpu;
        for (int i = 0; i < runs; ++i) {
            const Run r = runOnce(d, c);
            ms.push_back(r.ms);
            cpu.push_back(r.cpu);
        }
        ms = median(ms);
        cpu = median(cpu);
        std::printf("%-40s median %6.1f ms (min %6.1f, max %6.1f); CPU by then %5.0f ms\n",
                    c.name.c_str(), ms[ms.size() / 2], ms.front(), ms.back(), cpu[cpu.size() / 2]);
        std::fflush(stdout);
    }
    fs::remove_all(tmp);
    XCloseDisplay(d);
    return 0;
}
