// Glyphs: one character rasterised at one pixel size, and the rendered glyphs all threads share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "text/font.h"
#include "text/multibyte_decoder.h"

namespace zav {

// One character rasterised at one pixel size: a one-bit-per-pixel bitmap and its metrics.
struct GlyphBitmap {
    int32_t rows = 0;
    int32_t width = 0;  // pixels per row; 0 for a blank
    int32_t pitch = 0;  // bytes per row: (width + 7) / 8; rows are stored top row first
    int32_t left = 0;   // the font's bearings and advance, kept with the bitmap
    int32_t top = 0;
    int64_t advance = 0;        // 26.6 fixed point: 64ths of a pixel
    std::vector<uint8_t> bits;  // rows * pitch bytes, most significant bit = leftmost pixel

    bool Ink(int32_t row, int32_t column) const noexcept {
        return (bits[static_cast<std::size_t>(row) * static_cast<std::size_t>(pitch) +
                     static_cast<std::size_t>(column >> 3)] &
                (0x80u >> (column & 7))) != 0;
    }
};

// What a rendered glyph is cached under: the font file's contents, the pixel size, the character.
struct GlyphKey {
    FontFileId font;
    int32_t pixelSize = 0;
    uint32_t code = 0;

    bool operator==(const GlyphKey &) const = default;
};

// Rendered glyphs shared by all threads: bounded, least recently used ones dropped first.
class GlyphCache {
  public:
    // The process's cache. It is never destroyed, so threads still drawing at exit are safe.
    static GlyphCache &Shared() noexcept;

    // The bitmap stored for the key, or null.
    std::shared_ptr<const GlyphBitmap> Find(const GlyphKey &key) noexcept;

    // Stores a bitmap (a larger one than kMaxEntryBytes is not kept). Never throws: a bitmap that
    // cannot be stored is simply not cached.
    void Insert(const GlyphKey &key, std::shared_ptr<const GlyphBitmap> glyph) noexcept;

    static constexpr std::size_t kShards = 16;
    static constexpr std::size_t kBytesPerShard = std::size_t{512} * 1024;
    static constexpr std::size_t kMaxEntryBytes = std::size_t{64} * 1024;

  private:
    GlyphCache();
    ~GlyphCache();
    struct Shard;
    std::unique_ptr<Shard[]> m_shards;
};

// The character's bitmap at the pixel size, from the cache or rendered with the calling thread's
// face (and then cached). Null stands for a blank: a pixel size below 1, a font that cannot be
// opened, a glyph that cannot be rendered.
std::shared_ptr<const GlyphBitmap> LoadGlyph(const FontSource &font, int32_t pixelSize,
                                             uint32_t code) noexcept;

}  // namespace zav
