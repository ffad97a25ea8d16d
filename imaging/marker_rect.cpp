// The marker rectangle: a 3-pixel outline around a grown region.
#include <algorithm>

#include <opencv2/imgproc.hpp>

#include "imaging/image_component.h"
#include "imaging/image_mat.h"
#include "imaging/image_record.h"
#include "imaging/marker_box.h"
#include "imaging/marker_colour.h"
#include "imaging/round_to_nearest_scope.h"

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

int32_t ImageComponent::ZAVDrawRect(const ZAVImageStruct *pImage, ZAVImageRect thisImageRect,
                                    int32_t color) {
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

}  // namespace zav
