// zavimage copy: a region of one picture into a region of another, scaled when sizes differ.
#include <cstdio>

#include "tools/zavimage/batch.h"
#include "tools/zavimage/cli.h"

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

}  // namespace

int RunCopy(int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    std::vector<std::string> positional;
    Json job = {{"version", 1}, {"folders", false}};
    Json copy = Json::object();
    RunOptions run;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (!args.IsOption()) {
            positional.emplace_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "--from" || arg == "--to") {
            copy[std::string(arg.substr(2))] = std::string(args.Value(arg));
        } else if (arg == "--quality" || arg == "--jpeg-quality" || arg == "--color" ||
                   arg == "--format" || arg == "--in-place" || arg == "--no-clobber" ||
                   arg == "-n" || arg == "--quiet" || arg == "-q" || arg == "--print-job") {
            ReadJobOption(arg, args, job, run);
        } else {
            throw UnknownOption(arg);
        }
    }
    if (positional.size() != 3) {
        throw UsageError("expected SRC, DST and OUT");
    }
    copy["source"] = NameValue(positional[0]);
    job["copy"] = std::move(copy);
    job["inputs"] = Json::array({NameValue(positional[1])});
    job["output"] = NameValue(positional[2]);
    BatchSettings settings;
    settings.command = "zavimage";
    settings.run = run;
    settings.summary = false;
    return RunJob(job, settings);
}

}  // namespace zavtool
