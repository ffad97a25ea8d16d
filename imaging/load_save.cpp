// The load and save operations of the component object: names, records and the file status.
#include <exception>
#include <new>
#include <optional>
#include <string>

#include "imaging/file_name.h"
#include "imaging/format_registry.h"
#include "imaging/image_component.h"
#include "imaging/image_files.h"
#include "imaging/image_record.h"

namespace zav {

namespace {

// Runs one file operation and gives its status; a memory shortage anywhere becomes a status too.
template <typename Op>
int32_t GuardedStatus(Op &&op) noexcept {
    try {
        return op();
    } catch (const std::bad_alloc &) {
        return ZAV_FILE_NO_MEMORY;
    } catch (...) {
        return ZAV_FILE_WRITE_FAILED;
    }
}

int32_t LoadInto(const char *path, ZAVImageStruct *imageStruct) {
    ImageHeader image;
    const int32_t status = LoadImageFile(path, ImageFormatRegistry::Default(), &image);
    if (status == ZAV_FILE_OK) {
        FillImageRecord(imageStruct, image);  // the pixels now belong to the caller's record
    }
    return status;
}

int32_t LoadByName(const char *name, ZAVImageStruct *imageStruct) {
    if (imageStruct == nullptr) {
        return ZAV_FILE_NO_RECORD;
    }
    std::string normalized;
    const int32_t status = NormalizeImageFileName(name, &normalized);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    return LoadInto(normalized.c_str(), imageStruct);
}

enum class NameRules { kApply, kSkip };

int32_t Save(NameRules rules, const char *name, const uint8_t *imageData, int32_t width,
             int32_t height, int32_t depth, int32_t channels, float quality) {
    if (name == nullptr || name[0] == '\0') {
        return ZAV_FILE_NO_NAME;
    }
    // The writers take 8-bit rows of 1 or 3 samples per pixel; anything else writes no file.
    const ImageHeader image =
        WrapImageRecord(width, height, depth, channels, const_cast<uint8_t *>(imageData));
    if (depth != ZAV_DEPTH_8U || (channels != 1 && channels != 3) || width < 1 || height < 1 ||
        imageData == nullptr || image.oversized) {
        return ZAV_FILE_BAD_BUFFER;
    }
    std::string normalized;
    if (rules == NameRules::kApply) {
        const int32_t status = NormalizeImageFileName(name, &normalized);
        if (status != ZAV_FILE_OK) {
            return status;
        }
        name = normalized.c_str();
    }
    return SaveImageFile(name, ImageFormatRegistry::Default(), image, quality);
}

int32_t Result(int32_t status) {
    return status == ZAV_FILE_OK ? 0 : 1;
}

}  // namespace

int32_t ImageComponent::ZAVLoadImage(const char16_t *imageFileName, ZAVImageStruct *imageStruct) {
    m_fileStatus = GuardedStatus([&] {
        if (imageStruct == nullptr) {
            return ZAV_FILE_NO_RECORD;
        }
        const std::optional<std::string> name = Utf16ToUtf8Name(imageFileName);
        return LoadByName(name ? name->c_str() : nullptr, imageStruct);
    });
    return Result(m_fileStatus);
}

int32_t ImageComponent::ZAVLoadImageUtf8(const char *imageFileName, ZAVImageStruct *imageStruct) {
    m_fileStatus = GuardedStatus([&] { return LoadByName(imageFileName, imageStruct); });
    return Result(m_fileStatus);
}

int32_t ImageComponent::ZAVLoadImagePath(const char *path, ZAVImageStruct *imageStruct) {
    m_fileStatus = GuardedStatus([&] {
        if (imageStruct == nullptr) {
            return ZAV_FILE_NO_RECORD;
        }
        if (path == nullptr || path[0] == '\0') {
            return ZAV_FILE_NO_NAME;
        }
        return LoadInto(path, imageStruct);
    });
    return Result(m_fileStatus);
}

int32_t ImageComponent::ZAVSaveImage(const char16_t *imageFileName, const uint8_t *imageData,
                                     int32_t width, int32_t height, int32_t depth,
                                     int32_t channels) {
    m_fileStatus = GuardedStatus([&] {
        const std::optional<std::string> name = Utf16ToUtf8Name(imageFileName);
        return Save(NameRules::kApply, name ? name->c_str() : nullptr, imageData, width, height,
                    depth, channels, m_fQuality);
    });
    return Result(m_fileStatus);
}

int32_t ImageComponent::ZAVSaveImageUtf8(const char *imageFileName, const uint8_t *imageData,
                                         int32_t width, int32_t height, int32_t depth,
                                         int32_t channels) {
    m_fileStatus = GuardedStatus([&] {
        return Save(NameRules::kApply, imageFileName, imageData, width, height, depth, channels,
                    m_fQuality);
    });
    return Result(m_fileStatus);
}

int32_t ImageComponent::ZAVSaveImagePath(const char *path, const uint8_t *imageData, int32_t width,
                                         int32_t height, int32_t depth, int32_t channels) {
    m_fileStatus = GuardedStatus([&] {
        return Save(NameRules::kSkip, path, imageData, width, height, depth, channels, m_fQuality);
    });
    return Result(m_fileStatus);
}

}  // namespace zav
