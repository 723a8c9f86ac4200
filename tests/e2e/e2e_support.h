#pragma once
// The whole program under a private X server of the test's own.
#include <QProcess>
#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnwick::e2e {

// An Xvfb on a free display, stopped by its PID when this ends. DISPLAY names it meanwhile.
class XServer {
public:
    explicit XServer(const std::string& geometry = "1920x1080x24");
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    const std::string& display() const { return display_; }

private:
    std::string display_;
    QProcess process_;
};

// A user profile with settings that make the saver show one picture file.
class Profile {
public:
    // `pixel(x, y)` gives the picture's 0xRRGGBB colours; `maxZoom` and `refreshMs` are the
    // stored texts.
    Profile(int width, int height, const std::function<uint32_t(int, int)>& pixel,
            const std::string& maxZoom = "0.75", const std::string& refreshMs = "20");
    std::string configHome() const;
    std::string picturePath() const;

private:
    QTemporaryDir dir_;
};

// Writes a bottom-up 24-bit BMP file.
void writeBmp(const std::string& path, int width, int height,
              const std::function<uint32_t(int, int)>& pixel);

// The program, started with `args` in `profile` on the current DISPLAY.
class Saver {
public:
    Saver(const Profile& profile, const std::vector<std::string>& args);
    ~Saver();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    // Waits for the program's end; false when it has not ended in time.
    bool waitForExit(int timeoutMs);
    int exitCode() const;
    long processId() const { return static_cast<long>(process_.processId()); }
    bool crashed() const { return process_.exitStatus() != QProcess::NormalExit; }
    std::string errorOutput() { return process_.readAllStandardError().toStdString(); }

private:
    QProcess process_;
};

// The value after "<label>:" in xwininfo's output ("Width", "Map State"...).
std::string xwininfoField(const std::string& output, const std::string& label);

} // namespace tarnwick::e2e
