// Reordering rows of red-green-blue samples into blue-green-red.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zav {

// Writes `pixels` pixels of 3 samples from `src` to `dst` with the first and third sample of each
// pixel exchanged. `src` and `dst` may be the same row (in place), but must not overlap otherwise.
void SwapRedBlue(const uint8_t *src, uint8_t *dst, std::size_t pixels);

}  // namespace zav
