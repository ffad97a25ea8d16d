// The C interface: the format table as callers see it.
#include <string>
#include <vector>

#include "imaging/files/format_table.h"
#include "zavimage/zavimage.h"

namespace {

// The table's entries with their lists joined into C strings, made once.
struct FormatEntry {
    const zav::ImageFormat *format;
    std::string name;
    std::string description;
    std::string extensions;
    std::string grayExtensions;
};

bool Listed(std::string_view list, std::string_view word) {
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(' ', start);
        if (end == std::string_view::npos) {
            end = list.size();
        }
        if (list.substr(start, end - start) == word) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

const std::vector<FormatEntry> &Entries() {
    static const std::vector<FormatEntry> entries = [] {
        std::vector<FormatEntry> made;
        for (const zav::ImageFormat *f : zav::FormatTable::Default().Formats()) {
            FormatEntry e{f, std::string(f->name), std::string(f->description), {}, {}};
            for (std::string_view ext : zav::DescriptionExtensions(f->description)) {
                const std::string word(ext);
                e.extensions += (e.extensions.empty() ? "" : " ") + word;
                if (f->newWriter != nullptr && !Listed(f->colourExtensions, ext)) {
                    e.grayExtensions += (e.grayExtensions.empty() ? "" : " ") + word;
                }
            }
            made.push_back(std::move(e));
        }
        return made;
    }();
    return entries;
}

}  // namespace

extern "C" {

ZAV_API int32_t ZAVFormatCount(void) {
    return static_cast<int32_t>(zav::FormatTable::Default().Formats().size());
}

ZAV_API int32_t ZAVGetFormat(int32_t index, ZAVFormatInfo *info) {
    try {
        const std::vector<FormatEntry> &entries = Entries();
        if (info == nullptr || index < 0 || static_cast<std::size_t>(index) >= entries.size()) {
            return 1;
        }
        const FormatEntry &e = entries[static_cast<std::size_t>(index)];
        info->name = e.name.c_str();
        info->description = e.description.c_str();
        info->extensions = e.extensions.c_str();
        info->grayExtensions = e.grayExtensions.c_str();
        info->reads = e.format->newReader != nullptr ? 1 : 0;
        info->writes = e.format->newWriter != nullptr ? 1 : 0;
        return 0;
    } catch (...) {
        return 1;
    }
}

ZAV_API const char *ZAVFormatNameOfBytes(const void *head, size_t size) {
    if (head == nullptr) {
        return nullptr;
    }
    const auto *bytes = static_cast<const uint8_t *>(head);
    const zav::ImageFormat *format = zav::FormatTable::Default().FindReaderFormat({bytes, size});
    if (format == nullptr) {
        return nullptr;
    }
    // Names are views of string literals: NUL-terminated.
    const std::string_view name = format->kindOf != nullptr
                                      ? format->kindOf(bytes, std::min(size, zav::kSignatureBytes))
                                      : format->name;
    return name.data();
}

ZAV_API int32_t ZAVFindWriterFormat(const char *extension) {
    if (extension == nullptr) {
        return -1;
    }
    std::string_view ext(extension);
    if (!ext.empty() && ext[0] == '.') {
        ext.remove_prefix(1);
    }
    const zav::FormatTable &table = zav::FormatTable::Default();
    const zav::ImageFormat *format = table.FindExtensionFormat(ext);
    if (format == nullptr || format->newWriter == nullptr) {
        return -1;
    }
    const auto formats = table.Formats();
    for (std::size_t i = 0; i < formats.size(); ++i) {
        if (formats[i] == format) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

}  // extern "C"
