// The component's quality, and its loads, saves and probe: names and records around the file work.
#include "imaging/api/image_component.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "imaging/buffer/block_registry.h"
#include "imaging/buffer/image_record.h"
#include "imaging/files/file_name.h"
#include "imaging/files/image_files.h"

namespace zav {

namespace {

// A caller's denominator as the loader takes it: 2, 4 or 8, anything else the full size.
unsigned Reduction(int32_t denominator) {
    return denominator == 2 || denominator == 4 || denominator == 8
               ? static_cast<unsigned>(denominator)
               : 1u;
}

// A load into the caller's record: refused without a record; the pixels belong to the record once
// `load` succeeds.
template <typename Load>
int32_t LoadToRecord(ZAVImageStruct *record, Load &&load) {
    if (record == nullptr) {
        return ZAV_FILE_NO_RECORD;
    }
    ImageHeader image;
    const int32_t status = load(&image);
    if (status == ZAV_FILE_OK) {
        FillImageRecord(record, image);
    }
    return status;
}

}  // namespace

int32_t ImageComponent::ZAVSetImageQuality(float fQuality) noexcept {
    // Stored as given: no range check, no rounding; NaN and infinities included.
    m_fQuality = fQuality;
    return 0;
}

int32_t ImageComponent::FileResult(int32_t status) noexcept {
    m_fileStatus = status;
    return status == ZAV_FILE_OK ? 0 : 1;
}

void ImageComponent::ExceptionEscaped(FileWork work, bool outOfMemory) noexcept {
    if (work == FileWork::kNone) {
        return;
    }
    if (outOfMemory) {
        m_fileStatus = ZAV_FILE_NO_MEMORY;
    } else {
        m_fileStatus = work == FileWork::kLoad ? ZAV_FILE_READ_FAILED : ZAV_FILE_WRITE_FAILED;
    }
}

int32_t ImageComponent::ZAVLoadImage(const char16_t *imageFileName, ZAVImageStruct *imageStruct) {
    return FileResult(LoadToRecord(imageStruct, [&](ImageHeader *image) {
        const std::optional<std::string> name = Utf16ToUtf8Name(imageFileName);
        return LoadImageFile(name ? name->c_str() : nullptr, NameRules::kApply, image);
    }));
}

int32_t ImageComponent::ZAVLoadImageUtf8(const char *imageFileName, ZAVImageStruct *imageStruct) {
    return FileResult(LoadToRecord(imageStruct, [&](ImageHeader *image) {
        return LoadImageFile(imageFileName, NameRules::kApply, image);
    }));
}

int32_t ImageComponent::ZAVLoadImagePath(const char *path, ZAVImageStruct *imageStruct) {
    return ZAVLoadImagePathScaled(path, 1, imageStruct);
}

int32_t ImageComponent::ZAVLoadImagePathScaled(const char *path, int32_t denominator,
                                               ZAVImageStruct *imageStruct) {
    return FileResult(LoadToRecord(imageStruct, [&](ImageHeader *image) {
        return LoadImageFile(path, NameRules::kSkip, image, Reduction(denominator));
    }));
}

int32_t ImageComponent::ZAVSaveImage(const char16_t *imageFileName, const uint8_t *imageData,
                                     int32_t width, int32_t height, int32_t depth,
                                     int32_t channels) {
    const std::optional<std::string> name = Utf16ToUtf8Name(imageFileName);
    return FileResult(SaveImageFile(name ? name->c_str() : nullptr, NameRules::kApply, imageData,
                                    width, height, depth, channels, m_fQuality));
}

int32_t ImageComponent::ZAVSaveImageUtf8(const char *imageFileName, const uint8_t *imageData,
                                         int32_t width, int32_t height, int32_t depth,
                                         int32_t channels) {
    return FileResult(SaveImageFile(imageFileName, NameRules::kApply, imageData, width, height,
                                    depth, channels, m_fQuality));
}

int32_t ImageComponent::ZAVSaveImagePath(const char *path, const uint8_t *imageData, int32_t width,
                                         int32_t height, int32_t depth, int32_t channels,
                                         uint32_t flags) {
    const SaveExisting existing =
        (flags & ZAV_SAVE_NO_REPLACE) != 0 ? SaveExisting::kKeep : SaveExisting::kReplace;
    return FileResult(SaveImageFile(path, NameRules::kSkip, imageData, width, height, depth,
                                    channels, m_fQuality, existing));
}

int32_t ImageComponent::ZAVSaveImageAt(int folder, const char *name, const uint8_t *imageData,
                                       int32_t width, int32_t height, int32_t depth,
                                       int32_t channels, uint32_t flags) {
    if (folder < 0) {
        return FileResult(ZAV_FILE_NOT_FOUND);
    }
    // One name in the folder: nothing above it is looked up by path.
    if (name != nullptr && std::strchr(name, '/') != nullptr) {
        return FileResult(ZAV_FILE_NAME_REFUSED + '/');
    }
    const SaveExisting existing =
        (flags & ZAV_SAVE_NO_REPLACE) != 0 ? SaveExisting::kKeep : SaveExisting::kReplace;
    return FileResult(SaveImageFile(name, NameRules::kSkip, imageData, width, height, depth,
                                    channels, m_fQuality, existing, folder));
}

namespace {

// A probe's outputs, filled only when it succeeded.
int32_t GiveProbe(int32_t status, const ImageFormat *found, const ImageInfo &info,
                  const char **format, int32_t *width, int32_t *height, int32_t *channels) {
    if (status == ZAV_FILE_OK) {
        // Descriptions are string literals: NUL-terminated and static.
        *format = found->description.data();
        *width = info.width;
        *height = info.height;
        *channels = info.color ? 3 : 1;
    }
    return status;
}

// The caller's bytes; null counts as none.
std::span<const uint8_t> CallerBytes(const void *bytes, std::size_t size) {
    if (bytes == nullptr) {
        return {};
    }
    return {static_cast<const uint8_t *>(bytes), size};
}

}  // namespace

int32_t ImageComponent::ZAVProbeImageFileUtf8(const char *imageFileName, const char **format,
                                              int32_t *width, int32_t *height) {
    int32_t channels = 0;
    return Probe(imageFileName, NameRules::kApply, format, width, height, &channels);
}

int32_t ImageComponent::ZAVProbeImagePath(const char *path, const char **format, int32_t *width,
                                          int32_t *height, int32_t *channels) {
    return Probe(path, NameRules::kSkip, format, width, height, channels);
}

int32_t ImageComponent::Probe(const char *name, NameRules rules, const char **format,
                              int32_t *width, int32_t *height, int32_t *channels) {
    if (format == nullptr || width == nullptr || height == nullptr || channels == nullptr) {
        return FileResult(ZAV_FILE_NO_RECORD);
    }
    const ImageFormat *found = nullptr;
    ImageInfo info;
    const int32_t status = ProbeImageFile(name, rules, &found, &info);
    return FileResult(GiveProbe(status, found, info, format, width, height, channels));
}

int32_t ImageComponent::ZAVProbeImageMemory(const void *bytes, std::size_t size,
                                            const char **format, int32_t *width, int32_t *height,
                                            int32_t *channels) {
    if (format == nullptr || width == nullptr || height == nullptr || channels == nullptr) {
        return FileResult(ZAV_FILE_NO_RECORD);
    }
    const ImageFormat *found = nullptr;
    ImageInfo info;
    MemorySource source(CallerBytes(bytes, size));
    const int32_t status = ProbeImageSource(source, &found, &info);
    return FileResult(GiveProbe(status, found, info, format, width, height, channels));
}

int32_t ImageComponent::ZAVLoadImageMemory(const void *bytes, std::size_t size,
                                           ZAVImageStruct *imageStruct) {
    return ZAVLoadImageMemoryScaled(bytes, size, 1, imageStruct);
}

int32_t ImageComponent::ZAVLoadImageMemoryScaled(const void *bytes, std::size_t size,
                                                 int32_t denominator, ZAVImageStruct *imageStruct) {
    return FileResult(LoadToRecord(imageStruct, [&](ImageHeader *image) {
        return LoadImageBytes(CallerBytes(bytes, size), image, Reduction(denominator));
    }));
}

int32_t ImageComponent::ZAVSaveImageMemory(const char *format, const uint8_t *imageData,
                                           int32_t width, int32_t height, int32_t depth,
                                           int32_t channels, uint8_t **bytes, std::size_t *size) {
    if (bytes == nullptr || size == nullptr) {
        return FileResult(ZAV_FILE_NO_RECORD);
    }
    *bytes = nullptr;
    *size = 0;
    int32_t status = SaveImageMemory(format == nullptr ? std::string_view{} : format, imageData,
                                     width, height, depth, channels, m_fQuality, bytes, size);
    // The block is ZAVFreeMemory's from here on.
    if (status == ZAV_FILE_OK && !RecordBlock(*bytes, BlockKind::kMemory)) {
        std::free(*bytes);
        *bytes = nullptr;
        *size = 0;
        status = ZAV_FILE_NO_MEMORY;
    }
    return FileResult(status);
}

}  // namespace zav
