#pragma once
// A settings dialog on the in-memory platform (real files in a temporary folder), with file
// choosers and boxes that give the test's answers and record what they were asked.
#include "fakes/fake_files.h"
#include "fakes/fake_registry.h"
#include "fakes/fake_screen.h"
#include "fakes/fake_sound.h"
#include "fakes/fakes.h"
#include "host/widgets/flickerless.h"
#include "platform/posix/posix_files.h"
#include "settings/dialog/dialog_services.h"
#include "settings/dialog/tes.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QListWidget>
#include <QTest>

#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::testing {

class FakeServices final : public DialogServices {
public:
    std::deque<std::optional<std::vector<std::string>>> pictureAnswers;
    std::vector<std::pair<std::string, std::string>> openCalls; // filter, start folder
    std::deque<std::optional<std::string>> folderAnswers;
    std::vector<std::string> browseStarts;
    std::deque<bool> confirmAnswers;
    std::vector<std::pair<std::string, std::string>> confirmCalls; // title, text
    std::vector<std::string> errors;
    int beeps = 0;

    std::optional<std::vector<std::string>> openPictures(const std::string& filter,
                                                         const std::string& startDir) override {
        openCalls.emplace_back(filter, startDir);
        if (pictureAnswers.empty()) {
            ADD_FAILURE() << "unexpected open-picture dialog";
            return std::nullopt;
        }
        auto answer = pictureAnswers.front();
        pictureAnswers.pop_front();
        return answer;
    }
    std::optional<std::string> browseFolder(const std::string& start) override {
        browseStarts.push_back(start);
        if (folderAnswers.empty()) {
            ADD_FAILURE() << "unexpected folder dialog";
            return std::nullopt;
        }
        auto answer = folderAnswers.front();
        folderAnswers.pop_front();
        return answer;
    }
    bool confirm(const std::string& title, const std::string& text) override {
        confirmCalls.emplace_back(title, text);
        if (confirmAnswers.empty()) {
            ADD_FAILURE() << "unexpected question";
            return false;
        }
        const bool answer = confirmAnswers.front();
        confirmAnswers.pop_front();
        return answer;
    }
    void showError(const std::string& text) override { errors.push_back(text); }
    void beep() override { ++beeps; }
};

// A 24-bit BMP of one colour (blue, green, red), written by the test.
inline void writeBmp(const std::string& path, int32_t width, int32_t height, uint8_t b, uint8_t g,
                     uint8_t r) {
    const uint32_t stride = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t pixels = stride * static_cast<uint32_t>(height);
    std::string data;
    auto u16 = [&](uint32_t v) {
        data.push_back(static_cast<char>(v & 0xFF));
        data.push_back(static_cast<char>((v >> 8) & 0xFF));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    data += "BM";
    u32(54 + pixels);
    u32(0);
    u32(54);
    u32(40);
    u32(static_cast<uint32_t>(width));
    u32(static_cast<uint32_t>(height));
    u16(1);
    u16(24);
    u32(0);
    u32(pixels);
    u32(2835);
    u32(2835);
    u32(0);
    u32(0);
    for (int32_t y = 0; y < height; ++y) {
        std::string row;
        for (int32_t x = 0; x < width; ++x)
            row += {static_cast<char>(b), static_cast<char>(g), static_cast<char>(r)};
        row.resize(stride, '\0');
        data += row;
    }
    std::ofstream(path, std::ios::binary) << data;
}

class DialogTest : public ::testing::Test {
protected:
    DialogTest() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "tarnwick-dialog-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
    }
    ~DialogTest() override {
        dialog.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // A path in the test's folder; `file` also creates it (with the folders above it).
    std::string path(const std::string& rel) const { return (dir_ / rel).string(); }
    std::string file(const std::string& rel, const std::string& content = "not a picture") const {
        std::filesystem::create_directories((dir_ / rel).parent_path());
        std::ofstream(dir_ / rel) << content;
        return path(rel);
    }
    std::string picture(const std::string& rel, int32_t w, int32_t h, uint8_t b = 0, uint8_t g = 0,
                        uint8_t r = 255) const {
        std::filesystem::create_directories((dir_ / rel).parent_path());
        writeBmp(path(rel), w, h, b, g, r);
        return path(rel);
    }

    TfrmConfig& make(platform::FileSystem* fs = nullptr) {
        if (fs) platformFiles = fs;
        platformPtr = std::make_unique<platform::Platform>(platform::Platform{
            windows, saverState, screen, sound, password, registry, *platformFiles});
        dialog =
            std::make_unique<TfrmConfig>(*platformPtr, "/opt/tarnwick/Tarnwick.scr", &services);
        return *dialog;
    }
    TfrmConfig& show(platform::FileSystem* fs = nullptr) {
        make(fs);
        dialog->show();
        return *dialog;
    }
    // The dialog with pictures instead of the desktop.
    TfrmConfig& showForPictures() {
        show();
        dialog->cbxUseDesktop->setChecked(false);
        return *dialog;
    }

    // A stored text of the dialog's section or the list key; nullopt when missing.
    std::optional<std::string> stored(const std::string& name,
                                      const std::string& key = "TfrmConfig") const {
        const platform::RegValue* v = registry.tree.value("Software\\Tarnwick\\" + key, name);
        if (v == nullptr) return std::nullopt;
        return v->text();
    }

    QStringList listEntries() const {
        QStringList entries;
        for (int i = 0; i < dialog->ListBox1->count(); ++i)
            entries << dialog->ListBox1->item(i)->text();
        return entries;
    }
    // Selects a list entry as a mouse click does.
    void clickEntry(int row) {
        QListWidget* list = dialog->ListBox1;
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
    }
    static void focus(QWidget* w, QEvent::Type type, Qt::FocusReason reason = Qt::TabFocusReason) {
        QFocusEvent event(type, reason);
        QCoreApplication::sendEvent(w, &event);
    }

    fakes::FakeWindowSystem windows;
    fakes::FakeSaverState saverState;
    fakes::FakeScreen screen;
    fakes::FakeSoundPlayer sound;
    fakes::FakePasswordLibrary password;
    fakes::FakeRegistry registry;
    platform::PosixFileSystem realFiles;
    platform::FileSystem* platformFiles = &realFiles;
    std::unique_ptr<platform::Platform> platformPtr;
    FakeServices services;
    std::unique_ptr<TfrmConfig> dialog;

private:
    std::filesystem::path dir_;
};

} // namespace tarnwick::testing
