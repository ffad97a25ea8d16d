// The blocks the library has handed out and not yet taken back, by address: a release or free is
// done only for a live block of its own kind, so that a block released twice, a pixel block given
// to ZAVFreeMemory or a memory block given to ZAVReleaseImage is refused instead of freed.
#pragma once

#include <cstdint>

namespace zav {

// Pixel blocks (AlignedAlloc: load, create, clone) and memory blocks (ZAVSaveImageMemory,
// ZAVJobExport, freed with ZAVFreeMemory).
enum class BlockKind : uint8_t { kPixels, kMemory };

// How a block came back.
enum class BlockReturn {
    kTaken,      // live and of that kind: no longer recorded, the caller frees it
    kOtherKind,  // live, of the other kind: still recorded
    kUnknown,    // never handed out, or taken back already
};

// Records a block handed out. False when memory ran out: the caller frees the block and fails.
bool RecordBlock(const void *block, BlockKind kind) noexcept;

// Takes a block back when it is live and of `kind`.
BlockReturn TakeBackBlock(const void *block, BlockKind kind) noexcept;

}  // namespace zav
