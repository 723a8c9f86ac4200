#pragma once
// Files: the existence test and folder enumeration.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tarnwick::platform {

// What a folder entry is, after following a symbolic link. Anything that is neither a regular
// file nor a folder (a dangling link, a fifo, a socket, a device) is Other: opening a fifo
// named like a picture would block the reader.
enum class EntryKind { File, Folder, Other };

struct FolderEntry {
    std::string name; // the entry's own name, without the folder's path
    EntryKind kind = EntryKind::Other;
};

// Identity of a folder on its file system; two paths that reach the same folder (through a
// symbolic link or a bind mount) give the same identity.
struct FolderId {
    uint64_t device = 0;
    uint64_t node = 0;
    friend bool operator==(const FolderId&, const FolderId&) = default;
};

// What tells one version of a file from another without reading it: a rewrite changes the
// modification or change time, a replacement the node.
struct FileStamp {
    int64_t size = 0;
    int64_t modifiedNs = 0; // modification time, nanoseconds since the epoch
    int64_t changedNs = 0;  // status change time (cannot be set back by a program)
    uint64_t device = 0;
    uint64_t node = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

enum class NextResult { Entry, End, Failed };

// One open enumeration of a folder's entries, in the order the file system returns them
// ("." and ".." included when the file system lists them). Destroying it closes it.
class FolderEnumeration {
public:
    virtual ~FolderEnumeration() = default;
    virtual FolderId id() const = 0;
    // Entry: `entry` holds the next entry. End: all entries were read. Failed: reading stopped
    // on an error.
    virtual NextResult next(FolderEntry& entry) = 0;
    // Releases the handle; false when closing failed. Further calls do nothing and return true.
    virtual bool close() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // True only for an existing file that is not a folder.
    virtual bool fileExists(const std::string& path) = 0;
    // The stamp of an existing file that is not a folder (following links); nullopt otherwise.
    virtual std::optional<FileStamp> fileStamp(const std::string& path) = 0;
    // True for an existing folder (a symbolic link to one counts).
    virtual bool folderExists(const std::string& path) = 0;
    // Starts enumerating a folder; nullptr when it cannot be read (missing, not a folder, no
    // permission).
    virtual std::unique_ptr<FolderEnumeration> openFolder(const std::string& path) = 0;
};

} // namespace tarnwick::platform
