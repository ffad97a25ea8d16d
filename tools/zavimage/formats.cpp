#include "tools/zavimage/formats.h"

#include <cstdio>

#include "tools/zavimage/args.h"
#include "tools/zavimage/display.h"

namespace zavtool {
namespace {

// The extensions the library's writers are chosen by. The portable pixmap keeps colour: its name
// promises three samples.
constexpr OutputFormat kOutputFormats[] = {
    {"bmp", "BMP", true},        {"dib", "BMP", true},   {"jpeg", "JPEG", true},
    {"jpg", "JPEG", true},       {"jpe", "JPEG", true},  {"sr", "Sun raster", true},
    {"ras", "Sun raster", true}, {"pbm", "PBM", true},   {"pgm", "PGM", true},
    {"ppm", "PPM", false},       {"tiff", "TIFF", true}, {"tif", "TIFF", true},
    {"png", "PNG", true},
};

// The start of each description the library gives, and the tool's name for it.
struct DescribedFormat {
    std::string_view prefix;
    std::string_view name;
};
constexpr DescribedFormat kDescribedFormats[] = {
    {"Windows bitmap", "BMP"}, {"JPEG", "JPEG"}, {"Sun raster", "Sun raster"},
    {"Portable image", ""},    {"TIFF", "TIFF"}, {"Portable Network Graphics", "PNG"},
};

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// P1/P4 bitmap, P2/P5 graymap, P3/P6 pixmap, from a file's first two bytes.
std::string PortableKind(std::string_view head) {
    if (head.size() >= 2 && head[0] == 'P') {
        switch (head[1]) {
            case '1':
            case '4':
                return "PBM";
            case '2':
            case '5':
                return "PGM";
            case '3':
            case '6':
                return "PPM";
            default:
                break;
        }
    }
    return "PNM";
}

std::string FirstTwoBytes(const std::string &path) {
    char head[2] = {0, 0};
    std::size_t got = 0;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        got = std::fread(head, 1, 2, f);
        std::fclose(f);
    }
    return std::string(head, got);
}

}  // namespace

std::string NameExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    std::string ext;
    if (dot == std::string_view::npos) {
        return ext;
    }
    for (std::size_t i = dot + 1; i < name.size() && IsAsciiAlnum(name[i]); ++i) {
        const char c = name[i];
        ext.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
    }
    return ext;
}

const OutputFormat *FindOutputFormat(std::string_view extension) {
    for (const OutputFormat &f : kOutputFormats) {
        if (f.extension == extension) {
            return &f;
        }
    }
    return nullptr;
}

std::string ParseOutputFormat(std::string_view option, std::string_view text) {
    std::string format(text);
    if (!format.empty() && format[0] == '.') {
        format.erase(0, 1);
    }
    const std::string ext = NameExtension("." + format);
    if (FindOutputFormat(ext) == nullptr || ext.size() != format.size()) {
        throw UsageError(std::string(option) + ": '" + Printable(format) +
                         "' is not a format written (" + KnownExtensions() + ")");
    }
    return ext;
}

std::string KnownExtensions() {
    std::string list;
    for (const OutputFormat &f : kOutputFormats) {
        if (!list.empty()) {
            list += ' ';
        }
        list += f.extension;
    }
    return list;
}

std::string FormatName(std::string_view description, const std::string &path) {
    for (const DescribedFormat &f : kDescribedFormats) {
        if (description.substr(0, f.prefix.size()) == f.prefix) {
            return f.name.empty() ? PortableKind(FirstTwoBytes(path)) : std::string(f.name);
        }
    }
    return std::string(description.substr(0, description.find(" (")));
}

std::string FormatNameOfBytes(std::string_view description, std::string_view bytes) {
    for (const DescribedFormat &f : kDescribedFormats) {
        if (description.substr(0, f.prefix.size()) == f.prefix) {
            return f.name.empty() ? PortableKind(bytes) : std::string(f.name);
        }
    }
    return std::string(description.substr(0, description.find(" (")));
}

}  // namespace zavtool
