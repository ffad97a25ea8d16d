// The format table as the tool shows it: the library's table, read through the C interface.
#pragma once

#include <string>
#include <string_view>

namespace zavtool {

// Every extension written, for messages and help: "bmp dib jpeg ...", separated by `separator`
// and each preceded by `prefix` (".bmp .dib ...").
std::string WrittenExtensions(std::string_view separator = " ", std::string_view prefix = "");

// The formats read, for help: "BMP, JPEG, Sun raster, PBM/PGM/PPM, TIFF and PNG".
std::string ReadFormatNames();

// The short name of what a file starting with these bytes holds (BMP, JPEG, Sun raster, PBM, PGM,
// PPM, TIFF, PNG); `description` (the probe's) when the bytes do not tell.
std::string FormatName(std::string_view description, std::string_view head);
// The same for a file: its first bytes read.
std::string FormatNameOfFile(std::string_view description, const std::string &path);

// zavimage formats: the table, one format a line (--json: a JSON list).
int RunFormats(int argc, char **argv);

}  // namespace zavtool
