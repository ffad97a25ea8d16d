// zavimage annotate: the typical job on one picture or many, spread over the machine's cores.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>

#include "tools/zavimage/cli.h"
#include "tools/zavimage/pipeline.h"
#include "tools/zavimage/progress.h"

namespace zavtool {
namespace {

constexpr const char *kHelp =
    "usage: zavimage annotate IN... (-o OUT | --out-dir DIR) [options]\n"
    "\n"
    "Loads each picture, then flips, resizes, captions, marks and saves it, in that order.\n"
    "IN may be a folder: its pictures (by extension) are taken, sorted by name.\n"
    "\n"
    "options:\n"
    "  -o, --output OUT       output file (one input only); its extension picks the format\n"
    "  --out-dir DIR          output folder for many inputs (created when missing)\n"
    "  --format EXT           extension of the files written to --out-dir (default: the input's)\n"
    "  --text TEXT            caption (UTF-8, Chinese included)\n"
    "  --at X,Y               caption start: left edge X, bottom row Y (default 10,40)\n"
    "  --size PX              caption font size in pixels (default 24)\n"
    "  --space RATIO          gap between characters as a fraction of the size (default 0.1)\n"
    "  --text-color COLOR     blue, green or red (default red)\n"
    "  --box X,Y,W,H          mark a found region (repeatable); the box is drawn grown around it\n"
    "  --box-color COLOR      red, green, blue, yellow, white, black or a code (default red)\n"
    "  --resize WxH           scale to this size (nearest neighbour) before captioning\n"
    "  --flip                 turn the picture upside down first\n"
    "  --quality Q            JPEG quality: 1 = standard tables, 2 = half the steps (default 2)\n"
    "  -j, --jobs N           pictures worked on at once (default: one per core)\n"
    "\n"
    "example:\n"
    "  zavimage annotate cam1/ --out-dir marked --format jpg --text \"视频监控 cam 1\" \\\n"
    "      --at 10,40 --box 200,120,64,48\n";

const char *const kPictureExtensions[] = {"bmp", "dib", "jpeg", "jpg", "jpe",  "sr",
                                          "ras", "pbm", "pgm",  "ppm", "tiff", "tif"};

bool HasPictureExtension(const std::filesystem::path &p) {
    std::string ext = p.extension().string();
    if (ext.empty()) {
        return false;
    }
    ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(std::begin(kPictureExtensions), std::end(kPictureExtensions), ext) !=
           std::end(kPictureExtensions);
}

// Inputs with folders expanded to the pictures inside them.
std::vector<std::string> ExpandInputs(const std::vector<std::string> &inputs) {
    std::vector<std::string> files;
    for (const std::string &in : inputs) {
        std::error_code ec;
        if (std::filesystem::is_directory(in, ec)) {
            std::vector<std::string> found;
            for (const auto &entry : std::filesystem::directory_iterator(in, ec)) {
                if (entry.is_regular_file(ec) && HasPictureExtension(entry.path())) {
                    found.push_back(entry.path().string());
                }
            }
            std::sort(found.begin(), found.end());
            files.insert(files.end(), found.begin(), found.end());
        } else {
            files.push_back(in);
        }
    }
    return files;
}

std::string OutputName(const std::string &in, const std::string &dir, const std::string &format) {
    std::filesystem::path name = std::filesystem::path(in).filename();
    if (!format.empty()) {
        name.replace_extension("." + format);
    }
    return (std::filesystem::path(dir) / name).string();
}

}  // namespace

int RunAnnotate(int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    std::vector<std::string> inputs;
    std::string output;
    std::string outDir;
    std::string format;
    unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
    Steps steps;
    std::optional<Caption> caption;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (!args.IsOption(arg)) {
            inputs.emplace_back(arg);
        } else if (arg == "-o" || arg == "--output") {
            output = std::string(args.Value(arg));
        } else if (arg == "--out-dir") {
            outDir = std::string(args.Value(arg));
        } else if (arg == "--format") {
            format = std::string(args.Value(arg));
            if (!format.empty() && format[0] == '.') {
                format.erase(0, 1);
            }
        } else if (arg == "-j" || arg == "--jobs") {
            const int32_t n = ParseInt(arg, args.Value(arg));
            if (n < 1) {
                throw UsageError("--jobs must be at least 1");
            }
            jobs = static_cast<unsigned>(n);
        } else if (!ReadStepOption(arg, args, steps, caption)) {
            throw UsageError("unknown option " + std::string(arg));
        }
    }
    if (caption) {
        if (caption->text.empty()) {
            throw UsageError("caption options need --text");
        }
        steps.caption = caption;
    }
    if (inputs.empty()) {
        throw UsageError("no input picture given");
    }
    if (output.empty() == outDir.empty()) {
        throw UsageError("give either -o OUT (one input) or --out-dir DIR");
    }
    const std::vector<std::string> files = ExpandInputs(inputs);
    if (!output.empty() && (files.size() != 1 || inputs.size() != 1)) {
        throw UsageError("-o takes one input; use --out-dir for many");
    }
    if (files.empty()) {
        throw UsageError("no pictures found in the given folders");
    }
    if (!outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(outDir, ec);
        if (ec) {
            PrintError(outDir + ": cannot create the folder: " + ec.message());
            return kExitFailed;
        }
    }

    if (files.size() == 1) {
        Object obj;
        const std::string out = output.empty() ? OutputName(files[0], outDir, format) : output;
        if (auto error = ProcessFile(obj.get(), files[0], out, steps)) {
            PrintError(error->Describe(files[0]));
            return kExitFailed;
        }
        return kExitOk;
    }

    // Many files: one object per worker (objects are independent across threads).
    std::vector<std::optional<FileError>> results(files.size());
    Progress progress(files.size(), stderr);
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        Object obj;
        for (std::size_t i = next++; i < files.size(); i = next++) {
            const std::string out = OutputName(files[i], outDir, format);
            results[i] = ProcessFile(obj.get(), files[i], out, steps);
            progress.Finished(files[i], !results[i],
                              results[i] ? results[i]->Describe(files[i]) : out);
        }
    };
    std::vector<std::thread> threads;
    const std::size_t workers = std::min<std::size_t>(jobs, files.size());
    for (std::size_t t = 1; t < workers; ++t) {
        threads.emplace_back(worker);
    }
    worker();
    for (std::thread &t : threads) {
        t.join();
    }
    progress.End();

    std::size_t failed = 0;
    std::map<std::string, std::size_t> reasons;
    for (const auto &r : results) {
        if (r) {
            ++failed;
            ++reasons[r->reason];
        }
    }
    std::printf("annotate: %zu succeeded, %zu failed\n", files.size() - failed, failed);
    for (const auto &[reason, count] : reasons) {
        std::printf("  %zu x %s\n", count, reason.c_str());
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (results[i]) {
            std::printf("  failed: %s\n", results[i]->Describe(files[i]).c_str());
        }
    }
    return failed == 0 ? kExitOk : kExitFailed;
}

}  // namespace zavtool
