// The contract between the format table and one format's reader and writer.
//
// A reader reads one file through a byte source (a file, or bytes in memory): its header step
// reads what it needs of the file's first bytes and gives the picture's size and whether it keeps
// colour; its data step decodes into an 8-bit blue-green-red buffer at a given row step, top row
// first, reading what it needs of the rest (rows stored as the buffer holds them are read straight
// into the buffer). A writer encodes 8-bit gray or blue-green-red rows into a byte sink.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "zavimage/zavimage.h"

namespace zav {

// Why a read or a write stopped. Separates bad input from incomplete input and from limits. The
// values are the file statuses of the C interface, so a codec's status reaches the caller as is.
enum class CodecStatus : int32_t {
    kOk = ZAV_FILE_OK,
    kUnsupported = ZAV_FILE_UNSUPPORTED,  // a variant of the format this reader does not decode
    kCorrupt = ZAV_FILE_CORRUPT,          // malformed data
    kTruncated = ZAV_FILE_TRUNCATED,      // the data end before the picture is complete
    kTooLarge =
        ZAV_FILE_TOO_LARGE,  // the picture's 8-bit, 3-channel buffer would exceed 2^30 bytes
    kNoMemory = ZAV_FILE_NO_MEMORY,               // an allocation failed
    kReadFailed = ZAV_FILE_READ_FAILED,           // the source could not be read
    kIoError = ZAV_FILE_WRITE_FAILED,             // the sink refused bytes
    kMetadataLimit = ZAV_FILE_METADATA_LIMIT,     // more ancillary data than the reader keeps
    kBadPixelOffset = ZAV_FILE_BAD_PIXEL_OFFSET,  // the pixels start inside the colour table
};

// What a reader's header step tells.
struct ImageInfo {
    int32_t width = 0;   // at least 1 after a successful header step
    int32_t height = 0;  // at least 1 after a successful header step
    bool color = false;  // the file holds colour (gray and bilevel files do not)
};

// Where a picture's rows lie in its file when they are stored exactly as the buffer holds them
// (width * 3 bytes of blue, green, red each).
struct PlainRows {
    uint64_t offset = 0;    // of the first stored row
    uint64_t fileStep = 0;  // from one stored row to the next; at least width * 3
    bool bottomUp = false;  // the first stored row is the picture's bottom row
};

// The bytes of one file, held in memory or in an open file: random access, with the leading bytes
// held in memory on request (read ahead from a file as far as asked).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The most bytes between stored rows that ReadRows takes.
    static constexpr uint64_t kMaxRowGap = 64;
    // True when every byte is in memory already (asking for all of them costs nothing).
    virtual bool InMemory() const { return false; }
    // The file's size (for an open file: when it was opened).
    virtual uint64_t Size() const = 0;
    // Copies up to `size` bytes from `offset` into `dst`: the count copied (fewer only where the
    // file ends, or where it shrank), or -1 when reading failed.
    virtual int64_t ReadAt(uint64_t offset, void *dst, std::size_t size) = 0;
    // The first `count` bytes of the file (all of a shorter file), in memory until the source is
    // destroyed or asked for a longer prefix. kOk, kReadFailed or kNoMemory.
    virtual CodecStatus Prefix(std::size_t count, std::span<const uint8_t> *bytes) = 0;
    // Copies `count` rows of `rowBytes` bytes each, stored as `rows` says, into `dst`, `step` bytes
    // apart (the first stored row goes last when bottomUp). kTruncated when the file ends first;
    // kReadFailed for more than kMaxRowGap bytes between stored rows.
    virtual CodecStatus ReadRows(const PlainRows &rows, std::size_t rowBytes, uint32_t count,
                                 uint8_t *dst, std::size_t step) = 0;
    // The whole file in memory.
    CodecStatus Whole(std::span<const uint8_t> *bytes) {
        if (Size() > SIZE_MAX) {
            return CodecStatus::kTooLarge;
        }
        return Prefix(static_cast<std::size_t>(Size()), bytes);
    }
};

// A file held in memory by its owner, who keeps it alive while the source is used.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    bool InMemory() const override { return true; }
    uint64_t Size() const override { return m_bytes.size(); }
    int64_t ReadAt(uint64_t offset, void *dst, std::size_t size) override {
        if (offset >= m_bytes.size()) {
            return 0;
        }
        const std::size_t n = size < m_bytes.size() - offset
                                  ? size
                                  : m_bytes.size() - static_cast<std::size_t>(offset);
        std::memcpy(dst, m_bytes.data() + offset, n);
        return static_cast<int64_t>(n);
    }
    CodecStatus Prefix(std::size_t count, std::span<const uint8_t> *bytes) override {
        *bytes = m_bytes.first(count < m_bytes.size() ? count : m_bytes.size());
        return CodecStatus::kOk;
    }
    CodecStatus ReadRows(const PlainRows &rows, std::size_t rowBytes, uint32_t count, uint8_t *dst,
                         std::size_t step) override;

  private:
    std::span<const uint8_t> m_bytes;
};

// The first bytes of a file that a header step reads (all of a shorter file): enough for the
// header, colour map and palette of every format's ordinary files.
inline constexpr std::size_t kReaderHeadBytes = std::size_t{64} << 10;

// What a reader reads: a byte source that outlives the reader, or bytes in memory that outlive it
// (read through a memory source of the reader's own).
class ReaderInput {
  public:
    // Implicit: a maker is called with a source, a span or a vector alike.
    ReaderInput(ByteSource &source) noexcept : m_source(&source) {}
    ReaderInput(std::span<const uint8_t> bytes) noexcept : m_memory(bytes) {}
    ReaderInput(const std::vector<uint8_t> &bytes) noexcept
        : m_memory(std::span<const uint8_t>(bytes)) {}
    ReaderInput(const ReaderInput &other) noexcept
        : m_memory(other.m_memory), m_source(other.m_source) {}
    ReaderInput &operator=(const ReaderInput &) = delete;

    ByteSource &Source() noexcept { return m_source != nullptr ? *m_source : m_memory; }
    uint64_t Size() noexcept { return Source().Size(); }
    // The bytes a header step starts from: the first kReaderHeadBytes of a file, all of a source
    // in memory.
    CodecStatus Head(std::span<const uint8_t> *bytes) {
        ByteSource &source = Source();
        return source.InMemory() ? source.Whole(bytes) : source.Prefix(kReaderHeadBytes, bytes);
    }
    // The first `count` bytes (all of a shorter file), e.g. a palette past the head.
    CodecStatus Prefix(uint64_t count, std::span<const uint8_t> *bytes) {
        ByteSource &source = Source();
        return source.Prefix(static_cast<std::size_t>(std::min<uint64_t>(count, source.Size())),
                             bytes);
    }
    CodecStatus Whole(std::span<const uint8_t> *bytes) { return Source().Whole(bytes); }

  private:
    MemorySource m_memory{std::span<const uint8_t>{}};
    ByteSource *m_source = nullptr;
};

class ImageReader {
  public:
    virtual ~ImageReader() = default;
    // Parses the header, reading what it needs of the file's first bytes. Must be called once,
    // before ReadData.
    virtual CodecStatus ReadHeader(ImageInfo *info) = 0;
    // Decodes the picture into `bgr`: height rows of width * 3 bytes (blue, green, red), `step`
    // bytes apart, top row first. Writes nothing outside those rows; may leave the buffer partly
    // written when it fails.
    virtual CodecStatus ReadData(uint8_t *bgr, std::size_t step) = 0;
    // After a successful header step, before the picture's buffer is allocated: whether the data
    // can fill a picture of the header's size at all, as far as the reader can tell without
    // decoding (kTruncated when they cannot: a compressed stream too short to give every row).
    virtual CodecStatus CanFill() { return CodecStatus::kOk; }
    // After a successful header step, before ReadData: asks for the picture at 1/`denominator` of
    // its size (2, 4 or 8), each side rounded up. True when the reader decodes so; `info` then
    // holds the reduced size that ReadData writes. False (the default): the full size stays.
    virtual bool ReduceScale(unsigned /*denominator*/, ImageInfo * /*info*/) { return false; }
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
