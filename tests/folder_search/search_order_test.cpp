// The walk's order, its error rules and its guards, on an in-memory tree.
#include "fakes/fake_files.h"
#include "settings/folder_search.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

using Reports = std::vector<std::string>;

class SearchOrder : public ::testing::Test {
protected:
    Reports run(const std::string& root, bool* result = nullptr) {
        reports.clear();
        search.rootDirectory = root;
        search.onFindFile = [this](const std::string& name) { reports.push_back(name); };
        const bool ok = search.Search();
        if (result) *result = ok;
        return reports;
    }

    fakes::FakeFileSystem fs;
    TJvSearchFiles search{fs};
    Reports reports;
};

TEST_F(SearchOrder, FilesOfAFolderComeBeforeItsSubfolders) {
    fs.addFile("/r/1.jpg");
    fs.addFolder("/r/s");
    fs.addFile("/r/2.jpg");
    fs.addFile("/r/s/3.jpg");
    bool ok = false;
    EXPECT_EQ(run("/r", &ok), (Reports{"/r/1.jpg", "/r/2.jpg", "/r/s/3.jpg"}));
    EXPECT_TRUE(ok);
}

TEST_F(SearchOrder, SubfoldersAreSearchedDepthFirstInEnumerationOrder) {
    fs.addFile("/r/b/b.bmp");
    fs.addFile("/r/a/a.bmp");
    fs.addFile("/r/b/bb/bb.bmp");
    fs.addFile("/r/a/aa/aaa/aaa.bmp");
    fs.addFile("/r/a/ab/ab.bmp");
    EXPECT_EQ(run("/r"), (Reports{"/r/b/b.bmp", "/r/b/bb/bb.bmp", "/r/a/a.bmp",
                                  "/r/a/aa/aaa/aaa.bmp", "/r/a/ab/ab.bmp"}));
}

TEST_F(SearchOrder, TrailingSeparatorGivesTheSameReports) {
    fs.addFile("/r/x.jpg");
    fs.addFile("/r/s/y.jpg");
    const Reports without = run("/r");
    EXPECT_EQ(without, (Reports{"/r/x.jpg", "/r/s/y.jpg"}));
    EXPECT_EQ(run("/r/"), without);
}

TEST_F(SearchOrder, EmptyRootSearchesTheFileSystemRoot) {
    fs.addFile("/top.jpg");
    fs.addFile("/home/u/p.jpeg");
    EXPECT_EQ(run(""), (Reports{"/top.jpg", "/home/u/p.jpeg"}));
    EXPECT_EQ(fs.opened.front(), "/");
}

// The dialog's search keeps to BMP and JPEG; the hack's masks add PNG and WebP.
TEST_F(SearchOrder, TheMasksChooseWhichFilesAreReported) {
    fs.addFile("/r/a.png");
    fs.addFile("/r/b.jpg");
    fs.addFile("/r/s/c.WEBP");
    EXPECT_EQ(run("/r"), (Reports{"/r/b.jpg"}));
    search.masks = kHackPictureMasks;
    EXPECT_EQ(run("/r"), (Reports{"/r/a.png", "/r/b.jpg", "/r/s/c.WEBP"}));
}

TEST_F(SearchOrder, DotFoldersAndNonFilesArePassedOver) {
    fs.addDotEntries("/r");
    fs.addFile("/r/.thumbs/t.jpg");
    fs.addFile("/r/.hidden.jpg"); // the dot rule is for folders only
    fs.addOther("/r/pipe.jpg");
    fs.addFile("/r/x.jpg/inner.bmp"); // a folder named like a picture is entered, not reported
    fs.addFile("/r/s/deep.jpg");
    fs.addDotEntries("/r/s");
    EXPECT_EQ(run("/r"), (Reports{"/r/.hidden.jpg", "/r/x.jpg/inner.bmp", "/r/s/deep.jpg"}));
    for (const std::string& p : fs.opened) {
        EXPECT_EQ(p.find("/."), std::string::npos) << p;
    }
}

TEST_F(SearchOrder, OnlyOneFolderIsOpenAtATime) {
    for (int i = 0; i < 4; ++i) {
        const std::string d = "/r/d" + std::to_string(i);
        fs.addFile(d + "/f.jpg");
        fs.addFile(d + "/e/f.jpg");
    }
    int openDuringReports = 0;
    search.rootDirectory = "/r";
    search.onFindFile = [&](const std::string&) {
        openDuringReports = std::max(openDuringReports, fs.openNow);
    };
    EXPECT_TRUE(search.Search());
    EXPECT_EQ(fs.maxOpen, 1);
    EXPECT_EQ(fs.openNow, 0);
    EXPECT_EQ(openDuringReports, 1); // reported while its own folder is being read
    EXPECT_EQ(fs.opened.size(), 9u);
}

TEST_F(SearchOrder, LinkBackUpTheTreeIsNotFollowed) {
    fs.addFile("/r/a.jpg");
    fs.addFile("/r/sub/b.jpg");
    fs.addLink("/r/sub/up", "/r");
    fs.addLink("/r/sub/self", "/r/sub");
    fs.addFile("/other/c.jpg");
    fs.addLink("/r/sub/side", "/other"); // not on the path: followed
    bool ok = false;
    EXPECT_EQ(run("/r", &ok), (Reports{"/r/a.jpg", "/r/sub/b.jpg", "/r/sub/side/c.jpg"}));
    EXPECT_TRUE(ok);
}

struct FailureCase {
    const char* what;
    void (*inject)(fakes::FakeFileSystem&);
    Reports expected;
    // With skipping asked for: what is reported, and the folder passed over.
    Reports expectedSkipping;
    const char* skipped;
};

TEST_F(SearchOrder, EnumerationErrorStopsTheWholeSearchUnlessSkippingIsAsked) {
    // /r: r1.jpg, then folders a (a1, a2 and folder deep) and z.
    const FailureCase cases[] = {
        {"folder cannot be opened",
         [](fakes::FakeFileSystem& f) { f.failures("/r/a").open = true; },
         {"/r/r1.jpg"},
         {"/r/r1.jpg", "/r/z/z.jpg"},
         "/r/a/"},
        {"reading fails midway",
         [](fakes::FakeFileSystem& f) { f.failures("/r/a").failNextAfter = 1; },
         {"/r/r1.jpg", "/r/a/a1.jpg"},
         {"/r/r1.jpg", "/r/a/a1.jpg", "/r/z/z.jpg"},
         "/r/a/"},
        {"closing fails",
         [](fakes::FakeFileSystem& f) { f.failures("/r/a").close = true; },
         {"/r/r1.jpg", "/r/a/a1.jpg", "/r/a/a2.jpg"},
         {"/r/r1.jpg", "/r/a/a1.jpg", "/r/a/a2.jpg", "/r/z/z.jpg"},
         "/r/a/"},
        {"deep folder fails",
         [](fakes::FakeFileSystem& f) { f.failures("/r/a/deep").open = true; },
         {"/r/r1.jpg", "/r/a/a1.jpg", "/r/a/a2.jpg"},
         {"/r/r1.jpg", "/r/a/a1.jpg", "/r/a/a2.jpg", "/r/z/z.jpg"},
         "/r/a/deep/"},
        {"root cannot be opened",
         [](fakes::FakeFileSystem& f) { f.failures("/r").open = true; },
         {},
         {},
         nullptr},
    };
    for (bool skipping : {false, true}) {
        for (const FailureCase& c : cases) {
            fakes::FakeFileSystem tree;
            tree.addFile("/r/r1.jpg");
            tree.addFile("/r/a/a1.jpg");
            tree.addFile("/r/a/a2.jpg");
            tree.addFile("/r/a/deep/d.jpg");
            tree.addFile("/r/z/z.jpg");
            c.inject(tree);
            TJvSearchFiles s(tree);
            Reports got, skipped;
            s.rootDirectory = "/r";
            s.onFindFile = [&](const std::string& n) { got.push_back(n); };
            if (skipping)
                s.onSkippedFolder = [&](const std::string& n, int) { skipped.push_back(n); };
            // The folder searched itself must be readable, skipping or not.
            EXPECT_EQ(s.Search(), skipping && c.skipped) << c.what;
            EXPECT_EQ(got, skipping ? c.expectedSkipping : c.expected) << c.what;
            EXPECT_EQ(skipped, skipping && c.skipped ? Reports{c.skipped} : Reports{}) << c.what;
            if (!skipping) {
                for (const std::string& p : tree.opened) EXPECT_NE(p, "/r/z/") << c.what;
            }
            EXPECT_EQ(tree.openNow, 0) << c.what;
        }
    }
}

TEST_F(SearchOrder, MissingRootReportsNothing) {
    fs.addFile("/r/a.jpg");
    bool ok = true;
    EXPECT_TRUE(run("/nowhere", &ok).empty());
    EXPECT_FALSE(ok);
}

TEST_F(SearchOrder, NestedStartIsRefusedAndTheOuterSearchCompletes) {
    fs.addFile("/r/a.jpg");
    fs.addFile("/r/b.jpg");
    fs.addFile("/r/s/c.jpg");
    std::vector<bool> nested;
    search.rootDirectory = "/r";
    search.onFindFile = [&](const std::string& n) {
        reports.push_back(n);
        EXPECT_TRUE(search.searching());
        nested.push_back(search.Search());
    };
    int progressCalls = 0;
    search.onProgress = [&] {
        ++progressCalls;
        nested.push_back(search.Search());
    };
    EXPECT_TRUE(search.Search());
    EXPECT_EQ(reports, (Reports{"/r/a.jpg", "/r/b.jpg", "/r/s/c.jpg"}));
    EXPECT_EQ(nested, std::vector<bool>(nested.size(), false));
    EXPECT_EQ(progressCalls, 4); // one per entry read: a.jpg, b.jpg, s, c.jpg
    EXPECT_FALSE(search.searching());
}

TEST_F(SearchOrder, FlagIsClearedWhenTheCallbackThrows) {
    fs.addFile("/r/a.jpg");
    fs.addFile("/r/b.jpg");
    search.rootDirectory = "/r";
    search.onFindFile = [](const std::string&) { throw std::runtime_error("stop"); };
    EXPECT_THROW(search.Search(), std::runtime_error);
    EXPECT_FALSE(search.searching());
    EXPECT_EQ(fs.openNow, 0);
    search.onFindFile = [&](const std::string& n) { reports.push_back(n); };
    EXPECT_TRUE(search.Search());
    EXPECT_EQ(reports.size(), 2u);
}

} // namespace
} // namespace tarnwick
