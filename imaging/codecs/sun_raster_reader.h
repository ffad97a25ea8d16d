// Reads Sun raster files: depths 1, 8, 24 and 32; types old, standard, RGB and run-length coded;
// an optional RGB colour map at depths up to 8.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageReader> NewSunRasterReader(std::span<const uint8_t> file);
// Over the first bytes of a file of `file_size` bytes: the header step and FindPlainRows only.
std::unique_ptr<ImageReader> NewSunRasterHeadReader(std::span<const uint8_t> head,
                                                    uint64_t file_size);

}  // namespace zav
