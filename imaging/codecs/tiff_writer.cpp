#include "imaging/codecs/tiff.h"

#include <algorithm>
#include <new>
#include <vector>

namespace zav {
namespace {

constexpr uint64_t kStripBudget = 8192;

// Tags, field types and values of the directory, in the ascending tag order TIFF requires.
enum Tag : uint16_t {
    kImageWidth = 256,
    kImageLength = 257,
    kBitsPerSample = 258,
    kCompression = 259,
    kPhotometric = 262,
    kStripOffsets = 273,
    kSamplesPerPixel = 277,
    kRowsPerStrip = 278,
    kStripByteCounts = 279,
};
enum FieldType : uint16_t { kShort = 3, kLong = 4 };

constexpr uint32_t kEntryCount = 9;
constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kDirectoryBytes = 2 + 12 * kEntryCount + 4;

class LittleEndianBuffer {
  public:
    void U16(uint16_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    void U32(uint32_t v) {
        U16(static_cast<uint16_t>(v));
        U16(static_cast<uint16_t>(v >> 16));
    }
    // One directory entry: a value that fits in 4 bytes is stored in place (a SHORT in the first
    // two), anything longer at `value` as an offset.
    void Entry(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        U16(tag);
        U16(type);
        U32(count);
        if (type == kShort && count == 1) {
            U16(static_cast<uint16_t>(value));
            U16(0);
        } else {
            U32(value);
        }
    }
    std::vector<uint8_t> bytes;
};

class TiffWriter final : public ImageWriter {
  public:
    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override;
};

CodecStatus TiffWriter::Write(const WriteRequest &request, ByteSink &sink) {
    if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
        return CodecStatus::kUnsupported;
    }
    const uint32_t width = static_cast<uint32_t>(request.width);
    const uint32_t height = static_cast<uint32_t>(request.height);
    const uint32_t samples = request.color ? 3 : 1;
    const uint64_t row = uint64_t{width} * samples;
    if (request.step < row) {
        return CodecStatus::kUnsupported;
    }
    const uint32_t rows_per_strip = TiffRowsPerStrip(row, height);
    const uint32_t strips = (height - 1) / rows_per_strip + 1;

    // Layout: header, directory, bits per sample (colour), strip offsets and byte counts (when
    // more than one strip), pixel data. Every part starts on an even offset.
    const uint64_t bits_offset = kHeaderBytes + kDirectoryBytes;
    const uint64_t offsets_offset = bits_offset + (request.color ? 6 : 0);
    const uint64_t arrays = strips > 1 ? uint64_t{strips} * 4 : 0;
    const uint64_t counts_offset = offsets_offset + arrays;
    const uint64_t data_offset = counts_offset + arrays;
    if (row * height > UINT32_MAX - data_offset) {
        return CodecStatus::kTooLarge;  // offsets hold 32 bits
    }

    LittleEndianBuffer head;
    try {
        head.bytes.reserve(static_cast<std::size_t>(data_offset));
    } catch (const std::bad_alloc &) {
        return CodecStatus::kNoMemory;
    }
    head.bytes.insert(head.bytes.end(), {0x49, 0x49, 0x2A, 0x00});
    head.U32(kHeaderBytes);
    head.U16(kEntryCount);
    const auto short_or_long = [](uint32_t v) { return v <= 0xFFFF ? kShort : kLong; };
    head.Entry(kImageWidth, short_or_long(width), 1, width);
    head.Entry(kImageLength, short_or_long(height), 1, height);
    head.Entry(kBitsPerSample, kShort, samples,
               request.color ? static_cast<uint32_t>(bits_offset) : 8);
    head.Entry(kCompression, kShort, 1, 1);
    head.Entry(kPhotometric, kShort, 1, request.color ? 2 : 1);
    head.Entry(
        kStripOffsets, kLong, strips,
        strips > 1 ? static_cast<uint32_t>(offsets_offset) : static_cast<uint32_t>(data_offset));
    head.Entry(kSamplesPerPixel, kShort, 1, samples);
    head.Entry(kRowsPerStrip, short_or_long(rows_per_strip), 1, rows_per_strip);
    head.Entry(
        kStripByteCounts, kLong, strips,
        strips > 1 ? static_cast<uint32_t>(counts_offset) : static_cast<uint32_t>(row * height));
    head.U32(0);  // no further directory
    if (request.color) {
        head.U16(8);
        head.U16(8);
        head.U16(8);
    }
    if (strips > 1) {
        const uint64_t strip_bytes = row * rows_per_strip;
        for (uint32_t i = 0; i < strips; ++i) {
            head.U32(static_cast<uint32_t>(data_offset + strip_bytes * i));
        }
        for (uint32_t i = 0; i < strips; ++i) {
            const uint32_t rows = std::min(rows_per_strip, height - rows_per_strip * i);
            head.U32(static_cast<uint32_t>(row * rows));
        }
    }
    if (!sink.Write(head.bytes.data(), head.bytes.size())) {
        return CodecStatus::kIoError;
    }

    // One strip at a time through a copy, red and blue exchanged for colour.
    std::vector<uint8_t> strip;
    try {
        strip.resize(static_cast<std::size_t>(row * rows_per_strip));
    } catch (const std::bad_alloc &) {
        return CodecStatus::kNoMemory;
    }
    for (uint32_t y0 = 0; y0 < height; y0 += rows_per_strip) {
        const uint32_t rows = std::min(rows_per_strip, height - y0);
        for (uint32_t r = 0; r < rows; ++r) {
            const uint8_t *src = request.pixels + (std::size_t{y0} + r) * request.step;
            uint8_t *dst = strip.data() + std::size_t{r} * row;
            if (request.color) {
                for (uint32_t x = 0; x < width; ++x) {
                    dst[3 * x] = src[3 * x + 2];
                    dst[3 * x + 1] = src[3 * x + 1];
                    dst[3 * x + 2] = src[3 * x];
                }
            } else {
                std::copy(src, src + row, dst);
            }
        }
        if (!sink.Write(strip.data(), static_cast<std::size_t>(row * rows))) {
            return CodecStatus::kIoError;
        }
    }
    return CodecStatus::kOk;
}

}  // namespace

uint32_t TiffRowsPerStrip(uint64_t row_bytes, uint32_t height) {
    const uint64_t fit = row_bytes > 0 ? kStripBudget / row_bytes : height;
    return static_cast<uint32_t>(std::clamp<uint64_t>(fit, 1, height));
}

std::unique_ptr<ImageWriter> NewTiffWriter() {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) TiffWriter());
}

}  // namespace zav
