// The caption as the tool draws it: the typographic caption (any colour, opacity, outline,
// background box, font, anchored to a corner, an edge or the centre of each picture) or, with
// --classic, the component's own caption exactly as ZAVPutTextToImageUtf8 draws it. Values are
// read as options come and checked together once the command line is read.
#pragma once

#include <optional>
#include <string>

#include "tools/zavimage/args.h"

// The caption options in --help (text and annotate).
#define ZAV_CAPTION_OPTIONS                                                                        \
    "  --text TEXT            caption (UTF-8, Chinese included)\n"                                 \
    "  --at X,Y               without --anchor: left edge X, baseline Y (default 10,40); with\n"   \
    "                         --anchor: the distance from the anchored edges (default 10 from\n"   \
    "                         an edge, 0 from a middle)\n"                                         \
    "  --anchor WHERE         top-left, top, top-right, left, center, right, bottom-left,\n"       \
    "                         bottom or bottom-right of each picture\n"                            \
    "  --size PX              font size in pixels, 1 to 1024 (with --classic 4096; default 24)\n"  \
    "  --space RATIO          extra gap between characters as a fraction of the size, 0 to 10\n"   \
    "                         (default 0; with --classic the gap itself, default 0.1)\n"           \
    "  --text-color COLOR     black, white, red, green, blue, yellow, cyan, magenta, gray,\n"      \
    "                         orange or #RRGGBB (default red; with --classic blue, green, red)\n"  \
    "  --opacity O            0 to 1 or 0% to 100% (default 1)\n"                                  \
    "  --outline W[,COLOR]    an outline W pixels wide, 0 to 64, black unless COLOR is given\n"    \
    "  --background COLOR[,O] a box behind the text, 4 pixels around it, opacity O (default 1)\n"  \
    "  --font FILE|PATTERN    a font file, or a fontconfig pattern such as \"DejaVu Sans:bold\"\n" \
    "  --classic              the component's own caption (ZAVPutTextToImage): --at X,Y is the\n"  \
    "                         left edge and the bottom row of every glyph; blue, green or red\n"

namespace zavtool {

// Where an anchored caption goes: the same point of the text block and of the picture.
struct CaptionAnchor {
    int32_t horizontal = ZAV_ANCHOR_LEFT;  // ZAV_ANCHOR_LEFT, _CENTER or _RIGHT
    int32_t vertical = 0;                  // -1 top, 0 middle, 1 bottom
};

struct Caption {
    std::string text;  // UTF-8
    std::optional<Point> at;
    float size = 24.0f;
    std::optional<float> space;  // fraction of the size
    std::string colorName;       // --text-color as given; empty: red
    bool classic = false;
    std::optional<float> opacity;
    std::optional<std::string> outline;     // WIDTH[,COLOR] as given
    std::optional<std::string> background;  // COLOR[,OPACITY] as given
    std::optional<std::string> font;
    std::optional<CaptionAnchor> anchor;

    // Worked out by FinishCaption.
    int32_t classicColor = 2;  // red
    ZAVTextStyle style{};      // its font stays null: DrawCaption points it at `font`
    int32_t blockHeight = 0;   // the text block with its background box, pixels
};

// Reads the caption options (--text, --at, --size, --space, --text-color, --opacity, --outline,
// --background, --font, --anchor, --classic). False when `option` is none of them.
bool ReadCaptionOption(std::string_view option, ArgReader &args, Caption &caption);

// Checks the caption options together (options of the typographic caption refused with
// --classic, colours, ranges, the font file) and fills the style. Throws UsageError.
void FinishCaption(Caption &caption);

// Whether `text` reads as a caption colour: a name or #RRGGBB.
bool IsColorName(std::string_view text);

// Why the caption misses a picture of `size` (its start or anchor point lies outside); none when
// it can be drawn.
std::optional<std::string> CaptionMisses(const Caption &caption, Size size);

// Draws the caption; returns why it failed.
std::optional<std::string> DrawCaption(ZAVImageObject *obj, const ZAVImageStruct &image,
                                       const Caption &caption);

}  // namespace zavtool
