// zavimage info: format and size of pictures from their headers, or why they do not load.
#include <cstdio>

#include "tools/zavimage/cli.h"
#include "tools/zavimage/display.h"
#include "tools/zavimage/formats.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/interrupt.h"
#include "tools/zavimage/streams.h"

namespace zavtool {
namespace {

constexpr const char *kHelp =
    "usage: zavimage info [--verify] [--json] FILE...\n"
    "\n"
    "Shows each file's format (BMP, JPEG, Sun raster, PBM, PGM, PPM, TIFF, PNG), size and\n"
    "whether it holds colour or gray, read from its header alone, or why it does not load. - is\n"
    "standard input (read once). Names are printed with control characters\n"
    "escaped (\\n, \\t, \\xNN).\n"
    "\n"
    "options:\n"
    "  --verify   decode every picture fully (a damaged file can have a good header)\n"
    "  --json     one JSON array of objects: file, format, width, height, gray (and verified\n"
    "             with --verify), or file and error\n"
    "  --         end of options\n"
    "\n"
    "exit status: 0 when every file is a picture the library loads, 1 otherwise.\n"
    "\n"
    "example:\n"
    "  zavimage info shots/*.jpg\n";

struct Info {
    std::string format;
    int32_t width = 0;
    int32_t height = 0;
    bool gray = false;
    std::string error;  // empty when the file loads
    bool headerRead = false;
};

// Standard input (-), read once: the header from memory.
Info ExamineStandardInput(ZAVImageObject *obj, bool verify) {
    Info info;
    std::vector<uint8_t> bytes;
    if (auto error = ReadStandardInput(bytes)) {
        info.error = *error;
        return info;
    }
    const char *description = nullptr;
    int32_t channels = 0;
    if (ZAVProbeImageMemory(obj, bytes.data(), bytes.size(), &description, &info.width,
                            &info.height, &channels) != 0) {
        info.error = ZAVFileStatusText(ZAVGetFileStatus(obj));
        return info;
    }
    info.headerRead = true;
    info.gray = channels == 1;
    info.format =
        FormatName(description != nullptr ? description : "",
                   std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()));
    if (verify) {
        Image image(obj);
        if (auto error = image.LoadMemory(bytes)) {
            info.error = *error;
        }
    }
    return info;
}

Info Examine(ZAVImageObject *obj, const std::string &file, bool verify) {
    if (IsStandardStream(file)) {
        return ExamineStandardInput(obj, verify);
    }
    Info info;
    const char *description = nullptr;
    int32_t channels = 0;
    if (ZAVProbeImagePath(obj, file.c_str(), &description, &info.width, &info.height, &channels) !=
        0) {
        info.error = ReadFailure(obj, file);
        return info;
    }
    info.headerRead = true;
    info.format = FormatNameOfFile(description != nullptr ? description : "", file);
    info.gray = channels == 1;
    if (verify) {
        Image image(obj);
        if (auto error = image.Load(file)) {
            info.error = *error;
        }
    }
    return info;
}

void PrintText(const std::string &file, const Info &info) {
    const std::string name = Printable(file);
    if (!info.headerRead) {
        std::printf("%s: does not load: %s\n", name.c_str(), info.error.c_str());
        return;
    }
    std::printf("%s: %s, %d x %d, %s", name.c_str(), info.format.c_str(), info.width, info.height,
                info.gray ? "gray" : "colour");
    if (!info.error.empty()) {
        std::printf(", does not load: %s", info.error.c_str());
    }
    std::printf("\n");
}

void PrintJson(const std::string &file, const Info &info, bool verify, bool first) {
    std::printf("%s\n  {\"file\": %s", first ? "[" : ",", JsonString(file).c_str());
    if (info.headerRead) {
        std::printf(", \"format\": %s, \"width\": %d, \"height\": %d, \"gray\": %s",
                    JsonString(info.format).c_str(), info.width, info.height,
                    info.gray ? "true" : "false");
        if (verify) {
            std::printf(", \"verified\": %s", info.error.empty() ? "true" : "false");
        }
    }
    if (!info.error.empty()) {
        std::printf(", \"error\": %s", JsonString(info.error).c_str());
    }
    std::printf("}");
}

}  // namespace

int RunInfo(int argc, char **argv) {
    ArgReader args(argc, argv, 1);
    std::vector<std::string> files;
    bool verify = false;
    bool json = false;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (!args.IsOption()) {
            files.emplace_back(arg);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        } else if (arg == "--verify") {
            args.Flag(arg);
            verify = true;
        } else if (arg == "--json") {
            args.Flag(arg);
            json = true;
        } else {
            throw UnknownOption(arg);
        }
    }
    if (files.empty()) {
        throw UsageError("no file given");
    }
    Object obj;
    int status = kExitOk;
    bool first = true;
    for (const std::string &file : files) {
        if (StopRequested()) {
            break;
        }
        const Info info = Examine(obj.get(), file, verify);
        if (!info.error.empty()) {
            status = kExitFailed;
        }
        if (json) {
            PrintJson(file, info, verify, first);
        } else {
            PrintText(file, info);
        }
        first = false;
    }
    if (json) {
        std::printf(first ? "[]\n" : "\n]\n");
    }
    std::fflush(stdout);
    return StopRequested() ? StopExitStatus() : status;
}

}  // namespace zavtool
