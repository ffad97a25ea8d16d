// The five format filters, each a single immutable instance.
#pragma once

#include "imaging/codecs/codec.h"

namespace zav {

const ImageFormatFilter &BmpFormatFilter();        // Windows bitmap
const ImageFormatFilter &JpegFormatFilter();       // JPEG
const ImageFormatFilter &SunRasterFormatFilter();  // Sun raster
const ImageFormatFilter &PnmFormatFilter();        // portable bitmap/graymap/pixmap
const ImageFormatFilter &TiffFormatFilter();       // TIFF

}  // namespace zav
