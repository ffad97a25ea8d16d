// The contract between the format table and one format's reader and writer.
//
// A reader works on the whole file in memory: its header step gives the picture's size and whether
// it holds colour; its data step decodes into an 8-bit blue-green-red buffer at a given row step,
// top row first. A writer encodes 8-bit gray or blue-green-red rows into a byte sink.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "zavimage/zavimage.h"

namespace zav {

// Why a read or a write stopped. Separates bad input from incomplete input and from limits.
enum class CodecStatus {
    kOk,
    kUnsupported,  // a variant of the format this reader does not decode
    kCorrupt,      // malformed data
    kTruncated,    // the data end before the picture is complete
    kTooLarge,     // the picture's 8-bit, 3-channel buffer would exceed 2^30 bytes
    kNoMemory,     // an allocation failed
    kIoError,      // the sink refused bytes
};

// What a reader's header step tells.
struct ImageInfo {
    int32_t width = 0;   // at least 1 after a successful header step
    int32_t height = 0;  // at least 1 after a successful header step
    bool color = false;  // the file holds colour (gray and bilevel files do not)
};

// Random access to a file that is not held in memory as a whole.
class FileSource {
  public:
    virtual ~FileSource() = default;
    // The file's size when it was opened.
    virtual uint64_t Size() const = 0;
    // Copies up to `size` bytes from `offset` into `dst`: the count copied (fewer only where the
    // file ends, or where it shrank), or -1 when reading failed.
    virtual int64_t ReadAt(uint64_t offset, void *dst, std::size_t size) = 0;
};

// Where a picture's rows lie in its file when they are stored exactly as the buffer holds them
// (width * 3 bytes of blue, green, red each).
struct PlainRows {
    uint64_t offset = 0;    // of the first stored row
    uint64_t fileStep = 0;  // from one stored row to the next; at least width * 3
    bool bottomUp = false;  // the first stored row is the picture's bottom row
};

class ImageReader {
  public:
    virtual ~ImageReader() = default;
    // Parses the header. Must be called once, before ReadData.
    virtual CodecStatus ReadHeader(ImageInfo *info) = 0;
    // Decodes the picture into `bgr`: height rows of width * 3 bytes (blue, green, red), `step`
    // bytes apart, top row first. Writes nothing outside those rows; may leave the buffer partly
    // written when it fails.
    virtual CodecStatus ReadData(uint8_t *bgr, std::size_t step) = 0;
    // After a successful header step: true when every row is stored as the buffer holds it and
    // lies wholly within the file, so that a loader may copy the rows from the file instead of
    // calling ReadData (the result is the same).
    virtual bool FindPlainRows(PlainRows *) const { return false; }
};

// Where a writer puts its bytes.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    // Appends bytes; false when they could not be written (the sink stays failed).
    virtual bool Write(const void *bytes, std::size_t size) = 0;
};

// A sink into memory, for tests and tools.
class VectorSink final : public ByteSink {
  public:
    bool Write(const void *bytes, std::size_t size) override {
        const auto *p = static_cast<const uint8_t *>(bytes);
        data.insert(data.end(), p, p + size);
        return true;
    }
    std::vector<uint8_t> data;
};

// What a writer is asked to write: 8-bit rows, one sample per pixel (gray) or three (blue, green,
// red), `step` bytes apart, top row first. `quality` is the object's save quality, bit for bit.
struct WriteRequest {
    const uint8_t *pixels = nullptr;
    std::size_t step = 0;
    int32_t width = 0;   // at least 1
    int32_t height = 0;  // at least 1
    bool color = false;
    float quality = 2.0f;
};

class ImageWriter {
  public:
    virtual ~ImageWriter() = default;
    // Encodes the whole picture into the sink. Never modifies the caller's pixels.
    virtual CodecStatus Write(const WriteRequest &request, ByteSink &sink) = 0;
};

// True when a width x height picture fits an 8-bit, 3-channel buffer (rows padded to 4 bytes) of at
// most ZAV_MAX_BLOCK_BYTES. Both sizes must be at least 1.
inline bool FitsDecodeLimit(int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) {
        return false;
    }
    const int64_t stride = (width * 3 + 3) & ~int64_t{3};
    return stride <= ZAV_MAX_BLOCK_BYTES / height;
}

}  // namespace zav
