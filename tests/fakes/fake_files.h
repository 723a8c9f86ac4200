#pragma once
// In-memory file system: a folder tree built in code, links to folders, injected enumeration
// failures, and a record of the enumerations that were open at the same time.
#include "platform/files.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tarnwick::fakes {

class FakeFileSystem final : public platform::FileSystem {
public:
    struct Failures {
        bool open = false;      // openFolder gives nullptr
        int failNextAfter = -1; // next() fails after this many entries (-1: never)
        bool close = false;     // close() reports failure
    };

    FakeFileSystem() { nodes_.push_back({}); } // node 0 is "/"

    // Adds a file, creating the folders on its path. Entries keep the order they were added.
    void addFile(const std::string& path) { addEntry(path, platform::EntryKind::File, -1); }
    void addFolder(const std::string& path) { resolveOrCreate(path); }
    // An entry of another kind (a fifo, a dangling link).
    void addOther(const std::string& path) { addEntry(path, platform::EntryKind::Other, -1); }
    // A folder entry at `path` that leads to the existing folder `target` (a symbolic link).
    void addLink(const std::string& path, const std::string& target) {
        addEntry(path, platform::EntryKind::Folder, resolveOrCreate(target));
    }
    // "." and ".." as a real folder lists them, at the start of the folder's entries.
    void addDotEntries(const std::string& folder) {
        const int node = resolveOrCreate(folder);
        auto& entries = nodes_[static_cast<size_t>(node)].entries;
        entries.insert(entries.begin(), {{".", platform::EntryKind::Folder, node},
                                         {"..", platform::EntryKind::Folder, 0}});
    }
    Failures& failures(const std::string& folder) {
        return nodes_[static_cast<size_t>(resolveOrCreate(folder))].failures;
    }

    bool fileExists(const std::string& path) override {
        const Entry* e = find(path);
        return e != nullptr && e->kind != platform::EntryKind::Folder;
    }
    // A file's stamp is the one set in `stamps`, or a zero stamp.
    std::optional<platform::FileStamp> fileStamp(const std::string& path) override {
        if (!fileExists(path)) return std::nullopt;
        const auto it = stamps.find(path);
        return it == stamps.end() ? platform::FileStamp{} : it->second;
    }
    bool folderExists(const std::string& path) override { return resolve(path) >= 0; }

    std::unique_ptr<platform::FolderEnumeration> openFolder(const std::string& path) override {
        opened.push_back(path);
        if (onOpen) onOpen(path);
        const int node = resolve(path);
        if (node < 0 || nodes_[static_cast<size_t>(node)].failures.open) return nullptr;
        ++openNow;
        maxOpen = std::max(maxOpen, openNow);
        return std::make_unique<Enumeration>(*this, node);
    }

    std::map<std::string, platform::FileStamp> stamps;
    std::vector<std::string> opened;                // every path given to openFolder, in order
    std::function<void(const std::string&)> onOpen; // runs inside openFolder, before it answers
    int openNow = 0;
    int maxOpen = 0;

private:
    struct Entry {
        std::string name;
        platform::EntryKind kind;
        int node; // the folder it leads to, or -1
    };
    struct Node {
        std::vector<Entry> entries;
        Failures failures;
    };

    class Enumeration final : public platform::FolderEnumeration {
    public:
        Enumeration(FakeFileSystem& fs, int node) : fs_(fs), node_(node) {}
        ~Enumeration() override { close(); }
        platform::FolderId id() const override { return {1, static_cast<uint64_t>(node_) + 100}; }
        platform::NextResult next(platform::FolderEntry& entry) override {
            const Node& n = fs_.nodes_[static_cast<size_t>(node_)];
            if (n.failures.failNextAfter >= 0 &&
                index_ >= static_cast<size_t>(n.failures.failNextAfter))
                return platform::NextResult::Failed;
            if (index_ >= n.entries.size()) return platform::NextResult::End;
            entry.name = n.entries[index_].name;
            entry.kind = n.entries[index_].kind;
            ++index_;
            return platform::NextResult::Entry;
        }
        bool close() override {
            if (closed_) return true;
            closed_ = true;
            --fs_.openNow;
            return !fs_.nodes_[static_cast<size_t>(node_)].failures.close;
        }

    private:
        FakeFileSystem& fs_;
        int node_;
        size_t index_ = 0;
        bool closed_ = false;
    };

    static std::vector<std::string> split(const std::string& path) {
        std::vector<std::string> parts;
        std::string part;
        for (char c : path + "/") {
            if (c != '/') {
                part += c;
            } else if (!part.empty()) {
                parts.push_back(std::move(part));
                part.clear();
            }
        }
        return parts;
    }

    Entry* child(int node, const std::string& name) {
        for (Entry& e : nodes_[static_cast<size_t>(node)].entries)
            if (e.name == name && e.name != "." && e.name != "..") return &e;
        return nullptr;
    }

    int resolve(const std::string& path) {
        if (path.empty() || path[0] != '/') return -1;
        int node = 0;
        for (const std::string& part : split(path)) {
            Entry* e = child(node, part);
            if (e == nullptr || e->node < 0) return -1;
            node = e->node;
        }
        return node;
    }

    const Entry* find(const std::string& path) {
        std::vector<std::string> parts = split(path);
        if (parts.empty()) return nullptr;
        const std::string name = parts.back();
        parts.pop_back();
        std::string parent = "/";
        for (const std::string& p : parts) parent += p + "/";
        const int node = resolve(parent);
        return node < 0 ? nullptr : child(node, name);
    }

    int resolveOrCreate(const std::string& path) {
        int node = 0;
        for (const std::string& part : split(path)) {
            Entry* e = child(node, part);
            if (e == nullptr) {
                nodes_.push_back({});
                const int created = static_cast<int>(nodes_.size()) - 1;
                nodes_[static_cast<size_t>(node)].entries.push_back(
                    {part, platform::EntryKind::Folder, created});
                node = created;
            } else {
                node = e->node;
            }
        }
        return node;
    }

    void addEntry(const std::string& path, platform::EntryKind kind, int target) {
        std::vector<std::string> parts = split(path);
        const std::string name = parts.back();
        parts.pop_back();
        std::string parent = "/";
        for (const std::string& p : parts) parent += p + "/";
        const int node = resolveOrCreate(parent);
        nodes_[static_cast<size_t>(node)].entries.push_back({name, kind, target});
    }

    std::vector<Node> nodes_;
};

} // namespace tarnwick::fakes
