// Names and text as messages show them: every byte that could move the cursor or forge a line
// escaped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zav::job {

// \n, \t, \r, \\, other C0 and C1 controls and DEL as \xNN, bytes that are not UTF-8 as \xNN.
// Printable UTF-8 stays as it is.
std::string Printable(std::string_view name);

// Whether the text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// Columns that printable UTF-8 text takes as glibc's C.UTF-8 table counts them: two for wide
// characters (CJK, emoji), none for combining marks and zero-width characters, one otherwise;
// one for each byte that is not UTF-8. Code points the table does not know, and all of them
// where that locale cannot be made: two in the East Asian wide ranges, one elsewhere.
std::size_t DisplayWidth(std::string_view text);

// The text cut to at most `columns` columns, keeping its end and marking the cut with "...";
// cuts fall between characters, and marks or joiners that would follow the dots go with the
// character they belonged to.
std::string FitColumns(std::string_view text, std::size_t columns);

// A progress bar's line: "[#####.....] 120/300, 2 failed  name", at most `columns` - 1 columns
// (so that the cursor never wraps), the bar at most 30 wide and left out on narrow terminals,
// the name (printable) cut from the front to what is left.
std::string ProgressLine(std::size_t done, std::size_t total, std::size_t failed,
                         std::string_view current, std::size_t columns);

// How an input or output name is shown: "standard input" / "standard output" for "-".
std::string ShownName(std::string_view name, bool output);

// "-" as an input is standard input, as an output standard output.
inline bool IsStandardStream(std::string_view name) {
    return name == "-";
}

}  // namespace zav::job
