// The nearest-neighbour kernel against a plain reference (one division per pixel), on many sizes
// and every pixel size, with the bytes around each region checked untouched.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/buffer/pixel_region.h"
#include "imaging/ops/resize.h"

namespace zav {
namespace {

// The rule written out directly.
int64_t ReferenceIndex(int64_t d, int64_t srcSize, int64_t dstSize) {
    int64_t s = (2 * d * srcSize + dstSize - 1) / (2 * dstSize);
    return s > srcSize - 1 ? s - 1 : s;
}

std::vector<int32_t> Columns(int32_t srcSize, int32_t dstSize) {
    std::vector<int32_t> out;
    for (int32_t d = 0; d < dstSize; ++d) {
        out.push_back(NearestSourceIndex(d, srcSize, dstSize));
    }
    return out;
}

TEST(NearestIndex, WorkedExamples) {
    EXPECT_EQ(Columns(4, 2), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(Columns(2, 4), (std::vector<int32_t>{0, 0, 1, 1}));
    // 1.67 rounds to 2 (a floor would give 1); the exact half 1.5 rounds down to 1.
    EXPECT_EQ(Columns(5, 3), (std::vector<int32_t>{0, 2, 3}));
    EXPECT_EQ(Columns(3, 2), (std::vector<int32_t>{0, 1}));
    // Kept below the source size: the last column of a large upscale of one pixel.
    EXPECT_EQ(Columns(1, 5), (std::vector<int32_t>{0, 0, 0, 0, 0}));
    EXPECT_EQ(Columns(7, 7), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(NearestIndex, LargestSizesDoNotOverflow) {
    const int32_t big = INT32_MAX;
    EXPECT_EQ(NearestSourceIndex(big - 1, big, big), big - 1);
    EXPECT_EQ(NearestSourceIndex(2, big, 3), ReferenceIndex(2, big, 3));
    EXPECT_EQ(NearestSourceIndex(big - 1, 3, big), 2);
    EXPECT_EQ(NearestSourceIndex(big - 2, big - 1, big), ReferenceIndex(big - 2, big - 1, big));
}

TEST(NearestIndex, StepsAgreeWithTheRule) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> size(1, 5000);
    for (int trial = 0; trial < 300; ++trial) {
        const int32_t src = trial < 10 ? trial + 1 : size(rng);
        const int32_t dst = size(rng);
        NearestIndexSteps steps(src, dst);
        for (int32_t d = 0; d < dst; ++d) {
            ASSERT_EQ(steps.Next(), ReferenceIndex(d, src, dst)) << src << " -> " << dst;
        }
    }
    NearestIndexSteps steps(INT32_MAX, 3);
    for (int32_t d = 0; d < 3; ++d) {
        EXPECT_EQ(steps.Next(), ReferenceIndex(d, INT32_MAX, 3));
    }
}

constexpr uint8_t kGuard = 0xCD;

// A region inside a buffer with a margin of guard bytes on the left, padding on the right and no
// byte after the last pixel of the bottom row, so that the sanitizer sees any access past it.
struct Plane {
    std::vector<uint8_t> bytes;
    PixelRegion region;
};

Plane MakePlane(int32_t width, int32_t height, int32_t pixelBytes, int32_t left, int32_t pad,
                std::mt19937 *rng) {
    Plane p;
    const int64_t rowBytes = int64_t{width} * pixelBytes;
    const int64_t stride = int64_t{left} * pixelBytes + rowBytes + pad;
    const int64_t offset = int64_t{left} * pixelBytes;
    p.bytes.assign(static_cast<std::size_t>(stride * (height - 1) + offset + rowBytes), kGuard);
    p.region.data = p.bytes.data() + offset;
    p.region.stride = stride;
    p.region.width = width;
    p.region.height = height;
    p.region.pixelBytes = pixelBytes;
    if (rng != nullptr) {
        for (int32_t y = 0; y < height; ++y) {
            for (int64_t i = 0; i < rowBytes; ++i) {
                p.region.Row(y)[i] = static_cast<uint8_t>((*rng)());
            }
        }
    }
    return p;
}

// Every destination byte from the rule, every byte outside the region untouched.
void ExpectScaled(const Plane &src, const Plane &dst) {
    const PixelRegion &s = src.region;
    const PixelRegion &d = dst.region;
    std::vector<bool> inside(dst.bytes.size(), false);
    for (int32_t y = 0; y < d.height; ++y) {
        const int64_t sy = ReferenceIndex(y, s.height, d.height);
        for (int32_t x = 0; x < d.width; ++x) {
            const int64_t sx = ReferenceIndex(x, s.width, d.width);
            const uint8_t *want = s.data + sy * s.stride + sx * s.pixelBytes;
            const uint8_t *got = d.Row(y) + int64_t{x} * d.pixelBytes;
            ASSERT_EQ(std::memcmp(want, got, static_cast<std::size_t>(d.pixelBytes)), 0)
                << s.width << "x" << s.height << " -> " << d.width << "x" << d.height << " px "
                << s.pixelBytes << " at (" << x << ", " << y << ")";
            for (int32_t k = 0; k < d.pixelBytes; ++k) {
                inside[static_cast<std::size_t>(got + k - dst.bytes.data())] = true;
            }
        }
    }
    for (std::size_t i = 0; i < dst.bytes.size(); ++i) {
        if (!inside[i]) {
            ASSERT_EQ(dst.bytes[i], kGuard) << "byte " << i << " outside the region was written";
        }
    }
}

const int32_t kPixelSizes[] = {1, 2, 3, 4, 6, 8, 12, 16, 24, 32};

TEST(NearestResize, MatchesTheRuleOnRandomSizesAndEveryPixelSize) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int32_t> size(1, 48);
    std::uniform_int_distribution<int32_t> small(0, 5);
    for (int trial = 0; trial < 400; ++trial) {
        const int32_t pixelBytes = kPixelSizes[trial % 10];
        int32_t sw = size(rng), sh = size(rng), dw = size(rng), dh = size(rng);
        switch (trial % 8) {  // lines and columns of one pixel, on either side
            case 0:
                sw = 1;
                break;
            case 1:
                sh = 1;
                break;
            case 2:
                dw = 1;
                break;
            case 3:
                dh = 1;
                break;
            default:
                break;
        }
        const Plane src = MakePlane(sw, sh, pixelBytes, small(rng), small(rng), &rng);
        Plane dst = MakePlane(dw, dh, pixelBytes, small(rng), small(rng), nullptr);
        ASSERT_TRUE(NearestResize(src.region, dst.region));
        ExpectScaled(src, dst);
    }
}

TEST(NearestResize, ScalesUpAndDownByLargeFactors) {
    std::mt19937 rng(99);
    const int32_t shapes[][4] = {{1, 1, 97, 33}, {97, 33, 1, 1},     {640, 2, 3, 2},
                                 {3, 2, 640, 2}, {1920, 1, 1280, 1}, {1280, 1, 3840, 1},
                                 {5, 200, 5, 7}, {2, 2, 3, 3}};
    for (const int32_t pixelBytes : {1, 3, 4, 8}) {
        for (const auto &s : shapes) {
            const Plane src = MakePlane(s[0], s[1], pixelBytes, 0, 0, &rng);
            Plane dst = MakePlane(s[2], s[3], pixelBytes, 1, 3, nullptr);
            ASSERT_TRUE(NearestResize(src.region, dst.region));
            ExpectScaled(src, dst);
        }
    }
}

TEST(NearestResize, RefusesPixelSizesNoImageHas) {
    std::mt19937 rng(1);
    const Plane src = MakePlane(4, 4, 5, 0, 0, &rng);
    Plane dst = MakePlane(2, 2, 5, 0, 0, nullptr);
    EXPECT_FALSE(NearestResize(src.region, dst.region));
    const Plane src3 = MakePlane(4, 4, 3, 0, 0, &rng);
    Plane dst4 = MakePlane(2, 2, 4, 0, 0, nullptr);
    EXPECT_FALSE(NearestResize(src3.region, dst4.region));
    for (const uint8_t b : dst4.bytes) {
        EXPECT_EQ(b, kGuard);
    }
}

}  // namespace
}  // namespace zav
