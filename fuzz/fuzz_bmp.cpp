// Fuzzes the Windows bitmap reader: the header step, then the data step into a buffer of exactly
// the picture's size when the picture fits the decode limit.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "imaging/codecs/codec.h"
#include "imaging/codecs/filters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::unique_ptr<zav::ImageReader> reader =
        zav::BmpFormatFilter().NewReader(std::span<const uint8_t>(data, size));
    zav::ImageInfo info;
    if (!reader || reader->ReadHeader(&info) != zav::CodecStatus::kOk ||
        !zav::FitsDecodeLimit(info.width, info.height)) {
        return 0;
    }
    const std::size_t step = (static_cast<std::size_t>(info.width) * 3 + 3) & ~std::size_t{3};
    const std::unique_ptr<uint8_t[]> pixels(
        new (std::nothrow) uint8_t[step * static_cast<std::size_t>(info.height)]);
    if (pixels) {
        reader->ReadData(pixels.get(), step);
    }
    return 0;
}
