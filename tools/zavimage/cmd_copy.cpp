// zavimage copy: a region of one picture into a region of another, scaled when sizes differ.
#include <cstdio>

#include "tools/zavimage/cli.h"
#include "tools/zavimage/common_options.h"
#include "tools/zavimage/display.h"
#include "tools/zavimage/formats.h"
#include "tools/zavimage/geometry.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/interrupt.h"
#include "tools/zavimage/quality.h"
#include "tools/zavimage/streams.h"

namespace zavtool {
namespace {

constexpr const char *kHelp =
    "usage: zavimage copy SRC DST OUT [--from X,Y,W,H] [--to X,Y,W,H] [options]\n"
    "\n"
    "Copies the region --from of SRC into the region --to of DST and saves the result as OUT.\n"
    "When the two regions differ in size the copy is scaled (nearest neighbour). Regions are\n"
    "cut at the picture edges; a region wholly outside its picture is an error. Without --from\n"
    "or --to the whole picture is used. OUT is gray when SRC and DST both are and OUT's format\n"
    "has gray. SRC or DST - reads standard input; OUT - writes standard output (--format).\n"
    "\n"
    "options:\n"
    "  --from X,Y,W,H      the region of SRC (W and H at least 1)\n"
    "  --to X,Y,W,H        the region of DST\n"
    "  --quality Q         JPEG quality 0 to 10: the standard tables divided by Q (default 2)\n"
    "  --jpeg-quality P    JPEG quality as a percentage, 1 to 95 or 100 (75 = --quality 2)\n"
    "  --color             save in colour even when both pictures are gray\n"
    "  --format EXT        the format of a picture written to standard output (OUT is -)\n"
    "  --in-place          let OUT be SRC or DST\n"
    "  -n, --no-clobber    do nothing when OUT exists\n"
    "  -q, --quiet         print nothing but errors\n"
    "  --                  end of options\n"
    "\n"
    "example:\n"
    "  zavimage copy cam2.jpg cam1.jpg pip.jpg --from 0,0,1920,1080 --to 1400,20,480,270\n";

// Probes and loads one picture; the channels it keeps in *channels.
std::optional<std::string> LoadChecked(ZAVImageObject *obj, const std::string &path, Image &image,
                                       const std::optional<ZAVImageRect> &region, const char *what,
                                       int32_t *channels) {
    const char *format = nullptr;
    Size size;
    const std::string name = ShownName(path, false);
    std::vector<uint8_t> bytes;  // standard input's picture
    if (IsStandardStream(path)) {
        if (auto error = ReadStandardInput(bytes)) {
            return name + ": " + *error;
        }
        if (ZAVProbeImageMemory(obj, bytes.data(), bytes.size(), &format, &size.width, &size.height,
                                channels) != 0) {
            return name + ": " + ZAVFileStatusText(ZAVGetFileStatus(obj));
        }
    } else if (ZAVProbeImagePath(obj, path.c_str(), &format, &size.width, &size.height, channels) !=
               0) {
        return name + ": " + ReadFailure(obj, path);
    }
    if (region) {
        if (auto miss = RegionMisses(*region, size, what)) {
            return name + ": " + *miss;
        }
    }
    if (auto error = IsStandardStream(path) ? image.LoadMemory(bytes) : image.Load(path)) {
        return name + ": " + *error;
    }
    return std::nullopt;
}

}  // namespace

int RunCopy(int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    std::vector<std::string> positional;
    std::optional<ZAVImageRect> from;
    std::optional<ZAVImageRect> to;
    std::optional<float> quality;
    bool color = false;
    PlanRequest request;
    request.folders = false;
    RunOptions run;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (!args.IsOption()) {
            positional.emplace_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "--from") {
            from = ParseRegion(arg, args.Value(arg));
        } else if (arg == "--to") {
            to = ParseRegion(arg, args.Value(arg));
        } else if (arg == "--quality" || arg == "--jpeg-quality") {
            if (quality) {
                throw UsageError("give --quality or --jpeg-quality once");
            }
            quality = arg == "--quality" ? ParseQuality(arg, args.Value(arg))
                                         : ParseJpegPercent(arg, args.Value(arg));
        } else if (arg == "--color") {
            args.Flag(arg);
            color = true;
        } else if (arg == "--format") {
            request.format = ParseOutputFormat(arg, args.Value(arg));
        } else if (!ReadRunOption(arg, args, request, run)) {
            throw UnknownOption(arg);
        }
    }
    if (positional.size() != 3) {
        throw UsageError("expected SRC, DST and OUT");
    }
    request.inputs = {positional[1]};
    request.alsoRead = {positional[0]};
    request.output = positional[2];
    if (!request.format.empty() && !IsStandardStream(request.output)) {
        throw UsageError(
            "--format names the format written to standard output (OUT -); a file "
            "takes it from its extension");
    }
    Plan plan = MakePlan(request);
    if (auto problem =
            IsStandardStream(positional[0]) ? std::nullopt : PathProblem(positional[0])) {
        plan.failures.insert(plan.failures.begin(), {Printable(positional[0]), *problem});
    }
    for (const PlanFailure &f : plan.failures) {
        PrintError(f.name + ": " + f.reason);
    }
    if (!plan.failures.empty()) {
        return kExitFailed;
    }
    if (plan.jobs.empty()) {
        if (run.verbosity != Verbosity::kQuiet) {
            std::printf("skipped: %s exists (--no-clobber)\n", Printable(positional[2]).c_str());
        }
        return kExitOk;
    }
    Object obj;
    if (quality) {
        ZAVSetImageQuality(obj.get(), *quality);
    }
    Image src(obj.get());
    Image dst(obj.get());
    int32_t srcChannels = 3;
    int32_t dstChannels = 3;
    if (auto error = LoadChecked(obj.get(), positional[0], src, from, "the region", &srcChannels)) {
        PrintError(*error);
        return kExitFailed;
    }
    if (auto error = LoadChecked(obj.get(), positional[1], dst, to, "the region", &dstChannels)) {
        PrintError(*error);
        return kExitFailed;
    }
    const ZAVImageStruct &s = src.Record();
    const ZAVImageStruct &d = dst.Record();
    const ZAVImageRect f = from.value_or(ZAVImageRect{0, 0, s.width, s.height});
    const ZAVImageRect t = to.value_or(ZAVImageRect{0, 0, d.width, d.height});
    ZAVCopyImage(obj.get(), &s, f.x, f.y, f.width, f.height, &d, t.x, t.y, t.width, t.height);
    const bool toOutput = IsStandardStream(positional[2]);
    const OutputFormat *format =
        FindOutputFormat(toOutput ? request.format : NameExtension(positional[2]));
    if (srcChannels == 1 && dstChannels == 1 && !color && format != nullptr && format->keepsGray &&
        !dst.ToGray()) {
        PrintError("out of memory");
        return kExitFailed;
    }
    if (StopRequested()) {
        PrintError(std::string("stopped by ") + SignalName(StopSignal()) + "; nothing was written");
        return StopExitStatus();
    }
    if (auto error =
            toOutput ? dst.WriteToStandardOutput(request.format) : dst.Save(positional[2])) {
        PrintError(ShownName(positional[2], true) + ": " + *error);
        return kExitFailed;
    }
    return StopRequested() ? StopExitStatus() : kExitOk;
}

}  // namespace zavtool
