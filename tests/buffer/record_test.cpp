// The stride rule, header construction and the record conversions; the object's stored quality.
#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "imaging/api/image_component.h"
#include "imaging/buffer/image_record.h"

namespace zav {
namespace {

int64_t Stride(int32_t width, int32_t depth, int32_t channels) {
    return WrapImageRecord(width, 1, depth, channels, nullptr).widthStep;
}

TEST(StrideRule, RowsArePaddedToFourBytes) {
    EXPECT_EQ(Stride(101, ZAV_DEPTH_8U, 3), 304);
    EXPECT_EQ(Stride(640, ZAV_DEPTH_8U, 3), 1920);
    EXPECT_EQ(Stride(1, ZAV_DEPTH_8U, 1), 4);
    EXPECT_EQ(Stride(3, ZAV_DEPTH_8U, 1), 4);
    EXPECT_EQ(Stride(5, ZAV_DEPTH_8U, 3), 16);
    EXPECT_EQ(Stride(4, ZAV_DEPTH_8U, 1), 4);
    EXPECT_EQ(Stride(5, ZAV_DEPTH_8U, 4), 20);
}

TEST(StrideRule, BitsComeFromTheDepthCodeWithoutItsSign) {
    EXPECT_EQ(Stride(9, ZAV_DEPTH_1U, 1), 4);   // 9 bits -> 2 bytes -> 4
    EXPECT_EQ(Stride(33, ZAV_DEPTH_1U, 1), 8);  // 33 bits -> 5 bytes -> 8
    EXPECT_EQ(Stride(3, ZAV_DEPTH_8S, 3), 12);
    EXPECT_EQ(Stride(3, ZAV_DEPTH_16U, 1), 8);
    EXPECT_EQ(Stride(3, ZAV_DEPTH_16S, 3), 20);
    EXPECT_EQ(Stride(3, ZAV_DEPTH_32S, 1), 12);
    EXPECT_EQ(Stride(3, ZAV_DEPTH_32F, 3), 36);
    EXPECT_EQ(Stride(1, ZAV_DEPTH_64F, 3), 24);
}

TEST(StrideRule, ZeroChannelsCountAsOne) {
    const ImageHeader h = WrapImageRecord(5, 2, ZAV_DEPTH_8U, 0, nullptr);
    EXPECT_EQ(h.nChannels, 1);
    EXPECT_EQ(h.widthStep, 8);
    EXPECT_EQ(h.imageSize, 16);
}

TEST(StrideRule, ZeroWidthOrHeightGivesZeroSize) {
    ImageHeader h = WrapImageRecord(0, 7, ZAV_DEPTH_8U, 3, nullptr);
    EXPECT_FALSE(h.IsEmpty());
    EXPECT_EQ(h.widthStep, 0);
    EXPECT_EQ(h.imageSize, 0);
    h = WrapImageRecord(7, 0, ZAV_DEPTH_8U, 3, nullptr);
    EXPECT_EQ(h.widthStep, 24);
    EXPECT_EQ(h.imageSize, 0);
}

TEST(StrideRule, SizesBeyondThirtyTwoBitsAreMarkedNotWrapped) {
    // 65536 x 32768 x 1 byte = 2^31: wraps to a negative size in 32-bit arithmetic.
    ImageHeader h = WrapImageRecord(65536, 32768, ZAV_DEPTH_8U, 1, nullptr);
    EXPECT_TRUE(h.oversized);
    // 2^32 exactly would wrap to 0.
    h = WrapImageRecord(65536, 65536, ZAV_DEPTH_8U, 1, nullptr);
    EXPECT_TRUE(h.oversized);
    // The widest row product does not overflow the checked arithmetic either.
    h = WrapImageRecord(INT32_MAX, INT32_MAX, ZAV_DEPTH_64F, INT32_MAX, nullptr);
    EXPECT_TRUE(h.oversized);
    h = WrapImageRecord(32768, 32768, ZAV_DEPTH_8U, 1, nullptr);
    EXPECT_FALSE(h.oversized);
    EXPECT_EQ(h.imageSize, int64_t{1} << 30);
}

TEST(Header, InvalidGeometryGivesAnEmptyHeaderThatKeepsData) {
    uint8_t pixel[4];
    const int32_t bad[][4] = {{-1, 2, ZAV_DEPTH_8U, 3},
                              {2, -1, ZAV_DEPTH_8U, 3},
                              {2, 2, ZAV_DEPTH_8U, -1},
                              {2, 2, 7, 3},
                              {2, 2, 0, 3},
                              {2, 2, static_cast<int32_t>(0x80000001u), 3},
                              {2, 2, static_cast<int32_t>(0x80000040u), 3}};
    for (const auto &g : bad) {
        const ImageHeader h = WrapImageRecord(g[0], g[1], g[2], g[3], pixel);
        EXPECT_TRUE(h.IsEmpty());
        EXPECT_EQ(h.width, 0);
        EXPECT_EQ(h.height, 0);
        EXPECT_EQ(h.depth, 0);
        EXPECT_EQ(h.nChannels, 0);
        EXPECT_EQ(h.widthStep, 0);
        EXPECT_EQ(h.imageSize, 0);
        EXPECT_EQ(h.imageData, pixel);
        EXPECT_FALSE(h.IsProcessable());
    }
}

TEST(Header, EveryDepthCodeIsAcceptedAndCarriedUnchanged) {
    const int32_t codes[] = {ZAV_DEPTH_1U,  ZAV_DEPTH_8U,  ZAV_DEPTH_8S,  ZAV_DEPTH_16U,
                             ZAV_DEPTH_16S, ZAV_DEPTH_32S, ZAV_DEPTH_32F, ZAV_DEPTH_64F};
    for (const int32_t code : codes) {
        const ImageHeader h = WrapImageRecord(1, 1, code, 1, nullptr);
        EXPECT_FALSE(h.IsEmpty());
        ZAVImageStruct r{};
        FillImageRecord(&r, h);
        EXPECT_EQ(r.depth, code);
    }
    EXPECT_LT(ZAV_DEPTH_8S, 0);
    EXPECT_LT(ZAV_DEPTH_16S, 0);
    EXPECT_LT(ZAV_DEPTH_32S, 0);
}

TEST(Header, OnlyTheHandledDepthsAndChannelCountsAreProcessable) {
    uint8_t px[64];
    EXPECT_TRUE(WrapImageRecord(1, 1, ZAV_DEPTH_8U, 3, px).IsProcessable());
    EXPECT_TRUE(WrapImageRecord(1, 1, ZAV_DEPTH_64F, 4, px).IsProcessable());
    EXPECT_FALSE(WrapImageRecord(1, 1, ZAV_DEPTH_1U, 1, px).IsProcessable());
    EXPECT_FALSE(WrapImageRecord(1, 1, ZAV_DEPTH_16U, 1, px).IsProcessable());
    EXPECT_FALSE(WrapImageRecord(1, 1, ZAV_DEPTH_8U, 5, px).IsProcessable());
    EXPECT_FALSE(WrapImageRecord(0, 1, ZAV_DEPTH_8U, 3, px).IsProcessable());
    EXPECT_FALSE(WrapImageRecord(1, 0, ZAV_DEPTH_8U, 3, px).IsProcessable());
    EXPECT_FALSE(WrapImageRecord(1, 1, ZAV_DEPTH_8U, 3, nullptr).IsProcessable());
    // Zero channels wrap as one channel, which the operations handle.
    EXPECT_TRUE(WrapImageRecord(1, 1, ZAV_DEPTH_8U, 0, px).IsProcessable());
}

TEST(Record, FillOverwritesEveryField) {
    uint8_t old_pixels[4];
    uint8_t new_pixels[4];
    ZAVImageStruct r{9, 9, ZAV_DEPTH_32F, 4, old_pixels};
    ImageHeader h = WrapImageRecord(3, 2, ZAV_DEPTH_8U, 0, new_pixels);
    FillImageRecord(&r, h);
    EXPECT_EQ(r.width, 3);
    EXPECT_EQ(r.height, 2);
    EXPECT_EQ(r.depth, ZAV_DEPTH_8U);
    EXPECT_EQ(r.channels, 1);
    EXPECT_EQ(r.data, new_pixels);
}

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float FromBits(uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

TEST(Quality, StartsAtTwoAndStoresEveryFloatBitForBit) {
    ImageComponent a;
    ImageComponent b;
    EXPECT_EQ(Bits(a.Quality()), Bits(2.0f));
    const uint32_t samples[] = {Bits(-0.0f),
                                Bits(0.0f),
                                Bits(-3.5f),
                                Bits(1e-30f),
                                Bits(std::numeric_limits<float>::infinity()),
                                Bits(-std::numeric_limits<float>::infinity()),
                                0x7FC12345u /* quiet NaN with a payload */,
                                0xFFC00001u /* negative NaN */};
    for (const uint32_t s : samples) {
        EXPECT_EQ(a.ZAVSetImageQuality(FromBits(s)), 0);
        EXPECT_EQ(Bits(a.Quality()), s);
    }
    // Objects keep separate qualities.
    EXPECT_EQ(b.ZAVSetImageQuality(10.0f), 0);
    EXPECT_EQ(Bits(b.Quality()), Bits(10.0f));
    EXPECT_EQ(Bits(a.Quality()), 0xFFC00001u);
}

}  // namespace
}  // namespace zav
