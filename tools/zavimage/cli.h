// Shared pieces of the zavimage command-line tool: argument parsing, loaded images, commands.
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

struct Point {
    int32_t x = 0;
    int32_t y = 0;
};

struct Size {
    int32_t width = 0;
    int32_t height = 0;
};

// Parsers; each throws UsageError naming the option on a malformed value.
int32_t ParseInt(std::string_view option, std::string_view text);
float ParseFloat(std::string_view option, std::string_view text);
Point ParsePoint(std::string_view option, std::string_view text);        // X,Y
ZAVImageRect ParseRect(std::string_view option, std::string_view text);  // X,Y,W,H
Size ParseSize(std::string_view option, std::string_view text);          // WxH
int32_t ParseTextColor(std::string_view option, std::string_view text);  // blue|green|red|0|1|2
int32_t ParseBoxColor(std::string_view option, std::string_view text);   // red|green|...|code

// Walks argv: options with values and positional arguments.
class ArgReader {
  public:
    ArgReader(int argc, char **argv, int first) : m_args(argv + first, argv + argc) {}
    bool Done() const { return m_pos >= m_args.size(); }
    // The next argument; when it is an option ("-x", "--xx", "--xx=value"), also splits off the
    // inline value.
    std::string_view Next();
    bool IsOption(std::string_view arg) const { return arg.size() > 1 && arg[0] == '-'; }
    // The value of the option just read: inline ("--size=24") or the next argument.
    std::string_view Value(std::string_view option);

  private:
    std::vector<std::string_view> m_args;
    std::size_t m_pos = 0;
    std::optional<std::string_view> m_inlineValue;
};

// The result of one file step: empty when it worked, else the reason ("file not found", ...).
struct FileError {
    std::string reason;
    std::string output;  // the output file the reason concerns; empty when it is the input

    // "IN: reason", or "OUT: reason" when it concerns the output.
    std::string Describe(const std::string &input) const {
        return (output.empty() ? input : output) + ": " + reason;
    }
};

// An image loaded or created by the library, released when it goes out of scope.
class Image {
  public:
    explicit Image(ZAVImageObject *obj) : m_obj(obj) {}
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;
    Image(Image &&other) noexcept;
    Image &operator=(Image &&other) noexcept;
    ~Image() { Reset(); }

    // Loads a file; on failure returns the reason and keeps the image empty.
    std::optional<FileError> Load(const std::string &path);
    // Saves to a file; on failure returns the reason (no file is left behind).
    std::optional<FileError> Save(const std::string &path) const;
    // A new 8-bit image of the given size and channels; false when it could not be allocated.
    bool Create(int32_t width, int32_t height, int32_t channels);

    bool Empty() const { return m_record.data == nullptr; }
    ZAVImageStruct &Record() { return m_record; }
    const ZAVImageStruct &Record() const { return m_record; }
    ZAVImageObject *Object() const { return m_obj; }
    void Reset();

  private:
    ZAVImageObject *m_obj;
    ZAVImageStruct m_record{};
};

// The reason text of the object's last load or save.
std::string LastFileError(ZAVImageObject *obj);

// A component object owned by a scope.
class Object {
  public:
    Object() : m_obj(ZAVCreateObject()) {
        if (m_obj == nullptr) {
            throw std::bad_alloc();
        }
    }
    ~Object() { ZAVDestroyObject(m_obj); }
    Object(const Object &) = delete;
    Object &operator=(const Object &) = delete;
    ZAVImageObject *get() const { return m_obj; }

  private:
    ZAVImageObject *m_obj;
};

// One line on standard error: "zavimage: <message>".
void PrintError(std::string_view message);

// Subcommands: each takes argv from its own name on and returns an exit status. Help texts are
// printed by --help.
int RunAnnotate(int argc, char **argv);
int RunConvert(int argc, char **argv);
int RunInfo(int argc, char **argv);
int RunResize(int argc, char **argv);
int RunFlip(int argc, char **argv);
int RunCopy(int argc, char **argv);
int RunText(int argc, char **argv);
int RunBox(int argc, char **argv);
int RunDemo(int argc, char **argv);

}  // namespace zavtool
