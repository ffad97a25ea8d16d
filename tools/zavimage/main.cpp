// zavimage: every ZAVImage operation from the shell, and the typical job on one file or many.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

#include "tools/zavimage/cli.h"
#include "tools/zavimage/display.h"
#include "tools/zavimage/formats.h"
#include "tools/zavimage/image.h"
#include "tools/zavimage/interrupt.h"

namespace zavtool {
namespace {

struct Command {
    std::string_view name;
    std::string_view summary;
    int (*run)(int argc, char **argv);
};

constexpr Command kCommands[] = {
    {"annotate", "load, resize, caption, mark and save one picture or many", RunAnnotate},
    {"convert", "load a picture and save it in the format of the output name", RunConvert},
    {"info", "show the format and size of pictures, or why they do not load", RunInfo},
    {"resize", "scale a picture to a new size", RunResize},
    {"flip", "turn a picture upside down", RunFlip},
    {"copy", "copy (and scale) a region of one picture into a region of another", RunCopy},
    {"text", "write a caption into a picture", RunText},
    {"box", "draw a marker box around a region", RunBox},
    {"run", "run a job kept in a JSON file (as annotate --print-job writes it)", RunJobFile},
    {"formats", "list the formats read and written", RunFormats},
    {"demo", "run the typical job on a generated sample picture", RunDemo},
};

void PrintHelp() {
    std::printf(
        "usage: zavimage <command> [options]\n"
        "\n"
        "Loads %s pictures, works on them and saves\n"
        "them in the format named by the output file's extension. - reads standard input or\n"
        "writes standard output (--format names its format).\n"
        "\n"
        "commands:\n",
        ReadFormatNames().c_str());
    for (const Command &c : kCommands) {
        std::printf("  %-9.*s %.*s\n", static_cast<int>(c.name.size()), c.name.data(),
                    static_cast<int>(c.summary.size()), c.summary.data());
    }
    std::printf(
        "\n"
        "Run 'zavimage <command> --help' for a command's options, 'zavimage --version' for the\n"
        "library's version.\n"
        "\n"
        "example:\n"
        "  zavimage annotate shots/ --out-dir marked --text \"Camera 1\" --at 10,40 \\\n"
        "      --box 200,120,64,48 --format jpg\n"
        "\n"
        "Names are paths as Linux takes them (any length the system allows, any character).\n"
        "Ctrl-C or SIGTERM finishes the files in progress and leaves no partial file.\n"
        "\n"
        "exit status: 0 when everything succeeded, 1 when some file failed, 2 for a usage\n"
        "error (nothing was done), 130 or 143 when stopped by SIGINT or SIGTERM.\n"
        "See also: man zavimage\n");
}

}  // namespace
}  // namespace zavtool

int main(int argc, char **argv) {
    using namespace zavtool;
    StartSignalWatch();  // before any thread
    if (argc < 2) {
        PrintHelp();
        return kExitUsage;
    }
    const std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        if (name == "help" && argc > 2) {
            for (const Command &c : kCommands) {
                if (c.name == argv[2]) {
                    char help[] = "--help";
                    char *args[] = {argv[2], help, nullptr};
                    return c.run(2, args);
                }
            }
        }
        PrintHelp();
        return kExitOk;
    }
    if (name == "--version") {
        std::printf("zavimage %s\n", ZAVVersion());  // the library's, which does the work
        return kExitOk;
    }
    for (const Command &c : kCommands) {
        if (c.name == name) {
            try {
                return c.run(argc - 1, argv + 1);
            } catch (const UsageError &e) {
                PrintError(e.what());
                std::fprintf(stderr, "Run 'zavimage %s --help' for usage.\n", argv[1]);
                return kExitUsage;
            } catch (const std::bad_alloc &) {
                PrintError("out of memory");
                return kExitFailed;
            } catch (const std::exception &e) {
                PrintError(e.what());
                return kExitFailed;
            }
        }
    }
    PrintError("unknown command '" + Printable(name) + "'");
    std::fprintf(stderr, "Run 'zavimage --help' for the list of commands.\n");
    return kExitUsage;
}
