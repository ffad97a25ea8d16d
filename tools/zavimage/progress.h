// Progress of a batch. On a terminal: a bar that fits the terminal's width (read again when it
// changes size), redrawn in place, with the current name cut on character boundaries; failures
// stay on screen above it. Elsewhere: failures only, and one line per file with --verbose. Safe
// across threads.
#pragma once

#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace zavtool {

enum class Verbosity { kQuiet, kNormal, kVerbose };

class Progress {
  public:
    // `out` is where progress goes (standard error); a bar is drawn when it is a terminal and the
    // verbosity is not quiet.
    Progress(std::size_t total, Verbosity verbosity, std::FILE *out);
    // One file finished: written to `output`, failed for `failure` (then "NAME: reason"), or
    // skipped because `output` appeared meanwhile (--no-clobber).
    void Finished(const std::string &input, const std::string &output, const std::string *failure,
                  bool skipped = false);
    // A line above the bar (or alone when there is none).
    void Note(const std::string &line);
    // The terminal changed size: measure again and redraw.
    void Resized();
    // Clears the bar, if one is shown.
    void End();

  private:
    void DrawBar();
    std::size_t Columns() const;

    std::mutex m_mutex;
    std::FILE *m_out;
    Verbosity m_verbosity;
    bool m_bar;
    std::size_t m_columns;
    std::size_t m_total;
    std::size_t m_done = 0;
    std::size_t m_failed = 0;
    std::string m_current;  // printable name of the last file finished
};

}  // namespace zavtool
