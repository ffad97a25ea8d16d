#include "imaging/codecs/pnm.h"

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
    TextCursor(std::span<const uint8_t> bytes, std::size_t pos) : bytes_(bytes), pos_(pos) {}

    std::size_t Position() const { return pos_; }

    // Skips white space and comments; false when the text ends.
    bool SkipSeparators() {
        while (pos_ < bytes_.size()) {
            const uint8_t c = bytes_[pos_];
            if (c == '#') {
                while (pos_ < bytes_.size() && bytes_[pos_] != '\n' && bytes_[pos_] != '\r') {
                    ++pos_;
                }
            } else if (IsSpace(c)) {
                ++pos_;
            } else {
                return true;
            }
        }
        return false;
    }

    // An unsigned decimal number of at most `limit`; a larger one gives kOk with *overflow set.
    CodecStatus Number(uint64_t limit, uint64_t *value, bool *overflow) {
        if (!SkipSeparators()) {
            return CodecStatus::kTruncated;
        }
        if (!IsDigit(bytes_[pos_])) {
            return CodecStatus::kCorrupt;
        }
        uint64_t v = 0;
        *overflow = false;
        while (pos_ < bytes_.size() && IsDigit(bytes_[pos_])) {
            v = v * 10 + (bytes_[pos_] - '0');
            if (v > limit) {
                *overflow = true;
                v = limit + 1;  // keeps the arithmetic bounded while the digits are skipped
            }
            ++pos_;
        }
        *value = v;
        return CodecStatus::kOk;
    }

    // One "0" or "1" of a plain bitmap (digits need no separator between them).
    CodecStatus Bit(int *bit) {
        if (!SkipSeparators()) {
            return CodecStatus::kTruncated;
        }
        const uint8_t c = bytes_[pos_];
        if (c != '0' && c != '1') {
            return CodecStatus::kCorrupt;
        }
        *bit = c - '0';
        ++pos_;
        return CodecStatus::kOk;
    }

  private:
    std::span<const uint8_t> bytes_;
    std::size_t pos_;
};

// 0..maxval to 0..255, rounded to nearest.
uint8_t ScaleSample(uint32_t value, uint32_t maxval) {
    return static_cast<uint8_t>((value * 255u + maxval / 2) / maxval);
}

}  // namespace

CodecStatus PnmReader::ReadHeader(ImageInfo *info) {
    if (file_.size() < 3) {
        return CodecStatus::kTruncated;
    }
    if (file_[0] != 'P' || file_[1] < '1' || file_[1] > '6') {
        return CodecStatus::kCorrupt;
    }
    kind_ = static_cast<char>(file_[1]);
    TextCursor cursor(file_, 2);
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
    maxval_ = 1;
    if (kind_ != '1' && kind_ != '4') {
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
        maxval_ = static_cast<uint32_t>(maxval);
    }
    dataOffset_ = cursor.Position();
    if (kind_ >= '4') {
        // Exactly one white-space character separates the header from raw data.
        if (dataOffset_ >= file_.size()) {
            return CodecStatus::kTruncated;
        }
        if (!IsSpace(file_[dataOffset_])) {
            return CodecStatus::kCorrupt;
        }
        ++dataOffset_;
    }
    if (tooLarge || !FitsDecodeLimit(static_cast<int64_t>(width), static_cast<int64_t>(height))) {
        return CodecStatus::kTooLarge;
    }
    width_ = static_cast<int32_t>(width);
    height_ = static_cast<int32_t>(height);
    // Data that cannot hold the picture fail before anyone allocates a buffer for it: raw data
    // have a fixed size, text needs at least one character per bitmap pixel and two per sample
    // (a digit and a separator) but for the last.
    const uint64_t pixels = width * height;
    const uint64_t samples = pixels * ((kind_ == '3' || kind_ == '6') ? 3 : 1);
    uint64_t needed = 0;
    switch (kind_) {
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
            needed = samples * (maxval_ > 255 ? 2 : 1);
            break;
    }
    if (needed > file_.size() - dataOffset_) {
        return CodecStatus::kTruncated;
    }
    info->width = width_;
    info->height = height_;
    info->color = kind_ == '3' || kind_ == '6';
    headerRead_ = true;
    return CodecStatus::kOk;
}

CodecStatus PnmReader::ReadData(uint8_t *bgr, std::size_t step) {
    if (!headerRead_) {
        return CodecStatus::kCorrupt;
    }
    switch (kind_) {
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

CodecStatus PnmReader::ReadPlainBits(uint8_t *bgr, std::size_t step) const {
    TextCursor cursor(file_, dataOffset_);
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (int32_t x = 0; x < width_; ++x, dst += 3) {
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
    const std::size_t rowBytes = (static_cast<std::size_t>(width_) + 7) / 8;
    if (rowBytes * static_cast<std::size_t>(height_) > file_.size() - dataOffset_) {
        return CodecStatus::kTruncated;
    }
    const uint8_t *src = file_.data() + dataOffset_;
    for (int32_t y = 0; y < height_; ++y, src += rowBytes) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (int32_t x = 0; x < width_; ++x, dst += 3) {
            const int bit = (src[x >> 3] >> (7 - (x & 7))) & 1;
            std::memset(dst, bit ? 0 : 255, 3);
        }
    }
    return CodecStatus::kOk;
}

CodecStatus PnmReader::ReadPlainSamples(uint8_t *bgr, std::size_t step) const {
    const int samples = kind_ == '3' ? 3 : 1;
    TextCursor cursor(file_, dataOffset_);
    for (int32_t y = 0; y < height_; ++y) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (int32_t x = 0; x < width_; ++x, dst += 3) {
            uint8_t rgb[3];
            for (int s = 0; s < samples; ++s) {
                uint64_t value = 0;
                bool overflow = false;
                const CodecStatus status = cursor.Number(maxval_, &value, &overflow);
                if (status != CodecStatus::kOk) {
                    return status;
                }
                if (overflow) {
                    return CodecStatus::kCorrupt;  // above the maximum
                }
                rgb[s] = ScaleSample(static_cast<uint32_t>(value), maxval_);
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
    const std::size_t samples = kind_ == '6' ? 3 : 1;
    const std::size_t sampleBytes = maxval_ > 255 ? 2 : 1;
    const std::size_t rowBytes = static_cast<std::size_t>(width_) * samples * sampleBytes;
    if (rowBytes * static_cast<std::size_t>(height_) > file_.size() - dataOffset_) {
        return CodecStatus::kTruncated;
    }
    const uint8_t *src = file_.data() + dataOffset_;
    const auto width = static_cast<std::size_t>(width_);

    if (sampleBytes == 1) {
        // One table for all samples; a value above the maximum sets `bad`.
        std::array<uint8_t, 256> scaled{};
        uint32_t bad = 0;
        for (uint32_t v = 0; v <= maxval_; ++v) {
            scaled[v] = ScaleSample(v, maxval_);
        }
        for (int32_t y = 0; y < height_; ++y, src += rowBytes) {
            uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
            if (samples == 3) {
                if (maxval_ == 255) {
                    SwapRedBlue(src, dst, width);
                } else {
                    for (std::size_t x = 0; x < width; ++x) {
                        const uint8_t r = src[3 * x], g = src[3 * x + 1], b = src[3 * x + 2];
                        bad |= (r > maxval_) | (g > maxval_) | (b > maxval_);
                        dst[3 * x] = scaled[b];
                        dst[3 * x + 1] = scaled[g];
                        dst[3 * x + 2] = scaled[r];
                    }
                }
            } else {
                for (std::size_t x = 0; x < width; ++x) {
                    bad |= src[x] > maxval_;
                    std::memset(dst + 3 * x, scaled[src[x]], 3);
                }
            }
            if (bad != 0) {
                return CodecStatus::kCorrupt;
            }
        }
        return CodecStatus::kOk;
    }

    for (int32_t y = 0; y < height_; ++y, src += rowBytes) {
        uint8_t *dst = bgr + static_cast<std::size_t>(y) * step;
        for (std::size_t x = 0; x < width; ++x, dst += 3) {
            uint8_t out[3];
            for (std::size_t s = 0; s < samples; ++s) {
                const uint8_t *p = src + 2 * (x * samples + s);
                const uint32_t value = (uint32_t{p[0]} << 8) | p[1];
                if (value > maxval_) {
                    return CodecStatus::kCorrupt;
                }
                out[s] = ScaleSample(value, maxval_);
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

std::unique_ptr<ImageReader> NewPnmReader(std::span<const uint8_t> file) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) PnmReader(file));
}

}  // namespace zav
