// Writing a file so that it appears complete or not at all.
#pragma once

#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "imaging/codecs/codec.h"

namespace zav {

// A buffered sink that puts the target in place only when everything was written. The target's
// folder is opened once and every later step works relative to it, so a folder renamed meanwhile
// still gets the file and nothing else. The bytes go into an unnamed file in that folder
// (O_TMPFILE) that is given its name only when complete: a process killed while writing leaves
// nothing. A new file is linked straight under its name (linking never replaces). An existing one
// is replaced by linking the finished file under its staging name, ".NAME.zav<hash>.tmp" (the hash
// of NAME, so the same for every save of NAME), and renaming that over it, two steps back to back;
// a process killed between them leaves the staging name, which the next save of NAME removes
// before it links its own. Where the file system has no unnamed files, the bytes go into the
// staging name itself, removed on every failure.
//
// The target's name is never followed as a symbolic link: a link there is refused
// (ZAV_FILE_IS_LINK), and a link planted after that check is replaced as a name, never written
// through, so nothing lands outside the named folder. An existing file that the caller may not
// write is not replaced, and neither is anything but a regular file. With Existing::kKeep nothing
// is replaced at all: the file is linked under its name only if the name is free at that moment
// (ZAV_FILE_EXISTS otherwise). A new file gets the usual permissions (0666 less the umask); a
// replaced one keeps its own.
class ReplacingFileSink final : public ByteSink {
  public:
    // How the bytes are held until the commit.
    enum class Staging {
        kUnnamedFile,  // an unnamed file where the file system has them, else a named one
        kNamedFile,    // always a hidden temporary file beside the target
    };

    // Whether an existing file of the target's name is replaced or kept.
    enum class Existing {
        kReplace,
        kKeep,  // exclusive creation: ZAV_FILE_EXISTS when the name is taken
    };

    ReplacingFileSink() = default;
    ~ReplacingFileSink() override;
    ReplacingFileSink(const ReplacingFileSink &) = delete;
    ReplacingFileSink &operator=(const ReplacingFileSink &) = delete;

    // Resolves the target, checks it and creates the file that receives the bytes. Returns
    // ZAV_FILE_OK or why not (ZAV_FILE_NOT_FOUND for a missing folder, ZAV_FILE_NO_ACCESS,
    // ZAV_FILE_PATH_TOO_LONG, ZAV_FILE_DISK_FULL, ZAV_FILE_WRITE_FAILED, ZAV_FILE_NO_MEMORY, ...).
    // A relative path is resolved from the folder open as `base` (AT_FDCWD: the working folder).
    int32_t Open(const char *path, Staging staging = Staging::kUnnamedFile,
                 Existing existing = Existing::kReplace, int base = AT_FDCWD);

    bool Write(const void *bytes, std::size_t size) override;

    // Writes out what is buffered and puts the file in place under the target's name. Returns
    // ZAV_FILE_OK or the status of the first failure; on failure nothing is left behind.
    int32_t Commit();

    // Why a write failed (ZAV_FILE_DISK_FULL, ...); ZAV_FILE_OK while none has.
    int32_t WriteFailure() const { return m_failure; }
    // The target as given.
    const std::string &TargetPath() const { return m_target; }
    // Removes the staging name of `name` that a save killed between its two steps left in the
    // folder open as `folder` (a regular file only; nothing when there is none).
    static void RemoveStaging(int folder, const std::string &name);
    // The staging name of a target name within its folder (".NAME.zav<16 hex digits>.tmp", NAME
    // shortened when long).
    static std::string StagingName(const std::string &name);
    // True when the bytes go into an unnamed file.
    bool Unnamed() const { return m_fd >= 0 && m_temp.empty(); }

  private:
    int32_t Start(const char *path, Staging staging, int base);
    int32_t OpenUnnamed(bool *unsupported);
    int32_t OpenNamed();
    int32_t LinkUnnamed();
    int32_t ReplaceWithUnnamed();
    int32_t RenameNamed();
    void KeepOwnership(int fd) const;
    bool Flush();
    void Discard();

    static constexpr std::size_t kBufferBytes = std::size_t{1} << 18;

    int m_folderFd = -1;  // the target's folder (O_PATH)
    int m_fd = -1;
    std::string m_target;   // as given, for TargetPath()
    std::string m_name;     // the target's name within its folder
    std::string m_staging;  // its staging name
    std::string m_temp;  // the staging file holding the bytes (no unnamed files), while it exists
    bool m_exists = false;
    bool m_keep = false;  // Existing::kKeep
    uint32_t m_mode = 0;  // an existing target's mode, owner and group
    uint32_t m_uid = 0;
    uint32_t m_gid = 0;
    std::unique_ptr<uint8_t[]> m_buffer;
    std::size_t m_used = 0;
    int32_t m_failure = 0;  // ZAV_FILE_OK until a write fails
};

}  // namespace zav
