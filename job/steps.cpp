#include "job/steps.h"

#include <cmath>
#include <limits>

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

std::optional<std::string> StepsMiss(const Steps &steps, Size source, Size &final) {
    final = source;
    if (steps.resize) {
        const std::optional<Size> resized = ResizedSize(*steps.resize, source);
        if (!resized) {
            return "the resized picture would exceed 1 GiB";
        }
        final = *resized;
    }
    for (const Caption &caption : steps.captions) {
        if (auto miss = CaptionMisses(caption, final)) {
            return miss;
        }
    }
    for (const ZAVImageRect &box : steps.boxes) {
        if (auto miss = RegionMisses(box, final, "the box")) {
            return miss;
        }
    }
    if (steps.copy && steps.copy->to) {
        if (auto miss = RegionMisses(*steps.copy->to, final, "the region")) {
            return miss;
        }
    }
    return std::nullopt;
}

std::optional<std::string> ApplySteps(ZAVImageObject *obj, ZAVImageStruct &image,
                                      const Steps &steps, Size final,
                                      const ZAVImageStruct *copySource) {
    if (steps.flip) {
        ZAVFlipImage(obj, image.data, image.width, image.height, image.depth, image.channels);
    }
    if (final.width != image.width || final.height != image.height) {
        ZAVImageStruct scaled{};
        ZAVCreateImage(obj, final.width, final.height, ZAV_DEPTH_8U, image.channels, &scaled);
        if (scaled.data == nullptr) {
            Release(obj, scaled);
            return "out of memory";
        }
        ZAVReSizeImage(obj, &image, &scaled);
        Release(obj, image);
        image = scaled;
    }
    for (const Caption &caption : steps.captions) {
        if (auto error = DrawCaption(obj, image, caption)) {
            return error;
        }
    }
    for (const ZAVImageRect &box : steps.boxes) {
        ZAVDrawRect(obj, &image, box, steps.boxColor);
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
