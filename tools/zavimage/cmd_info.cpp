// zavimage info: format and size of pictures, or why they do not load.
#include <cstdio>

#include "tools/zavimage/cli.h"

namespace zavtool {

int RunInfo(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage info FILE...\n"
        "\n"
        "Shows each file's format and size as the library reads it, or why it does not load.\n"
        "\n"
        "example:\n"
        "  zavimage info shots/*.jpg\n";
    ArgReader args(argc, argv, 1);
    std::vector<std::string> files;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (args.IsOption(arg)) {
            throw UsageError("unknown option " + std::string(arg));
        }
        files.emplace_back(arg);
    }
    if (files.empty()) {
        throw UsageError("no file given");
    }
    Object obj;
    int status = kExitOk;
    for (const std::string &file : files) {
        const char *format = nullptr;
        int32_t width = 0;
        int32_t height = 0;
        if (ZAVProbeImageFileUtf8(obj.get(), file.c_str(), &format, &width, &height) != 0) {
            std::printf("%s: does not load: %s\n", file.c_str(), LastFileError(obj.get()).c_str());
            status = kExitFailed;
            continue;
        }
        // "Windows bitmap (*.bmp;*.dib)" -> "Windows bitmap"
        std::string name = format != nullptr ? format : "unknown format";
        if (const std::size_t paren = name.find(" ("); paren != std::string::npos) {
            name.erase(paren);
        }
        // The header alone can look right; decode the whole picture to be sure it loads.
        Image image(obj.get());
        if (auto error = image.Load(file)) {
            std::printf("%s: %s, %d x %d, does not load: %s\n", file.c_str(), name.c_str(), width,
                        height, error->reason.c_str());
            status = kExitFailed;
            continue;
        }
        std::printf("%s: %s, %d x %d\n", file.c_str(), name.c_str(), width, height);
    }
    return status;
}

}  // namespace zavtool
