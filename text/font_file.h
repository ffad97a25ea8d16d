// Font files read on demand: a descriptor per file, shared by every face of it on every thread,
// read with pread (no file position, no mapping), so that a file cut short on disk gives read
// errors and never a fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zav {

// Identifies the contents of a font file and the face in it: a file replaced under the same name
// gets a new identity, so nothing rendered from the old contents is reused.
struct FontFileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    long faceIndex = 0;

    bool operator==(const FontFileId &) const = default;
};

// Font files larger than this are refused (it also keeps every offset within 32 bits).
inline constexpr int64_t kMaxFontFileBytes = int64_t{1} << 30;

class FontFile {
  public:
    FontFile(int fd, const FontFileId &id) noexcept : m_fd(fd), m_id(id) {}
    ~FontFile();
    FontFile(const FontFile &) = delete;
    FontFile &operator=(const FontFile &) = delete;

    // The file's identity when it was opened (face index 0).
    const FontFileId &Id() const noexcept { return m_id; }
    int64_t Size() const noexcept { return m_id.size; }

    // Reads up to count bytes at offset into `into`: the number read, fewer than asked past the
    // size the file had when opened, and also when it has since been cut short or cannot be read.
    std::size_t ReadAt(uint64_t offset, void *into, std::size_t count) const noexcept;

    // Whether ReadAt(offset, ..., count) gave fewer bytes than the file held there when opened.
    bool ShortRead(uint64_t offset, std::size_t count, std::size_t got) const noexcept;

  private:
    int m_fd;
    FontFileId m_id;
};

using FontFileRef = std::shared_ptr<const FontFile>;

// Reads a font file for one user at a time (a face on its thread): reads that fit in a block are
// served from the few blocks read last, so that FreeType's many small reads (the two bytes of a
// glyph's advance, a glyph's outline) cost a copy rather than a system call each.
class FontFileReader {
  public:
    explicit FontFileReader(FontFileRef file) noexcept : m_file(std::move(file)) {}
    ~FontFileReader();
    FontFileReader(const FontFileReader &) = delete;
    FontFileReader &operator=(const FontFileReader &) = delete;

    const FontFile &File() const noexcept { return *m_file; }

    // As FontFile::ReadAt; *shortRead is set when the file gave fewer bytes than it held there
    // when opened (a block read short is not kept).
    std::size_t Read(uint64_t offset, void *into, std::size_t count, bool *shortRead) noexcept;

  private:
    static constexpr std::size_t kBlockBytes = 4096;
    static constexpr std::size_t kBlocks = 8;
    struct Block {
        uint64_t start = UINT64_MAX;  // UINT64_MAX: holds nothing
        std::size_t valid = 0;
        uint64_t lastUse = 0;
        unsigned char *bytes = nullptr;
    };

    FontFileRef m_file;
    Block m_blocks[kBlocks];
    uint64_t m_clock = 0;
};

// The file at path, opened for reading without blocking (a FIFO's open does not wait for a
// writer): a regular file of 1 to kMaxFontFileBytes bytes, else null at once (a FIFO, a device, a
// folder, an empty or oversized file). With `expected`, the file must still have that identity
// (face index aside). A file already open with the same identity is shared rather than opened
// twice. *noMemory (when given) tells whether a null was for lack of memory.
FontFileRef OpenFontFile(const char *path, const FontFileId *expected = nullptr,
                         bool *noMemory = nullptr) noexcept;

}  // namespace zav
