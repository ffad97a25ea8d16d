#include "tools/zavimage/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "tools/zavimage/display.h"
#include "zavimage/job.h"

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
                        const std::string *failure, bool skipped) {
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
        line = "[" + std::to_string(m_done) + "/" + std::to_string(m_total) + "] " + name +
               (skipped ? ": skipped, " + Printable(output) + " exists (--no-clobber)"
                        : " -> " + Printable(output));
    }
    if (m_bar) {
        std::fputs("\r\033[K", m_out);
    }
    if (!line.empty()) {
        std::fprintf(m_out, "%s\n", line.c_str());
    }
    if (m_bar) {
        m_current = input;  // the line escapes it
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
    std::string line(m_columns + 64, '\0');
    const std::size_t length = ZAVJobProgressLine(m_done, m_total, m_failed, m_current.c_str(),
                                                  m_columns, line.data(), line.size());
    line.resize(std::min(length, line.size() - 1));
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
