// Nearest-neighbour scaling: the kernel, the transfer of one region into another, and the resize of
// one whole buffer into another.
#include "imaging/ops/resize.h"

#include <cstring>
#include <memory>
#include <new>

#include "imaging/buffer/image_record.h"
#include "imaging/buffer/pixel_region.h"

namespace zav {

int32_t NearestSourceIndex(int32_t d, int32_t srcSize, int32_t dstSize) noexcept {
    // 2 * d * srcSize stays below 2^63 for every pair of 32-bit sizes.
    const uint64_t numerator = 2 * static_cast<uint64_t>(d) * static_cast<uint64_t>(srcSize) +
                               static_cast<uint64_t>(dstSize) - 1;
    auto index = static_cast<int32_t>(numerator / (2 * static_cast<uint64_t>(dstSize)));
    if (index > srcSize - 1) {
        --index;
    }
    return index;
}

NearestIndexSteps::NearestIndexSteps(int32_t srcSize, int32_t dstSize) noexcept
    : m_divisor(2 * static_cast<uint64_t>(dstSize)), m_last(srcSize - 1) {
    // numerator(d) = 2 * d * srcSize + dstSize - 1, kept as quotient and remainder by divisor_.
    const uint64_t start = static_cast<uint64_t>(dstSize) - 1;
    m_quotient = start / m_divisor;
    m_remainder = start % m_divisor;
    const uint64_t step = 2 * static_cast<uint64_t>(srcSize);
    m_wholeStep = step / m_divisor;
    m_partStep = step % m_divisor;
}

int32_t NearestIndexSteps::Next() noexcept {
    auto index = static_cast<int32_t>(m_quotient);
    if (index > m_last) {
        --index;
    }
    m_quotient += m_wholeStep;
    m_remainder += m_partStep;
    if (m_remainder >= m_divisor) {
        m_remainder -= m_divisor;
        ++m_quotient;
    }
    return index;
}

namespace {

// One destination row from one source row. offsets[x] is the byte offset of the source pixel
// for destination column x. `wide` leading columns may move 4 bytes for a 3-byte pixel: their
// source pixel is not the last of its row and neither is their destination pixel, so the extra
// byte read belongs to the next source pixel and the extra byte written is overwritten next.
using RowScaler = void (*)(const uint8_t *src, uint8_t *dst, const uint32_t *offsets, int32_t width,
                           int32_t wide);

void ScaleRow1(const uint8_t *src, uint8_t *dst, const uint32_t *offsets, int32_t width,
               int32_t /*wide*/) {
    int32_t x = 0;
    // Four gathered bytes leave in one store.
    for (; x + 4 <= width; x += 4) {
        const uint32_t v = uint32_t{src[offsets[x]]} | uint32_t{src[offsets[x + 1]]} << 8 |
                           uint32_t{src[offsets[x + 2]]} << 16 |
                           uint32_t{src[offsets[x + 3]]} << 24;
        std::memcpy(dst + x, &v, 4);
    }
    for (; x < width; ++x) {
        dst[x] = src[offsets[x]];
    }
}

void ScaleRow3(const uint8_t *src, uint8_t *dst, const uint32_t *offsets, int32_t width,
               int32_t wide) {
    int32_t x = 0;
    for (; x < wide; ++x, dst += 3) {
        uint32_t v;
        std::memcpy(&v, src + offsets[x], 4);
        std::memcpy(dst, &v, 4);
    }
    for (; x < width; ++x, dst += 3) {
        std::memcpy(dst, src + offsets[x], 3);
    }
}

template <int N>
void ScaleRowN(const uint8_t *src, uint8_t *dst, const uint32_t *offsets, int32_t width,
               int32_t /*wide*/) {
    for (int32_t x = 0; x < width; ++x, dst += N) {
        std::memcpy(dst, src + offsets[x], N);
    }
}

RowScaler ScalerFor(int32_t pixelBytes) noexcept {
    switch (pixelBytes) {
        case 1:
            return ScaleRow1;
        case 2:
            return ScaleRowN<2>;
        case 3:
            return ScaleRow3;
        case 4:
            return ScaleRowN<4>;
        case 6:
            return ScaleRowN<6>;
        case 8:
            return ScaleRowN<8>;
        case 12:
            return ScaleRowN<12>;
        case 16:
            return ScaleRowN<16>;
        case 24:
            return ScaleRowN<24>;
        case 32:
            return ScaleRowN<32>;
        default:
            return nullptr;  // no depth and channel count gives another pixel size
    }
}

}  // namespace

bool NearestResize(const PixelRegion &src, const PixelRegion &dst) noexcept {
    const int32_t pixelBytes = src.pixelBytes;
    const RowScaler scaleRow = ScalerFor(pixelBytes);
    if (scaleRow == nullptr || dst.pixelBytes != pixelBytes || src.width < 1 || src.height < 1 ||
        dst.width < 1 || dst.height < 1 || src.data == nullptr || dst.data == nullptr ||
        src.RowBytes() > UINT32_MAX) {
        return false;
    }
    std::unique_ptr<uint32_t[]> offsets(new (std::nothrow) uint32_t[dst.width]);
    if (!offsets) {
        return false;
    }
    NearestIndexSteps columns(src.width, dst.width);
    int32_t wide = 0;
    for (int32_t x = 0; x < dst.width; ++x) {
        const int32_t sx = columns.Next();
        offsets[x] = static_cast<uint32_t>(sx) * static_cast<uint32_t>(pixelBytes);
        if (sx < src.width - 1 && x < dst.width - 1) {
            wide = x + 1;  // source columns never decrease: this is a prefix
        }
    }

    const auto rowBytes = static_cast<std::size_t>(dst.RowBytes());
    NearestIndexSteps rows(src.height, dst.height);
    int32_t previous = -1;
    uint8_t *previousRow = nullptr;
    for (int32_t y = 0; y < dst.height; ++y) {
        const int32_t sy = rows.Next();
        uint8_t *row = dst.Row(y);
        if (sy == previous) {
            std::memcpy(row, previousRow, rowBytes);
        } else {
            scaleRow(src.Row(sy), row, offsets.get(), dst.width, wide);
        }
        previous = sy;
        previousRow = row;
    }
    return true;
}

namespace {

void CopyRows(const PixelRegion &src, const PixelRegion &dst) noexcept {
    const auto rowBytes = static_cast<std::size_t>(dst.RowBytes());
    if (src.stride == dst.stride && src.stride == static_cast<int64_t>(rowBytes)) {
        // Rows without padding lie back to back: one copy for the whole block.
        std::memcpy(dst.data, src.data, rowBytes * static_cast<std::size_t>(dst.height));
        return;
    }
    for (int32_t y = 0; y < dst.height; ++y) {
        std::memcpy(dst.Row(y), src.Row(y), rowBytes);
    }
}

}  // namespace

bool TransferRegion(const PixelRegion &src, const PixelRegion &dst) noexcept {
    if (src.pixelBytes != dst.pixelBytes) {
        return false;
    }
    const bool sameSize = src.width == dst.width && src.height == dst.height;
    PixelRegion from = src;
    std::unique_ptr<uint8_t[]> staged;
    if (RegionsOverlap(src, dst)) {
        if (sameSize && src.data == dst.data && src.stride == dst.stride) {
            return true;  // the region onto itself
        }
        // Read the source whole first, into rows without padding.
        const auto rowBytes = static_cast<std::size_t>(src.RowBytes());
        staged.reset(new (std::nothrow) uint8_t[rowBytes * static_cast<std::size_t>(src.height)]);
        if (!staged) {
            return false;
        }
        for (int32_t y = 0; y < src.height; ++y) {
            std::memcpy(staged.get() + rowBytes * static_cast<std::size_t>(y), src.Row(y),
                        rowBytes);
        }
        from.data = staged.get();
        from.stride = static_cast<int64_t>(rowBytes);
    }
    if (sameSize) {
        CopyRows(from, dst);
        return true;
    }
    return NearestResize(from, dst);
}

int32_t ResizeImageRecord(const ZAVImageStruct *imageStruct,
                          const ZAVImageStruct *videoImageStruct) {
    if (imageStruct == nullptr || videoImageStruct == nullptr) {
        return 0;
    }
    // Both buffers keep their own depth and channels; the destination record is only read.
    const ImageHeader source = WrapImageRecord(*imageStruct);
    const ImageHeader destination = WrapImageRecord(*videoImageStruct);
    if (!source.IsProcessable() || !destination.IsProcessable() ||
        source.depth != destination.depth || source.nChannels != destination.nChannels) {
        return 0;
    }
    TransferRegion(WholeImage(source), WholeImage(destination));
    return 0;
}

}  // namespace zav
