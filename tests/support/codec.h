// A format's reader and writer driven directly, as the codec tests use them.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "imaging/files/format_table.h"
#include "tests/support/picture.h"

namespace zavtest {

// The result of decoding a file through a format's reader.
struct Decoded {
    zav::CodecStatus header = zav::CodecStatus::kCorrupt;
    zav::CodecStatus data = zav::CodecStatus::kCorrupt;
    zav::ImageInfo info;
    Picture picture;
    bool ok() const { return header == zav::CodecStatus::kOk && data == zav::CodecStatus::kOk; }
};

// Decodes a whole file; a picture of more than `maxPixels` pixels stops after the header step.
inline Decoded Decode(const zav::ImageFormat &format, const std::vector<uint8_t> &file,
                      int64_t maxPixels = int64_t{1} << 24) {
    Decoded d;
    auto reader = format.newReader(std::span<const uint8_t>(file.data(), file.size()));
    if (!reader) {
        return d;
    }
    d.header = reader->ReadHeader(&d.info);
    if (d.header != zav::CodecStatus::kOk) {
        return d;
    }
    if (int64_t{d.info.width} * d.info.height > maxPixels) {
        d.data = zav::CodecStatus::kTooLarge;
        return d;
    }
    d.picture = Picture(d.info.width, d.info.height, 3);
    d.data = reader->ReadData(d.picture.bytes.data(), d.picture.step);
    return d;
}

// A picture decoded into rows of exactly width * 3 bytes (no padding), so that a write past a
// row's end lands in the next row, or past the vector where AddressSanitizer sees it.
struct PackedDecoded {
    zav::CodecStatus status = zav::CodecStatus::kCorrupt;
    zav::ImageInfo info;
    std::vector<uint8_t> bgr;
    std::array<uint8_t, 3> At(int x, int y) const {
        const uint8_t *p = &bgr[(static_cast<std::size_t>(y) * info.width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

// Decodes a whole file into packed rows first filled with 0x77.
inline PackedDecoded DecodePacked(const zav::ImageFormat &format,
                                  const std::vector<uint8_t> &file) {
    PackedDecoded d;
    auto reader = format.newReader(std::span<const uint8_t>(file.data(), file.size()));
    if (!reader) {
        d.status = zav::CodecStatus::kNoMemory;
        return d;
    }
    d.status = reader->ReadHeader(&d.info);
    if (d.status != zav::CodecStatus::kOk) {
        return d;
    }
    d.bgr.assign(static_cast<std::size_t>(d.info.width) * d.info.height * 3, 0x77);
    d.status = reader->ReadData(d.bgr.data(), static_cast<std::size_t>(d.info.width) * 3);
    return d;
}

// The bytes a format's writer gives for a request; empty when it fails (*status says why).
inline std::vector<uint8_t> Encode(const zav::ImageFormat &format, const zav::WriteRequest &request,
                                   zav::CodecStatus *status = nullptr) {
    zav::VectorSink sink;
    auto writer = format.newWriter();
    const zav::CodecStatus s = writer ? writer->Write(request, sink) : zav::CodecStatus::kNoMemory;
    if (status != nullptr) {
        *status = s;
    }
    return s == zav::CodecStatus::kOk ? sink.data : std::vector<uint8_t>{};
}

// The bytes a format's writer gives for a whole picture; the write is expected to succeed.
inline std::vector<uint8_t> EncodeOk(const zav::ImageFormat &format, const Picture &p) {
    zav::CodecStatus status = zav::CodecStatus::kOk;
    std::vector<uint8_t> bytes = Encode(format, p.Request(), &status);
    EXPECT_EQ(status, zav::CodecStatus::kOk);
    return bytes;
}

}  // namespace zavtest
