#include "imaging/codecs/jpeg_quality.h"

#include <cmath>

namespace zav {

const JpegQuantTable kAnnexKLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,
};

const JpegQuantTable kAnnexKChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,
};

namespace {

JpegQuantTable Scale(const JpegQuantTable &base, double q) {
    JpegQuantTable out;
    if (!(q > 0.0)) {  // 0 of either sign, or not a number: the finest tables
        out.fill(1);
        return out;
    }
    const double s = 1.0 / q;
    for (std::size_t i = 0; i < base.size(); ++i) {
        const double v = base[i] * s + 0.0000001;
        // Compared before converting, so that no conversion sees a value outside the range.
        if (!(v < 254.5)) {
            out[i] = 255;
        } else if (v < 1.5) {
            out[i] = 1;
        } else {
            out[i] = static_cast<uint8_t>(std::floor(v + 0.5));
        }
    }
    return out;
}

}  // namespace

JpegQuantTables JpegQuantTablesForQuality(float quality) {
    double q = quality;
    if (q < 0.0 || q > 10.0) {
        q = 0.5;
    }
    return {Scale(kAnnexKLuminance, q), Scale(kAnnexKChrominance, q)};
}

}  // namespace zav
