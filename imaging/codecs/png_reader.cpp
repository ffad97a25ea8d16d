// The PNG reader: libspng over the file in memory, row by row into the buffer; the commonest
// files (8 bits, not interlaced) take a faster way for their image data.
#include <libdeflate.h>
#include <spng.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "imaging/codecs/byte_order.h"
#include "imaging/codecs/png.h"
#include "imaging/codecs/png_inflate.h"
#include "imaging/codecs/png_unfilter.h"

namespace zav {

namespace {

// Sizes libspng refuses before it allocates anything: no picture beyond them fits the decode limit
// (a row of 3 bytes per pixel, at least 4 bytes per row).
constexpr uint32_t kMaxWidth = static_cast<uint32_t>(ZAV_MAX_BLOCK_BYTES / 3);
constexpr uint32_t kMaxHeight = static_cast<uint32_t>(ZAV_MAX_BLOCK_BYTES / 4);
// The longest chunk other than image data (libspng does not limit those), and the most bytes of
// ancillary chunks kept: far above what real files carry. libspng wants the first no larger than
// the second.
constexpr std::size_t kMaxChunkBytes = std::size_t{1} << 26;
constexpr std::size_t kMaxChunkCache = std::size_t{1} << 26;
// The most bytes one byte of a deflate stream gives (a run of 258-byte matches, each coded in one
// bit at best, gives 1032 to the byte; the zlib header and check value give none).
constexpr uint64_t kMaxInflateRatio = 1032;
// Image data inflated in one block by libdeflate up to this size; larger streams are inflated as
// they stream in (png_inflate.h), so that no block beyond it is made for them.
constexpr std::size_t kMaxDirectInflate = std::size_t{64} << 20;
// Adam7: each pass's first column and row and their steps.
constexpr uint32_t kPassX0[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t kPassDx[7] = {8, 8, 4, 4, 2, 2, 1};
constexpr uint32_t kPassY0[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint32_t kPassDy[7] = {8, 8, 8, 4, 4, 2, 2};

CodecStatus StatusFromSpng(int error) {
    switch (error) {
        case SPNG_OK:
        case SPNG_EOI:
            return CodecStatus::kOk;
        case SPNG_EMEM:
            return CodecStatus::kNoMemory;
        case SPNG_IO_EOF:
        case SPNG_EOF:
            return CodecStatus::kTruncated;
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT:
        case SPNG_EOVERFLOW:  // the picture's sizes (a 32-bit address space)
            return CodecStatus::kTooLarge;
        case SPNG_ECHUNK_LIMITS:
            return CodecStatus::kMetadataLimit;  // text and other ancillary chunks, not the picture
        case SPNG_IO_ERROR:
            return CodecStatus::kReadFailed;
        default:
            return CodecStatus::kCorrupt;
    }
}

// Reading the chunks around the image data: libspng's overflow there comes from an ancillary
// chunk's contents, never from the picture's size.
CodecStatus StatusFromSpngChunks(int error) {
    return error == SPNG_EOVERFLOW ? CodecStatus::kCorrupt : StatusFromSpng(error);
}

// A chunk whose length, type, data and CRC all lie within the file.
struct Chunk {
    const uint8_t *type;  // the data follows the 4 bytes of the type
    uint32_t length;
    std::size_t next;  // where the next chunk starts
};

bool ChunkAt(std::span<const uint8_t> file, std::size_t at, Chunk *chunk) {
    if (at > file.size() || file.size() - at < 12) {
        return false;
    }
    chunk->type = file.data() + at + 4;
    chunk->length = LoadBigEndian32(file.data() + at);
    if (chunk->length > file.size() - at - 12) {
        return false;
    }
    chunk->next = at + 12 + std::size_t{chunk->length};
    return true;
}

bool Is(const Chunk &chunk, const char *type) {
    return std::memcmp(chunk.type, type, 4) == 0;
}

bool CrcMatches(const Chunk &chunk) {
    return libdeflate_crc32(0, chunk.type, 4 + std::size_t{chunk.length}) ==
           LoadBigEndian32(chunk.type + 4 + chunk.length);
}

// Whether the chunks from the signature on lead to a whole end chunk within the file. libspng
// accepts a file that ends right after its image data; such a file is short.
bool ReachesEndChunk(std::span<const uint8_t> file) {
    std::size_t at = sizeof kPngSignature;
    while (file.size() - at >= 12) {
        const uint32_t length = LoadBigEndian32(file.data() + at);
        if (std::memcmp(file.data() + at + 4, "IEND", 4) == 0) {
            return true;
        }
        if (length > file.size() - at - 12) {
            return false;
        }
        at += 12 + std::size_t{length};
    }
    return false;
}

// Where the image data lies: one run of IDAT chunks, `bytes` in all, and after it nothing but
// ancillary chunks up to the end chunk, every CRC matching. False for any other file, which
// libspng then judges.
struct ImageData {
    std::size_t first = 0;  // the first IDAT chunk
    std::size_t chunks = 0;
    std::size_t bytes = 0;
};

bool FindImageData(std::span<const uint8_t> file, ImageData *data) {
    Chunk chunk;
    std::size_t at = sizeof kPngSignature;
    for (;; at = chunk.next) {
        if (!ChunkAt(file, at, &chunk)) {
            return false;
        }
        if (Is(chunk, "IDAT")) {
            break;
        }
    }
    data->first = at;
    for (; ChunkAt(file, at, &chunk) && Is(chunk, "IDAT"); at = chunk.next) {
        if (!CrcMatches(chunk)) {
            return false;
        }
        ++data->chunks;
        data->bytes += chunk.length;  // within the file's size
    }
    for (; ChunkAt(file, at, &chunk) && CrcMatches(chunk); at = chunk.next) {
        if (Is(chunk, "IEND")) {
            return true;
        }
        if ((chunk.type[0] & 0x20) == 0) {  // a critical chunk
            return false;
        }
    }
    return false;
}

// The data of the IDAT chunks FindImageData found, one chunk at a time (empty ones skipped).
class IdatPieces final : public StreamPieces {
  public:
    IdatPieces(std::span<const uint8_t> file, const ImageData &data)
        : m_file(file), m_at(data.first), m_left(data.chunks) {}

    std::span<const uint8_t> Next() override {
        Chunk chunk;
        while (m_left != 0 && ChunkAt(m_file, m_at, &chunk)) {
            --m_left;
            m_at = chunk.next;
            if (chunk.length != 0) {
                return {chunk.type + 4, chunk.length};
            }
        }
        return {};
    }

  private:
    std::span<const uint8_t> m_file;
    std::size_t m_at;
    std::size_t m_left;
};

struct DecompressorFree {
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

// Samples per pixel of a colour type: gray or palette index, gray and alpha, RGB, RGBA.
unsigned SamplesPerPixel(uint8_t colorType) {
    switch (colorType) {
        case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
            return 2;
        case SPNG_COLOR_TYPE_TRUECOLOR:
            return 3;
        case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
            return 4;
        default:
            return 1;
    }
}

// Bytes of one stored row of `width` pixels (its filter byte included) at `bitsPerPixel`.
uint64_t StoredRowBytes(uint64_t width, unsigned bitsPerPixel) {
    return width == 0 ? 0 : (width * bitsPerPixel + 7) / 8 + 1;
}

// The fewest bytes the inflated image data of a picture must hold: every pass's rows, each with
// its filter byte.
uint64_t InflatedBytes(const spng_ihdr &ihdr, unsigned bitsPerPixel) {
    if (ihdr.interlace_method == SPNG_INTERLACE_NONE) {
        return StoredRowBytes(ihdr.width, bitsPerPixel) * ihdr.height;
    }
    uint64_t total = 0;
    for (int pass = 0; pass < 7; ++pass) {
        const uint64_t w = ihdr.width > kPassX0[pass]
                               ? (ihdr.width - kPassX0[pass] + kPassDx[pass] - 1) / kPassDx[pass]
                               : 0;
        const uint64_t h = ihdr.height > kPassY0[pass]
                               ? (ihdr.height - kPassY0[pass] + kPassDy[pass] - 1) / kPassDy[pass]
                               : 0;
        total += StoredRowBytes(w, bitsPerPixel) * h;
    }
    return total;
}

// The bytes of the last stored row: the last row of the last pass that has pixels.
uint64_t LastRowBytes(const spng_ihdr &ihdr, unsigned bitsPerPixel) {
    if (ihdr.interlace_method == SPNG_INTERLACE_NONE) {
        return StoredRowBytes(ihdr.width, bitsPerPixel);
    }
    for (int pass = 6; pass >= 0; --pass) {
        if (ihdr.width > kPassX0[pass] && ihdr.height > kPassY0[pass]) {
            return StoredRowBytes((ihdr.width - kPassX0[pass] + kPassDx[pass] - 1) / kPassDx[pass],
                                  bitsPerPixel);
        }
    }
    return 0;
}

// The bytes of image data the file holds at most: its IDAT chunks' lengths, each cut to what the
// file still holds after it.
uint64_t ImageDataBytes(std::span<const uint8_t> file) {
    uint64_t bytes = 0;
    if (file.size() < sizeof kPngSignature) {
        return 0;
    }
    for (std::size_t at = sizeof kPngSignature; file.size() - at >= 12;) {
        const std::size_t length = LoadBigEndian32(file.data() + at);
        const std::size_t left = file.size() - at - 8;
        if (std::memcmp(file.data() + at + 4, "IDAT", 4) == 0) {
            bytes += std::min(length, left);
        }
        if (length > left - std::min<std::size_t>(left, 4)) {
            break;  // the chunk runs past the end of the file
        }
        at += 12 + length;
    }
    return bytes;
}

struct ContextFree {
    void operator()(spng_ctx *ctx) const { spng_ctx_free(ctx); }
};

// 16-bit samples to 8 bits, rounded to nearest: (v * 255 + 32767) / 65535, which for every
// 16-bit v is (v * 255 + 32895) >> 16. Inlined even in unoptimized builds: a picture of 10^8
// samples calls it as often.
[[gnu::always_inline]] inline uint8_t Scale16(uint16_t v) {
    return static_cast<uint8_t>((uint32_t{v} * 255u + 32895u) >> 16);
}

// The pixels first, first + step, ... below `width` of a row of 16-bit samples (`channels` per
// pixel: gray, gray and alpha, RGB or RGBA) to BGR at the same places.
void Row16ToBgr(const uint16_t *row, int channels, std::size_t width, uint8_t *bgr,
                std::size_t first = 0, std::size_t step = 1) {
    const auto c = static_cast<std::size_t>(channels);
    const uint16_t *src = row + first * c;
    uint8_t *dst = bgr + first * 3;
    const std::size_t srcStep = step * c;
    const std::size_t dstStep = step * 3;
    if (channels < 3) {
        for (std::size_t x = first; x < width; x += step, src += srcStep, dst += dstStep) {
            dst[0] = dst[1] = dst[2] = Scale16(src[0]);
        }
    } else {
        for (std::size_t x = first; x < width; x += step, src += srcStep, dst += dstStep) {
            dst[0] = Scale16(src[2]);
            dst[1] = Scale16(src[1]);
            dst[2] = Scale16(src[0]);
        }
    }
}

// The header step reads the head of the file (all of it where the chunks before the header's end
// run past the head); CanFill and the data step work on the whole file.
class PngReader final : public ImageReader {
  public:
    PngReader(ReaderInput file, PngDecodeWay way) : m_input(file), m_way(way) {}
    PngReader(const PngReader &) = delete;
    PngReader &operator=(const PngReader &) = delete;

    CodecStatus ReadHeader(ImageInfo *info) override {
        m_headerRead = false;
        if (const CodecStatus read = m_input.Head(&m_file); read != CodecStatus::kOk) {
            return read;
        }
        CodecStatus status = Open(info);
        if (status != CodecStatus::kOk && m_file.size() < m_input.Size()) {
            status = m_input.Whole(&m_file);
            if (status == CodecStatus::kOk) {
                status = Open(info);
            }
        }
        return status;
    }

    // libspng over the bytes read so far, up to the header.
    CodecStatus Open(ImageInfo *info) {
        m_headerRead = false;
        m_ctx.reset(spng_ctx_new(0));
        if (!m_ctx) {
            return CodecStatus::kNoMemory;
        }
        spng_ctx *ctx = m_ctx.get();
        // Every chunk's CRC is checked: a mismatch anywhere is corrupt data.
        int error = spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR);
        if (error == SPNG_OK) {
            error = spng_set_image_limits(ctx, kMaxWidth, kMaxHeight);
        }
        if (error == SPNG_OK) {
            error = spng_set_chunk_limits(ctx, kMaxChunkBytes, kMaxChunkCache);
        }
        if (error == SPNG_OK) {
            error = spng_set_png_buffer(ctx, m_file.data(), m_file.size());
        }
        if (error == SPNG_OK) {
            error = spng_get_ihdr(ctx, &m_ihdr);
        }
        if (error != SPNG_OK) {
            return StatusFromSpng(error);
        }
        if (!FitsDecodeLimit(m_ihdr.width, m_ihdr.height)) {
            return CodecStatus::kTooLarge;
        }
        // A stored row is one block of libspng's (16-bit RGBA: 8 bytes a pixel): it too stays
        // within the limit.
        m_bitsPerPixel = SamplesPerPixel(m_ihdr.color_type) * m_ihdr.bit_depth;
        if (StoredRowBytes(m_ihdr.width, m_bitsPerPixel) >
            static_cast<uint64_t>(ZAV_MAX_BLOCK_BYTES)) {
            return CodecStatus::kTooLarge;
        }
        info->width = static_cast<int32_t>(m_ihdr.width);
        info->height = static_cast<int32_t>(m_ihdr.height);
        info->color = m_ihdr.color_type != SPNG_COLOR_TYPE_GRAYSCALE &&
                      m_ihdr.color_type != SPNG_COLOR_TYPE_GRAYSCALE_ALPHA;
        m_headerRead = true;
        return CodecStatus::kOk;
    }

    // The stream's bytes inflate 1032 times at most: fewer than every row needs cannot make the
    // picture, which is then refused before anything is allocated for it (a 77-byte file saying
    // 357913941 x 1 asked for 1 GiB at once).
    CodecStatus CanFill() override {
        if (!m_headerRead) {
            return CodecStatus::kCorrupt;
        }
        if (const CodecStatus whole = ReadWhole(); whole != CodecStatus::kOk) {
            return whole;
        }
        const uint64_t most = ImageDataBytes(m_file) * kMaxInflateRatio;
        return InflatedBytes(m_ihdr, m_bitsPerPixel) > most ? CodecStatus::kTruncated
                                                            : CodecStatus::kOk;
    }

    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override {
        if (!m_headerRead) {
            return CodecStatus::kCorrupt;
        }
        if (const CodecStatus whole = ReadWhole(); whole != CodecStatus::kOk) {
            return whole;
        }
        m_headerRead = false;  // libspng decodes once per context
        // The chunks before the image data first: libspng checks them on either way.
        const CodecStatus before = StatusFromSpngChunks(spng_decode_chunks(m_ctx.get()));
        if (before != CodecStatus::kOk) {
            return before;
        }
        CodecStatus direct = CodecStatus::kOk;
        if (m_way != PngDecodeWay::kLibspngOnly && DecodeDirect8(bgr, step, &direct)) {
            return direct;
        }
        if (m_way == PngDecodeWay::kDirectOnly) {
            return CodecStatus::kUnsupported;
        }
        const CodecStatus status =
            m_ihdr.bit_depth == 16 ? Decode16(bgr, step) : Decode8(bgr, step);
        if (status != CodecStatus::kOk) {
            return status;
        }
        // The chunks after the image, up to the end chunk: their CRCs, and whether the file ends
        // early.
        const CodecStatus after = StatusFromSpngChunks(spng_decode_chunks(m_ctx.get()));
        if (after != CodecStatus::kOk) {
            return after;
        }
        if (!ReachesEndChunk(m_file)) {
            return CodecStatus::kTruncated;
        }
        // libspng stops reading the stream once the rows are whole; libpng reads on to its end.
        ImageData data;
        if (!FindImageData(m_file, &data)) {
            return CodecStatus::kOk;
        }
        IdatPieces pieces(m_file, data);
        return CheckPngStreamEnd(pieces, InflatedBytes(m_ihdr, m_bitsPerPixel),
                                 LastRowBytes(m_ihdr, m_bitsPerPixel));
    }

  private:
    // After a header step over the head: libspng again over the whole file, which must give the
    // same header.
    CodecStatus ReadWhole() {
        if (m_file.size() >= m_input.Size()) {
            return CodecStatus::kOk;
        }
        const spng_ihdr head = m_ihdr;
        ImageInfo info;
        CodecStatus status = m_input.Whole(&m_file);
        if (status == CodecStatus::kOk) {
            status = Open(&info);
        }
        if (status == CodecStatus::kOk &&
            (head.width != m_ihdr.width || head.height != m_ihdr.height ||
             head.bit_depth != m_ihdr.bit_depth || head.color_type != m_ihdr.color_type ||
             head.interlace_method != m_ihdr.interlace_method)) {
            status = CodecStatus::kCorrupt;
        }
        if (status != CodecStatus::kOk) {
            m_headerRead = false;
        }
        return status;
    }

    // 8-bit gray, gray and alpha, RGB or RGBA, not interlaced: the image data inflated by
    // libdeflate in one call (about half again as fast as zlib's inflate, where a PNG's time
    // goes), then unfiltered row by row into the buffer. False, with the buffer unspecified and
    // libspng's state untouched, for any other file and for anything out of the ordinary (a CRC,
    // the stream's length, a filter, memory): libspng's way then decodes and judges the file.
    // Pictures too large for one block stream into the buffer instead (png_inflate.h), and that
    // way judges the image data itself as libpng would (true with its `status`), so that a
    // damaged stream of a gigabyte is not inflated twice.
    bool DecodeDirect8(uint8_t *bgr, std::size_t step, CodecStatus *status) {
        if (m_ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
            return false;
        }
        const unsigned pixelBytes = SamplesPerPixel(m_ihdr.color_type);
        ImageData data;
        if (m_ihdr.bit_depth != 8 || m_ihdr.interlace_method != SPNG_INTERLACE_NONE ||
            !FindImageData(m_file, &data)) {
            return false;
        }
        if (InflatedBytes(m_ihdr, m_bitsPerPixel) > kMaxDirectInflate) {
            IdatPieces pieces(m_file, data);
            *status = InflatePngRows(pieces, m_ihdr.width, m_ihdr.height, pixelBytes, bgr, step);
            return *status != CodecStatus::kNoMemory;
        }
        // Within the decode limit a row of 4 bytes a pixel and its filter byte fit size_t; the
        // whole stream may not (32-bit).
        const std::size_t width = m_ihdr.width;
        const std::size_t rowBytes = width * pixelBytes;
        const std::size_t height = m_ihdr.height;
        if (rowBytes + 1 > SIZE_MAX / height) {
            return false;
        }
        const std::size_t inflatedBytes = (rowBytes + 1) * height;
        std::unique_ptr<uint8_t[]> inflated(new (std::nothrow) uint8_t[inflatedBytes]);
        std::unique_ptr<uint8_t[]> zeros(new (std::nothrow) uint8_t[rowBytes]());
        std::unique_ptr<libdeflate_decompressor, DecompressorFree> inflater(
            libdeflate_alloc_decompressor());
        if (!inflated || !zeros || !inflater) {
            return false;
        }
        // The stream is whole in one chunk or gathered from its chunks.
        const uint8_t *stream = m_file.data() + data.first + 8;
        std::unique_ptr<uint8_t[]> gathered;
        if (data.chunks > 1) {
            gathered.reset(new (std::nothrow) uint8_t[data.bytes]);
            if (!gathered) {
                return false;
            }
            Chunk chunk;
            std::size_t filled = 0;
            for (std::size_t at = data.first, n = 0; n < data.chunks; ++n, at = chunk.next) {
                if (!ChunkAt(m_file, at, &chunk)) {
                    return false;
                }
                std::memcpy(gathered.get() + filled, chunk.type + 4, chunk.length);
                filled += chunk.length;
            }
            stream = gathered.get();
        }
        std::size_t streamUsed = 0;
        std::size_t produced = 0;
        if (libdeflate_zlib_decompress_ex(inflater.get(), stream, data.bytes, inflated.get(),
                                          inflatedBytes, &streamUsed,
                                          &produced) != LIBDEFLATE_SUCCESS ||
            streamUsed != data.bytes || produced != inflatedBytes) {
            return false;
        }
        const uint8_t *prior = zeros.get();
        for (std::size_t y = 0; y < height; ++y) {
            uint8_t *row = inflated.get() + y * (rowBytes + 1);
            if (!UnfilterPngRow(row[0], row + 1, prior, rowBytes, pixelBytes)) {
                return false;
            }
            PngRowToBgr(row + 1, pixelBytes, width, bgr + y * step);
            prior = row + 1;
        }
        return true;
    }

    // Up to 8 bits: 8-bit gray and RGB rows as stored, every other kind as 8-bit RGB from
    // libspng; then gray spreads to three samples, or red and blue change places. Rows come
    // through one row that stays in the cache (in place, each step of the swap would wait for the
    // previous step's store); interlaced passes fill the buffer's rows in place instead.
    CodecStatus Decode8(uint8_t *bgr, std::size_t step) {
        spng_ctx *ctx = m_ctx.get();
        const std::size_t width = m_ihdr.width;
        const bool gray = m_ihdr.bit_depth == 8 && m_ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE;
        const bool asStored =
            gray || (m_ihdr.bit_depth == 8 && m_ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR);
        const bool interlaced = m_ihdr.interlace_method != SPNG_INTERLACE_NONE;
        const auto finish = [gray, width](const uint8_t *from, uint8_t *row) {
            if (gray) {
                for (std::size_t x = width; x-- > 0;) {  // backwards: `from` may be `row`
                    row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = from[x];
                }
            } else {
                SwapRedBlue(from, row, width);
            }
        };
        std::unique_ptr<uint8_t[]> scratch;
        if (!interlaced) {
            scratch.reset(new (std::nothrow) uint8_t[width * 3]);
            if (!scratch) {
                return CodecStatus::kNoMemory;
            }
        }
        int error = spng_decode_image(ctx, nullptr, 0, asStored ? SPNG_FMT_PNG : SPNG_FMT_RGB8,
                                      SPNG_DECODE_PROGRESSIVE);
        while (error == SPNG_OK) {
            spng_row_info row;
            error = spng_get_row_info(ctx, &row);
            if (error != SPNG_OK) {
                break;
            }
            uint8_t *out = bgr + static_cast<std::size_t>(row.row_num) * step;
            error = spng_decode_row(ctx, interlaced ? out : scratch.get(), width * 3);
            if (!interlaced && (error == SPNG_OK || error == SPNG_EOI)) {
                finish(scratch.get(), out);
            }
        }
        if (error != SPNG_EOI) {
            return StatusFromSpng(error);
        }
        if (interlaced) {
            for (uint32_t y = 0; y < m_ihdr.height; ++y) {
                uint8_t *row = bgr + static_cast<std::size_t>(y) * step;
                finish(row, row);
            }
        }
        return CodecStatus::kOk;
    }

    // 16 bits: the samples as stored (host order), one row at a time, scaled into the buffer; an
    // interlaced pass brings only its own pixels of a row, and only those are scaled.
    CodecStatus Decode16(uint8_t *bgr, std::size_t step) {
        spng_ctx *ctx = m_ctx.get();
        const int channels = static_cast<int>(SamplesPerPixel(m_ihdr.color_type));
        const std::size_t width = m_ihdr.width;
        const std::size_t rowBytes = width * static_cast<std::size_t>(channels) * 2;
        const bool interlaced = m_ihdr.interlace_method != SPNG_INTERLACE_NONE;
        // Within the stored row's limit (ReadHeader), so within size_t.
        if (rowBytes / 2 / static_cast<std::size_t>(channels) != width) {
            return CodecStatus::kTooLarge;
        }
        std::unique_ptr<uint16_t[]> samples(new (std::nothrow) uint16_t[rowBytes / 2]);
        if (!samples) {
            return CodecStatus::kNoMemory;
        }
        int error = spng_decode_image(ctx, nullptr, 0, SPNG_FMT_PNG, SPNG_DECODE_PROGRESSIVE);
        while (error == SPNG_OK) {
            spng_row_info row;
            error = spng_get_row_info(ctx, &row);
            if (error != SPNG_OK) {
                break;
            }
            error = spng_decode_row(ctx, samples.get(), rowBytes);
            if (error == SPNG_OK || error == SPNG_EOI) {
                const int pass = interlaced ? std::clamp(row.pass, 0, 6) : 6;
                Row16ToBgr(samples.get(), channels, width,
                           bgr + static_cast<std::size_t>(row.row_num) * step, kPassX0[pass],
                           kPassDx[pass]);
            }
        }
        return error == SPNG_EOI ? CodecStatus::kOk : StatusFromSpng(error);
    }

    ReaderInput m_input;
    std::span<const uint8_t> m_file;  // the first bytes of the file read so far
    PngDecodeWay m_way;
    std::unique_ptr<spng_ctx, ContextFree> m_ctx;
    spng_ihdr m_ihdr{};
    unsigned m_bitsPerPixel = 0;
    bool m_headerRead = false;
};

}  // namespace

std::unique_ptr<ImageReader> NewPngReader(ReaderInput file) {
    return NewPngReaderDecoding(file, PngDecodeWay::kChoose);
}

std::unique_ptr<ImageReader> NewPngReaderDecoding(ReaderInput file, PngDecodeWay way) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) PngReader(file, way));
}

}  // namespace zav
