#include "tools/zavimage/progress.h"

#include <unistd.h>

namespace zavtool {

Progress::Progress(std::size_t total, std::FILE *out)
    : out_(out), terminal_(isatty(fileno(out)) != 0), total_(total) {}

void Progress::Finished(const std::string &name, bool ok, const std::string &detail) {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (!ok) {
        ++failed_;
    }
    if (terminal_) {
        if (!ok) {
            // Failures stay on screen above the bar.
            std::fprintf(out_, "\r\033[Kzavimage: %s\n", detail.c_str());
        }
        DrawBar(name);
    } else {
        if (ok) {
            std::fprintf(out_, "[%zu/%zu] ok %s -> %s\n", done_, total_, name.c_str(),
                         detail.c_str());
        } else {
            std::fprintf(out_, "[%zu/%zu] FAILED %s\n", done_, total_, detail.c_str());
        }
    }
    std::fflush(out_);
}

void Progress::DrawBar(const std::string &name) {
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total_ == 0 ? kWidth : done_ * kWidth / total_;
    std::string bar(filled, '#');
    bar.resize(kWidth, '.');
    std::string shown = name;
    if (shown.size() > 40) {
        shown = "..." + shown.substr(shown.size() - 37);
    }
    std::fprintf(out_, "\r\033[K[%s] %zu/%zu", bar.c_str(), done_, total_);
    if (failed_ != 0) {
        std::fprintf(out_, ", %zu failed", failed_);
    }
    std::fprintf(out_, "  %s", shown.c_str());
}

void Progress::End() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (terminal_) {
        std::fprintf(out_, "\r\033[K");
        std::fflush(out_);
    }
}

}  // namespace zavtool
