// Turns a file name given by a Windows program into the Unix path the core opens.
#pragma once

#include <windows.h>

namespace zavsrv {

class HostPath {
  public:
    HostPath() = default;
    HostPath(const HostPath &) = delete;
    HostPath &operator=(const HostPath &) = delete;
    ~HostPath();

    // Converts name (read up to its first NUL) to the ANSI code page, checks it by the file-name
    // rules and maps the checked name to a Unix path. False when there is no name, the name is
    // empty, a character is missing from the code page, the rules refuse it or Wine cannot map it.
    bool FromBstr(const WCHAR *name);

    // The mapping alone, for a fixed Windows path that needs no checking. False when Wine cannot
    // map it.
    bool FromWindowsPath(const WCHAR *path);

    const char *Unix() const { return unix_; }

  private:
    char *unix_ = nullptr;  // from wine_get_unix_file_name, on the process heap
};

// True when path names an existing file (not a folder).
bool WindowsFileExists(const WCHAR *path);

}  // namespace zavsrv
