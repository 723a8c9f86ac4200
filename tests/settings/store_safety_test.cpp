// What the store file must survive: damage, a crash mid-write, several processes, no write access.
#include "platform/posix/file_registry.h"
#include "settings/reg_access.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sys/stat.h>

namespace tarnwick::platform {
namespace {

using store_testing::inChild;
using store_testing::ScratchDir;
using store_testing::slurp;
using store_testing::spit;

std::vector<std::string> leftovers(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().find(".tmp") != std::string::npos)
            names.push_back(e.path().filename().string());
    return names;
}

void putString(Registry& store, const std::string& key, const std::string& name,
               const std::string& text) {
    auto w = store.write();
    w->createKey(key);
    w->setValue(key, name, RegValue::string(text));
    w->commit();
}

TEST(StoreSafety, DamagedFileIsReportedAndNeverWrittenOver) {
    ScratchDir dir;
    const std::string path = dir / "user.reg";
    const std::string damaged =
        "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\Tarnwick]\r\n\"Item0\"=\"/ho";
    spit(path, damaged);
    FileRegistry store(path);
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            store.write();
            ADD_FAILURE() << "a writer was had over a damaged file";
        } catch (const RegistryError& e) {
            EXPECT_EQ(e.kind(), RegistryError::Kind::Unreadable);
            EXPECT_NE(std::string(e.what()).find(path + ", line 3"), std::string::npos) << e.what();
        }
    }
    // The same error through the registry access, unchanged, whatever the call.
    RegistryAccess reg(store);
    EXPECT_THROW(reg.openKey("\\Software\\Tarnwick", true), RegistryError);
    EXPECT_THROW(reg.writeString("x", "y"), RegistryError);
    EXPECT_EQ(slurp(path), damaged);
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

TEST(StoreSafety, CrashBetweenTemporaryFileAndRenameKeepsTheOldFile) {
    ScratchDir dir;
    const std::string path = dir / "user.reg";
    FileRegistry store(path);
    putString(store, "Software\\Tarnwick", "v", "old");
    const std::string before = slurp(path);

    int rc = inChild([&] {
        FileRegistry crashing(path);
        crashing.setBeforeRename([](const std::string&) { ::_exit(42); });
        putString(crashing, "Software\\Tarnwick", "v", "new");
        return 0;
    });
    ASSERT_EQ(rc, 42);
    EXPECT_EQ(slurp(path), before);
    EXPECT_EQ(store.read()->queryValue("Software\\Tarnwick", "v")->text(), "old");
    ASSERT_EQ(leftovers(dir.path()).size(), 1u); // the dead writer's complete temporary file

    // The next writer clears it away and writes normally.
    putString(store, "Software\\Tarnwick", "v", "next");
    EXPECT_TRUE(leftovers(dir.path()).empty());
    EXPECT_EQ(store.read()->queryValue("Software\\Tarnwick", "v")->text(), "next");
}

TEST(StoreSafety, FailedCommitLeavesNoTemporaryFile) {
    ScratchDir dir;
    FileRegistry store(dir / "user.reg");
    putString(store, "K", "v", "old");
    store.setBeforeRename([](const std::string&) { throw std::runtime_error("stopped"); });
    EXPECT_THROW(putString(store, "K", "v", "new"), std::runtime_error);
    EXPECT_TRUE(leftovers(dir.path()).empty());
    EXPECT_EQ(store.read()->queryValue("K", "v")->text(), "old");
}

// Writers in two processes each add one to a counter many times while a third process reads:
// no update may be lost, and every read must show a whole set (two values always written
// together are always equal).
TEST(StoreSafety, ConcurrentWritersLoseNothingAndReadersSeeWholeSets) {
    ScratchDir dir;
    const std::string path = dir / "user.reg";
    constexpr int kRounds = 100;
    FileRegistry store(path);
    putString(store, "S", "a", "0");
    putString(store, "S", "b", "0");

    auto writer = [&] {
        FileRegistry mine(path);
        for (int i = 0; i < kRounds; ++i) {
            auto w = mine.write();
            int n = std::stoi(w->queryValue("S", "a")->text()) + 1;
            w->setValue("S", "a", RegValue::string(std::to_string(n)));
            w->setValue("S", "b", RegValue::string(std::to_string(n)));
            w->commit();
        }
        return 0;
    };
    pid_t reader = ::fork();
    if (reader == 0) {
        FileRegistry mine(path);
        int bad = 0;
        const std::string last = std::to_string(2 * kRounds);
        bool done = false;
        for (int i = 0; i < 20000 && bad == 0 && !done; ++i) {
            try {
                auto r = mine.read();
                auto a = r->queryValue("S", "a"), b = r->queryValue("S", "b");
                if (!a || !b || a->text() != b->text()) bad = 1;
                done = a && a->text() == last;
            } catch (...) {
                bad = 2;
            }
        }
        ::_exit(bad);
    }
    pid_t first = ::fork();
    if (first == 0) {
        int rc = 98;
        try {
            rc = writer();
        } catch (...) {
        }
        ::_exit(rc);
    }
    int second = writer();
    int status = 0;
    ::waitpid(first, &status, 0);
    EXPECT_EQ(second, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ::waitpid(reader, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "reader saw a partial set";
    EXPECT_EQ(store.read()->queryValue("S", "a")->text(), std::to_string(2 * kRounds));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// Root ignores folder permissions, so the check runs as an unprivileged user when we are root.
bool dropPrivileges() {
    return ::geteuid() != 0 || (::setgid(65534) == 0 && ::setuid(65534) == 0);
}

TEST(StoreSafety, ReadOnlyFolderGivesAClearErrorAndLosesNothing) {
    ScratchDir dir;
    const std::string folder = dir / "tarnwick";
    const std::string path = folder + "/user.reg";
    FileRegistry store(path);
    putString(store, "Software\\Tarnwick", "v", "old");
    ::unlink((path + ".lock").c_str()); // a fresh folder: nothing but the store file
    const std::string before = slurp(path);
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(folder.c_str(), 0555);
    ::chmod(path.c_str(), 0644);

    int rc = inChild([&] {
        if (!dropPrivileges()) return 10;
        FileRegistry mine(path);
        if (mine.read()->queryValue("Software\\Tarnwick", "v")->text() != "old") return 11;
        try {
            putString(mine, "Software\\Tarnwick", "v", "new");
            return 12;
        } catch (const RegistryError& e) {
            if (e.kind() != RegistryError::Kind::Unwritable) return 13;
            if (std::string(e.what()).find("Permission denied") == std::string::npos) return 14;
        }
        RegistryAccess reg(mine);
        if (!reg.openKey("\\Software\\Tarnwick", true)) return 15; // exists: no write needed
        try {
            reg.writeString("v", "new");
            return 16;
        } catch (const Error& e) {
            if (std::string(e.what()) != "Failed to set data for 'v'") return 17;
            try {
                std::rethrow_if_nested(e);
                return 18;
            } catch (const RegistryError& cause) {
                if (std::string(cause.what()).find(path) == std::string::npos) return 19;
            }
        }
        return 0;
    });
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(slurp(path), before);
}

TEST(StoreSafety, SymbolicLinkStaysALink) {
    ScratchDir dir;
    const std::string real = dir / "dotfiles-user.reg";
    const std::string link = dir / "user.reg";
    FileRegistry realStore(real);
    putString(realStore, "K", "v", "1");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    FileRegistry store(link);
    putString(store, "K", "v", "2");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(realStore.read()->queryValue("K", "v")->text(), "2");
}

class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(StoreSafety, DefaultPathFollowsXdgConfigHome) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{
             {"/x/cfg", "/h", "/x/cfg/tarnwick/user.reg"},
             {nullptr, "/h", "/h/.config/tarnwick/user.reg"},
             {"", "/h", "/h/.config/tarnwick/user.reg"},
             {"relative/cfg", "/h", "/h/.config/tarnwick/user.reg"},
         }) {
        EnvVar xdg("XDG_CONFIG_HOME", c.xdg);
        EnvVar home("HOME", c.home);
        EXPECT_EQ(defaultRegistryPath(), c.expected) << (c.xdg ? c.xdg : "(unset)");
    }
}

} // namespace
} // namespace tarnwick::platform
