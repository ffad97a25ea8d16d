#include "imaging/files/memory_sink.h"

#include <cstdlib>
#include <cstring>

namespace zav {

MemorySink::~MemorySink() {
    std::free(m_data);
}

bool MemorySink::Write(const void *bytes, std::size_t size) {
    if (m_failed) {
        return false;
    }
    if (size > m_capacity - m_size) {
        // Grows by half again at least, so that appending stays linear.
        std::size_t capacity = m_capacity + m_capacity / 2;
        if (capacity < m_size + size || capacity < m_capacity) {
            if (size > SIZE_MAX - m_size) {
                m_failed = true;
                return false;
            }
            capacity = m_size + size;
        }
        if (capacity < 4096) {
            capacity = 4096;
        }
        auto *grown = static_cast<uint8_t *>(std::realloc(m_data, capacity));
        if (grown == nullptr) {
            m_failed = true;
            return false;
        }
        m_data = grown;
        m_capacity = capacity;
    }
    if (size > 0) {
        std::memcpy(m_data + m_size, bytes, size);
        m_size += size;
    }
    return true;
}

uint8_t *MemorySink::Release(std::size_t *size) {
    uint8_t *block = m_data;
    *size = m_size;
    if (block != nullptr && m_size < m_capacity) {
        if (auto *trimmed = static_cast<uint8_t *>(std::realloc(block, m_size == 0 ? 1 : m_size))) {
            block = trimmed;
        }
    }
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
    return block;
}

}  // namespace zav
