#include "imaging/files/file_sink.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
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

// How many links are followed before the name is given up as a loop (as the kernel does).
constexpr int kMaxLinkHops = 40;
// Longest part of the target's own name that goes into a temporary name.
constexpr std::size_t kMaxTempStemBytes = 200;
// Random temporary names tried before giving up.
constexpr uint64_t kNameAttempts = 32;

// The folder part of a path, with its trailing slash ("" for a bare name).
std::string FolderOf(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links from `path` to the file a plain open would reach (which need not exist).
int32_t FollowLinks(const std::string &path, std::string *resolved) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        struct stat st;
        if (lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                *resolved = std::move(current);  // a new file; a missing folder shows up later
                return ZAV_FILE_OK;
            }
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
        if (!S_ISLNK(st.st_mode)) {
            *resolved = std::move(current);
            return ZAV_FILE_OK;
        }
        std::string target(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096, '\0');
        for (;;) {
            const ssize_t n = readlink(current.c_str(), target.data(), target.size());
            if (n < 0) {
                return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
            }
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            target.resize(target.size() * 2);  // the link changed meanwhile
        }
        current = (!target.empty() && target[0] == '/') ? target : FolderOf(current) + target;
    }
    return ZAV_FILE_WRITE_FAILED;
}

uint64_t RandomBits(const void *salt) {
    uint64_t bits = 0;
    if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) {
        return bits;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull) ^
           static_cast<uint64_t>(now.tv_sec) ^ (static_cast<uint64_t>(getpid()) << 32) ^
           reinterpret_cast<uintptr_t>(salt);
}

// A hidden name beside the target: "." + the target's name (shortened) + "." + 16 hex digits +
// ".tmp".
std::string TempName(const std::string &name, uint64_t bits) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(bits));
    return "." + name.substr(0, std::min(name.size(), kMaxTempStemBytes)) + suffix;
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

int32_t ReplacingFileSink::Open(const char *path, Staging staging) {
    Discard();
    m_failure = ZAV_FILE_OK;
    m_used = 0;
    m_exists = false;
    const int32_t status = Start(path, staging);
    if (status != ZAV_FILE_OK) {
        Discard();
    }
    return status;
}

int32_t ReplacingFileSink::Start(const char *path, Staging staging) {
    int32_t status = FollowLinks(path, &m_target);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const std::size_t slash = m_target.rfind('/');
    m_name = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (m_name.empty()) {
        return ZAV_FILE_WRITE_FAILED;  // a folder name
    }
    const std::string folder = slash == std::string::npos ? "." : m_target.substr(0, slash + 1);
    m_folderFd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd < 0) {
        return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
    }

    struct stat existing;
    if (fstatat(m_folderFd, m_name.c_str(), &existing, 0) == 0) {
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
        status = OpenUnnamed(&unsupported);
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
    for (uint64_t attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = TempName(m_name, RandomBits(this) + attempt);
        const int fd =
            openat(m_folderFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                   m_exists ? 0600 : 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temp = std::move(name);
            KeepOwnership(fd);
            return ZAV_FILE_OK;
        }
        if (errno != EEXIST) {
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
    if (renameat(m_folderFd, m_temp.c_str(), m_folderFd, m_name.c_str()) != 0) {
        return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
    }
    m_temp.clear();
    return ZAV_FILE_OK;
}

int32_t ReplacingFileSink::LinkUnnamed() {
    const ProcPath proc = ProcFdPath(m_fd);
    if (!m_exists) {
        // A new file takes its name in one step; linking never replaces what another process
        // may have made meanwhile, which is then replaced as any existing file.
        if (linkat(AT_FDCWD, proc.data(), m_folderFd, m_name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            return ZAV_FILE_OK;
        }
        if (errno != EEXIST) {
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
    }
    for (uint64_t attempt = 0; attempt < kNameAttempts; ++attempt) {
        const std::string temp = TempName(m_name, RandomBits(this) + attempt);
        if (linkat(AT_FDCWD, proc.data(), m_folderFd, temp.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            // Only between these two calls does the finished file carry a temporary name.
            if (renameat(m_folderFd, temp.c_str(), m_folderFd, m_name.c_str()) != 0) {
                const int error = errno;
                unlinkat(m_folderFd, temp.c_str(), 0);
                return FileStatusFromErrno(error, ZAV_FILE_WRITE_FAILED);
            }
            return ZAV_FILE_OK;
        }
        if (errno != EEXIST) {
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
    }
    return ZAV_FILE_WRITE_FAILED;
}

}  // namespace zav
