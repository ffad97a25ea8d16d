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
    RunLengthStream(const uint8_t *begin, const uint8_t *end) : p_(begin), end_(end) {}

    // Fills out[0, n); false when the coded data end first.
    bool Read(uint8_t *out, std::size_t n) {
        std::size_t i = 0;
        while (i < n) {
            if (run_ > 0) {
                const std::size_t k = std::min(run_, n - i);
                std::memset(out + i, value_, k);
                i += k;
                run_ -= k;
                continue;
            }
            if (p_ == end_) {
                return false;
            }
            const uint8_t b = *p_++;
            if (b != kRunEscape) {
                out[i++] = b;
                continue;
            }
            if (p_ == end_) {
                return false;
            }
            const uint8_t count = *p_++;
            if (count == 0) {
                out[i++] = kRunEscape;
                continue;
            }
            if (p_ == end_) {
                return false;
            }
            value_ = *p_++;
            run_ = std::size_t{count} + 1;
        }
        return true;
    }

  private:
    const uint8_t *p_;
    const uint8_t *end_;
    std::size_t run_ = 0;
    uint8_t value_ = 0;
};

class SunRasterReader final : public ImageReader {
  public:
    SunRasterReader(std::span<const uint8_t> file, uint64_t file_size)
        : file_(file), file_size_(file_size) {}

    CodecStatus ReadHeader(ImageInfo *info) override;
    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override;
    bool FindPlainRows(PlainRows *rows) const override;

  private:
    void ConvertRow(const uint8_t *src, uint8_t *dst) const;

    std::span<const uint8_t> file_;  // the file, or its head
    uint64_t file_size_;
    bool header_read_ = false;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    uint32_t depth_ = 0;
    uint32_t type_ = 0;
    bool has_map_ = false;
    uint8_t map_[256][3] = {};  // blue, green, red; entries past the file's map stay black
    std::size_t data_offset_ = 0;
    std::size_t row_bytes_ = 0;  // one stored row, padded to 16 bits
};

CodecStatus SunRasterReader::ReadHeader(ImageInfo *info) {
    header_read_ = false;
    const uint8_t *p = file_.data();
    if (file_.size() < 4 || LoadBigEndian32(p) != kMagic) {
        return CodecStatus::kCorrupt;
    }
    if (file_.size() < kHeaderBytes) {
        return CodecStatus::kTruncated;
    }
    width_ = LoadBigEndian32(p + 4);
    height_ = LoadBigEndian32(p + 8);
    depth_ = LoadBigEndian32(p + 12);
    type_ = LoadBigEndian32(p + 20);
    const uint32_t map_type = LoadBigEndian32(p + 24);
    const uint32_t map_length = LoadBigEndian32(p + 28);

    if (width_ < 1 || height_ < 1) {
        return CodecStatus::kCorrupt;
    }
    if (depth_ != 1 && depth_ != 8 && depth_ != 24 && depth_ != 32) {
        return CodecStatus::kUnsupported;
    }
    if (type_ != kTypeOld && type_ != kTypeStandard && type_ != kTypeByteEncoded &&
        type_ != kTypeRgb) {
        return CodecStatus::kUnsupported;
    }
    if (!FitsDecodeLimit(width_, height_)) {
        return CodecStatus::kTooLarge;
    }
    if (map_type != kMapNone && map_type != kMapEqualRgb) {
        return CodecStatus::kUnsupported;
    }
    if (map_length > file_size_ - kHeaderBytes) {
        return CodecStatus::kTruncated;
    }

    has_map_ = false;
    bool gray_map = true;  // a map of gray levels only still makes a gray picture
    std::memset(map_, 0, sizeof map_);
    if (map_type == kMapEqualRgb && map_length > 0 && depth_ <= 8) {
        if (map_length > file_.size() - kHeaderBytes) {
            return CodecStatus::kTruncated;  // only a head was given
        }
        const uint32_t entries = map_length / 3;
        if (map_length % 3 != 0 || entries > (uint32_t{1} << depth_)) {
            return CodecStatus::kCorrupt;
        }
        const uint8_t *planes = p + kHeaderBytes;
        for (uint32_t i = 0; i < entries; ++i) {
            map_[i][2] = planes[i];
            map_[i][1] = planes[entries + i];
            map_[i][0] = planes[2 * entries + i];
        }
        has_map_ = true;
        for (uint32_t i = 0; i < entries; ++i) {
            gray_map = gray_map && map_[i][0] == map_[i][1] && map_[i][1] == map_[i][2];
        }
    }
    // A map at depths above 8 has no use and is skipped, as is a map of type "none" that still
    // gives a length.

    data_offset_ = kHeaderBytes + map_length;
    row_bytes_ = static_cast<std::size_t>((uint64_t{width_} * depth_ + 15) / 16 * 2);

    info->width = static_cast<int32_t>(width_);
    info->height = static_cast<int32_t>(height_);
    info->color = depth_ > 8 || (has_map_ && !gray_map);
    header_read_ = true;
    return CodecStatus::kOk;
}

void SunRasterReader::ConvertRow(const uint8_t *src, uint8_t *dst) const {
    const uint32_t w = width_;
    switch (depth_) {
        case 1:
            for (uint32_t x = 0; x < w; ++x) {
                const int bit = (src[x >> 3] >> (7 - (x & 7))) & 1;
                if (has_map_) {
                    std::memcpy(dst + 3 * x, map_[bit], 3);
                } else {
                    // Without a map a set bit is black.
                    const uint8_t v = bit ? 0 : 255;
                    dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = v;
                }
            }
            break;
        case 8:
            if (has_map_) {
                for (uint32_t x = 0; x < w; ++x) {
                    std::memcpy(dst + 3 * x, map_[src[x]], 3);
                }
            } else {
                for (uint32_t x = 0; x < w; ++x) {
                    dst[3 * x] = dst[3 * x + 1] = dst[3 * x + 2] = src[x];
                }
            }
            break;
        case 24:
            // The standard type stores blue first, as the buffer does; the RGB type red first.
            if (type_ == kTypeRgb) {
                SwapRedBlue(src, dst, w);
            } else {
                std::memcpy(dst, src, std::size_t{w} * 3);
            }
            break;
        default: {
            // 32 bits: a pad byte, then the three samples in the order of the 24-bit layout.
            const bool rgb = type_ == kTypeRgb;
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
    if (!header_read_ || depth_ != 24 || (type_ != kTypeStandard && type_ != kTypeOld) ||
        row_bytes_ > (file_size_ - data_offset_) / height_) {
        return false;
    }
    rows->offset = data_offset_;
    rows->fileStep = row_bytes_;
    rows->bottomUp = false;
    return true;
}

CodecStatus SunRasterReader::ReadData(uint8_t *bgr, std::size_t step) {
    if (!header_read_ || bgr == nullptr || step < std::size_t{width_} * 3 ||
        file_.size() != file_size_) {
        return CodecStatus::kCorrupt;
    }
    const uint8_t *data = file_.data() + data_offset_;
    const std::size_t available = file_.size() - data_offset_;

    if (type_ != kTypeByteEncoded) {
        // The length field is 0 in some old files; the geometry decides what must be present.
        if (row_bytes_ > available / height_) {
            return CodecStatus::kTruncated;
        }
        for (uint32_t y = 0; y < height_; ++y) {
            ConvertRow(data + y * row_bytes_, bgr + y * step);
        }
        return CodecStatus::kOk;
    }

    std::vector<uint8_t> row;
    try {
        row.resize(row_bytes_);
    } catch (const std::bad_alloc &) {
        return CodecStatus::kNoMemory;
    }
    RunLengthStream stream(data, data + available);
    for (uint32_t y = 0; y < height_; ++y) {
        if (!stream.Read(row.data(), row.size())) {
            return CodecStatus::kTruncated;
        }
        ConvertRow(row.data(), bgr + y * step);
    }
    return CodecStatus::kOk;
}

}  // namespace

std::unique_ptr<ImageReader> NewSunRasterReader(std::span<const uint8_t> file) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) SunRasterReader(file, file.size()));
}

std::unique_ptr<ImageReader> NewSunRasterHeadReader(std::span<const uint8_t> head,
                                                    uint64_t file_size) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) SunRasterReader(head, file_size));
}

}  // namespace zav
