// Standard input and output as picture files: the name "-", reading all of standard input, and
// writing encoded bytes to standard output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zavtool {

// "-" as an input is standard input, as an output standard output.
inline bool IsStandardStream(std::string_view name) {
    return name == "-";
}

// How a name is shown in messages: "standard input" or "standard output" for "-", else the name
// with control characters escaped.
std::string ShownName(const std::string &name, bool output);

// Reads standard input to its end; the reason when it cannot be read or is empty.
std::optional<std::string> ReadStandardInput(std::vector<uint8_t> &bytes);

// Reads a job document from the file `name` ("-": standard input), at most the library's
// ZAV_JOB_MAX_BYTES; the reason when it cannot be read or is larger.
std::optional<std::string> ReadJobDocument(const std::string &name, std::string &text);

// Writes the bytes to standard output and flushes it; the reason when it fails.
std::optional<std::string> WriteStandardOutput(const uint8_t *bytes, std::size_t size);

// Whether standard output is a terminal (pictures are not written there).
bool StandardOutputIsTerminal();

}  // namespace zavtool
