// Loading, saving and probing files: names, the format table, the file's bytes and the codecs.
#include "imaging/files/image_files.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "imaging/files/file_bytes.h"
#include "imaging/files/file_name.h"
#include "imaging/files/file_sink.h"
#include "imaging/files/file_status.h"
#include "imaging/files/memory_sink.h"
#include "zavimage/zavimage.h"

namespace zav {

namespace {

// The name to open: `name` itself, or its normalized copy in *normalized when the rules apply.
int32_t NameToOpen(const char *name, NameRules rules, std::string *normalized, const char **open) {
    if (rules == NameRules::kApply) {
        const int32_t status = NormalizeImageFileName(name, normalized);
        *open = normalized->c_str();
        return status;
    }
    *open = name;
    return name == nullptr || name[0] == '\0' ? ZAV_FILE_NO_NAME : ZAV_FILE_OK;
}

// Opens the file `name` stands for, to read.
int32_t OpenToRead(const char *name, NameRules rules, FileBytes *file) {
    std::string normalized;
    const char *path = nullptr;
    const int32_t status = NameToOpen(name, rules, &normalized, &path);
    return status == ZAV_FILE_OK ? file->Open(path) : status;
}

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
    // The buffer came uncleared: zero the 0..3 bytes of padding after each row's pixels.
    const size_t row = static_cast<size_t>(decoded.width) * 3;
    const size_t pad = static_cast<size_t>(decoded.widthStep) - row;
    if (pad > 0) {
        for (int32_t y = 0; y < decoded.height; ++y) {
            std::memset(decoded.imageData + static_cast<size_t>(y) * decoded.widthStep + row, 0,
                        pad);
        }
    }
    *image = decoded;
    return ZAV_FILE_OK;
}

// Runs a reader's header step, then decodes into a new buffer (at 1/`reduce` of the size where
// the reader can).
int32_t Decode(ImageReader &reader, ImageHeader *image, unsigned reduce) {
    ImageInfo info;
    int32_t status = FileStatusFromCodec(reader.ReadHeader(&info));
    if (status == ZAV_FILE_OK && PictureSizeStatus(info) == ZAV_FILE_OK) {
        status = FileStatusFromCodec(reader.CanFill());  // before the buffer is allocated
    }
    if (status != ZAV_FILE_OK) {
        return status;
    }
    if (reduce > 1 && PictureSizeStatus(info) == ZAV_FILE_OK) {
        reader.ReduceScale(reduce, &info);
    }
    return DecodeNewImage(info, image, [&](ImageHeader &decoded) {
        return FileStatusFromCodec(
            reader.ReadData(decoded.imageData, static_cast<std::size_t>(decoded.widthStep)));
    });
}

// The format a source's first bytes name; the format table is asked once.
int32_t FindFormat(ByteSource &source, const ImageFormat **format) {
    if (source.Size() > kMaxImageFileBytes) {
        return ZAV_FILE_TOO_LARGE;
    }
    // The head every reader's header step starts from is read at once.
    std::span<const uint8_t> head;
    const CodecStatus read =
        source.InMemory() ? source.Whole(&head) : source.Prefix(kReaderHeadBytes, &head);
    if (read != CodecStatus::kOk) {
        return FileStatusFromCodec(read);
    }
    *format = FormatTable::Default().FindReaderFormat(head);
    return *format == nullptr ? ZAV_FILE_UNKNOWN_FORMAT : ZAV_FILE_OK;
}

// A probe's answer once the header step succeeded.
int32_t ProbeResult(const ImageFormat *found, const ImageInfo &read, const ImageFormat **format,
                    ImageInfo *info) {
    const int32_t status = PictureSizeStatus(read);
    if (status == ZAV_FILE_OK) {
        *format = found;
        *info = read;
    }
    return status;
}

}  // namespace

int32_t PictureSizeStatus(const ImageInfo &info) noexcept {
    if (info.width < 1 || info.height < 1) {
        return ZAV_FILE_CORRUPT;
    }
    return FitsDecodeLimit(info.width, info.height) ? ZAV_FILE_OK : ZAV_FILE_TOO_LARGE;
}

int32_t LoadImageSource(ByteSource &source, ImageHeader *image, unsigned reduce) {
    // The format's reader reads what it needs through the source: its header from the head, then
    // the rest (rows stored as the buffer holds them straight into the buffer).
    const ImageFormat *format = nullptr;
    const int32_t status = FindFormat(source, &format);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const std::unique_ptr<ImageReader> reader = format->newReader(source);
    return reader ? Decode(*reader, image, reduce) : ZAV_FILE_NO_MEMORY;
}

int32_t LoadImageFile(const char *name, NameRules rules, ImageHeader *image, unsigned reduce) {
    FileBytes file;
    const int32_t status = OpenToRead(name, rules, &file);
    return status == ZAV_FILE_OK ? LoadImageSource(file, image, reduce) : status;
}

int32_t LoadImageBytes(std::span<const uint8_t> file, ImageHeader *image, unsigned reduce) {
    MemorySource source(file);
    return LoadImageSource(source, image, reduce);
}

namespace {

// The buffer as a writer's request; ZAV_FILE_BAD_BUFFER for buffers no writer takes (8-bit rows of
// 1 or 3 samples per pixel only).
int32_t MakeWriteRequest(const uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                         int32_t channels, float quality, WriteRequest *request) {
    const ImageHeader image =
        WrapImageRecord(width, height, depth, channels, const_cast<uint8_t *>(imageData));
    if (depth != ZAV_DEPTH_8U || (channels != 1 && channels != 3) || width < 1 || height < 1 ||
        imageData == nullptr || image.oversized) {
        return ZAV_FILE_BAD_BUFFER;
    }
    request->pixels = image.imageData;
    request->step = static_cast<std::size_t>(image.widthStep);
    request->width = image.width;
    request->height = image.height;
    request->color = image.nChannels == 3;
    request->quality = quality;
    return ZAV_FILE_OK;
}

int32_t Encode(const ImageFormat &format, const WriteRequest &request, ByteSink &sink) {
    const std::unique_ptr<ImageWriter> writer = format.newWriter();
    if (!writer) {
        return ZAV_FILE_NO_MEMORY;
    }
    return FileStatusFromCodec(writer->Write(request, sink));
}

}  // namespace

int32_t SaveImageFile(const char *name, NameRules rules, const uint8_t *imageData, int32_t width,
                      int32_t height, int32_t depth, int32_t channels, float quality,
                      SaveExisting existing, int base) {
    if (name == nullptr || name[0] == '\0') {
        return ZAV_FILE_NO_NAME;
    }
    WriteRequest request;
    int32_t status = MakeWriteRequest(imageData, width, height, depth, channels, quality, &request);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    std::string normalized;
    const char *path = nullptr;
    status = NameToOpen(name, rules, &normalized, &path);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const ImageFormat *format = FormatTable::Default().FindWriterFormat(path);
    if (format == nullptr) {
        return ZAV_FILE_UNKNOWN_EXTENSION;
    }
    ReplacingFileSink sink;
    status = sink.Open(path, ReplacingFileSink::Staging::kUnnamedFile,
                       existing == SaveExisting::kKeep ? ReplacingFileSink::Existing::kKeep
                                                       : ReplacingFileSink::Existing::kReplace,
                       base);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    status = Encode(*format, request, sink);
    if (status != ZAV_FILE_OK) {
        // The sink knows why a write failed (a full disk, ...); it leaves nothing behind.
        return sink.WriteFailure() != ZAV_FILE_OK ? sink.WriteFailure() : status;
    }
    return sink.Commit();
}

int32_t SaveImageMemory(std::string_view extension, const uint8_t *imageData, int32_t width,
                        int32_t height, int32_t depth, int32_t channels, float quality,
                        uint8_t **bytes, std::size_t *size) {
    WriteRequest request;
    int32_t status = MakeWriteRequest(imageData, width, height, depth, channels, quality, &request);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const ImageFormat *format = FormatTable::Default().FindExtensionFormat(extension);
    if (format == nullptr) {
        return ZAV_FILE_UNKNOWN_EXTENSION;
    }
    MemorySink sink;
    status = Encode(*format, request, sink);
    if (sink.Failed()) {
        return ZAV_FILE_NO_MEMORY;
    }
    if (status != ZAV_FILE_OK) {
        return status;
    }
    *bytes = sink.Release(size);
    return ZAV_FILE_OK;
}

int32_t ProbeImageSource(ByteSource &source, const ImageFormat **format, ImageInfo *info) {
    // Only what the header step reads: the head, or more where the header runs past it.
    const ImageFormat *found = nullptr;
    int32_t status = FindFormat(source, &found);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const std::unique_ptr<ImageReader> reader = found->newReader(source);
    if (!reader) {
        return ZAV_FILE_NO_MEMORY;
    }
    ImageInfo read;
    status = FileStatusFromCodec(reader->ReadHeader(&read));
    return status == ZAV_FILE_OK ? ProbeResult(found, read, format, info) : status;
}

int32_t ProbeImageFile(const char *name, NameRules rules, const ImageFormat **format,
                       ImageInfo *info) {
    FileBytes file;
    const int32_t status = OpenToRead(name, rules, &file);
    return status == ZAV_FILE_OK ? ProbeImageSource(file, format, info) : status;
}

}  // namespace zav
