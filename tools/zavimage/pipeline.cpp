#include "tools/zavimage/pipeline.h"

namespace zavtool {

std::optional<FileError> ApplySteps(ZAVImageObject *obj, Image &image, const Steps &steps) {
    ZAVImageStruct &rec = image.Record();
    if (steps.flip) {
        ZAVFlipImage(obj, rec.data, rec.width, rec.height, rec.depth, rec.channels);
    }
    if (steps.resize && (steps.resize->width != rec.width || steps.resize->height != rec.height)) {
        Image scaled(obj);
        ZAVImageStruct created{};
        ZAVCreateImage(obj, steps.resize->width, steps.resize->height, rec.depth, rec.channels,
                       &created);
        if (created.data == nullptr) {
            ZAVImageStruct *p = &created;
            ZAVReleaseImage(obj, &p);
            return FileError{"would exceed 1 GiB", {}};
        }
        scaled.Record() = created;
        ZAVReSizeImage(obj, &rec, &scaled.Record());
        image = std::move(scaled);
    }
    ZAVImageStruct &out = image.Record();
    if (steps.caption) {
        const Caption &c = *steps.caption;
        if (ZAVPutTextToImageUtf8(obj, &out, c.text.c_str(), c.at.x, c.at.y, c.color, c.size,
                                  c.space, 0.0f) != 0) {
            return FileError{"no font could be opened for the caption", {}};
        }
    }
    for (const ZAVImageRect &box : steps.boxes) {
        ZAVDrawRect(obj, &out, box, steps.boxColor);
    }
    return std::nullopt;
}

std::optional<FileError> ProcessFile(ZAVImageObject *obj, const std::string &in,
                                     const std::string &out, const Steps &steps) {
    if (steps.quality) {
        ZAVSetImageQuality(obj, *steps.quality);
    }
    Image image(obj);
    if (auto error = image.Load(in)) {
        return error;
    }
    if (auto error = ApplySteps(obj, image, steps)) {
        return error;
    }
    if (auto error = image.Save(out)) {
        return FileError{error->reason, out};
    }
    return std::nullopt;
}

bool ReadStepOption(std::string_view option, ArgReader &args, Steps &steps,
                    std::optional<Caption> &pendingCaption) {
    auto caption = [&]() -> Caption & {
        if (!pendingCaption) {
            pendingCaption.emplace();
        }
        return *pendingCaption;
    };
    if (option == "--text") {
        caption().text = std::string(args.Value(option));
    } else if (option == "--at") {
        caption().at = ParsePoint(option, args.Value(option));
    } else if (option == "--size") {
        caption().size = ParseFloat(option, args.Value(option));
    } else if (option == "--space") {
        caption().space = ParseFloat(option, args.Value(option));
    } else if (option == "--text-color") {
        caption().color = ParseTextColor(option, args.Value(option));
    } else if (option == "--box") {
        steps.boxes.push_back(ParseRect(option, args.Value(option)));
    } else if (option == "--box-color") {
        steps.boxColor = ParseBoxColor(option, args.Value(option));
    } else if (option == "--resize") {
        steps.resize = ParseSize(option, args.Value(option));
    } else if (option == "--flip") {
        steps.flip = true;
    } else if (option == "--quality") {
        steps.quality = ParseFloat(option, args.Value(option));
    } else {
        return false;
    }
    return true;
}

}  // namespace zavtool
