#include "imaging/codecs/pnm.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "imaging/codecs/byte_order.h"

namespace zav {

namespace {

constexpr uint32_t kMaxSampleValue = 65535;

bool IsSpace(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}

// A cursor over text: white space and comments ("#" to the end of the line) between fields.
class TextCursor {
  public:
    TextCursor(std::span<const uint8_t> bytes, std::size_t pos) : m_bytes(bytes), m_pos(pos) {}

    std::size_t Position() const { return m_pos; }

    // Skips white space and comments; false when the text ends.
    bool SkipSeparators() {
        while (m_pos < m_bytes.size()) {
            const uint8_t c = m_bytes[m_pos];
            if (c == '#') {
                while (m_pos < m_bytes.size() && m_bytes[m_pos] != '\n' && m_bytes[m_pos] != '\r') {
                    ++m_pos;
                }
            } else if (IsSpace(c)) {
                ++m_pos;
            } else {
                return true;
            }
        }
        return false;
    }

    // An unsigned decimal number of at most `limit`; a larger one gives kOk with *overflow set. The
    // number must be followed by a separator (white space or a comment): kTruncated when the data
    // end right after its digits.
    CodecStatus Number(uint64_t limit, uint64_t *value, bool *overflow) {
        if (!SkipSeparators()) {
            return CodecStatus::kTruncated;
        }
        if (!IsDigit(m_bytes[m_pos])) {
            return CodecStatus::kCorrupt;
        }
        uint64_t v = 0;
        *overflow = false;
        while (m_pos < m_bytes.size() && IsDigit(m_bytes[m_pos])) {
            v = v * 10 + (m_bytes[m_pos] - '0');
            if (v > limit) {
                *overflow = true;
                v = limit + 1;  // keeps the arithmetic bounded while the digits are skipped
            }
            ++m_pos;
        }
        // A number runs to its separator: one that the end of the data cuts (825 bytes cut to
        // 822 read "25" for "255") may have lost digits.
        if (m_pos == m_bytes.size()) {
            return CodecStatus::kTruncated;
        }
        *value = v;
        return CodecStatus::kOk;
    }

    // One "0" or "1" of a plain bitmap (digits need no separator between them).
    CodecStatus Bit(int *bit) {
        if (!SkipSeparators()) {
            return CodecStatus::kTruncated;
        }
        const uint8_t c = m_bytes[m_pos];
        if (c != '0' && c != '1') {
            return CodecStatus::kCorrupt;
        }
        *bit = c - '0';
        ++m_pos;
        return CodecStatus::kOk;
    }

  private:
    std::span<const uint8_t> m_bytes;
    std::size_t m_pos;
};

// 0..maxval to 0..255, rounded to nearest.
uint8_t ScaleSample(uint32_t value, uint32_t maxval) {
    return static_cast<uint8_t>((value * 255u + maxval / 2) / maxval);
}

}  // namespace

CodecStatus PnmReader::ReadHeader(ImageInfo *info) {
    m_headerRead = false;
    m_fileSize = m_input.Size();
    if (const CodecStatus read = m_input.Head(&m_file); read != CodecStatus::kOk) {
        return read;
    }
    CodecStatus status = ParseHeader(info);
    if (status == CodecStatus::kTruncated && m_file.size() < m_fileSize) {
        // Comments ran past the head.
        if (const CodecStatus read = m_input.Whole(&m_file); read != CodecStatus::kOk) {
            return read;
        }
        status = ParseHeader(info);
    }
    return status;
}

CodecStatus PnmReader::ParseHeader(ImageInfo *info) {
    if (m_file.size() < 3) {
        return CodecStatus::kTruncated;
    }
    if (m_file[0] != 'P' || m_file[1] < '1' || m_file[1] > '6') {
        return CodecStatus::kCorrupt;
    }
    m_kind = static_cast<char>(m_file[1]);
    TextCursor cursor(m_file, 2);
    uint64_t width = 0;
    uint64_t height = 0;
    bool overflow = false;
    bool tooLarge = false;
    CodecStatus status = cursor.Number(INT32_MAX, &width, &overflow);
    if (status != CodecStatus::kOk) {
        return status;
    }
    tooLarge = overflow;
    status = cursor.Number(INT32_MAX, &height, &overflow);
    if (status != CodecStatus::kOk) {
        return status;
    }
    tooLarge = tooLarge || overflow;
    if (width == 0 || height == 0) {
        return CodecStatus::kCorrupt;
    }
    m_maxval = 1;
    if (m_kind != '1' && m_kind != '4') {
        uint64_t maxval = 0;
        status = cursor.Number(kMaxSampleValue, &maxval, &overflow);
        if (status != CodecStatus::kOk) {
            return status;
        }
        if (maxval == 0) {
            return CodecStatus::kCorrupt;
        }
        if (overflow) {
            return CodecStatus::kUnsupported;
        }
        m_maxval = static_cast<uint32_t>(maxval);
    }
    m_dataOffset = cursor.Position();
    if (m_kind >= '4') {
        // Exactly one white-space character separates the header from raw data.
        if (m_dataOffset >= m_file.size()) {
            return CodecStatus::kTruncated;
        }
        if (!IsSpace(m_file[m_dataOffset])) {
            return CodecStatus::kCorrupt;
        }
        ++m_dataOffset;
    }
    if (tooLarge || !FitsDecodeLimit(static_cast<int64_t>(width), static_cast<int64_t>(height))) {
        return CodecStatus::kTooLarge;
    }
    m_width = static_cast<int32_t>(width);
    m_height = static_cast<int32_t>(height);
    // Data that cannot hold the picture fail before anyone allocates a buffer for it: raw data
    // have a fixed size, text needs at least one character per bitmap pixel and two per sample
    // (a digit and a separator) but for the last.
    const uint64_t pixels = width * height;
    const uint64_t samples = pixels * ((m_kind == '3' || m_kind == '6') ? 3 : 1);
    uint64_t needed = 0;
    switch (m_kind) {
        case '1':
            needed = pixels;
            break;
        case '2':
        case '3':
            needed = 2 * samples - 1;
            break;
        case '4':
            needed = (width + 7) / 8 * height;
            break;
        default:
            needed = samples * (m_maxval > 255 ? 2 : 1);
            break;
    }
    if (m_dataOffset > m_fileSize || needed > m_fileSize - m_dataOffset) {
        return CodecStatus::kTruncated;
    }
    info->width = m_width;
    info->height = m_height;
    info->color = m_kind == '3' || m_kind == '6';
    m_headerRead = true;
    return CodecStatus::kOk;
}

CodecStatus PnmReader::ReadData(uint8_t *bgr, std::size_t step) {
    if (!m_headerRead) {
        return CodecStatus::kCorrupt;
    }
    // From a file, raw 8-bit rows are read into the buffer and converted there; bytes in memory
    // are converted on their way into the buffer (one pass instead of a copy and a pass).
    if ((m_kind == '5' || m_kind == '6') && m_maxval == 255 && !m_input.Source().InMemory()) {
        return ReadRawRows(bgr, step);
    }
    if (const CodecStatus read = m_input.Whole(&m_file); read != CodecStatus::kOk) {
        return read;
    }
    if (m_file.size() < m_fileSize) {
        return CodecStatus::kTruncated;  // the file shrank
    }
    switch (m_kind) {
        case '1':
            return ReadPlainBits(bgr, step);
        case '4':
            return ReadRawBits(bgr, step);
        case '2':
        case '3':
            return ReadPlainSamples(bgr, step);
        default:
            return ReadRawSamples(bgr, step);
    }
}

CodecStatus PnmReader::ReadRawRows(uint8_t *bgr, std::size_t step) {
    // Raw 8-bit rows go from the file straight into the buffer's rows, then become blue, green,
    // red in place: red and blue exchanged, or each gray sample spread over three (from the end
    // of the row backwards, so that no sample is overwritten before it is read). Bands of rows
    // are read and converted in turn, each while it is still in the cache.
    constexpr std::size_t kBandBytes = std::size_t{128} << 10;
    const bool gray = m_kind == '5';
    const auto width = static_cast<std::size_t>(m_width);
    const std::size_t rowBytes = gray ? width : width * 3;
    const auto height = static_cast<uint32_t>(m_height);
    const auto band =
        static_cast<uint32_t>(std::clamp<std::size_t>(kBandBytes / rowBytes, 1, height));
    for (uint32_t y0 = 0; y0 < height; y0 += band) {
        const uint32_t count = std::min(band, height - y0);
        const PlainRows rows{.offset = m_dataOffset + uint64_t{y0} * rowBytes,
                             .fileStep = rowBytes,
                             .bottomUp = false};
        uint8_t *first = bgr + std::size_t{y0} * step;
        const CodecStatus status = m_input.Source().ReadRows(rows, rowBytes, count, first, step);
        if (status != CodecStatus::kOk) {
            return status;
        }
        for (uint32_t y = 0; y < count; ++y) {
            uint8_t *row = first + std::size_t{y} * step;
            if (gray) {
                for (std::size_t x = width; x-- > 0;) {
                    row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
                }
            } else {
                SwapRedBlue(row, row, width);
            }
        }
    }
    return CodecStatus::kOk;
}

CodecStatus PnmReader::ReadPlainBits(uint8_t *bgr, std::size_t step) const {
    TextCursor cursor(m_file, m_dataOffset);
    for (int32_t y = 0; y < m_height; ++y) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (int32_t x = 0; x < m_width; ++x, dst += 3) {
            int bit = 0;
            const CodecStatus status = cursor.Bit(&bit);
            if (status != CodecStatus::kOk) {
                return status;
            }
            std::memset(dst, bit ? 0 : 255, 3);  // 1 is black
        }
    }
    return CodecStatus::kOk;
}

CodecStatus PnmReader::ReadRawBits(uint8_t *bgr, std::size_t step) const {
    const std::size_t rowBytes = (static_cast<std::size_t>(m_width) + 7) / 8;
    if (rowBytes * static_cast<std::size_t>(m_height) > m_file.size() - m_dataOffset) {
        return CodecStatus::kTruncated;
    }
    const uint8_t *src = m_file.data() + m_dataOffset;
    for (int32_t y = 0; y < m_height; ++y, src += rowBytes) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (int32_t x = 0; x < m_width; ++x, dst += 3) {
            const int bit = (src[x >> 3] >> (7 - (x & 7))) & 1;
            std::memset(dst, bit ? 0 : 255, 3);
        }
    }
    return CodecStatus::kOk;
}

CodecStatus PnmReader::ReadPlainSamples(uint8_t *bgr, std::size_t step) const {
    const int samples = m_kind == '3' ? 3 : 1;
    TextCursor cursor(m_file, m_dataOffset);
    for (int32_t y = 0; y < m_height; ++y) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (int32_t x = 0; x < m_width; ++x, dst += 3) {
            uint8_t rgb[3];
            for (int s = 0; s < samples; ++s) {
                uint64_t value = 0;
                bool overflow = false;
                const CodecStatus status = cursor.Number(m_maxval, &value, &overflow);
                if (status != CodecStatus::kOk) {
                    return status;
                }
                if (overflow) {
                    return CodecStatus::kCorrupt;  // above the maximum
                }
                rgb[s] = ScaleSample(static_cast<uint32_t>(value), m_maxval);
            }
            if (samples == 1) {
                std::memset(dst, rgb[0], 3);
            } else {
                dst[0] = rgb[2];
                dst[1] = rgb[1];
                dst[2] = rgb[0];
            }
        }
    }
    return CodecStatus::kOk;
}

CodecStatus PnmReader::ReadRawSamples(uint8_t *bgr, std::size_t step) const {
    const std::size_t samples = m_kind == '6' ? 3 : 1;
    const std::size_t sampleBytes = m_maxval > 255 ? 2 : 1;
    const std::size_t rowBytes = static_cast<std::size_t>(m_width) * samples * sampleBytes;
    if (rowBytes * static_cast<std::size_t>(m_height) > m_file.size() - m_dataOffset) {
        return CodecStatus::kTruncated;
    }
    const uint8_t *src = m_file.data() + m_dataOffset;
    const auto width = static_cast<std::size_t>(m_width);

    if (sampleBytes == 1) {
        // One table for all samples; a value above the maximum sets `bad`.
        std::array<uint8_t, 256> scaled{};
        uint32_t bad = 0;
        for (uint32_t v = 0; v <= m_maxval; ++v) {
            scaled[v] = ScaleSample(v, m_maxval);
        }
        for (int32_t y = 0; y < m_height; ++y, src += rowBytes) {
            uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
            if (samples == 3) {
                if (m_maxval == 255) {
                    SwapRedBlue(src, dst, width);
                } else {
                    for (std::size_t x = 0; x < width; ++x) {
                        const uint8_t r = src[3 * x], g = src[3 * x + 1], b = src[3 * x + 2];
                        bad |= (r > m_maxval) | (g > m_maxval) | (b > m_maxval);
                        dst[3 * x] = scaled[b];
                        dst[3 * x + 1] = scaled[g];
                        dst[3 * x + 2] = scaled[r];
                    }
                }
            } else {
                for (std::size_t x = 0; x < width; ++x) {
                    bad |= src[x] > m_maxval;
                    std::memset(dst + 3 * x, scaled[src[x]], 3);
                }
            }
            if (bad != 0) {
                return CodecStatus::kCorrupt;
            }
        }
        return CodecStatus::kOk;
    }

    for (int32_t y = 0; y < m_height; ++y, src += rowBytes) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (std::size_t x = 0; x < width; ++x, dst += 3) {
            uint8_t out[3];
            for (std::size_t s = 0; s < samples; ++s) {
                const uint8_t *p = src + 2 * (x * samples + s);
                const uint32_t value = (uint32_t{p[0]} << 8) | p[1];
                if (value > m_maxval) {
                    return CodecStatus::kCorrupt;
                }
                out[s] = ScaleSample(value, m_maxval);
            }
            if (samples == 1) {
                std::memset(dst, out[0], 3);
            } else {
                dst[0] = out[2];
                dst[1] = out[1];
                dst[2] = out[0];
            }
        }
    }
    return CodecStatus::kOk;
}

std::unique_ptr<ImageReader> NewPnmReader(ReaderInput file) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) PnmReader(file));
}

}  // namespace zav
