// Writes baseline JPEG files through libjpeg-turbo with the quantization tables of the save
// quality: JFIF 1.02, one scan, 4:2:0 colour or one gray component, the Annex K Huffman tables.
#pragma once

#include <memory>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageWriter> NewJpegWriter();

}  // namespace zav
