// The search over a real folder tree built by the test, through the POSIX file system.
#include "platform/posix/posix_files.h"
#include "settings/folder_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace tarnwick {
namespace {

namespace fsys = std::filesystem;
using Reports = std::vector<std::string>;

// A fresh folder under the temporary directory, removed with everything in it.
class TempTree {
public:
    TempTree() {
        std::string tmpl = (fsys::temp_directory_path() / "tarnwick-search-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = tmpl;
    }
    ~TempTree() {
        std::error_code ec;
        for (auto& p : fsys::recursive_directory_iterator(root_, ec))
            fsys::permissions(p.path(), fsys::perms::owner_all, fsys::perm_options::add, ec);
        fsys::remove_all(root_, ec);
    }
    std::string path(const std::string& rel = "") const {
        return rel.empty() ? root_.string() : (root_ / rel).string();
    }
    void file(const std::string& rel) const {
        fsys::create_directories((root_ / rel).parent_path());
        std::ofstream(root_ / rel) << "x";
    }
    void folder(const std::string& rel) const { fsys::create_directories(root_ / rel); }

private:
    fsys::path root_;
};

// Root reads every folder whatever its mode; this drops that override for the current thread.
class WithoutReadOverride {
public:
    WithoutReadOverride() {
        header_ = {_LINUX_CAPABILITY_VERSION_3, 0};
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        const uint32_t mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
        reduced[0].effective &= ~mask;
        active_ = syscall(SYS_capset, &header_, reduced) == 0;
    }
    ~WithoutReadOverride() {
        if (active_) syscall(SYS_capset, &header_, saved_);
    }
    bool active() const { return active_; }

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

class SearchDisk : public ::testing::Test {
protected:
    Reports run(const std::string& root, bool* result = nullptr) {
        Reports got;
        search.rootDirectory = root;
        search.onFindFile = [&](const std::string& name) { got.push_back(name); };
        const bool ok = search.Search();
        if (result) *result = ok;
        return got;
    }
    static Reports sorted(Reports r) {
        std::sort(r.begin(), r.end());
        return r;
    }

    TempTree tree;
    platform::PosixFileSystem files;
    TJvSearchFiles search{files};
};

TEST_F(SearchDisk, ReportsPicturesBySuffixAndSkipsDotFolders) {
    for (const char* f : {"a.JPG", "b.jpeg", "c.Bmp", ".jpg", "d.jpe", "e.jpg.txt", "f.bmpx",
                          "x.jpg/inner.bmp", ".thumbs/t.jpg", "s/deep/g.jpg"})
        tree.file(f);
    bool ok = false;
    const Reports got = run(tree.path(), &ok);
    EXPECT_TRUE(ok);
    const std::string r = tree.path() + "/";
    EXPECT_EQ(sorted(got), sorted({r + "a.JPG", r + "b.jpeg", r + "c.Bmp", r + ".jpg",
                                   r + "x.jpg/inner.bmp", r + "s/deep/g.jpg"}));
    // The root's own files come first, whatever order the file system lists them in.
    ASSERT_EQ(got.size(), 6u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(got[i].find('/', r.size()), std::string::npos) << got[i];
}

TEST_F(SearchDisk, TrailingSeparatorGivesTheSameReports) {
    tree.file("1.jpg");
    tree.file("2.jpg");
    tree.file("s/3.jpg");
    const Reports without = run(tree.path());
    EXPECT_EQ(without.size(), 3u);
    EXPECT_EQ(run(tree.path() + "/"), without);
    EXPECT_EQ(without.back(), tree.path("s/3.jpg"));
}

TEST_F(SearchDisk, SymbolicLinkLoopsEndAndLinksElsewhereAreFollowed) {
    tree.file("top.jpg");
    tree.file("a/a.jpg");
    tree.file("c/c.jpg");
    fsys::create_directory_symlink("..", tree.path("a/up"));
    fsys::create_directory_symlink(".", tree.path("a/here"));
    fsys::create_directory_symlink(tree.path(), tree.path("c/root"));
    fsys::create_directory_symlink("../c", tree.path("a/toc"));
    fsys::create_symlink("top.jpg", tree.path("alias.jpg"));    // a link to a file is a file
    fsys::create_symlink("missing", tree.path("dangling.jpg")); // leads nowhere: passed over
    ASSERT_EQ(mkfifo(tree.path("pipe.jpg").c_str(), 0600), 0);  // would block a reader
    bool ok = false;
    const Reports got = run(tree.path(), &ok);
    EXPECT_TRUE(ok);
    // c is entered once, through the link or by its own name, whichever the walk meets first.
    Reports expected{tree.path("top.jpg"), tree.path("alias.jpg"), tree.path("a/a.jpg")};
    const bool viaLink = std::find(got.begin(), got.end(), tree.path("a/toc/c.jpg")) != got.end();
    expected.push_back(tree.path(viaLink ? "a/toc/c.jpg" : "c/c.jpg"));
    EXPECT_EQ(sorted(got), sorted(expected));
}

// Each folder links twice to the next: 2^20 paths lead to the one file, which is reported once.
TEST_F(SearchDisk, FoldersReachedByManyLinksAreEnteredOnce) {
    constexpr int kDepth = 20;
    for (int i = 0; i < kDepth; ++i) {
        const std::string next = "../" + std::to_string(i + 1);
        tree.folder(std::to_string(i));
        fsys::create_directory_symlink(next, tree.path(std::to_string(i) + "/a"));
        fsys::create_directory_symlink(next, tree.path(std::to_string(i) + "/b"));
    }
    tree.file(std::to_string(kDepth) + "/x.jpg");
    Reports got;
    search.rootDirectory = tree.path("0");
    // Stop at the second report rather than wait for a million of them.
    search.onFindFile = [&](const std::string& name) {
        got.push_back(name);
        if (got.size() > 1) throw std::runtime_error("reported twice");
    };
    ASSERT_TRUE(search.Search());
    ASSERT_EQ(got.size(), 1u);
    // Through one link per level: root/a/.../a/x.jpg or the like.
    const std::string root = tree.path("0") + "/";
    ASSERT_EQ(got[0].size(), root.size() + 2 * kDepth + 5) << got[0];
    EXPECT_EQ(got[0].substr(0, root.size()), root);
    EXPECT_EQ(got[0].substr(got[0].size() - 6), "/x.jpg");
}

TEST_F(SearchDisk, UnreadableFolderStopsTheSearch) {
    tree.file("1.jpg");
    tree.file("locked/2.jpg");
    ASSERT_EQ(chmod(tree.path("locked").c_str(), 0), 0);
    WithoutReadOverride guard;
    if (geteuid() == 0 && !guard.active()) GTEST_SKIP() << "cannot give up root's read override";
    bool ok = true;
    EXPECT_EQ(run(tree.path(), &ok), (Reports{tree.path("1.jpg")}));
    EXPECT_FALSE(ok);
}

TEST_F(SearchDisk, FolderThatVanishesStopsTheSearch) {
    tree.file("1.jpg");
    tree.file("gone/2.jpg");
    Reports got;
    search.rootDirectory = tree.path();
    search.onFindFile = [&](const std::string& name) {
        got.push_back(name);
        fsys::remove_all(tree.path("gone")); // noted already, removed before it is entered
    };
    EXPECT_FALSE(search.Search());
    EXPECT_EQ(got, (Reports{tree.path("1.jpg")}));
}

TEST_F(SearchDisk, MissingRootFailsAndEmptyRootSucceeds) {
    bool ok = true;
    EXPECT_TRUE(run(tree.path("nothing-here"), &ok).empty());
    EXPECT_FALSE(ok);
    tree.file("plain.jpg");
    EXPECT_TRUE(run(tree.path("plain.jpg"), &ok).empty()); // a file is no folder to search
    EXPECT_FALSE(ok);
    tree.folder("empty");
    EXPECT_TRUE(run(tree.path("empty"), &ok).empty());
    EXPECT_TRUE(ok);
}

TEST(PosixFileSystem, ExistenceTests) {
    TempTree tree;
    tree.file("f.txt");
    tree.folder("d");
    platform::PosixFileSystem files;
    EXPECT_TRUE(files.fileExists(tree.path("f.txt")));
    EXPECT_FALSE(files.fileExists(tree.path("d")));
    EXPECT_FALSE(files.fileExists(tree.path("none")));
    EXPECT_FALSE(files.fileExists(""));
    EXPECT_TRUE(files.folderExists(tree.path("d")));
    EXPECT_FALSE(files.folderExists(tree.path("f.txt")));
    EXPECT_FALSE(files.folderExists(""));
}

TEST(PosixFileSystem, EnumerationListsEveryEntryOnceWithItsKind) {
    TempTree tree;
    tree.file("f.jpg");
    tree.folder("d");
    fsys::create_directory_symlink("d", tree.path("ld"));
    platform::PosixFileSystem files;
    auto e = files.openFolder(tree.path());
    ASSERT_NE(e, nullptr);
    std::vector<std::pair<std::string, platform::EntryKind>> seen;
    platform::FolderEntry entry;
    while (e->next(entry) == platform::NextResult::Entry) seen.emplace_back(entry.name, entry.kind);
    EXPECT_EQ(e->next(entry), platform::NextResult::End);
    EXPECT_TRUE(e->close());
    EXPECT_TRUE(e->close());
    EXPECT_EQ(e->next(entry), platform::NextResult::Failed); // closed
    std::sort(seen.begin(), seen.end());
    using K = platform::EntryKind;
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, K>>{{".", K::Folder},
                                                            {"..", K::Folder},
                                                            {"d", K::Folder},
                                                            {"f.jpg", K::File},
                                                            {"ld", K::Folder}}));

    auto d = files.openFolder(tree.path("d"));
    auto ld = files.openFolder(tree.path("ld"));
    ASSERT_TRUE(d && ld);
    EXPECT_EQ(d->id(), ld->id());
    EXPECT_FALSE(d->id() == e->id());
    EXPECT_EQ(files.openFolder(tree.path("f.jpg")), nullptr);
}

} // namespace
} // namespace tarnwick
