#include "tools/zavimage/progress.h"

#include <unistd.h>

namespace zavtool {

Progress::Progress(std::size_t total, std::FILE *out)
    : m_out(out), m_terminal(isatty(fileno(out)) != 0), m_total(total) {}

void Progress::Finished(const std::string &name, bool ok, const std::string &detail) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    ++m_done;
    if (!ok) {
        ++m_failed;
    }
    if (m_terminal) {
        if (!ok) {
            // Failures stay on screen above the bar.
            std::fprintf(m_out, "\r\033[Kzavimage: %s\n", detail.c_str());
        }
        DrawBar(name);
    } else {
        if (ok) {
            std::fprintf(m_out, "[%zu/%zu] ok %s -> %s\n", m_done, m_total, name.c_str(),
                         detail.c_str());
        } else {
            std::fprintf(m_out, "[%zu/%zu] FAILED %s\n", m_done, m_total, detail.c_str());
        }
    }
    std::fflush(m_out);
}

void Progress::DrawBar(const std::string &name) {
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = m_total == 0 ? kWidth : m_done * kWidth / m_total;
    std::string bar(filled, '#');
    bar.resize(kWidth, '.');
    std::string shown = name;
    if (shown.size() > 40) {
        shown = "..." + shown.substr(shown.size() - 37);
    }
    std::fprintf(m_out, "\r\033[K[%s] %zu/%zu", bar.c_str(), m_done, m_total);
    if (m_failed != 0) {
        std::fprintf(m_out, ", %zu failed", m_failed);
    }
    std::fprintf(m_out, "  %s", shown.c_str());
}

void Progress::End() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_terminal) {
        std::fprintf(m_out, "\r\033[K");
        std::fflush(m_out);
    }
}

}  // namespace zavtool
