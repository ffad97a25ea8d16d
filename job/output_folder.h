// The folders outputs go to: the output folder as named, and below it one level at a time, each
// level opened relative to the one above and never through a symbolic link, so that a link placed
// under the output folder (before or during a run) cannot send an output anywhere else.
#pragma once

#include <optional>
#include <string>

namespace zav::job {

// An open folder, closed when it goes.
class OpenFolder {
  public:
    OpenFolder() = default;
    explicit OpenFolder(int fd) : m_fd(fd) {}
    OpenFolder(OpenFolder &&other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    OpenFolder &operator=(OpenFolder &&other) noexcept;
    OpenFolder(const OpenFolder &) = delete;
    OpenFolder &operator=(const OpenFolder &) = delete;
    ~OpenFolder();

    int Fd() const { return m_fd; }

  private:
    int m_fd = -1;
};

// Opens the folder `below` (a relative path of plain names, no "." or "..") under `outDir`: outDir
// as named (links in its own path are the caller's), then each level of `below` from the one above
// it, refused when it is a link or not a folder. With `make`, missing levels are made first (outDir
// with its parents). On failure, `failure` says which folder and why ("out/a: is a symbolic link").
std::optional<OpenFolder> OpenOutputFolder(const std::string &outDir, const std::string &below,
                                           bool make, std::string &failure);

// Whether `below` is a relative path of plain names: not absolute, no ".", ".." or empty levels.
bool IsPlainRelative(const std::string &below);

}  // namespace zav::job
