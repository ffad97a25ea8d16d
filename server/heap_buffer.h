// A block of the process heap that frees itself.
#pragma once

#include <windows.h>

namespace zavsrv {

template <typename T>
class HeapBuffer {
  public:
    explicit HeapBuffer(size_t count)
        : p_(count <= ~size_t{0} / sizeof(T)
                 ? static_cast<T *>(HeapAlloc(GetProcessHeap(), 0, count * sizeof(T)))
                 : nullptr) {}
    HeapBuffer(const HeapBuffer &) = delete;
    HeapBuffer &operator=(const HeapBuffer &) = delete;
    ~HeapBuffer() {
        if (p_ != nullptr) {
            HeapFree(GetProcessHeap(), 0, p_);
        }
    }

    explicit operator bool() const { return p_ != nullptr; }
    T *get() const { return p_; }

  private:
    T *p_;
};

}  // namespace zavsrv
