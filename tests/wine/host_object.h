// A component object created through COM for the duration of a test, and BSTR names.
#pragma once

#include <string>

#include "host_common.h"

namespace zavtest {

class ComObject {
  public:
    ComObject();
    ~ComObject();
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    IZAVImageOCX *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    IZAVImageOCX *p_ = nullptr;
};

class Bstr {
  public:
    explicit Bstr(const std::wstring &s) : b_(SysAllocStringLen(s.data(), s.size())) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return b_; }

  private:
    BSTR b_;
};

// Releases a record handed out by the component.
HRESULT Release(const ComObject &object, ZAVImageStruct *record);

inline int Stride(const ZAVImageStruct &r) {
    return (r.width * r.channels + 3) & ~3;
}

}  // namespace zavtest
