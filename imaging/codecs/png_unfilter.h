// Undoing the filter a PNG encoder put on each row of image data. Every row of the inflated
// stream starts with a filter byte (0 none, 1 sub, 2 up, 3 average, 4 Paeth) and each byte was
// stored as the difference to a prediction from the byte one pixel to the left (`a`), the byte
// above (`b`) and the one above and left (`c`).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zav {

// Restores `row` (`length` bytes, without its filter byte) in place from the filtered bytes, given
// the restored row above (`prior`; zeros for the first row) and the bytes per pixel (1 to 8, 1
// below 8 bits). Returns false, with `row` unspecified, for a filter byte above 4.
bool UnfilterPngRow(uint8_t filter, uint8_t *row, const uint8_t *prior, std::size_t length,
                    unsigned pixelBytes) noexcept;

// Writes a restored row of `width` pixels of `pixelBytes` 8-bit samples (gray, gray and alpha, RGB
// or RGBA) to `bgr` as blue, green, red; alpha is dropped, gray spread to three samples.
void PngRowToBgr(const uint8_t *row, unsigned pixelBytes, std::size_t width, uint8_t *bgr) noexcept;

}  // namespace zav
