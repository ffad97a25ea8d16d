#include "imaging/codecs/bmp.h"

#include <new>

#include "imaging/codecs/byte_order.h"

namespace zav {

namespace {

constexpr uint32_t kColorDataOffset = 14 + 40;
constexpr uint32_t kGrayDataOffset = 14 + 40 + 256 * 4;

}  // namespace

CodecStatus BmpWriter::Write(const WriteRequest &request, ByteSink &sink) {
    if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
        return CodecStatus::kCorrupt;
    }
    const uint64_t channels = request.color ? 3 : 1;
    const uint64_t rowBytes = static_cast<uint64_t>(request.width) * channels;
    const uint64_t paddedRow = (rowBytes + 3) & ~uint64_t{3};
    const uint32_t dataOffset = request.color ? kColorDataOffset : kGrayDataOffset;
    const uint64_t fileSize = dataOffset + paddedRow * static_cast<uint64_t>(request.height);
    if (fileSize > UINT32_MAX) {
        return CodecStatus::kTooLarge;
    }

    uint8_t header[kGrayDataOffset] = {};
    header[0] = 'B';
    header[1] = 'M';
    StoreLittleEndian32(header + 2, static_cast<uint32_t>(fileSize));
    StoreLittleEndian32(header + 10, dataOffset);
    uint8_t *info = header + 14;
    StoreLittleEndian32(info, 40);
    StoreLittleEndian32(info + 4, static_cast<uint32_t>(request.width));
    StoreLittleEndian32(info + 8, static_cast<uint32_t>(request.height));
    StoreLittleEndian16(info + 12, 1);
    StoreLittleEndian16(info + 14, request.color ? 24 : 8);
    // Compression, image size, resolutions and colour counts stay 0.
    if (!request.color) {
        uint8_t *palette = header + kColorDataOffset;
        for (int i = 0; i < 256; ++i) {
            palette[4 * i] = palette[4 * i + 1] = palette[4 * i + 2] = static_cast<uint8_t>(i);
        }
    }
    if (!sink.Write(header, dataOffset)) {
        return CodecStatus::kIoError;
    }

    // Rows from the bottom of the picture up, each padded with zeros.
    static constexpr uint8_t kZeros[4] = {};
    const std::size_t pad = static_cast<std::size_t>(paddedRow - rowBytes);
    for (int32_t y = request.height - 1; y >= 0; --y) {
        if (!sink.Write(request.pixels + static_cast<std::size_t>(y) * request.step, rowBytes) ||
            (pad > 0 && !sink.Write(kZeros, pad))) {
            return CodecStatus::kIoError;
        }
    }
    return CodecStatus::kOk;
}

std::unique_ptr<ImageWriter> NewBmpWriter() {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) BmpWriter());
}

}  // namespace zav
