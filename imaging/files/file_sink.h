// Writing a file so that it appears complete or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/codecs/codec.h"

namespace zav {

// A buffered sink that replaces the target only when everything was written. The target's folder
// is opened once and every later step works relative to it, so a folder renamed meanwhile still
// gets the file and nothing else. The bytes go into an unnamed file in that folder (O_TMPFILE)
// that is given its name only when complete: a process killed while writing leaves nothing. A new
// file is linked straight under its name; an existing one is replaced by linking the finished file
// under a temporary name and renaming that over it, two steps back to back. Where the file system
// has no unnamed files, the bytes go into a hidden temporary file beside the target, removed on
// every failure. A sink that is not committed leaves the target as it was.
//
// A target name that is a symbolic link is followed: the file it points at is replaced. An existing
// file that the caller may not write is not replaced, and neither is anything but a regular file.
// A new file gets the usual permissions (0666 less the umask); a replaced one keeps its own.
class ReplacingFileSink final : public ByteSink {
  public:
    // How the bytes are held until the commit.
    enum class Staging {
        kUnnamedFile,  // an unnamed file where the file system has them, else a named one
        kNamedFile,    // always a hidden temporary file beside the target
    };

    ReplacingFileSink() = default;
    ~ReplacingFileSink() override;
    ReplacingFileSink(const ReplacingFileSink &) = delete;
    ReplacingFileSink &operator=(const ReplacingFileSink &) = delete;

    // Resolves the target, checks it and creates the file that receives the bytes. Returns
    // ZAV_FILE_OK or why not (ZAV_FILE_NOT_FOUND for a missing folder, ZAV_FILE_NO_ACCESS,
    // ZAV_FILE_PATH_TOO_LONG, ZAV_FILE_DISK_FULL, ZAV_FILE_WRITE_FAILED, ZAV_FILE_NO_MEMORY, ...).
    int32_t Open(const char *path, Staging staging = Staging::kUnnamedFile);

    bool Write(const void *bytes, std::size_t size) override;

    // Writes out what is buffered and puts the file in place under the target's name. Returns
    // ZAV_FILE_OK or the status of the first failure; on failure nothing is left behind.
    int32_t Commit();

    // Why a write failed (ZAV_FILE_DISK_FULL, ...); ZAV_FILE_OK while none has.
    int32_t WriteFailure() const { return m_failure; }
    // The file that a successful commit replaces (the target with links followed).
    const std::string &TargetPath() const { return m_target; }
    // True when the bytes go into an unnamed file.
    bool Unnamed() const { return m_fd >= 0 && m_temp.empty(); }

  private:
    int32_t Start(const char *path, Staging staging);
    int32_t OpenUnnamed(bool *unsupported);
    int32_t OpenNamed();
    int32_t LinkUnnamed();
    int32_t RenameNamed();
    void KeepOwnership(int fd) const;
    bool Flush();
    void Discard();

    static constexpr std::size_t kBufferBytes = std::size_t{1} << 18;

    int m_folderFd = -1;  // the target's folder (O_PATH)
    int m_fd = -1;
    std::string m_target;  // as resolved, for TargetPath()
    std::string m_name;    // the target's name within its folder
    std::string m_temp;    // the named temporary file within the folder, while it exists
    bool m_exists = false;
    uint32_t m_mode = 0;  // an existing target's mode, owner and group
    uint32_t m_uid = 0;
    uint32_t m_gid = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::size_t m_used = 0;
    int32_t m_failure = 0;  // ZAV_FILE_OK until a write fails
};

}  // namespace zav
