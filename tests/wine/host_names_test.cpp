// File names through COM under the ANSI code page 936: Windows paths, slashes, relative names,
// Chinese names, the refused characters, the 259-byte limit and characters the code page lacks.
// FOLDER holds in\a.bmp and 中文\图片.bmp.
#include <string>

#include <initializer_list>

#include "host.h"

namespace zavtest {

namespace {

// Loads name and releases what was loaded; returns the load's result.
HRESULT LoadResult(const ComObject &object, const std::wstring &name, int *width = nullptr) {
    ZAVImageStruct image{};
    const HRESULT hr = object->ZAVLoadImage(Bstr(name), &image);
    if (hr == S_OK) {
        if (width != nullptr) {
            *width = image.width;
        }
        Release(object, &image);
    }
    return hr;
}

int AnsiLength(const std::wstring &name, bool *usedDefault) {
    BOOL defaulted = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, nullptr, 0, nullptr, &defaulted);
    *usedDefault = defaulted != FALSE;
    return n - 1;
}

// The first common ideograph whose code page 936 form has the given second byte.
wchar_t IdeographWithTrailByte(unsigned char trail) {
    for (wchar_t c = 0x4E00; c < 0x9FA5; ++c) {
        char bytes[4];
        if (WideCharToMultiByte(936, 0, &c, 1, bytes, 4, nullptr, nullptr) == 2 &&
            static_cast<unsigned char>(bytes[1]) == trail) {
            return c;
        }
    }
    return 0;
}

void CheckPathForms(const ComObject &object, const std::wstring &folder) {
    int width = 0;
    CHECK_HR(S_OK, LoadResult(object, folder + L"\\in\\a.bmp", &width));
    CHECK(width > 0);
    std::wstring slashes = folder + L"/in/a.bmp";
    for (wchar_t &c : slashes) {
        c = c == L'\\' ? L'/' : c;
    }
    int slashWidth = 0;
    CHECK_HR(S_OK, LoadResult(object, slashes, &slashWidth));
    CHECK_EQ(width, slashWidth);
    CHECK(SetCurrentDirectoryW((folder + L"\\in").c_str()));
    CHECK_HR(S_OK, LoadResult(object, L"a.bmp"));
    CHECK_HR(S_OK, LoadResult(object, L"..\\in\\a.bmp"));
    CHECK_HR(S_OK, LoadResult(object, folder + L"\\IN\\A.BMP"));  // Windows names ignore case
    CHECK_HR(S_FALSE, LoadResult(object, folder + L"\\in\\missing.bmp"));
}

void CheckChineseNames(const ComObject &object, const std::wstring &folder) {
    CHECK_HR(S_OK, LoadResult(object, folder + L"\\中文\\图片.bmp"));
    ZAVImageStruct image{};
    CHECK_HR(S_OK, object->ZAVLoadImage(Bstr(folder + L"\\中文\\图片.bmp"), &image));
    const std::wstring saved = folder + L"\\中文\\结果.bmp";
    CHECK_HR(S_OK, object->ZAVSaveImage(Bstr(saved), image.data, image.width, image.height,
                                        image.depth, image.channels));
    CHECK(GetFileAttributesW(saved.c_str()) != INVALID_FILE_ATTRIBUTES);
    ZAVImageStruct back{};
    CHECK_HR(S_OK, object->ZAVLoadImage(Bstr(saved), &back));
    CHECK(back.width == image.width && back.height == image.height);
    if (back.data != nullptr && image.data != nullptr) {
        for (int y = 0; y < image.height; ++y) {  // pixels only: row padding is not pixel data
            CHECK(memcmp(back.data + y * Stride(back), image.data + y * Stride(image),
                         static_cast<size_t>(image.width) * 3) == 0);
        }
        Release(object, &back);
    }
    if (image.data != nullptr) {
        Release(object, &image);
    }
}

void CheckRefusedNames(const ComObject &object, const std::wstring &folder) {
    const std::wstring source = folder + L"\\in\\a.bmp";
    // A file whose name holds a semicolon exists, and is refused all the same.
    const std::wstring semicolon = folder + L"\\in\\semi;colon.bmp";
    CHECK(CopyFileW(source.c_str(), semicolon.c_str(), FALSE));
    CHECK_HR(S_FALSE, LoadResult(object, semicolon));
    ZAVImageStruct image{};
    CHECK_HR(S_OK, object->ZAVLoadImage(Bstr(source), &image));
    for (const wchar_t *bad : {L"*", L"?", L"\"", L"<", L">", L";", L"|"}) {
        const std::wstring name = folder + L"\\out\\refused" + bad + L".bmp";
        CHECK_HR(S_FALSE, LoadResult(object, name));
        CHECK_HR(S_FALSE, object->ZAVSaveImage(Bstr(name), image.data, image.width, image.height,
                                               image.depth, image.channels));
    }
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\out\\refused*").c_str(), &found);
    CHECK(search == INVALID_HANDLE_VALUE);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    Release(object, &image);

    // A character that code page 936 lacks becomes "?", which is refused.
    const std::wstring thai = folder + L"\\in\\\x0E01.bmp";
    bool usedDefault = false;
    AnsiLength(thai, &usedDefault);
    CHECK(usedDefault);
    CHECK(CopyFileW(source.c_str(), thai.c_str(), FALSE));
    CHECK_HR(S_FALSE, LoadResult(object, thai));

    // Double-byte characters are checked byte by byte: a second byte of 7C refuses the name, one
    // of 5C becomes a slash (so the file is not found).
    for (unsigned char trail : {0x7C, 0x5C}) {
        const wchar_t c = IdeographWithTrailByte(trail);
        CHECK(c != 0);
        const std::wstring name = folder + L"\\in\\" + c + L".bmp";
        CHECK(CopyFileW(source.c_str(), name.c_str(), FALSE));
        CHECK_HR(S_FALSE, LoadResult(object, name));
    }
}

void CheckLengthLimit(const ComObject &object, const std::wstring &folder) {
    const std::wstring source = folder + L"\\in\\a.bmp";
    const std::wstring dir = folder + L"\\long\\";
    CreateDirectoryW(dir.c_str(), nullptr);
    bool usedDefault = false;
    const int prefix = AnsiLength(dir, &usedDefault);
    // 259 bytes: used whole.
    const std::wstring ok = dir + std::wstring(259 - prefix - 4, L'x') + L".bmp";
    CHECK_EQ(259, AnsiLength(ok, &usedDefault));
    CHECK(CopyFileW(source.c_str(), (L"\\\\?\\" + ok).c_str(), FALSE));
    CHECK_HR(S_OK, LoadResult(object, ok));
    // 260 bytes: refused although the file is there.
    const std::wstring tooLong = dir + std::wstring(260 - prefix - 4, L'x') + L".bmp";
    CHECK_EQ(260, AnsiLength(tooLong, &usedDefault));
    CHECK(CopyFileW(source.c_str(), (L"\\\\?\\" + tooLong).c_str(), FALSE));
    CHECK_HR(S_FALSE, LoadResult(object, tooLong));
    // Double-byte characters count two bytes each (and three in the Unix name, so they are
    // spread over a folder and a file): 259 bytes of Chinese and ASCII pass.
    const std::wstring chineseDir = dir + std::wstring(60, L'图') + L"\\";
    CreateDirectoryW(chineseDir.c_str(), nullptr);
    const int rest = 259 - AnsiLength(chineseDir, &usedDefault) - 4;
    const std::wstring wide =
        chineseDir + std::wstring(rest / 2, L'图') + std::wstring(rest % 2, L'y') + L".bmp";
    CHECK_EQ(259, AnsiLength(wide, &usedDefault));
    CHECK(CopyFileW(source.c_str(), wide.c_str(), FALSE));
    CHECK_HR(S_OK, LoadResult(object, wide));
    const std::wstring wider =
        chineseDir + std::wstring(rest / 2, L'图') + std::wstring(rest % 2 + 1, L'y') + L".bmp";
    CHECK_EQ(260, AnsiLength(wider, &usedDefault));
    CHECK(CopyFileW(source.c_str(), (L"\\\\?\\" + wider).c_str(), FALSE));
    CHECK_HR(S_FALSE, LoadResult(object, wider));
}

}  // namespace

void RunNamesGroup(const wchar_t *folder) {
    CHECK_EQ(936, GetACP());
    ComObject object;
    if (!object) {
        return;
    }
    CheckPathForms(object, folder);
    CheckChineseNames(object, folder);
    CheckRefusedNames(object, folder);
    CheckLengthLimit(object, folder);
}

}  // namespace zavtest
