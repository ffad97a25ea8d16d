#include "tools/zavimage/pipeline.h"

#include <utility>

#include "tools/zavimage/display.h"
#include "tools/zavimage/formats.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/streams.h"

namespace zavtool {
namespace {

Outcome Failed(std::string reason, bool aboutOutput = false) {
    return Outcome{Outcome::Kind::kFailed, std::move(reason), aboutOutput};
}

// What the header tells decides whether the steps fit the picture: the size after resizing, the
// caption start and every marked region must lie on it.
std::optional<std::string> StepsMiss(const Steps &steps, Size source, Size &final) {
    final = source;
    if (steps.resize) {
        const std::optional<Size> resized = ResizedSize(*steps.resize, source);
        if (!resized) {
            return "the resized picture would exceed 1 GiB";
        }
        final = *resized;
    }
    if (steps.caption) {
        if (auto miss = CaptionMisses(*steps.caption, final)) {
            return miss;
        }
    }
    for (const ZAVImageRect &box : steps.boxes) {
        if (auto miss = RegionMisses(box, final, "the box")) {
            return miss;
        }
    }
    return std::nullopt;
}

std::optional<std::string> ApplySteps(ZAVImageObject *obj, Image &image, const Steps &steps,
                                      Size final) {
    ZAVImageStruct &rec = image.Record();
    if (steps.flip) {
        ZAVFlipImage(obj, rec.data, rec.width, rec.height, rec.depth, rec.channels);
    }
    if (final.width != rec.width || final.height != rec.height) {
        Image scaled(obj);
        if (!scaled.Create(final.width, final.height, rec.channels)) {
            return "out of memory";
        }
        ZAVReSizeImage(obj, &rec, &scaled.Record());
        image = std::move(scaled);
    }
    const ZAVImageStruct &out = image.Record();
    if (steps.caption) {
        if (auto error = DrawCaption(obj, out, *steps.caption)) {
            return error;
        }
    }
    for (const ZAVImageRect &box : steps.boxes) {
        ZAVDrawRect(obj, &out, box, steps.boxColor);
    }
    return std::nullopt;
}

}  // namespace

std::string Outcome::Describe(const Job &job) const {
    return ShownName(aboutOutput ? job.output : job.input, aboutOutput) + ": " + reason;
}

void SetQuality(ZAVImageObject *obj, const Steps &steps) {
    if (steps.quality) {
        ZAVSetImageQuality(obj, *steps.quality);
    }
}

Outcome ProcessFile(ZAVImageObject *obj, const Job &job, const Steps &steps,
                    const std::function<bool()> &stop) {
    const char *format = nullptr;
    Size source;
    int32_t channels = 0;
    const bool fromInput = IsStandardStream(job.input);
    std::vector<uint8_t> bytes;  // standard input's picture
    if (fromInput) {
        if (auto error = ReadStandardInput(bytes)) {
            return Failed(*error);
        }
        if (ZAVProbeImageMemory(obj, bytes.data(), bytes.size(), &format, &source.width,
                                &source.height, &channels) != 0) {
            return Failed(ZAVFileStatusText(ZAVGetFileStatus(obj)));
        }
    } else if (ZAVProbeImagePath(obj, job.input.c_str(), &format, &source.width, &source.height,
                                 &channels) != 0) {
        return Failed(ReadFailure(obj, job.input));
    }
    Size final;
    if (auto miss = StepsMiss(steps, source, final)) {
        return Failed(*miss);
    }
    Image image(obj);
    if (auto error = fromInput ? image.LoadMemory(bytes) : image.Load(job.input)) {
        return Failed(*error);
    }
    std::vector<uint8_t>().swap(bytes);
    if (auto error = ApplySteps(obj, image, steps, final)) {
        return Failed(*error);
    }
    const bool toOutput = IsStandardStream(job.output);
    const OutputFormat *out = FindOutputFormat(toOutput ? job.format : NameExtension(job.output));
    if (channels == 1 && !steps.color && out != nullptr && out->keepsGray && !image.ToGray()) {
        return Failed("out of memory");
    }
    if (stop && stop()) {
        return Outcome{Outcome::Kind::kDiscarded, {}, false};
    }
    if (auto error = toOutput ? image.WriteToStandardOutput(job.format) : image.Save(job.output)) {
        return Failed(*error, true);
    }
    return Outcome{};
}

}  // namespace zavtool
