#include "imaging/image_files.h"

#include <cstddef>
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

namespace {

// The first bytes of a file read before the rest: enough for the header, colour map and palette of
// every format whose rows may be read straight into the buffer.
constexpr std::size_t kHeadBytes = std::size_t{64} << 10;

// Allocates the buffer for a picture whose header step gave `info`; then `decode` fills it.
template <typename Decode>
int32_t DecodeNewImage(const ImageInfo &info, ImageHeader *image, Decode &&decode) {
    // Refused before anything is allocated.
    if (const int32_t size = PictureSizeStatus(info); size != ZAV_FILE_OK) {
        return size;
    }
    ImageHeader decoded = CreateImage(info.width, info.height, ZAV_DEPTH_8U, 3);
    if (decoded.imageData == nullptr) {
        return ZAV_FILE_NO_MEMORY;
    }
    const int32_t status = decode(decoded);
    if (status != ZAV_FILE_OK) {
        ReleaseImageData(&decoded);  // no partial picture is handed out
        return status;
    }
    *image = decoded;
    return ZAV_FILE_OK;
}

// Where the head of a file shows that its rows are stored as the buffer holds them: copies them
// from the file into a new buffer. False when the whole file must be read instead (*status is
// then untouched).
bool LoadPlainRows(FileBytes &file, const ImageFormatRegistry &registry, ImageHeader *image,
                   int32_t *status) {
    const ImageFormatFilter *filter = registry.FindReaderFilter(file.Bytes());
    if (filter == nullptr) {
        return false;
    }
    const std::unique_ptr<ImageReader> head = filter->NewHeadReader(file.Bytes(), file.FileSize());
    ImageInfo info;
    PlainRows plain;
    if (!head || head->ReadHeader(&info) != CodecStatus::kOk || !head->FindPlainRows(&plain) ||
        info.width < 1 || info.height < 1 ||
        plain.fileStep - static_cast<uint64_t>(info.width) * 3 > FileBytes::kMaxRowGap) {
        return false;
    }
    *status = DecodeNewImage(info, image, [&](ImageHeader &decoded) {
        FileRows rows;
        rows.offset = plain.offset;
        rows.fileStep = plain.fileStep;
        rows.rowBytes = static_cast<std::size_t>(decoded.width) * 3;
        rows.count = static_cast<uint32_t>(decoded.height);
        rows.bottomUp = plain.bottomUp;
        return file.ReadRows(rows, decoded.imageData, static_cast<std::size_t>(decoded.widthStep));
    });
    return true;
}

// Where the file's format reads through a source: decodes it so, reading only what it needs.
// False when the whole file must be read instead (*status is then untouched).
bool LoadThroughSource(FileBytes &file, const ImageFormatRegistry &registry, ImageHeader *image,
                       int32_t *status) {
    const ImageFormatFilter *filter = registry.FindReaderFilter(file.Bytes());
    if (filter == nullptr) {
        return false;
    }
    const std::unique_ptr<ImageReader> reader = filter->NewSourceReader(file);
    if (!reader) {
        return false;
    }
    ImageInfo info;
    *status = FileStatusFromCodec(reader->ReadHeader(&info));
    if (*status == ZAV_FILE_OK) {
        *status = DecodeNewImage(info, image, [&](ImageHeader &decoded) {
            return FileStatusFromCodec(
                reader->ReadData(decoded.imageData, static_cast<std::size_t>(decoded.widthStep)));
        });
    }
    return true;
}

}  // namespace

int32_t LoadImageFile(const char *path, const ImageFormatRegistry &registry, ImageHeader *image) {
    FileBytes file;
    int32_t status = file.ReadHead(path, kHeadBytes);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    if (!file.Complete()) {
        if (LoadPlainRows(file, registry, image, &status) ||
            LoadThroughSource(file, registry, image, &status)) {
            return status;
        }
        status = file.ReadRest();
        if (status != ZAV_FILE_OK) {
            return status;
        }
    }
    return LoadImageBytes(file.Bytes(), registry, image);
}

int32_t PictureSizeStatus(const ImageInfo &info) noexcept {
    if (info.width < 1 || info.height < 1) {
        return ZAV_FILE_CORRUPT;
    }
    return FitsDecodeLimit(info.width, info.height) ? ZAV_FILE_OK : ZAV_FILE_TOO_LARGE;
}

int32_t ReadImageHeader(std::span<const uint8_t> file, const ImageFormatRegistry &registry,
                        const ImageFormatFilter **filter, std::unique_ptr<ImageReader> *reader,
                        ImageInfo *info) {
    *filter = registry.FindReaderFilter(file);
    if (*filter == nullptr) {
        return ZAV_FILE_UNKNOWN_FORMAT;
    }
    *reader = (*filter)->NewReader(file);
    if (!*reader) {
        return ZAV_FILE_NO_MEMORY;
    }
    return FileStatusFromCodec((*reader)->ReadHeader(info));
}

int32_t LoadImageBytes(std::span<const uint8_t> file, const ImageFormatRegistry &registry,
                       ImageHeader *image) {
    const ImageFormatFilter *filter = nullptr;
    std::unique_ptr<ImageReader> reader;
    ImageInfo info;
    const int32_t status = ReadImageHeader(file, registry, &filter, &reader, &info);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    return DecodeNewImage(info, image, [&](ImageHeader &decoded) {
        return FileStatusFromCodec(
            reader->ReadData(decoded.imageData, static_cast<std::size_t>(decoded.widthStep)));
    });
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
