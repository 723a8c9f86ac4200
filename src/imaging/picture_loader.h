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

// The decoder is chosen by the extension, letter case ignored: "bmp" for BMP, "jpg" and "jpeg" for
// JPEG. Any other extension throws "Unknown picture file extension (.ext)" with the extension as
// written, before the file is opened. A file that cannot be read, a folder and anything but a
// regular file (a named pipe would block) throw "Cannot open file \"path\". <reason>"; decoder
// errors pass on unchanged. A stop requested on `stop` ends the load with PictureLoadCancelled.
std::unique_ptr<WorkBitmap> LoadPicture(const std::string& path, std::stop_token stop = {});

// A load given up because its caller asked it to stop: "Picture load cancelled".
class PictureLoadCancelled : public Error {
public:
    PictureLoadCancelled() : Error("Picture load cancelled") {}
};

} // namespace tarnwick
