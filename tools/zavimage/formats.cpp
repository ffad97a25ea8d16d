#include "tools/zavimage/formats.h"

#include <cstdio>
#include <vector>

#include "tools/zavimage/args.h"
#include "tools/zavimage/display.h"
#include "zavimage/zavimage.h"

namespace zavtool {
namespace {

std::vector<ZAVFormatInfo> Formats() {
    std::vector<ZAVFormatInfo> formats;
    ZAVFormatInfo info{};
    for (int32_t i = 0; ZAVGetFormat(i, &info) == 0; ++i) {
        formats.push_back(info);
    }
    return formats;
}

}  // namespace

std::string WrittenExtensions(std::string_view separator, std::string_view prefix) {
    std::string list;
    for (const ZAVFormatInfo &f : Formats()) {
        if (f.writes == 0) {
            continue;
        }
        const std::string_view extensions = f.extensions;
        std::size_t start = 0;
        while (start < extensions.size()) {
            std::size_t end = extensions.find(' ', start);
            if (end == std::string_view::npos) {
                end = extensions.size();
            }
            if (!list.empty()) {
                list += separator;
            }
            list += prefix;
            list += extensions.substr(start, end - start);
            start = end + 1;
        }
    }
    return list;
}

std::string ReadFormatNames() {
    std::vector<std::string> names;
    for (const ZAVFormatInfo &f : Formats()) {
        if (f.reads != 0) {
            names.emplace_back(f.name);
        }
    }
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    }
    return text;
}

std::string FormatName(std::string_view description, std::string_view head) {
    if (const char *name = ZAVFormatNameOfBytes(head.data(), head.size())) {
        return name;
    }
    return std::string(description.substr(0, description.find(" (")));
}

std::string FormatNameOfFile(std::string_view description, const std::string &path) {
    char head[16] = {};
    std::size_t got = 0;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    }
    return FormatName(description, std::string_view(head, got));
}

int RunFormats(int argc, char **argv) {
    static constexpr const char *kHelp =
        "usage: zavimage formats [--json]\n"
        "\n"
        "Lists the formats: which are read (told by a file's first bytes), which extensions are\n"
        "written, and under which of them a gray picture stays gray.\n"
        "\n"
        "example:\n"
        "  zavimage formats\n";
    ArgReader args(argc, argv, 1);
    bool json = false;
    while (!args.Done()) {
        const std::string_view arg = args.Next();
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
        if (arg != "--json") {
            throw UsageError("unexpected argument " + Printable(arg));
        }
        args.Flag(arg);
        json = true;
    }
    bool first = true;
    for (const ZAVFormatInfo &f : Formats()) {
        if (json) {
            std::printf(
                "%s\n  {\"name\": %s, \"reads\": %s, \"writes\": %s, \"extensions\": %s, "
                "\"gray\": %s}",
                first ? "[" : ",", JsonString(f.name).c_str(), f.reads != 0 ? "true" : "false",
                f.writes != 0 ? "true" : "false", JsonString(f.extensions).c_str(),
                JsonString(f.grayExtensions).c_str());
        } else {
            std::printf("%-12s %-6s %-6s %-16s gray: %s\n", f.name, f.reads != 0 ? "reads" : "",
                        f.writes != 0 ? "writes" : "", f.extensions,
                        *f.grayExtensions != '\0' ? f.grayExtensions : "-");
        }
        first = false;
    }
    if (json) {
        std::printf("%s\n", first ? "[]" : "\n]");
    }
    return kExitOk;
}

}  // namespace zavtool
