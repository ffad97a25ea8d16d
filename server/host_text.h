// Narrow text of a Windows program, as the core reads it.
#pragma once

#include <windows.h>

namespace zavsrv {

// The host's zero-terminated text, converted from the ANSI code page (through UTF-16) to UTF-8.
class Utf8Text {
  public:
    Utf8Text() = default;
    Utf8Text(const Utf8Text &) = delete;
    Utf8Text &operator=(const Utf8Text &) = delete;
    ~Utf8Text();

    // False when the text cannot be converted (out of memory). A null text converts to null.
    bool FromAnsi(const unsigned char *text);

    const char *Get() const { return utf8_; }

  private:
    char *utf8_ = nullptr;  // on the process heap
};

}  // namespace zavsrv
