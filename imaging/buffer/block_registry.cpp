#include "imaging/buffer/block_registry.h"

#include <cstddef>
#include <mutex>
#include <new>
#include <unordered_map>

namespace zav {
namespace {

// Addresses in shards of their own lock, so that threads allocating at once rarely wait.
class Registry {
  public:
    // Never destroyed: blocks may be released by threads still running at exit.
    static Registry &Shared() noexcept {
        static Registry *const registry = new Registry();
        return *registry;
    }

    bool Record(const void *block, BlockKind kind) noexcept {
        Shard &shard = ShardOf(block);
        std::lock_guard<std::mutex> lock(shard.mutex);
        try {
            shard.blocks[reinterpret_cast<std::uintptr_t>(block)] = kind;
        } catch (...) {
            return false;
        }
        return true;
    }

    BlockReturn TakeBack(const void *block, BlockKind kind) noexcept {
        Shard &shard = ShardOf(block);
        std::lock_guard<std::mutex> lock(shard.mutex);
        const auto it = shard.blocks.find(reinterpret_cast<std::uintptr_t>(block));
        if (it == shard.blocks.end()) {
            return BlockReturn::kUnknown;
        }
        if (it->second != kind) {
            return BlockReturn::kOtherKind;
        }
        shard.blocks.erase(it);
        return BlockReturn::kTaken;
    }

  private:
    static constexpr std::size_t kShards = 16;
    struct Shard {
        std::mutex mutex;
        std::unordered_map<std::uintptr_t, BlockKind> blocks;
    };

    Shard &ShardOf(const void *block) noexcept {
        // Blocks are aligned on at least 16 bytes: the bits above those pick the shard.
        return m_shards[(reinterpret_cast<std::uintptr_t>(block) >> 6) % kShards];
    }

    Shard m_shards[kShards];
};

}  // namespace

bool RecordBlock(const void *block, BlockKind kind) noexcept {
    return block != nullptr && Registry::Shared().Record(block, kind);
}

BlockReturn TakeBackBlock(const void *block, BlockKind kind) noexcept {
    return block == nullptr ? BlockReturn::kUnknown : Registry::Shared().TakeBack(block, kind);
}

}  // namespace zav
