#include "job/file_reasons.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

namespace zav::job {

std::optional<std::string> PathProblem(const std::string &path) {
    const char *problem = PathProblemText(path.c_str());
    return problem == nullptr ? std::nullopt : std::optional<std::string>(problem);
}

const char *PathProblemText(const char *path) {
    struct stat st {};
    if (stat(path, &st) != 0) {
        if (errno == ENOTDIR) {
            return "folder not found";
        }
        if (errno != ENOENT) {
            return nullptr;
        }
        const std::string_view name(path);
        if (!name.empty() && name.back() == '/') {
            return "folder not found";
        }
        const std::filesystem::path parent = std::filesystem::path(path).parent_path();
        std::error_code ec;
        if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
            return "folder not found";
        }
        // A name without a dot may have meant a folder.
        return std::filesystem::path(path).filename().string().find('.') == std::string::npos
                   ? "no such file or folder"
                   : "file not found";
    }
    if (S_ISDIR(st.st_mode)) {
        return "is a folder";
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) {
        return "empty file";
    }
    return nullptr;
}

int32_t PathProblemStatus(std::string_view problem) {
    if (problem.ends_with("not found") || problem == "no such file or folder") {
        return ZAV_FILE_NOT_FOUND;
    }
    if (problem == "is a folder") {
        return ZAV_FILE_READ_FAILED;
    }
    if (problem == "empty file") {
        return ZAV_FILE_TRUNCATED;
    }
    return -1;
}

const char *ReadFailure(ZAVImageObject *obj, const char *path) {
    const int32_t status = ZAVGetFileStatus(obj);
    if (status == ZAV_FILE_NOT_FOUND || status == ZAV_FILE_READ_FAILED ||
        status == ZAV_FILE_UNKNOWN_FORMAT || status == ZAV_FILE_TRUNCATED) {
        if (const char *problem = PathProblemText(path)) {
            return problem;
        }
    }
    return ZAVFileStatusText(status);
}

const char *WriteFailure(ZAVImageObject *obj, const char *path) {
    const int32_t status = ZAVGetFileStatus(obj);
    std::error_code ec;
    if (status == ZAV_FILE_NOT_FOUND) {
        return "folder not found";
    }
    if (std::filesystem::is_directory(path, ec)) {
        return "is a folder";
    }
    return ZAVFileStatusText(status);
}

}  // namespace zav::job
