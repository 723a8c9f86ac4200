#include "platform/posix/posix_files.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace tarnwick::platform {

namespace {

class PosixFolderEnumeration final : public FolderEnumeration {
public:
    PosixFolderEnumeration(DIR* dir, FolderId id) : dir_(dir), id_(id) {}
    ~PosixFolderEnumeration() override { close(); }
    PosixFolderEnumeration(const PosixFolderEnumeration&) = delete;
    PosixFolderEnumeration& operator=(const PosixFolderEnumeration&) = delete;

    FolderId id() const override { return id_; }

    NextResult next(FolderEntry& entry) override {
        if (dir_ == nullptr) return NextResult::Failed;
        errno = 0;
        const dirent* d = readdir(dir_);
        if (d == nullptr) return errno == 0 ? NextResult::End : NextResult::Failed;
        entry.name = d->d_name;
        entry.kind = kindOf(*d);
        return NextResult::Entry;
    }

    bool close() override {
        if (dir_ == nullptr) return true;
        const int rc = closedir(dir_);
        dir_ = nullptr;
        return rc == 0;
    }

private:
    // The entry type from the folder itself where the file system gives it (no extra call per
    // file); links and unknown types are resolved with a stat that follows the link.
    EntryKind kindOf(const dirent& d) const {
        switch (d.d_type) {
        case DT_REG:
            return EntryKind::File;
        case DT_DIR:
            return EntryKind::Folder;
        case DT_LNK:
        case DT_UNKNOWN:
            break;
        default:
            return EntryKind::Other;
        }
        struct stat st {};
        if (fstatat(dirfd(dir_), d.d_name, &st, 0) != 0) return EntryKind::Other;
        if (S_ISREG(st.st_mode)) return EntryKind::File;
        if (S_ISDIR(st.st_mode)) return EntryKind::Folder;
        return EntryKind::Other;
    }

    DIR* dir_;
    FolderId id_;
};

} // namespace

bool PosixFileSystem::fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::optional<FileStamp> PosixFileSystem::fileStamp(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    auto ns = [](const timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; };
    return FileStamp{static_cast<int64_t>(st.st_size), ns(st.st_mtim), ns(st.st_ctim),
                     static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool PosixFileSystem::folderExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::unique_ptr<FolderEnumeration> PosixFileSystem::openFolder(const std::string& path) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(path.c_str()), closedir);
    if (!dir) return nullptr;
    struct stat st {};
    if (fstat(dirfd(dir.get()), &st) != 0) return nullptr;
    const FolderId id{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    auto enumeration = std::make_unique<PosixFolderEnumeration>(dir.get(), id);
    dir.release(); // now owned by the enumeration
    return enumeration;
}

} // namespace tarnwick::platform
