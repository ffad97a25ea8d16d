// EXIF tags of a picture: the camera's make and model, the time it was taken, its orientation,
// read from a JPEG's Exif segment or a TIFF file's first directory and its Exif directory.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

namespace zav::job {

// Reads `size` bytes at `offset` of a file into `out`; false when they are not all there.
using ReadAt = std::function<bool(uint64_t offset, std::size_t size, uint8_t *out)>;

struct ExifTags {
    std::map<std::string, std::string, std::less<>> text;  // by tag name (ExifTagNames)
    std::optional<int> orientation;                        // 1 to 8
    bool fromTiff = false;  // read from a TIFF file's own directory (its reader applies it)
};

// The tags of a JPEG or TIFF file read through `read` (a file of `fileSize` bytes); none for
// other files or where the data are damaged (a damaged tag is left out, never an error).
ExifTags ReadExif(const ReadAt &read, uint64_t fileSize);

// The same for a file by path, or for bytes in memory.
ExifTags ReadExifFile(const std::string &path);
ExifTags ReadExifBytes(std::span<const uint8_t> bytes);

}  // namespace zav::job
