// Fuzzes the EXIF reader: the data are a whole file (a JPEG with an Exif segment, a TIFF) read
// through ReadExifBytes, and through ReadExif with a reader that holds it to its contract (never
// asked for no bytes or into no buffer, never past the end); both find the same. Whatever it
// finds must be within the reader's own bounds: an orientation of 1 to 8, known tag names,
// printable text of at most 1024 bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "job/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const zav::job::ExifTags tags = zav::job::ReadExifBytes(std::span<const uint8_t>(data, size));
    if (tags.orientation && (*tags.orientation < 1 || *tags.orientation > 8)) {
        std::abort();
    }
    for (const auto &[name, text] : tags.text) {
        if (name.empty() || text.size() > 1024) {
            std::abort();
        }
        for (const char c : text) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                std::abort();
            }
        }
    }

    const zav::job::ReadAt read = [&](uint64_t offset, std::size_t n, uint8_t *out) {
        if (n == 0 || out == nullptr) {
            std::abort();
        }
        if (offset > size || n > size - offset) {
            return false;
        }
        std::memcpy(out, data + offset, n);
        return true;
    };
    const zav::job::ExifTags again = zav::job::ReadExif(read, size);
    if (again.text != tags.text || again.orientation != tags.orientation ||
        again.fromTiff != tags.fromTiff) {
        std::abort();
    }
    return 0;
}
