// Stands in for the daemon's image-grabbing helper: paints the pixmap it is given in one colour
// (FAKE_HELPER_COLOR, 0xRRGGBB) and writes its arguments and the pixmap's size (WxH) to
// FAKE_HELPER_LOG. With FAKE_HELPER_EXIT set it paints nothing and ends with that status; with
// FAKE_HELPER_HANG set it hangs (for 20 s) after writing its arguments.
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* logName = std::getenv("FAKE_HELPER_LOG");
    FILE* log = logName ? std::fopen(logName, "w") : nullptr;
    for (int i = 1; log && i < argc; ++i) std::fprintf(log, "%s\n", argv[i]);
    if (const char* status = std::getenv("FAKE_HELPER_EXIT")) return std::atoi(status);
    if (std::getenv("FAKE_HELPER_HANG")) {
        if (log) std::fclose(log);
        sleep(20);
        return 0;
    }
    if (argc != 3) return 64;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 65;
    const Pixmap pixmap = std::strtoul(argv[2], nullptr, 0);
    const char* color = std::getenv("FAKE_HELPER_COLOR");
    GC gc = XCreateGC(d, pixmap, 0, nullptr);
    XSetForeground(d, gc, color ? std::strtoul(color, nullptr, 0) : 0xFFFFFF);
    Window root;
    int x, y;
    unsigned w, h, border, depth;
    if (!XGetGeometry(d, pixmap, &root, &x, &y, &w, &h, &border, &depth)) return 66;
    if (log) std::fprintf(log, "%ux%u\n", w, h), std::fclose(log);
    XFillRectangle(d, pixmap, gc, 0, 0, w, h);
    XFreeGC(d, gc);
    XSync(d, False);
    XCloseDisplay(d);
    return 0;
}
