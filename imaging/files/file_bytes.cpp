#include "imaging/files/file_bytes.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "imaging/files/file_status.h"
#include "imaging/ops/flip.h"
#include "zavimage/zavimage.h"

namespace zav {

namespace {

constexpr uint64_t kMaxOffset = static_cast<uint64_t>(std::numeric_limits<off_t>::max());

// Vectors given to one preadv call.
#ifdef IOV_MAX
constexpr std::size_t kVectorsPerCall = IOV_MAX;
#else
constexpr std::size_t kVectorsPerCall = 1024;
#endif

// Bytes of rows read by one call, at most.
constexpr uint64_t kBlockBytes = uint64_t{256} << 10;

}  // namespace

FileBytes::~FileBytes() {
    Close();
}

void FileBytes::Close() {
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

int32_t FileBytes::Open(const char *path) {
    Close();
    m_data.reset();
    m_size = 0;
    m_capacity = 0;
    m_fileSize = 0;
    m_ended = false;
    // Non-blocking, so that opening a FIFO does not wait for a writer; it is refused below.
    m_fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (m_fd < 0) {
        return FileStatusFromErrno(errno, ZAV_FILE_READ_FAILED);
    }
    struct stat st;
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
        return ZAV_FILE_READ_FAILED;
    }
    const int flags = fcntl(m_fd, F_GETFL);
    if (flags < 0 || fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return ZAV_FILE_READ_FAILED;
    }
    m_fileSize = static_cast<uint64_t>(st.st_size);
    if (m_fileSize > kMaxImageFileBytes || m_fileSize > SIZE_MAX) {
        return ZAV_FILE_TOO_LARGE;
    }
    return ZAV_FILE_OK;
}

CodecStatus FileBytes::Prefix(std::size_t count, std::span<const uint8_t> *bytes) {
    const std::size_t end = static_cast<std::size_t>(std::min<uint64_t>(count, m_fileSize));
    if (m_size < end && !m_ended) {
        if (m_fd < 0) {
            return CodecStatus::kReadFailed;
        }
        if (end > m_capacity || !m_data) {
            // Room for what is to be read, left uninitialized: only bytes read are handed out.
            std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[end]);
            if (!grown) {
                return CodecStatus::kNoMemory;
            }
            if (m_size > 0) {
                std::memcpy(grown.get(), m_data.get(), m_size);
            }
            m_data = std::move(grown);
            m_capacity = end;
        }
        while (m_size < end) {
            const ssize_t n =
                pread(m_fd, m_data.get() + m_size, end - m_size, static_cast<off_t>(m_size));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return CodecStatus::kReadFailed;
            }
            if (n == 0) {
                m_ended = true;  // the file shrank
                break;
            }
            m_size += static_cast<std::size_t>(n);
        }
    }
    *bytes = {m_data.get(), std::min(m_size, end)};
    return CodecStatus::kOk;
}

int64_t FileBytes::ReadAt(uint64_t offset, void *dst, std::size_t size) {
    if (m_fd < 0 || offset > kMaxOffset) {
        return -1;
    }
    size = static_cast<std::size_t>(
        std::min<uint64_t>({size, kMaxOffset - offset, uint64_t{INT64_MAX}}));
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pread(m_fd, static_cast<uint8_t *>(dst) + done, size - done,
                                static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;  // the end of the file
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<int64_t>(done);
}

CodecStatus FileBytes::ReadRows(const PlainRows &rows, std::size_t rowBytes, uint32_t count,
                                uint8_t *dst, std::size_t step) {
    if (m_fd < 0 || rows.fileStep < rowBytes || rows.fileStep - rowBytes > kMaxRowGap ||
        rows.offset > kMaxOffset) {
        return CodecStatus::kReadFailed;
    }
    // Rows stored top down, back to back as the buffer holds them (no padding on either side):
    // one read, straight in.
    if (!rows.bottomUp && rows.fileStep == rowBytes && step == rowBytes && count > 0) {
        const uint64_t bytes = uint64_t{step} * (count - 1) + rowBytes;
        if (bytes > SIZE_MAX) {
            return CodecStatus::kReadFailed;
        }
        const int64_t got = ReadAt(rows.offset, dst, static_cast<std::size_t>(bytes));
        if (got < 0) {
            return CodecStatus::kReadFailed;
        }
        return static_cast<uint64_t>(got) == bytes ? CodecStatus::kOk : CodecStatus::kTruncated;
    }
    // Rows stored bottom up, back to back as the buffer holds them: bands of rows read in one go
    // each into their place in the buffer, then turned the right way up while in the cache.
    if (rows.bottomUp && rows.fileStep == rowBytes && step == rowBytes && count > 0) {
        const auto band =
            static_cast<uint32_t>(std::clamp<uint64_t>(kBlockBytes / rowBytes, 1, count));
        for (uint32_t y0 = 0; y0 < count; y0 += band) {
            const uint32_t n = std::min(band, count - y0);
            const uint32_t firstStored = count - y0 - n;
            const std::size_t bytes = std::size_t{n} * rowBytes;
            uint8_t *to = dst + std::size_t{y0} * step;
            const int64_t got =
                ReadAt(rows.offset + uint64_t{firstStored} * rows.fileStep, to, bytes);
            if (got < 0) {
                return CodecStatus::kReadFailed;
            }
            if (static_cast<std::size_t>(got) != bytes) {
                return CodecStatus::kTruncated;
            }
            ReverseRows(to, step, rowBytes, n);
        }
        return CodecStatus::kOk;
    }
    // The bytes between stored rows land here and are dropped.
    uint8_t gap[kMaxRowGap];
    const std::size_t gapBytes = static_cast<std::size_t>(rows.fileStep - rowBytes);
    iovec vectors[kVectorsPerCall];
    // Blocks of rows in the buffer's order, top block first, each read in one go from its place
    // in the file: the buffer fills from the top down even where the file stores its rows bottom
    // up (writing a large buffer from the end backwards is slower).
    const uint32_t perBlock = static_cast<uint32_t>(std::clamp<uint64_t>(
        kBlockBytes / rows.fileStep, 1, (kVectorsPerCall - 1) / (gapBytes > 0 ? 2 : 1)));
    for (uint32_t y0 = 0; y0 < count;) {
        const uint32_t blockRows = std::min(perBlock, count - y0);
        const uint32_t firstStored = rows.bottomUp ? count - y0 - blockRows : y0;
        uint64_t position = rows.offset + uint64_t{firstStored} * rows.fileStep;
        std::size_t n = 0;
        for (uint32_t i = 0; i < blockRows; ++i) {
            const uint32_t stored = firstStored + i;
            const uint32_t y = rows.bottomUp ? count - 1 - stored : stored;
            vectors[n++] = {dst + static_cast<std::size_t>(y) * step, rowBytes};
            if (gapBytes > 0 && i + 1 < blockRows) {
                vectors[n++] = {gap, gapBytes};
            }
        }
        y0 += blockRows;
        std::size_t first = 0;
        while (first < n) {
            if (position > kMaxOffset) {
                return CodecStatus::kReadFailed;
            }
            const ssize_t got = preadv(m_fd, vectors + first, static_cast<int>(n - first),
                                       static_cast<off_t>(position));
            if (got < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return CodecStatus::kReadFailed;
            }
            if (got == 0) {
                return CodecStatus::kTruncated;  // the file shrank
            }
            position += static_cast<uint64_t>(got);
            auto left = static_cast<std::size_t>(got);
            while (left > 0) {
                iovec &v = vectors[first];
                if (left >= v.iov_len) {
                    left -= v.iov_len;
                    ++first;
                } else {
                    v.iov_base = static_cast<uint8_t *>(v.iov_base) + left;
                    v.iov_len -= left;
                    left = 0;
                }
            }
        }
    }
    return CodecStatus::kOk;
}

}  // namespace zav
