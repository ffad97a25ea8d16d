// The registered type library read back through ITypeLib and ITypeInfo, the bytes of its Chinese
// strings, and the other resources of the DLL.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host.h"

namespace zavtest {

namespace {

struct ExpectedMethod {
    const wchar_t *name;
    std::vector<std::wstring> params;  // "direction type name"
};

const ExpectedMethod kMethods[] = {
    {L"ZAVLoadImage", {L"in BSTR imageFileName", L"out *ZAVImageStruct imageStruct"}},
    {L"ZAVSetImageQuality", {L"in float fQuality"}},
    {L"ZAVSaveImage",
     {L"in BSTR imageFileName", L"in *byte imageData", L"in long width", L"in long height",
      L"in long depth", L"in long channels"}},
    {L"ZAVCreateImage",
     {L"in long width", L"in long height", L"in long depth", L"in long channels",
      L"out *ZAVImageStruct imageStruct"}},
    {L"ZAVFlipImage",
     {L"in *byte imageData", L"in long width", L"in long height", L"in long depth",
      L"in long channels"}},
    {L"ZAVReSizeImage",
     {L"in *ZAVImageStruct imageStruct", L"out *ZAVImageStruct videoImageStruct"}},
    {L"ZAVReleaseImage", {L"in **ZAVImageStruct ppImage"}},
    {L"ZAVCopyImage",
     {L"in *ZAVImageStruct psourceImage", L"in long sx", L"in long sy", L"in long swidth",
      L"in long sheight", L"in *ZAVImageStruct pdestImage", L"in long dx", L"in long dy",
      L"in long dwidth", L"in long dheight"}},
    {L"ZAVPutTextToImage",
     {L"in *ZAVImageStruct pImage", L"in *byte pText", L"in long x", L"in long y", L"in long color",
      L"in float fSize", L"in float fCharSpace", L"in float transparency"}},
    {L"ZAVDrawRect",
     {L"in *ZAVImageStruct pImage", L"in ZAVImageRect thisImageRect", L"in long color"}},
    {L"ZAVCloneImage", {L"in *ZAVImageStruct psourceImage", L"out *ZAVImageStruct pdestImage"}},
};

// The documentation string of a library's type (by index, -1 for the library) or of a type's
// member (by identifier, MEMBERID_NIL for the type), with its name in *name; "" for what is
// missing.
template <typename Owner>
std::wstring Documentation(Owner *owner, int index, std::wstring *name = nullptr) {
    BSTR n = nullptr;
    BSTR doc = nullptr;
    owner->GetDocumentation(index, &n, &doc, nullptr, nullptr);
    if (name != nullptr) {
        *name = n ? n : L"";
    }
    std::wstring result = doc ? doc : L"";
    SysFreeString(n);
    SysFreeString(doc);
    return result;
}

std::wstring TypeText(ITypeInfo *owner, const TYPEDESC &type) {
    switch (type.vt) {
        case VT_PTR:
            return L"*" + TypeText(owner, *type.lptdesc);
        case VT_USERDEFINED: {
            ITypeInfo *referenced = nullptr;
            std::wstring name;
            if (SUCCEEDED(owner->GetRefTypeInfo(type.hreftype, &referenced))) {
                Documentation(referenced, MEMBERID_NIL, &name);
                referenced->Release();
            }
            return name.empty() ? L"?" : name;
        }
        case VT_BSTR:
            return L"BSTR";
        case VT_I4:
            return L"long";
        case VT_INT:
            return L"int";
        case VT_R4:
            return L"float";
        case VT_UI1:
            return L"byte";
        case VT_HRESULT:
            return L"HRESULT";
        default: {
            wchar_t text[32];
            std::swprintf(text, 32, L"vt%u", static_cast<unsigned>(type.vt));
            return text;
        }
    }
}

// The identifier of the first type info implements (a class) or derives from (an interface);
// GUID_NULL when it cannot be read.
GUID FirstImplTypeGuid(ITypeInfo *info) {
    GUID guid = GUID_NULL;
    HREFTYPE ref = 0;
    ITypeInfo *implemented = nullptr;
    CHECK_HR(S_OK, info->GetRefTypeOfImplType(0, &ref));
    CHECK_HR(S_OK, info->GetRefTypeInfo(ref, &implemented));
    if (implemented != nullptr) {
        TYPEATTR *attr = nullptr;
        implemented->GetTypeAttr(&attr);
        if (attr != nullptr) {
            guid = attr->guid;
            implemented->ReleaseTypeAttr(attr);
        }
        implemented->Release();
    }
    return guid;
}

void CheckLibrary(ITypeLib *lib) {
    TLIBATTR *attr = nullptr;
    CHECK_HR(S_OK, lib->GetLibAttr(&attr));
    if (attr != nullptr) {
        CHECK(IsEqualGUID(attr->guid, LIBID_ZAVImage));
        CHECK_EQ(1, attr->wMajorVerNum);
        CHECK_EQ(0, attr->wMinorVerNum);
        CHECK_EQ(kSysKind, attr->syskind);
        // Wine reports the second locale field of the file (0), under which the library is
        // registered; the header's locale (0x409) is checked in the file's bytes.
        CHECK_EQ(0, attr->lcid);
        CHECK_EQ(0, attr->wLibFlags & ~LIBFLAG_FHASDISKIMAGE);
        lib->ReleaseTLibAttr(attr);
    }
    std::wstring name;
    CHECK_WSTR(L"ZAVImage 1.0 类型库", Documentation(lib, -1, &name).c_str());
    CHECK_WSTR(L"ZAVImage", name.c_str());
    CHECK_EQ(4, lib->GetTypeInfoCount());
    const wchar_t *names[] = {L"CZAVImageOCX", L"IZAVImageOCX", L"ZAVImageStruct", L"ZAVImageRect"};
    const TYPEKIND kinds[] = {TKIND_COCLASS, TKIND_INTERFACE, TKIND_RECORD, TKIND_RECORD};
    for (int i = 0; i < 4; ++i) {
        Documentation(lib, i, &name);
        CHECK_WSTR(names[i], name.c_str());
        TYPEKIND kind = TKIND_MAX;
        CHECK_HR(S_OK, lib->GetTypeInfoType(i, &kind));
        CHECK_EQ(kinds[i], kind);
    }
}

void CheckCoclass(ITypeLib *lib) {
    ITypeInfo *info = nullptr;
    CHECK_HR(S_OK, lib->GetTypeInfoOfGuid(CLSID_CZAVImageOCX, &info));
    if (info == nullptr) {
        return;
    }
    TYPEATTR *attr = nullptr;
    CHECK_HR(S_OK, info->GetTypeAttr(&attr));
    if (attr != nullptr) {
        CHECK_EQ(TKIND_COCLASS, attr->typekind);
        CHECK_EQ(TYPEFLAG_FCANCREATE, attr->wTypeFlags);
        CHECK_EQ(1, attr->wMajorVerNum);
        CHECK_EQ(0, attr->wMinorVerNum);
        CHECK_EQ(1, attr->cImplTypes);
        info->ReleaseTypeAttr(attr);
    }
    CHECK_WSTR(L"ZAVImageOCX Class", Documentation(info, MEMBERID_NIL).c_str());
    INT flags = 0;
    CHECK_HR(S_OK, info->GetImplTypeFlags(0, &flags));
    CHECK_EQ(IMPLTYPEFLAG_FDEFAULT, flags);
    CHECK(IsEqualGUID(IID_IZAVImageOCX, FirstImplTypeGuid(info)));
    info->Release();
}

void CheckInterface(ITypeLib *lib) {
    ITypeInfo *info = nullptr;
    CHECK_HR(S_OK, lib->GetTypeInfoOfGuid(IID_IZAVImageOCX, &info));
    if (info == nullptr) {
        return;
    }
    TYPEATTR *attr = nullptr;
    CHECK_HR(S_OK, info->GetTypeAttr(&attr));
    if (attr != nullptr) {
        CHECK_EQ(TKIND_INTERFACE, attr->typekind);
        CHECK_EQ(0, attr->wTypeFlags);
        CHECK_EQ(0, attr->wMajorVerNum);
        CHECK_EQ(0, attr->wMinorVerNum);
        CHECK_EQ(11, attr->cFuncs);
        CHECK_EQ(1, attr->cImplTypes);
        CHECK_EQ(14 * kPointerBytes, attr->cbSizeVft);
        info->ReleaseTypeAttr(attr);
    }
    CHECK_WSTR(L"IZAVImageOCX 接口", Documentation(info, MEMBERID_NIL).c_str());
    CHECK(IsEqualGUID(IID_IUnknown, FirstImplTypeGuid(info)));

    for (UINT n = 0; n < 11; ++n) {
        const ExpectedMethod &method = kMethods[n];
        FUNCDESC *func = nullptr;
        CHECK_HR(S_OK, info->GetFuncDesc(n, &func));
        if (func == nullptr) {
            continue;
        }
        CHECK_EQ(0x60010000 + n, func->memid);
        CHECK_EQ((3 + n) * kPointerBytes, func->oVft);
        CHECK_EQ(FUNC_PUREVIRTUAL, func->funckind);
        CHECK_EQ(INVOKE_FUNC, func->invkind);
        CHECK_EQ(CC_STDCALL, func->callconv);
        CHECK_EQ(0, func->wFuncFlags);
        CHECK_EQ(0, func->cParamsOpt);
        CHECK_WSTR(L"HRESULT", TypeText(info, func->elemdescFunc.tdesc).c_str());
        CHECK_EQ(method.params.size(), func->cParams);
        BSTR names[16] = {};
        UINT count = 0;
        info->GetNames(func->memid, names, 16, &count);
        CHECK_EQ(method.params.size() + 1, count);
        CHECK_WSTR(method.name, names[0]);
        for (SHORT i = 0; i < func->cParams && static_cast<size_t>(i) < method.params.size(); ++i) {
            const ELEMDESC &param = func->lprgelemdescParam[i];
            const USHORT flags = param.paramdesc.wParamFlags;
            std::wstring text = (flags & PARAMFLAG_FIN) ? L"in" : L"";
            if (flags & PARAMFLAG_FOUT) {
                text += text.empty() ? L"out" : L" out";
            }
            text += L" " + TypeText(info, param.tdesc) + L" " +
                    (i + 1u < count && names[i + 1] ? names[i + 1] : L"?");
            CHECK_WSTR(method.params[i].c_str(), text.c_str());
            CHECK_EQ(0, flags & ~(PARAMFLAG_FIN | PARAMFLAG_FOUT));
        }
        for (BSTR name : names) {
            SysFreeString(name);
        }
        CHECK_WSTR((std::wstring(L"方法") + method.name).c_str(),
                   Documentation(info, func->memid).c_str());
        info->ReleaseFuncDesc(func);
    }
    info->Release();
}

struct ExpectedField {
    const wchar_t *name;
    const wchar_t *type;
    ULONG offset;
};

void CheckRecord(ITypeLib *lib, UINT index, const wchar_t *name, ULONG size, WORD alignment,
                 const std::vector<ExpectedField> &fields) {
    ITypeInfo *info = nullptr;
    CHECK_HR(S_OK, lib->GetTypeInfo(index, &info));
    if (info == nullptr) {
        return;
    }
    TYPEATTR *attr = nullptr;
    CHECK_HR(S_OK, info->GetTypeAttr(&attr));
    if (attr != nullptr) {
        CHECK_EQ(TKIND_RECORD, attr->typekind);
        CHECK_EQ(size, attr->cbSizeInstance);
        CHECK_EQ(alignment, attr->cbAlignment);
        CHECK(IsEqualGUID(attr->guid, GUID_NULL));
        CHECK_EQ(fields.size(), attr->cVars);
        info->ReleaseTypeAttr(attr);
    }
    std::wstring recordName;
    Documentation(info, MEMBERID_NIL, &recordName);
    CHECK_WSTR(name, recordName.c_str());
    for (UINT i = 0; i < fields.size(); ++i) {
        VARDESC *var = nullptr;
        CHECK_HR(S_OK, info->GetVarDesc(i, &var));
        if (var == nullptr) {
            continue;
        }
        BSTR fieldName = nullptr;
        UINT count = 0;
        info->GetNames(var->memid, &fieldName, 1, &count);
        CHECK_WSTR(fields[i].name, fieldName);
        SysFreeString(fieldName);
        CHECK_EQ(VAR_PERINSTANCE, var->varkind);
        CHECK_EQ(fields[i].offset, var->oInst);
        CHECK_WSTR(fields[i].type, TypeText(info, var->elemdescVar.tdesc).c_str());
        info->ReleaseVarDesc(var);
    }
    info->Release();
}

size_t CountOf(const std::vector<unsigned char> &haystack, const std::vector<unsigned char> &n) {
    size_t count = 0;
    for (size_t i = 0; i + n.size() <= haystack.size(); ++i) {
        if (std::memcmp(&haystack[i], n.data(), n.size()) == 0) {
            ++count;
        }
    }
    return count;
}

void CheckGbkBytes(const wchar_t *tlbPath) {
    const std::vector<unsigned char> file = FileBytes(tlbPath);
    CHECK(file.size() > 4 && std::memcmp(file.data(), "MSFT", 4) == 0);
    // "类型库", "接口" and "方法" in code page 936; "方法" once per method.
    CHECK_EQ(1, CountOf(file, {0xC0, 0xE0, 0xD0, 0xCD, 0xBF, 0xE2}));
    CHECK_EQ(1, CountOf(file, {0xBD, 0xD3, 0xBF, 0xDA}));
    CHECK_EQ(11, CountOf(file, {0xB7, 0xBD, 0xB7, 0xA8}));
    // The locale field of the file header.
    CHECK(file.size() > 16 && file[12] == 0x09 && file[13] == 0x04 && file[14] == 0 &&
          file[15] == 0);
}

std::vector<unsigned char> Resource(HMODULE module, const wchar_t *type, const wchar_t *name,
                                    WORD language) {
    std::vector<unsigned char> bytes;
    HRSRC found = FindResourceExW(module, type, name, language);
    if (found == nullptr) {
        return bytes;
    }
    HGLOBAL loaded = LoadResource(module, found);
    const unsigned char *data = static_cast<const unsigned char *>(LockResource(loaded));
    if (data != nullptr) {
        bytes.assign(data, data + SizeofResource(module, found));
    }
    return bytes;
}

std::wstring VersionString(std::vector<unsigned char> &version, const wchar_t *name) {
    wchar_t *value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080403a8\\") + name;
    if (!VerQueryValueW(version.data(), query.c_str(), reinterpret_cast<void **>(&value),
                        &length) ||
        value == nullptr) {
        return L"(missing)";
    }
    return std::wstring(value, length > 0 ? length - (value[length - 1] == 0 ? 1 : 0) : 0);
}

void CheckResources(const wchar_t *dllPath, const wchar_t *tlbPath) {
    HMODULE module = LoadLibraryW(dllPath);
    CHECK(module != nullptr);
    if (module == nullptr) {
        return;
    }
    const WORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
    CHECK_EQ(2052, chinese);
    const std::vector<unsigned char> typeLib =
        Resource(module, L"TYPELIB", MAKEINTRESOURCEW(1), english);
    CHECK(!typeLib.empty() && typeLib == FileBytes(tlbPath));

    const std::vector<unsigned char> script =
        Resource(module, L"REGISTRY", MAKEINTRESOURCEW(101), chinese);
    const char kScript[] =
        "HKCR\r\n{\r\n\tNoRemove AppID\r\n\t{\r\n\t\t'%APPID%' = s 'ZAVImage'\r\n"
        "\t\t'ZAVImage.DLL'\r\n\t\t{\r\n\t\t\tval AppID = s '%APPID%'\r\n\t\t}\r\n\t}\r\n}\r\n";
    CHECK_EQ(121, sizeof kScript - 1);
    CHECK(script == std::vector<unsigned char>(kScript, kScript + 121));

    // String 100 is entry 4 of string block 7.
    const std::vector<unsigned char> block =
        Resource(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(7), chinese);
    const wchar_t *entry = reinterpret_cast<const wchar_t *>(block.data());
    const wchar_t *end = entry + block.size() / 2;
    for (int i = 0; i < 4 && entry < end; ++i) {
        entry += 1 + *entry;
    }
    CHECK(entry < end && std::wstring(entry + 1, entry + 1 + *entry) == L"ZAVImage");

    std::vector<unsigned char> version =
        Resource(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), chinese);
    CHECK(!version.empty());
    if (!version.empty()) {
        VS_FIXEDFILEINFO *fixed = nullptr;
        UINT length = 0;
        CHECK(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
        if (fixed != nullptr) {
            CHECK_EQ(0x00010000, fixed->dwFileVersionMS);
            CHECK_EQ(0x00000001, fixed->dwFileVersionLS);
            CHECK_EQ(0x00010000, fixed->dwProductVersionMS);
            CHECK_EQ(0x00000001, fixed->dwProductVersionLS);
            CHECK_EQ(VFT_DLL, fixed->dwFileType);
            CHECK_EQ(VOS__WINDOWS32, fixed->dwFileOS);
        }
        DWORD *translation = nullptr;
        CHECK(VerQueryValueW(version.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void **>(&translation), &length));
        CHECK(translation != nullptr && *translation == MAKELONG(2052, 936));
        CHECK_WSTR(L"ZAVImage.dll", VersionString(version, L"InternalName").c_str());
        CHECK_WSTR(L"ZAVImage.dll", VersionString(version, L"OriginalFilename").c_str());
        CHECK_WSTR(L"1.0.0.1", VersionString(version, L"FileVersion").c_str());
        CHECK_WSTR(L"", VersionString(version, L"OLESelfRegister").c_str());
    }
    FreeLibrary(module);
}

}  // namespace

void RunTypeLibGroup(const wchar_t *dllPath, const wchar_t *tlbPath) {
    // Chinese strings are read back through the ANSI code page.
    CHECK_EQ(936, GetACP());
    ITypeLib *lib = nullptr;
    CHECK_HR(S_OK, LoadRegTypeLib(LIBID_ZAVImage, 1, 0, 0, &lib));
    BSTR registeredPath = nullptr;
    CHECK_HR(S_OK, QueryPathOfRegTypeLib(LIBID_ZAVImage, 1, 0, 0, &registeredPath));
    CHECK_WSTR(tlbPath, registeredPath);
    SysFreeString(registeredPath);
    if (lib != nullptr) {
        CheckLibrary(lib);
        CheckCoclass(lib);
        CheckInterface(lib);
        CheckRecord(lib, 2, L"ZAVImageStruct", kImageStructBytes, kPointerBytes,
                    {{L"width", L"long", 0},
                     {L"height", L"long", 4},
                     {L"depth", L"long", 8},
                     {L"channels", L"long", 12},
                     {L"data", L"*byte", 16}});
        CheckRecord(
            lib, 3, L"ZAVImageRect", 16, 4,
            {{L"x", L"int", 0}, {L"y", L"int", 4}, {L"width", L"int", 8}, {L"height", L"int", 12}});
        lib->Release();
    }
    CheckGbkBytes(tlbPath);
    CheckResources(dllPath, tlbPath);
}

}  // namespace zavtest
