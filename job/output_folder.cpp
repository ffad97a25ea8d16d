#include "job/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

#include "job/printable.h"

namespace zav::job {
namespace {

namespace fs = std::filesystem;

// Why a level could not be opened, from the level itself (never followed).
std::string LevelProblem(int parent, const std::string &level, int error) {
    struct stat st {};
    if (fstatat(parent, level.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(st.st_mode)) {
            return "is a symbolic link (outputs are never written through one)";
        }
        if (!S_ISDIR(st.st_mode)) {
            return "is not a folder";
        }
    }
    return std::strerror(error);
}

}  // namespace

OpenFolder &OpenFolder::operator=(OpenFolder &&other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

OpenFolder::~OpenFolder() {
    if (m_fd >= 0) {
        close(m_fd);
    }
}

bool IsPlainRelative(const std::string &below) {
    if (below.empty()) {
        return true;
    }
    if (below.front() == '/') {
        return false;
    }
    std::size_t start = 0;
    while (start <= below.size()) {
        std::size_t end = below.find('/', start);
        if (end == std::string::npos) {
            end = below.size();
        }
        const std::string_view level(below.data() + start, end - start);
        if (level.empty() || level == "." || level == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::optional<OpenFolder> OpenOutputFolder(const std::string &outDir, const std::string &below,
                                           bool make, std::string &failure) {
    if (!IsPlainRelative(below)) {
        failure = Printable(below) + ": not a folder below the output folder";
        return std::nullopt;
    }
    if (make) {
        std::error_code ec;
        fs::create_directories(outDir, ec);  // an existing folder is no error
    }
    OpenFolder folder(open(outDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.Fd() < 0) {
        failure = Printable(outDir) + ": " + std::strerror(errno);
        return std::nullopt;
    }
    fs::path shown(outDir);
    // `below` holds plain names alone (checked above): its levels are its path's elements.
    for (const fs::path &element : fs::path(below)) {
        const std::string level = element.string();
        shown /= level;
        if (make && mkdirat(folder.Fd(), level.c_str(), 0777) != 0 && errno != EEXIST) {
            failure =
                Printable(shown.string()) + ": cannot make the folder: " + std::strerror(errno);
            return std::nullopt;
        }
        OpenFolder next(
            openat(folder.Fd(), level.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (next.Fd() < 0 || fstat(next.Fd(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            const int error = next.Fd() < 0 ? errno : ENOTDIR;
            failure = Printable(shown.string()) + ": " + LevelProblem(folder.Fd(), level, error);
            return std::nullopt;
        }
        folder = std::move(next);
    }
    return folder;
}

}  // namespace zav::job
