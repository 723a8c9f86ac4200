#include "settings/reg_access.h"

#include "platform/reg_tree.h"

#include <algorithm>
#include <exception>

namespace tarnwick {

using platform::RegistryError;

RegistryAccess::~RegistryAccess() = default;

std::string RegistryAccess::resolve(std::string_view key) const {
    if (!key.empty() && key.front() == '\\') return std::string(key.substr(1));
    if (current_.empty()) return std::string(key);
    if (key.empty()) return current_;
    return current_ + '\\' + std::string(key);
}

const platform::RegistryReader& RegistryAccess::view() {
    if (updating_) return writer();
    if (!snapshot_) snapshot_ = store_.read();
    return *snapshot_;
}

platform::RegistryWriter& RegistryAccess::writer() {
    if (!writer_) writer_ = store_.write();
    return *writer_;
}

// One change, made only when `needed` says so for the store's current state: inside an update it
// joins the update; outside it is one replacement of the store. A refused change or an
// unwritable store throws failText() with the reason nested; a store that cannot be read throws
// its own error. (The text is made only when needed: a save writes thousands of values.)
template <typename Text, typename Needed, typename Apply>
void RegistryAccess::change(Text&& failText, Needed&& needed, Apply&& apply) {
    try {
        if (updating_) {
            platform::RegistryWriter& w = writer();
            if (!needed(w)) return;
            if (!apply(w)) throw Error(failText());
            if (firstChangeText_.empty()) firstChangeText_ = failText();
            return;
        }
        // Nothing to do is no reason to take the lock (the store may well be read-only).
        if (!needed(view())) return;
        auto w = store_.write();
        if (needed(*w)) {
            if (!apply(*w)) throw Error(failText());
            w->commit();
        }
        snapshot_.reset();
    } catch (const RegistryError& e) {
        if (e.kind() == RegistryError::Kind::Unreadable) throw;
        std::throw_with_nested(Error(failText()));
    }
}

namespace {
constexpr auto kAlways = [](const platform::RegistryReader&) { return true; };
}

RegistryAccess::OpenResult RegistryAccess::tryOpenKey(std::string_view key, bool canCreate) {
    std::string path = resolve(key);
    bool existed = true;
    try {
        change([&] { return format("Failed to create key %s", path.c_str()); },
               [&](const platform::RegistryReader& r) {
                   existed = r.keyExists(path);
                   return !existed && canCreate;
               },
               [&](platform::RegistryWriter& w) { return w.createKey(path); });
    } catch (const RegistryError&) {
        throw;
    } catch (const Error&) {
        return OpenResult::CreateFailed;
    }
    if (!existed && !canCreate) return OpenResult::Missing;
    current_ = std::move(path);
    return OpenResult::Opened;
}

void RegistryAccess::createKey(std::string_view key) {
    std::string path = resolve(key);
    change([&] { return format("Failed to create key %s", path.c_str()); },
           [&](const platform::RegistryReader& r) { return !r.keyExists(path); },
           [&](platform::RegistryWriter& w) { return w.createKey(path); });
}

bool RegistryAccess::keyExists(std::string_view key) {
    return view().keyExists(resolve(key));
}

bool RegistryAccess::deleteKey(std::string_view key) {
    std::string path = resolve(key);
    bool existed = false;
    change([&] { return format("Failed to delete key %s", path.c_str()); },
           [&](const platform::RegistryReader& r) { return existed = r.keyExists(path); },
           [&](platform::RegistryWriter& w) { return w.deleteKey(path); });
    return existed;
}

void RegistryAccess::closeKey() {
    current_.clear();
    if (!updating_) snapshot_.reset();
}

bool RegistryAccess::valueExists(std::string_view name) {
    return valueType(name).has_value();
}

std::optional<uint32_t> RegistryAccess::valueType(std::string_view name) {
    const platform::RegValue* v = view().findValue(current_, name);
    return v ? std::optional<uint32_t>(v->type) : std::nullopt;
}

std::string RegistryAccess::readString(std::string_view name, std::string_view fallback) {
    const platform::RegistryReader& r = view();
    const platform::RegValue* v = nullptr;
    try {
        v = r.findValue(current_, name);
    } catch (const RegistryError&) {
        std::throw_with_nested(
            Error(format("Failed to get data for '%s'", std::string(name).c_str())));
    }
    if (!v) return std::string(fallback);
    if (!v->isString())
        throw Error(format("Invalid data type for '%s'", std::string(name).c_str()));
    // The text straight from the stored bytes: a list of thousands is read with one copy each.
    const std::string& data = v->data;
    return std::string(data.data(), data.size() - (!data.empty() && data.back() == '\0'));
}

void RegistryAccess::writeString(std::string_view name, std::string_view text) {
    std::string path = current_;
    change([&] { return format("Failed to set data for '%s'", std::string(name).c_str()); },
           kAlways,
           [&](platform::RegistryWriter& w) {
               return w.setValue(path, name, platform::RegValue::string(text));
           });
}

std::vector<std::string> RegistryAccess::valueNames() {
    return view().valueNames(current_);
}

std::vector<int32_t> RegistryAccess::presentIndexes(std::string_view prefix, int64_t count) {
    std::vector<int32_t> indexes;
    if (count <= 0) return indexes;
    std::string folded = platform::foldName(prefix);
    for (const std::string& name : valueNames()) {
        if (name.size() <= folded.size() ||
            platform::foldName(name.substr(0, folded.size())) != folded)
            continue;
        std::string_view digits = std::string_view(name).substr(folded.size());
        // Only the form a decimal formatting gives: no sign, no leading zero.
        if (digits.size() > 1 && digits[0] == '0') continue;
        if (digits.size() > 10) continue;
        int64_t index = 0;
        bool ok = true;
        for (char c : digits) {
            if (c < '0' || c > '9') {
                ok = false;
                break;
            }
            index = index * 10 + (c - '0');
        }
        if (ok && index < count && index <= INT32_MAX)
            indexes.push_back(static_cast<int32_t>(index));
    }
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}

void RegistryAccess::beginUpdate() {
    if (updating_) throw Error("An update of the settings is already open");
    updating_ = true;
    firstChangeText_.clear();
}

void RegistryAccess::commitUpdate() {
    std::unique_ptr<platform::RegistryWriter> w = std::move(writer_);
    std::string text = std::move(firstChangeText_);
    updating_ = false;
    snapshot_.reset();
    if (!w) return;
    try {
        w->commit();
    } catch (const RegistryError&) {
        std::throw_with_nested(Error(text.empty() ? "Failed to write the settings" : text));
    }
}

void RegistryAccess::cancelUpdate() {
    writer_.reset();
    updating_ = false;
    firstChangeText_.clear();
    snapshot_.reset();
}

} // namespace tarnwick
