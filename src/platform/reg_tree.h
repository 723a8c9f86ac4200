#pragma once
// The whole store in memory: what the file store parses into and writes from, and what the
// in-memory test store holds.
//
// Each key holds its own name only, so a path of any depth costs its own length, never the
// square of it; a key's full path is put together while walking down to it.
#include "platform/registry.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
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

inline bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    return true;
}

// Calls f(component) for each non-empty component of a backslash path, in order, until f
// returns false; gives false when it stopped early.
template <typename F> bool forEachKeyName(std::string_view path, F&& f) {
    size_t start = 0;
    while (start < path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start && !f(path.substr(start, end - start))) return false;
        start = end + 1;
    }
    return true;
}

inline std::vector<std::string_view> splitKeyPath(std::string_view path) {
    std::vector<std::string_view> parts;
    forEachKeyName(path, [&](std::string_view part) {
        parts.push_back(part);
        return true;
    });
    return parts;
}

// Key names: no control characters (they cannot stand in a section header), at most 255 bytes.
inline bool validKeyName(std::string_view name) {
    if (name.empty() || name.size() > 255) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

// The limits of the Windows registry, which keep a hostile file from costing more than its size.
constexpr size_t kMaxKeyDepth = 512;
constexpr size_t kMaxKeyPathLength = 32767;
// A key costs about 240 bytes held but as little as 2 bytes of file ("\a" in a deep section), so
// the key count has a limit of its own: 65536 keys hold at most about 16 MB. Our store has a few.
constexpr size_t kMaxKeys = 65536;

// Why no key can have this path, or nullptr when one can.
inline const char* keyPathProblem(std::string_view path) {
    size_t depth = 0, length = 0;
    const char* problem = nullptr;
    forEachKeyName(path, [&](std::string_view part) {
        if (!validKeyName(part))
            problem = part.size() > 255 ? "a key name longer than 255 characters"
                                        : "a key name holds a control character";
        else if (++depth > kMaxKeyDepth)
            problem = "a key path deeper than 512 levels";
        else if ((length += part.size() + (depth > 1)) > kMaxKeyPathLength)
            problem = "a key path longer than 32767 characters";
        return problem == nullptr;
    });
    return problem;
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
    using Values = std::vector<std::pair<std::string, RegValue>>;

    class Key {
    public:
        Values values; // in the order first written; change only through set() and erase()

        const RegValue* find(std::string_view name) const {
            if (index_.empty()) return nullptr;
            size_t i = slotOf(name);
            return index_[i] == 0 ? nullptr : &values[index_[i] - 1].second;
        }
        void set(std::string_view name, RegValue value) {
            if (2 * (values.size() + 1) > index_.size()) reindex(values.size() + 1);
            const size_t i = slotOf(name);
            if (index_[i] != 0) {
                values[index_[i] - 1].second = std::move(value);
                return;
            }
            values.emplace_back(std::string(name), std::move(value));
            index_[i] = static_cast<uint32_t>(values.size());
        }
        // Room for `more` further values without moving the ones held.
        void reserve(size_t more) {
            values.reserve(values.size() + more);
            if (2 * (values.size() + more) > index_.size()) reindex(values.size() + more);
        }
        bool erase(std::string_view name) {
            if (index_.empty()) return false;
            size_t i = slotOf(name);
            if (index_[i] == 0) return false;
            values.erase(values.begin() + static_cast<std::ptrdiff_t>(index_[i] - 1));
            reindex(values.size());
            return true;
        }

        // The key's own name as first written; empty for the root.
        const std::string& name() const { return name_; }
        // The full path, components joined by '\'; empty for the root.
        std::string path() const {
            if (!parent_) return {};
            std::string p = parent_->path();
            if (!p.empty()) p.push_back('\\');
            return p + name_;
        }
        bool hasSubKeys() const { return !children_.empty(); }
        // Whether the key was named itself (created, or a section of a file read), rather than
        // made only to hold a key below it.
        bool listed() const { return listed_; }

        Key() = default;
        Key(const Key& o) : values(o.values), name_(o.name_), index_(o.index_), listed_(o.listed_) {
            for (const auto& [folded, child] : o.children_) {
                auto copy = std::make_unique<Key>(*child);
                copy->parent_ = this;
                children_.emplace(folded, std::move(copy));
            }
        }
        Key& operator=(const Key&) = delete;

    private:
        friend class RegTree;

        static uint64_t hashName(std::string_view name) {
            uint64_t h = 1469598103934665603ull;
            for (char c : name)
                h = (h ^ static_cast<unsigned char>(foldAscii(c))) * 1099511628211ull;
            // The multiply carries only upwards: fold the high bits into the low ones we use.
            return h ^ (h >> 29) ^ (h >> 47);
        }
        // The slot holding `name`, or the empty slot where it would go. The table is never full.
        size_t slotOf(std::string_view name) const {
            const size_t mask = index_.size() - 1;
            size_t i = static_cast<size_t>(hashName(name)) & mask;
            while (index_[i] != 0 && !sameName(values[index_[i] - 1].first, name))
                i = (i + 1) & mask;
            return i;
        }
        // A table for `count` values at most half full, holding those there are.
        void reindex(size_t count) {
            size_t size = 8;
            while (size < 2 * count) size *= 2;
            index_.assign(size, 0);
            for (size_t v = 0; v < values.size(); ++v)
                index_[slotOf(values[v].first)] = static_cast<uint32_t>(v + 1);
        }

        std::string name_;
        Key* parent_ = nullptr;
        // Folded name -> key: in folded order, so the file lists keys in a stable order.
        std::map<std::string, std::unique_ptr<Key>, std::less<>> children_;
        std::vector<uint32_t> index_; // open addressing: position in `values` + 1, 0 when free
        bool listed_ = false;
    };

    RegTree() = default;
    RegTree(const RegTree& o)
        : root_(std::make_unique<Key>(*o.root_)), keys_(o.keys_), changed_(o.changed_) {}
    RegTree& operator=(const RegTree& o) {
        if (this != &o) *this = RegTree(o);
        return *this;
    }
    RegTree(RegTree&&) = default;
    RegTree& operator=(RegTree&& o) noexcept {
        root_ = std::move(o.root_);
        keys_ = o.keys_;
        changed_ = o.changed_;
        cache_ = {};
        o.cache_ = {};
        return *this;
    }

    bool keyExists(std::string_view path) const { return findKey(path) != nullptr; }

    const Key* findKey(std::string_view path) const {
        if (cache_.key && cache_.path == path) return cache_.key;
        const Key* key = root_.get();
        std::string folded;
        bool found = forEachKeyName(path, [&](std::string_view part) {
            key = child(*key, part, folded);
            return key != nullptr;
        });
        if (!found) return nullptr;
        cache_.path = path;
        cache_.key = key;
        return key;
    }
    Key* findKey(std::string_view path) {
        return const_cast<Key*>(static_cast<const RegTree*>(this)->findKey(path));
    }

    // The key, created with its missing parents; nullptr when the path cannot be stored (see
    // keyPathProblem) or the tree would pass kMaxKeys keys. Keys made only as parents count as
    // listed when `parentsListed`.
    Key* createKey(std::string_view path, bool parentsListed = true) {
        if (keyPathProblem(path)) return nullptr;
        Key* key = root_.get();
        std::string folded;
        bool made = forEachKeyName(path, [&](std::string_view part) {
            if (Key* next = child(*key, part, folded)) {
                key = next;
                return true;
            }
            // The parents made so far stay: they are keys within the limit.
            if (keys_ >= kMaxKeys) return false;
            ++keys_;
            auto made = std::make_unique<Key>();
            made->name_ = std::string(part);
            made->parent_ = key;
            made->listed_ = parentsListed;
            key = key->children_.emplace(folded, std::move(made)).first->second.get();
            changed_ = true;
            return true;
        });
        if (!made) return nullptr;
        if (!key->listed_ && key != root_.get()) {
            key->listed_ = true;
            changed_ = true;
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
        Key* key = findKey(path);
        if (!key || key == root_.get()) return false;
        Key* parent = key->parent_;
        size_t gone = 0;
        forEachKeyBelow(*key, [&](const Key&) { ++gone; });
        keys_ -= gone;
        parent->children_.erase(foldName(key->name_));
        cache_ = {};
        changed_ = true;
        return true;
    }

    std::vector<std::string> subKeyNames(std::string_view path) const {
        std::vector<std::string> names;
        if (const Key* key = findKey(path)) {
            names.reserve(key->children_.size());
            for (const auto& [folded, child] : key->children_) names.push_back(child->name_);
        }
        return names;
    }

    std::vector<std::string> valueNames(std::string_view path) const {
        std::vector<std::string> names;
        if (const Key* key = findKey(path)) {
            names.reserve(key->values.size());
            for (const auto& [name, v] : key->values) names.push_back(name);
        }
        return names;
    }

    // Every key, the root first, each parent before its children, children in folded-name
    // order: f(key) or f(key, path) with the key's full path.
    template <typename F> void forEachKey(F&& f) const {
        struct Frame {
            const Key* key;
            decltype(Key::children_)::const_iterator next;
            size_t pathLength;
        };
        std::string path;
        std::vector<Frame> stack;
        auto visit = [&](const Key& key) {
            if constexpr (std::is_invocable_v<F, const Key&, const std::string&>)
                f(key, path);
            else
                f(key);
            stack.push_back({&key, key.children_.begin(), path.size()});
        };
        visit(*root_);
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next == top.key->children_.end()) {
                path.resize(top.pathLength);
                stack.pop_back();
                if (!stack.empty()) path.resize(stack.back().pathLength);
                continue;
            }
            const Key& next = *(top.next++)->second;
            if (!path.empty()) path.push_back('\\');
            path += next.name_;
            visit(next);
        }
    }

    // Keys besides the root.
    size_t keyCount() const { return keys_; }

    // Whether anything was created, set or deleted since construction or the last markClean().
    bool changed() const { return changed_; }
    void markClean() { changed_ = false; }

private:
    // `top` and every key below it, without recursion (a path may be 512 keys deep).
    template <typename F> static void forEachKeyBelow(const Key& top, F&& f) {
        std::vector<const Key*> todo{&top};
        while (!todo.empty()) {
            const Key* key = todo.back();
            todo.pop_back();
            f(*key);
            for (const auto& [folded, c] : key->children_) todo.push_back(c.get());
        }
    }

    static const Key* child(const Key& key, std::string_view name, std::string& folded) {
        folded.assign(name);
        for (char& c : folded) c = foldAscii(c);
        if (key.children_.empty()) return nullptr;
        auto it = key.children_.find(folded);
        return it == key.children_.end() ? nullptr : it->second.get();
    }
    static Key* child(Key& key, std::string_view name, std::string& folded) {
        return const_cast<Key*>(child(static_cast<const Key&>(key), name, folded));
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

    std::unique_ptr<Key> root_ = std::make_unique<Key>();
    mutable LookupCache cache_;
    size_t keys_ = 0;
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
    const RegValue* findValue(std::string_view keyPath, std::string_view name) const override {
        return tree_.value(keyPath, name);
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
