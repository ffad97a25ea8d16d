// What an image file holds, from its header alone.
#include <memory>
#include <string>

#include "imaging/file_bytes.h"
#include "imaging/file_name.h"
#include "imaging/format_registry.h"
#include "imaging/image_component.h"
#include "imaging/image_files.h"

namespace zav {
namespace {

int32_t Probe(const char *path, const char **format, int32_t *width, int32_t *height) {
    FileBytes file;
    int32_t status = file.Read(path);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const ImageFormatFilter *filter = nullptr;
    std::unique_ptr<ImageReader> reader;
    ImageInfo info;
    status = ReadImageHeader(file.Bytes(), ImageFormatRegistry::Default(), &filter, &reader, &info);
    if (status == ZAV_FILE_OK) {
        status = PictureSizeStatus(info);
    }
    if (status != ZAV_FILE_OK) {
        return status;
    }
    // Descriptions are string literals: NUL-terminated and static.
    *format = filter->Description().data();
    *width = info.width;
    *height = info.height;
    return ZAV_FILE_OK;
}

}  // namespace

int32_t ImageComponent::ZAVProbeImageFileUtf8(const char *imageFileName, const char **format,
                                              int32_t *width, int32_t *height) {
    if (format == nullptr || width == nullptr || height == nullptr) {
        m_fileStatus = ZAV_FILE_NO_RECORD;
        return 1;
    }
    try {
        std::string normalized;
        m_fileStatus = NormalizeImageFileName(imageFileName, &normalized);
        if (m_fileStatus == ZAV_FILE_OK) {
            m_fileStatus = Probe(normalized.c_str(), format, width, height);
        }
    } catch (...) {
        m_fileStatus = ZAV_FILE_NO_MEMORY;
    }
    return m_fileStatus == ZAV_FILE_OK ? 0 : 1;
}

}  // namespace zav
