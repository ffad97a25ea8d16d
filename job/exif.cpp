#include "job/exif.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "job/template.h"

namespace zav::job {
namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kExifIfdTag = 0x8769;
constexpr uint16_t kAscii = 2;
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr std::size_t kMaxEntries = 1024;
constexpr std::size_t kMaxText = 1024;

// A TIFF structure read through ReadAt, offsets relative to `base`.
class TiffStructure {
  public:
    TiffStructure(const ReadAt &read, uint64_t base, uint64_t size)
        : m_read(read), m_base(base), m_size(size) {}

    bool Start(uint32_t &firstIfd) {
        uint8_t head[8];
        if (!Bytes(0, 8, head)) {
            return false;
        }
        if (head[0] == 'I' && head[1] == 'I') {
            m_little = true;
        } else if (head[0] == 'M' && head[1] == 'M') {
            m_little = false;
        } else {
            return false;
        }
        if (U16(head + 2) != 42) {
            return false;
        }
        firstIfd = U32(head + 4);
        return true;
    }

    // Reads the directory at `offset`: the wanted tags into `tags`; the Exif directory's offset.
    std::optional<uint32_t> ReadIfd(uint32_t offset, bool exifIfd, ExifTags &tags) {
        uint8_t count[2];
        if (!Bytes(offset, 2, count)) {
            return std::nullopt;
        }
        const std::size_t entries = std::min<std::size_t>(U16(count), kMaxEntries);
        std::vector<uint8_t> table(entries * 12);
        if (!Bytes(uint64_t{offset} + 2, table.size(), table.data())) {
            return std::nullopt;
        }
        std::optional<uint32_t> exif;
        for (std::size_t i = 0; i < entries; ++i) {
            const uint8_t *e = table.data() + i * 12;
            const uint16_t tag = U16(e);
            const uint16_t type = U16(e + 2);
            const uint32_t n = U32(e + 4);
            if (!exifIfd && tag == kExifIfdTag && (type == kLong || type == 13) && n == 1) {
                exif = U32(e + 8);
            } else if (!exifIfd && tag == kOrientationTag && type == kShort && n == 1) {
                const uint16_t v = U16(e + 8);
                if (v >= 1 && v <= 8) {
                    tags.orientation = v;
                }
            }
            if (type != kAscii || n == 0) {
                continue;
            }
            for (const ExifTagName &name : ExifTagNames()) {
                if (name.tag != tag || name.inExifIfd != exifIfd) {
                    continue;
                }
                if (std::optional<std::string> text = Text(e, n)) {
                    tags.text[std::string(name.name)] = std::move(*text);
                }
            }
        }
        return exif;
    }

  private:
    // Reads `size` bytes at `offset` of the structure; nothing to read for none (a directory
    // of no entries).
    bool Bytes(uint64_t offset, std::size_t size, uint8_t *out) const {
        return offset <= m_size && size <= m_size - offset &&
               (size == 0 || m_read(m_base + offset, size, out));
    }
    uint16_t U16(const uint8_t *p) const {
        return m_little ? static_cast<uint16_t>(p[0] | p[1] << 8)
                        : static_cast<uint16_t>(p[0] << 8 | p[1]);
    }
    uint32_t U32(const uint8_t *p) const {
        return m_little ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                           uint32_t{p[3]} << 24)
                        : (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 |
                           uint32_t{p[3]});
    }
    // An ASCII value: inline when it fits in 4 bytes; cut at its NUL, trailing spaces and
    // control characters left out, at most kMaxText bytes read. Nothing when its bytes are not
    // all in the structure.
    std::optional<std::string> Text(const uint8_t *entry, uint32_t count) const {
        const std::size_t n = std::min<std::size_t>(count, kMaxText);
        std::vector<uint8_t> bytes(n);
        if (count <= 4) {
            std::memcpy(bytes.data(), entry + 8, n);
        } else if (!Bytes(U32(entry + 8), n, bytes.data())) {
            return std::nullopt;
        }
        std::string text;
        for (const uint8_t b : bytes) {
            if (b == 0) {
                break;
            }
            if (b >= 0x20 && b != 0x7F) {
                text.push_back(static_cast<char>(b));
            }
        }
        while (!text.empty() && text.back() == ' ') {
            text.pop_back();
        }
        return text;
    }

    const ReadAt &m_read;
    uint64_t m_base;
    uint64_t m_size;
    bool m_little = true;
};

void ReadStructure(const ReadAt &read, uint64_t base, uint64_t size, ExifTags &tags) {
    TiffStructure tiff(read, base, size);
    uint32_t first = 0;
    if (!tiff.Start(first)) {
        return;
    }
    if (const std::optional<uint32_t> exif = tiff.ReadIfd(first, false, tags)) {
        tiff.ReadIfd(*exif, true, tags);
    }
}

}  // namespace

ExifTags ReadExif(const ReadAt &read, uint64_t fileSize) {
    ExifTags tags;
    uint8_t head[4];
    if (fileSize < 4 || !read(0, 4, head)) {
        return tags;
    }
    if ((head[0] == 'I' && head[1] == 'I') || (head[0] == 'M' && head[1] == 'M')) {
        tags.fromTiff = true;
        ReadStructure(read, 0, fileSize, tags);
        return tags;
    }
    if (head[0] != 0xFF || head[1] != 0xD8) {
        return tags;
    }
    // The markers before the scan: the first APP1 segment that starts with "Exif\0\0".
    uint64_t at = 2;
    for (int segments = 0; segments < 64 && at + 4 <= fileSize; ++segments) {
        uint8_t marker[4];
        if (!read(at, 4, marker) || marker[0] != 0xFF) {
            return tags;
        }
        if (marker[1] == 0xFF) {  // a fill byte before the marker
            ++at;
            continue;
        }
        const uint8_t kind = marker[1];
        if (kind == 0xDA || kind == 0xD9) {  // the scan, or the end: no Exif before them
            return tags;
        }
        const uint32_t length = uint32_t{marker[2]} << 8 | marker[3];
        if (length < 2) {
            return tags;
        }
        if (kind == 0xE1 && length >= 8) {
            uint8_t id[6];
            if (at + 10 <= fileSize && read(at + 4, 6, id) && std::memcmp(id, "Exif\0\0", 6) == 0) {
                // The segment as far as the file holds it.
                ReadStructure(read, at + 10, std::min<uint64_t>(length - 8, fileSize - (at + 10)),
                              tags);
                return tags;
            }
        }
        at += 2 + uint64_t{length};
    }
    return tags;
}

ExifTags ReadExifFile(const std::string &path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return {};
    }
    struct stat st {};
    ExifTags tags;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        const ReadAt read = [fd](uint64_t offset, std::size_t size, uint8_t *out) {
            std::size_t done = 0;
            while (done < size) {
                const ssize_t got =
                    ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
                if (got <= 0) {
                    return false;
                }
                done += static_cast<std::size_t>(got);
            }
            return true;
        };
        tags = ReadExif(read, static_cast<uint64_t>(st.st_size));
    }
    ::close(fd);
    return tags;
}

ExifTags ReadExifBytes(std::span<const uint8_t> bytes) {
    const ReadAt read = [bytes](uint64_t offset, std::size_t size, uint8_t *out) {
        if (offset > bytes.size() || size > bytes.size() - offset) {
            return false;
        }
        if (size > 0) {
            std::memcpy(out, bytes.data() + offset, size);
        }
        return true;
    };
    return ReadExif(read, bytes.size());
}

}  // namespace zav::job
