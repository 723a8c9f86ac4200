#pragma once
// What the settings dialog asks of the user outside its own window: the file and folder
// choosers, the question box, the error box and the beep. Tests put their own answers here.
#include <exception>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace tarnwick {

// The application's title: the caption of its standard error box.
inline constexpr const char* kApplicationTitle = "Tarnwick Screensaver";

// An error's message with the reason behind it on the lines below, one nested cause a line.
std::string errorText(const std::exception& error);

class DialogServices {
public:
    virtual ~DialogServices() = default;
    // The chosen files in the order given, or nullopt when cancelled. `filter` is in the form
    // "Description|*.a;*.b|Description|*.c".
    virtual std::optional<std::vector<std::string>> openPictures(const std::string& filter,
                                                                 const std::string& startDir) = 0;
    // The chosen folder, or nullopt when cancelled.
    virtual std::optional<std::string> browseFolder(const std::string& start) = 0;
    // A question with "OK" (the default) and "Cancel"; Escape answers "Cancel". True for "OK".
    virtual bool confirm(const std::string& title, const std::string& text) = 0;
    // The application's standard error box.
    virtual void showError(const std::string& text) = 0;
    // The default system beep.
    virtual void beep() = 0;
};

// The real choosers and boxes, with Qt's own (non-native) file dialogs.
class QtDialogServices final : public DialogServices {
public:
    explicit QtDialogServices(QWidget* parent) : parent_(parent) {}
    std::optional<std::vector<std::string>> openPictures(const std::string& filter,
                                                         const std::string& startDir) override;
    std::optional<std::string> browseFolder(const std::string& start) override;
    bool confirm(const std::string& title, const std::string& text) override;
    void showError(const std::string& text) override;
    void beep() override;

private:
    QWidget* parent_;
};

// One entry of a filter "Description|*.a;*.b|Other|*.c": the text shown for it and the
// patterns it matches.
struct OpenFilter {
    std::string description;
    std::vector<std::string> patterns;
};
std::vector<OpenFilter> parseOpenFilter(const std::string& filter);

} // namespace tarnwick
