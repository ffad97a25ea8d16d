#include "tools/zavimage/quality.h"

#include <cmath>
#include <string>

#include "tools/zavimage/args.h"

namespace zavtool {

float ParseQuality(std::string_view option, std::string_view text) {
    try {
        return ParseFloatIn(option, text, 0.0f, 10.0f);
    } catch (const UsageError &e) {
        int32_t percent = 0;
        bool looksLikePercent = false;
        try {
            percent = ParseInt(option, text);
            looksLikePercent = percent > 10 && percent <= 100;
        } catch (const UsageError &) {
        }
        if (looksLikePercent) {
            throw UsageError(std::string(e.what()) + " (the standard tables are divided by it; " +
                             "for a percentage give --jpeg-quality " + std::to_string(percent) +
                             ")");
        }
        throw;
    }
}

float ParseJpegPercent(std::string_view option, std::string_view text) {
    const int32_t percent = ParseIntIn(option, text, 1, 100);
    if (percent > 95 && percent < 100) {
        throw UsageError(std::string(option) + ": " + std::to_string(percent) +
                         " is finer than the JPEG writer reaches (a tenth of the standard "
                         "tables, 95); give 95, or 100 for all steps 1");
    }
    return QualityFromPercent(percent);
}

float QualityFromPercent(int percent) {
    // libjpeg scales the standard tables by S percent: 5000 / P below 50, 200 - 2 P from 50 on,
    // each entry (E * S + 50) / 100, at least 1. The writer divides them by Q and rounds halves
    // up, so Q = 100 / S. The float is taken at or just below 100 / S: 1 / Q is then at or just
    // above S / 100, and an exact half still rounds up as libjpeg's does.
    const int scale = percent < 50 ? 5000 / percent : 200 - 2 * percent;
    if (scale == 0) {
        return 0.0f;  // every step 1
    }
    const double exact = 100.0 / scale;
    float q = static_cast<float>(exact);
    if (static_cast<double>(q) > exact) {
        q = std::nextafter(q, 0.0f);
    }
    return q;
}

}  // namespace zavtool
