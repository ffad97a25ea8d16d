// The typical job on one picture: load, flip, resize, caption, mark, save, in that order, with the
// checks a picture's header allows before its pixels are loaded.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/zavimage/args.h"
#include "tools/zavimage/caption.h"
#include "tools/zavimage/geometry.h"

namespace zavtool {

struct Steps {
    bool flip = false;
    std::optional<ResizeRequest> resize;
    std::optional<Caption> caption;
    std::vector<ZAVImageRect> boxes;
    int32_t boxColor = 1;          // red
    std::optional<float> quality;  // JPEG; the object's own (2: the standard tables halved)
    bool color = false;            // save colour even when the input is gray
};

// One input and the output it is saved to.
struct Job {
    std::string input;   // "-": standard input
    std::string output;  // "-": standard output
    std::string format;  // the extension that names the format written to standard output
};

// How one file ended.
struct Outcome {
    enum class Kind { kWritten, kFailed, kDiscarded };
    Kind kind = Kind::kWritten;
    std::string reason;        // kFailed: why
    bool aboutOutput = false;  // kFailed: the reason concerns the output, not the input
    // "NAME: reason" with the name the reason concerns, printable.
    std::string Describe(const Job &job) const;
};

// Loads the input, applies the steps and saves the output, with one object whose save quality is
// already set (SetQuality). A gray or bilevel input is saved gray where the output format has gray,
// unless steps.color. When `stop` answers true before the save begins, the work is discarded; a
// save once begun runs to its end.
Outcome ProcessFile(ZAVImageObject *obj, const Job &job, const Steps &steps,
                    const std::function<bool()> &stop);

// Gives the object the steps' save quality, if one was asked for.
void SetQuality(ZAVImageObject *obj, const Steps &steps);

// Reads the options that describe steps (the caption's, --box, --box-color, --resize, --flip,
// --quality, --jpeg-quality, --color). Returns false when `option`
// is not one of them.
bool ReadStepOption(std::string_view option, ArgReader &args, Steps &steps,
                    std::optional<Caption> &pendingCaption);

// Checks what the step options left for the end (a caption needs its text, its options are
// checked together) and completes steps.
void FinishStepOptions(Steps &steps, std::optional<Caption> &pendingCaption);

}  // namespace zavtool
