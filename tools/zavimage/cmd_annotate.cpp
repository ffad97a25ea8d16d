// zavimage annotate: the typical job on one picture or many, spread over the machine's cores.
#include <signal.h>

#include <cstdio>
#include <cstdlib>

#include "tools/zavimage/batch.h"
#include "tools/zavimage/cli.h"
#include "tools/zavimage/display.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/interrupt.h"
#include "tools/zavimage/streams.h"

namespace zavtool {
namespace {

constexpr const char *kHelp =
    "usage: zavimage annotate IN... (-o OUT | --out-dir DIR) [options]\n"
    "\n"
    "Loads each picture, then flips, resizes, captions, marks and saves it, in that order.\n"
    "IN may be a folder: its pictures (by extension) are taken, sorted by name; - is standard\n"
    "input (with -o). Every output name is worked out first: two inputs that would write one\n"
    "output, or an output that is an input, stop the command before any work (exit 2). A gray\n"
    "or bilevel picture is saved gray where the format has gray (zavimage formats) unless --color\n"
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
    "  --box X,Y,W,H          mark a found region (repeatable), in the source picture's\n"
    "                         coordinates (it follows --auto-orient, --flip and --resize)\n"
    "  --boxes FILE           each picture's boxes from a detector: CSV file,x,y,w,h[,label[,\n"
    "                         color[,score]]] or JSON Lines {\"file\": ..., \"boxes\": [...]},\n"
    "                         matched by the path below the input folder or by name\n"
    "  --min-score S          leave out detections scored under S\n"
    "  --box-style STYLE      marker (grown around the region, 3 pixels; --box's default) or\n"
    "                         rect (exactly the region; --boxes' default)\n"
    "  --box-width N          rect: the line's width inward, 1 to 64 (default 2)\n"
    "  --no-label             no label tabs over the detections' boxes (--label: with them)\n"
    "  --box-color COLOR      red, green, blue, yellow, white, black or a code 0 to 6 (default "
    "red)\n"
    "  --resize-filter F      nearest, area, linear, cubic or lanczos (default: area when\n"
    "                         shrinking, linear when enlarging)\n"
    "  --auto-orient          turn each picture upright by its EXIF orientation first\n"
    "  --name TEMPLATE        output names from fields, e.g. \"{stem}_{index}.jpg\"\n"
    "  --resize SIZE          scale before captioning: WxH, Wx or xH (the\n"
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
    "  --print-job            print the job as a JSON document (for zavimage run) instead of\n"
    "                         running it\n"
    "  --                     end of options: every later argument is an input\n"
    "\n"
    "A caption's text and --name may hold each picture's fields: {name} {stem} {ext} {folder}\n"
    "{index} {count} {width} {height} {mtime} {mtime:FORMAT} (strftime) {exif:TAG} (Make,\n"
    "Model, DateTimeOriginal, ...); {{ and }} are braces. A caption start outside the picture\n"
    "after resizing, or a --box outside the source picture, fails that picture. The summary\n"
    "counts the pictures written, failed and skipped, the subfolders and other files passed\n"
    "over in the folders, and the detections for files not in the batch.\n"
    "\n"
    "example:\n"
    "  zavimage annotate cam1/ --out-dir marked --format jpg --text \"视频监控 cam 1\" \\\n"
    "      --at 10,40 --box 200,120,64,48 --resize 1280x720\n";

}  // namespace

int RunAnnotate(int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    Json job = {{"version", 1}, {"inputs", Json::array()}};
    RunOptions run;
    bool toStandardOutput = false;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (!args.IsOption()) {
            job["inputs"].push_back(NameValue(arg));
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "-o" || arg == "--output") {
            const std::string_view output = args.Value(arg);
            job["output"] = NameValue(output);
            toStandardOutput = output == "-";
        } else if (arg == "--out-dir") {
            job["out_dir"] = NameValue(args.Value(arg));
        } else if (arg == "--recursive" || arg == "-r") {
            args.Flag(arg);
            job["recursive"] = true;
        } else if (!ReadJobOption(arg, args, job, run)) {
            throw UnknownOption(arg);
        }
    }
    BatchSettings settings;
    settings.command = "annotate";
    settings.summary = !toStandardOutput;  // standard output holds the picture
    settings.run = run;
    return RunJob(job, settings);
}

int RunJobFile(int argc, char **argv) {
    static constexpr const char *kRunHelp =
        "usage: zavimage run JOB.json [-j N] [-q | -v] [--print-job]\n"
        "\n"
        "Runs a job kept in a file: the JSON document that `zavimage annotate ... --print-job`\n"
        "prints (inputs, steps and output; see the C interface's zavimage/job.h). - reads it from\n"
        "standard input. Its summary and exit status are annotate's.\n"
        "\n"
        "example:\n"
        "  zavimage annotate cam1/ --out-dir marked --text \"cam 1\" --print-job > cam1.json\n"
        "  zavimage run cam1.json\n";
    ArgReader args(argc, argv, 1);
    RunOptions run;
    std::optional<std::string> file;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (!args.IsOption()) {
            if (file) {
                throw UsageError("give one job file");
            }
            file = std::string(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kRunHelp, stdout);
            return kExitOk;
        } else if (arg == "--quiet" || arg == "-q" || arg == "--verbose" || arg == "-v" ||
                   arg == "--jobs" || arg == "-j" || arg == "--print-job") {
            Json ignored;
            ReadJobOption(arg, args, ignored, run);
        } else {
            throw UnknownOption(arg);
        }
    }
    if (!file) {
        throw UsageError("give the job file (JOB.json, or - for standard input)");
    }
    // Until the document is read, a stop ends the tool at once: nothing has been done yet, and a
    // read from a pipe, a FIFO or a terminal may wait for ever.
    SetSignalListener([](int signal) {
        if (signal != SIGWINCH) {
            PrintError(std::string("stopped by ") + SignalName(signal) +
                       " while reading the job; nothing was done");
            std::_Exit(128 + signal);
        }
    });
    if (StopRequested()) {
        return StopExitStatus();
    }
    std::string text;
    const std::optional<std::string> failure = ReadJobDocument(*file, text);
    SetSignalListener({});
    if (failure) {
        PrintError(Printable(*file) + ": " + *failure);
        return kExitFailed;
    }
    BatchSettings settings;
    settings.command = "run";
    settings.run = run;
    return RunJobText(text, settings);
}

}  // namespace zavtool
