// Writing a file so that it appears complete or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/codecs/codec.h"

namespace zav {

// A buffered sink into a temporary file in the target's folder, renamed over the target only when
// everything was written. A sink that is not committed removes its temporary file, so a failed
// save leaves no partial file and an earlier file of that name as it was. A target name that is a
// symbolic link is followed: the file it points at is replaced. An existing file that the caller
// may not write is not replaced, and neither is anything but a regular file.
class ReplacingFileSink final : public ByteSink {
  public:
    ReplacingFileSink() = default;
    ~ReplacingFileSink() override;
    ReplacingFileSink(const ReplacingFileSink &) = delete;
    ReplacingFileSink &operator=(const ReplacingFileSink &) = delete;

    // Resolves the target, checks it and creates the temporary file. Returns ZAV_FILE_OK or why
    // not (ZAV_FILE_NOT_FOUND for a missing folder, ZAV_FILE_NO_ACCESS, ZAV_FILE_WRITE_FAILED,
    // ZAV_FILE_NO_MEMORY).
    int32_t Open(const char *path);

    bool Write(const void *bytes, std::size_t size) override;

    // Writes out what is buffered, closes the file and renames it over the target. Returns
    // ZAV_FILE_OK or the status of the first failure; on failure the temporary file is removed.
    int32_t Commit();

    // The file that a successful commit replaces (the target with links followed).
    const std::string &TargetPath() const { return m_target; }

  private:
    bool Flush();
    void Discard();

    static constexpr std::size_t kBufferBytes = std::size_t{1} << 18;

    int m_fd = -1;
    std::string m_target;
    std::string m_temp;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::size_t m_used = 0;
    int32_t m_failure = 0;  // ZAV_FILE_OK until a write fails
};

}  // namespace zav
