// The Windows test host: zav_com_host GROUP ARGS... runs one group of checks against ZAVImage.dll
// and exits with the number of failed checks. Also the kit the groups share.
#include "host.h"

namespace zavtest {

int &Failures() {
    static int failures = 0;
    return failures;
}

void Report(const char *file, int line, const char *what) {
    ++Failures();
    std::printf("FAILED %s:%d: %s\n", file, line, what);
    std::fflush(stdout);
}

void CheckWideString(const wchar_t *expected, const wchar_t *actual, const char *what,
                     const char *file, int line) {
    if (actual != nullptr && lstrcmpW(expected, actual) == 0) {
        return;
    }
    std::string message = std::string(what) + ": expected ";
    auto append = [&message](const wchar_t *s) {
        if (s == nullptr) {
            message += "(null)";
            return;
        }
        char utf8[2048] = {};
        WideCharToMultiByte(CP_UTF8, 0, s, -1, utf8, sizeof utf8 - 1, nullptr, nullptr);
        message += "\"" + std::string(utf8) + "\" [";
        for (const wchar_t *p = s; *p != 0; ++p) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%s%04x", p == s ? "" : " ", static_cast<unsigned>(*p));
            message += hex;
        }
        message += "]";
    };
    append(expected);
    message += ", got ";
    append(actual);
    Report(file, line, message.c_str());
}

bool ServerExports::Load(const wchar_t *dllPath) {
    module = LoadLibraryW(dllPath);
    CHECK(module != nullptr);
    if (module == nullptr) {
        return false;
    }
    canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(
        reinterpret_cast<void *>(GetProcAddress(module, "DllCanUnloadNow")));
    getClassObject = reinterpret_cast<decltype(getClassObject)>(
        reinterpret_cast<void *>(GetProcAddress(module, "DllGetClassObject")));
    registerServer = reinterpret_cast<decltype(registerServer)>(
        reinterpret_cast<void *>(GetProcAddress(module, "DllRegisterServer")));
    unregisterServer = reinterpret_cast<decltype(unregisterServer)>(
        reinterpret_cast<void *>(GetProcAddress(module, "DllUnregisterServer")));
    CHECK(canUnloadNow != nullptr);
    CHECK(getClassObject != nullptr);
    CHECK(registerServer != nullptr);
    CHECK(unregisterServer != nullptr);
    return canUnloadNow && getClassObject && registerServer && unregisterServer;
}

ComObject::ComObject() {
    CHECK_HR(S_OK, CoCreateInstance(CLSID_CZAVImageOCX, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IZAVImageOCX, reinterpret_cast<void **>(&m_object)));
}

ComObject::~ComObject() {
    if (m_object != nullptr) {
        m_object->Release();
    }
}

HRESULT Release(const ComObject &object, ZAVImageStruct *record) {
    ZAVImageStruct *p = record;
    return object->ZAVReleaseImage(&p);
}

std::vector<unsigned char> FileBytes(const wchar_t *path) {
    std::vector<unsigned char> bytes;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file, bytes.data(), bytes.size(), &read, nullptr)) {
        read = 0;
    }
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
}

}  // namespace zavtest

namespace {

int Usage() {
    std::printf(
        "usage: zav_com_host exports DLL | registry DLL TLB | creation DLL | typelib DLL TLB |\n"
        "       operations | names FOLDER | sequence IN.BMP OUT.JPG OUT.BMP |\n"
        "       unregistered DLL | partial-unregister DLL | threads COUNT ROUNDS | "
        "multithreaded\n");
    return 100;
}

// Prints the group's outcome; the exit code is the number of failed checks.
int Finish(const wchar_t *group) {
    const int failures = zavtest::Failures();
    std::printf("%ls: %s (%d failed)\n", group, failures == 0 ? "passed" : "FAILED", failures);
    return failures;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) {
        return Usage();
    }
    const wchar_t *group = argv[1];
    auto is = [&](const wchar_t *name, int args) {
        return lstrcmpW(group, name) == 0 && argc == args + 2;
    };
    // These groups leave COM uninitialised on the main thread: the server is loaded only by the
    // apartments of their own threads.
    if (is(L"threads", 2)) {
        zavtest::RunThreadsGroup(_wtoi(argv[2]), _wtoi(argv[3]));
        return Finish(group);
    }
    if (is(L"multithreaded", 0)) {
        zavtest::RunMultithreadedGroup();
        return Finish(group);
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (is(L"exports", 1)) {
        zavtest::RunExportsGroup(argv[2]);
    } else if (is(L"registry", 2)) {
        zavtest::RunRegistryGroup(argv[2], argv[3]);
    } else if (is(L"creation", 1)) {
        zavtest::RunCreationGroup(argv[2]);
    } else if (is(L"typelib", 2)) {
        zavtest::RunTypeLibGroup(argv[2], argv[3]);
    } else if (is(L"operations", 0)) {
        zavtest::RunOperationsGroup();
    } else if (is(L"names", 1)) {
        zavtest::RunNamesGroup(argv[2]);
    } else if (is(L"sequence", 3)) {
        zavtest::RunSequenceGroup(argv[2], argv[3], argv[4]);
    } else if (is(L"unregistered", 1)) {
        zavtest::RunUnregisteredGroup(argv[2]);
    } else if (is(L"partial-unregister", 1)) {
        zavtest::RunPartialUnregisterGroup(argv[2]);
    } else {
        CoUninitialize();
        return Usage();
    }
    CoUninitialize();
    return Finish(group);
}
