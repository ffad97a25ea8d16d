#include "imaging/codecs/bmp.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "imaging/codecs/byte_order.h"

namespace zav {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr uint32_t kCoreHeaderBytes = 12;  // OS/2 1.x: 16-bit width and height
constexpr uint32_t kMinInfoHeaderBytes = 16;

constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitFields = 3;
constexpr uint32_t kCompressionAlphaBitFields = 6;

}  // namespace

void BmpReader::SetMasks(uint32_t red, uint32_t green, uint32_t blue) {
    for (auto [channel, mask] : {std::pair{&m_red, red}, {&m_green, green}, {&m_blue, blue}}) {
        channel->mask = mask;
        channel->shift = mask == 0 ? 0 : std::countr_zero(mask);
        channel->max = mask >> channel->shift;
    }
}

uint8_t BmpReader::Scale(uint32_t pixel, const Channel &channel) const {
    if (channel.max == 0) {
        return 0;
    }
    const uint64_t value = (pixel & channel.mask) >> channel.shift;
    return static_cast<uint8_t>((value * 255 + channel.max / 2) / channel.max);
}

CodecStatus BmpReader::ReadPalette(uint64_t paletteOffset, int entrySize, uint32_t colorsUsed) {
    uint64_t entries = uint64_t{1} << m_bitsPerPixel;
    if (colorsUsed != 0 && colorsUsed < entries) {
        entries = colorsUsed;
    }
    // Pixels that start before the end of the first entry, or among the entries the header
    // counts, would read the palette as pixels. Some writers store fewer entries than the bit depth
    // allows without counting them: then what lies before the pixels is taken.
    if (m_dataOffset < paletteOffset + entrySize ||
        (colorsUsed != 0 && m_dataOffset < paletteOffset + entries * entrySize)) {
        return CodecStatus::kBadPixelOffset;
    }
    entries = std::min<uint64_t>(entries, (m_dataOffset - paletteOffset) / entrySize);
    if (const CodecStatus read = m_input.Prefix(paletteOffset + entries * entrySize, &m_file);
        read != CodecStatus::kOk) {
        return read;
    }
    if (paletteOffset + entries * entrySize > m_file.size()) {
        return CodecStatus::kTruncated;
    }
    const uint8_t *p = m_file.data() + paletteOffset;
    for (uint64_t i = 0; i < entries; ++i, p += entrySize) {
        m_palette[i] = {p[0], p[1], p[2]};
    }
    return CodecStatus::kOk;
}

CodecStatus BmpReader::ReadHeader(ImageInfo *info) {
    m_headerRead = false;
    m_fileSize = m_input.Size();
    if (const CodecStatus read = m_input.Head(&m_file); read != CodecStatus::kOk) {
        return read;
    }
    const uint8_t *f = m_file.data();
    if (m_file.size() < kFileHeaderBytes + 4) {
        return CodecStatus::kTruncated;
    }
    if (f[0] != 'B' || f[1] != 'M') {
        return CodecStatus::kCorrupt;
    }
    m_dataOffset = LoadLittleEndian32(f + 10);
    const uint32_t headerBytes = LoadLittleEndian32(f + 14);
    if (headerBytes != kCoreHeaderBytes && headerBytes < kMinInfoHeaderBytes) {
        return CodecStatus::kCorrupt;
    }
    const uint64_t headerEnd = kFileHeaderBytes + uint64_t{headerBytes};
    // Fields past the end of a short (OS/2 2.x) header read as zero.
    uint8_t header[56] = {};
    if (m_file.size() < std::min<uint64_t>(headerEnd, kFileHeaderBytes + sizeof header)) {
        return CodecStatus::kTruncated;
    }
    std::memcpy(header, f + kFileHeaderBytes, std::min<uint64_t>(headerBytes, sizeof header));

    int64_t width = 0;
    int64_t height = 0;
    uint32_t colorsUsed = 0;
    int paletteEntryBytes = 4;
    uint64_t paletteOffset = headerEnd;
    if (headerBytes == kCoreHeaderBytes) {
        width = LoadLittleEndian16(header + 4);
        height = LoadLittleEndian16(header + 6);
        m_bitsPerPixel = LoadLittleEndian16(header + 10);
        m_compression = kCompressionNone;
        paletteEntryBytes = 3;
    } else {
        width = static_cast<int32_t>(LoadLittleEndian32(header + 4));
        height = static_cast<int32_t>(LoadLittleEndian32(header + 8));
        m_bitsPerPixel = LoadLittleEndian16(header + 14);
        m_compression = LoadLittleEndian32(header + 16);
        colorsUsed = LoadLittleEndian32(header + 32);
    }
    if (width < 1 || height == 0) {
        return CodecStatus::kCorrupt;
    }
    if (height < 0) {
        return CodecStatus::kUnsupported;  // rows stored top-down
    }
    switch (m_bitsPerPixel) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return CodecStatus::kUnsupported;
    }
    m_defaultMasks = true;
    if (m_bitsPerPixel == 16) {
        SetMasks(0x7C00, 0x03E0, 0x001F);
    } else {
        SetMasks(0xFF0000, 0x00FF00, 0x0000FF);
    }
    switch (m_compression) {
        case kCompressionNone:
            break;
        case kCompressionRle8:
            if (m_bitsPerPixel != 8) {
                return CodecStatus::kUnsupported;
            }
            break;
        case kCompressionRle4:
            if (m_bitsPerPixel != 4) {
                return CodecStatus::kUnsupported;
            }
            break;
        case kCompressionBitFields:
        case kCompressionAlphaBitFields: {
            if (m_bitsPerPixel != 16 && m_bitsPerPixel != 32) {
                return CodecStatus::kUnsupported;
            }
            // The masks follow a 40-byte header; longer headers hold them.
            const uint8_t *masks = header + 40;
            if (headerBytes < 52) {
                paletteOffset = headerEnd + 12;
                if (paletteOffset > m_file.size()) {
                    return CodecStatus::kTruncated;
                }
                masks = f + headerEnd;
            }
            SetMasks(LoadLittleEndian32(masks), LoadLittleEndian32(masks + 4),
                     LoadLittleEndian32(masks + 8));
            m_defaultMasks = false;
            break;
        }
        default:
            return CodecStatus::kUnsupported;
    }
    if (!FitsDecodeLimit(width, height)) {
        return CodecStatus::kTooLarge;
    }
    m_width = static_cast<int32_t>(width);
    m_height = static_cast<int32_t>(height);

    bool color = m_bitsPerPixel > 8;
    m_palette = {};
    if (m_bitsPerPixel <= 8) {
        if (m_dataOffset < headerEnd) {
            return CodecStatus::kCorrupt;  // pixels inside the header
        }
        const CodecStatus status = ReadPalette(paletteOffset, paletteEntryBytes, colorsUsed);
        if (status != CodecStatus::kOk) {
            return status;
        }
        for (const auto &entry : m_palette) {
            color = color || entry[0] != entry[1] || entry[1] != entry[2];
        }
    }
    // Uncompressed pixels must all be there (the last row may lack its padding): checked before
    // anyone allocates a buffer for them.
    if (m_compression != kCompressionRle8 && m_compression != kCompressionRle4 &&
        (m_dataOffset > m_fileSize || UncompressedBytes() > m_fileSize - m_dataOffset)) {
        return CodecStatus::kTruncated;
    }
    info->width = m_width;
    info->height = m_height;
    info->color = color;
    m_headerRead = true;
    return CodecStatus::kOk;
}

bool BmpReader::FindPlainRows(PlainRows *rows) const {
    // 24-bit rows are blue, green, red; the header step checked that they are all there.
    if (!m_headerRead || m_bitsPerPixel != 24 || m_compression != kCompressionNone) {
        return false;
    }
    rows->offset = m_dataOffset;
    rows->fileStep = (static_cast<uint64_t>(m_width) * 24 + 31) / 32 * 4;
    rows->bottomUp = true;
    return true;
}

CodecStatus BmpReader::ReadData(uint8_t *bgr, std::size_t step) {
    if (!m_headerRead) {
        return CodecStatus::kCorrupt;
    }
    if (PlainRows rows; FindPlainRows(&rows)) {
        return m_input.Source().ReadRows(rows, static_cast<std::size_t>(m_width) * 3,
                                         static_cast<uint32_t>(m_height), bgr, step);
    }
    if (const CodecStatus read = m_input.Whole(&m_file); read != CodecStatus::kOk) {
        return read;
    }
    if (m_dataOffset > m_file.size()) {
        return CodecStatus::kTruncated;
    }
    if (m_compression == kCompressionRle8 || m_compression == kCompressionRle4) {
        return ReadRunLength(bgr, step);
    }
    return ReadUncompressed(bgr, step);
}

uint64_t BmpReader::UncompressedBytes() const {
    const uint64_t rowBits = static_cast<uint64_t>(m_width) * static_cast<uint64_t>(m_bitsPerPixel);
    const uint64_t rowBytes = (rowBits + 31) / 32 * 4;
    return rowBytes * (static_cast<uint64_t>(m_height) - 1) + (rowBits + 7) / 8;
}

CodecStatus BmpReader::ReadUncompressed(uint8_t *bgr, std::size_t step) const {
    const uint64_t width = static_cast<uint64_t>(m_width);
    const uint64_t rowBits = width * static_cast<uint64_t>(m_bitsPerPixel);
    const uint64_t rowBytes = (rowBits + 31) / 32 * 4;
    if (UncompressedBytes() > m_file.size() - m_dataOffset) {
        return CodecStatus::kTruncated;
    }
    const uint8_t *pixels = m_file.data() + m_dataOffset;
    for (int32_t y = 0; y < m_height; ++y) {
        const uint8_t *src = pixels + static_cast<uint64_t>(m_height - 1 - y) * rowBytes;
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        switch (m_bitsPerPixel) {
            case 1:
                for (uint64_t x = 0; x < width; ++x, dst += 3) {
                    const int index = (src[x >> 3] >> (7 - (x & 7))) & 1;
                    std::memcpy(dst, m_palette[index].data(), 3);
                }
                break;
            case 4:
                for (uint64_t x = 0; x < width; ++x, dst += 3) {
                    const int index = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
                    std::memcpy(dst, m_palette[index].data(), 3);
                }
                break;
            case 8:
                for (uint64_t x = 0; x < width; ++x, dst += 3) {
                    std::memcpy(dst, m_palette[src[x]].data(), 3);
                }
                break;
            case 16:
                for (uint64_t x = 0; x < width; ++x, dst += 3) {
                    const uint32_t pixel = LoadLittleEndian16(src + 2 * x);
                    dst[0] = Scale(pixel, m_blue);
                    dst[1] = Scale(pixel, m_green);
                    dst[2] = Scale(pixel, m_red);
                }
                break;
            case 24:
                std::memcpy(dst, src, width * 3);
                break;
            case 32:
                if (m_defaultMasks) {
                    for (uint64_t x = 0; x < width; ++x, dst += 3, src += 4) {
                        dst[0] = src[0];
                        dst[1] = src[1];
                        dst[2] = src[2];
                    }
                } else {
                    for (uint64_t x = 0; x < width; ++x, dst += 3) {
                        const uint32_t pixel = LoadLittleEndian32(src + 4 * x);
                        dst[0] = Scale(pixel, m_blue);
                        dst[1] = Scale(pixel, m_green);
                        dst[2] = Scale(pixel, m_red);
                    }
                }
                break;
            default:
                return CodecStatus::kUnsupported;
        }
    }
    return CodecStatus::kOk;
}

// Run-length data: pairs of (count, value) and escapes (0, 0) end of row, (0, 1) end of picture,
// (0, 2, dx, dy) move, (0, n >= 3) n literal pixels padded to an even number of bytes. Rows count
// from the bottom. Pixels past the row end are dropped; pixels never reached get palette colour
// 0; data past the top row are ignored. Pixels are reached in order (moves only go forward), so
// the skipped ones are filled as the decoder passes them, and data that end early fail before the
// rest of the picture is touched.
CodecStatus BmpReader::ReadRunLength(uint8_t *bgr, std::size_t step) const {
    const bool four = m_compression == kCompressionRle4;
    const auto width = static_cast<uint64_t>(m_width);
    const auto height = static_cast<uint64_t>(m_height);
    const uint8_t *const background = m_palette[0].data();
    // Every pixel before (filledRow, filledX) in decoding order has its colour.
    uint64_t filledRow = 0;
    uint64_t filledX = 0;
    auto fillTo = [&](uint64_t row, uint64_t x) {
        x = std::min(x, width);
        while (filledRow < row || (filledRow == row && filledX < x)) {
            const uint64_t end = filledRow < row ? width : x;
            uint8_t *dst = bgr + (height - 1 - filledRow) * step + filledX * 3;
            for (uint64_t i = filledX; i < end; ++i, dst += 3) {
                std::memcpy(dst, background, 3);
            }
            if (filledRow < row) {
                ++filledRow;
                filledX = 0;
            } else {
                filledX = end;
            }
        }
    };

    const uint8_t *p = m_file.data() + m_dataOffset;
    const uint8_t *const end = m_file.data() + m_file.size();
    uint64_t x = 0;
    uint64_t row = 0;  // from the bottom
    auto put = [&](int index) {
        if (x < width) {
            fillTo(row, x);
            std::memcpy(bgr + (height - 1 - row) * step + x * 3, m_palette[index].data(), 3);
            filledX = x + 1;
        }
        ++x;
    };
    while (row < height) {
        if (end - p < 2) {
            return CodecStatus::kTruncated;
        }
        const unsigned count = p[0];
        const unsigned value = p[1];
        p += 2;
        if (count > 0) {
            if (x >= width) {
                x += count;  // wholly past the row end
                continue;
            }
            for (unsigned i = 0; i < count; ++i) {
                put(four ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            }
            continue;
        }
        if (value == 1) {  // end of picture
            break;
        }
        switch (value) {
            case 0:  // end of row
                x = 0;
                ++row;
                break;
            case 2:  // move right and up
                if (end - p < 2) {
                    return CodecStatus::kTruncated;
                }
                x += p[0];
                row += p[1];
                p += 2;
                break;
            default: {  // literal pixels
                const std::size_t bytes = four ? (value + 1) / 2 : value;
                const std::size_t padded = bytes + (bytes & 1);
                if (static_cast<std::size_t>(end - p) < padded) {
                    return CodecStatus::kTruncated;
                }
                for (unsigned i = 0; i < value; ++i) {
                    put(four ? ((i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4)) : p[i]);
                }
                p += padded;
                break;
            }
        }
    }
    fillTo(height, 0);
    return CodecStatus::kOk;
}

std::unique_ptr<ImageReader> NewBmpReader(ReaderInput file) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) BmpReader(file));
}

}  // namespace zav
