#include "imaging/buffer/aligned_alloc.h"

#include <cstdlib>

#include "imaging/buffer/block_registry.h"

namespace zav {

void *AlignedAlloc(std::size_t bytes) noexcept {
    if (bytes > static_cast<uint64_t>(ZAV_MAX_BLOCK_BYTES)) {
        return nullptr;
    }
    void *block = nullptr;
    // posix_memalign may answer a request of 0 bytes with null; ask for one byte instead so that
    // an empty block is still a real, releasable address.
    if (posix_memalign(&block, kBlockAlignment, bytes == 0 ? 1 : bytes) != 0) {
        return nullptr;
    }
    if (!RecordBlock(block, BlockKind::kPixels)) {
        std::free(block);
        return nullptr;
    }
    return block;
}

bool AlignedFree(void *block) noexcept {
    if (block == nullptr || reinterpret_cast<std::uintptr_t>(block) % kMinBlockAlignment != 0 ||
        TakeBackBlock(block, BlockKind::kPixels) != BlockReturn::kTaken) {
        return false;
    }
    std::free(block);
    return true;
}

}  // namespace zav
