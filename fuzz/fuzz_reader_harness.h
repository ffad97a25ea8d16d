// The body of every reader fuzzer: header step, then, when the picture is within the decode limit,
// its data can fill it (the reader's CanFill, as a load asks before allocating) and its buffer is
// small enough for a quick run, the data step into a buffer of exactly the needed size.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imaging/codecs/codec.h"
#include "imaging/files/format_table.h"

namespace zav {

// Pictures whose buffer would be larger are only parsed, not decoded, so that each run stays fast
// and small. The bound is the declared allocation, not the pixels: a picture of any shape whose
// data can fill it is decoded up to here.
inline constexpr uint64_t kFuzzMaxBytes = uint64_t{1} << 27;

// A reader over the head of the file agrees with one over the whole file whenever its header step
// succeeds, and rows it calls plain lie within the file and are what the data step decodes.
inline void FuzzHeadReader(const ImageFormat &filter, const uint8_t *data, std::size_t size) {
    for (std::size_t head_size :
         {std::min<std::size_t>(size, 40), std::min<std::size_t>(size, 1100), size}) {
        if (filter.newHeadReader == nullptr) {
            return;  // the format always needs the whole file
        }
        auto head = filter.newHeadReader(std::span<const uint8_t>(data, head_size), size);
        if (!head) {
            return;  // the format always needs the whole file
        }
        ImageInfo head_info;
        if (head->ReadHeader(&head_info) != CodecStatus::kOk) {
            continue;
        }
        auto full = filter.newReader(std::span<const uint8_t>(data, size));
        ImageInfo info;
        if (!full || full->ReadHeader(&info) != CodecStatus::kOk || info.width != head_info.width ||
            info.height != head_info.height || info.color != head_info.color) {
            std::abort();
        }
        PlainRows head_rows, rows;
        const bool head_plain = head->FindPlainRows(&head_rows);
        const bool plain = full->FindPlainRows(&rows);
        if (head_plain != plain ||
            (plain && (head_rows.offset != rows.offset || head_rows.fileStep != rows.fileStep ||
                       head_rows.bottomUp != rows.bottomUp))) {
            std::abort();
        }
        if (!plain) {
            continue;
        }
        const uint64_t row_bytes = uint64_t{static_cast<uint32_t>(info.width)} * 3;
        const auto height = static_cast<uint64_t>(info.height);
        if (rows.fileStep < row_bytes || rows.offset > size ||
            rows.fileStep * (height - 1) + row_bytes > size - rows.offset) {
            std::abort();
        }
        if (row_bytes * height > kFuzzMaxBytes || full->CanFill() != CodecStatus::kOk) {
            continue;
        }
        auto *buffer = static_cast<uint8_t *>(std::malloc(row_bytes * height));
        if (buffer == nullptr) {
            return;
        }
        if (full->ReadData(buffer, row_bytes) != CodecStatus::kOk) {
            std::abort();
        }
        for (uint64_t y = 0; y < height; ++y) {
            const uint64_t stored = rows.bottomUp ? height - 1 - y : y;
            if (std::memcmp(buffer + y * row_bytes, data + rows.offset + stored * rows.fileStep,
                            row_bytes) != 0) {
                std::abort();
            }
        }
        std::free(buffer);
    }
}

inline void DecodeAll(ImageReader &reader) {
    ImageInfo info;
    if (reader.ReadHeader(&info) != CodecStatus::kOk) {
        return;
    }
    if (info.width < 1 || info.height < 1 || !FitsDecodeLimit(info.width, info.height)) {
        std::abort();  // a header step may only succeed within the limit
    }
    if (uint64_t{static_cast<uint32_t>(info.width)} * 3 * static_cast<uint32_t>(info.height) >
            kFuzzMaxBytes ||
        reader.CanFill() != CodecStatus::kOk) {
        return;
    }
    const std::size_t step = (static_cast<std::size_t>(info.width) * 3 + 3) & ~std::size_t{3};
    // The last row ends at width * 3: nothing may be written past it.
    const std::size_t bytes = step * (info.height - 1) + static_cast<std::size_t>(info.width) * 3;
    auto *buffer = static_cast<uint8_t *>(std::malloc(bytes));
    if (buffer == nullptr) {
        return;
    }
    (void)reader.ReadData(buffer, step);
    std::free(buffer);
}

inline int FuzzReader(const ImageFormat &filter, const uint8_t *data, std::size_t size) {
    FuzzHeadReader(filter, data, size);
    MemorySource source(std::span<const uint8_t>(data, size));
    if (auto through_source =
            filter.newSourceReader != nullptr ? filter.newSourceReader(source) : nullptr) {
        DecodeAll(*through_source);
    }
    if (size >= filter.signatureLength) {
        (void)filter.matches(data, size);
    }
    auto reader = filter.newReader(std::span<const uint8_t>(data, size));
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
    if (uint64_t{static_cast<uint32_t>(info.width)} * 3 * static_cast<uint32_t>(info.height) >
            kFuzzMaxBytes ||
        reader->CanFill() != CodecStatus::kOk) {
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
