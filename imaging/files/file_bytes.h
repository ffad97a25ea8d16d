// Reading an image file for a reader: whole, or its head first and then either the rest or rows of
// pixels straight into a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "imaging/codecs/codec.h"

namespace zav {

// Files larger than this are not read (no picture within the decode limit needs more).
inline constexpr uint64_t kMaxImageFileBytes = uint64_t{1} << 32;

// Rows stored in a file as a buffer holds them, for FileBytes::ReadRows.
struct FileRows {
    uint64_t offset = 0;       // of the first stored row
    uint64_t fileStep = 0;     // from one stored row to the next; at least rowBytes
    std::size_t rowBytes = 0;  // of each row
    uint32_t count = 0;        // rows
    bool bottomUp = false;     // the first stored row goes last in the buffer
};

// The bytes of one file, owned. Every byte handed out is one that was read from the file. After
// ReadHead, and until ReadRest, it is also a source that reads any part of the file on request.
class FileBytes final : public FileSource {
  public:
    FileBytes() = default;
    ~FileBytes() override;
    FileBytes(const FileBytes &) = delete;
    FileBytes &operator=(const FileBytes &) = delete;

    // The bytes read so far.
    std::span<const uint8_t> Bytes() const { return {m_data.get(), m_size}; }
    // The file's size when it was opened.
    uint64_t FileSize() const { return m_fileSize; }
    // True when Bytes() holds the whole file (or all of it that was left when it shrank).
    bool Complete() const { return m_complete; }

    // Reads the regular file at `path` whole. Returns ZAV_FILE_OK or why it could not
    // (ZAV_FILE_NOT_FOUND, ZAV_FILE_NO_ACCESS, ZAV_FILE_READ_FAILED, ZAV_FILE_TOO_LARGE,
    // ZAV_FILE_NO_MEMORY). A file that shrinks while it is read gives the bytes that were there.
    int32_t Read(const char *path);

    // Opens the regular file at `path` and reads its first `headBytes` bytes (all of a smaller
    // file); the file stays open for ReadRest or ReadRows. Returns as Read.
    int32_t ReadHead(const char *path, std::size_t headBytes);
    // After ReadHead: reads the rest of the file, as Read would have.
    int32_t ReadRest();
    // After ReadHead: reads rows from the file straight into `dst`, `step` bytes apart, without
    // going through Bytes(). ZAV_FILE_OK, ZAV_FILE_TRUNCATED when the file ends first (it shrank),
    // or ZAV_FILE_READ_FAILED. Rows with more than 64 bytes between them are refused
    // (ZAV_FILE_READ_FAILED); the caller checks before.
    int32_t ReadRows(const FileRows &rows, uint8_t *dst, std::size_t step);

    // FileSource, after ReadHead: the file's size when it was opened, and reads from the file
    // (-1 once the file is closed).
    uint64_t Size() const override { return m_fileSize; }
    int64_t ReadAt(uint64_t offset, void *dst, std::size_t size) override;

    // The most bytes between stored rows that ReadRows takes.
    static constexpr uint64_t kMaxRowGap = 64;

  private:
    int32_t Open(const char *path);
    int32_t ReadUpTo(std::size_t end);
    void Close();

    std::unique_ptr<uint8_t[]> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    uint64_t m_fileSize = 0;
    bool m_complete = false;
    int m_fd = -1;
};

}  // namespace zav
