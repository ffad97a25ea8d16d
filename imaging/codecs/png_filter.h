// Choosing and applying the filter of each row a PNG encoder writes. Each row is tried with the
// five filters (0 none, 1 sub, 2 up, 3 average, 4 Paeth) and the one whose differences, taken as
// signed bytes, have the smallest sum of magnitudes is kept: the rule libpng's encoder and most
// others use, cheap and close to the best choice for deflate afterwards.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zav {

// Bytes a row buffer of the filter must have, readable and zero, before its first byte, and
// readable (of any value) after its last.
inline constexpr std::size_t kPngFilterMargin = 16;

// Rows to filter: `length` bytes (at most SIZE_MAX - 2 * kPngFilterMargin) of `pixelBytes` bytes a
// pixel (1 to 8).
class PngRowFilter {
  public:
    PngRowFilter() = default;
    PngRowFilter(const PngRowFilter &) = delete;
    PngRowFilter &operator=(const PngRowFilter &) = delete;
    ~PngRowFilter();

    // False when the scratch rows could not be allocated.
    bool Init(std::size_t length, unsigned pixelBytes) noexcept;

    // Writes the chosen filter's byte and then the filtered row, `length` + 1 bytes, to `out`.
    // `row` and `prior` (the row above; zeros above the first row) each have kPngFilterMargin
    // zero bytes before them and kPngFilterMargin readable bytes after them.
    void Filter(const uint8_t *row, const uint8_t *prior, uint8_t *out) noexcept;

  private:
    std::size_t m_length = 0;
    unsigned m_pixelBytes = 0;
    uint8_t *m_scratch = nullptr;  // four rows of candidates: sub, up, average, Paeth
};

}  // namespace zav
