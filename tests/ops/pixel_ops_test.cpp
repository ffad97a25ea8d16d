// Flip, resize and region copy through the C interface, on caller-allocated buffers.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_image.h"
#include "zavimage/zavimage.h"

namespace {

using zavtest::NearestIndex;
using zavtest::TestImage;

class PixelOps : public ::testing::Test {
  protected:
    void SetUp() override {
        m_obj = ZAVCreateObject();
        ASSERT_NE(m_obj, nullptr);
    }
    void TearDown() override { ZAVDestroyObject(m_obj); }

    int32_t Flip(TestImage &image) {
        const ZAVImageStruct &r = image.record();
        return ZAVFlipImage(m_obj, r.data, r.width, r.height, r.depth, r.channels);
    }

    ZAVImageObject *m_obj = nullptr;
};

const int32_t kDepths[] = {ZAV_DEPTH_8U,  ZAV_DEPTH_8S,  ZAV_DEPTH_16S,
                           ZAV_DEPTH_32S, ZAV_DEPTH_32F, ZAV_DEPTH_64F};

// Row y of `after` holds the pixel bytes of row height-1-y of `before`; padding keeps its value.
void ExpectFlipped(const std::vector<uint8_t> &before, const TestImage &after) {
    const ZAVImageStruct &r = after.record();
    const int64_t stride = after.Stride();
    const int64_t pixelBytes = int64_t{r.width} * after.PixelBytes();
    for (int32_t y = 0; y < r.height; ++y) {
        const uint8_t *got = after.Data() + stride * y;
        const uint8_t *want = before.data() + stride * (r.height - 1 - y);
        ASSERT_EQ(std::memcmp(got, want, static_cast<std::size_t>(pixelBytes)), 0) << "row " << y;
        ASSERT_EQ(std::memcmp(got + pixelBytes, before.data() + stride * y + pixelBytes,
                              static_cast<std::size_t>(stride - pixelBytes)),
                  0)
            << "padding of row " << y;
    }
}

TEST_F(PixelOps, FlipExchangesRowsOfOddAndEvenHeightsAndKeepsThePadding) {
    // Rows of 15 and of 303 pixel bytes, each with padding.
    for (const int32_t width : {5, 101}) {
        for (const int32_t height : {1, 2, 3, 4, 7}) {
            TestImage image(width, height, ZAV_DEPTH_8U, 3, static_cast<uint32_t>(height));
            const std::vector<uint8_t> before = image.Bytes();
            ASSERT_EQ(Flip(image), 0);
            ExpectFlipped(before, image);
            if (height == 1 || height == 3) {  // the middle row stays where it is
                const int64_t mid = image.Stride() * (height / 2);
                EXPECT_EQ(std::memcmp(image.Data() + mid, before.data() + mid,
                                      static_cast<std::size_t>(image.Stride())),
                          0);
            }
            ASSERT_EQ(Flip(image), 0);
            EXPECT_EQ(image.Bytes(), before) << "flipping twice restores height " << height;
        }
    }
}

TEST_F(PixelOps, FlipHandlesEveryDepthAndChannelCount) {
    for (const int32_t depth : kDepths) {
        for (int32_t channels = 0; channels <= 4; ++channels) {
            TestImage image(3, 4, depth, channels, static_cast<uint32_t>(channels + 11));
            const std::vector<uint8_t> before = image.Bytes();
            ASSERT_EQ(Flip(image), 0);
            ExpectFlipped(before, image);
        }
    }
}

TEST_F(PixelOps, FlipLeavesRecordsOutsideTheContractAlone) {
    const int32_t bad[][4] = {{3, 4, ZAV_DEPTH_16U, 1}, {3, 4, ZAV_DEPTH_1U, 1},
                              {3, 4, ZAV_DEPTH_8U, 5},  {3, 4, 7, 1},
                              {0, 4, ZAV_DEPTH_8U, 1},  {3, 0, ZAV_DEPTH_8U, 1},
                              {-3, 4, ZAV_DEPTH_8U, 1}, {3, -4, ZAV_DEPTH_8U, 1}};
    TestImage image(3, 4, ZAV_DEPTH_8U, 4);
    const std::vector<uint8_t> before = image.Bytes();
    for (const auto &g : bad) {
        EXPECT_EQ(ZAVFlipImage(m_obj, image.Data(), g[0], g[1], g[2], g[3]), 0);
        EXPECT_EQ(image.Bytes(), before);
    }
    EXPECT_EQ(ZAVFlipImage(m_obj, nullptr, 3, 4, ZAV_DEPTH_8U, 3), 0);
    EXPECT_EQ(ZAVFlipImage(nullptr, image.Data(), 3, 4, ZAV_DEPTH_8U, 3), 0);
}

// Every destination pixel from the rule; the destination's padding untouched.
void ExpectResized(const TestImage &src, const TestImage &dst,
                   const std::vector<uint8_t> &dstBefore) {
    const ZAVImageStruct &s = src.record();
    const ZAVImageStruct &d = dst.record();
    const int32_t pb = dst.PixelBytes();
    for (int32_t y = 0; y < d.height; ++y) {
        const int64_t sy = NearestIndex(y, s.height, d.height);
        for (int32_t x = 0; x < d.width; ++x) {
            const int64_t sx = NearestIndex(x, s.width, d.width);
            ASSERT_EQ(std::memcmp(dst.Pixel(x, y),
                                  src.Pixel(static_cast<int32_t>(sx), static_cast<int32_t>(sy)),
                                  static_cast<std::size_t>(pb)),
                      0)
                << "(" << x << ", " << y << ")";
        }
        const int64_t used = int64_t{d.width} * pb;
        const int64_t row = dst.Stride() * y;
        ASSERT_EQ(std::memcmp(dst.Data() + row + used, dstBefore.data() + row + used,
                              static_cast<std::size_t>(dst.Stride() - used)),
                  0)
            << "padding of row " << y;
    }
}

TEST_F(PixelOps, ResizeTakesTheNearestColumnsAndRowsOfTheWorkedExamples) {
    // 4 -> 2 takes columns 0 and 2; 2 -> 4 takes 0, 0, 1, 1. The same for rows.
    TestImage wide(4, 4, ZAV_DEPTH_8U, 3);
    TestImage half(2, 2, ZAV_DEPTH_8U, 3);
    ASSERT_EQ(ZAVReSizeImage(m_obj, wide.Record(), half.Record()), 0);
    EXPECT_EQ(std::memcmp(half.Pixel(0, 0), wide.Pixel(0, 0), 3), 0);
    EXPECT_EQ(std::memcmp(half.Pixel(1, 0), wide.Pixel(2, 0), 3), 0);
    EXPECT_EQ(std::memcmp(half.Pixel(1, 1), wide.Pixel(2, 2), 3), 0);

    TestImage doubled(4, 4, ZAV_DEPTH_8U, 3);
    ASSERT_EQ(ZAVReSizeImage(m_obj, half.Record(), doubled.Record()), 0);
    const int32_t from[] = {0, 0, 1, 1};
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(std::memcmp(doubled.Pixel(x, y), half.Pixel(from[x], from[y]), 3), 0);
        }
    }
}

TEST_F(PixelOps, ResizeFollowsTheRuleForEveryDepthAndChannelCount) {
    const int32_t shapes[][4] = {{7, 5, 3, 9}, {3, 9, 7, 5}, {1, 1, 6, 2}, {6, 2, 1, 1}};
    for (const int32_t depth : kDepths) {
        for (int32_t channels = 1; channels <= 4; ++channels) {
            for (const auto &s : shapes) {
                TestImage src(s[0], s[1], depth, channels, 3);
                TestImage dst(s[2], s[3], depth, channels, 4);
                const std::vector<uint8_t> before = dst.Bytes();
                ASSERT_EQ(ZAVReSizeImage(m_obj, src.Record(), dst.Record()), 0);
                ExpectResized(src, dst, before);
            }
        }
    }
}

TEST_F(PixelOps, ResizeBetweenEqualSizesCopiesThePixels) {
    TestImage src(101, 3, ZAV_DEPTH_8U, 3, 5);  // 303 pixel bytes and one byte of padding a row
    TestImage dst(101, 3, ZAV_DEPTH_8U, 3, 6);
    const std::vector<uint8_t> before = dst.Bytes();
    ASSERT_EQ(ZAVReSizeImage(m_obj, src.Record(), dst.Record()), 0);
    ExpectResized(src, dst, before);
}

TEST_F(PixelOps, ResizeBetweenDifferentFormatsWritesNothing) {
    TestImage src(8, 8, ZAV_DEPTH_8U, 3);
    const int32_t formats[][2] = {
        {ZAV_DEPTH_8U, 1}, {ZAV_DEPTH_8U, 4}, {ZAV_DEPTH_8S, 3}, {ZAV_DEPTH_16S, 3}};
    for (const auto &f : formats) {
        TestImage dst(4, 4, f[0], f[1]);
        const std::vector<uint8_t> before = dst.Bytes();
        EXPECT_EQ(ZAVReSizeImage(m_obj, src.Record(), dst.Record()), 0);
        EXPECT_EQ(dst.Bytes(), before);
    }
}

TEST_F(PixelOps, ResizeOnlyReadsTheDestinationRecord) {
    TestImage src(9, 9, ZAV_DEPTH_8U, 3);
    TestImage dst(4, 4, ZAV_DEPTH_8U, 3);
    const ZAVImageStruct record = dst.record();
    ASSERT_EQ(ZAVReSizeImage(m_obj, src.Record(), dst.Record()), 0);
    EXPECT_EQ(std::memcmp(&record, dst.Record(), sizeof record), 0);
}

TEST_F(PixelOps, ResizeLeavesRecordsOutsideTheContractAlone) {
    TestImage src(8, 8, ZAV_DEPTH_8U, 3);
    TestImage dst(4, 4, ZAV_DEPTH_8U, 3);
    const std::vector<uint8_t> before = dst.Bytes();
    EXPECT_EQ(ZAVReSizeImage(m_obj, nullptr, dst.Record()), 0);
    EXPECT_EQ(ZAVReSizeImage(m_obj, src.Record(), nullptr), 0);
    ZAVImageStruct noData = src.record();
    noData.data = nullptr;
    EXPECT_EQ(ZAVReSizeImage(m_obj, &noData, dst.Record()), 0);
    ZAVImageStruct empty = src.record();
    empty.width = 0;
    EXPECT_EQ(ZAVReSizeImage(m_obj, &empty, dst.Record()), 0);
    ZAVImageStruct unsigned16 = src.record();
    unsigned16.depth = ZAV_DEPTH_16U;
    EXPECT_EQ(ZAVReSizeImage(m_obj, &unsigned16, dst.Record()), 0);
    EXPECT_EQ(dst.Bytes(), before);
    EXPECT_EQ(ZAVReSizeImage(nullptr, src.Record(), dst.Record()), 0);
}

TEST_F(PixelOps, ResizeOfABufferIntoItselfReadsTheSourceFirst) {
    // The destination record names the same pixels as a smaller image.
    TestImage image(8, 8, ZAV_DEPTH_8U, 1, 9);
    const std::vector<uint8_t> before = image.Bytes();
    ZAVImageStruct smaller = image.record();
    smaller.width = 4;
    smaller.height = 4;
    ASSERT_EQ(ZAVReSizeImage(m_obj, image.Record(), &smaller), 0);
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
            EXPECT_EQ(image.Data()[y * 4 + x], before[static_cast<std::size_t>(y * 2 * 8 + x * 2)]);
        }
    }
}

// ZAVCopyImage

class RegionCopy : public PixelOps {
  protected:
    // Destination pixel (x, y) of the rectangle `to` from the source rectangle `from`, scaled by
    // the resize rule; everything else in the destination as before.
    void ExpectCopied(const TestImage &src, const int32_t (&from)[4], const TestImage &dst,
                      const int32_t (&to)[4], const std::vector<uint8_t> &before) {
        std::vector<uint8_t> want = before;
        const int64_t stride = dst.Stride();
        for (int32_t y = 0; y < to[3]; ++y) {
            const auto sy = static_cast<int32_t>(from[1] + NearestIndex(y, from[3], to[3]));
            for (int32_t x = 0; x < to[2]; ++x) {
                const auto sx = static_cast<int32_t>(from[0] + NearestIndex(x, from[2], to[2]));
                std::memcpy(want.data() + stride * (to[1] + y) + int64_t{to[0] + x} * 3,
                            src.Pixel(sx, sy), 3);
            }
        }
        ASSERT_EQ(dst.Bytes(), want);
    }

    int32_t Copy(TestImage &src, const int32_t (&s)[4], TestImage &dst, const int32_t (&d)[4]) {
        return ZAVCopyImage(m_obj, src.Record(), s[0], s[1], s[2], s[3], dst.Record(), d[0], d[1],
                            d[2], d[3]);
    }
};

TEST_F(RegionCopy, AnExtentPassingTheRightEdgeEndsAtTheEdge) {
    // (600, 0, 100, 100) on a 640-wide source keeps 40 columns (640 - 600); scaled to 100 x 100.
    TestImage src(640, 480, ZAV_DEPTH_8U, 3, 1);
    TestImage dst(640, 480, ZAV_DEPTH_8U, 3, 2);
    const std::vector<uint8_t> before = dst.Bytes();
    ASSERT_EQ(Copy(src, {600, 0, 100, 100}, dst, {0, 0, 100, 100}), 0);
    ExpectCopied(src, {600, 0, 40, 100}, dst, {0, 0, 100, 100}, before);
    // The last destination column comes from the source's last column.
    EXPECT_EQ(std::memcmp(dst.Pixel(99, 0), src.Pixel(639, 0), 3), 0);
}

TEST_F(RegionCopy, AnExtentPassingTheBottomEdgeEndsAtTheEdge) {
    TestImage src(50, 40, ZAV_DEPTH_8U, 3, 3);
    TestImage dst(50, 40, ZAV_DEPTH_8U, 3, 4);
    const std::vector<uint8_t> before = dst.Bytes();
    // Source rows 30..39 (10 of the 20 asked for), copied unscaled into a 10-row destination.
    ASSERT_EQ(Copy(src, {5, 30, 12, 20}, dst, {0, 0, 12, 10}), 0);
    ExpectCopied(src, {5, 30, 12, 10}, dst, {0, 0, 12, 10}, before);
}

TEST_F(RegionCopy, TheWholeImageEndingExactlyAtTheEdgesCopiesUnchanged) {
    TestImage src(101, 21, ZAV_DEPTH_8U, 3, 5);
    TestImage dst(101, 21, ZAV_DEPTH_8U, 3, 6);
    const std::vector<uint8_t> before = dst.Bytes();
    ASSERT_EQ(Copy(src, {0, 0, 101, 21}, dst, {0, 0, 101, 21}), 0);
    ExpectCopied(src, {0, 0, 101, 21}, dst, {0, 0, 101, 21}, before);
}

TEST_F(RegionCopy, ANegativeOriginMovesToZeroAndKeepsItsSize) {
    TestImage src(80, 60, ZAV_DEPTH_8U, 3, 7);
    TestImage dst(80, 60, ZAV_DEPTH_8U, 3, 8);
    const std::vector<uint8_t> before = dst.Bytes();
    ASSERT_EQ(Copy(src, {-10, -10, 50, 50}, dst, {3, 4, 50, 50}), 0);
    ExpectCopied(src, {0, 0, 50, 50}, dst, {3, 4, 50, 50}, before);

    TestImage dst2(80, 60, ZAV_DEPTH_8U, 3, 9);
    const std::vector<uint8_t> before2 = dst2.Bytes();
    ASSERT_EQ(Copy(src, {7, 8, 20, 20}, dst2, {-5, -6, 20, 20}), 0);
    ExpectCopied(src, {7, 8, 20, 20}, dst2, {0, 0, 20, 20}, before2);
}

TEST_F(RegionCopy, TheDestinationRectangleIsCutAtItsEdgesAndTheSourceScaledIntoIt) {
    TestImage src(64, 48, ZAV_DEPTH_8U, 3, 10);
    TestImage dst(64, 48, ZAV_DEPTH_8U, 3, 11);
    const std::vector<uint8_t> before = dst.Bytes();
    // (54, 40, 20, 20) keeps 10 x 8; the 20 x 20 source rectangle is scaled into it.
    ASSERT_EQ(Copy(src, {0, 0, 20, 20}, dst, {54, 40, 20, 20}), 0);
    ExpectCopied(src, {0, 0, 20, 20}, dst, {54, 40, 10, 8}, before);
}

TEST_F(RegionCopy, EmptyRectanglesCopyNothing) {
    TestImage src(40, 30, ZAV_DEPTH_8U, 3, 12);
    TestImage dst(40, 30, ZAV_DEPTH_8U, 3, 13);
    const std::vector<uint8_t> before = dst.Bytes();
    const int32_t empty[][4] = {
        {40, 0, 10, 10},    // origin at the right edge
        {41, 0, 10, 10},    // beyond it: no fall back to the whole image
        {0, 30, 10, 10},    // at the bottom edge
        {0, 1000, 10, 10},  // far below it
        {0, 0, 0, 10},      // zero width
        {0, 0, 10, -3},     // negative height
    };
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Copy(src, empty[i], dst, {0, 0, 10, 10}), 0);
        EXPECT_EQ(dst.Bytes(), before) << "source rectangle " << i;
        EXPECT_EQ(Copy(src, {0, 0, 10, 10}, dst, empty[i]), 0);
        EXPECT_EQ(dst.Bytes(), before) << "destination rectangle " << i;
    }
    // Huge extents do not wrap: (5, 5, INT32_MAX, INT32_MAX) keeps what is left of the image.
    TestImage dst2(40, 30, ZAV_DEPTH_8U, 3, 14);
    const std::vector<uint8_t> before2 = dst2.Bytes();
    ASSERT_EQ(Copy(src, {5, 5, INT32_MAX, INT32_MAX}, dst2, {0, 0, 35, 25}), 0);
    ExpectCopied(src, {5, 5, 35, 25}, dst2, {0, 0, 35, 25}, before2);
    // An origin far left keeps its (huge) extent, cut at the right edge.
    EXPECT_EQ(Copy(src, {INT32_MIN, 0, INT32_MAX, 30}, dst2, {0, 0, 40, 30}), 0);
}

TEST_F(RegionCopy, BuffersOfAnotherFormatAreNeverWritten) {
    TestImage dst(20, 20, ZAV_DEPTH_8U, 3, 15);
    const std::vector<uint8_t> before = dst.Bytes();
    const int32_t sources[][2] = {{ZAV_DEPTH_8U, 1},
                                  {ZAV_DEPTH_8U, 4},
                                  {ZAV_DEPTH_8S, 3},
                                  {ZAV_DEPTH_16S, 3},
                                  {ZAV_DEPTH_16U, 3}};
    for (const auto &f : sources) {
        TestImage src(20, 20, f[0], f[1], 16);
        EXPECT_EQ(Copy(src, {0, 0, 10, 10}, dst, {0, 0, 10, 10}), 0);
        EXPECT_EQ(dst.Bytes(), before);
    }
    // A destination record that is not 8-bit, 3-channel describes another layout: untouched.
    TestImage src(20, 20, ZAV_DEPTH_8U, 3, 17);
    const int32_t destinations[][2] = {{ZAV_DEPTH_8U, 1},
                                       {ZAV_DEPTH_8U, 4},
                                       {ZAV_DEPTH_8U, 0},
                                       {ZAV_DEPTH_8S, 3},
                                       {ZAV_DEPTH_32F, 3}};
    for (const auto &f : destinations) {
        TestImage other(20, 20, f[0], f[1], 18);
        const std::vector<uint8_t> otherBefore = other.Bytes();
        EXPECT_EQ(Copy(src, {0, 0, 20, 20}, other, {0, 0, 20, 20}), 0);
        EXPECT_EQ(other.Bytes(), otherBefore);
    }
}

TEST_F(RegionCopy, RecordsOutsideTheContractDoNothing) {
    TestImage src(20, 20, ZAV_DEPTH_8U, 3, 19);
    TestImage dst(20, 20, ZAV_DEPTH_8U, 3, 20);
    const std::vector<uint8_t> before = dst.Bytes();
    EXPECT_EQ(ZAVCopyImage(m_obj, nullptr, 0, 0, 5, 5, dst.Record(), 0, 0, 5, 5), 0);
    EXPECT_EQ(ZAVCopyImage(m_obj, src.Record(), 0, 0, 5, 5, nullptr, 0, 0, 5, 5), 0);
    ZAVImageStruct noData = dst.record();
    noData.data = nullptr;
    EXPECT_EQ(ZAVCopyImage(m_obj, src.Record(), 0, 0, 5, 5, &noData, 0, 0, 5, 5), 0);
    ZAVImageStruct negative = src.record();
    negative.height = -20;
    EXPECT_EQ(ZAVCopyImage(m_obj, &negative, 0, 0, 5, 5, dst.Record(), 0, 0, 5, 5), 0);
    EXPECT_EQ(ZAVCopyImage(nullptr, src.Record(), 0, 0, 5, 5, dst.Record(), 0, 0, 5, 5), 0);
    EXPECT_EQ(dst.Bytes(), before);
}

TEST_F(RegionCopy, OverlappingRectanglesOfOneBufferReadTheSourceFirst) {
    TestImage image(30, 30, ZAV_DEPTH_8U, 3, 21);
    TestImage original(30, 30, ZAV_DEPTH_8U, 3, 21);  // the same bytes, kept apart
    const std::vector<uint8_t> before = image.Bytes();
    ASSERT_EQ(ZAVCopyImage(m_obj, image.Record(), 0, 0, 20, 20, image.Record(), 4, 3, 20, 20), 0);
    ExpectCopied(original, {0, 0, 20, 20}, image, {4, 3, 20, 20}, before);
}

}  // namespace
