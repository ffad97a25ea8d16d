#include "imaging/codecs/sun_raster.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "imaging/codecs/byte_order.h"

namespace zav {
namespace {

using namespace sunras;

// The byte stream of a run-length coded picture: 0x80 0 stands for one 0x80 byte, 0x80 n v for
// n + 1 bytes of value v, every other byte for itself. Runs may cross row boundaries.
class RunLengthStream {
  public:
    RunLengthStream(const uint8_t *begin, const uint8_t *end) : m_p(begin), m_end(end) {}

    // Fills out[0, n); false when the coded data end first.
    bool Read(uint8_t *out, std::size_t n) {
        std::size_t i = 0;
        while (i < n) {
            if (m_run > 0) {
                const std::size_t k = std::min(m_run, n - i);
                std::memset(out + i, m_value, k);
                i += k;
                m_run -= k;
                continue;
            }
            if (m_p == m_end) {
                return false;
            }
            const uint8_t b = *m_p++;
            if (b != kRunEscape) {
                out[i++] = b;
                continue;
            }
            if (m_p == m_end) {
                return false;
            }
            const uint8_t count = *m_p++;
            if (count == 0) {
                out[i++] = kRunEscape;
                continue;
            }
            if (m_p == m_end) {
                return false;
            }
            m_value = *m_p++;
            m_run = std::size_t{count} + 1;
        }
        return true;
    }

  private:
    const uint8_t *m_p;
    const uint8_t *m_end;
    std::size_t m_run = 0;
    uint8_t m_value = 0;
};

// The header step reads the head of the file (and the colour map, where it runs past it); 24-bit
// rows of the standard type are read from the file straight into the buffer, other pictures
// decoded from the whole file.
class SunRasterReader final : public ImageReader {
  public:
    explicit SunRasterReader(ReaderInput file) : m_input(file) {}
    SunRasterReader(const SunRasterReader &) = delete;
    SunRasterReader &operator=(const SunRasterReader &) = delete;

    CodecStatus ReadHeader(ImageInfo *info) override;
    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override;

  private:
    // 24-bit rows of the standard (and old) type, all within the file, are stored as the buffer
    // holds them.
    bool FindPlainRows(PlainRows *rows) const;
    void ConvertRow(const uint8_t *src, uint8_t *dst) const;

    ReaderInput m_input;
    std::span<const uint8_t> m_file;  // the first bytes of the file read so far
    uint64_t m_fileSize = 0;
    bool m_headerRead = false;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint32_t m_depth = 0;
    uint32_t m_type = 0;
    bool m_hasMap = false;
    uint8_t m_map[256][3] = {};  // blue, green, red; entries past the file's map stay black
    std::size_t m_dataOffset = 0;
    std::size_t m_rowBytes = 0;  // one stored row, padded to 16 bits
};

CodecStatus SunRasterReader::ReadHeader(ImageInfo *info) {
    m_headerRead = false;
    m_fileSize = m_input.Size();
    if (const CodecStatus read = m_input.Head(&m_file); read != CodecStatus::kOk) {
        return read;
    }
    const uint8_t *p = m_file.data();
    if (m_file.size() < 4 || LoadBigEndian32(p) != kMagic) {
        return CodecStatus::kCorrupt;
    }
    if (m_file.size() < kHeaderBytes) {
        return CodecStatus::kTruncated;
    }
    m_width = LoadBigEndian32(p + 4);
    m_height = LoadBigEndian32(p + 8);
    m_depth = LoadBigEndian32(p + 12);
    m_type = LoadBigEndian32(p + 20);
    const uint32_t map_type = LoadBigEndian32(p + 24);
    const uint32_t map_length = LoadBigEndian32(p + 28);

    if (m_width < 1 || m_height < 1) {
        return CodecStatus::kCorrupt;
    }
    if (m_depth != 1 && m_depth != 8 && m_depth != 24 && m_depth != 32) {
        return CodecStatus::kUnsupported;
    }
    if (m_type != kTypeOld && m_type != kTypeStandard && m_type != kTypeByteEncoded &&
        m_type != kTypeRgb) {
        return CodecStatus::kUnsupported;
    }
    if (!FitsDecodeLimit(m_width, m_height)) {
        return CodecStatus::kTooLarge;
    }
    if (map_type != kMapNone && map_type != kMapEqualRgb) {
        return CodecStatus::kUnsupported;
    }
    if (map_length > m_fileSize - kHeaderBytes) {
        return CodecStatus::kTruncated;
    }

    m_hasMap = false;
    bool gray_map = true;  // a map of gray levels only still makes a gray picture
    std::memset(m_map, 0, sizeof m_map);
    if (map_type == kMapEqualRgb && map_length > 0 && m_depth <= 8) {
        if (const CodecStatus read = m_input.Prefix(uint64_t{kHeaderBytes} + map_length, &m_file);
            read != CodecStatus::kOk) {
            return read;
        }
        p = m_file.data();
        if (map_length > m_file.size() - kHeaderBytes) {
            return CodecStatus::kTruncated;  // the file shrank
        }
        const uint32_t entries = map_length / 3;
        if (map_length % 3 != 0 || entries > (uint32_t{1} << m_depth)) {
            return CodecStatus::kCorrupt;
        }
        const uint8_t *planes = p + kHeaderBytes;
        for (uint32_t i = 0; i < entries; ++i) {
            m_map[i][2] = planes[i];
            m_map[i][1] = planes[entries + i];
            m_map[i][0] = planes[2 * entries + i];
        }
        m_hasMap = true;
        for (uint32_t i = 0; i < entries; ++i) {
            gray_map = gray_map && m_map[i][0] == m_map[i][1] && m_map[i][1] == m_map[i][2];
        }
    }
    // A map at depths above 8 has no use and is skipped, as is a map of type "none" that still
    // gives a length.

    m_dataOffset = kHeaderBytes + map_length;
    m_rowBytes = static_cast<std::size_t>((uint64_t{m_width} * m_depth + 15) / 16 * 2);

    info->width = static_cast<int32_t>(m_width);
    info->height = static_cast<int32_t>(m_height);
    info->color = m_depth > 8 || (m_hasMap && !gray_map);
    m_headerRead = true;
    return CodecStatus::kOk;
}

void SunRasterReader::ConvertRow(const uint8_t *src, uint8_t *dst) const {
    const uint32_t w = m_width;
    switch (m_depth) {
        case 1:
            for (uint32_t x = 0; x < w; ++x) {
                const int bit = (src[x >> 3] >> (7 - (x & 7))) & 1;
                if (m_hasMap) {
                    std::memcpy(dst + 3 * x, m_map[bit], 3);
                } else {
                    // Without a map a set bit is black.
                    const uint8_t v = bit ? 0 : 255;
                    dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
                }
            }
            break;
        case 8:
            if (m_hasMap) {
                for (uint32_t x = 0; x < w; ++x) {
                    std::memcpy(dst + 3 * x, m_map[src[x]], 3);
                }
            } else {
                for (uint32_t x = 0; x < w; ++x) {
                    dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
                }
            }
            break;
        case 24:
            // The standard type stores blue first, as the buffer does; the RGB type red first.
            if (m_type == kTypeRgb) {
                SwapRedBlue(src, dst, w);
            } else {
                std::memcpy(dst, src, std::size_t{w} * 3);
            }
            break;
        default: {
            // 32 bits: a pad byte, then the three samples in the order of the 24-bit layout.
            const bool rgb = m_type == kTypeRgb;
            const uint8_t *s = src + 1;
            if (rgb) {
                for (uint32_t x = 0; x < w; ++x, s += 4) {
                    dst[3 * x] = s[2];
                    dst[3 * x + 1] = s[1];
                    dst[3 * x + 2] = s[0];
                }
            } else {
                for (uint32_t x = 0; x < w; ++x, s += 4) {
                    dst[3 * x] = s[0];
                    dst[3 * x + 1] = s[1];
                    dst[3 * x + 2] = s[2];
                }
            }
            break;
        }
    }
}

bool SunRasterReader::FindPlainRows(PlainRows *rows) const {
    // 24-bit rows of the standard (and old) type are blue, green, red.
    if (!m_headerRead || m_depth != 24 || (m_type != kTypeStandard && m_type != kTypeOld) ||
        m_rowBytes > (m_fileSize - m_dataOffset) / m_height) {
        return false;
    }
    rows->offset = m_dataOffset;
    rows->fileStep = m_rowBytes;
    rows->bottomUp = false;
    return true;
}

CodecStatus SunRasterReader::ReadData(uint8_t *bgr, std::size_t step) {
    if (!m_headerRead || bgr == nullptr || step < std::size_t{m_width} * 3) {
        return CodecStatus::kCorrupt;
    }
    if (PlainRows rows; FindPlainRows(&rows)) {
        return m_input.Source().ReadRows(rows, std::size_t{m_width} * 3, m_height, bgr, step);
    }
    if (const CodecStatus read = m_input.Whole(&m_file); read != CodecStatus::kOk) {
        return read;
    }
    if (m_file.size() < m_dataOffset) {
        return CodecStatus::kTruncated;  // the file shrank
    }
    const uint8_t *data = m_file.data() + m_dataOffset;
    const std::size_t available = m_file.size() - m_dataOffset;

    if (m_type != kTypeByteEncoded) {
        // The length field is 0 in some old files; the geometry decides what must be present.
        if (m_rowBytes > available / m_height) {
            return CodecStatus::kTruncated;
        }
        for (uint32_t y = 0; y < m_height; ++y) {
            ConvertRow(data + y * m_rowBytes, bgr + y * step);
        }
        return CodecStatus::kOk;
    }

    std::vector<uint8_t> row;
    try {
        row.resize(m_rowBytes);
    } catch (const std::bad_alloc &) {
        return CodecStatus::kNoMemory;
    }
    RunLengthStream stream(data, data + available);
    for (uint32_t y = 0; y < m_height; ++y) {
        if (!stream.Read(row.data(), row.size())) {
            return CodecStatus::kTruncated;
        }
        ConvertRow(row.data(), bgr + y * step);
    }
    return CodecStatus::kOk;
}

}  // namespace

std::unique_ptr<ImageReader> NewSunRasterReader(ReaderInput file) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) SunRasterReader(file));
}

}  // namespace zav
