// The JPEG quality on the component's scale (the standard tables divided by Q, 0 to 10) and on the
// familiar percentage scale, converted to the Q that gives the same tables as libjpeg's percentage.
#pragma once

#include <string_view>

namespace zavtool {

// --quality Q: 0 to 10 (0 gives every quantizer the value 1).
float ParseQuality(std::string_view option, std::string_view text);

// --jpeg-quality P: 1 to 95, or 100; the Q whose tables equal libjpeg's for P (with libjpeg's
// baseline limit of 255 per entry). 96 to 99 ask for steps finer than a tenth of the standard
// tables, which the component's scale does not reach: refused.
float ParseJpegPercent(std::string_view option, std::string_view text);

// The Q for a percentage of 1 to 95 or 100.
float QualityFromPercent(int percent);

}  // namespace zavtool
