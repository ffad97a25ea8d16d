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

    std::mutex m_mutex;
    std::FILE *m_out;
    bool m_terminal;
    std::size_t m_total;
    std::size_t m_done = 0;
    std::size_t m_failed = 0;
};

}  // namespace zavtool
