// CZAVImageOCX: how its objects are built and counted (the plain object, and the aggregated one
// whose inner IUnknown owns a contained object that delegates to the outer object), and the eleven
// operations of IZAVImageOCX and GetClassInfo. Names and text are brought into the core's form
// here, everything else is passed through unchanged.
#include "server/zav_image_ocx.h"

#include <stddef.h>

#include <new>

#include "server/module.h"

namespace zavsrv {

namespace {

static_assert(sizeof(ZAVImageStruct) == sizeof(core::ImageRecord));
static_assert(offsetof(ZAVImageStruct, width) == offsetof(core::ImageRecord, width));
static_assert(offsetof(ZAVImageStruct, height) == offsetof(core::ImageRecord, height));
static_assert(offsetof(ZAVImageStruct, depth) == offsetof(core::ImageRecord, depth));
static_assert(offsetof(ZAVImageStruct, channels) == offsetof(core::ImageRecord, channels));
static_assert(offsetof(ZAVImageStruct, data) == offsetof(core::ImageRecord, data));
static_assert(sizeof(ZAVImageRect) == sizeof(core::RectRecord));
static_assert(sizeof(LONG) == sizeof(int32_t));

// The font the text operation tries first, inside the Wine prefix.
const WCHAR kFontPath[] = L"c:\\windows\\fonts\\SIMHEI.TTF";

core::ImageRecord *Core(ZAVImageStruct *r) {
    return reinterpret_cast<core::ImageRecord *>(r);
}

// A block of the process heap that frees itself; null until it is given one.
template <typename T>
class HeapBuffer {
  public:
    HeapBuffer() = default;
    explicit HeapBuffer(size_t count)
        : m_data(count <= ~size_t{0} / sizeof(T)
                     ? static_cast<T *>(HeapAlloc(GetProcessHeap(), 0, count * sizeof(T)))
                     : nullptr) {}
    HeapBuffer(const HeapBuffer &) = delete;
    HeapBuffer &operator=(const HeapBuffer &) = delete;
    ~HeapBuffer() { Reset(nullptr); }

    explicit operator bool() const { return m_data != nullptr; }
    T *Get() const { return m_data; }

    // Frees the block held and takes data, a block of the process heap, in its place.
    void Reset(T *data) {
        if (m_data != nullptr) {
            HeapFree(GetProcessHeap(), 0, m_data);
        }
        m_data = data;
    }
    void Swap(HeapBuffer &other) {
        T *data = m_data;
        m_data = other.m_data;
        other.m_data = data;
    }

  private:
    T *m_data = nullptr;
};

// Wine's Unix path for a Windows path that needs no checking. False when Wine cannot map it.
bool MapWindowsPath(const WCHAR *path, HeapBuffer<char> *unixPath) {
    // wine_get_unix_file_name allocates on the process heap.
    unixPath->Reset(wine_get_unix_file_name(path));
    return static_cast<bool>(*unixPath);
}

// Turns a file name given by a Windows program (read up to its first NUL) into the Unix path the
// core opens: converts it to the ANSI code page, checks it by the file-name rules and maps the
// checked name. False when there is no name, the name is empty, a character is missing from the
// code page, the rules refuse it or Wine cannot map it.
bool MapHostFileName(const WCHAR *name, HeapBuffer<char> *unixPath) {
    if (name == nullptr || name[0] == 0) {
        return false;
    }
    // The name as the ANSI code page has it; a character the code page lacks becomes its default
    // character, which the rules refuse.
    const int narrowSize = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
    if (narrowSize <= 0) {
        return false;
    }
    HeapBuffer<char> narrow(static_cast<size_t>(narrowSize));
    if (!narrow || WideCharToMultiByte(CP_ACP, 0, name, -1, narrow.Get(), narrowSize, nullptr,
                                       nullptr) != narrowSize) {
        return false;
    }
    char checked[zav::kMaxFileNameBytes + 1];
    if (core::NormalizeFileName(narrow.Get(), checked) < 0) {
        return false;
    }
    // Back to UTF-16 for Wine's mapping, which resolves drives, relative names and case.
    const int wideSize = MultiByteToWideChar(CP_ACP, 0, checked, -1, nullptr, 0);
    if (wideSize <= 0) {
        return false;
    }
    HeapBuffer<WCHAR> wide(static_cast<size_t>(wideSize));
    if (!wide || MultiByteToWideChar(CP_ACP, 0, checked, -1, wide.Get(), wideSize) != wideSize) {
        return false;
    }
    return MapWindowsPath(wide.Get(), unixPath);
}

// The host's zero-terminated narrow text in the ANSI code page, converted (through UTF-16) to the
// UTF-8 the core reads. False when it cannot be converted (out of memory); a null text converts to
// null.
bool AnsiToUtf8(const unsigned char *text, HeapBuffer<char> *utf8) {
    if (text == nullptr) {
        return true;
    }
    const char *narrow = reinterpret_cast<const char *>(text);
    const int wideSize = MultiByteToWideChar(CP_ACP, 0, narrow, -1, nullptr, 0);
    if (wideSize <= 0) {
        return false;
    }
    HeapBuffer<WCHAR> wide(static_cast<size_t>(wideSize));
    if (!wide || MultiByteToWideChar(CP_ACP, 0, narrow, -1, wide.Get(), wideSize) != wideSize) {
        return false;
    }
    const int utf8Size =
        WideCharToMultiByte(CP_UTF8, 0, wide.Get(), wideSize, nullptr, 0, nullptr, nullptr);
    if (utf8Size <= 0) {
        return false;
    }
    HeapBuffer<char> converted(static_cast<size_t>(utf8Size));
    if (!converted || WideCharToMultiByte(CP_UTF8, 0, wide.Get(), wideSize, converted.Get(),
                                          utf8Size, nullptr, nullptr) != utf8Size) {
        return false;
    }
    utf8->Swap(converted);
    return true;
}

// True when path names an existing file (not a folder).
bool WindowsFileExists(const WCHAR *path) {
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace

ZAVImageOCX::ZAVImageOCX(core::Object *core) : m_core(core) {
    LockModule();
}

ZAVImageOCX::~ZAVImageOCX() {
    core::DestroyObject(m_core);
    UnlockModule();
}

void *ZAVImageOCX::FindInterface(REFIID riid) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IZAVImageOCX)) {
        return static_cast<IZAVImageOCX *>(this);
    }
    if (IsEqualIID(riid, IID_IProvideClassInfo)) {
        return static_cast<IProvideClassInfo *>(this);
    }
    return nullptr;
}

namespace {

// Plain reference counts (the objects live in one apartment); the object deletes itself when the
// count falls to zero.
template <typename Base>
class SelfDeleting : public Base {
  public:
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG refs = --m_refs;
        if (refs == 0) {
            delete this;
        }
        return static_cast<ULONG>(refs);
    }

  protected:
    using Base::Base;
    virtual ~SelfDeleting() = default;

  private:
    LONG m_refs = 0;
};

// A stand-alone object.
class PlainZAVImageOCX final : public SelfDeleting<ZAVImageOCX> {
  public:
    explicit PlainZAVImageOCX(core::Object *core) : SelfDeleting(core) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = FindInterface(riid);
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
};

// The object inside an aggregate: its IUnknown methods are the outer object's.
class ContainedZAVImageOCX final : public ZAVImageOCX {
  public:
    ContainedZAVImageOCX(core::Object *core, IUnknown *outer) : ZAVImageOCX(core), m_outer(outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        return m_outer->QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_outer->Release(); }

    using ZAVImageOCX::FindInterface;

  private:
    IUnknown *m_outer;  // not counted: the outer object owns the aggregate
};

// The inner, non-delegating IUnknown of an aggregate.
class AggregateInner final : public SelfDeleting<IUnknown> {
  public:
    AggregateInner(core::Object *core, IUnknown *outer) : m_contained(core, outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = m_contained.FindInterface(riid);
        if (*ppv == nullptr) {
            return E_NOINTERFACE;
        }
        // Interfaces of the contained object count on the outer object.
        static_cast<IUnknown *>(*ppv)->AddRef();
        return S_OK;
    }

  private:
    ContainedZAVImageOCX m_contained;
};

}  // namespace

HRESULT ZAVImageOCX::CreateInstance(IUnknown *outer, REFIID riid, void **ppv) {
    core::Object *core = core::CreateObject();
    if (core == nullptr) {
        return E_OUTOFMEMORY;
    }
    IUnknown *object = nullptr;
    if (outer == nullptr) {
        object = static_cast<IZAVImageOCX *>(new (std::nothrow) PlainZAVImageOCX(core));
    } else {
        object = new (std::nothrow) AggregateInner(core, outer);
    }
    if (object == nullptr) {
        core::DestroyObject(core);
        return E_OUTOFMEMORY;
    }
    // The new object has no reference yet: hold one while asking for riid.
    object->AddRef();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVLoadImage(BSTR imageFileName,
                                                    ZAVImageStruct *imageStruct) {
    HeapBuffer<char> path;
    if (!MapHostFileName(imageFileName, &path)) {
        return S_FALSE;
    }
    return core::LoadImagePath(m_core, path.Get(), Core(imageStruct));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVSetImageQuality(float fQuality) {
    return core::SetImageQuality(m_core, fQuality);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVSaveImage(BSTR imageFileName, unsigned char *imageData,
                                                    LONG width, LONG height, LONG depth,
                                                    LONG channels) {
    HeapBuffer<char> path;
    if (!MapHostFileName(imageFileName, &path)) {
        return S_FALSE;
    }
    return core::SaveImagePath(m_core, path.Get(), imageData, width, height, depth, channels);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVCreateImage(LONG width, LONG height, LONG depth,
                                                      LONG channels, ZAVImageStruct *imageStruct) {
    return core::CreateImage(m_core, width, height, depth, channels, Core(imageStruct));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVFlipImage(unsigned char *imageData, LONG width,
                                                    LONG height, LONG depth, LONG channels) {
    return core::FlipImage(m_core, imageData, width, height, depth, channels);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVReSizeImage(ZAVImageStruct *imageStruct,
                                                      ZAVImageStruct *videoImageStruct) {
    return core::ReSizeImage(m_core, Core(imageStruct), Core(videoImageStruct));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVReleaseImage(ZAVImageStruct **ppImage) {
    return core::ReleaseImage(m_core, reinterpret_cast<core::ImageRecord **>(ppImage));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVCopyImage(ZAVImageStruct *psourceImage, LONG sx, LONG sy,
                                                    LONG swidth, LONG sheight,
                                                    ZAVImageStruct *pdestImage, LONG dx, LONG dy,
                                                    LONG dwidth, LONG dheight) {
    return core::CopyImage(m_core, Core(psourceImage), sx, sy, swidth, sheight, Core(pdestImage),
                           dx, dy, dwidth, dheight);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVPutTextToImage(ZAVImageStruct *pImage,
                                                         unsigned char *pText, LONG x, LONG y,
                                                         LONG color, float fSize, float fCharSpace,
                                                         float transparency) {
    // SimHei in the prefix goes first; without it the core picks its own stand-in.
    HeapBuffer<char> font;
    if (WindowsFileExists(kFontPath) && MapWindowsPath(kFontPath, &font)) {
        core::SetFontPath(m_core, font.Get());
    } else {
        core::SetFontPath(m_core, nullptr);
    }
    HeapBuffer<char> text;
    if (!AnsiToUtf8(pText, &text)) {
        return S_OK;
    }
    return core::PutTextToImageUtf8(m_core, Core(pImage), text.Get(), x, y, color, fSize,
                                    fCharSpace, transparency);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVDrawRect(ZAVImageStruct *pImage,
                                                   ZAVImageRect thisImageRect, LONG color) {
    const core::RectRecord rect{thisImageRect.x, thisImageRect.y, thisImageRect.width,
                                thisImageRect.height};
    return core::DrawRect(m_core, Core(pImage), rect, color);
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::ZAVCloneImage(ZAVImageStruct *psourceImage,
                                                     ZAVImageStruct *pdestImage) {
    return core::CloneImage(m_core, Core(psourceImage), Core(pdestImage));
}

HRESULT STDMETHODCALLTYPE ZAVImageOCX::GetClassInfo(ITypeInfo **ppTI) {
    if (ppTI == nullptr) {
        return E_POINTER;
    }
    return GetClassTypeInfo(ppTI);
}

}  // namespace zavsrv
