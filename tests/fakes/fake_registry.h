#pragma once
// An in-memory store for tests: no file and no lock, but the same replace-at-commit behaviour,
// a count of replacements, and failures on demand.
#include "platform/reg_tree.h"
#include "platform/registry.h"

#include <memory>
#include <optional>
#include <string>

namespace tarnwick::fakes {

class FakeRegistry : public platform::Registry {
public:
    platform::RegTree tree; // the store's contents
    int commits = 0;        // replacements made so far

    // Failures on demand; each names the message the store reports.
    std::optional<std::string> unreadable;    // read() and write() fail (a damaged store)
    std::optional<std::string> lockFailure;   // write() fails (Unwritable)
    std::optional<std::string> commitFailure; // commit() fails (Unwritable), the store unchanged
    std::optional<std::string> failingValue;  // reading this value name fails (Unreadable)

    std::unique_ptr<platform::RegistryReader> read() override;
    std::unique_ptr<platform::RegistryWriter> write() override;

    // A string value, creating its key: for building a test's starting store in one line.
    void put(std::string_view keyPath, std::string_view name, std::string_view text) {
        tree.createKey(keyPath);
        tree.setValue(keyPath, name, platform::RegValue::string(text));
    }
};

} // namespace tarnwick::fakes
