#pragma once
// The picture folder search: walks a folder tree and reports every picture file in it.
#include "platform/files.h"

#include <array>
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace tarnwick {

// The file masks of the search, tried in this order.
inline constexpr std::array<std::string_view, 3> kPictureMasks{"*.bmp", "*.jpg", "*.jpeg"};
// The hack's folders (-images DIR, XScreenSaver's imageDirectory) also show PNG and WebP files;
// the settings dialog keeps to kPictureMasks.
inline constexpr std::array<std::string_view, 5> kHackPictureMasks{"*.bmp", "*.jpg", "*.jpeg",
                                                                   "*.png", "*.webp"};

// Whole-name match of `name` against `mask`: '*' stands for any run of characters (none
// included), '?' for exactly one character; letters a to z compare as capitals, every other
// byte as itself. A character is one UTF-8 sequence, so '?' takes "é" whole.
bool matchesMask(std::string_view name, std::string_view mask);

// True when `name` matches one of `masks`.
bool isPictureName(std::string_view name, std::span<const std::string_view> masks = kPictureMasks);

// Depth-first search of a folder tree, as the settings dialog's `JvSearchFiles1`. A folder's
// own files are reported before anything below it; folders whose name begins with "." are
// passed over. Only one folder is open at a time: a folder is read to its end and closed
// before its first subfolder is entered, so memory grows with the depth of the tree and the
// number of subfolder names along the current path (and by 16 bytes per folder entered),
// never with the number of files.
//
// Symbolic links to folders are followed, but each folder (device and inode) is entered at most
// once per search and passed over silently when reached again: a link back up the tree would
// otherwise make the walk endless, and folders linking twice to the next one exponential.
class TJvSearchFiles {
public:
    explicit TJvSearchFiles(platform::FileSystem& files) : files_(files) {}

    // The folder to search; empty means the file system's root. A trailing "/" is optional.
    std::string rootDirectory;
    // The names reported: a file matching one of these masks.
    std::span<const std::string_view> masks = kPictureMasks;
    // Called once per picture file found, with its full path (root, "/", relative path).
    std::function<void(const std::string& name)> onFindFile;
    // Called after every folder entry read, so a caller can keep its window alive. A nested
    // Search() from here (or from onFindFile) returns false at once.
    std::function<void()> onProgress;

    // When set, a subfolder that cannot be opened or read to its end (no permission, a path
    // longer than the system takes) is passed to it, with the system's error number, and the
    // search goes on without it. Unset, such a folder ends the search as an error.
    std::function<void(const std::string& folder, int err)> onSkippedFolder;

    // Runs one whole search. False when a search was already running, or when an enumeration
    // error (a folder that is missing or cannot be read) stopped it; files reported before
    // the error stay reported and no further folder is visited. The folder searched itself
    // must always be readable.
    bool Search();

    bool searching() const { return searching_; }

private:
    bool searchTree(const std::string& root);

    platform::FileSystem& files_;
    bool searching_ = false;
};

} // namespace tarnwick
