#include "text/glyph_cache.h"

#include <list>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "text/glyph_raster.h"

namespace zav {
namespace {

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
        return static_cast<std::size_t>(h);
    }
};

std::size_t EntryBytes(const GlyphBitmap &g) noexcept {
    return sizeof(GlyphBitmap) + g.bits.size() + 64;  // 64: node and control block, roughly
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
    if (glyph == nullptr || glyph->bits.size() > kMaxEntryBytes) {
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

std::shared_ptr<const GlyphBitmap> LoadGlyph(const FontSource &font, int32_t pixelSize,
                                             uint32_t code) noexcept {
    if (pixelSize < 1) {
        return nullptr;
    }
    GlyphCache &cache = GlyphCache::Shared();
    const GlyphKey key{font.id, pixelSize, code};
    if (std::shared_ptr<const GlyphBitmap> hit = cache.Find(key)) {
        return hit;
    }
    ThreadFace *face = AcquireThreadFace(font.id, font.path.c_str());
    if (face == nullptr) {
        return nullptr;
    }
    std::shared_ptr<GlyphBitmap> glyph;
    try {
        glyph = std::make_shared<GlyphBitmap>();
    } catch (...) {
        return nullptr;
    }
    if (!RasteriseGlyph(*face, pixelSize, code, glyph.get())) {
        return nullptr;  // not cached: it may be a passing shortage of memory
    }
    cache.Insert(key, glyph);
    return glyph;
}

}  // namespace zav
