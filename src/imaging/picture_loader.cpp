#include "imaging/picture_loader.h"

#include "imaging/bmp_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "imaging/png_decoder.h"
#include "imaging/webp_decoder.h"
#include "platform/error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace tarnwick {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(FileHandle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Opens the picture file for reading. Non-blocking, so that a named pipe in the picture list
// cannot hang the saver in open().
FileHandle openPicture(const std::string& path, uint64_t& size) {
    FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) cannotOpenPicture(path, std::strerror(errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) cannotOpenPicture(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) cannotOpenPicture(path, std::strerror(EISDIR));
    if (!S_ISREG(info.st_mode)) cannotOpenPicture(path, "Not a regular file");
    if (info.st_size > kMaxPictureFileSize) cannotOpenPicture(path, std::strerror(EFBIG));
    size = static_cast<uint64_t>(info.st_size);
    return file;
}

} // namespace

std::string pictureExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot + 1);
}

void cannotOpenPicture(const std::string& path, const char* reason) {
    throw Error(format("Cannot open file \"%s\". %s", path.c_str(), reason));
}

std::unique_ptr<WorkBitmap> LoadPicture(const std::string& path, std::stop_token stop,
                                        PictureFormats formats) {
    const std::string ext = pictureExtension(path);
    const std::string kind = lower(ext);
    enum { Bmp, Jpeg, Png, Webp, Unknown } decoder = Unknown;
    const bool more = formats == PictureFormats::WithPngWebp;
    if (kind == "bmp")
        decoder = Bmp;
    else if (kind == "jpg" || kind == "jpeg")
        decoder = Jpeg;
    else if (more && kind == "png")
        decoder = Png;
    else if (more && kind == "webp")
        decoder = Webp;
    else
        throw Error(format("Unknown picture file extension (.%s)", ext.c_str()));
    throwIfStopped(stop);
    uint64_t size = 0;
    const FileHandle file = openPicture(path, size);
    // The decoders read the header first and refuse a picture too large for the limits, or one
    // whose data cannot fill it, before they allocate its pixels or read the rest of the file.
    switch (decoder) {
    case Bmp:
        return ReadBmp(file.get(), size, path, kMaxBitmapPixels, std::move(stop));
    case Jpeg:
        return ReadJpeg(file.get(), size, kMaxBitmapPixels, kDefaultMaxJpegScans, std::move(stop));
    case Png:
        return ReadPng(file.get(), size, kMaxBitmapPixels, std::move(stop));
    default:
        return ReadWebp(file.get(), size, kMaxBitmapPixels, std::move(stop));
    }
}

} // namespace tarnwick
