// The quantization tables a JPEG save uses, derived from the save quality.
#pragma once

#include <array>
#include <cstdint>

namespace zav {

// A table of 64 quantizers in natural (row by row) order.
using JpegQuantTable = std::array<uint8_t, 64>;

// The example tables of ITU-T T.81 Annex K (K.1 luminance, K.2 chrominance), natural order.
extern const JpegQuantTable kAnnexKLuminance;
extern const JpegQuantTable kAnnexKChrominance;

struct JpegQuantTables {
    JpegQuantTable luminance;
    JpegQuantTable chrominance;
};

// The tables for a save quality q: q outside [0, 10] counts as 0.5; each quantizer is the nearest
// integer to E / q + 0.0000001 (E the Annex K entry), kept within 1..255. A quality of 0 (either
// sign) or not a number gives every quantizer 1.
JpegQuantTables JpegQuantTablesForQuality(float quality);

}  // namespace zav
