#include "text/glyph.h"

#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

#include FT_BITMAP_H

namespace zav {
namespace {

// Copies a slot's bitmap as one bit per pixel, top row first, whatever its pixel mode and flow.
bool CopyBitmap(FT_Library library, const FT_Bitmap &source, GlyphBitmap *out) {
    const int32_t rows = static_cast<int32_t>(source.rows);
    const int32_t width = static_cast<int32_t>(source.width);
    if (rows <= 0 || width <= 0 || source.buffer == nullptr) {
        return true;  // blank
    }
    const int64_t pitch = (static_cast<int64_t>(width) + 7) / 8;
    out->bits.assign(static_cast<std::size_t>(pitch * rows), 0);
    out->rows = rows;
    out->width = width;
    out->pitch = static_cast<int32_t>(pitch);

    const int64_t sourcePitch =
        source.pitch < 0 ? -static_cast<int64_t>(source.pitch) : source.pitch;
    // Row r of the picture, counted from the top (a negative pitch stores the bottom row first).
    const auto sourceRow = [&](const FT_Bitmap &b, int32_t r) {
        const int64_t stored = b.pitch < 0 ? rows - 1 - r : r;
        return b.buffer + stored * sourcePitch;
    };
    if (source.pixel_mode == FT_PIXEL_MODE_MONO) {
        for (int32_t r = 0; r < rows; ++r) {
            uint8_t *dst = out->bits.data() + static_cast<std::size_t>(pitch * r);
            std::memcpy(dst, sourceRow(source, r), static_cast<std::size_t>(pitch));
            if ((width & 7) != 0) {
                dst[pitch - 1] &= static_cast<uint8_t>(0xFF00u >> (width & 7));
            }
        }
        return true;
    }
    const auto setInk = [&](int32_t r, int32_t c) {
        out->bits[static_cast<std::size_t>(pitch * r + c / 8)] |=
            static_cast<uint8_t>(0x80u >> (c & 7));
    };
    if (source.pixel_mode == FT_PIXEL_MODE_BGRA) {
        for (int32_t r = 0; r < rows; ++r) {
            const uint8_t *src = sourceRow(source, r);
            for (int32_t c = 0; c < width; ++c) {
                if (src[4 * c + 3] >= 128) {
                    setInk(r, c);
                }
            }
        }
        return true;
    }
    // Gray levels of any packing: one byte per pixel first, then half coverage or more is ink.
    FT_Bitmap gray;
    FT_Bitmap_Init(&gray);
    const FT_Error error = FT_Bitmap_Convert(library, &source, &gray, 1);
    if (error == FT_Err_Out_Of_Memory) {
        FT_Bitmap_Done(library, &gray);
        return false;
    }
    if (error == 0 && static_cast<int32_t>(gray.rows) == rows &&
        static_cast<int32_t>(gray.width) == width && gray.num_grays > 1) {
        const int64_t grayPitch = gray.pitch < 0 ? -static_cast<int64_t>(gray.pitch) : gray.pitch;
        for (int32_t r = 0; r < rows; ++r) {
            const int64_t stored = gray.pitch < 0 ? rows - 1 - r : r;
            const uint8_t *src = gray.buffer + stored * grayPitch;
            for (int32_t c = 0; c < width; ++c) {
                if (2 * static_cast<int32_t>(src[c]) >= gray.num_grays) {
                    setInk(r, c);
                }
            }
        }
    }
    FT_Bitmap_Done(library, &gray);
    return true;
}

// Renders the character key.code with the face at key.pixelSize (width and height alike): the
// character map's glyph (index 0, the missing-glyph shape, for a code the font lacks and for
// kMissingGlyphCode), loaded with the default flags and rendered one bit per pixel. An embedded
// bitmap that is not one bit per pixel is thresholded at half coverage. A bitmap without ink, or a
// size the face refuses, comes out blank (kEmpty).
RenderResult RasteriseGlyph(ThreadFace &face, const GlyphKey &key, GlyphBitmap *out) noexcept {
    *out = GlyphBitmap{};
    switch (SetThreadFaceSize(face, key.pixelSize)) {
        case SizeResult::kNoMemory:
            return RenderResult::kNoMemory;
        case SizeResult::kRefused:
            return RenderResult::kEmpty;  // e.g. a bitmap font without a strike of this size
        case SizeResult::kAccepted:
            break;
    }
    const uint32_t code = key.code;
    const FT_UInt index =
        code == kMissingGlyphCode ? 0 : FT_Get_Char_Index(face.face, static_cast<FT_ULong>(code));
    FT_Error error = FT_Load_Glyph(face.face, index, FT_LOAD_DEFAULT);
    FT_GlyphSlot slot = face.face->glyph;
    if (error == 0 && slot->format != FT_GLYPH_FORMAT_BITMAP) {
        error = FT_Render_Glyph(slot, FT_RENDER_MODE_MONO);
    }
    if (error != 0) {
        return error == FT_Err_Out_Of_Memory ? RenderResult::kNoMemory : RenderResult::kBroken;
    }
    out->left = slot->bitmap_left;
    out->top = slot->bitmap_top;
    out->advance = static_cast<int64_t>(slot->advance.x);
    try {
        if (!CopyBitmap(slot->library, slot->bitmap, out)) {
            *out = GlyphBitmap{};
            return RenderResult::kNoMemory;
        }
    } catch (const std::bad_alloc &) {
        *out = GlyphBitmap{};
        return RenderResult::kNoMemory;
    }
    // FreeType gives an outline without contours (a space) a 1x1 bitmap without ink: a bitmap
    // without ink is a blank, and the pen moves on by the blank's advance.
    bool ink = false;
    for (uint8_t b : out->bits) {
        ink = ink || b != 0;
    }
    if (!ink) {
        out->rows = out->width = out->pitch = 0;
        out->bits.clear();
        return RenderResult::kEmpty;
    }
    return RenderResult::kRendered;
}

struct GlyphKeyHash {
    std::size_t operator()(const GlyphKey &k) const noexcept {
        uint64_t h = 1469598103934665603ull;
        const auto mix = [&h](uint64_t v) {
            h ^= v;
            h *= 1099511628211ull;
            h ^= h >> 29;
        };
        mix(k.font.device);
        mix(k.font.inode);
        mix(static_cast<uint64_t>(k.font.size));
        mix(static_cast<uint64_t>(k.font.mtimeNs));
        mix(static_cast<uint64_t>(k.font.faceIndex));
        mix(static_cast<uint64_t>(static_cast<uint32_t>(k.pixelSize)));
        mix(k.code);
        mix(static_cast<uint64_t>(k.kind) << 40 | static_cast<uint64_t>(k.spread) << 32 |
            static_cast<uint32_t>(k.outline));
        return static_cast<std::size_t>(h);
    }
};

std::size_t EntryBytes(const GlyphBitmap &g) noexcept {
    return sizeof(GlyphBitmap) + g.bits.size() + g.stroke.size() +
           64;  // 64: node and control block, roughly
}

}  // namespace

struct GlyphCache::Shard {
    using Entry = std::pair<GlyphKey, std::shared_ptr<const GlyphBitmap>>;
    std::mutex mutex;
    std::list<Entry> order;  // most recently used first
    std::unordered_map<GlyphKey, std::list<Entry>::iterator, GlyphKeyHash> index;
    std::size_t bytes = 0;
};

GlyphCache::GlyphCache() : m_shards(new Shard[kShards]) {}
GlyphCache::~GlyphCache() = default;

GlyphCache &GlyphCache::Shared() noexcept {
    static GlyphCache *cache = new GlyphCache();
    return *cache;
}

std::shared_ptr<const GlyphBitmap> GlyphCache::Find(const GlyphKey &key) noexcept {
    const std::size_t hash = GlyphKeyHash{}(key);
    Shard &shard = m_shards[hash % kShards];
    std::lock_guard<std::mutex> lock(shard.mutex);
    const auto it = shard.index.find(key);
    if (it == shard.index.end()) {
        return nullptr;
    }
    shard.order.splice(shard.order.begin(), shard.order, it->second);
    return it->second->second;
}

void GlyphCache::Insert(const GlyphKey &key, std::shared_ptr<const GlyphBitmap> glyph) noexcept {
    if (glyph == nullptr || glyph->bits.size() + glyph->stroke.size() > kMaxEntryBytes) {
        return;
    }
    const std::size_t hash = GlyphKeyHash{}(key);
    Shard &shard = m_shards[hash % kShards];
    const std::size_t bytes = EntryBytes(*glyph);
    std::lock_guard<std::mutex> lock(shard.mutex);
    try {
        if (shard.index.count(key) != 0) {
            return;  // another thread stored the same rendering first
        }
        shard.order.emplace_front(key, std::move(glyph));
        try {
            shard.index.emplace(key, shard.order.begin());
        } catch (...) {
            shard.order.pop_front();
            return;
        }
    } catch (...) {
        return;
    }
    shard.bytes += bytes;
    while (shard.bytes > kBytesPerShard && shard.order.size() > 1) {
        const Shard::Entry &last = shard.order.back();
        shard.bytes -= EntryBytes(*last.second);
        shard.index.erase(last.first);
        shard.order.pop_back();
    }
}

GlyphLoad LoadGlyphWith(const FontSource &font, const GlyphKey &key,
                        GlyphRenderFn render) noexcept {
    if (key.pixelSize < 1) {
        return {};
    }
    GlyphCache &cache = GlyphCache::Shared();
    if (std::shared_ptr<const GlyphBitmap> hit = cache.Find(key)) {
        return {std::move(hit), false};
    }
    // The face opened before: failing now means memory ran out (or the file changed and can no
    // longer be read), and nothing is kept.
    ThreadFace *face = AcquireThreadFace(font.id, font.path.c_str());
    if (face == nullptr) {
        return {nullptr, true};
    }
    std::shared_ptr<GlyphBitmap> glyph;
    try {
        glyph = std::make_shared<GlyphBitmap>();
    } catch (...) {
        return {nullptr, true};
    }
    TakeFaceFault(*face);
    RenderResult result = render(*face, key, glyph.get());
    switch (TakeFaceFault(*face)) {
        case FaceFault::kNone:
            break;
        case FaceFault::kNoMemory:
            result = RenderResult::kNoMemory;
            break;
        case FaceFault::kUnreadable:  // the file was cut short under the face: not read again
            result = RenderResult::kUnreadable;
            break;
    }
    switch (result) {
        case RenderResult::kRendered:
        case RenderResult::kEmpty:
            cache.Insert(key, glyph);
            return {std::move(glyph), false};
        case RenderResult::kBroken:
            return {};
        case RenderResult::kNoMemory:
        case RenderResult::kUnreadable:
            DiscardThreadFace(font.id);
            break;
    }
    return {nullptr, true};
}

GlyphLoad LoadGlyph(const FontSource &font, int32_t pixelSize, uint32_t code) noexcept {
    GlyphKey key;
    key.font = font.id;
    key.pixelSize = pixelSize;
    key.code = code;
    return LoadGlyphWith(font, key, RasteriseGlyph);
}

}  // namespace zav
