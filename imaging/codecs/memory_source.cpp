// Rows copied out of a file held in memory.
#include <cstring>

#include "imaging/codecs/codec.h"

namespace zav {

CodecStatus MemorySource::ReadRows(const PlainRows &rows, std::size_t rowBytes, uint32_t count,
                                   uint8_t *dst, std::size_t step) {
    if (count == 0) {
        return CodecStatus::kOk;
    }
    // The last stored row must end within the file; computed so that nothing overflows.
    const uint64_t size = m_bytes.size();
    if (rows.fileStep < rowBytes || rows.offset > size || rowBytes > size - rows.offset ||
        (count > 1 && rows.fileStep > (size - rows.offset - rowBytes) / (count - 1))) {
        return CodecStatus::kTruncated;
    }
    // In the buffer's order, whichever way the rows are stored.
    const uint8_t *first = m_bytes.data() + static_cast<std::size_t>(rows.offset);
    const auto fileStep = static_cast<std::size_t>(rows.fileStep);
    for (uint32_t y = 0; y < count; ++y) {
        const uint32_t stored = rows.bottomUp ? count - 1 - y : y;
        std::memcpy(dst + static_cast<std::size_t>(y) * step,
                    first + static_cast<std::size_t>(stored) * fileStep, rowBytes);
    }
    return CodecStatus::kOk;
}

}  // namespace zav
