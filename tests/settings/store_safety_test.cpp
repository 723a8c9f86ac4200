// What the store file must survive: damage, a crash mid-write, several processes, no write access.
#include "platform/posix/file_registry.h"
#include "settings/reg_access.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

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

    // A link to a file not made yet: the file is made where the link points.
    const std::string dangling = dir / "dangling.reg";
    ASSERT_EQ(::symlink("dotfiles/new.reg", dangling.c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "dotfiles").c_str(), 0700), 0);
    FileRegistry viaLink(dangling);
    putString(viaLink, "K", "v", "3");
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(FileRegistry(dir / "dotfiles/new.reg").read()->queryValue("K", "v")->text(), "3");
}

// A key path of `depth` names of `width` letters each, below the root.
std::string deepPath(size_t depth, size_t width) {
    std::string path;
    for (size_t i = 0; i < depth; ++i) {
        if (i) path.push_back('\\');
        path += std::string(width - 1, 'k') + static_cast<char>('a' + i % 26);
    }
    return path;
}

std::string section(const std::string& path) {
    return "[HKEY_CURRENT_USER\\" + path + "]\r\n";
}

TEST(StoreSafety, DeepKeyPathCostsItsOwnSizeAndAbsurdOnesAreRefused) {
    ScratchDir dir;
    const std::string path = dir / "user.reg";
    // As deep and as long as a key path may be: one section, and a save writes it once more,
    // not once per level.
    const std::string deepest = deepPath(512, 63);
    const std::string text = "REGEDIT4\r\n\r\n" + section(deepest) + "\"v\"=\"deep\"\r\n";
    spit(path, text);
    FileRegistry store(path);
    putString(store, "Software\\Tarnwick", "x", "1");
    const std::string saved = slurp(path);
    EXPECT_LT(saved.size(), text.size() + 200);
    EXPECT_NE(saved.find(section(deepest) + "\"v\"=\"deep\"\r\n"), std::string::npos);
    auto r = store.read();
    EXPECT_EQ(r->queryValue(deepest, "v")->text(), "deep");
    EXPECT_EQ(r->subKeyNames(deepPath(511, 63)),
              std::vector<std::string>{deepPath(512, 63).substr(511 * 64)});

    // One level or one character more is refused with the file and the line, whatever follows.
    const std::vector<std::pair<std::string, const char*>> absurd{
        {deepPath(513, 2), "deeper than 512 levels"},
        {deepPath(20000, 1), "deeper than 512 levels"},
        {deepPath(511, 64), "longer than 32767 characters"},
    };
    for (const auto& [key, why] : absurd) {
        spit(path, "REGEDIT4\r\n" + section("A") + section(key) + "\"v\"=\"x\"\r\n");
        try {
            store.read();
            ADD_FAILURE() << why << ": parsed";
        } catch (const RegistryError& e) {
            EXPECT_EQ(std::string(e.what()), path + ", line 3: a key path " + why);
        }
    }
    RegTree t;
    EXPECT_EQ(t.createKey(deepPath(513, 2)), nullptr);
    EXPECT_EQ(t.createKey(deepPath(511, 64)), nullptr);
    EXPECT_NE(t.createKey(deepest), nullptr);

    // A key costs far more held than its 2 bytes of file: 128 sections of 512 keys are as many
    // as a store may hold, one key more is refused where it is named.
    std::string many = "REGEDIT4\r\n";
    for (int i = 0; i < 128; ++i)
        many += section(std::to_string(i) + deepPath(511, 1).insert(0, "\\"));
    spit(path, many);
    EXPECT_EQ(store.read()->subKeyNames("127").size(), 1u);
    spit(path, many + section("128"));
    try {
        store.read();
        ADD_FAILURE() << "a store of 65537 keys was read";
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), path + ", line 130: more than 65536 keys");
    }
    // A tree that deleted keys has room for as many again.
    RegTree full = parseRegistryText(many, path);
    EXPECT_EQ(full.createKey("more"), nullptr);
    EXPECT_TRUE(full.deleteKey("5"));
    EXPECT_NE(full.createKey("more\\and more"), nullptr);

    // A file beyond 256 MiB is refused before it is read (a sparse file costs no disk).
    spit(path, "REGEDIT4\r\n");
    ASSERT_EQ(::truncate(path.c_str(), (off_t(256) << 20) + 1), 0);
    try {
        store.read();
        ADD_FAILURE() << "a 256 MiB file was read";
    } catch (const RegistryError& e) {
        EXPECT_NE(std::string(e.what()).find("256 MiB"), std::string::npos) << e.what();
    }
}

// Only a regular file is ever read or replaced: a link to a FIFO or a device gives the usual
// error with the reason and leaves what it points to as it was.
TEST(StoreSafety, LinkToAnythingButARegularFileIsNeverReplaced) {
    ScratchDir dir;
    const std::string link = dir / "user.reg";
    struct Target {
        std::string path;
        const char* reason;
        bool made;
    };
    std::vector<Target> targets{
        {dir / "fifo", "a FIFO, not a regular file", ::mkfifo((dir / "fifo").c_str(), 0644) == 0},
        {dir / "folder", "a folder, not a regular file",
         ::mkdir((dir / "folder").c_str(), 0755) == 0},
        // Only root may make a device node; the null device's numbers.
        {dir / "null", "a device, not a regular file",
         ::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0},
    };
    if (::geteuid() == 0) {
        EXPECT_TRUE(targets[2].made) << "mknod as root";
    }
    for (const Target& t : targets) {
        if (!t.made) continue;
        ::unlink(link.c_str());
        ASSERT_EQ(::symlink(t.path.c_str(), link.c_str()), 0);
        struct stat before {};
        ASSERT_EQ(::stat(t.path.c_str(), &before), 0);
        FileRegistry store(link);
        for (auto act : std::vector<std::function<void()>>{
                 [&] { store.read(); },
                 [&] { putString(store, "K", "v", "1"); },
             }) {
            try {
                act();
                ADD_FAILURE() << t.reason << ": no error";
            } catch (const RegistryError& e) {
                EXPECT_EQ(std::string(e.what()),
                          "Cannot read the settings file " + link + ": " + t.reason);
            }
        }
        struct stat after {};
        ASSERT_EQ(::stat(t.path.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode) << t.reason;
        EXPECT_EQ(after.st_ino, before.st_ino) << t.reason;
        EXPECT_EQ(after.st_rdev, before.st_rdev) << t.reason;
        EXPECT_TRUE(std::filesystem::is_symlink(link));
    }

    // A FIFO that turns up at the link's target after the writer read the store is refused at
    // the commit itself.
    ::unlink(link.c_str());
    const std::string later = dir / "later";
    ASSERT_EQ(::symlink("later", link.c_str()), 0);
    FileRegistry store(link);
    auto w = store.write();
    w->createKey("K");
    ASSERT_EQ(::mkfifo(later.c_str(), 0600), 0);
    try {
        w->commit();
        ADD_FAILURE() << "a FIFO was replaced";
    } catch (const RegistryError& e) {
        EXPECT_EQ(e.kind(), RegistryError::Kind::Unwritable);
        EXPECT_EQ(std::string(e.what()),
                  "Cannot write the settings file " + later + ": a FIFO, not a regular file");
    }
    struct stat st {};
    ASSERT_EQ(::lstat(later.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_TRUE(leftovers(dir.path()).empty());
}

// The lock file beside the store is never a link (it could lead to a device, or make a file
// where it points) and never anything but a regular file.
TEST(StoreSafety, LockFileIsNeverFollowed) {
    ScratchDir dir;
    const std::string path = dir / "user.reg";
    const std::string lock = path + ".lock";
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::function<void()>, const char*>> cases{
        {[&] { std::filesystem::create_symlink("made-by-the-lock", lock); },
         "a symbolic link, which is never followed"},
        {[&] { std::filesystem::create_symlink(fifo, lock); },
         "a symbolic link, which is never followed"},
        {[&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }, "a FIFO, not a regular file"},
    };
    for (const auto& [arrange, why] : cases) {
        ::unlink(lock.c_str());
        arrange();
        FileRegistry store(path);
        try {
            putString(store, "K", "v", "1");
            ADD_FAILURE() << why << ": written";
        } catch (const RegistryError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot lock the settings file " + lock + ": " + why);
        }
        EXPECT_FALSE(std::filesystem::exists(path)) << why;
    }
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::symlink_status(dir / "made-by-the-lock")));
}

// What the dialog shows below its own message: the store's error with the system's reason.
TEST(StoreSafety, EveryStoreFailureCarriesTheSystemsReason) {
    ScratchDir dir;
    struct Case {
        const char* what;
        std::function<std::string()> arrange; // gives the store's path
        int err;
    };
    const std::vector<Case> cases{
        {"lock folder is read-only",
         [&] {
             ::mkdir((dir / "a").c_str(), 0500);
             return dir / "a/user.reg";
         },
         ::geteuid() == 0 ? 0 : EACCES},
        {"settings folder is a file",
         [&] {
             spit(dir / "b", "");
             return dir / "b/user.reg";
         },
         ENOTDIR},
        {"link loop",
         [&] {
             ::mkdir((dir / "c").c_str(), 0700);
             std::filesystem::create_symlink("user.reg", dir / "c/user.reg");
             return dir / "c/user.reg";
         },
         ELOOP},
    };
    for (const Case& c : cases) {
        if (c.err == 0) continue; // root writes anywhere
        FileRegistry store(c.arrange());
        RegistryAccess reg(store);
        // A store that cannot be read comes unchanged; a refused change nests the store's error.
        std::string cause = "(none)";
        try {
            reg.writeString("v", "x");
            ADD_FAILURE() << c.what << ": written";
        } catch (const RegistryError& e) {
            cause = e.what();
        } catch (const Error& e) {
            try {
                std::rethrow_if_nested(e);
            } catch (const RegistryError& nested) {
                cause = nested.what();
            }
        }
        EXPECT_NE(cause.find(std::strerror(c.err)), std::string::npos) << c.what << ": " << cause;
    }
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
             // A relative HOME is ignored in the same way: the user database has the home.
             {"relative/cfg", "relative/h", nullptr},
             {nullptr, ".", nullptr},
         }) {
        EnvVar xdg("XDG_CONFIG_HOME", c.xdg);
        EnvVar home("HOME", c.home);
        const passwd* pw = ::getpwuid(::getuid());
        ASSERT_TRUE(pw && pw->pw_dir && pw->pw_dir[0] == '/');
        const std::string expected =
            c.expected ? c.expected : std::string(pw->pw_dir) + "/.config/tarnwick/user.reg";
        EXPECT_EQ(defaultRegistryPath(), expected) << (c.xdg ? c.xdg : "(unset)") << " " << c.home;
    }
}

} // namespace
} // namespace tarnwick::platform
