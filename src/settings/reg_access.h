#pragma once
// Registry access in the manner of the classic registry class: one current key, opened by a
// path relative to it (or to the root when the path starts with "\"), string values read with a
// type check and written as REG_SZ, and the classic error texts.
//
// Outside an update every change is one replacement of the store. Inside an update (see
// RegistryUpdate) the changes collect under the store's lock and reach the store in one
// replacement at commit, so a reader sees all of them or none.
//
// Reads come from one view of the store, taken at the first read and kept until closeKey() or a
// change outside an update: a whole set of values is read consistently, and a list of thousands
// of items costs one read of the store.
//
// A store that cannot be read (damaged file) is never treated as empty: its RegistryError
// reaches the caller unchanged from whichever call first needed the store.
#include "platform/registry.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

class RegistryAccess {
public:
    explicit RegistryAccess(platform::Registry& store) : store_(store) {}
    ~RegistryAccess();
    RegistryAccess(const RegistryAccess&) = delete;
    RegistryAccess& operator=(const RegistryAccess&) = delete;

    enum class OpenResult { Opened, Missing, CreateFailed };

    // Makes `key` the current key. Missing: it does not exist and canCreate is false.
    // CreateFailed: it could not be created (the store refused the change, or a name holds a
    // control character); the current key stays as it was in both cases.
    OpenResult tryOpenKey(std::string_view key, bool canCreate);
    bool openKey(std::string_view key, bool canCreate) {
        return tryOpenKey(key, canCreate) == OpenResult::Opened;
    }
    // Creates the key unless it exists; does not change the current key.
    // Throws "Failed to create key %s" (with the store's reason nested).
    void createKey(std::string_view key);
    bool keyExists(std::string_view key);
    // Deletes the key with all its sub-keys; false when it did not exist.
    bool deleteKey(std::string_view key);
    // Back to the root; reads taken afterwards see the store anew.
    void closeKey();
    const std::string& currentPath() const { return current_; }

    bool valueExists(std::string_view name);
    // The value's type, nullopt when it does not exist.
    std::optional<uint32_t> valueType(std::string_view name);
    // The text of a string value (REG_SZ or REG_EXPAND_SZ); `fallback` when it does not exist.
    // Throws "Invalid data type for '%s'" for another type and "Failed to get data for '%s'"
    // when the store cannot give the data of a value that exists.
    std::string readString(std::string_view name, std::string_view fallback = {});
    // Throws "Failed to set data for '%s'" (with the store's reason nested).
    void writeString(std::string_view name, std::string_view text);
    std::vector<std::string> valueNames();

    // Indexes i in 0..count-1, ascending, for which the current key holds a value named exactly
    // prefix + i in decimal (letter case aside). Costs the number of values present, not count.
    std::vector<int32_t> presentIndexes(std::string_view prefix, int64_t count);

    // The update's changes collect under the store's lock; see RegistryUpdate.
    void beginUpdate();
    // One replacement of the store. Throws the error text of the update's first change ("Failed
    // to create key %s" or "Failed to set data for '%s'") with the store's reason nested.
    void commitUpdate();
    void cancelUpdate();
    bool updating() const { return updating_; }

private:
    std::string resolve(std::string_view key) const;
    const platform::RegistryReader& view();
    platform::RegistryWriter& writer();
    template <typename Text, typename Needed, typename Apply>
    void change(Text&& failText, Needed&& needed, Apply&& apply);

    platform::Registry& store_;
    std::string current_;
    std::unique_ptr<platform::RegistryReader> snapshot_;
    std::unique_ptr<platform::RegistryWriter> writer_;
    bool updating_ = false;
    std::string firstChangeText_;
};

// RAII for an update: commit() makes it one replacement; leaving without commit discards it.
class RegistryUpdate {
public:
    explicit RegistryUpdate(RegistryAccess& reg) : reg_(reg) { reg_.beginUpdate(); }
    ~RegistryUpdate() {
        if (reg_.updating()) reg_.cancelUpdate();
    }
    RegistryUpdate(const RegistryUpdate&) = delete;
    RegistryUpdate& operator=(const RegistryUpdate&) = delete;
    void commit() { reg_.commitUpdate(); }

private:
    RegistryAccess& reg_;
};

} // namespace tarnwick
