// The body of every reader fuzzer: header step, then, when the picture is within the decode limit,
// its data can fill it (the reader's CanFill, as a load asks before allocating) and its buffer is
// small enough for a quick run, the data step into a buffer of exactly the needed size; over the
// bytes in memory and over the same bytes read as a file, which must agree.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "imaging/codecs/codec.h"
#include "imaging/files/format_table.h"

namespace zav {

// Pictures whose buffer would be larger are only parsed, not decoded, so that each run stays fast
// and small. The bound is the declared allocation, not the pixels: a picture of any shape whose
// data can fill it is decoded up to here.
inline constexpr uint64_t kFuzzMaxBytes = uint64_t{1} << 27;

// The file's bytes as a file gives them: not in memory, so that readers take their header from
// the head first and read the rest (or rows straight into the buffer) as they go.
class FuzzFileSource final : public ByteSource {
  public:
    explicit FuzzFileSource(std::span<const uint8_t> bytes) : m_memory(bytes) {}
    uint64_t Size() const override { return m_memory.Size(); }
    int64_t ReadAt(uint64_t offset, void *dst, std::size_t size) override {
        return m_memory.ReadAt(offset, dst, size);
    }
    CodecStatus Prefix(std::size_t count, std::span<const uint8_t> *bytes) override {
        return m_memory.Prefix(count, bytes);
    }
    CodecStatus ReadRows(const PlainRows &rows, std::size_t rowBytes, uint32_t count, uint8_t *dst,
                         std::size_t step) override {
        if (rows.fileStep < rowBytes || rows.fileStep - rowBytes > kMaxRowGap) {
            return CodecStatus::kReadFailed;
        }
        return m_memory.ReadRows(rows, rowBytes, count, dst, step);
    }

  private:
    MemorySource m_memory;
};

// The header step's result, and the data step's where the picture is decoded, with a checksum of
// the pixels.
struct FuzzOutcome {
    CodecStatus header = CodecStatus::kOk;
    CodecStatus data = CodecStatus::kOk;
    ImageInfo info;
    uint64_t sum = 0;
    bool decoded = false;
};

inline FuzzOutcome DecodeAll(ImageReader &reader) {
    FuzzOutcome out;
    out.header = reader.ReadHeader(&out.info);
    if (out.header != CodecStatus::kOk) {
        return out;
    }
    const ImageInfo &info = out.info;
    if (info.width < 1 || info.height < 1 || !FitsDecodeLimit(info.width, info.height)) {
        std::abort();  // a header step may only succeed within the limit
    }
    if (uint64_t{static_cast<uint32_t>(info.width)} * 3 * static_cast<uint32_t>(info.height) >
        kFuzzMaxBytes) {
        return out;
    }
    out.data = reader.CanFill();
    if (out.data != CodecStatus::kOk) {
        return out;
    }
    const std::size_t step = (static_cast<std::size_t>(info.width) * 3 + 3) & ~std::size_t{3};
    // The last row ends at width * 3: nothing may be written past it.
    const std::size_t row = static_cast<std::size_t>(info.width) * 3;
    const std::size_t bytes = step * (info.height - 1) + row;
    auto *buffer = static_cast<uint8_t *>(std::calloc(bytes, 1));
    if (buffer == nullptr) {
        return out;
    }
    out.data = reader.ReadData(buffer, step);
    out.decoded = true;
    if (out.data == CodecStatus::kOk) {
        for (int32_t y = 0; y < info.height; ++y) {
            for (std::size_t x = 0; x < row; ++x) {
                out.sum = out.sum * 31 + buffer[static_cast<std::size_t>(y) * step + x];
            }
        }
    }
    std::free(buffer);
    return out;
}

// A reader over the bytes in memory and one over the same bytes read as a file agree on every
// header, status and pixel.
inline int FuzzReader(const ImageFormat &filter, const uint8_t *data, std::size_t size) {
    if (size >= filter.signatureLength) {
        (void)filter.matches(data, size);
    }
    const std::span<const uint8_t> bytes(data, size);
    auto reader = filter.newReader(bytes);
    FuzzFileSource file(bytes);
    auto fileReader = filter.newReader(file);
    if (!reader || !fileReader) {
        return 0;
    }
    const FuzzOutcome memory = DecodeAll(*reader);
    const FuzzOutcome read = DecodeAll(*fileReader);
    if (memory.header != read.header ||
        (memory.header == CodecStatus::kOk &&
         (memory.info.width != read.info.width || memory.info.height != read.info.height ||
          memory.info.color != read.info.color)) ||
        (memory.decoded && read.decoded && (memory.data != read.data || memory.sum != read.sum))) {
        std::abort();
    }
    return 0;
}

}  // namespace zav
