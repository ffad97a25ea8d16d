#include "imaging/codecs/sun_raster.h"

#include <cstdint>
#include <new>

#include "imaging/codecs/byte_order.h"

namespace zav {
namespace {

using namespace sunras;

class SunRasterWriter final : public ImageWriter {
  public:
    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override;
};

CodecStatus SunRasterWriter::Write(const WriteRequest &request, ByteSink &sink) {
    if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
        return CodecStatus::kUnsupported;
    }
    const uint32_t channels = request.color ? 3 : 1;
    const uint64_t row = uint64_t{static_cast<uint32_t>(request.width)} * channels;
    const uint64_t padded = row + (row & 1);
    const uint64_t height = static_cast<uint32_t>(request.height);
    if (request.step < row) {
        return CodecStatus::kUnsupported;
    }
    if (padded > UINT32_MAX / height) {
        return CodecStatus::kTooLarge;  // the length field holds 32 bits
    }

    uint8_t header[kHeaderBytes];
    StoreBigEndian32(header, kMagic);
    StoreBigEndian32(header + 4, static_cast<uint32_t>(request.width));
    StoreBigEndian32(header + 8, static_cast<uint32_t>(request.height));
    StoreBigEndian32(header + 12, 8 * channels);
    StoreBigEndian32(header + 16, static_cast<uint32_t>(padded * height));
    StoreBigEndian32(header + 20, kTypeStandard);
    StoreBigEndian32(header + 24, kMapNone);
    StoreBigEndian32(header + 28, 0);
    if (!sink.Write(header, sizeof header)) {
        return CodecStatus::kIoError;
    }

    // A row of odd length is followed by the next byte of the buffer row, which lies within the
    // row step (rows are padded to 4 bytes). With a step that leaves no such byte, the next row's
    // first byte takes its place, and 0 after the last row.
    for (uint64_t y = 0; y < height; ++y) {
        const uint8_t *src = request.pixels + y * request.step;
        if (padded == row || request.step >= padded) {
            if (!sink.Write(src, padded)) {
                return CodecStatus::kIoError;
            }
            continue;
        }
        const uint8_t pad = y + 1 < height ? src[request.step] : 0;
        if (!sink.Write(src, row) || !sink.Write(&pad, 1)) {
            return CodecStatus::kIoError;
        }
    }
    return CodecStatus::kOk;
}

}  // namespace

std::unique_ptr<ImageWriter> NewSunRasterWriter() {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) SunRasterWriter());
}

}  // namespace zav
