#pragma once
// The whole store in memory: what the file store parses into and writes from, and what the
// in-memory test store holds.
#include "platform/registry.h"

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tarnwick::platform {

// Names match by ASCII case only: ANSI bytes above 127 have no case rule we could rely on.
inline char foldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

inline std::string foldName(std::string_view name) {
    std::string s(name);
    for (char& c : s) c = foldAscii(c);
    return s;
}

inline std::vector<std::string_view> splitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Key names: no control characters (they cannot stand in a section header), at most 255 bytes.
inline bool validKeyName(std::string_view name) {
    if (name.empty() || name.size() > 255) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

// Value names: anything a quoted name can carry on one line, at most 16383 bytes.
inline bool validValueName(std::string_view name) {
    if (name.size() > 16383) return false;
    for (char c : name)
        if (c == '\0' || c == '\r' || c == '\n') return false;
    return true;
}

class RegTree {
public:
    struct Key {
        std::string path; // written case, components joined by '\'; empty for the root
        std::vector<std::pair<std::string, RegValue>> values; // in the order first written
        std::unordered_map<std::string, size_t> index;        // folded name -> position

        const RegValue* find(std::string_view name) const {
            auto it = index.find(foldName(name));
            return it == index.end() ? nullptr : &values[it->second].second;
        }
        void set(std::string_view name, RegValue value) {
            auto [it, added] = index.try_emplace(foldName(name), values.size());
            if (added)
                values.emplace_back(std::string(name), std::move(value));
            else
                values[it->second].second = std::move(value);
        }
        bool erase(std::string_view name) {
            auto it = index.find(foldName(name));
            if (it == index.end()) return false;
            values.erase(values.begin() + static_cast<std::ptrdiff_t>(it->second));
            index.clear();
            for (size_t i = 0; i < values.size(); ++i) index.emplace(foldName(values[i].first), i);
            return true;
        }
    };

    RegTree() { keys_.emplace(std::string(), Key{}); }

    bool keyExists(std::string_view path) const { return findKey(path) != nullptr; }

    const Key* findKey(std::string_view path) const {
        if (cache_.key && cache_.path == path) return cache_.key;
        std::string folded;
        if (!indexOf(splitKeyPath(path), folded)) return nullptr;
        auto it = keys_.find(folded);
        if (it == keys_.end()) return nullptr;
        cache_.path = path;
        cache_.key = &it->second;
        return cache_.key;
    }
    Key* findKey(std::string_view path) {
        return const_cast<Key*>(static_cast<const RegTree*>(this)->findKey(path));
    }

    // The key, created with its missing parents; nullptr when a name cannot be stored.
    Key* createKey(std::string_view path) {
        auto parts = splitKeyPath(path);
        for (auto part : parts)
            if (!validKeyName(part)) return nullptr;
        std::string folded;
        Key* key = &keys_.at(std::string());
        for (auto part : parts) {
            if (!folded.empty()) folded.push_back(kSeparator);
            folded += foldName(part);
            auto it = keys_.find(folded);
            if (it == keys_.end()) {
                std::string written =
                    key->path.empty() ? std::string(part) : key->path + '\\' + std::string(part);
                it = keys_.emplace(folded, Key{std::move(written), {}, {}}).first;
                changed_ = true;
            }
            key = &it->second;
        }
        return key;
    }

    const RegValue* value(std::string_view keyPath, std::string_view name) const {
        const Key* key = findKey(keyPath);
        return key ? key->find(name) : nullptr;
    }

    bool setValue(std::string_view keyPath, std::string_view name, RegValue v) {
        Key* key = findKey(keyPath);
        if (!key || !validValueName(name)) return false;
        key->set(name, std::move(v));
        changed_ = true;
        return true;
    }

    bool deleteValue(std::string_view keyPath, std::string_view name) {
        Key* key = findKey(keyPath);
        if (!key || !key->erase(name)) return false;
        changed_ = true;
        return true;
    }

    // The key and everything below it; the root cannot be deleted.
    bool deleteKey(std::string_view path) {
        std::string folded;
        if (!indexOf(splitKeyPath(path), folded) || folded.empty()) return false;
        auto first = keys_.find(folded);
        if (first == keys_.end()) return false;
        // Every key below sorts directly after it: the separator sorts before any name byte.
        auto last = std::next(first);
        std::string prefix = folded + kSeparator;
        while (last != keys_.end() && last->first.compare(0, prefix.size(), prefix) == 0) ++last;
        keys_.erase(first, last);
        cache_ = {};
        changed_ = true;
        return true;
    }

    std::vector<std::string> subKeyNames(std::string_view path) const {
        std::vector<std::string> names;
        std::string folded;
        if (!indexOf(splitKeyPath(path), folded)) return names;
        auto it = keys_.find(folded);
        if (it == keys_.end()) return names;
        std::string prefix = folded.empty() ? folded : folded + kSeparator;
        for (++it; it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            if (it->first.find(kSeparator, prefix.size()) != std::string::npos) continue;
            const std::string& p = it->second.path;
            size_t slash = p.rfind('\\');
            names.push_back(slash == std::string::npos ? p : p.substr(slash + 1));
        }
        return names;
    }

    std::vector<std::string> valueNames(std::string_view path) const {
        std::vector<std::string> names;
        if (const Key* key = findKey(path))
            for (const auto& [name, v] : key->values) names.push_back(name);
        return names;
    }

    // Every key, the root first, each parent before its children.
    template <typename F> void forEachKey(F&& f) const {
        for (const auto& [folded, key] : keys_) f(key);
    }

    // Whether anything was created, set or deleted since construction or the last markClean().
    bool changed() const { return changed_; }
    void markClean() { changed_ = false; }

private:
    // Components are joined with a byte no key name may hold and that sorts below all of them,
    // so a key's descendants form one contiguous range right after it.
    static constexpr char kSeparator = '\x01';

    // False for a path no stored key can have (it would alias the separator).
    static bool indexOf(const std::vector<std::string_view>& parts, std::string& out) {
        out.clear();
        for (auto part : parts) {
            if (!validKeyName(part)) return false;
            if (!out.empty()) out.push_back(kSeparator);
            out += foldName(part);
        }
        return true;
    }

    // The last key found: a list's thousands of values are all looked up in one key. A copy of
    // the tree starts without it, as it points into this tree's own keys.
    struct LookupCache {
        std::string path;
        const Key* key = nullptr;
        LookupCache() = default;
        LookupCache(const LookupCache&) {}
        LookupCache& operator=(const LookupCache&) {
            path.clear();
            key = nullptr;
            return *this;
        }
    };

    std::map<std::string, Key> keys_;
    mutable LookupCache cache_;
    bool changed_ = false;
};

// A view of a tree, for stores that hand out their whole contents.
class RegTreeReader : public RegistryReader {
public:
    explicit RegTreeReader(RegTree tree) : tree_(std::move(tree)) {}
    bool keyExists(std::string_view path) const override { return tree_.keyExists(path); }
    std::optional<RegValue> queryValue(std::string_view keyPath,
                                       std::string_view name) const override {
        const RegValue* v = tree_.value(keyPath, name);
        return v ? std::optional<RegValue>(*v) : std::nullopt;
    }
    std::vector<std::string> subKeyNames(std::string_view path) const override {
        return tree_.subKeyNames(path);
    }
    std::vector<std::string> valueNames(std::string_view path) const override {
        return tree_.valueNames(path);
    }

protected:
    RegTree tree_;
};

} // namespace tarnwick::platform
