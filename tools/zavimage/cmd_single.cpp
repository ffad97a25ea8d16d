// The one-picture commands: convert, resize, flip, text, box. Each is IN OUT plus its options.
#include <cstdio>

#include "tools/zavimage/cli.h"
#include "tools/zavimage/pipeline.h"

namespace zavtool {
namespace {

// What a one-picture command must be given, beyond IN and OUT.
enum class Needs { kNothing, kResize, kCaption, kBox };

int RunSingle(const char *help, Needs needs, bool flip, int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    std::vector<std::string> positional;
    Steps steps;
    steps.flip = flip;
    std::optional<Caption> caption;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            std::fputs(help, stdout);
            return kExitOk;
        }
        if (!args.IsOption(arg)) {
            positional.emplace_back(arg);
        } else if (!ReadStepOption(arg, args, steps, caption)) {
            throw UsageError("unknown option " + std::string(arg));
        }
    }
    // resize also takes its size as a third positional argument
    if (needs == Needs::kResize && positional.size() == 3 && !steps.resize) {
        steps.resize = ParseSize("size", positional[2]);
        positional.pop_back();
    }
    if (positional.size() != 2) {
        throw UsageError("expected an input and an output file");
    }
    if (caption) {
        if (caption->text.empty()) {
            throw UsageError("caption options need --text");
        }
        steps.caption = caption;
    }
    if (needs == Needs::kResize && !steps.resize) {
        throw UsageError("give the new size as WxH");
    }
    if (needs == Needs::kCaption && !steps.caption) {
        throw UsageError("give the caption with --text");
    }
    if (needs == Needs::kBox && steps.boxes.empty()) {
        throw UsageError("give the region with --box X,Y,W,H");
    }
    Object obj;
    if (auto error = ProcessFile(obj.get(), positional[0], positional[1], steps)) {
        PrintError(error->Describe(positional[0]));
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int RunConvert(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage convert IN OUT [--quality Q]\n"
        "\n"
        "Loads IN (its format is told by its first bytes) and saves OUT in the format of OUT's\n"
        "extension: .bmp .dib .jpg .jpeg .jpe .sr .ras .pbm .pgm .ppm .tif .tiff\n"
        "\n"
        "options:\n"
        "  --quality Q   JPEG quality: 1 = standard tables, 2 = half the steps (default 2)\n"
        "\n"
        "example:\n"
        "  zavimage convert frame.bmp frame.jpg --quality 4\n";
    return RunSingle(kHelp, Needs::kNothing, false, argc, argv);
}

int RunResize(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage resize IN OUT WxH\n"
        "\n"
        "Scales IN to W x H pixels, nearest neighbour, and saves OUT.\n"
        "\n"
        "example:\n"
        "  zavimage resize frame.jpg small.jpg 640x360\n";
    return RunSingle(kHelp, Needs::kResize, false, argc, argv);
}

int RunFlip(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage flip IN OUT\n"
        "\n"
        "Turns IN upside down (rows exchanged) and saves OUT.\n"
        "\n"
        "example:\n"
        "  zavimage flip upside-down.bmp fixed.bmp\n";
    return RunSingle(kHelp, Needs::kNothing, true, argc, argv);
}

int RunText(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage text IN OUT --text TEXT [--at X,Y] [--size PX] [--space RATIO]\n"
        "                     [--text-color blue|green|red]\n"
        "\n"
        "Writes a caption into IN and saves OUT. The first character's left edge is at X and the\n"
        "bottoms of all characters lie on row Y. The font is SimHei when installed, else the best\n"
        "match fontconfig finds for it (WenQuanYi Zen Hei on Debian).\n"
        "\n"
        "options:\n"
        "  --at X,Y             start (default 10,40)\n"
        "  --size PX            font size in pixels (default 24)\n"
        "  --space RATIO        gap between characters as a fraction of the size (default 0.1)\n"
        "  --text-color COLOR   blue, green or red (default red)\n"
        "\n"
        "example:\n"
        "  zavimage text frame.jpg captioned.jpg --text \"视频监控 12:34:56\" --at 10,40\n";
    return RunSingle(kHelp, Needs::kCaption, false, argc, argv);
}

int RunBox(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage box IN OUT --box X,Y,W,H [--box X,Y,W,H ...] [--box-color COLOR]\n"
        "\n"
        "Marks found regions: each box is drawn 3 pixels thick around the region grown by a fifth\n"
        "of its width left and right and a third of its height above and below.\n"
        "\n"
        "options:\n"
        "  --box-color COLOR   red, green, blue, yellow, white, black or a code (default red)\n"
        "\n"
        "example:\n"
        "  zavimage box frame.jpg marked.jpg --box 200,120,64,48 --box-color green\n";
    return RunSingle(kHelp, Needs::kBox, false, argc, argv);
}

}  // namespace zavtool
