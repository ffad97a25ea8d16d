#include "tools/zavimage/job_options.h"

#include <sys/stat.h>

#include <cstdio>

#include "tools/zavimage/display.h"
#include "zavimage/job.h"

namespace zavtool {
namespace {

struct ValueOption {
    std::string_view option;
    std::string_view field;
};
// Options whose value is a field of the job.
constexpr ValueOption kJobValues[] = {
    {"--resize", "resize"},
    {"--box-color", "box_color"},
    {"--quality", "quality"},
    {"--jpeg-quality", "jpeg_quality"},
    {"--format", "format"},
    {"--min-score", "min_score"},
    {"--box-style", "box_style"},
    {"--box-width", "box_width"},
    {"--resize-filter", "resize_filter"},
    {"--name", "name"},
};
// Options whose value is a field of the current caption.
constexpr ValueOption kCaptionValues[] = {
    {"--at", "at"},
    {"--size", "size"},
    {"--space", "space"},
    {"--text-color", "text_color"},
    {"--opacity", "opacity"},
    {"--outline", "outline"},
    {"--background", "background"},
    {"--font", "font"},
    {"--anchor", "anchor"},
};
// Flags that set a field of the job.
constexpr ValueOption kJobFlags[] = {
    {"--flip", "flip"},         {"--color", "color"},
    {"--in-place", "in_place"}, {"--no-clobber", "no_clobber"},
    {"-n", "no_clobber"},       {"--auto-orient", "auto_orient"},
    {"--label", "label"},
};

// The caption the caption options go to: the last one, or a new one when there is none.
Json &CurrentCaption(Json &job) {
    Json &captions = job["captions"];
    if (!captions.is_array() || captions.empty()) {
        captions = Json::array({Json::object()});
    }
    return captions.back();
}

// Text for the document: JSON strings are UTF-8, so bytes that are not become U+FFFD.
std::string Utf8(std::string_view text) {
    const Json value = std::string(text);
    try {
        (void)value.dump();
        return std::string(text);
    } catch (const Json::type_error &) {
        return Json::parse(value.dump(-1, ' ', false, Json::error_handler_t::replace))
            .get<std::string>();
    }
}

// Whether a word reads as a caption colour and names no file.
bool IsColorWord(std::string_view word) {
    uint32_t rgb = 0;
    struct stat st {};
    const std::string text(word);
    return ZAVJobColor(text.c_str(), &rgb) == ZAV_JOB_OK && ::stat(text.c_str(), &st) != 0;
}

}  // namespace

Json NameValue(std::string_view name) {
    try {
        (void)Json(std::string(name)).dump();
        return std::string(name);
    } catch (const Json::type_error &) {
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex;
        for (const char c : name) {
            const auto b = static_cast<unsigned char>(c);
            hex.push_back(kDigits[b >> 4]);
            hex.push_back(kDigits[b & 15]);
        }
        return Json{{"hex", hex}};
    }
}

bool HasCaption(const Json &job) {
    return job.contains("captions") && !job["captions"].empty();
}

bool ReadJobOption(std::string_view option, ArgReader &args, Json &job, RunOptions &run) {
    for (const ValueOption &o : kJobValues) {
        if (option == o.option) {
            const std::string field(o.field);
            if ((field == "quality" || field == "jpeg_quality") &&
                (job.contains("quality") || job.contains("jpeg_quality"))) {
                throw UsageError("give --quality or --jpeg-quality once");
            }
            job[field] = Utf8(args.Value(option));
            return true;
        }
    }
    for (const ValueOption &o : kCaptionValues) {
        if (option == o.option) {
            const std::string_view value = args.Value(option);
            CurrentCaption(job)[std::string(o.field)] =
                o.field == "font" ? NameValue(value) : Json(Utf8(value));
            return true;
        }
    }
    for (const ValueOption &o : kJobFlags) {
        if (option == o.option) {
            args.Flag(option);
            // "--color red" is a caption colour given to the wrong option
            if (option == "--color") {
                if (const std::optional<std::string_view> next = args.Peek();
                    next && IsColorWord(*next)) {
                    throw UsageError(
                        "--color takes no value (it saves gray pictures in colour); the "
                        "caption's colour is --text-color " +
                        Printable(*next));
                }
            }
            job[std::string(o.field)] = true;
            return true;
        }
    }
    if (option == "--text") {
        Json &current = CurrentCaption(job);
        if (current.contains("text")) {
            job["captions"].push_back(Json::object());
        }
        CurrentCaption(job)["text"] = Utf8(args.Value(option));
    } else if (option == "--classic") {
        args.Flag(option);
        CurrentCaption(job)["classic"] = true;
    } else if (option == "--box") {
        job["boxes"].push_back(Utf8(args.Value(option)));
    } else if (option == "--boxes") {
        job["detections"] = NameValue(args.Value(option));
    } else if (option == "--no-label") {
        args.Flag(option);
        job["label"] = false;
    } else if (option == "--quiet" || option == "-q") {
        args.Flag(option);
        run.verbosity = Verbosity::kQuiet;
    } else if (option == "--verbose" || option == "-v") {
        args.Flag(option);
        run.verbosity = Verbosity::kVerbose;
    } else if (option == "--jobs" || option == "-j") {
        run.jobs = static_cast<unsigned>(ParseIntIn(option, args.Value(option), 1, 256));
    } else if (option == "--print-job") {
        args.Flag(option);
        run.printJob = true;
    } else {
        return false;
    }
    return true;
}

}  // namespace zavtool
