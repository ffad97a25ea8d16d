#include "imaging/ops/filtered_resize.h"

#include <opencv2/imgproc.hpp>

#include "imaging/buffer/image_mat.h"

namespace zav {
namespace {

int Interpolation(ResizeFilter filter) {
    switch (filter) {
        case ResizeFilter::kArea:
            return cv::INTER_AREA;
        case ResizeFilter::kLinear:
            return cv::INTER_LINEAR;
        case ResizeFilter::kCubic:
            return cv::INTER_CUBIC;
        case ResizeFilter::kLanczos:
            return cv::INTER_LANCZOS4;
    }
    return -1;
}

bool Overlap(const ImageHeader &a, const ImageHeader &b) {
    return a.imageData < b.imageData + b.imageSize && b.imageData < a.imageData + a.imageSize;
}

}  // namespace

bool FilteredResize(const ImageHeader &src, const ImageHeader &dst, ResizeFilter filter) {
    const int interpolation = Interpolation(filter);
    if (interpolation < 0 || !src.IsProcessable() || !dst.IsProcessable() ||
        src.depth != ZAV_DEPTH_8U || dst.depth != ZAV_DEPTH_8U || src.nChannels != dst.nChannels ||
        src.nChannels == 2 || Overlap(src, dst)) {
        return false;
    }
    cv::Mat from = MatView(src);
    cv::Mat to = MatView(dst);
    if (from.empty() || to.empty()) {
        return false;
    }
    // Into the view itself: the size matches, so cv::resize keeps dst's buffer and stride.
    cv::resize(from, to, to.size(), 0, 0, interpolation);
    return to.data == dst.imageData;
}

}  // namespace zav
