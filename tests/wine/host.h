// What the test groups of the Windows host share: the interface header, a small checking kit
// (every failed check prints where and why, and the group's exit code is the number of failures),
// the server's exports loaded by path, a component object created through COM, BSTR names and the
// test groups themselves.
#pragma once

#include <ocidl.h>
#include <ole2.h>
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "server/ZAVImage_h.h"

namespace zavtest {

// The platform the host is compiled for, and the server it must meet: a 32-bit program has the
// 20-byte record with 4-byte pointers and the type library registered under win32; a 64-bit one
// the 24-byte record and win64.
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t *kTypeLibPlatform = L"win64";
constexpr ULONG kImageStructBytes = 24;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t *kTypeLibPlatform = L"win32";
constexpr ULONG kImageStructBytes = 20;
#endif
constexpr WORD kPointerBytes = sizeof(void *);
static_assert(sizeof(ZAVImageStruct) == kImageStructBytes);
static_assert(offsetof(ZAVImageStruct, data) == 16 && alignof(ZAVImageStruct) == kPointerBytes);

int &Failures();
void Report(const char *file, int line, const char *what);
// Reports a difference with both strings as UTF-8 and as hexadecimal character codes.
void CheckWideString(const wchar_t *expected, const wchar_t *actual, const char *what,
                     const char *file, int line);

}  // namespace zavtest

#define CHECK(cond)                                                  \
    do {                                                             \
        if (!(cond)) {                                               \
            zavtest::Report(__FILE__, __LINE__, "CHECK(" #cond ")"); \
        }                                                            \
    } while (0)

#define CHECK_EQ(expected, actual)                                                          \
    do {                                                                                    \
        const long long zav_e = static_cast<long long>(expected);                           \
        const long long zav_a = static_cast<long long>(actual);                             \
        if (zav_e != zav_a) {                                                               \
            char zav_m[512];                                                                \
            std::snprintf(zav_m, sizeof zav_m,                                              \
                          "%s == %s: expected %lld (0x%llx), got %lld (0x%llx)", #expected, \
                          #actual, zav_e, zav_e, zav_a, zav_a);                             \
            zavtest::Report(__FILE__, __LINE__, zav_m);                                     \
        }                                                                                   \
    } while (0)

#define CHECK_HR(expected, actual) \
    CHECK_EQ(static_cast<unsigned long>(expected), static_cast<unsigned long>(actual))

#define CHECK_WSTR(expected, actual) \
    zavtest::CheckWideString((expected), (actual), #expected " == " #actual, __FILE__, __LINE__)

namespace zavtest {

// The class identifier and library identifier as the registry writes them.
inline constexpr const wchar_t *kClsidString = L"{2E1CAF41-7450-4FBF-9A62-F3D8EDAB91B6}";
inline constexpr const wchar_t *kLibidString = L"{85FC9E0C-04B2-46F5-AA9A-81D3F4074EA6}";

// The server's exports, reached through LoadLibrary and GetProcAddress.
struct ServerExports {
    HMODULE module = nullptr;
    HRESULT(WINAPI *canUnloadNow)() = nullptr;
    HRESULT(WINAPI *getClassObject)(REFCLSID, REFIID, void **) = nullptr;
    HRESULT(WINAPI *registerServer)() = nullptr;
    HRESULT(WINAPI *unregisterServer)() = nullptr;

    // False (and a failed check) when the module or an export cannot be found.
    bool Load(const wchar_t *dllPath);
};

// A component object created through COM for the duration of a test.
class ComObject {
  public:
    ComObject();
    ~ComObject();
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    IZAVImageOCX *operator->() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

  private:
    IZAVImageOCX *m_object = nullptr;
};

class Bstr {
  public:
    explicit Bstr(const std::wstring &s) : m_bstr(SysAllocStringLen(s.data(), s.size())) {}
    ~Bstr() { SysFreeString(m_bstr); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return m_bstr; }

  private:
    BSTR m_bstr;
};

// Releases a record handed out by the component.
HRESULT Release(const ComObject &object, ZAVImageStruct *record);

inline int Stride(const ZAVImageStruct &r) {
    return (r.width * r.channels + 3) & ~3;
}

// The bytes of a file; empty when it cannot be read.
std::vector<unsigned char> FileBytes(const wchar_t *path);

// Test groups: each returns after running all its checks; failures are counted by the kit.
void RunExportsGroup(const wchar_t *dllPath);                           // nothing registered yet
void RunRegistryGroup(const wchar_t *dllPath, const wchar_t *tlbPath);  // registered
void RunCreationGroup(const wchar_t *dllPath);                          // registered, through COM
void RunTypeLibGroup(const wchar_t *dllPath, const wchar_t *tlbPath);   // registered
void RunOperationsGroup();                                              // registered, through COM
void RunNamesGroup(const wchar_t *folder);                              // registered, through COM
void RunSequenceGroup(const wchar_t *input, const wchar_t *jpegOut, const wchar_t *bmpOut);
void RunUnregisteredGroup(const wchar_t *dllPath);  // after unregistration
void RunPartialUnregisterGroup(const wchar_t *dllPath);
// Without COM on the main thread: count workers, each in an apartment of its own, draw captions
// and end after the server is unloaded, rounds times over.
void RunThreadsGroup(int count, int rounds);
void RunMultithreadedGroup();  // registered: creation from a multithreaded apartment

}  // namespace zavtest
