// Reads TIFF files through libtiff: the first image of the file, in whatever compression, sample
// layout and photometric interpretation libtiff decodes. Extra samples are dropped; colours are
// kept as stored (never premultiplied by an alpha sample).
#pragma once

#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageReader> NewTiffReader(std::span<const uint8_t> file);
// The same, reading the file through `source` as it goes.
std::unique_ptr<ImageReader> NewTiffReader(FileSource &source);

}  // namespace zav
