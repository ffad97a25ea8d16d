#include "text/font_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace zav {
namespace {

std::optional<FontFileId> IdentityOf(const struct stat &st) noexcept {
    // Regular files only: a pipe or a device would block or never end.
    if (!S_ISREG(st.st_mode) || st.st_size <= 0 || st.st_size > kMaxFontFileBytes) {
        return std::nullopt;
    }
    FontFileId id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<int64_t>(st.st_size);
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return id;
}

// Open font files by identity, shared while any face reads them.
class FontFileRegistry {
  public:
    static FontFileRegistry &Shared() noexcept {
        // Made in static storage, without allocating, and never destroyed (threads still drawing
        // at exit use it).
        alignas(FontFileRegistry) static unsigned char storage[sizeof(FontFileRegistry)];
        static FontFileRegistry *registry = new (storage) FontFileRegistry();
        return *registry;
    }

    // The open file of this identity, else one over fd (which is closed when not kept).
    FontFileRef Share(int fd, const FontFileId &id, bool *noMemory) noexcept {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::erase_if(m_entries, [](const Entry &e) { return e.file.expired(); });
        for (const Entry &e : m_entries) {
            if (e.id == id) {
                if (FontFileRef alive = e.file.lock()) {
                    close(fd);
                    return alive;
                }
            }
        }
        auto *opened = new (std::nothrow) FontFile(fd, id);  // owns fd from here on
        if (opened == nullptr) {
            close(fd);
            *noMemory = true;
            return nullptr;
        }
        FontFileRef file;
        try {
            file = FontFileRef(opened);
        } catch (const std::bad_alloc &) {
            *noMemory = true;  // the shared pointer deleted the file, which closed fd
            return nullptr;
        }
        try {
            m_entries.push_back(Entry{id, file});
        } catch (const std::bad_alloc &) {
            // Not shared, but usable.
        }
        return file;
    }

  private:
    struct Entry {
        FontFileId id;
        std::weak_ptr<const FontFile> file;
    };
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

}  // namespace

FontFile::~FontFile() {
    close(m_fd);
}

std::size_t FontFile::ReadAt(uint64_t offset, void *into, std::size_t count) const noexcept {
    if (offset >= static_cast<uint64_t>(m_id.size)) {
        return 0;
    }
    count = static_cast<std::size_t>(
        std::min<uint64_t>(count, static_cast<uint64_t>(m_id.size) - offset));
    auto *out = static_cast<unsigned char *>(into);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = pread(m_fd, out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;  // cut short since it was opened, or unreadable
        }
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool FontFile::ShortRead(uint64_t offset, std::size_t count, std::size_t got) const noexcept {
    const uint64_t size = static_cast<uint64_t>(m_id.size);
    const uint64_t there = offset >= size ? 0 : std::min<uint64_t>(count, size - offset);
    return got < there;
}

FontFileReader::~FontFileReader() {
    for (Block &b : m_blocks) {
        ::operator delete(b.bytes);
    }
}

std::size_t FontFileReader::Read(uint64_t offset, void *into, std::size_t count,
                                 bool *shortRead) noexcept {
    const uint64_t start = offset / kBlockBytes * kBlockBytes;
    Block *block = nullptr;
    if (count <= kBlockBytes && offset - start + count <= kBlockBytes) {
        Block *oldest = &m_blocks[0];
        for (Block &b : m_blocks) {
            if (b.start == start) {
                block = &b;
                break;
            }
            if (b.lastUse < oldest->lastUse) {
                oldest = &b;
            }
        }
        if (block == nullptr) {
            if (oldest->bytes == nullptr) {
                oldest->bytes = static_cast<unsigned char *>(
                    ::operator new(kBlockBytes, std::nothrow));  // none: read directly
            }
            if (oldest->bytes != nullptr) {
                block = oldest;
                block->start = start;
                block->valid = m_file->ReadAt(start, block->bytes, kBlockBytes);
            }
        }
    }
    std::size_t got = 0;
    if (block == nullptr) {
        got = m_file->ReadAt(offset, into, count);
    } else {
        block->lastUse = ++m_clock;
        const std::size_t at = static_cast<std::size_t>(offset - start);
        got = block->valid > at ? std::min(count, block->valid - at) : 0;
        std::memcpy(into, block->bytes + at, got);
    }
    *shortRead = m_file->ShortRead(offset, count, got);
    if (*shortRead && block != nullptr) {
        block->start = UINT64_MAX;  // read afresh next time
    }
    return got;
}

FontFileRef OpenFontFile(const char *path, const FontFileId *expected, bool *noMemory) noexcept {
    bool shortage = false;
    FontFileRef file;
    const int fd = path != nullptr ? open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (fd >= 0) {
        struct stat st;
        std::optional<FontFileId> id;
        if (fstat(fd, &st) == 0) {
            id = IdentityOf(st);
        }
        FontFileId wanted;
        if (expected != nullptr) {
            wanted = *expected;
            wanted.faceIndex = 0;
        }
        if (id && (expected == nullptr || *id == wanted)) {
            file = FontFileRegistry::Shared().Share(fd, *id, &shortage);
        } else {
            close(fd);
        }
    }
    if (noMemory != nullptr) {
        *noMemory = shortage;
    }
    return file;
}

}  // namespace zav
