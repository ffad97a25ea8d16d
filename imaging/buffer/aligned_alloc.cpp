#include "imaging/buffer/aligned_alloc.h"

#include <cstdlib>

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
    return block;
}

void AlignedFree(void *block) noexcept {
    if (block == nullptr || reinterpret_cast<std::uintptr_t>(block) % kMinBlockAlignment != 0) {
        return;
    }
    std::free(block);
}

}  // namespace zav
