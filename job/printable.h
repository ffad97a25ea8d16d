// Names and text as messages show them: every byte that could move the cursor or forge a line
// escaped.
#pragma once

#include <string>
#include <string_view>

namespace zav::job {

// \n, \t, \r, \\, other C0 and C1 controls and DEL as \xNN, bytes that are not UTF-8 as \xNN.
// Printable UTF-8 stays as it is.
std::string Printable(std::string_view name);

// Whether the text is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// How an input or output name is shown: "standard input" / "standard output" for "-".
std::string ShownName(std::string_view name, bool output);

// "-" as an input is standard input, as an output standard output.
inline bool IsStandardStream(std::string_view name) {
    return name == "-";
}

}  // namespace zav::job
