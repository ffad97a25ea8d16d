#include "imaging/files/file_sink.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
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
// Longest part of the target's own name that goes into the temporary name.
constexpr std::size_t kMaxTempStemBytes = 200;

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
        close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.empty()) {
        unlink(m_temp.c_str());
        m_temp.clear();
    }
}

int32_t ReplacingFileSink::Open(const char *path) {
    Discard();
    m_failure = ZAV_FILE_OK;
    m_used = 0;
    int32_t status = FollowLinks(path, &m_target);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const std::size_t slash = m_target.rfind('/');
    const std::string stem = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
    if (stem.empty()) {
        return ZAV_FILE_WRITE_FAILED;  // a folder name
    }

    struct stat existing;
    const bool exists = stat(m_target.c_str(), &existing) == 0;
    if (exists) {
        if (!S_ISREG(existing.st_mode)) {
            return ZAV_FILE_WRITE_FAILED;
        }
        if (faccessat(AT_FDCWD, m_target.c_str(), W_OK, AT_EACCESS) != 0) {
            return FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        }
    }

    m_buffer.reset(new (std::nothrow) uint8_t[kBufferBytes]);
    if (!m_buffer) {
        return ZAV_FILE_NO_MEMORY;
    }

    // A hidden name beside the target, so that the rename stays within one file system.
    const std::string prefix =
        FolderOf(m_target) + "." + stem.substr(0, std::min(stem.size(), kMaxTempStemBytes)) + ".";
    for (int attempt = 0; attempt < 32; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%016llx.tmp",
                      static_cast<unsigned long long>(RandomBits(this) + attempt));
        std::string candidate = prefix + suffix;
        // A new file gets the usual permissions (0666 less the umask); a replaced one keeps its
        // own.
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                            exists ? 0600 : 0666);
        if (fd >= 0) {
            m_fd = fd;
            m_temp = std::move(candidate);
            if (exists) {
                fchmod(m_fd, existing.st_mode & 07777);
                // Only a privileged caller can give the file its owner back; otherwise it becomes
                // the caller's, as with any editor that saves by renaming.
                if (fchown(m_fd, existing.st_uid, existing.st_gid) != 0) {
                    fchmod(m_fd, existing.st_mode & 0777);
                }
            }
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
    if (m_fd < 0) {
        return m_failure != ZAV_FILE_OK ? m_failure : ZAV_FILE_WRITE_FAILED;
    }
    if (!Flush()) {
        const int32_t status = m_failure;
        Discard();
        return status;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) {
        const int32_t status = FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        Discard();
        return status;
    }
    if (rename(m_temp.c_str(), m_target.c_str()) != 0) {
        const int32_t status = FileStatusFromErrno(errno, ZAV_FILE_WRITE_FAILED);
        Discard();
        return status;
    }
    m_temp.clear();
    return ZAV_FILE_OK;
}

}  // namespace zav
