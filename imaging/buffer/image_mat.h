// An OpenCV view over a header's pixels, for the operations that let OpenCV do the work.
#pragma once

#include <opencv2/core/mat.hpp>

#include "imaging/buffer/image_record.h"

namespace zav {

// The OpenCV element type of a processable header (depth and channel count), or -1 when OpenCV
// cannot represent it or the header is not processable.
int OpenCvType(const ImageHeader &header) noexcept;

// A cv::Mat over the header's pixels with the header's stride; no copy, no ownership. Empty when
// OpenCvType gives -1.
cv::Mat MatView(const ImageHeader &header);

}  // namespace zav
