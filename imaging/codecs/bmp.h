// Windows bitmap files: the reader and the writer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

// Decodes info headers of 12 bytes (OS/2) and of 16 bytes or more; 1, 4, 8, 16, 24 and 32 bits
// per pixel, uncompressed, with bit fields (16 and 32 bits), or run-length coded (RLE8, RLE4).
// Rows must be stored bottom-up: a negative height is refused. The header step reads the head of
// the file (and the palette, where it lies past it); 24-bit rows are read from the file straight
// into the buffer, other pictures decoded from the whole file.
class BmpReader final : public ImageReader {
  public:
    explicit BmpReader(ReaderInput file) : m_input(file) {}
    BmpReader(const BmpReader &) = delete;
    BmpReader &operator=(const BmpReader &) = delete;
    CodecStatus ReadHeader(ImageInfo *info) override;
    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override;

  private:
    struct Channel {
        uint32_t mask = 0;
        int shift = 0;
        uint32_t max = 0;  // mask >> shift
    };

    CodecStatus ReadPalette(uint64_t paletteOffset, int entrySize, uint32_t colorsUsed);
    // Bytes of uncompressed pixel data the picture needs (the last row without its padding).
    uint64_t UncompressedBytes() const;
    CodecStatus ReadUncompressed(uint8_t *bgr, std::size_t step) const;
    CodecStatus ReadRunLength(uint8_t *bgr, std::size_t step) const;
    void SetMasks(uint32_t red, uint32_t green, uint32_t blue);
    uint8_t Scale(uint32_t pixel, const Channel &channel) const;

    // 24-bit rows are stored as the buffer holds them, bottom row first.
    bool FindPlainRows(PlainRows *rows) const;

    ReaderInput m_input;
    std::span<const uint8_t> m_file;  // the first bytes of the file read so far
    uint64_t m_fileSize = 0;
    bool m_headerRead = false;
    int32_t m_width = 0;
    int32_t m_height = 0;
    int m_bitsPerPixel = 0;
    uint32_t m_compression = 0;
    uint64_t m_dataOffset = 0;
    bool m_defaultMasks = true;
    Channel m_red, m_green, m_blue;
    // Blue, green, red for each index; indices past the file's palette are black.
    std::array<std::array<uint8_t, 3>, 256> m_palette{};
};

// Writes 8-bit gray with a 256-entry gray palette (pixel data at offset 1078) or 24-bit colour
// (offset 54), a 40-byte info header, rows bottom-up padded with zeros to 4 bytes.
class BmpWriter final : public ImageWriter {
  public:
    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override;
};

std::unique_ptr<ImageReader> NewBmpReader(ReaderInput file);
std::unique_ptr<ImageWriter> NewBmpWriter();

}  // namespace zav
