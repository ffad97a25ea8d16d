#include "imaging/buffer/image_mat.h"

#include <opencv2/core/hal/interface.h>

namespace zav {

int OpenCvType(const ImageHeader &header) noexcept {
    if (!header.IsProcessable()) {
        return -1;
    }
    int depth = -1;
    switch (header.depth) {
        case ZAV_DEPTH_8U:
            depth = CV_8U;
            break;
        case ZAV_DEPTH_8S:
            depth = CV_8S;
            break;
        case ZAV_DEPTH_16S:
            depth = CV_16S;
            break;
        case ZAV_DEPTH_32S:
            depth = CV_32S;
            break;
        case ZAV_DEPTH_32F:
            depth = CV_32F;
            break;
        case ZAV_DEPTH_64F:
            depth = CV_64F;
            break;
        default:
            return -1;
    }
    return CV_MAKETYPE(depth, header.nChannels);
}

cv::Mat MatView(const ImageHeader &header) {
    const int type = OpenCvType(header);
    if (type < 0) {
        return cv::Mat();
    }
    return cv::Mat(header.height, header.width, type, header.imageData,
                   static_cast<std::size_t>(header.widthStep));
}

}  // namespace zav
