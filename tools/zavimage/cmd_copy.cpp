// zavimage copy: a region of one picture into a region of another, scaled when sizes differ.
#include <cstdio>

#include "tools/zavimage/cli.h"

namespace zavtool {

int RunCopy(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage copy SRC DST OUT [--from X,Y,W,H] [--to X,Y,W,H]\n"
        "\n"
        "Copies the region --from of SRC into the region --to of DST and saves the result as OUT.\n"
        "When the two regions differ in size the copy is scaled (nearest neighbour). Regions are\n"
        "cut at the picture edges; a region left empty copies nothing. Without --from or --to the\n"
        "whole picture is used.\n"
        "\n"
        "example:\n"
        "  zavimage copy cam2.jpg cam1.jpg pip.jpg --from 0,0,1920,1080 --to 1400,20,480,270\n";
    ArgReader args(argc, argv, 1);
    std::vector<std::string> positional;
    std::optional<ZAVImageRect> from;
    std::optional<ZAVImageRect> to;
    std::optional<float> quality;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (!args.IsOption(arg)) {
            positional.emplace_back(arg);
        } else if (arg == "--from") {
            from = ParseRect(arg, args.Value(arg));
        } else if (arg == "--to") {
            to = ParseRect(arg, args.Value(arg));
        } else if (arg == "--quality") {
            quality = ParseFloat(arg, args.Value(arg));
        } else {
            throw UsageError("unknown option " + std::string(arg));
        }
    }
    if (positional.size() != 3) {
        throw UsageError("expected SRC, DST and OUT");
    }
    Object obj;
    if (quality) {
        ZAVSetImageQuality(obj.get(), *quality);
    }
    Image src(obj.get());
    Image dst(obj.get());
    if (auto error = src.Load(positional[0])) {
        PrintError(positional[0] + ": " + error->reason);
        return kExitFailed;
    }
    if (auto error = dst.Load(positional[1])) {
        PrintError(positional[1] + ": " + error->reason);
        return kExitFailed;
    }
    const ZAVImageStruct &s = src.Record();
    const ZAVImageStruct &d = dst.Record();
    const ZAVImageRect f = from.value_or(ZAVImageRect{0, 0, s.width, s.height});
    const ZAVImageRect t = to.value_or(ZAVImageRect{0, 0, d.width, d.height});
    ZAVCopyImage(obj.get(), &s, f.x, f.y, f.width, f.height, &d, t.x, t.y, t.width, t.height);
    if (auto error = dst.Save(positional[2])) {
        PrintError(positional[2] + ": " + error->reason);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace zavtool
