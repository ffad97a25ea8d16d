#include "tools/zavimage/geometry.h"

#include <cmath>
#include <cstdlib>
#include <limits>

#include "tools/zavimage/display.h"

namespace zavtool {
namespace {

bool ToSide(std::string_view text, int32_t &value) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        v = v * 10 + (c - '0');
    }
    value = static_cast<int32_t>(v);
    return v >= 1;
}

// a * b / c rounded to the nearest whole number, at least 1; a, b, c positive and below 2^31.
int64_t Proportion(int64_t a, int64_t b, int64_t c) {
    const int64_t v = (2 * a * b + c) / (2 * c);
    return v < 1 ? 1 : v;
}

std::string SizeText(Size size) {
    return std::to_string(size.width) + " x " + std::to_string(size.height);
}

}  // namespace

ResizeRequest ParseResize(std::string_view option, std::string_view text) {
    ResizeRequest r;
    const auto bad = [&]() -> UsageError {
        return UsageError(std::string(option) + ": '" + Printable(text) +
                          "' is not a size WxH, Wx, xH or P% (sides at least 1, P above 0)");
    };
    if (!text.empty() && text.back() == '%') {
        const std::string number(text.substr(0, text.size() - 1));
        char *end = nullptr;
        r.percent = std::strtod(number.c_str(), &end);
        if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(r.percent) ||
            r.percent <= 0.0 || r.percent > 1e6) {
            throw bad();
        }
        return r;
    }
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos || text.find('x', x + 1) != std::string_view::npos) {
        throw bad();
    }
    const std::string_view w = text.substr(0, x);
    const std::string_view h = text.substr(x + 1);
    if ((w.empty() && h.empty()) || (!w.empty() && !ToSide(w, r.width)) ||
        (!h.empty() && !ToSide(h, r.height))) {
        throw bad();
    }
    return r;
}

std::optional<Size> ResizedSize(const ResizeRequest &request, Size source) {
    int64_t w = request.width;
    int64_t h = request.height;
    if (request.percent > 0.0) {
        const double fw = std::nearbyint(source.width * request.percent / 100.0);
        const double fh = std::nearbyint(source.height * request.percent / 100.0);
        if (fw > std::numeric_limits<int32_t>::max() || fh > std::numeric_limits<int32_t>::max()) {
            return std::nullopt;
        }
        w = fw < 1.0 ? 1 : static_cast<int64_t>(fw);
        h = fh < 1.0 ? 1 : static_cast<int64_t>(fh);
    } else if (w == 0) {
        w = Proportion(h, source.width, source.height);
    } else if (h == 0) {
        h = Proportion(w, source.height, source.width);
    }
    if (w > std::numeric_limits<int32_t>::max() || h > std::numeric_limits<int32_t>::max()) {
        return std::nullopt;
    }
    // The resized 8-bit, 3-channel buffer, rows padded to 4 bytes, within the block limit.
    const int64_t stride = (w * 3 + 3) & ~int64_t{3};
    if (stride > ZAV_MAX_BLOCK_BYTES / h) {
        return std::nullopt;
    }
    return Size{static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

std::optional<std::string> CaptionStartMisses(Point at, Size size) {
    if (at.x >= 0 && at.x < size.width && at.y >= 0 && at.y < size.height) {
        return std::nullopt;
    }
    return "the caption start " + std::to_string(at.x) + "," + std::to_string(at.y) +
           " lies outside the " + SizeText(size) + " picture";
}

std::optional<std::string> RegionMisses(const ZAVImageRect &region, Size size,
                                        std::string_view what) {
    const int64_t right = int64_t{region.x} + region.width;
    const int64_t bottom = int64_t{region.y} + region.height;
    if (region.x < size.width && right > 0 && region.y < size.height && bottom > 0) {
        return std::nullopt;
    }
    return std::string(what) + " " + std::to_string(region.x) + "," + std::to_string(region.y) +
           "," + std::to_string(region.width) + "," + std::to_string(region.height) +
           " lies outside the " + SizeText(size) + " picture";
}

}  // namespace zavtool
