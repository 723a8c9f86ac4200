// The registry access: keys opened relative or absolute, typed reads, the classic error texts,
// and updates that reach the store in one replacement.
#include "fakes/fake_registry.h"
#include "settings/reg_access.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using fakes::FakeRegistry;
using platform::RegistryError;
using platform::RegValue;
using Open = RegistryAccess::OpenResult;

// The message of an error and of the cause nested in it ("" when none).
std::pair<std::string, std::string> messages(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        std::string cause;
        try {
            std::rethrow_if_nested(e);
        } catch (const std::exception& c) {
            cause = c.what();
        }
        return {e.what(), cause};
    }
    return {"(no error)", ""};
}

TEST(RegistryAccess, OpensRelativeToTheCurrentKeyOrToTheRoot) {
    FakeRegistry store;
    store.put("Software\\Tarnwick\\TfrmConfig", "v", "1");
    RegistryAccess reg(store);
    EXPECT_EQ(reg.tryOpenKey("software\\TARNWICK", false), Open::Opened);
    EXPECT_EQ(reg.tryOpenKey("TfrmConfig", false), Open::Opened);
    EXPECT_EQ(reg.currentPath(), "software\\TARNWICK\\TfrmConfig");
    EXPECT_EQ(reg.readString("V"), "1");
    EXPECT_EQ(reg.tryOpenKey("Nope", false), Open::Missing);
    EXPECT_EQ(reg.currentPath(), "software\\TARNWICK\\TfrmConfig"); // unchanged
    EXPECT_EQ(reg.tryOpenKey("\\Software", false), Open::Opened);
    EXPECT_EQ(reg.currentPath(), "Software");
    EXPECT_EQ(store.commits, 0); // opening what exists writes nothing
}

TEST(RegistryAccess, ReadsStringsWithATypeCheck) {
    FakeRegistry store;
    store.put("K", "sz", "text");
    store.tree.setValue("K", "expand", RegValue::string("%HOME%", platform::REG_EXPAND_SZ));
    store.tree.setValue("K", "dword", RegValue::dword(5));
    store.tree.setValue("K", "binary", RegValue{platform::REG_BINARY, "ab"});
    store.put("K", "broken", "x");
    store.failingValue = "broken";
    RegistryAccess reg(store);
    ASSERT_TRUE(reg.openKey("K", false));
    EXPECT_EQ(reg.readString("sz"), "text");
    EXPECT_EQ(reg.readString("expand"), "%HOME%");
    EXPECT_EQ(reg.readString("missing", "fallback"), "fallback");
    EXPECT_EQ(reg.valueType("dword"), platform::REG_DWORD);
    EXPECT_EQ(messages([&] { reg.readString("dword"); }).first, "Invalid data type for 'dword'");
    EXPECT_EQ(messages([&] { reg.readString("binary"); }).first, "Invalid data type for 'binary'");
    EXPECT_EQ(messages([&] { reg.readString("broken"); }),
              std::make_pair(std::string("Failed to get data for 'broken'"),
                             std::string("injected read failure")));
}

TEST(RegistryAccess, FailuresCarryTheClassicTextsAndTheStoresReason) {
    struct Case {
        const char* what;
        std::function<void(FakeRegistry&)> arrange;
        std::function<void(RegistryAccess&)> act;
        std::string text, cause;
    };
    const std::vector<Case> cases{
        {"create, no lock", [](FakeRegistry& s) { s.lockFailure = "no lock"; },
         [](RegistryAccess& r) { r.createKey("\\Software\\X"); },
         "Failed to create key Software\\X", "no lock"},
        {"create, commit fails", [](FakeRegistry& s) { s.commitFailure = "disk full"; },
         [](RegistryAccess& r) { r.createKey("Software\\X"); }, "Failed to create key Software\\X",
         "disk full"},
        {"create, bad name", [](FakeRegistry&) {},
         [](RegistryAccess& r) { r.createKey("Software\\a\nb"); },
         "Failed to create key Software\\a\nb", ""},
        {"write, commit fails", [](FakeRegistry& s) { s.commitFailure = "disk full"; },
         [](RegistryAccess& r) { r.writeString("v", "x"); }, "Failed to set data for 'v'",
         "disk full"},
        {"write, bad name", [](FakeRegistry&) {},
         [](RegistryAccess& r) { r.writeString("two\nlines", "x"); },
         "Failed to set data for 'two\nlines'", ""},
        {"update, first change names the error",
         [](FakeRegistry& s) {
             s.put("K", "a", "1");
             s.commitFailure = "disk full";
         },
         [](RegistryAccess& r) {
             RegistryUpdate u(r);
             r.openKey("\\K", false);
             r.writeString("first", "1");
             r.createKey("\\L");
             u.commit();
         },
         "Failed to set data for 'first'", "disk full"},
    };
    for (const Case& c : cases) {
        FakeRegistry store;
        c.arrange(store);
        const platform::RegTree before = store.tree;
        RegistryAccess reg(store);
        EXPECT_EQ(messages([&] { c.act(reg); }), std::make_pair(c.text, c.cause)) << c.what;
        EXPECT_EQ(store.commits, 0) << c.what;
        EXPECT_EQ(store.tree.subKeyNames(""), before.subKeyNames("")) << c.what;
    }
}

TEST(RegistryAccess, DamagedStoreErrorPassesUnchanged) {
    FakeRegistry store;
    store.unreadable = "/cfg/user.reg, line 7: a text without its closing quote";
    RegistryAccess reg(store);
    for (const std::function<void()>& f : std::vector<std::function<void()>>{
             [&] { reg.openKey("\\Software", true); },
             [&] { reg.createKey("\\Software"); },
             [&] { reg.readString("x"); },
             [&] { reg.writeString("x", "y"); },
         }) {
        try {
            f();
            ADD_FAILURE() << "no error";
        } catch (const RegistryError& e) {
            EXPECT_STREQ(e.what(), store.unreadable->c_str());
        }
    }
}

TEST(RegistryAccess, AnUpdateIsOneReplacementAndNothingBeforeItsCommit) {
    FakeRegistry store;
    store.put("Software\\Old", "keep", "1");
    RegistryAccess reg(store);
    {
        RegistryUpdate update(reg);
        reg.createKey("\\Software\\Tarnwick\\TfrmConfig");
        reg.openKey("\\Software\\Tarnwick\\TfrmConfig", false);
        for (int i = 0; i < 50; ++i) reg.writeString("v" + std::to_string(i), std::to_string(i));
        EXPECT_TRUE(reg.deleteKey("\\Software\\Old"));
        EXPECT_EQ(reg.readString("v7"), "7"); // the update sees its own changes
        EXPECT_FALSE(store.tree.keyExists("Software\\Tarnwick"));
        update.commit();
    }
    EXPECT_EQ(store.commits, 1);
    EXPECT_EQ(store.tree.value("Software\\Tarnwick\\TfrmConfig", "v49")->text(), "49");
    EXPECT_FALSE(store.tree.keyExists("Software\\Old"));

    {
        RegistryUpdate abandoned(reg);
        reg.writeString("v0", "changed");
    }
    EXPECT_EQ(store.commits, 1);
    EXPECT_EQ(store.tree.value("Software\\Tarnwick\\TfrmConfig", "v0")->text(), "0");

    // Outside an update each change is a replacement of its own.
    reg.writeString("a", "1");
    reg.writeString("b", "2");
    EXPECT_EQ(store.commits, 3);
}

TEST(RegistryAccess, PresentIndexesFindOnlyDecimalItemNamesBelowCount) {
    FakeRegistry store;
    for (const char* name : {"Count", "Item0", "ITEM2", "Item02", "Item-1", "Item+3", "Itemx",
                             "Item", "Item5", "Item2147483647", "Item99999999999", "xItem1"})
        store.put("L", name, "x");
    RegistryAccess reg(store);
    ASSERT_TRUE(reg.openKey("L", false));
    EXPECT_EQ(reg.presentIndexes("Item", 3), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(reg.presentIndexes("Item", 0), std::vector<int32_t>{});
    EXPECT_EQ(reg.presentIndexes("Item", -5), std::vector<int32_t>{});
    EXPECT_EQ(reg.presentIndexes("Item", INT32_MAX), (std::vector<int32_t>{0, 2, 5}));
    EXPECT_EQ(reg.presentIndexes("Item", int64_t{INT32_MAX} + 1),
              (std::vector<int32_t>{0, 2, 5, INT32_MAX}));
}

} // namespace
} // namespace tarnwick
