// The one-picture commands: convert, resize, flip, text, box. Each is IN OUT plus its options.
#include <cstdio>

#include "tools/zavimage/batch.h"
#include "tools/zavimage/cli.h"
#include "tools/zavimage/formats.h"

namespace zavtool {
namespace {

// The extensions written, ".bmp .dib ...", wrapped to the help's width.
std::string WrappedExtensions() {
    const std::string list = WrittenExtensions(" ", ".");
    std::string wrapped;
    std::size_t column = 11;  // after "extension: "
    std::size_t start = 0;
    while (start < list.size()) {
        std::size_t end = list.find(' ', start);
        if (end == std::string::npos) {
            end = list.size();
        }
        const std::size_t length = end - start;
        if (start != 0) {
            if (column + 1 + length > 88) {
                wrapped += "\n";
                column = 0;
            } else {
                wrapped += " ";
                ++column;
            }
        }
        wrapped += list.substr(start, length);
        column += length;
        start = end + 1;
    }
    return wrapped;
}

// What a one-picture command must be given, beyond IN and OUT.
enum class Needs { kNothing, kResize, kCaption, kBox };

int RunSingle(const char *help, Needs needs, bool flip, int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    std::vector<std::string> positional;
    Json job = {{"version", 1}, {"folders", false}};
    RunOptions run;
    if (flip) {
        job["flip"] = true;
    }
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (!args.IsOption()) {
            positional.emplace_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(help, stdout);
            return kExitOk;
        } else if (!ReadJobOption(arg, args, job, run)) {
            throw UnknownOption(arg);
        }
    }
    // resize also takes its size as a third positional argument
    if (needs == Needs::kResize && positional.size() == 3 && !job.contains("resize")) {
        job["resize"] = positional[2];
        positional.pop_back();
    }
    if (positional.size() != 2) {
        throw UsageError("expected an input and an output file");
    }
    if (needs == Needs::kResize && !job.contains("resize")) {
        throw UsageError("give the new size: WxH, Wx, xH or P%");
    }
    if (needs == Needs::kCaption && !HasCaption(job)) {
        throw UsageError("give the caption with --text");
    }
    if (needs == Needs::kBox && !job.contains("boxes")) {
        throw UsageError("give the region with --box X,Y,W,H");
    }
    job["inputs"] = Json::array({NameValue(positional[0])});
    job["output"] = NameValue(positional[1]);
    BatchSettings settings;
    settings.command = "zavimage";
    settings.run = run;
    settings.summary = false;
    return RunJob(job, settings);
}

}  // namespace

// Options every one-picture command takes, after its own.
#define ZAV_SINGLE_COMMON                                                                        \
    "\n"                                                                                         \
    "common options:\n"                                                                          \
    "  --format EXT        the format of a picture written to standard output (OUT is -)\n"      \
    "  --quality Q         JPEG quality 0 to 10: the standard tables divided by Q (default 2)\n" \
    "  --jpeg-quality P    JPEG quality as a percentage, 1 to 95 or 100 (75 = --quality 2)\n"    \
    "  --color             save a gray picture in colour (it stays gray where the format\n"      \
    "                      has gray: see zavimage formats)\n"                                    \
    "  --in-place          let OUT be IN (replaced only when the work succeeded)\n"              \
    "  -n, --no-clobber    do nothing when OUT exists\n"                                         \
    "  -q, --quiet         print nothing but errors\n"                                           \
    "  --print-job         print the job as a JSON document (for zavimage run) instead\n"        \
    "                      of running it\n"                                                      \
    "  --                  end of options (for names that begin with a dash)\n"                  \
    "The steps of annotate (--flip, --resize, --text, --box, ...) are taken by every one of\n"   \
    "these commands as well.\n"

int RunConvert(int argc, char **argv) {
    static const std::string help =
        "usage: zavimage convert IN OUT [options]\n"
        "\n"
        "Loads IN (its format is told by its first bytes) and saves OUT in the format of OUT's\n"
        "extension: " +
        WrappedExtensions() +
        ". IN - reads standard input, OUT - writes standard output (then --format names the\n"
        "format); every command that takes IN OUT takes - as well.\n" ZAV_SINGLE_COMMON
        "\n"
        "examples:\n"
        "  zavimage convert frame.bmp frame.jpg --jpeg-quality 90\n"
        "  cat frame.jpg | zavimage convert - - --format png > frame.png\n";
    return RunSingle(help.c_str(), Needs::kNothing, false, argc, argv);
}

int RunResize(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage resize IN OUT SIZE [options]\n"
        "\n"
        "Scales IN and saves OUT: area averaging when shrinking, linear when enlarging\n"
        "(--resize-filter nearest, area, linear, cubic or lanczos chooses; nearest is the\n"
        "component's exact nearest neighbour). SIZE is WxH, Wx or xH (the other side keeps the\n"
        "aspect) or P% (both sides); it may also be given as --resize SIZE.\n" ZAV_SINGLE_COMMON
        "\n"
        "example:\n"
        "  zavimage resize frame.jpg small.jpg 640x\n";
    return RunSingle(kHelp, Needs::kResize, false, argc, argv);
}

int RunFlip(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage flip IN OUT [options]\n"
        "\n"
        "Turns IN upside down (rows exchanged) and saves OUT.\n" ZAV_SINGLE_COMMON
        "\n"
        "example:\n"
        "  zavimage flip upside-down.bmp fixed.bmp\n";
    return RunSingle(kHelp, Needs::kNothing, true, argc, argv);
}

int RunText(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage text IN OUT --text TEXT [--at X,Y | --anchor WHERE] [--size PX]\n"
        "                     [--text-color COLOR] [--outline W[,COLOR]] [--background COLOR[,O]]\n"
        "                     [--font FILE|PATTERN] [--classic] [options]\n"
        "\n"
        "Writes a caption into IN and saves OUT. Glyphs stand on the font's baseline and advance\n"
        "as the font sets them (kerning, shaping, right-to-left scripts, characters the font\n"
        "lacks drawn from another installed font). Without --anchor the first character's left\n"
        "edge is at X and the baseline on row Y (a start outside the picture is an error); with\n"
        "--anchor the caption keeps to a corner, an edge or the centre of every picture. The\n"
        "font is SimHei when installed, else the best match fontconfig finds for it (WenQuanYi\n"
        "Zen Hei on Debian). --classic draws the component's own caption instead, exactly as\n"
        "ZAVPutTextToImage does: the bottoms of all glyphs on row Y, blue, green or red.\n"
        "\n"
        "options:\n" ZAV_CAPTION_OPTIONS ZAV_SINGLE_COMMON
        "\n"
        "examples:\n"
        "  zavimage text frame.jpg captioned.jpg --text \"视频监控 12:34:56\" --at 10,40\n"
        "  zavimage text frame.jpg stamped.jpg --text \"2024-05-01 12:34:56\" --anchor "
        "bottom-right \\\n"
        "      --text-color white --outline 2 --background black,50%\n";
    return RunSingle(kHelp, Needs::kCaption, false, argc, argv);
}

int RunBox(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage box IN OUT --box X,Y,W,H [--box X,Y,W,H ...] [--box-color COLOR]\n"
        "                    [options]\n"
        "\n"
        "Marks found regions: each box is drawn 3 pixels thick around the region grown by a fifth\n"
        "of its width left and right and a third of its height above and below. W and H are at\n"
        "least 1; a region wholly outside the picture is an error.\n"
        "\n"
        "options:\n"
        "  --box-color COLOR   red, green, blue, yellow, white, black or a code 0 to 6\n"
        "                      (default red)\n" ZAV_SINGLE_COMMON
        "\n"
        "example:\n"
        "  zavimage box frame.jpg marked.jpg --box 200,120,64,48 --box-color green\n";
    return RunSingle(kHelp, Needs::kBox, false, argc, argv);
}

}  // namespace zavtool
