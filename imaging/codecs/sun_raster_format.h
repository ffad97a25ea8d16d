// The Sun raster file layout shared by its reader and writer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zav::sunras {

inline constexpr uint32_t kMagic = 0x59A66A95;
inline constexpr std::size_t kHeaderBytes = 32;  // eight big-endian 32-bit fields

// Values of the type field.
inline constexpr uint32_t kTypeOld = 0;          // as standard; the length field may be 0
inline constexpr uint32_t kTypeStandard = 1;     // 24/32-bit pixels stored blue, green, red
inline constexpr uint32_t kTypeByteEncoded = 2;  // run-length coded with the escape byte 0x80
inline constexpr uint32_t kTypeRgb = 3;          // 24/32-bit pixels stored red, green, blue

// Values of the colour-map type field.
inline constexpr uint32_t kMapNone = 0;
inline constexpr uint32_t kMapEqualRgb = 1;  // three planes: red, green, blue

// The escape byte of the run-length coding.
inline constexpr uint8_t kRunEscape = 0x80;

inline uint32_t LoadBigEndian32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline void StoreBigEndian32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

}  // namespace zav::sunras
