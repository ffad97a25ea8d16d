// The options that describe a job, gathered into the job document the library reads: the steps
// (--flip, --resize, the captions, --box, --box-color), the output's settings (--quality,
// --jpeg-quality, --color, --format) and how outputs are written (--in-place, --no-clobber). Values
// go into the document as they were given: the library checks them, and its messages name the
// field, which the tool shows as its option.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <thread>

#include "tools/zavimage/args.h"
#include "tools/zavimage/progress.h"

// The caption options in --help (text and annotate).
#define ZAV_CAPTION_OPTIONS                                                                        \
    "  --text TEXT            caption (UTF-8, Chinese included); given again, a further caption\n" \
    "                         that the caption options after it describe\n"                        \
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

using Json = nlohmann::ordered_json;

// How the tool runs a job: threads and what it prints.
struct RunOptions {
    Verbosity verbosity = Verbosity::kNormal;
    unsigned jobs =
        std::thread::hardware_concurrency() == 0 ? 1 : std::thread::hardware_concurrency();
    bool printJob = false;  // --print-job: print the document instead of running it
};

// Reads one option of a job into `job` (or of the run into `run`); false when `option` is none of
// them. --help's list of them is the commands' own.
bool ReadJobOption(std::string_view option, ArgReader &args, Json &job, RunOptions &run);

// A file or folder name as the job document holds it: a string, or {"hex": ...} for a name that
// is not UTF-8.
Json NameValue(std::string_view name);

// Whether the document has a caption, boxes, a resize.
bool HasCaption(const Json &job);

}  // namespace zavtool
