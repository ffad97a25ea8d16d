// zavimage annotate: the typical job on one picture or many, spread over the machine's cores.
#include <cstdio>

#include "tools/zavimage/batch.h"
#include "tools/zavimage/caption.h"
#include "tools/zavimage/cli.h"
#include "tools/zavimage/common_options.h"
#include "tools/zavimage/display.h"
#include "tools/zavimage/formats.h"

namespace zavtool {
namespace {

constexpr const char *kHelp =
    "usage: zavimage annotate IN... (-o OUT | --out-dir DIR) [options]\n"
    "\n"
    "Loads each picture, then flips, resizes, captions, marks and saves it, in that order.\n"
    "IN may be a folder: its pictures (by extension) are taken, sorted by name; - is standard\n"
    "input (with -o). Every output name is worked out first: two inputs that would write one\n"
    "output, or an output that is an input, stop the command before any work (exit 2). A gray\n"
    "or bilevel picture is saved gray where the format has gray (all but .ppm) unless --color\n"
    "is given; a caption or box drawn on it then comes out as its gray level. Ctrl-C or SIGTERM\n"
    "stops taking files, finishes the ones in progress, prints the summary and exits 130 or\n"
    "143.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT       output file (one input only); its extension picks the format;\n"
    "                         - writes standard output\n"
    "  --out-dir DIR          output folder for many inputs (made when missing)\n"
    "  --format EXT           extension of the files written to --out-dir (default: the input's)\n"
    "                         or of the picture written to standard output (-o -)\n"
    "  -r, --recursive        walk the subfolders of folders (their places are kept in DIR)\n"
    "  --in-place             let an output replace its input\n"
    "  -n, --no-clobber       skip outputs that exist (counted in the "
    "summary)\n" ZAV_CAPTION_OPTIONS
    "  --box X,Y,W,H          mark a found region (repeatable); the box is drawn grown around it\n"
    "  --box-color COLOR      red, green, blue, yellow, white, black or a code 0 to 6 (default "
    "red)\n"
    "  --resize SIZE          scale before captioning (nearest neighbour): WxH, Wx or xH (the\n"
    "                         other side keeps the aspect), or P%\n"
    "  --flip                 turn the picture upside down first\n"
    "  --color                save gray pictures in colour\n"
    "  --quality Q            JPEG quality 0 to 10: the standard tables divided by Q (default 2;\n"
    "                         1 = the standard tables, 0 = all steps 1)\n"
    "  --jpeg-quality P       JPEG quality as a percentage, 1 to 95 or 100: the tables libjpeg\n"
    "                         gives for P (75 = --quality 2)\n"
    "  -j, --jobs N           pictures worked on at once, 1 to 256 (default: one per core)\n"
    "  -q, --quiet            print only failures\n"
    "  -v, --verbose          one line per file written\n"
    "  --                     end of options: every later argument is an input\n"
    "\n"
    "Boxes and the caption start are checked against each picture's size after resizing: one\n"
    "that lies wholly outside fails that picture. The summary counts the pictures written, failed\n"
    "and skipped, and the subfolders and other files passed over in the folders.\n"
    "\n"
    "example:\n"
    "  zavimage annotate cam1/ --out-dir marked --format jpg --text \"视频监控 cam 1\" \\\n"
    "      --at 10,40 --box 200,120,64,48 --resize 1280x720\n";

}  // namespace

int RunAnnotate(int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    PlanRequest request;
    RunOptions run;
    Steps steps;
    std::optional<Caption> caption;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (!args.IsOption()) {
            request.inputs.emplace_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "-o" || arg == "--output") {
            request.output = std::string(args.Value(arg));
        } else if (arg == "--out-dir") {
            request.outDir = std::string(args.Value(arg));
        } else if (arg == "--format") {
            request.format = ParseOutputFormat(arg, args.Value(arg));
        } else if (arg == "--recursive" || arg == "-r") {
            args.Flag(arg);
            request.recursive = true;
        } else if (!ReadRunOption(arg, args, request, run) &&
                   !ReadStepOption(arg, args, steps, caption)) {
            throw UnknownOption(arg);
        }
    }
    FinishStepOptions(steps, caption);
    if (request.inputs.empty()) {
        throw UsageError("no input picture given");
    }
    if (request.output.empty() == request.outDir.empty()) {
        throw UsageError("give either -o OUT (one input) or --out-dir DIR");
    }
    if (!request.format.empty() && request.outDir.empty() && request.output != "-") {
        throw UsageError(
            "--format names the extension of files in --out-dir or on standard output (-o -); "
            "-o OUT takes the format from OUT's extension");
    }
    const Plan plan = MakePlan(request);
    BatchSettings settings;
    settings.command = "annotate";
    settings.summary = request.output != "-";  // standard output holds the picture
    settings.jobs = run.jobs;
    settings.verbosity = run.verbosity;
    return RunBatch(plan, steps, settings);
}

}  // namespace zavtool
