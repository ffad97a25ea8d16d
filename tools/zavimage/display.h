// Names and text as the terminal and other programs see them: control characters escaped, the
// width in columns, cuts on character boundaries, JSON strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zavtool {

// The name with every byte that could move the cursor or forge a line escaped: \n, \t, \r, \\,
// other C0 and C1 controls and DEL as \xNN, bytes that are not UTF-8 as \xNN. Printable UTF-8
// stays as it is.
std::string Printable(std::string_view name);

// Columns that printable UTF-8 text takes: two for East Asian wide characters, one otherwise.
std::size_t DisplayWidth(std::string_view text);

// The text cut to at most `columns` columns, keeping its end and marking the cut with "...";
// cuts fall between characters.
std::string FitColumns(std::string_view text, std::size_t columns);

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace zavtool
