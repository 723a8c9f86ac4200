#pragma once
// The picture loader of the saver and the settings dialog: a file to a 24-bit working bitmap.
#include "imaging/bitmap.h"
#include "platform/error.h"

#include <cstdint>
#include <memory>
#include <stop_token>
#include <string>

namespace tarnwick {

// Picture files larger than this are refused before they are read (1 GiB is far above the
// largest BMP the bitmap limits allow).
inline constexpr int64_t kMaxPictureFileSize = int64_t{1} << 30;

// The text after the last dot of the file name (not of a folder name), as written; empty when
// there is none.
std::string pictureExtension(const std::string& path);

// Which decoders a loader may choose: the saver and the settings dialog read BMP and JPEG; the
// hack also reads the PNG and WebP files of the folders XScreenSaver users point it at.
enum class PictureFormats { BmpJpeg, WithPngWebp };

// The decoder is chosen by the extension, letter case ignored: "bmp" for BMP, "jpg" and "jpeg" for
// JPEG, and with PictureFormats::WithPngWebp "png" for PNG and "webp" for WebP. Any other
// extension throws "Unknown picture file extension (.ext)" with the extension as
// written, before the file is opened. A file that cannot be read, a folder and anything but a
// regular file (a named pipe would block) throw "Cannot open file \"path\". <reason>"; decoder
// errors pass on unchanged.
// A stop requested on `stop` ends the load within a few rows (a worker preparing the next picture
// must let the saver quit at once) with PictureLoadCancelled; nothing it allocated stays behind.
// Safe to call from any thread: it shares nothing mutable.
std::unique_ptr<WorkBitmap> LoadPicture(const std::string& path, std::stop_token stop = {},
                                        PictureFormats formats = PictureFormats::BmpJpeg);

class PictureLoadCancelled : public Error {
public:
    PictureLoadCancelled() : Error("Picture load cancelled") {}
};

// The loader's error for a file it cannot open or read: "Cannot open file \"path\". <reason>".
[[noreturn]] void cannotOpenPicture(const std::string& path, const char* reason);

// Throws PictureLoadCancelled once a stop has been requested.
inline void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested()) throw PictureLoadCancelled();
}

} // namespace tarnwick
