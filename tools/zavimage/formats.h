// The picture formats as the tool names them: which extensions the library writes, which of them
// keep a gray picture gray, and one short name per format for what a file holds.
#pragma once

#include <string>
#include <string_view>

namespace zavtool {

struct OutputFormat {
    std::string_view extension;  // lower case, without the dot
    std::string_view name;       // BMP, JPEG, ...
    bool keepsGray;              // the writer saves a 1-channel picture as gray
};

// The extension as the library reads it: the run of ASCII letters and digits after the name's
// last dot (anywhere in the name), in lower case; empty when there is none.
std::string NameExtension(std::string_view name);

// The format written for an extension, or null when the library writes none.
const OutputFormat *FindOutputFormat(std::string_view extension);

// The value of --format: an extension written, with or without its dot, in lower case. Throws
// UsageError naming the option.
std::string ParseOutputFormat(std::string_view option, std::string_view text);

// Every extension written, for messages: "bmp dib jpg ...".
std::string KnownExtensions();

// The short name of a file's format (BMP, JPEG, Sun raster, PBM, PGM, PPM, TIFF, PNG) from the
// library's description of it; the portable family is told apart by the file's first two bytes.
std::string FormatName(std::string_view description, const std::string &path);
// The same for a picture held in memory.
std::string FormatNameOfBytes(std::string_view description, std::string_view bytes);

}  // namespace zavtool
