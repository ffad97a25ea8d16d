// The PNG writer: 8-bit gray or RGB rows, each filtered as png_filter.h chooses, compressed a
// piece of rows at a time by RowDeflater (deflate_encoder.h) into one zlib stream that goes out in
// IDAT chunks as it grows; libdeflate at a chosen level stays for measuring against.
#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "imaging/codecs/byte_order.h"
#include "imaging/codecs/deflate_encoder.h"
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

// The picture's rows, each filtered as png_filter.h chooses, handed to `take` in pieces of whole
// rows (`rowsPerPiece` at most) that sit in one buffer with kDeflateHistory bytes before them
// (the end of the previous piece) and kDeflateTail readable bytes after.
template <typename Take>
CodecStatus FilterRows(const WriteRequest &request, std::size_t rowsPerPiece, Take take) {
    const unsigned channels = request.color ? 3u : 1u;
    const std::size_t width = static_cast<std::size_t>(request.width);
    const std::size_t height = static_cast<std::size_t>(request.height);
    const std::size_t rowBytes = width * channels;
    const std::size_t rows = std::min(height, rowsPerPiece);
    const std::size_t margins = kDeflateHistory + kDeflateTail;
    if (rowBytes + 1 > (SIZE_MAX - margins) / rows) {
        return CodecStatus::kNoMemory;
    }
    // Two rows with the filter's margins: the row being filtered and the one above it.
    const std::size_t pitch = rowBytes + 2 * kPngFilterMargin;
    Bytes pair(static_cast<uint8_t *>(std::calloc(2, pitch)));
    Bytes piece(static_cast<uint8_t *>(std::calloc(1, (rowBytes + 1) * rows + margins)));
    PngRowFilter filter;
    if (!pair || !piece || !filter.Init(rowBytes, channels)) {
        return CodecStatus::kNoMemory;
    }
    uint8_t *current = pair.get() + kPngFilterMargin;
    uint8_t *prior = current + pitch;
    uint8_t *const start = piece.get() + kDeflateHistory;
    std::size_t filled = 0;
    for (std::size_t y = 0; y < height; ++y) {
        const uint8_t *source = request.pixels + y * request.step;
        if (request.color) {
            SwapRedBlue(source, current, width);
        } else {
            std::memcpy(current, source, rowBytes);
        }
        filter.Filter(current, prior, start + filled);
        filled += rowBytes + 1;
        std::swap(current, prior);
        if (filled == rows * (rowBytes + 1) || y + 1 == height) {
            const CodecStatus status = take(start, filled, y + 1 == height);
            if (status != CodecStatus::kOk) {
                return status;
            }
            std::memcpy(piece.get(), start + filled - kDeflateHistory, kDeflateHistory);
            filled = 0;
        }
    }
    return CodecStatus::kOk;
}

bool WriteHead(const WriteRequest &request, ByteSink &sink) {
    uint8_t ihdr[13] = {};
    PutBigEndian32(ihdr, static_cast<uint32_t>(request.width));
    PutBigEndian32(ihdr + 4, static_cast<uint32_t>(request.height));
    ihdr[8] = 8;                      // bit depth
    ihdr[9] = request.color ? 2 : 0;  // RGB or gray; deflate, adaptive filters, no interlace
    return sink.Write(kPngSignature, sizeof kPngSignature) &&
           WriteChunk(sink, "IHDR", ihdr, sizeof ihdr);
}

// Checks a request: pixels given, a size of at least 1 x 1, and rows (with the filter byte) that
// fit size_t with the filter's and the pieces' margins. Sets *rowBytes, a filtered row's bytes.
CodecStatus CheckRequest(const WriteRequest &request, std::size_t *rowBytes) {
    if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
        return CodecStatus::kCorrupt;
    }
    const std::size_t channels = request.color ? 3u : 1u;
    constexpr std::size_t kRowLimit = SIZE_MAX / 4 - 2 * kPngFilterMargin - 64;
    const std::size_t width = static_cast<std::size_t>(request.width);
    if (width > kRowLimit / channels ||
        width * channels + 1 > SIZE_MAX / static_cast<std::size_t>(request.height)) {
        return CodecStatus::kNoMemory;
    }
    *rowBytes = width * channels + 1;
    return CodecStatus::kOk;
}

// The default writer: the rows filtered and compressed by RowDeflater a piece at a time, the
// stream written in IDAT chunks of about a megabyte as it grows.
class PngWriter final : public ImageWriter {
  public:
    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override {
        std::size_t rowBytes = 0;
        if (const CodecStatus status = CheckRequest(request, &rowBytes);
            status != CodecStatus::kOk) {
            return status;
        }
        if (rowBytes > std::size_t{1} << 31) {
            return CodecStatus::kNoMemory;  // a row is at most one piece
        }
        const std::size_t rowsPerPiece = std::max<std::size_t>(1, kPieceBytes / rowBytes);
        const std::size_t pieceBytes =
            std::min<std::size_t>(rowsPerPiece, static_cast<std::size_t>(request.height)) *
            rowBytes;
        RowDeflater deflater;
        if (!deflater.Init(pieceBytes, request.color ? 3u : 1u)) {
            return CodecStatus::kNoMemory;
        }
        if (!WriteHead(request, sink)) {
            return CodecStatus::kIoError;
        }
        // Compressed bytes wait here until a chunk's worth (or the end) is reached.
        Bytes pending(static_cast<uint8_t *>(std::malloc(kIdatPiece)));
        if (!pending) {
            return CodecStatus::kNoMemory;
        }
        std::size_t waiting = 0;
        const CodecStatus status = FilterRows(
            request, rowsPerPiece, [&](const uint8_t *data, std::size_t size, bool last) {
                deflater.Compress(data, size, last);
                const uint8_t *out = deflater.Output();
                std::size_t left = deflater.OutputBytes();
                while (left != 0) {
                    const std::size_t n = std::min(left, kIdatPiece - waiting);
                    std::memcpy(pending.get() + waiting, out, n);
                    waiting += n;
                    out += n;
                    left -= n;
                    if (waiting == kIdatPiece || (last && left == 0)) {
                        if (!WriteChunk(sink, "IDAT", pending.get(), waiting)) {
                            return CodecStatus::kIoError;
                        }
                        waiting = 0;
                    }
                }
                deflater.Take();
                return CodecStatus::kOk;
            });
        if (status != CodecStatus::kOk) {
            return status;
        }
        return WriteChunk(sink, "IEND", nullptr, 0) ? CodecStatus::kOk : CodecStatus::kIoError;
    }

  private:
    // Filtered bytes compressed together: a block of the stream with its own codes.
    static constexpr std::size_t kPieceBytes = std::size_t{128} << 10;
};

// The writer at a libdeflate level, for measuring: every row filtered into one block, compressed
// at once (libdeflate takes only whole buffers).
class LibdeflatePngWriter final : public ImageWriter {
  public:
    explicit LibdeflatePngWriter(int level) : m_level(level) {}

    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override {
        std::size_t rowBytes = 0;
        if (const CodecStatus status = CheckRequest(request, &rowBytes);
            status != CodecStatus::kOk) {
            return status;
        }
        const std::size_t filteredBytes = rowBytes * static_cast<std::size_t>(request.height);
        Bytes filtered(static_cast<uint8_t *>(std::malloc(filteredBytes)));
        if (!filtered) {
            return CodecStatus::kNoMemory;
        }
        std::size_t filled = 0;
        CodecStatus status = FilterRows(request, std::max<std::size_t>(1, (1u << 20) / rowBytes),
                                        [&](const uint8_t *data, std::size_t size, bool) {
                                            std::memcpy(filtered.get() + filled, data, size);
                                            filled += size;
                                            return CodecStatus::kOk;
                                        });
        if (status != CodecStatus::kOk) {
            return status;
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
        bool written = WriteHead(request, sink);
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
    return std::unique_ptr<ImageWriter>(new (std::nothrow) PngWriter);
}

std::unique_ptr<ImageWriter> NewPngWriterAtLevel(int level) {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) LibdeflatePngWriter(level));
}

}  // namespace zav
