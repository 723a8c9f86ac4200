#include "imaging/picture_loader.h"

#include "imaging/bmp_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "platform/error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void cannotOpen(const std::string& path, const char* reason) {
    throw Error(format("Cannot open file \"%s\". %s", path.c_str(), reason));
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
    // Non-blocking, so that a named pipe in the picture list cannot hang the saver in open().
    const FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0) cannotOpen(path, std::strerror(errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) cannotOpen(path, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) cannotOpen(path, std::strerror(EISDIR));
    if (!S_ISREG(info.st_mode)) cannotOpen(path, "Not a regular file");
    if (info.st_size > kMaxPictureFileSize) cannotOpen(path, std::strerror(EFBIG));
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(file.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) cannotOpen(path, std::strerror(errno));
        if (n == 0) break; // a file that shrank meanwhile is decoded as it now is
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

} // namespace

std::string pictureExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot + 1);
}

std::unique_ptr<WorkBitmap> LoadPicture(const std::string& path, std::stop_token stop) {
    const std::string ext = pictureExtension(path);
    const std::string kind = lower(ext);
    const bool bmp = kind == "bmp";
    if (!bmp && kind != "jpg" && kind != "jpeg")
        throw Error(format("Unknown picture file extension (.%s)", ext.c_str()));
    if (stop.stop_requested()) throw PictureLoadCancelled();
    const std::vector<uint8_t> bytes = readWholeFile(path);
    if (stop.stop_requested()) throw PictureLoadCancelled();
    auto picture = bmp ? DecodeBmp(bytes) : DecodeJpeg(bytes);
    if (stop.stop_requested()) throw PictureLoadCancelled();
    return picture;
}

} // namespace tarnwick
