#pragma once
// The file system through POSIX calls (stat, opendir/readdir/closedir).
#include "platform/files.h"

namespace tarnwick::platform {

class PosixFileSystem final : public FileSystem {
public:
    bool fileExists(const std::string& path) override;
    std::optional<FileStamp> fileStamp(const std::string& path) override;
    bool folderExists(const std::string& path) override;
    std::unique_ptr<FolderEnumeration> openFolder(const std::string& path) override;
};

} // namespace tarnwick::platform
