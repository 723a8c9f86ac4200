#include "imaging/picture_loader.h"

#include "imaging/bmp_decoder.h"
#include "imaging/jpeg_decoder.h"
#include "platform/error.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace tarnwick {

namespace {

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

[[noreturn]] void cannotOpen(const std::string& path, int error) {
    throw Error(format("Cannot open file \"%s\". %s", path.c_str(), std::strerror(error)));
}

std::vector<uint8_t> readWholeFile(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) cannotOpen(path, errno);
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0) cannotOpen(path, errno);
    if (S_ISDIR(info.st_mode)) cannotOpen(path, EISDIR);
    if (info.st_size > kMaxPictureFileSize) cannotOpen(path, EFBIG);
    std::vector<uint8_t> bytes(static_cast<size_t>(info.st_size));
    const size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get())) cannotOpen(path, EIO);
    bytes.resize(got); // a file that shrank meanwhile is decoded as it now is
    return bytes;
}

} // namespace

std::string pictureExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return path.substr(dot + 1);
}

std::unique_ptr<WorkBitmap> LoadPicture(const std::string& path) {
    const std::string ext = pictureExtension(path);
    const std::string kind = lower(ext);
    const bool bmp = kind == "bmp";
    if (!bmp && kind != "jpg" && kind != "jpeg")
        throw Error(format("Unknown picture file extension (.%s)", ext.c_str()));
    const std::vector<uint8_t> bytes = readWholeFile(path);
    return bmp ? DecodeBmp(bytes) : DecodeJpeg(bytes);
}

} // namespace tarnwick
