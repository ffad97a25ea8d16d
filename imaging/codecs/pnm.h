// Portable bitmap, graymap and pixmap files: the reader and the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

// Decodes P1 to P6, plain (text) and raw (bytes), with a maximum sample value from 1 to 65535
// (two bytes per raw sample above 255). Samples are scaled to 0..255 as netpbm does:
// (v * 255 + maxval / 2) / maxval. A sample above the maximum is corrupt data.
// The header step reads the head of the file (all of it where comments run past the head); raw
// 8-bit rows are read from the file straight into the buffer, other pictures decoded from the
// whole file.
class PnmReader final : public ImageReader {
  public:
    explicit PnmReader(ReaderInput file) : m_input(file) {}
    PnmReader(const PnmReader &) = delete;
    PnmReader &operator=(const PnmReader &) = delete;
    CodecStatus ReadHeader(ImageInfo *info) override;
    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override;

  private:
    CodecStatus ParseHeader(ImageInfo *info);
    CodecStatus ReadRawRows(uint8_t *bgr, std::size_t step);
    CodecStatus ReadPlainBits(uint8_t *bgr, std::size_t step) const;
    CodecStatus ReadRawBits(uint8_t *bgr, std::size_t step) const;
    CodecStatus ReadPlainSamples(uint8_t *bgr, std::size_t step) const;
    CodecStatus ReadRawSamples(uint8_t *bgr, std::size_t step) const;

    ReaderInput m_input;
    std::span<const uint8_t> m_file;  // the first bytes of the file read so far
    uint64_t m_fileSize = 0;
    bool m_headerRead = false;
    char m_kind = 0;  // '1' to '6'
    int32_t m_width = 0;
    int32_t m_height = 0;
    uint32_t m_maxval = 1;
    std::size_t m_dataOffset = 0;
};

// Writes the plain gray map (P2) or pixmap (P3) text: a "P2\n" or "P3\n" line, "width height\n",
// "255\n", then one line per row, top row first, every sample right-aligned in four characters;
// colour pixels as red, green, blue followed by two spaces.
class PnmWriter final : public ImageWriter {
  public:
    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override;
};

std::unique_ptr<ImageReader> NewPnmReader(ReaderInput file);
std::unique_ptr<ImageWriter> NewPnmWriter();

}  // namespace zav
