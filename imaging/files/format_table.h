// The format table: the formats in the order in which they are asked, which one reads a file
// (by its first bytes) and which one writes a name (by its extension).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "imaging/codecs/codec.h"

namespace zav {

// One file format: its description (whose part after the first "(" lists its extensions, each
// after a "."), its signature, and the makers of its reader and writer. Adding a format is its
// header, reader and writer, and one entry in the table.
struct ImageFormat {
    std::string_view name = {};  // short: "JPEG"
    std::string_view description = {};
    // Extensions (of those the description lists) whose names promise colour: a 1-channel picture
    // is written in colour under them. Space-separated.
    std::string_view colourExtensions = {};
    // The short name of a file of this format within its family, told by its first bytes (`size`
    // at least signatureLength); null: the format's name.
    std::string_view (*kindOf)(const uint8_t *head, std::size_t size) = nullptr;
    std::size_t signatureLength = 0;
    // Whether the first bytes of a file are this format's; `size` is at least signatureLength.
    bool (*matches)(const uint8_t *head, std::size_t size) = nullptr;
    // A reader over the file (a byte source or bytes in memory, which must outlive it). Null only
    // when memory is exhausted.
    std::unique_ptr<ImageReader> (*newReader)(ReaderInput file) = nullptr;
    std::unique_ptr<ImageWriter> (*newWriter)() = nullptr;
};

// The formats' entries.
const ImageFormat &BmpFormat();        // Windows bitmap
const ImageFormat &JpegFormat();       // JPEG
const ImageFormat &SunRasterFormat();  // Sun raster
const ImageFormat &PnmFormat();        // portable bitmap/graymap/pixmap
const ImageFormat &TiffFormat();       // TIFF
const ImageFormat &PngFormat();        // PNG, asked after the five

// The longest signature of any format: the bytes read from a file to choose its reader.
inline constexpr std::size_t kSignatureBytes = 8;

// The extension of a name: the run of ASCII letters and digits right after the name's last dot,
// folder parts included ("a.jpg~" gives "jpg", "a.jpg.tmp" "tmp", "dir.old/picture" "old"). Empty
// when the name has no dot or no letter or digit follows it.
std::string_view FileNameExtension(std::string_view name);

// The extensions a format's description lists: after the first "(", each "." is followed by one
// extension, the run of letters and digits after it.
std::vector<std::string_view> DescriptionExtensions(std::string_view description);

class FormatTable {
  public:
    // The formats in the order in which they are asked. They must outlive the table.
    explicit FormatTable(std::vector<const ImageFormat *> formats);

    // The table of the five formats and PNG after them, built on first use and never changed.
    static const FormatTable &Default();

    std::span<const ImageFormat *const> Formats() const { return m_formats; }

    // The first format whose signature length does not exceed head.size() (up to kSignatureBytes
    // bytes from the start of the file) and whose signature test passes; null when none does.
    const ImageFormat *FindReaderFormat(std::span<const uint8_t> head) const;

    // The first format that lists the name's extension (ASCII letters compared without regard to
    // case); null when the name has no extension or none lists it.
    const ImageFormat *FindWriterFormat(std::string_view name) const;

    // The first format that lists `extension` (the whole string; ASCII letters compared without
    // regard to case); null when it is empty, holds anything but letters and digits, or none lists
    // it.
    const ImageFormat *FindExtensionFormat(std::string_view extension) const;

  private:
    std::vector<const ImageFormat *> m_formats;
};

}  // namespace zav
