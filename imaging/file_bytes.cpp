#include "imaging/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <utility>

#include "zavimage/zavimage.h"

namespace zav {

namespace {

int32_t StatusFromOpenError(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ZAV_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
            return ZAV_FILE_NO_ACCESS;
        case ENOMEM:
            return ZAV_FILE_NO_MEMORY;
        default:
            return ZAV_FILE_READ_FAILED;
    }
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

}  // namespace

int32_t FileBytes::Read(const char *path) {
    data_.reset();
    size_ = 0;
    // Non-blocking, so that opening a FIFO does not wait for a writer; it is refused below.
    const Descriptor fd(open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        return StatusFromOpenError(errno);
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        return ZAV_FILE_READ_FAILED;
    }
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return ZAV_FILE_READ_FAILED;
    }
    const auto fileSize = static_cast<uint64_t>(st.st_size);
    if (fileSize > kMaxImageFileBytes) {
        return ZAV_FILE_TOO_LARGE;
    }
    const auto size = static_cast<std::size_t>(fileSize);
    // Left uninitialized: every byte handed out is one that read() wrote.
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[size == 0 ? 1 : size]);
    if (!data) {
        return ZAV_FILE_NO_MEMORY;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = read(fd.get(), data.get() + done, size - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return ZAV_FILE_READ_FAILED;
        }
        if (n == 0) {
            break;  // the file shrank
        }
        done += static_cast<std::size_t>(n);
    }
    data_ = std::move(data);
    size_ = done;
    return ZAV_FILE_OK;
}

}  // namespace zav
