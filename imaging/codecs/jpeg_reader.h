// Reads JPEG files through libjpeg-turbo: baseline, extended and progressive; gray, YCbCr, RGB,
// CMYK and YCCK.
#pragma once

#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageReader> NewJpegReader(std::span<const uint8_t> file);

}  // namespace zav
