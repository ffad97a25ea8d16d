#include "job/steps.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "job/box_step.h"
#include "job/usage_error.h"

namespace zav::job {
namespace {

// a * b / c rounded to the nearest whole number, at least 1; a, b, c positive and below 2^31.
int64_t Proportion(int64_t a, int64_t b, int64_t c) {
    const int64_t v = (2 * a * b + c) / (2 * c);
    return v < 1 ? 1 : v;
}

std::string SizeText(Size size) {
    return std::to_string(size.width) + " x " + std::to_string(size.height);
}

void Release(ZAVImageObject *obj, ZAVImageStruct &image) {
    ZAVImageStruct *p = &image;
    ZAVReleaseImage(obj, &p);
    image = ZAVImageStruct{};
}

}  // namespace

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

std::optional<std::string> StepsMiss(const Steps &steps, Size stored, int32_t orientation,
                                     FrameSizes &sizes) {
    sizes.stored = stored;
    sizes.orientation = steps.autoOrient ? orientation : 1;
    const bool transposes = sizes.orientation >= 5 && sizes.orientation <= 8;
    sizes.oriented = transposes ? Size{stored.height, stored.width} : stored;
    sizes.final = sizes.oriented;
    for (const ZAVImageRect &box : steps.boxes) {
        if (auto miss = RegionMisses(box, stored, "the box")) {
            return miss;
        }
    }
    if (steps.resize) {
        const std::optional<Size> resized = ResizedSize(*steps.resize, sizes.oriented);
        if (!resized) {
            return "the resized picture would exceed 1 GiB";
        }
        sizes.final = *resized;
    }
    for (const Caption &caption : steps.captions) {
        if (auto miss = CaptionMisses(caption, sizes.final)) {
            return miss;
        }
    }
    if (steps.copy && steps.copy->to) {
        if (auto miss = RegionMisses(*steps.copy->to, sizes.final, "the region")) {
            return miss;
        }
    }
    return std::nullopt;
}

int32_t DecodeDenominator(const Steps &steps, const FrameSizes &sizes) {
    const Size from = sizes.oriented;
    const Size to = sizes.final;
    const bool halves =
        int64_t{to.width} * 2 <= from.width && int64_t{to.height} * 2 <= from.height;
    if (!steps.resize || !halves || steps.resizeFilter == ZAV_FILTER_NEAREST) {
        return 1;
    }
    const bool transposes = sizes.orientation >= 5 && sizes.orientation <= 8;
    const int64_t wanted[2] = {transposes ? to.height : to.width,
                               transposes ? to.width : to.height};
    for (const int32_t d : {8, 4, 2}) {
        const int64_t width = (int64_t{sizes.stored.width} + d - 1) / d;
        const int64_t height = (int64_t{sizes.stored.height} + d - 1) / d;
        if (width >= wanted[0] && height >= wanted[1]) {
            return d;
        }
    }
    return 1;
}

ZAVImageRect MapBox(const ZAVImageRect &box, const Steps &steps, const FrameSizes &sizes) {
    int64_t x = box.x;
    int64_t y = box.y;
    int64_t w = box.width;
    int64_t h = box.height;
    const int64_t sw = sizes.stored.width;
    const int64_t sh = sizes.stored.height;
    switch (sizes.orientation) {
        case 2:
            x = sw - x - w;
            break;
        case 3:
            x = sw - x - w;
            y = sh - y - h;
            break;
        case 4:
            y = sh - y - h;
            break;
        case 5:
            std::swap(x, y);
            std::swap(w, h);
            break;
        case 6: {  // a quarter clockwise: column x becomes row x, row y column sh - 1 - y
            const int64_t nx = sh - y - h;
            y = x;
            x = nx;
            std::swap(w, h);
            break;
        }
        case 7: {
            const int64_t nx = sh - y - h;
            y = sw - x - w;
            x = nx;
            std::swap(w, h);
            break;
        }
        case 8: {
            const int64_t ny = sw - x - w;
            x = y;
            y = ny;
            std::swap(w, h);
            break;
        }
        default:
            break;
    }
    if (steps.flip) {
        y = sizes.oriented.height - y - h;
    }
    if (sizes.final.width != sizes.oriented.width || sizes.final.height != sizes.oriented.height) {
        // the edges scale with the picture, each to the nearest pixel
        const auto scale = [](int64_t v, int64_t to, int64_t from) {
            return static_cast<int64_t>(std::llround(static_cast<double>(v) * to / from));
        };
        const int64_t x1 = scale(x + w, sizes.final.width, sizes.oriented.width);
        const int64_t y1 = scale(y + h, sizes.final.height, sizes.oriented.height);
        x = scale(x, sizes.final.width, sizes.oriented.width);
        y = scale(y, sizes.final.height, sizes.oriented.height);
        w = std::max<int64_t>(x1 - x, 1);
        h = std::max<int64_t>(y1 - y, 1);
    }
    const auto clamp = [](int64_t v) {
        return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN / 2, INT32_MAX / 2));
    };
    return ZAVImageRect{clamp(x), clamp(y), clamp(w), clamp(h)};
}

std::optional<std::string> ApplySteps(ZAVImageObject *obj, ZAVImageStruct &image,
                                      const Steps &steps, const FrameSizes &sizes,
                                      const Frame &frame, const ZAVImageStruct *copySource) {
    if (sizes.orientation != 1 && ZAVOrientImage(obj, &image, sizes.orientation) != 0) {
        return "out of memory";
    }
    if (steps.flip) {
        ZAVFlipImage(obj, image.data, image.width, image.height, image.depth, image.channels);
    }
    const Size final = sizes.final;
    if (final.width != image.width || final.height != image.height) {
        ZAVImageStruct scaled{};
        ZAVCreateImage(obj, final.width, final.height, ZAV_DEPTH_8U, image.channels, &scaled);
        if (scaled.data == nullptr) {
            Release(obj, scaled);
            return "out of memory";
        }
        int32_t filter = steps.resizeFilter;
        if (filter < 0) {
            filter = final.width <= image.width && final.height <= image.height ? ZAV_FILTER_AREA
                                                                                : ZAV_FILTER_LINEAR;
        }
        ZAVResizeImageFiltered(obj, &image, &scaled, filter);
        Release(obj, image);
        image = scaled;
    }
    // Every caption filled in before any is drawn: one the picture's fields make too long fails
    // the picture with its reason.
    std::vector<std::string> texts;
    for (const Caption &caption : steps.captions) {
        try {
            texts.push_back(caption.fields.HasFields() ? Expand(caption.fields, frame.facts)
                                                       : caption.text);
        } catch (const UsageError &e) {
            return std::string(e.what());
        }
    }
    for (std::size_t k = 0; k < steps.captions.size(); ++k) {
        if (auto error = DrawCaption(obj, image, steps.captions[k], texts[k])) {
            return error;
        }
    }
    std::vector<BoxToDraw> boxes;
    for (const ZAVImageRect &box : steps.boxes) {
        boxes.push_back({MapBox(box, steps, sizes), {}, {}, std::nullopt, false});
    }
    if (frame.detections != nullptr) {
        for (const Detection &d : *frame.detections) {
            boxes.push_back({MapBox(d.box, steps, sizes), d.label, d.color, d.score, true});
        }
    }
    if (auto error = DrawBoxes(obj, image, boxes, steps)) {
        return error;
    }
    if (steps.copy && copySource != nullptr) {
        const ZAVImageRect from =
            steps.copy->from.value_or(ZAVImageRect{0, 0, copySource->width, copySource->height});
        const ZAVImageRect to =
            steps.copy->to.value_or(ZAVImageRect{0, 0, image.width, image.height});
        ZAVCopyImage(obj, copySource, from.x, from.y, from.width, from.height, &image, to.x, to.y,
                     to.width, to.height);
    }
    return std::nullopt;
}

}  // namespace zav::job
