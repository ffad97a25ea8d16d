// Create, release and clone through the C interface.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "zavimage/zavimage.h"

namespace {

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override {
        m_obj = ZAVCreateObject();
        ASSERT_NE(m_obj, nullptr);
    }
    void TearDown() override { ZAVDestroyObject(m_obj); }

    void Release(ZAVImageStruct *record) {
        ZAVImageStruct *p = record;
        EXPECT_EQ(ZAVReleaseImage(m_obj, &p), 0);
    }

    ZAVImageObject *m_obj = nullptr;
};

bool Aligned32(const void *p) {
    return reinterpret_cast<uintptr_t>(p) % 32 == 0;
}

TEST_F(Lifecycle, CreateGivesTheGeometryAndAnAlignedBlockOfStrideTimesHeight) {
    ZAVImageStruct r;
    std::memset(&r, 0xAB, sizeof r);
    ASSERT_EQ(ZAVCreateImage(m_obj, 101, 2, ZAV_DEPTH_8U, 3, &r), 0);
    EXPECT_EQ(r.width, 101);
    EXPECT_EQ(r.height, 2);
    EXPECT_EQ(r.depth, ZAV_DEPTH_8U);
    EXPECT_EQ(r.channels, 3);
    ASSERT_NE(r.data, nullptr);
    EXPECT_TRUE(Aligned32(r.data));
    std::memset(r.data, 0x5A, 608);  // every usable byte, padding included (ASan checks the bound)
    Release(&r);
}

TEST_F(Lifecycle, CreateAcceptsEveryDepthCode) {
    const struct {
        int32_t depth;
        int32_t channels;
        size_t bytes;
    } cases[] = {{ZAV_DEPTH_1U, 1, 4 * 3},   {ZAV_DEPTH_8U, 1, 12 * 3},
                 {ZAV_DEPTH_8S, 2, 20 * 3},  {ZAV_DEPTH_16U, 1, 20 * 3},
                 {ZAV_DEPTH_16S, 3, 60 * 3}, {ZAV_DEPTH_32S, 4, 160 * 3},
                 {ZAV_DEPTH_32F, 1, 40 * 3}, {ZAV_DEPTH_64F, 3, 240 * 3}};
    for (const auto &c : cases) {
        ZAVImageStruct r{};
        ASSERT_EQ(ZAVCreateImage(m_obj, 10, 3, c.depth, c.channels, &r), 0);
        EXPECT_EQ(r.depth, c.depth);
        EXPECT_EQ(r.channels, c.channels);
        ASSERT_NE(r.data, nullptr);
        std::memset(r.data, 1, c.bytes);
        Release(&r);
    }
}

TEST_F(Lifecycle, ZeroChannelsComeBackAsOne) {
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 3, 3, ZAV_DEPTH_8U, 0, &r), 0);
    EXPECT_EQ(r.channels, 1);
    ASSERT_NE(r.data, nullptr);
    std::memset(r.data, 0, 12);
    Release(&r);
}

TEST_F(Lifecycle, InvalidGeometryGivesZerosAndAReleasableBlock) {
    const int32_t bad[][4] = {{-1, 2, ZAV_DEPTH_8U, 3},
                              {2, -5, ZAV_DEPTH_8U, 3},
                              {2, 2, ZAV_DEPTH_8U, -1},
                              {2, 2, 12, 3}};
    for (const auto &g : bad) {
        ZAVImageStruct r{7, 7, 7, 7, nullptr};
        ASSERT_EQ(ZAVCreateImage(m_obj, g[0], g[1], g[2], g[3], &r), 0);
        EXPECT_EQ(r.width, 0);
        EXPECT_EQ(r.height, 0);
        EXPECT_EQ(r.depth, 0);
        EXPECT_EQ(r.channels, 0);
        EXPECT_NE(r.data, nullptr);
        Release(&r);  // LeakSanitizer sees it if this frees nothing
    }
}

TEST_F(Lifecycle, ZeroWidthOrHeightIsValidAndReleasable) {
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 0, 5, ZAV_DEPTH_8U, 3, &r), 0);
    EXPECT_EQ(r.width, 0);
    EXPECT_EQ(r.height, 5);
    EXPECT_NE(r.data, nullptr);
    Release(&r);
    ASSERT_EQ(ZAVCreateImage(m_obj, 5, 0, ZAV_DEPTH_8U, 3, &r), 0);
    EXPECT_EQ(r.height, 0);
    EXPECT_NE(r.data, nullptr);
    Release(&r);
}

TEST_F(Lifecycle, MoreThanTwoToTheThirtyBytesGivesTheGeometryWithNullData) {
    const int32_t big[][4] = {
        {32769, 32768, ZAV_DEPTH_8U, 1},     // 2^30 + 32768 bytes
        {65536, 65536, ZAV_DEPTH_8U, 1},     // 2^32: 0 in 32-bit arithmetic
        {65536, 32768, ZAV_DEPTH_8U, 1},     // 2^31: negative in 32-bit arithmetic
        {100000, 100000, ZAV_DEPTH_64F, 4},  // far beyond
        {INT32_MAX, INT32_MAX, ZAV_DEPTH_64F, INT32_MAX}};
    for (const auto &g : big) {
        ZAVImageStruct r{};
        r.data = reinterpret_cast<uint8_t *>(&r);
        ASSERT_EQ(ZAVCreateImage(m_obj, g[0], g[1], g[2], g[3], &r), 0);
        EXPECT_EQ(r.width, g[0]);
        EXPECT_EQ(r.height, g[1]);
        EXPECT_EQ(r.depth, g[2]);
        EXPECT_EQ(r.channels, g[3]);
        EXPECT_EQ(r.data, nullptr);
        Release(&r);  // a null data frees nothing
    }
}

TEST_F(Lifecycle, ExactlyTwoToTheThirtyBytesIsAllowed) {
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 32768, 32768, ZAV_DEPTH_8U, 1, &r), 0);
    ASSERT_NE(r.data, nullptr);
    r.data[0] = 1;
    r.data[(size_t{1} << 30) - 1] = 2;
    Release(&r);
}

// The release clears data, so that a second release of the record frees nothing; the pointer and
// the geometry stay.
TEST_F(Lifecycle, ReleaseClearsDataAndKeepsThePointerAndTheGeometry) {
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 4, 4, ZAV_DEPTH_8U, 3, &r), 0);
    ZAVImageStruct expected = r;
    expected.data = nullptr;
    ZAVImageStruct *p = &r;
    ASSERT_EQ(ZAVReleaseImage(m_obj, &p), 0);
    EXPECT_EQ(p, &r);
    EXPECT_EQ(std::memcmp(&expected, &r, sizeof r), 0);
    EXPECT_EQ(ZAVReleaseImage(m_obj, &p), 0);  // data null: nothing to free
}

// Misuse the library can tell is refused, never a crash or a second free (ASan reports any): a
// block released twice through a copy of its record, a pixel block given to ZAVFreeMemory, a
// memory block given to ZAVReleaseImage, a memory block freed twice, the caller's own memory.
TEST_F(Lifecycle, BlocksReleasedTwiceOrToTheWrongCallAreRefused) {
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 8, 8, ZAV_DEPTH_8U, 3, &r), 0);
    ZAVImageStruct copy = r;
    ZAVFreeMemory(r.data);  // not a memory block: ignored, the pixels stay usable
    r.data[0] = 7;
    ZAVImageStruct *p = &r;
    ASSERT_EQ(ZAVReleaseImage(m_obj, &p), 0);
    p = &copy;
    EXPECT_EQ(ZAVReleaseImage(m_obj, &p), 1);  // released already
    EXPECT_NE(copy.data, nullptr);             // a refused release changes nothing

    uint8_t *bytes = nullptr;
    std::size_t size = 0;
    const uint8_t pixels[16] = {};
    ASSERT_EQ(ZAVSaveImageMemory(m_obj, "pgm", pixels, 2, 2, ZAV_DEPTH_8U, 1, &bytes, &size), 0);
    ZAVImageStruct memory{2, 2, ZAV_DEPTH_8U, 1, bytes};
    p = &memory;
    EXPECT_EQ(ZAVReleaseImage(m_obj, &p), 1);  // ZAVFreeMemory's block
    EXPECT_EQ(bytes[0], 'P');
    ZAVFreeMemory(bytes);
    ZAVFreeMemory(bytes);  // freed already: ignored
    ZAVFreeMemory(nullptr);

    alignas(64) uint8_t own[64] = {};
    ZAVImageStruct mine{4, 4, ZAV_DEPTH_8U, 3, own};
    p = &mine;
    EXPECT_EQ(ZAVReleaseImage(m_obj, &p), 1);
    ZAVFreeMemory(own);
    void *heap = std::malloc(64);
    ZAVFreeMemory(heap);  // the caller's: left alone, still the caller's to free
    std::free(heap);
}

TEST_F(Lifecycle, ReleaseUsesOnlyDataNotTheGeometry) {
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 4, 4, ZAV_DEPTH_8U, 3, &r), 0);
    r.width = -9;
    r.depth = 12345;
    r.channels = -1;
    Release(&r);  // LeakSanitizer reports the block if it was not freed
}

TEST_F(Lifecycle, ReleaseIgnoresNullAndUnalignedAddresses) {
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 64, 1, ZAV_DEPTH_8U, 1, &r), 0);
    uint8_t *const block = r.data;
    ZAVImageStruct *p = &r;
    r.data = block + 1;
    EXPECT_EQ(ZAVReleaseImage(m_obj, &p), 1);  // refused: ASan would report a bad free otherwise
    r.data = block + 16;
    EXPECT_EQ(ZAVReleaseImage(m_obj, &p), 1);
    r.data = nullptr;
    Release(&r);
    r.data = block;
    Release(&r);
    ZAVImageStruct *none = nullptr;
    EXPECT_EQ(ZAVReleaseImage(m_obj, &none), 0);
    EXPECT_EQ(ZAVReleaseImage(m_obj, nullptr), 0);
}

TEST_F(Lifecycle, CloneCopiesStrideTimesHeightIncludingPadding) {
    ZAVImageStruct src{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 5, 3, ZAV_DEPTH_8U, 3, &src), 0);
    for (int i = 0; i < 16 * 3; ++i) {
        src.data[i] = static_cast<uint8_t>(i * 13 + 1);  // the padding bytes 15, 31, 47 too
    }
    ZAVImageStruct dst;
    std::memset(&dst, 0xCD, sizeof dst);
    ASSERT_EQ(ZAVCloneImage(m_obj, &src, &dst), 1);
    EXPECT_EQ(dst.width, 5);
    EXPECT_EQ(dst.height, 3);
    EXPECT_EQ(dst.depth, ZAV_DEPTH_8U);
    EXPECT_EQ(dst.channels, 3);
    ASSERT_NE(dst.data, nullptr);
    EXPECT_NE(dst.data, src.data);
    EXPECT_TRUE(Aligned32(dst.data));
    EXPECT_EQ(std::memcmp(dst.data, src.data, 16 * 3), 0);
    Release(&dst);
    Release(&src);
}

TEST_F(Lifecycle, CloneOfNullDataGivesNullData) {
    const ZAVImageStruct src{7, 4, ZAV_DEPTH_8U, 3, nullptr};
    ZAVImageStruct dst{1, 1, 1, 1, reinterpret_cast<uint8_t *>(&dst)};
    ASSERT_EQ(ZAVCloneImage(m_obj, &src, &dst), 1);
    EXPECT_EQ(dst.width, 7);
    EXPECT_EQ(dst.height, 4);
    EXPECT_EQ(dst.depth, ZAV_DEPTH_8U);
    EXPECT_EQ(dst.channels, 3);
    EXPECT_EQ(dst.data, nullptr);
}

TEST_F(Lifecycle, CloneOfOtherFormatsIsFaithful) {
    // 16-bit signed, 2 channels, width 3: 12 bytes a row; read exactly that, never 3-channel rows.
    ZAVImageStruct src{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 3, 2, ZAV_DEPTH_16S, 2, &src), 0);
    for (int i = 0; i < 24; ++i) {
        src.data[i] = static_cast<uint8_t>(200 - i);
    }
    ZAVImageStruct dst{};
    ASSERT_EQ(ZAVCloneImage(m_obj, &src, &dst), 1);
    EXPECT_EQ(dst.depth, ZAV_DEPTH_16S);
    EXPECT_EQ(dst.channels, 2);
    ASSERT_NE(dst.data, nullptr);
    EXPECT_EQ(std::memcmp(dst.data, src.data, 24), 0);
    Release(&dst);
    Release(&src);

    // A 1-channel source of width 1 has 4-byte rows; a 3-channel reading would take 4 too, but
    // one of width 2 has 4-byte rows against 8 for 3 channels: ASan catches an over-read.
    ZAVImageStruct gray{};
    ASSERT_EQ(ZAVCreateImage(m_obj, 2, 3, ZAV_DEPTH_8U, 1, &gray), 0);
    std::memset(gray.data, 9, 12);
    ASSERT_EQ(ZAVCloneImage(m_obj, &gray, &dst), 1);
    EXPECT_EQ(dst.channels, 1);
    ASSERT_NE(dst.data, nullptr);
    EXPECT_EQ(std::memcmp(dst.data, gray.data, 12), 0);
    Release(&dst);
    Release(&gray);
}

TEST_F(Lifecycle, CloneOfInvalidGeometryGivesZerosWithoutData) {
    uint8_t pixels[16] = {};
    const ZAVImageStruct src{-3, 2, ZAV_DEPTH_8U, 3, pixels};
    ZAVImageStruct dst{1, 1, 1, 1, pixels};
    ASSERT_EQ(ZAVCloneImage(m_obj, &src, &dst), 1);
    EXPECT_EQ(dst.width, 0);
    EXPECT_EQ(dst.depth, 0);
    EXPECT_EQ(dst.data, nullptr);
    EXPECT_EQ(ZAVCloneImage(m_obj, nullptr, &dst), 1);
    EXPECT_EQ(ZAVCloneImage(m_obj, &src, nullptr), 1);
}

TEST(Objects, NullObjectGivesTheUsualResults) {
    ZAVImageStruct r{};
    EXPECT_EQ(ZAVSetImageQuality(nullptr, 3.0f), 0);
    EXPECT_EQ(ZAVCreateImage(nullptr, 2, 2, ZAV_DEPTH_8U, 3, &r), 0);
    EXPECT_EQ(ZAVCloneImage(nullptr, &r, &r), 1);
    ZAVDestroyObject(nullptr);
}

}  // namespace
