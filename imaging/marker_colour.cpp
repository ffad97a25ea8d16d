#include "imaging/marker_colour.h"

#include <algorithm>

#include "zavimage/zavimage.h"

namespace zav {

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
