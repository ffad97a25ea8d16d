// An image file opened for its reader: random access, its head (or all of it) in memory on request,
// and rows of pixels read straight into a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

// Files larger than this are not read (no picture within the decode limit needs more).
inline constexpr uint64_t kMaxImageFileBytes = uint64_t{1} << 32;

// An open regular file as a byte source. Every byte handed out is one that was read from the file;
// the leading bytes asked for are read once and kept.
class FileBytes final : public ByteSource {
  public:
    FileBytes() = default;
    ~FileBytes() override;
    FileBytes(const FileBytes &) = delete;
    FileBytes &operator=(const FileBytes &) = delete;

    // Opens the regular file at `path`. Returns ZAV_FILE_OK or why it could not
    // (ZAV_FILE_NOT_FOUND, ZAV_FILE_NO_ACCESS, ZAV_FILE_READ_FAILED, ZAV_FILE_TOO_LARGE,
    // ZAV_FILE_NO_MEMORY). A file that shrinks later reads as the bytes that are left.
    int32_t Open(const char *path);

    uint64_t Size() const override { return m_fileSize; }
    int64_t ReadAt(uint64_t offset, void *dst, std::size_t size) override;
    CodecStatus Prefix(std::size_t count, std::span<const uint8_t> *bytes) override;
    // Rows are read straight into `dst`; the bytes between stored rows (at most kMaxRowGap) are
    // dropped, larger gaps are refused (kReadFailed): the caller checks before.
    CodecStatus ReadRows(const PlainRows &rows, std::size_t rowBytes, uint32_t count, uint8_t *dst,
                         std::size_t step) override;

  private:
    void Close();

    std::unique_ptr<uint8_t[]> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    uint64_t m_fileSize = 0;
    bool m_ended = false;  // the file ended before its opening size (it shrank)
    int m_fd = -1;
};

}  // namespace zav
