// Writes Sun raster files: depth 8 without colour map for gray, depth 24 (blue, green, red) for
// colour; type standard; rows padded to an even number of bytes.
#pragma once

#include <memory>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageWriter> NewSunRasterWriter();

}  // namespace zav
