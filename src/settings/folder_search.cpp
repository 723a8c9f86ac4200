#include "settings/folder_search.h"

#include <cerrno>
#include <unordered_set>
#include <vector>

namespace tarnwick {

namespace {

char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Index just past the character that starts at `i`.
size_t nextChar(std::string_view s, size_t i) {
    ++i;
    while (i < s.size() && isContinuationByte(s[i])) ++i;
    return i;
}

struct FolderIdHash {
    size_t operator()(const platform::FolderId& id) const {
        return std::hash<uint64_t>()(id.node * 0x9E3779B97F4A7C15ull ^ id.device);
    }
};

// One folder on the current path of the walk, with the subfolder names still to visit.
struct Level {
    std::string dir; // ends with "/"
    platform::FolderId id;
    std::vector<std::string> subfolders;
    size_t nextSubfolder = 0;
};

} // namespace

bool matchesMask(std::string_view name, std::string_view mask) {
    size_t n = 0, m = 0;
    // Where the last '*' was and how far it has eaten: on a mismatch it takes one more
    // character. One retry point suffices, since a later '*' covers whatever an earlier one
    // would have taken.
    size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && mask[m] == '?') {
            ++m;
            n = nextChar(name, n);
        } else if (m < mask.size() && upperAscii(mask[m]) == upperAscii(name[n])) {
            ++m;
            ++n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            starName = nextChar(name, starName);
            n = starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

bool isPictureName(std::string_view name, std::span<const std::string_view> masks) {
    for (std::string_view mask : masks) {
        if (matchesMask(name, mask)) return true;
    }
    return false;
}

bool TJvSearchFiles::Search() {
    if (searching_) return false;
    searching_ = true;
    struct ClearFlag {
        bool& flag;
        ~ClearFlag() { flag = false; }
    } clearFlag{searching_};
    return searchTree(rootDirectory);
}

bool TJvSearchFiles::searchTree(const std::string& root) {
    std::vector<Level> path;
    // Every folder entered so far: one reached again through a link (back up the tree, or to a
    // folder seen elsewhere) is passed over, so links cannot make the walk endless or
    // exponential.
    std::unordered_set<platform::FolderId, FolderIdHash> entered;

    int err = 0; // the system's reason for the last failure
    auto failed = [&] {
        err = errno;
        return false;
    };
    // Reads folder `dir` to its end, reporting its pictures and noting its subfolders, closes
    // it, and puts it on the path. False on an enumeration error.
    auto read = [&](std::string dir) {
        std::unique_ptr<platform::FolderEnumeration> folder = files_.openFolder(dir);
        if (!folder) return failed();
        const platform::FolderId id = folder->id();
        if (!entered.insert(id).second) return folder->close() || failed();
        Level level{std::move(dir), id, {}, 0};
        platform::FolderEntry entry;
        for (;;) {
            const platform::NextResult result = folder->next(entry);
            if (result == platform::NextResult::Failed) return failed();
            if (result == platform::NextResult::End) break;
            if (entry.kind == platform::EntryKind::Folder) {
                if (!entry.name.empty() && entry.name[0] != '.')
                    level.subfolders.push_back(std::move(entry.name));
            } else if (entry.kind == platform::EntryKind::File &&
                       isPictureName(entry.name, masks)) {
                if (onFindFile) onFindFile(level.dir + entry.name);
            }
            if (onProgress) onProgress();
        }
        if (!folder->close()) return failed();
        path.push_back(std::move(level));
        return true;
    };

    // A subfolder that fails is passed over when the caller asked for that.
    auto enter = [&](std::string dir) {
        const bool skippable = onSkippedFolder && !path.empty();
        const std::string copy = skippable ? dir : std::string();
        if (read(std::move(dir))) return true;
        if (!skippable) return false;
        onSkippedFolder(copy, err);
        return true;
    };

    if (!enter(root.empty() || root.back() != '/' ? root + '/' : root)) return false;
    while (!path.empty()) {
        Level& top = path.back();
        if (top.nextSubfolder == top.subfolders.size()) {
            path.pop_back();
            continue;
        }
        std::string sub = top.dir + top.subfolders[top.nextSubfolder] + '/';
        // The name is not needed again; drop it so a wide folder's names do not stay around.
        std::string().swap(top.subfolders[top.nextSubfolder]);
        ++top.nextSubfolder;
        if (!enter(std::move(sub))) return false;
    }
    return true;
}

} // namespace tarnwick
