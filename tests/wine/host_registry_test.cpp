// The registration tree after regsvr32: every key and value with its exact text, no AppID key,
// the registered type library, and registering again over stray keys.
#include <string>
#include <vector>

#include "host.h"
#include "host_registry.h"

namespace zavtest {

namespace {

using Names = std::vector<std::wstring>;

const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClsidString;

std::wstring FolderOf(const std::wstring &path) {
    return path.substr(0, path.find_last_of(L"\\/:") + 1);
}

void CheckTree(const wchar_t *dllPath, const wchar_t *tlbPath) {
    const std::wstring versioned = L"ZAVImage.ZAVImageOCX.1";
    const std::wstring independent = L"ZAVImage.ZAVImageOCX";
    EXPECT_REG_SZ(versioned, nullptr, L"CZAVImageOCX Object");
    CHECK(ValueNames(HKEY_CLASSES_ROOT, versioned) == Names{L""});
    CHECK(SubkeyNames(HKEY_CLASSES_ROOT, versioned) == Names{L"CLSID"});
    EXPECT_REG_SZ(versioned + L"\\CLSID", nullptr, kClsidString);

    EXPECT_REG_SZ(independent, nullptr, L"CZAVImageOCX Object");
    CHECK(ValueNames(HKEY_CLASSES_ROOT, independent) == Names{L""});
    CHECK((SubkeyNames(HKEY_CLASSES_ROOT, independent) == Names{L"CLSID", L"CurVer"}));
    EXPECT_REG_SZ(independent + L"\\CLSID", nullptr, kClsidString);
    EXPECT_REG_SZ(independent + L"\\CurVer", nullptr, L"ZAVImage.ZAVImageOCX.1");

    EXPECT_REG_SZ(kClassKey, nullptr, L"CZAVImageOCX Object");
    EXPECT_REG_SZ(kClassKey, L"AppID", L"");
    CHECK((ValueNames(HKEY_CLASSES_ROOT, kClassKey) == Names{L"", L"AppID"}));
    CHECK((SubkeyNames(HKEY_CLASSES_ROOT, kClassKey) == Names{L"InprocServer32", L"ProgID",
                                                              L"Programmable", L"TypeLib",
                                                              L"VersionIndependentProgID"}));
    EXPECT_REG_SZ(kClassKey + L"\\ProgID", nullptr, L"ZAVImage.ZAVImageOCX.1");
    EXPECT_REG_SZ(kClassKey + L"\\VersionIndependentProgID", nullptr, L"ZAVImage.ZAVImageOCX");
    CHECK(ValueNames(HKEY_CLASSES_ROOT, kClassKey + L"\\Programmable").empty());
    CHECK(SubkeyNames(HKEY_CLASSES_ROOT, kClassKey + L"\\Programmable").empty());
    EXPECT_REG_SZ(kClassKey + L"\\InprocServer32", nullptr, dllPath);
    EXPECT_REG_SZ(kClassKey + L"\\InprocServer32", L"ThreadingModel", L"apartment");
    CHECK((ValueNames(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32") ==
           Names{L"", L"ThreadingModel"}));
    EXPECT_REG_SZ(kClassKey + L"\\TypeLib", nullptr, kLibidString);

    // Nothing under AppID.
    CHECK(!KeyExists(HKEY_CLASSES_ROOT, L"AppID\\ZAVImage.DLL"));
    CHECK(!KeyExists(HKEY_CLASSES_ROOT, std::wstring(L"AppID\\") + kClsidString));

    // The type library, registered from the .tlb file beside the DLL.
    const std::wstring version = std::wstring(L"TypeLib\\") + kLibidString + L"\\1.0";
    EXPECT_REG_SZ(version + L"\\0\\" + kTypeLibPlatform, nullptr, tlbPath);
    EXPECT_REG_SZ(version + L"\\HELPDIR", nullptr, FolderOf(tlbPath));
}

void CheckRegisterAgain(const ServerExports &s) {
    const std::wstring versioned = L"ZAVImage.ZAVImageOCX.1";
    const std::wstring independent = L"ZAVImage.ZAVImageOCX";
    const std::wstring before = DumpTree(HKEY_CLASSES_ROOT, versioned) +
                                DumpTree(HKEY_CLASSES_ROOT, independent) +
                                DumpTree(HKEY_CLASSES_ROOT, kClassKey);
    HKEY stray = nullptr;
    CHECK_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + L"\\Stray").c_str(), 0,
                                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &stray, nullptr));
    RegCloseKey(stray);
    CHECK_EQ(ERROR_SUCCESS,
             RegCreateKeyExW(HKEY_CLASSES_ROOT, (independent + L"\\Stray\\Deeper").c_str(), 0,
                             nullptr, 0, KEY_ALL_ACCESS, nullptr, &stray, nullptr));
    RegCloseKey(stray);

    CHECK_HR(S_OK, s.registerServer());
    // The class key is rebuilt from scratch; the program identifier keys are kept as they are.
    CHECK(!KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\Stray"));
    CHECK(KeyExists(HKEY_CLASSES_ROOT, independent + L"\\Stray\\Deeper"));
    CHECK_EQ(ERROR_SUCCESS,
             RegDeleteKeyW(HKEY_CLASSES_ROOT, (independent + L"\\Stray\\Deeper").c_str()));
    CHECK_EQ(ERROR_SUCCESS, RegDeleteKeyW(HKEY_CLASSES_ROOT, (independent + L"\\Stray").c_str()));

    const std::wstring after = DumpTree(HKEY_CLASSES_ROOT, versioned) +
                               DumpTree(HKEY_CLASSES_ROOT, independent) +
                               DumpTree(HKEY_CLASSES_ROOT, kClassKey);
    CHECK(before == after);
    if (before != after) {
        std::printf("before:\n%ls\nafter:\n%ls\n", before.c_str(), after.c_str());
    }
}

}  // namespace

void RunRegistryGroup(const wchar_t *dllPath, const wchar_t *tlbPath) {
    CheckTree(dllPath, tlbPath);
    ServerExports s;
    if (s.Load(dllPath)) {
        CheckRegisterAgain(s);
    }
    CheckTree(dllPath, tlbPath);
}

}  // namespace zavtest
