#pragma once
// Files: the existence test and folder enumeration.
#include <string>

namespace tarnwick::platform {

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // True only for an existing file that is not a folder.
    virtual bool fileExists(const std::string& path) = 0;
};

} // namespace tarnwick::platform
