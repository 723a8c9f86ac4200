#include "imaging/picture_loader.h"

#include "fuzz/seed_corpus.h"
#include "imaging/bmp_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "platform/error.h"
#include "support/pictures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>

// Every read of this test program passes through here, so a test can stop a load once a given
// number of bytes has been read, and count what is read after that.
namespace read_watch {
std::atomic<int64_t> bytes{0};
std::atomic<int64_t> stopAt{-1};
std::stop_source* stop = nullptr;

void count(ssize_t got) {
    if (got <= 0 || stopAt < 0) return;
    if ((bytes += got) >= stopAt && stop) stop->request_stop();
}
} // namespace read_watch

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
    static const auto real =
        reinterpret_cast<ssize_t (*)(int, void*, size_t)>(dlsym(RTLD_NEXT, "read"));
    const ssize_t got = real(fd, buffer, size);
    read_watch::count(got);
    return got;
}

extern "C" ssize_t preadv(int fd, const iovec* parts, int count, off_t offset) {
    static const auto real =
        reinterpret_cast<ssize_t (*)(int, const iovec*, int, off_t)>(dlsym(RTLD_NEXT, "preadv"));
    const ssize_t got = real(fd, parts, count, offset);
    read_watch::count(got);
    return got;
}

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
    // PNG and WebP only where the caller asks for them (the hack); elsewhere they stay unknown.
    writeFile(dir.path("a.PNG"), writePng(pngOf(picture)));
    writeFile(dir.path("b.webp"), writeWebp(picture, true));
    for (const char* name : {"a.PNG", "b.webp"}) {
        EXPECT_EQ(errorOf(dir.path(name)).rfind("Unknown picture file extension", 0), 0u) << name;
        const auto bitmap = LoadPicture(dir.path(name), {}, PictureFormats::WithPngWebp);
        EXPECT_EQ(differences(*bitmap, picture), "") << name;
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

// The loader reads files in pieces at the header's offsets (rows straight into the bitmap where
// it can): every variant must come out as the decoders make it from the whole file in memory,
// and as it was written.
TEST(PictureLoaderTest, FilesReadInPiecesDecodeAsFromMemory) {
    TempDir dir;
    // More rows than are read at once, with odd row lengths.
    const WorkBitmap direct = randomBitmap(37, 150, 4);
    const IndexedPicture indexed = randomIndexed(29, 141, 200, 5);
    const struct {
        const char* name;
        std::vector<uint8_t> file;
        const WorkBitmap* original;
    } cases[] = {
        {"24 bottom-up", writeBmp(direct, {24, BmpHeader::Info, BmpCompression::Rgb, false, {}}),
         &direct},
        {"24 top-down", writeBmp(direct, {24, BmpHeader::V5, BmpCompression::Rgb, true, {}}),
         &direct},
        {"32 bits", writeBmp(direct, {32, BmpHeader::Info, BmpCompression::Rgb, false, {}}),
         &direct},
        {"8-bit palette", writeBmp(indexed, {8, BmpHeader::Info, BmpCompression::Rgb, false, {}}),
         nullptr},
    };
    const WorkBitmap expanded = indexed.expand();
    for (const auto& c : cases) {
        writeFile(dir.path("p.bmp"), c.file);
        const auto loaded = LoadPicture(dir.path("p.bmp"));
        EXPECT_EQ(differences(*loaded, c.original ? *c.original : expanded), "") << c.name;
        // Every cut is not valid, found before the pixels are allocated.
        for (size_t n = 0; n < c.file.size(); n += 97) {
            writeFile(dir.path("cut.bmp"), {c.file.begin(), c.file.begin() + long(n)});
            ASSERT_EQ(errorOf(dir.path("cut.bmp")), "Bitmap image is not valid") << c.name << n;
        }
    }
    for (const auto& seed : testing::bmpSeeds()) {
        writeFile(dir.path("s.bmp"), seed.bytes);
        EXPECT_EQ(differences(*LoadPicture(dir.path("s.bmp")), *DecodeBmp(seed.bytes)), "")
            << seed.name;
    }
    for (const auto& seed : testing::jpegSeeds()) {
        writeFile(dir.path("s.jpg"), seed.bytes);
        EXPECT_EQ(differences(*LoadPicture(dir.path("s.jpg")), *DecodeJpeg(seed.bytes)), "")
            << seed.name;
        // Cut short it still shows (grey below), as from memory.
        const std::vector<uint8_t> cut(seed.bytes.begin(), seed.bytes.end() - 40);
        writeFile(dir.path("cut.jpg"), cut);
        EXPECT_EQ(differences(*LoadPicture(dir.path("cut.jpg")), *DecodeJpeg(cut)), "")
            << seed.name;
    }
}

// What a thread has read so far (the rchar line of its io accounting); -1 once it has ended.
int64_t bytesRead(const std::string& ioFile) {
    std::ifstream io(ioFile);
    std::string key;
    int64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return -1;
}

// A worker preparing the next picture must be able to give up at once.
TEST(PictureLoaderTest, AStopEndsTheLoadWithPictureLoadCancelled) {
    TempDir dir;
    const WorkBitmap picture = photoLikeBitmap(2400, 2000, 3);
    writeFile(dir.path("p.jpg"), writeJpeg(picture, {JpegFormat::YCbCr420, 90, true, 0}));
    writeFile(dir.path("p.bmp"),
              writeBmp(picture, {24, BmpHeader::Info, BmpCompression::Rgb, false, {}}));
    writeFile(dir.path("q.bmp"),
              writeBmp(picture, {16, BmpHeader::Info, BmpCompression::Rgb, false, {}}));
    writeFile(dir.path("p.png"), writePng(pngOf(picture)));
    writeFile(dir.path("p.webp"), writeWebp(picture, false, 95));
    const auto LoadPicture = [](const std::string& path, std::stop_token stop = {}) {
        return tarnwick::LoadPicture(path, stop, PictureFormats::WithPngWebp);
    };
    for (const char* name : {"p.jpg", "p.bmp", "q.bmp", "p.png", "p.webp"}) {
        std::stop_source stopped;
        stopped.request_stop();
        try {
            LoadPicture(dir.path(name), stopped.get_token());
            ADD_FAILURE() << name << " loaded despite the stop";
        } catch (const PictureLoadCancelled& e) {
            EXPECT_STREQ(e.what(), "Picture load cancelled");
        }
        // Requested while the decoder runs: once the worker has read its first 100 kB (the
        // header and at least one piece of pixel data), of files several times that size. A
        // decode that still wins the race on a loaded machine proves nothing, so a few tries are
        // allowed.
        bool cancelled = false;
        for (int attempt = 0; attempt < 20 && !cancelled; ++attempt) {
            std::stop_source stop;
            std::atomic<pid_t> tid{0};
            std::thread worker([&] {
                tid = gettid();
                try {
                    LoadPicture(dir.path(name), stop.get_token());
                } catch (const PictureLoadCancelled&) {
                    cancelled = true;
                }
            });
            while (tid == 0) std::this_thread::yield();
            const std::string io = "/proc/self/task/" + std::to_string(tid) + "/io";
            for (int64_t read = 0; read < 100000 && read >= 0;) read = bytesRead(io);
            stop.request_stop();
            worker.join();
        }
        EXPECT_TRUE(cancelled) << name;
        // The loader keeps nothing between loads: a later one without a stop succeeds.
        EXPECT_EQ(LoadPicture(dir.path(name))->height(), 2000) << name;
    }
}

// Long files stop within a chunk: a 64 MB run-length stream, and 64 MB of JPEG comments before
// the frame (read while the header is parsed).
TEST(PictureLoaderTest, AStopReadsAtMostAChunkMore) {
    TempDir dir;
    const int32_t rows = 1024;
    // Runs reaching past the right edge draw nothing and cost nothing but reading.
    std::vector<uint8_t> row(2 * 32767, 255);
    for (size_t i = 1; i < row.size(); i += 2) row[i] = 1;
    row.insert(row.end(), {0, 0});
    std::vector<uint8_t> codes;
    codes.reserve(row.size() * rows + 2);
    for (int32_t y = 0; y < rows; ++y) codes.insert(codes.end(), row.begin(), row.end());
    codes.insert(codes.end(), {0, 1});
    std::vector<uint8_t> rle =
        writeBmp(IndexedPicture{16, rows, std::vector<uint8_t>(16 * rows), {{1, 2, 3}, {4, 5, 6}}},
                 {8, BmpHeader::Info, BmpCompression::Rle8, false, {}});
    const size_t pixelStart = rle[10] | rle[11] << 8;
    rle.resize(pixelStart);
    rle.insert(rle.end(), codes.begin(), codes.end());
    writeFile(dir.path("long.bmp"), rle);

    const std::vector<uint8_t> small =
        writeJpeg(photoLikeBitmap(64, 64, 1), {JpegFormat::YCbCr420, 90, false, 0});
    std::vector<uint8_t> commented(small.begin(), small.begin() + 2);
    std::vector<uint8_t> comment{0xFF, 0xFE, 0xFF, 0xFF};
    comment.resize(2 + 0xFFFF, 'c');
    for (int i = 0; i < 1024; ++i)
        commented.insert(commented.end(), comment.begin(), comment.end());
    commented.insert(commented.end(), small.begin() + 2, small.end());
    writeFile(dir.path("long.jpg"), commented);

    for (const char* name : {"long.bmp", "long.jpg"}) {
        std::stop_source stop;
        read_watch::stop = &stop;
        read_watch::bytes = 0;
        read_watch::stopAt = 100000;
        EXPECT_THROW(LoadPicture(dir.path(name), stop.get_token()), PictureLoadCancelled) << name;
        read_watch::stopAt = -1;
        read_watch::stop = nullptr;
        EXPECT_LT(read_watch::bytes - 100000, 1 << 20) << name;
    }
}

} // namespace
} // namespace tarnwick
