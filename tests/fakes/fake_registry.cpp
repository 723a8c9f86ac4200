#include "fakes/fake_registry.h"

namespace tarnwick::fakes {

using platform::RegistryError;
using platform::RegValue;

namespace {

class FakeReader : public platform::RegistryReader {
public:
    FakeReader(const FakeRegistry& store, platform::RegTree tree)
        : store_(store), tree_(std::move(tree)) {}

    bool keyExists(std::string_view p) const override { return tree_.keyExists(p); }
    std::optional<RegValue> queryValue(std::string_view k, std::string_view n) const override {
        if (store_.failingValue &&
            platform::foldName(n) == platform::foldName(*store_.failingValue))
            throw RegistryError(RegistryError::Kind::Unreadable, "injected read failure");
        const RegValue* v = tree_.value(k, n);
        return v ? std::optional<RegValue>(*v) : std::nullopt;
    }
    std::vector<std::string> subKeyNames(std::string_view p) const override {
        return tree_.subKeyNames(p);
    }
    std::vector<std::string> valueNames(std::string_view p) const override {
        return tree_.valueNames(p);
    }

protected:
    const FakeRegistry& store_;
    platform::RegTree tree_;
};

class FakeWriter : public platform::RegistryWriter {
public:
    explicit FakeWriter(FakeRegistry& store) : store_(store), reader_(store, store.tree) {
        tree().markClean();
    }
    bool keyExists(std::string_view p) const override { return reader_.keyExists(p); }
    std::optional<RegValue> queryValue(std::string_view k, std::string_view n) const override {
        return reader_.queryValue(k, n);
    }
    std::vector<std::string> subKeyNames(std::string_view p) const override {
        return reader_.subKeyNames(p);
    }
    std::vector<std::string> valueNames(std::string_view p) const override {
        return reader_.valueNames(p);
    }
    bool createKey(std::string_view p) override { return tree().createKey(p) != nullptr; }
    bool setValue(std::string_view k, std::string_view n, RegValue v) override {
        return tree().setValue(k, n, std::move(v));
    }
    bool deleteValue(std::string_view k, std::string_view n) override {
        return tree().deleteValue(k, n);
    }
    bool deleteKey(std::string_view p) override { return tree().deleteKey(p); }
    void commit() override {
        if (!tree().changed()) return;
        if (store_.commitFailure)
            throw RegistryError(RegistryError::Kind::Unwritable, *store_.commitFailure);
        store_.tree = tree();
        store_.tree.markClean();
        tree().markClean();
        ++store_.commits;
    }

private:
    struct Reader : FakeReader {
        using FakeReader::FakeReader;
        platform::RegTree& tree() { return tree_; }
    };
    platform::RegTree& tree() { return reader_.tree(); }

    FakeRegistry& store_;
    Reader reader_;
};

} // namespace

std::unique_ptr<platform::RegistryReader> FakeRegistry::read() {
    if (unreadable) throw RegistryError(RegistryError::Kind::Unreadable, *unreadable);
    return std::make_unique<FakeReader>(*this, tree);
}

std::unique_ptr<platform::RegistryWriter> FakeRegistry::write() {
    if (unreadable) throw RegistryError(RegistryError::Kind::Unreadable, *unreadable);
    if (lockFailure) throw RegistryError(RegistryError::Kind::Unwritable, *lockFailure);
    return std::make_unique<FakeWriter>(*this);
}

} // namespace tarnwick::fakes
