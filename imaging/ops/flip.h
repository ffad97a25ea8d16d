// Turning a buffer upside down in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zav {

// Reverses the order of `count` rows of `rowBytes` bytes, `step` bytes apart from `first`; the
// bytes between them stay in place.
void ReverseRows(uint8_t *first, std::size_t step, std::size_t rowBytes,
                 std::size_t count) noexcept;

// Reverses the order of the rows of the buffer of that geometry (rows padded to 4 bytes); the
// padding stays in place. A geometry that describes no picture leaves the buffer as it is.
void FlipImageRows(uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                   int32_t channels) noexcept;

}  // namespace zav
