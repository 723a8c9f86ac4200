// The picture list: adding single and several files, the duplicate rule, clicks and deletions.
#include "dialog_fixture.h"
#include "settings/dialog/controls.h"

#include <QLineEdit>
#include <QSignalBlocker>
#include <QToolButton>

namespace tarnwick::testing {
namespace {

QColor pixel(const TfrmConfig& d, int x = 0, int y = 0) {
    return QColor(d.Image1->picture().pixel(x, y));
}

TEST_F(DialogTest, DuplicatesInAnyLetterCaseAreAddedOnce) {
    TfrmConfig& d = showForPictures();
    for (const char* name : {"/p/Photo.jpg", "/p/photo.JPG", "/p/PHOTO.jpg", "/p/Photo.jpg",
                             "/p/Photo.jpg ", "/p/\xc3\xa4.bmp", "/p/\xc3\x84.BMP", "/q/Photo.jpg"})
        d.AddListBoxItem(QString::fromUtf8(name));
    EXPECT_EQ(listEntries(), QStringList({"/p/Photo.jpg", "/p/Photo.jpg ",
                                          QString::fromUtf8("/p/\xc3\xa4.bmp"), "/q/Photo.jpg"}));
    // Entries keep their height whatever the font.
    d.ListBox1->setFont(QFont("Sans", 20));
    d.ListBox1->doItemsLayout();
    for (int row = 0; row < d.ListBox1->count(); ++row)
        EXPECT_EQ(d.ListBox1->visualItemRect(d.ListBox1->item(row)).height(), 13);

    // The look-up follows deletions: a deleted entry can be added again, in any case.
    {
        const QSignalBlocker noClick(d.ListBox1); // a selection without loading the entry
        d.ListBox1->setCurrentRow(0);
    }
    d.btnDelItemClick();
    EXPECT_EQ(d.ListBox1->count(), 3);
    d.AddListBoxItem("/P/photo.jpg");
    d.AddListBoxItem("/p/photo.jpg");
    EXPECT_EQ(listEntries().last(), "/P/photo.jpg");
    EXPECT_EQ(d.ListBox1->count(), 4);
}

TEST_F(DialogTest, OnePictureIsLoadedThenAdded) {
    TfrmConfig& d = showForPictures();
    const std::string a = picture("a.bmp", 3, 2, 10, 20, 30);
    services.pictureAnswers.push_back(std::vector<std::string>{a});
    d.JvComboEdit1->button()->click();
    ASSERT_EQ(services.openCalls.size(), 1u);
    EXPECT_EQ(services.openCalls[0].first, std::string(kOpenPictureFilter));
    EXPECT_EQ(listEntries(), QStringList({QString::fromStdString(a)}));
    EXPECT_EQ(d.JvComboEdit1->text().toStdString(), a);
    EXPECT_EQ(d.CurrentPicture.toStdString(), a);
    EXPECT_EQ(d.Image1->picture().size(), QSize(3, 2));
    EXPECT_EQ(pixel(d), QColor(30, 20, 10));

    // The same file again (other case is no other file, but the list says it is one).
    services.pictureAnswers.push_back(std::vector<std::string>{a});
    d.JvComboEdit1->button()->click();
    EXPECT_EQ(d.ListBox1->count(), 1);

    // Cancel changes nothing.
    services.pictureAnswers.push_back(std::nullopt);
    d.JvComboEdit1ButtonClick();
    EXPECT_EQ(d.ListBox1->count(), 1);
}

TEST_F(DialogTest, OneFileThatDoesNotLoadIsRefused) {
    TfrmConfig& d = showForPictures();
    const std::string a = picture("a.bmp", 4, 4);
    services.pictureAnswers.push_back(std::vector<std::string>{a});
    d.JvComboEdit1ButtonClick();
    const std::string refused[] = {file("notes.txt"), file("broken.bmp", "BMgarbage"),
                                   path("missing.jpg"), file("fake.jpg", "no jpeg")};
    for (const std::string& f : refused) {
        services.pictureAnswers.push_back(std::vector<std::string>{f});
        d.JvComboEdit1ButtonClick();
        EXPECT_EQ(listEntries(), QStringList({QString::fromStdString(a)})) << f;
        EXPECT_EQ(d.JvComboEdit1->text().toStdString(), a) << f;
        EXPECT_EQ(d.CurrentPicture.toStdString(), a) << f;
        EXPECT_EQ(d.Image1->picture().size(), QSize(4, 4)) << f;
    }
    EXPECT_TRUE(services.errors.empty());
}

TEST_F(DialogTest, SeveralFilesAreAddedUncheckedAndTheFirstIsShown) {
    TfrmConfig& d = showForPictures();
    const std::string first = picture("one.bmp", 2, 3, 255, 0, 0);
    const std::string notes = file("two.txt");
    const std::string third = picture("three.bmp", 5, 5, 0, 255, 0);
    services.pictureAnswers.push_back(std::vector<std::string>{first, notes, third});
    d.JvComboEdit1ButtonClick();
    EXPECT_EQ(listEntries(),
              QStringList({QString::fromStdString(first), QString::fromStdString(notes),
                           QString::fromStdString(third)}));
    EXPECT_EQ(d.Image1->picture().size(), QSize(2, 3));
    EXPECT_EQ(pixel(d), QColor(0, 0, 255));
    EXPECT_EQ(d.JvComboEdit1->text().toStdString(), third);
    EXPECT_EQ(d.CurrentPicture.toStdString(), third);

    // A first file that does not load leaves the preview as it was.
    services.pictureAnswers.push_back(std::vector<std::string>{file("x.txt"), first});
    d.JvComboEdit1ButtonClick();
    EXPECT_EQ(d.ListBox1->count(), 4);
    EXPECT_EQ(d.Image1->picture().size(), QSize(2, 3));
    EXPECT_TRUE(services.errors.empty());
}

TEST_F(DialogTest, ClickedEntryIsShownAndAFailingOneRemoved) {
    TfrmConfig& d = showForPictures();
    const std::string a = picture("a.bmp", 2, 2, 0, 0, 255);
    const std::string b = picture("b.bmp", 6, 1, 255, 0, 0);
    services.pictureAnswers.push_back(std::vector<std::string>{a, b});
    d.JvComboEdit1ButtonClick();

    clickEntry(1);
    EXPECT_EQ(d.Image1->picture().size(), QSize(6, 1));
    EXPECT_EQ(d.JvComboEdit1->text().toStdString(), b);
    clickEntry(0);
    EXPECT_EQ(d.Image1->picture().size(), QSize(2, 2));
    EXPECT_EQ(d.CurrentPicture.toStdString(), a);

    std::filesystem::remove(b);
    clickEntry(1);
    EXPECT_EQ(listEntries(), QStringList({QString::fromStdString(a)}));
    EXPECT_EQ(d.selectedRow(), -1);
    EXPECT_EQ(d.Image1->picture().size(), QSize(2, 2)); // the previous picture again
    EXPECT_EQ(pixel(d), QColor(255, 0, 0));
    EXPECT_EQ(d.JvComboEdit1->text().toStdString(), a);
    EXPECT_EQ(d.CurrentPicture.toStdString(), a);
    EXPECT_TRUE(services.errors.empty());

    // Keyboard selection counts as a click.
    d.AddListBoxItem(QString::fromStdString(b)); // gone from the disk
    d.ListBox1->setFocus();
    d.ListBox1->setCurrentRow(0);
    QTest::keyClick(d.ListBox1, Qt::Key_Down);
    EXPECT_EQ(d.ListBox1->count(), 1);
}

TEST_F(DialogTest, SecondFailureIsReportedInTheErrorBox) {
    TfrmConfig& d = showForPictures();
    d.AddListBoxItem(QString::fromStdString(path("gone.bmp")));
    d.AddListBoxItem(QString::fromStdString(path("kept.bmp")));
    clickEntry(0); // no previous picture to fall back on
    EXPECT_EQ(listEntries(), QStringList({QString::fromStdString(path("kept.bmp"))}));
    // The box reports the second failure, loading the empty previous picture: not the first.
    ASSERT_EQ(services.errors.size(), 1u);
    EXPECT_EQ(services.errors[0], "Unknown picture file extension (.)");
    EXPECT_TRUE(d.JvComboEdit1->text().isEmpty());
}

TEST_F(DialogTest, DeleteButtons) {
    TfrmConfig& d = showForPictures();
    const std::string a = picture("a.bmp", 2, 2);
    for (const char* n : {"/x/1.jpg", "/x/2.jpg", "/x/3.jpg"}) d.AddListBoxItem(n);
    services.pictureAnswers.push_back(std::vector<std::string>{a});
    d.JvComboEdit1ButtonClick();

    d.btnDelItem->click(); // nothing selected: nothing deleted
    EXPECT_EQ(d.ListBox1->count(), 4);
    clickEntry(3);
    d.btnDelItem->click();
    EXPECT_EQ(listEntries(), QStringList({"/x/1.jpg", "/x/2.jpg", "/x/3.jpg"}));
    // The preview, the field and the current picture stay.
    EXPECT_EQ(d.CurrentPicture.toStdString(), a);
    EXPECT_EQ(d.JvComboEdit1->text().toStdString(), a);
    EXPECT_FALSE(d.Image1->picture().isNull());

    d.btnDelAll->click();
    EXPECT_EQ(d.ListBox1->count(), 0);
    d.AddListBoxItem("/x/1.jpg");
    EXPECT_EQ(d.ListBox1->count(), 1);
}

TEST_F(DialogTest, FieldNamingAPictureIsShownAndListedAtLoad) {
    TfrmConfig& d = showForPictures();
    const std::string a = picture("a.bmp", 3, 3);
    d.JvComboEdit1->setText(QString::fromStdString(a));
    d.LoadStoredProps();
    EXPECT_EQ(listEntries(), QStringList({QString::fromStdString(a)}));
    EXPECT_EQ(d.CurrentPicture.toStdString(), a);
    EXPECT_EQ(d.Image1->picture().size(), QSize(3, 3));

    // A field naming a file that does not load is cleared, with the current picture.
    d.JvComboEdit1->setText(QString::fromStdString(file("n.txt")));
    d.LoadStoredProps();
    EXPECT_TRUE(d.JvComboEdit1->text().isEmpty());
    EXPECT_TRUE(d.CurrentPicture.isEmpty());
    EXPECT_EQ(d.ListBox1->count(), 1);
    // A field naming nothing that exists is left alone.
    d.JvComboEdit1->setText("/no/such/file.bmp");
    d.LoadStoredProps();
    EXPECT_EQ(d.JvComboEdit1->text(), "/no/such/file.bmp");
}

} // namespace
} // namespace tarnwick::testing
