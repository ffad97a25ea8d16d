// A sink into one block from malloc, handed to a caller who frees it with free().
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/codecs/codec.h"

namespace zav {

class MemorySink final : public ByteSink {
  public:
    MemorySink() = default;
    ~MemorySink() override;
    MemorySink(const MemorySink &) = delete;
    MemorySink &operator=(const MemorySink &) = delete;

    // Appends bytes; false when memory is exhausted (the sink stays failed).
    bool Write(const void *bytes, std::size_t size) override;
    // True when a write failed for lack of memory.
    bool Failed() const { return m_failed; }
    // Gives the block (trimmed to its size; null when nothing was written) to the caller.
    uint8_t *Release(std::size_t *size);

  private:
    uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
    bool m_failed = false;
};

}  // namespace zav
