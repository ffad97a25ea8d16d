// The Windows test host: zav_com_host GROUP ARGS... runs one group of checks against ZAVImage.dll
// and exits with the number of failed checks.
#include <cstdio>

#include "host_check.h"
#include "host_common.h"

namespace zavtest {

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

}  // namespace zavtest

namespace {

int Usage() {
    std::printf(
        "usage: zav_com_host exports DLL | registry DLL TLB | creation DLL | typelib DLL TLB |\n"
        "       operations | names FOLDER | sequence IN.BMP OUT.JPG OUT.BMP |\n"
        "       unregistered DLL | partial-unregister DLL\n");
    return 100;
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
    const int failures = zavtest::Failures();
    std::printf("%ls: %s (%d failed)\n", group, failures == 0 ? "passed" : "FAILED", failures);
    return failures;
}
