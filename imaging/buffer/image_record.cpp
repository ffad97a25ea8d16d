#include "imaging/buffer/image_record.h"

#include <cstddef>
#include <cstring>

#include "imaging/buffer/aligned_alloc.h"

namespace zav {

static_assert(sizeof(ZAVImageStruct) == 16 + sizeof(void *),
              "record is 24 bytes on a 64-bit platform, 20 on a 32-bit one");
static_assert(offsetof(ZAVImageStruct, width) == 0);
static_assert(offsetof(ZAVImageStruct, height) == 4);
static_assert(offsetof(ZAVImageStruct, depth) == 8);
static_assert(offsetof(ZAVImageStruct, channels) == 12);
static_assert(offsetof(ZAVImageStruct, data) == 16);
static_assert(sizeof(ZAVImageRect) == 16);
static_assert(offsetof(ZAVImageRect, x) == 0);
static_assert(offsetof(ZAVImageRect, y) == 4);
static_assert(offsetof(ZAVImageRect, width) == 8);
static_assert(offsetof(ZAVImageRect, height) == 12);

static_assert(ZAV_DEPTH_8S == -2147483640);
static_assert(ZAV_DEPTH_16S == -2147483632);
static_assert(ZAV_DEPTH_32S == -2147483616);

bool IsKnownDepth(int32_t depth) noexcept {
    switch (depth) {
        case ZAV_DEPTH_1U:
        case ZAV_DEPTH_8U:
        case ZAV_DEPTH_8S:
        case ZAV_DEPTH_16U:
        case ZAV_DEPTH_16S:
        case ZAV_DEPTH_32S:
        case ZAV_DEPTH_32F:
        case ZAV_DEPTH_64F:
            return true;
        default:
            return false;
    }
}

StrideAndSize ComputeStrideAndSize(int32_t width, int32_t height, int32_t depth,
                                   int32_t channels) noexcept {
    StrideAndSize out;
    const int64_t bits = DepthBits(depth);
    const int64_t n = channels > 1 ? channels : 1;
    // bits <= 2^31 and width, n < 2^31: the product needs up to 93 bits, so multiply with checks.
    int64_t rowBits = 0;
    if (__builtin_mul_overflow(bits, static_cast<int64_t>(width), &rowBits) ||
        __builtin_mul_overflow(rowBits, n, &rowBits)) {
        out.oversized = true;
        return out;
    }
    const int64_t rowBytes = (rowBits + 7) >> 3;
    out.stride = (rowBytes + 3) & ~int64_t{3};
    if (__builtin_mul_overflow(out.stride, static_cast<int64_t>(height), &out.size) ||
        out.stride > INT32_MAX || out.size > INT32_MAX) {
        out.oversized = true;
    }
    return out;
}

bool ImageHeader::IsProcessable() const noexcept {
    switch (depth) {
        case ZAV_DEPTH_8U:
        case ZAV_DEPTH_8S:
        case ZAV_DEPTH_16S:
        case ZAV_DEPTH_32S:
        case ZAV_DEPTH_32F:
        case ZAV_DEPTH_64F:
            break;
        default:
            return false;
    }
    return nChannels >= 1 && nChannels <= 4 && width >= 1 && height >= 1 && !oversized &&
           imageData != nullptr;
}

ImageHeader WrapImageRecord(int32_t width, int32_t height, int32_t depth, int32_t channels,
                            uint8_t *data) noexcept {
    ImageHeader header;
    if (width >= 0 && height >= 0 && channels >= 0 && IsKnownDepth(depth)) {
        header.width = width;
        header.height = height;
        header.depth = depth;
        header.nChannels = channels > 1 ? channels : 1;
        const StrideAndSize geometry = ComputeStrideAndSize(width, height, depth, channels);
        header.widthStep = geometry.stride;
        header.imageSize = geometry.size;
        header.oversized = geometry.oversized;
    }
    header.imageData = data;
    return header;
}

ImageHeader WrapImageRecord(const ZAVImageStruct &record) noexcept {
    return WrapImageRecord(record.width, record.height, record.depth, record.channels, record.data);
}

void FillImageRecord(ZAVImageStruct *record, const ImageHeader &header) noexcept {
    record->width = header.width;
    record->height = header.height;
    record->depth = header.depth;
    record->channels = header.nChannels;
    record->data = header.imageData;
}

ImageHeader CreateImage(int32_t width, int32_t height, int32_t depth, int32_t channels) noexcept {
    ImageHeader header = WrapImageRecord(width, height, depth, channels, nullptr);
    if (header.oversized) {
        return header;  // more than 2^30 bytes in any case: no block
    }
    header.imageData =
        static_cast<uint8_t *>(AlignedAlloc(static_cast<std::size_t>(header.imageSize)));
    return header;
}

ImageHeader CloneImage(const ImageHeader &source) noexcept {
    ImageHeader clone = source;
    clone.imageData = nullptr;
    if (source.imageData == nullptr || source.oversized) {
        return clone;
    }
    clone.imageData =
        static_cast<uint8_t *>(AlignedAlloc(static_cast<std::size_t>(source.imageSize)));
    if (clone.imageData != nullptr && source.imageSize > 0) {
        std::memcpy(clone.imageData, source.imageData, static_cast<std::size_t>(source.imageSize));
    }
    return clone;
}

bool ReleaseImageData(ImageHeader *header) noexcept {
    const bool freed = AlignedFree(header->imageData);
    header->imageData = nullptr;
    return freed;
}

}  // namespace zav
