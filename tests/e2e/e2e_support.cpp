#include "e2e_support.h"

#include <QDir>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarnwick::e2e {

XServer::XServer(const std::string& geometry) {
    // The server picks a free display itself and writes its number on stdout, so tests running
    // side by side never race for one. -noreset: it keeps its state when a client disconnects.
    process_.start("Xvfb", {"-displayfd", "1", "-screen", "0", QString::fromStdString(geometry),
                            "-nolisten", "tcp", "-noreset"});
    if (!process_.waitForStarted(5000)) throw std::runtime_error("Xvfb did not start");
    QByteArray number;
    for (int i = 0; i < 100 && !number.contains('\n'); ++i)
        if (process_.waitForReadyRead(100)) number += process_.readAllStandardOutput();
    number = number.trimmed();
    if (number.isEmpty()) throw std::runtime_error("Xvfb did not report its display");
    display_ = ":" + number.toStdString();
    qputenv("DISPLAY", QByteArray::fromStdString(display_));
}

XServer::~XServer() {
    process_.terminate(); // by the PID QProcess started
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

void writeBmp(const std::string& path, int width, int height,
              const std::function<uint32_t(int, int)>& pixel) {
    const int rowBytes = (width * 3 + 3) & ~3;
    const uint32_t dataSize = static_cast<uint32_t>(rowBytes * height);
    std::string file;
    auto put16 = [&](uint32_t v) {
        file += static_cast<char>(v & 0xFF);
        file += static_cast<char>((v >> 8) & 0xFF);
    };
    auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    file += "BM";
    put32(54 + dataSize);
    put32(0);
    put32(54);
    put32(40);
    put32(static_cast<uint32_t>(width));
    put32(static_cast<uint32_t>(height));
    put16(1);
    put16(24);
    put32(0);
    put32(dataSize);
    put32(2835);
    put32(2835);
    put32(0);
    put32(0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t c = pixel(x, y);
            file += static_cast<char>(c & 0xFF);
            file += static_cast<char>((c >> 8) & 0xFF);
            file += static_cast<char>((c >> 16) & 0xFF);
        }
        file.append(static_cast<size_t>(rowBytes - width * 3), '\0');
    }
    std::ofstream(path, std::ios::binary) << file;
}

Profile::Profile(int width, int height, const std::function<uint32_t(int, int)>& pixel,
                 const std::string& maxZoom, const std::string& refreshMs) {
    if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
    writeBmp(picturePath(), width, height, pixel);
    QDir().mkpath(QString::fromStdString(configHome() + "/tarnwick"));
    std::ofstream reg(configHome() + "/tarnwick/user.reg", std::ios::binary);
    reg << "REGEDIT4\r\n\r\n"
        << "[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig]\r\n"
        << "\"FormVersion\"=\"0\"\r\n"
        << "\"cbxPlaySounds_Checked\"=\"False\"\r\n"
        << "\"cbxUseDesktop_Checked\"=\"False\"\r\n"
        << "\"fEdit_Value\"=\"" << maxZoom << "\"\r\n"
        << "\"rgPath_ItemIndex\"=\"0\"\r\n"
        << "\"udCycle_Position\"=\"9000\"\r\n"
        << "\"udRefresh_Position\"=\"" << refreshMs << "\"\r\n"
        << "\"rgDesktopSettings_ItemIndex\"=\"0\"\r\n\r\n"
        << "[HKEY_CURRENT_USER\\Software\\Tarnwick\\TfrmConfig.ListBox1_Items]\r\n"
        << "\"Count\"=\"1\"\r\n"
        << "\"Item0\"=\"" << picturePath() << "\"\r\n";
}

std::string Profile::configHome() const {
    return dir_.path().toStdString() + "/config";
}
std::string Profile::picturePath() const {
    return dir_.path().toStdString() + "/picture.bmp";
}

Saver::Saver(const Profile& profile, const std::vector<std::string>& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", QString::fromStdString(profile.configHome()));
    env.insert("SDL_AUDIODRIVER", "dummy");
    env.remove("QT_QPA_PLATFORM");
    process_.setProcessEnvironment(env);
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    process_.start(TARNWICK_EXECUTABLE, list);
    if (!process_.waitForStarted(5000)) throw std::runtime_error("the program did not start");
}

Saver::~Saver() {
    if (running()) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

bool Saver::waitForExit(int timeoutMs) {
    return !running() || process_.waitForFinished(timeoutMs);
}

int Saver::exitCode() const {
    return process_.exitCode();
}

std::string xwininfoField(const std::string& output, const std::string& label) {
    std::istringstream lines(output);
    std::string line;
    const std::string key = label + ":";
    while (std::getline(lines, line)) {
        const auto at = line.find(key);
        if (at == std::string::npos) continue;
        std::string value = line.substr(at + key.size());
        value.erase(0, value.find_first_not_of(' '));
        return value;
    }
    return {};
}

} // namespace tarnwick::e2e
