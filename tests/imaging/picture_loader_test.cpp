#include "imaging/picture_loader.h"

#include "platform/error.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace tarnwick {
namespace {

using namespace tarnwick::testing;

std::string errorOf(const std::string& path) {
    try {
        LoadPicture(path);
    } catch (const Error& e) {
        return e.what();
    }
    return "(loaded)";
}

TEST(PictureLoaderTest, ExtensionPicksTheDecoderWhateverItsCase) {
    TempDir dir;
    const WorkBitmap picture = randomBitmap(6, 5, 1);
    const auto bmp = writeBmp(picture, {});
    const auto jpeg = writeJpeg(photoLikeBitmap(6, 5, 1), {});
    for (const char* name : {"a.bmp", "b.BMP", "c.Bmp"}) {
        writeFile(dir.path(name), bmp);
        const auto bitmap = LoadPicture(dir.path(name));
        EXPECT_EQ(differences(*bitmap, picture), "") << name;
    }
    for (const char* name : {"a.jpg", "b.JPG", "c.jpeg", "d.JPEG", "e.JpEg"}) {
        writeFile(dir.path(name), jpeg);
        EXPECT_EQ(LoadPicture(dir.path(name))->width(), 6) << name;
    }
    // The content does not choose: a JPEG named .bmp is an invalid bitmap, and the other way.
    writeFile(dir.path("jpeg.bmp"), jpeg);
    EXPECT_EQ(errorOf(dir.path("jpeg.bmp")), "Bitmap image is not valid");
    writeFile(dir.path("bmp.jpg"), bmp);
    EXPECT_EQ(errorOf(dir.path("bmp.jpg")).rfind("JPEG error #", 0), 0u);
}

TEST(PictureLoaderTest, OtherExtensionsAreUnknownBeforeTheFileIsRead) {
    const struct {
        const char* path;
        const char* message;
    } cases[] = {
        {"missing.png", "Unknown picture file extension (.png)"},
        {"photo.Gif", "Unknown picture file extension (.Gif)"},
        {"noextension", "Unknown picture file extension (.)"},
        {"folder.bmp/file", "Unknown picture file extension (.)"},
        {"trailing.", "Unknown picture file extension (.)"},
        {"two.bmp.ico", "Unknown picture file extension (.ico)"},
    };
    for (const auto& c : cases) EXPECT_EQ(errorOf(c.path), c.message) << c.path;
    EXPECT_EQ(pictureExtension("a/b.c/d.JPG"), "JPG");
}

TEST(PictureLoaderTest, UnreadableFilesSayWhy) {
    TempDir dir;
    const std::string missing = dir.path("missing.bmp");
    EXPECT_EQ(errorOf(missing), "Cannot open file \"" + missing + "\". No such file or directory");
    std::filesystem::create_directory(dir.path("folder.jpg"));
    EXPECT_EQ(errorOf(dir.path("folder.jpg")),
              "Cannot open file \"" + dir.path("folder.jpg") + "\". Is a directory");
    // A named pipe would block a plain open until someone writes to it.
    ASSERT_EQ(mkfifo(dir.path("pipe.jpg").c_str(), 0600), 0);
    EXPECT_EQ(errorOf(dir.path("pipe.jpg")),
              "Cannot open file \"" + dir.path("pipe.jpg") + "\". Not a regular file");
    writeFile(dir.path("empty.bmp"), {});
    EXPECT_EQ(errorOf(dir.path("empty.bmp")), "Bitmap image is not valid");
}

} // namespace
} // namespace tarnwick
