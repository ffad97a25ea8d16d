#include "tools/zavimage/streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/zavimage/display.h"
#include "zavimage/job.h"

namespace zavtool {

std::string ShownName(const std::string &name, bool output) {
    if (IsStandardStream(name)) {
        return output ? "standard output" : "standard input";
    }
    return Printable(name);
}

std::optional<std::string> ReadStandardInput(std::vector<uint8_t> &bytes) {
    bytes.clear();
    constexpr std::size_t kChunk = 1 << 16;
    while (true) {
        const std::size_t have = bytes.size();
        // A picture's file is never above the 1 GiB block limit by much; stop well past it.
        if (have > (std::size_t{1} << 31)) {
            return "more than 2 GiB on standard input";
        }
        bytes.resize(have + kChunk);
        const ssize_t got = ::read(STDIN_FILENO, bytes.data() + have, kChunk);
        if (got < 0) {
            if (errno == EINTR) {
                bytes.resize(have);
                continue;
            }
            const int error = errno;
            bytes.clear();
            return std::string("cannot be read: ") + std::strerror(error);
        }
        bytes.resize(have + static_cast<std::size_t>(got));
        if (got == 0) {
            break;
        }
    }
    if (bytes.empty()) {
        return "empty (nothing was piped in)";
    }
    return std::nullopt;
}

std::optional<std::string> ReadJobDocument(const std::string &name, std::string &text) {
    text.clear();
    const int fd =
        IsStandardStream(name) ? STDIN_FILENO : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::string("cannot be read: ") + std::strerror(errno);
    }
    std::optional<std::string> failure;
    char chunk[1 << 16];
    while (true) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            failure = std::string("cannot be read: ") + std::strerror(errno);
            break;
        }
        if (got == 0) {
            break;
        }
        if (text.size() + static_cast<std::size_t>(got) > ZAV_JOB_MAX_BYTES) {
            failure = "larger than " + std::to_string(ZAV_JOB_MAX_BYTES >> 20) +
                      " MiB: not a job document";
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
    }
    if (fd != STDIN_FILENO) {
        ::close(fd);
    }
    return failure;
}

std::optional<std::string> WriteStandardOutput(const uint8_t *bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(STDOUT_FILENO, bytes, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::string("write failed: ") + std::strerror(errno);
        }
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return std::nullopt;
}

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace zavtool
