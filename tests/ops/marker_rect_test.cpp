// The marker rectangle: the grown box of the worked examples, the pixels drawn compared with
// OpenCV's own rectangle at the expected corners, the colour per depth, and independence from the
// caller's rounding mode.
#include <cfenv>
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "imaging/api/image_component.h"
#include "imaging/ops/marker.h"
#include "tests/support/test_image.h"

namespace zav {
namespace {

using zavtest::TestImage;

MarkerBox Box(int32_t x, int32_t y, int32_t w, int32_t h, int32_t imageWidth, int32_t imageHeight) {
    return GrowMarkerBox(ZAVImageRect{x, y, w, h}, imageWidth, imageHeight);
}

void ExpectBox(const MarkerBox &box, int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
    EXPECT_EQ(box.x1, x1);
    EXPECT_EQ(box.y1, y1);
    EXPECT_EQ(box.x2, x2);
    EXPECT_EQ(box.y2, y2);
}

TEST(MarkerBoxCorners, WorkedExamples) {
    ExpectBox(Box(100, 50, 40, 30, 640, 480), 92, 40, 147, 89);
    ExpectBox(Box(0, 0, 100, 60, 640, 480), 0, 0, 119, 79);    // (-20, -20) moves to (0, 0)
    ExpectBox(Box(10, 10, 7, 5, 640, 480), 8, 8, 17, 15);      // fractional margins truncate
    ExpectBox(Box(90, 90, 20, 30, 100, 100), 86, 80, 99, 99);  // cut at width - 1, height - 1
    ExpectBox(Box(-50, 10, 10, 5, 640, 480), 0, 8, -39, 15);   // x2 is never clamped at 0
    ExpectBox(Box(30, 40, 0, 0, 640, 480), 30, 40, 29, 39);    // second corner before the first
    ExpectBox(Box(700, 500, 10, 10, 640, 480), 698, 496, 639, 479);  // x1, y1 never cut at the edge
    // Margins from a product by the nearest double to 1/3: height 3 grows by exactly 1.
    ExpectBox(Box(10, 10, 5, 3, 640, 480), 9, 9, 15, 13);
}

TEST(MarkerBoxCorners, ExtremeRegionsDoNotOverflow) {
    // 0.8 and 2/3 of 2^31 - 1, truncated; the far corner passes the image.
    ExpectBox(Box(INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, 640, 480), 1717986917, 1431655764,
              639, 479);
    const MarkerBox low = Box(INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 640, 480);
    EXPECT_EQ(low.x1, 0);
    EXPECT_EQ(low.y1, 0);
    EXPECT_EQ(low.x2, 639);  // -2 + 429496729.4: in 32 bits the sum would have wrapped
    EXPECT_EQ(low.y2, 479);
    // Negative sizes give negative margins; the sums stay exact in 64 bits.
    ExpectBox(Box(0, 0, INT32_MIN, INT32_MIN, 640, 480), 429496729, 715827882,
              -429496729 - 2147483649LL, -715827882 - 2147483649LL);
}

class MarkerRect : public ::testing::Test {
  protected:
    int32_t Draw(TestImage &image, ZAVImageRect rect, int32_t colour = 0) {
        return m_component.ZAVDrawRect(image.Record(), rect, colour);
    }
    ImageComponent m_component;
};

cv::Mat ViewOf(const TestImage &image, int type) {
    const ZAVImageStruct &r = image.record();
    return cv::Mat(r.height, r.width, type, r.data, static_cast<std::size_t>(image.Stride()));
}

// Our drawing equals OpenCV's rectangle, thickness 3, 8-connected, at the given corners.
void ExpectSameAsOpenCv(const TestImage &drawn, cv::Point c1, cv::Point c2) {
    const ZAVImageStruct &r = drawn.record();
    cv::Mat reference = cv::Mat::zeros(r.height, r.width, CV_8UC3);
    cv::rectangle(reference, c1, c2, cv::Scalar(0, 0, 255), 3, cv::LINE_8);
    const cv::Mat ours = ViewOf(drawn, CV_8UC3);
    ASSERT_EQ(cv::countNonZero(cv::Mat(ours != reference).reshape(1)), 0)
        << "corners " << c1 << " " << c2;
}

TEST_F(MarkerRect, DrawsOpenCvsOutlineAtTheGrownCorners) {
    struct Case {
        ZAVImageRect rect;
        int32_t width, height;
        cv::Point c1, c2;
    };
    const Case cases[] = {
        {{100, 50, 40, 30}, 640, 480, {92, 40}, {147, 89}},
        {{0, 0, 100, 60}, 640, 480, {0, 0}, {119, 79}},
        {{10, 10, 7, 5}, 64, 48, {8, 8}, {17, 15}},
        {{90, 90, 20, 30}, 100, 100, {86, 80}, {99, 99}},
        {{-50, 10, 10, 5}, 64, 48, {0, 8}, {-39, 15}},
        {{30, 20, 0, 0}, 64, 48, {30, 20}, {29, 19}},
    };
    for (const Case &c : cases) {
        TestImage image(c.width, c.height, ZAV_DEPTH_8U, 3);
        image.Fill(0);
        ASSERT_EQ(Draw(image, c.rect), 1);
        ExpectSameAsOpenCv(image, c.c1, c.c2);
    }
}

TEST_F(MarkerRect, TheOutlineCoversTheCornersAndLeavesTheInsideAlone) {
    TestImage image(640, 480, ZAV_DEPTH_8U, 3);
    image.Fill(0);
    ASSERT_EQ(Draw(image, {100, 50, 40, 30}), 1);
    const auto red = [&](int32_t x, int32_t y) {
        const uint8_t *p = image.Pixel(x, y);
        return p[0] == 0 && p[1] == 0 && p[2] == 255;
    };
    const auto clear = [&](int32_t x, int32_t y) {
        const uint8_t *p = image.Pixel(x, y);
        return p[0] == 0 && p[1] == 0 && p[2] == 0;
    };
    EXPECT_TRUE(red(92, 40));
    EXPECT_TRUE(red(147, 40));
    EXPECT_TRUE(red(92, 89));
    EXPECT_TRUE(red(147, 89));
    EXPECT_TRUE(red(120, 40));
    EXPECT_TRUE(red(92, 65));
    EXPECT_TRUE(clear(95, 43));   // inside the outline
    EXPECT_TRUE(clear(120, 65));  // the region itself
    EXPECT_TRUE(clear(100, 50));  // the region's own corner
    EXPECT_TRUE(clear(89, 65));   // left of the outline
    EXPECT_TRUE(clear(150, 65));  // right of it
    EXPECT_TRUE(clear(120, 37));  // above it
    EXPECT_TRUE(clear(120, 92));  // below it
}

TEST_F(MarkerRect, CornersFarOutsideDrawWhatOpenCvDrawsThere) {
    // Corners thousands of pixels outside the image give the same pixels as OpenCV drawing
    // those corners as they stand.
    const ZAVImageRect rects[] = {{5000, 10, 10, 10},
                                  {-5000, 10, 10, 10},
                                  {10, 4000, 10, 10},
                                  {10, -4000, 10, 10},
                                  {3000, 3000, 10, 10}};
    for (const ZAVImageRect &rect : rects) {
        TestImage image(64, 48, ZAV_DEPTH_8U, 3);
        image.Fill(0);
        ASSERT_EQ(Draw(image, rect), 1);
        const MarkerBox box = GrowMarkerBox(rect, 64, 48);
        ExpectSameAsOpenCv(image, cv::Point(static_cast<int>(box.x1), static_cast<int>(box.y1)),
                           cv::Point(static_cast<int>(box.x2), static_cast<int>(box.y2)));
    }
    TestImage image(64, 48, ZAV_DEPTH_8U, 3);
    for (const ZAVImageRect rect : {ZAVImageRect{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX},
                                    ZAVImageRect{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX},
                                    ZAVImageRect{INT32_MIN, INT32_MAX, INT32_MIN, -1}}) {
        EXPECT_EQ(Draw(image, rect), 1);
    }
}

double Channel(const uint8_t *pixel, int32_t depth, int32_t k) {
    switch (depth) {
        case ZAV_DEPTH_8U:
            return pixel[k];
        case ZAV_DEPTH_8S:
            return static_cast<int8_t>(pixel[k]);
        case ZAV_DEPTH_16S: {
            int16_t v;
            std::memcpy(&v, pixel + 2 * k, 2);
            return v;
        }
        case ZAV_DEPTH_32S: {
            int32_t v;
            std::memcpy(&v, pixel + 4 * k, 4);
            return v;
        }
        case ZAV_DEPTH_32F: {
            float v;
            std::memcpy(&v, pixel + 4 * k, 4);
            return v;
        }
        default: {
            double v;
            std::memcpy(&v, pixel + 8 * k, 8);
            return v;
        }
    }
}

TEST_F(MarkerRect, ThePackedColourBecomesChannelValuesPerDepth) {
    struct Case {
        int32_t depth;
        int32_t channels;
        double values[4];
    };
    const Case cases[] = {
        {ZAV_DEPTH_8U, 1, {255}},
        {ZAV_DEPTH_8U, 2, {0, 0}},
        {ZAV_DEPTH_8U, 3, {0, 0, 255}},
        {ZAV_DEPTH_8U, 4, {0, 0, 255, 0}},
        {ZAV_DEPTH_8S, 1, {127}},
        {ZAV_DEPTH_8S, 3, {0, 0, -1}},  // the byte FF
        {ZAV_DEPTH_8S, 4, {0, 0, -1, 0}},
        {ZAV_DEPTH_16S, 1, {32767}},
        {ZAV_DEPTH_16S, 3, {32767, 32767, 32767}},
        {ZAV_DEPTH_16S, 4, {32767, 32767, 32767, 32767}},
        {ZAV_DEPTH_32S, 1, {16711680}},
        {ZAV_DEPTH_32S, 3, {16711680, 16711680, 16711680}},
        {ZAV_DEPTH_32S, 4, {16711680, 16711680, 16711680, 16711680}},
        {ZAV_DEPTH_32F, 1, {16711680}},
        {ZAV_DEPTH_32F, 3, {16711680, 16711680, 16711680}},
        {ZAV_DEPTH_32F, 4, {16711680, 16711680, 16711680, 16711680}},
        {ZAV_DEPTH_64F, 1, {16711680}},
        {ZAV_DEPTH_64F, 3, {16711680, 16711680, 16711680}},
        {ZAV_DEPTH_64F, 4, {16711680, 16711680, 16711680, 16711680}},
    };
    for (const Case &c : cases) {
        for (const int32_t code : {0, 1}) {
            TestImage image(30, 30, c.depth, c.channels);
            image.Fill(0);
            ASSERT_EQ(Draw(image, {10, 10, 10, 9}, code), 1);  // box (8, 7) to (21, 21)
            for (int32_t k = 0; k < c.channels; ++k) {
                EXPECT_EQ(Channel(image.Pixel(8, 7), c.depth, k), c.values[k])
                    << "depth " << c.depth << " channels " << c.channels << " channel " << k;
                EXPECT_EQ(Channel(image.Pixel(15, 14), c.depth, k), 0);  // inside: untouched
            }
        }
    }
}

TEST_F(MarkerRect, ColourCodes) {
    struct Case {
        int32_t code;
        uint8_t bgr[3];
    };
    const Case cases[] = {{0, {0, 0, 255}},        {1, {0, 0, 255}},   {2, {0, 255, 0}},
                          {3, {255, 0, 0}},        {4, {0, 255, 255}}, {5, {255, 255, 255}},
                          {6, {0, 0, 0}},          {7, {0, 0, 255}},   {-1, {0, 0, 255}},
                          {INT32_MIN, {0, 0, 255}}};
    for (const Case &c : cases) {
        TestImage image(30, 30, ZAV_DEPTH_8U, 3);
        image.Fill(77);
        ASSERT_EQ(Draw(image, {10, 10, 10, 9}, c.code), 1);
        const uint8_t *p = image.Pixel(8, 7);
        EXPECT_EQ(p[0], c.bgr[0]) << "code " << c.code;
        EXPECT_EQ(p[1], c.bgr[1]) << "code " << c.code;
        EXPECT_EQ(p[2], c.bgr[2]) << "code " << c.code;
    }
}

TEST_F(MarkerRect, RecordsOutsideTheContractDrawNothingAndGiveOne) {
    TestImage image(16, 16, ZAV_DEPTH_8U, 4);
    const std::vector<uint8_t> before = image.Bytes();
    const ZAVImageRect rect{2, 2, 8, 8};
    EXPECT_EQ(m_component.ZAVDrawRect(nullptr, rect, 0), 1);
    const int32_t bad[][4] = {
        {16, 16, ZAV_DEPTH_16U, 1}, {16, 16, ZAV_DEPTH_1U, 1}, {16, 16, 7, 1},
        {16, 16, ZAV_DEPTH_8U, 5},  {0, 16, ZAV_DEPTH_8U, 1},  {16, -1, ZAV_DEPTH_8U, 1}};
    for (const auto &g : bad) {
        ZAVImageStruct r{g[0], g[1], g[2], g[3], image.Data()};
        EXPECT_EQ(m_component.ZAVDrawRect(&r, rect, 0), 1);
    }
    ZAVImageStruct noData{16, 16, ZAV_DEPTH_8U, 3, nullptr};
    EXPECT_EQ(m_component.ZAVDrawRect(&noData, rect, 0), 1);
    EXPECT_EQ(image.Bytes(), before);
}

// The plain double formula in a directed rounding mode moves a corner: the operation must not.
TEST(MarkerRounding, DirectedModesWouldMoveACorner) {
    volatile double bottom = 12.0;  // y + height - 1 for y 10, height 3
    volatile double height = 3.0;
    std::fesetround(FE_DOWNWARD);
    const auto downward = static_cast<int64_t>(bottom + height * (1.0 / 3.0));
    std::fesetround(FE_TONEAREST);
    const auto nearest = static_cast<int64_t>(bottom + height * (1.0 / 3.0));
    EXPECT_EQ(nearest, 13);
    EXPECT_EQ(downward, 12);
}

TEST_F(MarkerRect, TheCallersRoundingModeChangesNothingAndIsKept) {
    const ZAVImageRect rects[] = {{10, 10, 5, 3}, {10, 10, 7, 5},   {100, 50, 40, 30},
                                  {3, 7, 15, 6},  {21, 13, 25, 9},  {0, 0, 33, 33},
                                  {50, 30, 3, 3}, {-7, -9, 101, 77}};
    for (const ZAVImageRect &rect : rects) {
        TestImage reference(160, 120, ZAV_DEPTH_8U, 3);
        reference.Fill(0);
        ASSERT_EQ(Draw(reference, rect), 1);
        for (const int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
            TestImage image(160, 120, ZAV_DEPTH_8U, 3);
            image.Fill(0);
            ASSERT_EQ(std::fesetround(mode), 0);
            const int32_t result = Draw(image, rect);
            const int after = std::fegetround();
            std::fesetround(FE_TONEAREST);
            EXPECT_EQ(result, 1);
            EXPECT_EQ(after, mode) << "the caller's rounding mode was not kept";
            EXPECT_EQ(image.Bytes(), reference.Bytes())
                << "mode " << mode << " rect " << rect.x << "," << rect.y << "," << rect.width
                << "," << rect.height;
        }
    }
}

}  // namespace
}  // namespace zav
