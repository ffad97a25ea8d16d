// Sun raster files. The reader takes depths 1, 8, 24 and 32; types old, standard, RGB and
// run-length coded; an optional RGB colour map at depths up to 8. The writer writes depth 8 without
// colour map for gray, depth 24 (blue, green, red) for colour; type standard; rows padded to an
// even number of bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav::sunras {

inline constexpr uint32_t kMagic = 0x59A66A95;
inline constexpr std::size_t kHeaderBytes = 32;  // eight big-endian 32-bit fields

// Values of the type field.
inline constexpr uint32_t kTypeOld = 0;          // as standard; the length field may be 0
inline constexpr uint32_t kTypeStandard = 1;     // 24/32-bit pixels stored blue, green, red
inline constexpr uint32_t kTypeByteEncoded = 2;  // run-length coded with the escape byte 0x80
inline constexpr uint32_t kTypeRgb = 3;          // 24/32-bit pixels stored red, green, blue

// Values of the colour-map type field.
inline constexpr uint32_t kMapNone = 0;
inline constexpr uint32_t kMapEqualRgb = 1;  // three planes: red, green, blue

// The escape byte of the run-length coding.
inline constexpr uint8_t kRunEscape = 0x80;

}  // namespace zav::sunras

namespace zav {

std::unique_ptr<ImageReader> NewSunRasterReader(ReaderInput file);
std::unique_ptr<ImageWriter> NewSunRasterWriter();

}  // namespace zav
