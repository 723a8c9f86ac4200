// File names that are not UTF-8: what the store, the folder search and the file choosers give
// the dialog is what it stores, byte for byte.
#include "dialog_fixture.h"
#include "settings/dialog/controls.h"
#include "settings/dialog/path_text.h"

#include <QFile>
#include <QPushButton>

#include <algorithm>

namespace tarnwick::testing {
namespace {

const std::string kList = "TfrmConfig.ListBox1_Items";

TEST_F(DialogTest, NamesThatAreNotTextSurviveOpenAndOk) {
    const std::vector<std::string> items = {"/p/caf\xE9.jpg", "/p/caf\xE8.jpg",
                                            "/p/\xC3\xA9t\xC3\xA9/\xFF\xFE.bmp",
                                            "/p/\xED\xA0\x80.bmp"};
    registry.put("Software\\Tarnwick\\" + kList, "Count", std::to_string(items.size()));
    for (size_t i = 0; i < items.size(); ++i)
        registry.put("Software\\Tarnwick\\" + kList, "Item" + std::to_string(i), items[i]);
    registry.put("Software\\Tarnwick\\TfrmConfig", "JvDirectoryEdit1_InitialDir", "/p/d\xE9j\xE0");
    registry.put("Software\\Tarnwick\\TfrmConfig", "cbxUseDesktop_Checked", "False");

    TfrmConfig& d = show();
    ASSERT_EQ(d.ListBox1->count(), 4); // none taken for a duplicate of another
    d.btnOk->click();
    ASSERT_FALSE(d.isVisible());
    EXPECT_EQ(stored("Count", kList), "4");
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(stored("Item" + std::to_string(i), kList), items[i]) << i;
    EXPECT_EQ(stored("JvDirectoryEdit1_InitialDir"), "/p/d\xE9j\xE0");
}

TEST_F(DialogTest, FolderSearchAddsEachStrayByteNameOnceWithItsOwnBytes) {
    TfrmConfig& d = showForPictures();
    const std::string root = path("f\xF6lder");
    for (const char* name : {"pic\xE9.jpg", "PIC\xC9.jpg", "\xC3\xA9t\xC3\xA9.bmp",
                             "\xC3\x89T\xC3\x89.BMP", "sub\xA0/x\xE9.jpeg"})
        file("f\xF6lder/" + std::string(name));
    services.folderAnswers.push_back(root);
    d.JvDirectoryEdit1ButtonClick();

    std::vector<std::string> found;
    for (const QString& entry : listEntries()) found.push_back(textToPath(entry));
    std::sort(found.begin(), found.end());
    // The two valid names differ only in letter case: one of them is listed.
    ASSERT_EQ(found.size(), 4u) << ::testing::PrintToString(found);
    EXPECT_EQ(found[0], root + "/PIC\xC9.jpg");
    EXPECT_EQ(found[1], root + "/pic\xE9.jpg");
    EXPECT_EQ(found[2], root + "/sub\xA0/x\xE9.jpeg");
    EXPECT_TRUE(found[3] == root + "/\xC3\xA9t\xC3\xA9.bmp" ||
                found[3] == root + "/\xC3\x89T\xC3\x89.BMP");

    d.btnOk->click();
    EXPECT_EQ(stored("JvDirectoryEdit1_InitialDir"), root);
    std::vector<std::string> saved;
    for (int i = 0; i < 4; ++i) saved.push_back(stored("Item" + std::to_string(i), kList).value());
    std::sort(saved.begin(), saved.end());
    EXPECT_EQ(saved, found);
}

TEST_F(DialogTest, ChooserAnswersAreMappedBackToTheNamesOnDisk) {
    const std::string name = file("d\xE9/caf\xE9.bmp");
    file("d\xE9/caf\xC3\xA9.bmp"); // a neighbour whose shown name differs
    // Qt's choosers replace each stray byte by U+FFFD.
    EXPECT_EQ(pathOnDisk(QFile::decodeName(name.c_str())), name);
    EXPECT_EQ(pathOnDisk(QFile::decodeName(path("d\xE9/caf\xC3\xA9.bmp").c_str())),
              path("d\xE9/caf\xC3\xA9.bmp"));
    EXPECT_EQ(nearestTextFolder(name), name.substr(0, name.find("/d\xE9")));
}

} // namespace
} // namespace tarnwick::testing
