#include "imaging/files/file_status.h"

#include <cerrno>
#include <string>

#include "imaging/files/format_table.h"

#include "zavimage/zavimage.h"

namespace zav {
namespace {

// "not BMP, JPEG, ... or PNG" and "none of bmp dib ...", from the format table, made once.
struct FormatTexts {
    std::string unknownFormat = "unsupported format: not ";
    std::string unknownExtension = "unsupported format: the extension is none of";
    FormatTexts() {
        const auto formats = FormatTable::Default().Formats();
        for (std::size_t i = 0; i < formats.size(); ++i) {
            if (i != 0) {
                unknownFormat += i + 1 == formats.size() ? " or " : ", ";
            }
            unknownFormat += formats[i]->name;
            if (formats[i]->newWriter != nullptr) {
                for (std::string_view ext : DescriptionExtensions(formats[i]->description)) {
                    unknownExtension += " ";
                    unknownExtension += ext;
                }
            }
        }
    }
};

const FormatTexts *Texts() noexcept {
    try {
        static const FormatTexts texts;
        return &texts;
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

const char *FileStatusText(int32_t status) noexcept {
    switch (status) {
        case ZAV_FILE_OK:
            return "ok";
        case ZAV_FILE_NO_NAME:
            return "no file name";
        case ZAV_FILE_NAME_TOO_LONG:
            return "name refused: longer than 259 bytes";
        case ZAV_FILE_NOT_FOUND:
            return "file not found";
        case ZAV_FILE_NO_ACCESS:
            return "permission denied";
        case ZAV_FILE_READ_FAILED:
            return "not a readable file";
        case ZAV_FILE_UNKNOWN_FORMAT:
            return Texts() != nullptr ? Texts()->unknownFormat.c_str() : "unsupported format";
        case ZAV_FILE_UNKNOWN_EXTENSION:
            return Texts() != nullptr ? Texts()->unknownExtension.c_str() : "unsupported format";
        case ZAV_FILE_UNSUPPORTED:
            return "unsupported format variant";
        case ZAV_FILE_CORRUPT:
            return "corrupt data";
        case ZAV_FILE_TRUNCATED:
            return "data end early";
        case ZAV_FILE_TOO_LARGE:
            return "would exceed 1 GiB";
        case ZAV_FILE_NO_MEMORY:
            return "out of memory";
        case ZAV_FILE_WRITE_FAILED:
            return "write failed";
        case ZAV_FILE_BAD_BUFFER:
            return "buffer not saveable (needs depth 8, 1 or 3 channels, size >= 1, data)";
        case ZAV_FILE_NO_RECORD:
            return "no image record";
        case ZAV_FILE_DISK_FULL:
            return "disk full";
        case ZAV_FILE_QUOTA_EXCEEDED:
            return "disk quota exceeded";
        case ZAV_FILE_PATH_TOO_LONG:
            return "name too long for the file system";
        case ZAV_FILE_IS_LINK:
            return "is a symbolic link";
        case ZAV_FILE_EXISTS:
            return "file exists";
        case ZAV_FILE_SIZE_LIMIT:
            return "file too large";
        case ZAV_FILE_METADATA_LIMIT:
            return "too many ancillary chunks (text and other metadata)";
        case ZAV_FILE_BAD_PIXEL_OFFSET:
            return "corrupt data: the pixels start inside the colour table";
        case ZAV_FILE_NAME_REFUSED + '*':
            return "name refused: contains '*'";
        case ZAV_FILE_NAME_REFUSED + '?':
            return "name refused: contains '?'";
        case ZAV_FILE_NAME_REFUSED + '"':
            return "name refused: contains '\"'";
        case ZAV_FILE_NAME_REFUSED + '<':
            return "name refused: contains '<'";
        case ZAV_FILE_NAME_REFUSED + '>':
            return "name refused: contains '>'";
        case ZAV_FILE_NAME_REFUSED + ';':
            return "name refused: contains ';'";
        case ZAV_FILE_NAME_REFUSED + '|':
            return "name refused: contains '|'";
        default:
            return "unknown status";
    }
}

int32_t FileStatusFromErrno(int error, int32_t otherwise) noexcept {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return ZAV_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return ZAV_FILE_NO_ACCESS;
        case ENOMEM:
            return ZAV_FILE_NO_MEMORY;
        case ENOSPC:
            return ZAV_FILE_DISK_FULL;
        case EDQUOT:
            return ZAV_FILE_QUOTA_EXCEEDED;
        case ENAMETOOLONG:
            return ZAV_FILE_PATH_TOO_LONG;
        case EFBIG:
            return ZAV_FILE_SIZE_LIMIT;
        default:
            return otherwise;
    }
}

int32_t FileStatusFromCodec(CodecStatus status) noexcept {
    return static_cast<int32_t>(status);  // the codec statuses are file statuses
}

}  // namespace zav
