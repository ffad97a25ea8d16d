// Loading a file into a new buffer and saving a buffer to a file, by path, with the format table.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "imaging/format_registry.h"
#include "imaging/image_record.h"

namespace zav {

// The file status for a codec's status.
int32_t FileStatusFromCodec(CodecStatus status) noexcept;

// Whether a picture of this size can be loaded: ZAV_FILE_OK, ZAV_FILE_CORRUPT for a size below 1,
// ZAV_FILE_TOO_LARGE when its 8-bit, 3-channel buffer would exceed 2^30 bytes.
int32_t PictureSizeStatus(const ImageInfo &info) noexcept;

// Chooses the reader for a file in memory by its first bytes and runs its header step. Returns
// ZAV_FILE_OK with *filter, *reader and *info set, or why the file cannot be read.
int32_t ReadImageHeader(std::span<const uint8_t> file, const ImageFormatRegistry &registry,
                        const ImageFormatFilter **filter, std::unique_ptr<ImageReader> *reader,
                        ImageInfo *info);

// Loads the file at `path` (opened as given) into a new 8-bit, 3-channel buffer from the aligned
// allocator, described by *image. Returns ZAV_FILE_OK, or why nothing was loaded; then nothing is
// allocated and *image is untouched.
int32_t LoadImageFile(const char *path, const ImageFormatRegistry &registry, ImageHeader *image);

// The same for a file already in memory (the reader is chosen by its first bytes).
int32_t LoadImageBytes(std::span<const uint8_t> file, const ImageFormatRegistry &registry,
                       ImageHeader *image);

// Saves an 8-bit buffer of 1 or 3 channels (the caller has checked it) to `path` in the format of
// the path's extension. Returns ZAV_FILE_OK or why no file was written; a failed save leaves no
// file behind and an earlier file of that name as it was.
int32_t SaveImageFile(const char *path, const ImageFormatRegistry &registry,
                      const ImageHeader &image, float quality);

}  // namespace zav
