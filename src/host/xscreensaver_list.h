#pragma once
// Adding the hack to the programs list of XScreenSaver's per-user file, ~/.xscreensaver. The
// daemon's packaged list belongs to its own package; a user's file overrides it, so that is where
// the hack goes.
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick::hack {

// Where Debian's daemon keeps its packaged settings.
constexpr const char* kXScreenSaverDefaults = "/etc/X11/app-defaults/XScreenSaver";

// The list entry written for the hack.
constexpr std::string_view kProgramsEntry = "\"Tarnwick\"  tarnwick-hack -root";

struct ProgramsEdit {
    std::string text; // the user's file after the edit (unchanged when already listed)
    int number = 0;   // the hack's place in the list, from 1, as the daemon's -select counts
    bool added = false;
};

// Adds `entry` at the end of the programs resource of `userFile`, the text of ~/.xscreensaver,
// or of a new file made from the packaged `defaults` when there is no user file. Every other line
// keeps its bytes; the list's last line only gains the continuation that joins the new entry.
// An entry that already runs tarnwick-hack (even one switched off) leaves the text as it is.
// Throws Error when neither text holds a programs resource.
ProgramsEdit addToPrograms(const std::optional<std::string>& userFile, std::string_view defaults,
                           std::string_view entry = kProgramsEntry);

// Edits `home`/.xscreensaver so, creating it from `defaultsFile` when absent; the file is
// replaced whole, never half written, and keeps its permissions. Throws Error.
ProgramsEdit addToUserFile(const std::string& home, const std::string& defaultsFile);

} // namespace tarnwick::hack
