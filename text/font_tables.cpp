#include "text/font_tables.h"

#include <cstdint>
#include <new>
#include <vector>

namespace zav {
namespace {

struct TableRecord {
    uint32_t tag = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
};

// What HarfBuzz's face reads its tables from.
struct TableSource {
    FontFileRef file;
    std::vector<TableRecord> tables;
    bool failed = false;
};

hb_user_data_key_t g_sourceKey;  // its address identifies the face's TableSource

uint32_t Be32(const unsigned char *p) noexcept {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

constexpr uint32_t Tag(char a, char b, char c, char d) noexcept {
    return uint32_t(uint8_t(a)) << 24 | uint32_t(uint8_t(b)) << 16 | uint32_t(uint8_t(c)) << 8 |
           uint8_t(d);
}

bool ReadExactly(const FontFile &file, uint64_t offset, void *into, std::size_t count) noexcept {
    return file.ReadAt(offset, into, count) == count;
}

// The table directory of face faceIndex: false when it cannot be read. A file that is neither an
// OpenType font nor a collection of them has an empty directory (as HarfBuzz sees it); a
// collection's face beyond its count, likewise.
bool ReadDirectory(const FontFile &file, long faceIndex, std::vector<TableRecord> *out) {
    unsigned char header[12];
    if (!ReadExactly(file, 0, header, sizeof header)) {
        return false;
    }
    uint64_t start = 0;
    if (Be32(header) == Tag('t', 't', 'c', 'f')) {
        const uint32_t count = Be32(header + 8);
        if (faceIndex < 0 || static_cast<uint64_t>(faceIndex) >= count) {
            return true;
        }
        unsigned char where[4];
        if (!ReadExactly(file, 12 + 4 * static_cast<uint64_t>(faceIndex), where, 4)) {
            return false;
        }
        start = Be32(where);
        if (!ReadExactly(file, start, header, sizeof header)) {
            return false;
        }
    }
    const uint32_t version = Be32(header);
    if (version != 0x00010000 && version != Tag('O', 'T', 'T', 'O') &&
        version != Tag('t', 'r', 'u', 'e') && version != Tag('t', 'y', 'p', '1')) {
        return true;
    }
    const uint32_t count = uint32_t{header[4]} << 8 | header[5];
    std::vector<unsigned char> records(static_cast<std::size_t>(count) * 16);
    // A directory cut short keeps the records read whole, as HarfBuzz's own reading does.
    const std::size_t got = file.ReadAt(start + 12, records.data(), records.size());
    if (file.ShortRead(start + 12, records.size(), got)) {
        return false;
    }
    out->reserve(got / 16);
    for (std::size_t i = 0; i + 16 <= got; i += 16) {
        out->push_back(
            TableRecord{Be32(&records[i]), Be32(&records[i + 8]), Be32(&records[i + 12])});
    }
    return true;
}

void FreeTable(void *data) {
    ::operator delete(data);
}

// A table of the face, read whole; null (HarfBuzz's empty table) for a table the face lacks or
// that lies beyond the end of the file, and when it cannot be read (then noted).
hb_blob_t *ReferenceTable(hb_face_t *, hb_tag_t tag, void *userData) {
    auto *source = static_cast<TableSource *>(userData);
    const TableRecord *record = nullptr;
    for (const TableRecord &r : source->tables) {
        if (r.tag == tag) {
            record = &r;
            break;
        }
    }
    if (tag == 0 || record == nullptr || record->length == 0 ||
        uint64_t{record->offset} + record->length > static_cast<uint64_t>(source->file->Size())) {
        return nullptr;
    }
    void *data = ::operator new(record->length, std::nothrow);
    if (data == nullptr) {
        source->failed = true;
        return nullptr;
    }
    if (!ReadExactly(*source->file, record->offset, data, record->length)) {
        ::operator delete(data);
        source->failed = true;
        return nullptr;
    }
    hb_blob_t *blob = hb_blob_create(static_cast<const char *>(data), record->length,
                                     HB_MEMORY_MODE_WRITABLE, data, FreeTable);
    if (blob == hb_blob_get_empty()) {
        source->failed = true;  // HarfBuzz could not hold it (and freed data)
        return nullptr;
    }
    return blob;
}

void DestroySource(void *userData) {
    delete static_cast<TableSource *>(userData);
}

}  // namespace

hb_font_t *MakeShaperFont(const FontFileRef &file, long faceIndex) noexcept {
    auto *source = new (std::nothrow) TableSource();
    if (source == nullptr) {
        return nullptr;
    }
    try {
        source->file = file;
        if (!ReadDirectory(*file, faceIndex, &source->tables)) {
            delete source;
            return nullptr;
        }
    } catch (const std::bad_alloc &) {
        delete source;
        return nullptr;
    }
    // From here on the face owns source (also when it cannot be made).
    hb_face_t *face = hb_face_create_for_tables(ReferenceTable, source, DestroySource);
    if (face == hb_face_get_empty() ||
        !hb_face_set_user_data(face, &g_sourceKey, source, nullptr, false)) {
        hb_face_destroy(face);
        return nullptr;
    }
    hb_font_t *font = hb_font_create(face);
    hb_face_destroy(face);
    if (font == hb_font_get_empty()) {
        return nullptr;
    }
    return font;
}

bool ShaperTablesFailed(hb_font_t *font) noexcept {
    const auto *source = static_cast<const TableSource *>(
        hb_face_get_user_data(hb_font_get_face(font), &g_sourceKey));
    return source == nullptr || source->failed;
}

}  // namespace zav
