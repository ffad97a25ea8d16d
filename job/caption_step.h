// A caption as the job draws it: the typographic caption (any colour, opacity, outline,
// background box, font, anchored to a corner, an edge or the centre of each picture) or the
// component's own classic caption exactly as ZAVPutTextToImageUtf8 draws it. Every value is
// checked, and the font opened once, when the caption is read.
#pragma once

#include <optional>
#include <string>

#include "job/template.h"
#include "job/values.h"

namespace zav::job {

// Where an anchored caption goes: the same point of the text block and of the picture.
struct CaptionAnchor {
    int32_t horizontal = ZAV_ANCHOR_LEFT;  // ZAV_ANCHOR_LEFT, _CENTER or _RIGHT
    int32_t vertical = 0;                  // -1 top, 0 middle, 1 bottom
};

struct Caption {
    std::string text;  // UTF-8, as given
    Template fields;   // the text's fields, filled in for each picture
    std::optional<Point> at;
    float size = 24.0f;
    std::optional<float> space;  // fraction of the size
    bool classic = false;
    int32_t classicColor = 2;  // red
    std::optional<CaptionAnchor> anchor;
    std::optional<std::string> font;
    ZAVTextStyle style{};     // its font stays null: Draw points it at `font`
    int32_t blockHeight = 0;  // the text block with its background box, pixels
};

// Reads a caption object ({"text": ..., "at": ..., ...}); `prefix` goes before the field names
// of messages ("" or "captions[1]."). Throws UsageError.
Caption ReadCaption(const Json &object, const std::string &prefix);

// Why the caption misses a picture of `size` (its start or anchor point lies outside); none when
// it can be drawn.
std::optional<std::string> CaptionMisses(const Caption &caption, Size size);

// Measures the typographic caption as DrawCaption would draw it on a picture of `size`: a
// ZAV_TEXT_* code (ZAV_TEXT_REFUSED for the classic caption, which has no measure).
int32_t MeasureCaption(ZAVImageObject *obj, const Caption &caption, Size size,
                       ZAVTextMetrics &metrics);

// Draws the caption with `text` (its own, or its fields filled in); returns why it failed.
std::optional<std::string> DrawCaption(ZAVImageObject *obj, const ZAVImageStruct &image,
                                       const Caption &caption, const std::string &text);

}  // namespace zav::job
