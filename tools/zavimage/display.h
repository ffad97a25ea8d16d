// Names and text as the terminal and other programs see them: names escaped as the library
// escapes them, JSON strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zavtool {

// The name with every byte that could move the cursor or forge a line escaped: \n, \t, \r, \\,
// other C0 and C1 controls and DEL as \xNN, bytes that are not UTF-8 as \xNN. Printable UTF-8
// stays as it is.
std::string Printable(std::string_view name);

// A JSON string literal; bytes that are not UTF-8 become U+FFFD.
std::string JsonString(std::string_view text);

}  // namespace zavtool
