#include "imaging/image_files.h"

#include <memory>

#include "imaging/file_bytes.h"
#include "imaging/file_sink.h"
#include "zavimage/zavimage.h"

namespace zav {

int32_t FileStatusFromCodec(CodecStatus status) noexcept {
    switch (status) {
        case CodecStatus::kOk:
            return ZAV_FILE_OK;
        case CodecStatus::kUnsupported:
            return ZAV_FILE_UNSUPPORTED;
        case CodecStatus::kCorrupt:
            return ZAV_FILE_CORRUPT;
        case CodecStatus::kTruncated:
            return ZAV_FILE_TRUNCATED;
        case CodecStatus::kTooLarge:
            return ZAV_FILE_TOO_LARGE;
        case CodecStatus::kNoMemory:
            return ZAV_FILE_NO_MEMORY;
        case CodecStatus::kIoError:
            return ZAV_FILE_WRITE_FAILED;
    }
    return ZAV_FILE_CORRUPT;
}

int32_t LoadImageFile(const char *path, const ImageFormatRegistry &registry, ImageHeader *image) {
    FileBytes file;
    const int32_t status = file.Read(path);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    return LoadImageBytes(file.Bytes(), registry, image);
}

int32_t LoadImageBytes(std::span<const uint8_t> file, const ImageFormatRegistry &registry,
                       ImageHeader *image) {
    const ImageFormatFilter *filter = registry.FindReaderFilter(file);
    if (filter == nullptr) {
        return ZAV_FILE_UNKNOWN_FORMAT;
    }
    const std::unique_ptr<ImageReader> reader = filter->NewReader(file);
    if (!reader) {
        return ZAV_FILE_NO_MEMORY;
    }
    ImageInfo info;
    int32_t status = FileStatusFromCodec(reader->ReadHeader(&info));
    if (status != ZAV_FILE_OK) {
        return status;
    }
    if (info.width < 1 || info.height < 1) {
        return ZAV_FILE_CORRUPT;
    }
    // Refused before anything is allocated: the buffer would exceed 2^30 bytes.
    if (!FitsDecodeLimit(info.width, info.height)) {
        return ZAV_FILE_TOO_LARGE;
    }
    ImageHeader decoded = CreateImage(info.width, info.height, ZAV_DEPTH_8U, 3);
    if (decoded.imageData == nullptr) {
        return ZAV_FILE_NO_MEMORY;
    }
    status = FileStatusFromCodec(
        reader->ReadData(decoded.imageData, static_cast<std::size_t>(decoded.widthStep)));
    if (status != ZAV_FILE_OK) {
        ReleaseImageData(&decoded);  // no partial picture is handed out
        return status;
    }
    *image = decoded;
    return ZAV_FILE_OK;
}

int32_t SaveImageFile(const char *path, const ImageFormatRegistry &registry,
                      const ImageHeader &image, float quality) {
    const std::unique_ptr<ImageWriter> writer = registry.FindWriter(path);
    if (!writer) {
        return registry.FindWriterFilter(path) == nullptr ? ZAV_FILE_UNKNOWN_EXTENSION
                                                          : ZAV_FILE_NO_MEMORY;
    }
    ReplacingFileSink sink;
    int32_t status = sink.Open(path);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    WriteRequest request;
    request.pixels = image.imageData;
    request.step = static_cast<std::size_t>(image.widthStep);
    request.width = image.width;
    request.height = image.height;
    request.color = image.nChannels == 3;
    request.quality = quality;
    status = FileStatusFromCodec(writer->Write(request, sink));
    if (status != ZAV_FILE_OK) {
        return status;  // the sink removes its temporary file
    }
    return sink.Commit();
}

}  // namespace zav
