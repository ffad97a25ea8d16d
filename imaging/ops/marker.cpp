// The marker rectangle: a 3-pixel outline around a grown region.
#include "imaging/ops/marker.h"

#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "imaging/buffer/image_mat.h"
#include "imaging/buffer/image_record.h"
#include "zavimage/zavimage.h"

namespace zav {
namespace {

constexpr int kOutlineThickness = 3;

// A corner coordinate moved, if far outside, to a few pixels outside the image. The outline's
// sides are horizontal and vertical lines reaching at most 2 pixels from the corner, so a
// coordinate beyond that reach draws the same pixels wherever it lies: this keeps the drawing's
// own fixed-point arithmetic far from overflow.
int DrawableCoordinate(int64_t value, int32_t size) noexcept {
    constexpr int64_t kOutside = 16;
    return static_cast<int>(std::clamp<int64_t>(value, -kOutside, int64_t{size} + kOutside));
}

}  // namespace

int32_t DrawMarker(const ZAVImageStruct *pImage, ZAVImageRect thisImageRect, int32_t color) {
    if (pImage == nullptr) {
        return 1;
    }
    const ImageHeader image = WrapImageRecord(*pImage);
    cv::Mat view = MatView(image);  // empty for a record the drawing cannot address
    if (view.empty()) {
        return 1;
    }
    const cv::Scalar colour =
        MarkerChannelValues(MarkerPackedColour(color), image.depth, image.nChannels);

    // The box and the drawing run in round-to-nearest; the caller's mode is restored after.
    const RoundToNearestScope nearest;
    const MarkerBox box = GrowMarkerBox(thisImageRect, image.width, image.height);
    const cv::Point corner1(DrawableCoordinate(box.x1, image.width),
                            DrawableCoordinate(box.y1, image.height));
    const cv::Point corner2(DrawableCoordinate(box.x2, image.width),
                            DrawableCoordinate(box.y2, image.height));
    cv::rectangle(view, corner1, corner2, colour, kOutlineThickness, cv::LINE_8);
    return 1;
}

MarkerBox GrowMarkerBox(const ZAVImageRect &region, int32_t imageWidth,
                        int32_t imageHeight) noexcept {
    // Integers up to 2^33 are exact in a double; the right and bottom edges of the region are
    // formed in 64 bits so that no sum wraps.
    const double left = OpaqueDouble(static_cast<double>(region.x));
    const double top = OpaqueDouble(static_cast<double>(region.y));
    const double right = OpaqueDouble(static_cast<double>(int64_t{region.x} + region.width - 1));
    const double bottom = OpaqueDouble(static_cast<double>(int64_t{region.y} + region.height - 1));
    const double dx = OpaqueDouble(static_cast<double>(region.width)) * 0.2;
    const double dy = OpaqueDouble(static_cast<double>(region.height)) * (1.0 / 3.0);

    // Conversion to an integer truncates toward zero in every rounding mode; every value is
    // within +-2^33, so it fits.
    MarkerBox box;
    box.x1 = static_cast<int64_t>(left - dx);
    box.x2 = static_cast<int64_t>(right + dx);
    box.y1 = static_cast<int64_t>(top - dy);
    box.y2 = static_cast<int64_t>(bottom + dy);
    if (box.x1 <= 0) {
        box.x1 = 0;
    }
    if (box.y1 <= 0) {
        box.y1 = 0;
    }
    if (box.x2 >= imageWidth) {
        box.x2 = int64_t{imageWidth} - 1;
    }
    if (box.y2 >= imageHeight) {
        box.y2 = int64_t{imageHeight} - 1;
    }
    return box;
}

uint32_t MarkerPackedColour(int32_t code) noexcept {
    switch (code) {
        case 2:
            return 0x00FF00u;
        case 3:
            return 0x0000FFu;
        case 4:
            return 0xFFFF00u;
        case 5:
            return 0xFFFFFFu;
        case 6:
            return 0u;
        default:
            return 0xFF0000u;
    }
}

cv::Scalar MarkerChannelValues(uint32_t packed, int32_t depth, int32_t channels) noexcept {
    const auto whole = static_cast<double>(packed);
    if ((depth == ZAV_DEPTH_8U || depth == ZAV_DEPTH_8S) && channels > 1) {
        cv::Scalar bytes;
        for (int k = 0; k < 4; ++k) {
            const uint32_t byte = (packed >> (8 * k)) & 0xFFu;
            bytes[k] = depth == ZAV_DEPTH_8U ? static_cast<double>(byte)
                                             : static_cast<double>(static_cast<int8_t>(byte));
        }
        return bytes;
    }
    switch (depth) {
        case ZAV_DEPTH_8U:
            return cv::Scalar::all(std::min(whole, 255.0));
        case ZAV_DEPTH_8S:
            return cv::Scalar::all(std::min(whole, 127.0));
        case ZAV_DEPTH_16S:
            return cv::Scalar::all(std::min(whole, 32767.0));
        default:  // 32-bit signed (the packed numbers fit), 32-bit and 64-bit floating point
            return cv::Scalar::all(whole);
    }
}

}  // namespace zav
