#include "job/box_step.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "job/steps.h"
#include "job/values.h"

namespace zav::job {
namespace {

// The marker's colour codes as colours, for a rectangle in the job's box colour.
constexpr uint32_t kCodeColors[] = {0xFF0000, 0xFF0000, 0x00FF00, 0x0000FF,
                                    0xFFFF00, 0xFFFFFF, 0x000000};

uint32_t BoxRgb(const BoxToDraw &b, const Steps &steps) {
    if (!b.color.empty() && IsColorName(b.color)) {
        return ToRgb("color", Json(b.color));
    }
    const int32_t code = steps.boxColor;
    return code >= 0 && code <= 6 ? kCodeColors[code] : kCodeColors[1];
}

int32_t MarkerCode(const BoxToDraw &b, const Steps &steps) {
    if (!b.color.empty()) {
        try {
            return ToBoxColor("color", Json(b.color));
        } catch (...) {
            // a colour the marker has no code for: the job's own
        }
    }
    return steps.boxColor;
}

// Black or white, whichever reads better on the colour.
uint32_t TextOn(uint32_t rgb) {
    const uint32_t luma =
        (77 * ((rgb >> 16) & 0xFF) + 150 * ((rgb >> 8) & 0xFF) + 29 * (rgb & 0xFF)) >> 8;
    return luma > 140 ? 0x000000 : 0xFFFFFF;
}

// The label's tab: the label and the score, on the box's colour, above the box where there is
// room (else inside its top), kept inside the picture.
std::optional<std::string> DrawLabel(ZAVImageObject *obj, const ZAVImageStruct &image,
                                     const BoxToDraw &b, uint32_t rgb) {
    std::string text = b.label;
    if (b.score) {
        char score[32];
        std::snprintf(score, sizeof score, "%.2f", *b.score);
        text += (text.empty() ? "" : " ") + std::string(score);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    ZAVTextStyle style;
    ZAVInitTextStyle(&style);
    style.pixelSize = static_cast<float>(std::clamp(image.height / 36, 12, 32));
    style.color = TextOn(rgb);
    style.backgroundColor = rgb;
    style.backgroundOpacity = 1.0f;
    style.backgroundPadding = 2;
    style.hAnchor = ZAV_ANCHOR_LEFT;
    style.vAnchor = ZAV_ANCHOR_TOP;
    ZAVTextMetrics m{};
    if (ZAVMeasureTextUtf8(obj, text.c_str(), 0, 0, &style, &m) != ZAV_TEXT_OK) {
        return "the box's label could not be drawn: no font could be opened";
    }
    const int32_t pad = style.backgroundPadding;
    const int32_t tabWidth = m.boxWidth + 2 * pad;
    const int32_t tabHeight = m.boxHeight + 2 * pad;
    int64_t x = std::clamp<int64_t>(b.box.x, 0, std::max(0, image.width - tabWidth));
    int64_t y = int64_t{b.box.y} - tabHeight;
    if (y < 0) {
        y = std::max<int64_t>(b.box.y, 0);  // no room above: inside the box's top
    }
    y = std::min<int64_t>(y, std::max(0, image.height - tabHeight));
    if (ZAVDrawTextUtf8(obj, &image, text.c_str(), static_cast<int32_t>(x) + pad,
                        static_cast<int32_t>(y) + pad, &style) != ZAV_TEXT_OK) {
        return "the box's label could not be drawn: no font could be opened, or memory ran out";
    }
    return std::nullopt;
}

}  // namespace

void FillBand(const ZAVImageStruct &image, const ZAVImageRect &box, int32_t width, uint32_t rgb) {
    if (image.data == nullptr || image.depth != ZAV_DEPTH_8U || image.width < 1 ||
        image.height < 1 || image.channels < 1 || image.channels > 4 || image.channels == 2) {
        return;
    }
    const uint8_t bgr[3] = {static_cast<uint8_t>(rgb & 0xFF),
                            static_cast<uint8_t>((rgb >> 8) & 0xFF),
                            static_cast<uint8_t>((rgb >> 16) & 0xFF)};
    const uint8_t gray =
        static_cast<uint8_t>((29u * bgr[0] + 150u * bgr[1] + 77u * bgr[2] + 128u) >> 8);
    const int64_t stride = (int64_t{image.width} * image.channels + 3) & ~int64_t{3};
    const int64_t x0 = box.x;
    const int64_t y0 = box.y;
    const int64_t x1 = x0 + box.width;  // past the right edge
    const int64_t y1 = y0 + box.height;
    const int64_t band = std::max(1, width);
    for (int64_t y = std::max<int64_t>(y0, 0); y < std::min<int64_t>(y1, image.height); ++y) {
        uint8_t *row = image.data + y * stride;
        const bool edgeRow = y < y0 + band || y >= y1 - band;
        const auto paint = [&](int64_t from, int64_t to) {
            for (int64_t x = std::max<int64_t>(from, 0); x < std::min<int64_t>(to, image.width);
                 ++x) {
                uint8_t *p = row + x * image.channels;
                if (image.channels == 1) {
                    p[0] = gray;
                } else {
                    p[0] = bgr[0], p[1] = bgr[1], p[2] = bgr[2];
                }
            }
        };
        if (edgeRow) {
            paint(x0, x1);
        } else {
            paint(x0, std::min(x0 + band, x1));
            paint(std::max(x1 - band, x0), x1);
        }
    }
}

std::optional<std::string> DrawBoxes(ZAVImageObject *obj, const ZAVImageStruct &image,
                                     const std::vector<BoxToDraw> &boxes, const Steps &steps) {
    for (const BoxToDraw &b : boxes) {
        const BoxStyle style =
            steps.boxStyle.value_or(b.detected ? BoxStyle::kRect : BoxStyle::kMarker);
        if (style == BoxStyle::kMarker) {
            ZAVDrawRect(obj, &image, b.box, MarkerCode(b, steps));
        } else {
            FillBand(image, b.box, steps.boxWidth, BoxRgb(b, steps));
        }
    }
    if (!steps.label) {
        return std::nullopt;
    }
    for (const BoxToDraw &b : boxes) {  // the tabs above every box
        if (auto error = DrawLabel(obj, image, b, BoxRgb(b, steps))) {
            return error;
        }
    }
    return std::nullopt;
}

}  // namespace zav::job
