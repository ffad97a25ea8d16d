#include "imaging/ops/orient.h"

#include <opencv2/core.hpp>

#include "imaging/buffer/image_mat.h"

namespace zav {

bool Orient(const ImageHeader &src, const ImageHeader &dst, int32_t orientation) {
    if (orientation < 1 || orientation > 8 || !src.IsProcessable() || !dst.IsProcessable() ||
        src.depth != dst.depth || src.nChannels != dst.nChannels ||
        (src.imageData < dst.imageData + dst.imageSize &&
         dst.imageData < src.imageData + src.imageSize)) {
        return false;
    }
    const bool transposes = OrientationTransposes(orientation);
    if (dst.width != (transposes ? src.height : src.width) ||
        dst.height != (transposes ? src.width : src.height)) {
        return false;
    }
    const cv::Mat from = MatView(src);
    cv::Mat to = MatView(dst);
    if (from.empty() || to.empty()) {
        return false;
    }
    switch (orientation) {
        case 1:
            from.copyTo(to);
            break;
        case 2:
            cv::flip(from, to, 1);
            break;
        case 3:
            cv::flip(from, to, -1);
            break;
        case 4:
            cv::flip(from, to, 0);
            break;
        case 5:
            cv::transpose(from, to);
            break;
        case 6:  // a quarter clockwise: transposed, then mirrored left to right
            cv::transpose(from, to);
            cv::flip(to, to, 1);
            break;
        case 7:  // the other diagonal: transposed, then turned by a half
            cv::transpose(from, to);
            cv::flip(to, to, -1);
            break;
        default:  // 8, a quarter counterclockwise: transposed, then mirrored top to bottom
            cv::transpose(from, to);
            cv::flip(to, to, 0);
            break;
    }
    return to.data == dst.imageData;
}

}  // namespace zav
