#include "imaging/files/file_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "imaging/files/file_status.h"
#include "zavimage/zavimage.h"

namespace zav {

namespace {

// Longest part of the target's own name that goes into its staging name.
constexpr std::size_t kMaxStagingStemBytes = 200;
// Times a staging name taken by another save of the same name is cleared and tried again.
constexpr int kStagingAttempts = 32;

// FNV-1a of the whole name: long names that share their first bytes still get their own staging
// name.
uint64_t NameHash(const std::string &name) {
    uint64_t h = 14695981039346656037ull;
    for (const char c : name) {
        h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    }
    return h;
}

// The name under /proc through which an open file can be linked into a folder.
using ProcPath = std::array<char, 32>;
ProcPath ProcFdPath(int fd) {
    ProcPath path{};
    std::snprintf(path.data(), path.size(), "/proc/self/fd/%d", fd);
    return path;
}

bool WriteAll(int fd, const uint8_t *bytes, std::size_t size, int *error) {
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            *error = errno;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::string ReplacingFileSink::StagingName(const std::string &name) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".zav%016llx.tmp",
                  static_cast<unsigned long long>(NameHash(name)));
    return "." + name.substr(0, std::min(name.size(), kMaxStagingStemBytes)) + suffix;
}

ReplacingFileSink::~ReplacingFileSink() {
    Discard();
}

void ReplacingFileSink::Discard() {
    if (m_fd >= 0) {
        close(m_fd);  // an unnamed file vanishes with its last descriptor
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        unlinkat(m_folderFd, m_temp.c_str(), 0);
        m_temp.clear();
    }
    if (m_folderFd >= 0) {
        close(m_folderFd);
        m_folderFd = -1;
    }
}

void ReplacingFileSink::RemoveStaging(int folder, const std::string &name) {
    const std::string staging = StagingName(name);
    struct stat st;
    if (fstatat(folder, staging.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        unlinkat(folder, staging.c_str(), 0);
    }
}

int32_t ReplacingFileSink::Open(const char *path, Staging staging, Existing existing, int base) {
    Discard();
    m_failure = ZAV_FILE_OK;
    m_used = 0;
    m_exists = false;
    m_keep = existing == Existing::kKeep;
    const int32_t status = Start(path, staging, base);
    if (status != ZAV_FILE_OK) {
        Discard();
    }
    return status;
}

int32_t ReplacingFileSink::Start(const char *path, Staging staging, int base) {
    if (path == nullptr) {
        return ZAV_FILE_NO_NAME;
    }
    m_target = path;
    const std::size_t slash = m_target.rfind('/');
    m_name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (m_name.empty() || m_name == "." || m_name == "..") {
        return ZAV_FILE_WRITE_FAILED;  // a folder name
    }
    m_staging = StagingName(m_name);
    const std::string folder = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
    m_folderFd = openat(base, folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd < 0) {
        return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
    }

    // The name itself, never what a link there points at.
    struct stat existing;
    if (fstatat(m_folderFd, m_name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISLNK(existing.st_mode)) {
            return ZAV_FILE_IS_LINK;
        }
        if (m_keep) {
            return ZAV_FILE_EXISTS;
        }
        if (!S_ISREG(existing.st_mode)) {
            return ZAV_FILE_WRITE_FAILED;
        }
        if (faccessat(m_folderFd, m_name.c_str(), W_OK, AT_EACCESS) != 0) {
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
        m_exists = true;
        m_mode = existing.st_mode & 07777;
        m_uid = existing.st_uid;
        m_gid = existing.st_gid;
    } else if (errno != ENOENT) {
        return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);  // a name too long, ...
    }

    if (!m_buffer) {
        m_buffer.reset(new (std::nothrow) uint8_t[kBufferBytes]);
        if (!m_buffer) {
            return ZAV_FILE_NO_MEMORY;
        }
    }
    if (staging == Staging::kUnnamedFile) {
        bool unsupported = false;
        const int32_t status = OpenUnnamed(&unsupported);
        if (!unsupported) {
            return status;
        }
    }
    return OpenNamed();
}

void ReplacingFileSink::KeepOwnership(int fd) const {
    if (!m_exists) {
        return;  // 0666 less the umask, from the open
    }
    fchmod(fd, m_mode);
    // Only a privileged caller can give the file its owner back; otherwise it becomes the
    // caller's, as with any editor that saves by renaming, and loses its set-id bits.
    if (fchown(fd, m_uid, m_gid) != 0) {
        fchmod(fd, m_mode & 0777);
    }
}

int32_t ReplacingFileSink::OpenUnnamed(bool *unsupported) {
    const int fd =
        openat(m_folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, m_exists ? 0600 : 0666);
    if (fd < 0) {
        // A file system without unnamed files, or a kernel that predates them.
        *unsupported = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL;
        return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
    }
    // The finished file is linked through /proc; without it, the named file instead.
    struct stat st;
    if (stat(ProcFdPath(fd).data(), &st) != 0) {
        close(fd);
        *unsupported = true;
        return ZAV_FILE_WRITE_FAILED;
    }
    m_fd = fd;
    KeepOwnership(fd);
    return ZAV_FILE_OK;
}

int32_t ReplacingFileSink::OpenNamed() {
    // The staging name may be left by a save that was killed: it is cleared and taken.
    for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
        const int fd = openat(m_folderFd, m_staging.c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW,
                              m_exists ? 0600 : 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temp = m_staging;
            KeepOwnership(fd);
            return ZAV_FILE_OK;
        }
        if (errno != EEXIST) {
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
        if (unlinkat(m_folderFd, m_staging.c_str(), 0) != 0 && errno != ENOENT) {
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
    }
    return ZAV_FILE_WRITE_FAILED;
}

bool ReplacingFileSink::Flush() {
    if (m_failure != ZAV_FILE_OK || m_fd < 0) {
        if (m_failure == ZAV_FILE_OK) {
            m_failure = ZAV_FILE_WRITE_FAILED;
        }
        return false;
    }
    int error = 0;
    if (!WriteAll(m_fd, m_buffer.get(), m_used, &error)) {
        m_failure = FileStatusFromErrno(error, ZAV_FILE_WRITE_FAILED);
        return false;
    }
    m_used = 0;
    return true;
}

bool ReplacingFileSink::Write(const void *bytes, std::size_t size) {
    if (m_failure != ZAV_FILE_OK || m_fd < 0) {
        return false;
    }
    const auto *p = static_cast<const uint8_t *>(bytes);
    while (size > 0) {
        if (m_used == 0 && size >= kBufferBytes) {
            int error = 0;
            if (!WriteAll(m_fd, p, size, &error)) {
                m_failure = FileStatusFromErrno(error, ZAV_FILE_WRITE_FAILED);
                return false;
            }
            return true;
        }
        const std::size_t n = std::min(size, kBufferBytes - m_used);
        std::memcpy(m_buffer.get() + m_used, p, n);
        m_used += n;
        p += n;
        size -= n;
        if (m_used == kBufferBytes && !Flush()) {
            return false;
        }
    }
    return true;
}

int32_t ReplacingFileSink::Commit() {
    int32_t status = m_failure != ZAV_FILE_OK ? m_failure : ZAV_FILE_WRITE_FAILED;
    if (m_fd >= 0) {
        if (!Flush()) {
            status = m_failure;
        } else {
            status = m_temp.empty() ? LinkUnnamed() : RenameNamed();
        }
    }
    Discard();  // whatever is left: descriptors, and a temporary name after a failure
    return status;
}

int32_t ReplacingFileSink::RenameNamed() {
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) {
        return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
    }
    if (m_keep) {
        // Put in place only under a free name: renameat2 where the file system has it, else a
        // link (which never replaces) and the staging name removed.
        if (renameat2(m_folderFd, m_temp.c_str(), m_folderFd, m_name.c_str(), RENAME_NOREPLACE) ==
            0) {
            m_temp.clear();
            return ZAV_FILE_OK;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
            return errno == EEXIST ? ZAV_FILE_EXISTS
                                   : FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
        if (linkat(m_folderFd, m_temp.c_str(), m_folderFd, m_name.c_str(), 0) != 0) {
            return errno == EEXIST ? ZAV_FILE_EXISTS
                                   : FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
        return ZAV_FILE_OK;  // Discard removes the staging name
    }
    if (renameat(m_folderFd, m_temp.c_str(), m_folderFd, m_name.c_str()) != 0) {
        return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
    }
    m_temp.clear();
    return ZAV_FILE_OK;
}

int32_t ReplacingFileSink::LinkUnnamed() {
    const ProcPath proc = ProcFdPath(m_fd);
    if (!m_exists || m_keep) {
        // A staging name left by a killed save goes first. A new file takes its name in one step;
        // linking never replaces what another process may have made meanwhile. Kept, that is the
        // end; else it is replaced as any existing file.
        unlinkat(m_folderFd, m_staging.c_str(), 0);
        if (linkat(AT_FDCWD, proc.data(), m_folderFd, m_name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return ZAV_FILE_OK;
        }
        if (errno != EEXIST) {
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
        if (m_keep) {
            return ZAV_FILE_EXISTS;
        }
    }
    return ReplaceWithUnnamed();
}

int32_t ReplacingFileSink::ReplaceWithUnnamed() {
    const ProcPath proc = ProcFdPath(m_fd);
    for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
        if (linkat(AT_FDCWD, proc.data(), m_folderFd, m_staging.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno != EEXIST) {
                return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
            }
            // Left by a save of this name that was killed between its two steps, or another
            // save's, between them right now: cleared either way (that save then links again).
            if (unlinkat(m_folderFd, m_staging.c_str(), 0) != 0 && errno != ENOENT) {
                return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
            }
            continue;
        }
        // Only between these two calls does the finished file carry its staging name.
        if (renameat(m_folderFd, m_staging.c_str(), m_folderFd, m_name.c_str()) == 0) {
            return ZAV_FILE_OK;
        }
        if (errno != ENOENT) {
            const int error = errno;
            unlinkat(m_folderFd, m_staging.c_str(), 0);
            return FileStatusFromErrno(error, ZAV_FILE_WRITE_FAILED);
        }
        // Another save of this name cleared the staging name in between: link again.
    }
    return ZAV_FILE_WRITE_FAILED;
}

}  // namespace zav
