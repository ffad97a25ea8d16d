// Reading a whole file into memory for a reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace zav {

// Files larger than this are not read (no picture within the decode limit needs more).
inline constexpr uint64_t kMaxImageFileBytes = uint64_t{1} << 32;

// The bytes of one file, owned.
class FileBytes {
  public:
    std::span<const uint8_t> Bytes() const { return {data_.get(), size_}; }

    // Reads the regular file at `path` whole. Returns ZAV_FILE_OK or why it could not
    // (ZAV_FILE_NOT_FOUND, ZAV_FILE_NO_ACCESS, ZAV_FILE_READ_FAILED, ZAV_FILE_TOO_LARGE,
    // ZAV_FILE_NO_MEMORY). A file that shrinks while it is read gives the bytes that were there.
    int32_t Read(const char *path);

  private:
    std::unique_ptr<uint8_t[]> data_;
    std::size_t size_ = 0;
};

}  // namespace zav
