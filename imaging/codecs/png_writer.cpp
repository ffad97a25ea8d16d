// The PNG writer: every row filtered into one block, the block compressed at once by libdeflate
// into a zlib stream, the stream written in IDAT chunks. libdeflate compresses only whole
// buffers, so the filtered rows and the stream are held in memory together (about twice the
// picture at most).
#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "imaging/codecs/byte_order.h"
#include "imaging/codecs/png.h"
#include "imaging/codecs/png_filter.h"

namespace zav {

namespace {

struct FreeBytes {
    void operator()(uint8_t *p) const { std::free(p); }
};
using Bytes = std::unique_ptr<uint8_t[], FreeBytes>;

struct FreeCompressor {
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

// The stream goes out in chunks of at most this many bytes.
constexpr std::size_t kIdatPiece = std::size_t{1} << 20;

void PutBigEndian32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

// One chunk: length, type, data, and the CRC of type and data.
bool WriteChunk(ByteSink &sink, const char (&type)[5], const uint8_t *data, std::size_t size) {
    uint8_t head[8];
    PutBigEndian32(head, static_cast<uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    uint32_t crc = libdeflate_crc32(0, head + 4, 4);
    if (size != 0) {
        crc = libdeflate_crc32(crc, data, size);
    }
    uint8_t tail[4];
    PutBigEndian32(tail, crc);
    return sink.Write(head, sizeof head) && (size == 0 || sink.Write(data, size)) &&
           sink.Write(tail, sizeof tail);
}

class PngWriter final : public ImageWriter {
  public:
    explicit PngWriter(int level) : m_level(level) {}

    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override {
        if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
            return CodecStatus::kCorrupt;
        }
        const unsigned channels = request.color ? 3u : 1u;
        const std::size_t width = static_cast<std::size_t>(request.width);
        const std::size_t height = static_cast<std::size_t>(request.height);
        constexpr std::size_t kRowLimit = SIZE_MAX / 4 - 2 * kPngFilterMargin;
        if (width > kRowLimit / channels) {
            return CodecStatus::kNoMemory;
        }
        const std::size_t rowBytes = width * channels;
        if (rowBytes + 1 > SIZE_MAX / height) {
            return CodecStatus::kNoMemory;
        }
        const std::size_t filteredBytes = (rowBytes + 1) * height;

        // Two rows with the filter's margins: the row being filtered and the one above it.
        const std::size_t pitch = rowBytes + 2 * kPngFilterMargin;
        Bytes rows(static_cast<uint8_t *>(std::calloc(2, pitch)));
        Bytes filtered(static_cast<uint8_t *>(std::malloc(filteredBytes)));
        PngRowFilter filter;
        if (!rows || !filtered || !filter.Init(rowBytes, channels)) {
            return CodecStatus::kNoMemory;
        }
        uint8_t *current = rows.get() + kPngFilterMargin;
        uint8_t *prior = current + pitch;
        for (std::size_t y = 0; y < height; ++y) {
            const uint8_t *source = request.pixels + y * request.step;
            if (request.color) {
                SwapRedBlue(source, current, width);
            } else {
                std::memcpy(current, source, rowBytes);
            }
            filter.Filter(current, prior, filtered.get() + y * (rowBytes + 1));
            std::swap(current, prior);
        }

        const std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor(
            libdeflate_alloc_compressor(m_level));
        if (!compressor) {
            return CodecStatus::kNoMemory;
        }
        const std::size_t bound = libdeflate_zlib_compress_bound(compressor.get(), filteredBytes);
        Bytes stream(bound >= filteredBytes ? static_cast<uint8_t *>(std::malloc(bound)) : nullptr);
        if (!stream) {
            return CodecStatus::kNoMemory;
        }
        const std::size_t streamBytes = libdeflate_zlib_compress(
            compressor.get(), filtered.get(), filteredBytes, stream.get(), bound);
        if (streamBytes == 0) {
            return CodecStatus::kNoMemory;
        }
        filtered.reset();

        uint8_t ihdr[13] = {};
        PutBigEndian32(ihdr, static_cast<uint32_t>(request.width));
        PutBigEndian32(ihdr + 4, static_cast<uint32_t>(request.height));
        ihdr[8] = 8;                      // bit depth
        ihdr[9] = request.color ? 2 : 0;  // RGB or gray; deflate, adaptive filters, no interlace
        bool written = sink.Write(kPngSignature, sizeof kPngSignature) &&
                       WriteChunk(sink, "IHDR", ihdr, sizeof ihdr);
        for (std::size_t at = 0; written && at < streamBytes; at += kIdatPiece) {
            const std::size_t piece = std::min(kIdatPiece, streamBytes - at);
            written = WriteChunk(sink, "IDAT", stream.get() + at, piece);
        }
        written = written && WriteChunk(sink, "IEND", nullptr, 0);
        return written ? CodecStatus::kOk : CodecStatus::kIoError;
    }

  private:
    int m_level;
};

}  // namespace

std::unique_ptr<ImageWriter> NewPngWriter() {
    return NewPngWriterAtLevel(kPngCompressionLevel);
}

std::unique_ptr<ImageWriter> NewPngWriterAtLevel(int level) {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) PngWriter(level));
}

}  // namespace zav
