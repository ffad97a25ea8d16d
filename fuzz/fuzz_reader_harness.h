// The body of every reader fuzzer: header step, then, when the picture is within the decode limit
// (and small enough for a quick run), the data step into a buffer of exactly the needed size.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "imaging/codecs/codec.h"

namespace zav {

// Larger pictures are only parsed, not decoded, so that each run stays fast and small.
inline constexpr int64_t kFuzzMaxPixels = int64_t{1} << 22;

inline int FuzzReader(const ImageFormatFilter &filter, const uint8_t *data, std::size_t size) {
    if (size >= filter.SignatureLength()) {
        (void)filter.CheckSignature(data, size);
    }
    auto reader = filter.NewReader(std::span<const uint8_t>(data, size));
    if (!reader) {
        return 0;
    }
    ImageInfo info;
    if (reader->ReadHeader(&info) != CodecStatus::kOk) {
        return 0;
    }
    if (info.width < 1 || info.height < 1 || !FitsDecodeLimit(info.width, info.height)) {
        std::abort();  // a header step may only succeed within the limit
    }
    if (int64_t{info.width} * info.height > kFuzzMaxPixels) {
        return 0;
    }
    const std::size_t step = (static_cast<std::size_t>(info.width) * 3 + 3) & ~std::size_t{3};
    // The last row ends at width * 3: nothing may be written past it.
    const std::size_t bytes = step * (info.height - 1) + static_cast<std::size_t>(info.width) * 3;
    auto *buffer = static_cast<uint8_t *>(std::malloc(bytes));
    if (buffer == nullptr) {
        return 0;
    }
    (void)reader->ReadData(buffer, step);
    std::free(buffer);
    return 0;
}

}  // namespace zav
