// Loading a file into a new buffer, saving a buffer to a file, and what a file holds, each by its
// name through the format table.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "imaging/buffer/image_record.h"
#include "imaging/files/format_table.h"

namespace zav {

// Whether a name passes the file-name rules before it is used, or is opened as given.
enum class NameRules { kApply, kSkip };

// Whether a picture of this size can be loaded: ZAV_FILE_OK, ZAV_FILE_CORRUPT for a size below 1,
// ZAV_FILE_TOO_LARGE when its 8-bit, 3-channel buffer would exceed 2^30 bytes.
int32_t PictureSizeStatus(const ImageInfo &info) noexcept;

// Loads the file `name` into a new 8-bit, 3-channel buffer from the aligned allocator, described
// by *image. Returns ZAV_FILE_OK, or why nothing was loaded; then nothing is allocated and *image
// is untouched. `reduce` (2, 4 or 8) asks for 1/reduce of each side, rounded up, from a reader that
// decodes at reduced scale (JPEG); other pictures load at full size, as with 1.
int32_t LoadImageFile(const char *name, NameRules rules, ImageHeader *image, unsigned reduce = 1);

// The same for a file already in memory, or for any byte source (the reader is chosen by the
// first bytes, the format table asked once).
int32_t LoadImageBytes(std::span<const uint8_t> file, ImageHeader *image, unsigned reduce = 1);
int32_t LoadImageSource(ByteSource &source, ImageHeader *image, unsigned reduce = 1);

// Whether a save replaces a file of its name or keeps it (created exclusively, ZAV_FILE_EXISTS).
enum class SaveExisting { kReplace, kKeep };

// Saves the buffer `imageData` of the given geometry (rows padded to 4 bytes) to the file `name` in
// the format of the name's extension, without changing it. Only 8-bit buffers of 1 or 3 channels,
// with data and sizes of at least 1, are written (ZAV_FILE_BAD_BUFFER otherwise). Returns
// ZAV_FILE_OK or why no file was written; a failed save leaves no file behind and an earlier file
// of that name as it was. A name that is a symbolic link is refused (ZAV_FILE_IS_LINK).
// A relative name is resolved from the folder open as `base` (AT_FDCWD: the working folder).
int32_t SaveImageFile(const char *name, NameRules rules, const uint8_t *imageData, int32_t width,
                      int32_t height, int32_t depth, int32_t channels, float quality,
                      SaveExisting existing = SaveExisting::kReplace, int base = AT_FDCWD);

// Encodes the buffer as SaveImageFile would into a new block from malloc, in the format that lists
// `extension` (the whole string: letters and digits, case ignored). On ZAV_FILE_OK *bytes and
// *size hold the bytes a file save writes (a block the caller frees with free()).
int32_t SaveImageMemory(std::string_view extension, const uint8_t *imageData, int32_t width,
                        int32_t height, int32_t depth, int32_t channels, float quality,
                        uint8_t **bytes, std::size_t *size);

// What the file `name` holds, from its header: its format's description, its size and whether it
// holds colour.
// Reads only what the header step needs.
int32_t ProbeImageFile(const char *name, NameRules rules, const ImageFormat **format,
                       ImageInfo *info);
int32_t ProbeImageSource(ByteSource &source, const ImageFormat **format, ImageInfo *info);

}  // namespace zav
