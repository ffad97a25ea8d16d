#include "tools/zavimage/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "tools/zavimage/display.h"

namespace zavtool {

Progress::Progress(std::size_t total, Verbosity verbosity, std::FILE *out)
    : m_out(out),
      m_verbosity(verbosity),
      m_bar(verbosity != Verbosity::kQuiet && isatty(fileno(out)) != 0),
      m_columns(Columns()),
      m_total(total) {}

std::size_t Progress::Columns() const {
    struct winsize ws {};
    if (ioctl(fileno(m_out), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) {
        return ws.ws_col;
    }
    if (const char *env = std::getenv("COLUMNS")) {
        const long n = std::strtol(env, nullptr, 10);
        if (n > 0 && n < 10000) {
            return static_cast<std::size_t>(n);
        }
    }
    return 80;
}

void Progress::Finished(const std::string &input, const std::string &output,
                        const std::string *failure) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    ++m_done;
    const std::string name = Printable(input);
    if (failure != nullptr) {
        ++m_failed;
    }
    std::string line;
    if (failure != nullptr) {
        line = "zavimage: " + *failure;  // failures are always shown
    } else if (m_verbosity == Verbosity::kVerbose) {
        line = "[" + std::to_string(m_done) + "/" + std::to_string(m_total) + "] " + name + " -> " +
               Printable(output);
    }
    if (m_bar) {
        std::fputs("\r\033[K", m_out);
    }
    if (!line.empty()) {
        std::fprintf(m_out, "%s\n", line.c_str());
    }
    if (m_bar) {
        m_current = name;
        DrawBar();
    }
    std::fflush(m_out);
}

void Progress::Note(const std::string &line) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bar) {
        std::fputs("\r\033[K", m_out);
    }
    std::fprintf(m_out, "%s\n", line.c_str());
    if (m_bar) {
        DrawBar();
    }
    std::fflush(m_out);
}

void Progress::Resized() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_columns = Columns();
    if (m_bar) {
        std::fputs("\r\033[K", m_out);
        DrawBar();
        std::fflush(m_out);
    }
}

void Progress::DrawBar() {
    // "[#####.....] 120/300, 2 failed  name", one column short of the width so that the cursor
    // never wraps to a new line.
    const std::size_t width = m_columns > 1 ? m_columns - 1 : 1;
    std::string counts = " " + std::to_string(m_done) + "/" + std::to_string(m_total);
    if (m_failed != 0) {
        counts += ", " + std::to_string(m_failed) + " failed";
    }
    std::size_t barWidth = width >= counts.size() + 12 ? (width - counts.size()) / 3 : 0;
    if (barWidth > 30) {
        barWidth = 30;
    }
    std::string line;
    if (barWidth >= 3) {
        const std::size_t inner = barWidth - 2;
        const std::size_t filled = m_total == 0 ? inner : m_done * inner / m_total;
        line = "[" + std::string(filled, '#') + std::string(inner - filled, '.') + "]";
    }
    line += counts;
    if (line.size() > width) {
        line = FitColumns(line, width);
    } else if (line.size() + 2 < width && !m_current.empty()) {
        line += "  " + FitColumns(m_current, width - line.size() - 2);
    }
    std::fputs(line.c_str(), m_out);
}

void Progress::End() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bar) {
        std::fputs("\r\033[K", m_out);
        std::fflush(m_out);
    }
}

}  // namespace zavtool
