// The command line: walking the arguments. The values that describe a job are the library's to
// check; a malformed command line is a usage error.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "zavimage/zavimage.h"

namespace zavtool {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // some file failed
inline constexpr int kExitUsage = 2;   // the command line was wrong

// A mistake on the command line; main prints it with a hint and exits with kExitUsage.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Walks argv: options (with their values) and positional arguments. "--" ends the options: every
// argument after it is positional, even one that begins with a dash. A lone "-" is positional.
class ArgReader {
  public:
    ArgReader(int argc, char **argv, int first) : m_args(argv + first, argv + argc) {}
    // Whether every argument was read (a "--" that ends the options is passed over here).
    bool Done();
    // The next argument. For an option ("-x", "--xx", "--xx=value") the inline value is split off
    // and kept for Value().
    std::string_view Next();
    // Whether the argument Next() gave is an option.
    bool IsOption() const { return m_isOption; }
    // The value of the option just read: inline ("--size=24") or the next argument.
    std::string_view Value(std::string_view option);
    // The argument Next() would give, without taking it; none at the end.
    std::optional<std::string_view> Peek() const;
    // For an option without a value: refuses "--flip=yes".
    void Flag(std::string_view option);

  private:
    std::vector<std::string_view> m_args;
    std::size_t m_pos = 0;
    bool m_isOption = false;
    bool m_optionsEnded = false;
    std::optional<std::string_view> m_inlineValue;
};

// "unknown option X", with X printable.
UsageError UnknownOption(std::string_view option);

// A whole number from low to high (the tool's own options, such as --jobs); throws UsageError
// naming the option.
int32_t ParseIntIn(std::string_view option, std::string_view text, int32_t low, int32_t high);

}  // namespace zavtool
