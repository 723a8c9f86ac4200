#pragma once
// The per-user key/value store (the registry's current-user root).
//
// Keys are addressed by backslash paths below the root ("Software\Tarnwick\TfrmConfig"); empty
// components are ignored, so "" and "\" name the root itself. Key and value names match without
// regard to ASCII letter case and keep the case they were first written with. Values keep their
// type; their data are raw bytes.
//
// Reads come from a consistent view of the whole store. Writes go through a writer that holds the
// store's lock from its creation until it is destroyed and replaces the store once per commit, so
// a reader sees either every write of a commit or none of them.
#include "platform/error.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick::platform {

// Value types keep the registry's numbers, so the file format and the code read alike.
constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_MULTI_SZ = 7;
constexpr uint32_t REG_QWORD = 11;

struct RegValue {
    uint32_t type = REG_SZ;
    // The bytes as stored. A string written by this program carries its terminating zero byte.
    std::string data;

    static RegValue string(std::string_view text, uint32_t type = REG_SZ) {
        RegValue v{type, std::string(text)};
        v.data.push_back('\0');
        return v;
    }
    static RegValue dword(uint32_t n) {
        RegValue v{REG_DWORD, std::string(4, '\0')};
        for (int i = 0; i < 4; ++i) v.data[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
        return v;
    }
    bool isString() const { return type == REG_SZ || type == REG_EXPAND_SZ; }
    // The text of a string value: its bytes less one terminating zero (inner zeros are kept).
    std::string text() const {
        if (!data.empty() && data.back() == '\0') return data.substr(0, data.size() - 1);
        return data;
    }
    friend bool operator==(const RegValue&, const RegValue&) = default;
};

// A store failure. `Unreadable`: the store exists but cannot be read or parsed (nothing is ever
// written over it). `Unwritable`: a change could not be made durable (the store is unchanged).
class RegistryError : public Error {
public:
    enum class Kind { Unreadable, Unwritable };
    RegistryError(Kind kind, const std::string& message) : Error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

class RegistryReader {
public:
    virtual ~RegistryReader() = default;
    virtual bool keyExists(std::string_view path) const = 0;
    // nullopt when the key or the value does not exist.
    virtual std::optional<RegValue> queryValue(std::string_view keyPath,
                                               std::string_view name) const = 0;
    // The same without a copy: nullptr when missing; valid until the next call on this reader
    // or a change through it. Readers that hold the store in memory give their own value.
    virtual const RegValue* findValue(std::string_view keyPath, std::string_view name) const {
        last_ = queryValue(keyPath, name);
        return last_ ? &*last_ : nullptr;
    }
    // Names in their written case, in store order; empty when the key does not exist.
    virtual std::vector<std::string> subKeyNames(std::string_view path) const = 0;
    virtual std::vector<std::string> valueNames(std::string_view path) const = 0;

private:
    mutable std::optional<RegValue> last_;
};

// Changes apply to the writer's own view at once and reach the store at commit().
class RegistryWriter : public RegistryReader {
public:
    // Creates the key and any missing parent. False when a name cannot be stored (a control
    // character or an over-long name); true when the key exists afterwards.
    virtual bool createKey(std::string_view path) = 0;
    // False when the key does not exist or the name cannot be stored.
    virtual bool setValue(std::string_view keyPath, std::string_view name, RegValue value) = 0;
    virtual bool deleteValue(std::string_view keyPath, std::string_view name) = 0;
    // Deletes the key with all its sub-keys; false when it does not exist or is the root.
    virtual bool deleteKey(std::string_view path) = 0;
    // Replaces the store once with everything changed so far; does nothing when nothing changed.
    // Throws RegistryError (Unwritable), leaving the store as it was.
    virtual void commit() = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // The store as it is now; a store that does not exist yet reads as empty.
    // Throws RegistryError (Unreadable).
    virtual std::unique_ptr<RegistryReader> read() = 0;
    // Takes the store's lock (waiting for other writers) and reads the current store.
    // Throws RegistryError: Unwritable when the lock cannot be had, Unreadable as read().
    virtual std::unique_ptr<RegistryWriter> write() = 0;
};

} // namespace tarnwick::platform
