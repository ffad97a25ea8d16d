// Rendered glyphs shared by all threads: bounded, least recently used ones dropped first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "text/font.h"
#include "text/glyph_bitmap.h"

namespace zav {

struct GlyphKey {
    FontFileId font;
    int32_t pixelSize = 0;
    uint32_t code = 0;

    bool operator==(const GlyphKey &) const = default;
};

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
