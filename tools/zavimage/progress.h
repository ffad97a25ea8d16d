// Progress of a batch: a bar on a terminal, plain lines otherwise. Safe across threads.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace zavtool {

class Progress {
  public:
    // `out` is where progress goes (standard error); a bar is drawn when it is a terminal.
    Progress(std::size_t total, std::FILE *out);
    // One item finished: `ok` tells how; `detail` is the output name, or the failure as
    // "FILE: reason".
    void Finished(const std::string &name, bool ok, const std::string &detail);
    // Clears the bar, if one is shown.
    void End();

  private:
    void DrawBar(const std::string &name);

    std::mutex mutex_;
    std::FILE *out_;
    bool terminal_;
    std::size_t total_;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
};

}  // namespace zavtool
