// The allocator behind every pixel block the component hands out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zavimage/zavimage.h"

namespace zav {

// Blocks are aligned on this many bytes (at least 32, as callers are promised).
inline constexpr std::size_t kBlockAlignment = 64;
// The free refuses addresses that are not aligned on this many bytes.
inline constexpr std::size_t kMinBlockAlignment = 32;

// A block of `bytes` bytes, aligned on kBlockAlignment; uncleared. A request of 0 bytes still gives
// a distinct, releasable block. Null above ZAV_MAX_BLOCK_BYTES or when the heap is exhausted. The
// block is recorded as a live pixel block (block_registry).
void *AlignedAlloc(std::size_t bytes) noexcept;

// Frees a live pixel block from AlignedAlloc and returns true. Anything else (null, an address not
// aligned on kMinBlockAlignment, a block freed already, a memory block, a caller's own memory) is
// left alone: false.
bool AlignedFree(void *block) noexcept;

}  // namespace zav
