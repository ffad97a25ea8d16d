// Glyphs: one character rasterised at one pixel size, and the rendered glyphs all threads share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "text/font.h"
#include "text/multibyte_decoder.h"

namespace zav {

// How a glyph is stored: one bit per pixel (classic captions), or one byte of coverage per pixel.
enum class GlyphFormat : uint8_t { kMono, kCoverage };

// One glyph rasterised at one pixel size: its bitmap and its metrics.
struct GlyphBitmap {
    int32_t rows = 0;
    int32_t width = 0;  // pixels per row; 0 for a blank
    int32_t pitch = 0;  // bytes per row: (width + 7) / 8 (kMono) or width; top row first
    int32_t left = 0;   // the font's bearings and advance, kept with the bitmap
    int32_t top = 0;
    int64_t advance = 0;  // 26.6 fixed point: 64ths of a pixel
    GlyphFormat format = GlyphFormat::kMono;
    // kMono: rows * pitch bytes, most significant bit = leftmost pixel. kCoverage: rows * width
    // * spread bytes of the glyph's coverage, 0 to 255 (spread: the key's copies a pixel).
    std::vector<uint8_t> bits;
    // kCoverage with an outline: rows * width * spread bytes of the outlined shape's coverage (the
    // glyph and its border); empty otherwise. Both layers share the box (left, top, width, rows).
    std::vector<uint8_t> stroke;
    // kCoverage: per row, the columns [begin, end) outside which a layer has no coverage: fill
    // begin, fill end, stroke begin, stroke end (4 values a row).
    std::vector<uint16_t> spans;

    bool Ink(int32_t row, int32_t column) const noexcept {
        return (bits[static_cast<std::size_t>(row) * static_cast<std::size_t>(pitch) +
                     static_cast<std::size_t>(column >> 3)] &
                (0x80u >> (column & 7))) != 0;
    }
};

// How a glyph was rendered: classic captions look characters up and render one bit per pixel;
// typographic captions render glyph indices with coverage (anti-aliased or one bit per pixel
// expanded to 0 and 255), with or without an outline.
enum class GlyphKind : uint8_t { kClassic, kCoverage, kCoverageMono };

// What a rendered glyph is cached under: the font file's contents, the pixel size, the character
// (kClassic) or glyph index, the rendering and the outline's width.
struct GlyphKey {
    FontFileId font;
    int32_t pixelSize = 0;
    uint32_t code = 0;
    GlyphKind kind = GlyphKind::kClassic;
    int32_t outline = 0;  // 64ths of a pixel; 0: none
    uint8_t spread = 1;   // kCoverage: coverage bytes a pixel (copies for each channel of a buffer)

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

// A glyph from the cache or rendered. glyph null stands for a blank; failed is true when the glyph
// could not be rendered for lack of memory, or because the font file could not be read (cut
// short on disk since the face opened): nothing was cached then.
struct GlyphLoad {
    std::shared_ptr<const GlyphBitmap> glyph;
    bool failed = false;
};

// How rendering a glyph ended: only kRendered and kEmpty results are cached. kUnreadable: the
// font file gave fewer bytes than it held when the face opened.
enum class RenderResult { kRendered, kEmpty, kBroken, kNoMemory, kUnreadable };

// The character's bitmap at the pixel size, from the cache or rendered with the calling thread's
// face (and then cached). A null glyph stands for a blank: a pixel size below 1, or a glyph that
// FreeType cannot load or render (not cached: tried again next time).
GlyphLoad LoadGlyph(const FontSource &font, int32_t pixelSize, uint32_t code) noexcept;

// The same for any key: render(face, out) fills the glyph on a cache miss.
using GlyphRenderFn = RenderResult (*)(ThreadFace &face, const GlyphKey &key, GlyphBitmap *out);
GlyphLoad LoadGlyphWith(const FontSource &font, const GlyphKey &key, GlyphRenderFn render) noexcept;

}  // namespace zav
