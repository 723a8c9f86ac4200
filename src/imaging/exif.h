#pragma once
// The one EXIF fact the pictures need: which way up a photo is stored.
#include <cstdint>
#include <span>

namespace tarnwick {

// The orientation (tag 0x0112 of the first image directory, 1 to 8) in the body of a JPEG APP1
// segment ("Exif\0\0" and a TIFF header, either byte order); 0 when the segment is no EXIF
// segment, the tag is missing, damaged or outside 1 to 8. Every read is checked against the
// segment's end and the directory is read once: a hostile segment costs at most one pass over
// its bytes.
int ExifOrientation(std::span<const uint8_t> app1);

} // namespace tarnwick
