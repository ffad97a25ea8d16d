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

    // A row of odd length is followed by a zero byte, never by whatever lies after it in the
    // caller's buffer (in our own buffers that is row padding).
    static constexpr uint8_t kPad = 0;
    for (uint64_t y = 0; y < height; ++y) {
        const uint8_t *src = request.pixels + y * request.step;
        if (!sink.Write(src, row) || (padded != row && !sink.Write(&kPad, 1))) {
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
