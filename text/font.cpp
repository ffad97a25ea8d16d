#include "text/font.h"

#include <hb.h>

#include FT_MODULE_H
#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace zav {

// FreeType reads a face through this: the face's own position in the file is FreeType's, the
// descriptor is shared (pread keeps none).
struct FaceStream {
    explicit FaceStream(FontFileRef file) noexcept : reader(std::move(file)) {}
    FT_StreamRec rec{};
    FontFileReader reader;
    bool failed = false;  // a read came short since TakeFaceFault last looked
};

namespace {

// FreeType's stream reader: count 0 is a seek, answered 0 when the place is within the file.
unsigned long ReadFaceStream(FT_Stream stream, unsigned long offset, unsigned char *buffer,
                             unsigned long count) {
    auto *s = static_cast<FaceStream *>(stream->descriptor.pointer);
    if (count == 0) {
        return offset <= stream->size ? 0 : 1;
    }
    bool shortRead = false;
    const std::size_t got = s->reader.Read(offset, buffer, count, &shortRead);
    s->failed = s->failed || shortRead;
    return got;
}

// FreeType's memory comes from operator new (nothrow), like the rest of the library's. FreeType
// carries on without an optional table it could not allocate (a face without its character map
// or its bitmap strikes draws other glyphs), so a failed allocation is noted (in the heap's
// `failed`, one heap per thread's FreeType instance) for the caller to distrust what it got.
struct FreeTypeHeap {
    FT_MemoryRec_ rec;
    bool failed = false;
};

void *FreeTypeAlloc(FT_Memory memory, long size) {
    void *block = ::operator new(static_cast<std::size_t>(size), std::nothrow);
    if (block == nullptr) {
        static_cast<FreeTypeHeap *>(memory->user)->failed = true;
    }
    return block;
}
void FreeTypeFree(FT_Memory, void *block) {
    ::operator delete(block);
}
void *FreeTypeRealloc(FT_Memory memory, long currentSize, long newSize, void *block) {
    void *moved = FreeTypeAlloc(memory, newSize);
    if (moved == nullptr) {
        return nullptr;  // the old block stays valid
    }
    std::memcpy(moved, block, static_cast<std::size_t>(std::min(currentSize, newSize)));
    ::operator delete(block);
    return moved;
}

// Faces kept open per thread; the least recently used one is closed first.
constexpr std::size_t kFacesPerThread = 8;

struct OpenFace {
    FontFileId id;
    ThreadFace face;
};

class ThreadFonts {
  public:
    ThreadFonts() noexcept {
        if (FT_New_Library(&m_heap.rec, &m_library) != 0) {
            m_library = nullptr;
            return;
        }
        FT_Add_Default_Modules(m_library);
        FT_Set_Default_Properties(m_library);
        // A module that could not be added for lack of memory leaves the instance unusable.
        for (const char *module : {"truetype", "cff", "sfnt", "smooth", "raster1", "autofitter"}) {
            if (FT_Get_Module(m_library, module) == nullptr) {
                FT_Done_Library(m_library);
                m_library = nullptr;
                return;
            }
        }
    }
    ~ThreadFonts() {
        for (OpenFace &f : m_faces) {
            Close(f);
        }
        if (m_stroker != nullptr) {
            FT_Stroker_Done(m_stroker);
        }
        if (m_library != nullptr) {
            FT_Done_Library(m_library);
        }
    }
    ThreadFonts(const ThreadFonts &) = delete;
    ThreadFonts &operator=(const ThreadFonts &) = delete;

    bool Ready() const noexcept { return m_library != nullptr; }

    // The face of `id` (its file given when already open, else opened at path and checked to
    // still be that file).
    ThreadFace *Acquire(const FontFileId &id, const char *path, FontFileRef file,
                        bool *noMemory) noexcept {
        auto it = std::find_if(m_faces.begin(), m_faces.end(),
                               [&](const OpenFace &f) { return f.id == id; });
        if (it != m_faces.end()) {
            std::rotate(m_faces.begin(), it, it + 1);  // most recently used first
            return &m_faces.front().face;
        }
        OpenFace opened;
        opened.id = id;
        opened.face.file = file != nullptr ? std::move(file) : OpenFontFile(path, &id, noMemory);
        if (opened.face.file == nullptr) {
            return nullptr;  // nothing kept: the next call tries again
        }
        opened.face.stream = new (std::nothrow) FaceStream(opened.face.file);
        if (opened.face.stream == nullptr) {
            *noMemory = true;
            return nullptr;
        }
        FT_StreamRec &rec = opened.face.stream->rec;
        rec.size = static_cast<unsigned long>(opened.face.file->Size());
        rec.descriptor.pointer = opened.face.stream;
        rec.read = ReadFaceStream;
        FT_Open_Args args{};
        args.flags = FT_OPEN_STREAM;
        args.stream = &rec;
        m_heap.failed = false;
        const FT_Error error = FT_Open_Face(m_library, &args, id.faceIndex, &opened.face.face);
        if (error != 0) {
            opened.face.face = nullptr;
        }
        // Whatever FreeType made of a face it could not read or allocate whole is not used.
        const bool shortage = error == FT_Err_Out_Of_Memory || m_heap.failed;
        m_heap.failed = false;
        if (error != 0 || shortage || opened.face.stream->failed) {
            Close(opened);
            *noMemory = *noMemory || shortage;
            return nullptr;
        }
        try {
            if (m_faces.size() >= kFacesPerThread) {
                Close(m_faces.back());
                m_faces.pop_back();
            }
            m_faces.insert(m_faces.begin(), opened);
        } catch (const std::bad_alloc &) {
            Close(opened);
            *noMemory = true;
            return nullptr;
        }
        return &m_faces.front().face;
    }

    void Discard(const FontFileId &id) noexcept {
        auto it = std::find_if(m_faces.begin(), m_faces.end(),
                               [&](const OpenFace &f) { return f.id == id; });
        if (it != m_faces.end()) {
            Close(*it);
            m_faces.erase(it);
        }
    }

    FT_Stroker Stroker() noexcept {
        if (m_stroker == nullptr && FT_Stroker_New(m_library, &m_stroker) != 0) {
            m_stroker = nullptr;
        }
        return m_stroker;
    }

  private:
    static void Close(OpenFace &f) noexcept {
        if (f.face.shaper != nullptr) {
            hb_font_destroy(f.face.shaper);
            f.face.shaper = nullptr;
        }
        if (f.face.face != nullptr) {
            FT_Done_Face(f.face.face);
            f.face.face = nullptr;
        }
        delete f.face.stream;  // after the face: FreeType reads it until then
        f.face.stream = nullptr;
        f.face.file.reset();
    }

    FreeTypeHeap m_heap{{&m_heap, FreeTypeAlloc, FreeTypeFree, FreeTypeRealloc}};
    FT_Library m_library = nullptr;
    FT_Stroker m_stroker = nullptr;
    std::vector<OpenFace> m_faces;
};

// The calling thread's fonts. The pointer is plain initial-exec TLS: reading it allocates nothing
// and registers no destructor (a registration that fails for lack of memory aborts the process).
// The instance is released at thread exit by a pthread key's destructor.
__attribute__((tls_model("initial-exec"))) thread_local ThreadFonts *t_fonts = nullptr;

void ReleaseThreadFonts(void *fonts) noexcept {
    delete static_cast<ThreadFonts *>(fonts);
    t_fonts = nullptr;
}

bool ThreadFontsKey(pthread_key_t *key) noexcept {
    static std::mutex mutex;
    static pthread_key_t made;
    static bool haveKey = false;  // a key that could not be made is asked for again next time
    std::lock_guard<std::mutex> lock(mutex);
    if (!haveKey) {
        haveKey = pthread_key_create(&made, ReleaseThreadFonts) == 0;
    }
    *key = made;
    return haveKey;
}

ThreadFonts *CurrentThreadFonts() noexcept {
    if (t_fonts != nullptr) {
        return t_fonts;
    }
    pthread_key_t key;
    if (!ThreadFontsKey(&key)) {
        return nullptr;
    }
    ThreadFonts *fonts = new (std::nothrow) ThreadFonts();
    if (fonts == nullptr) {
        return nullptr;
    }
    if (!fonts->Ready() || pthread_setspecific(key, fonts) != 0) {
        delete fonts;  // e.g. FreeType could not start: the next call tries again
        return nullptr;
    }
    t_fonts = fonts;
    return fonts;
}

}  // namespace

std::optional<FontSource> OpenFontSource(const char *path, long faceIndex,
                                         bool *noMemory) noexcept {
    bool shortage = false;
    std::optional<FontSource> font;
    if (FontFileRef file = OpenFontFile(path, nullptr, &shortage)) {
        FontFileId id = file->Id();
        id.faceIndex = faceIndex;
        ThreadFonts *fonts = CurrentThreadFonts();
        if (fonts == nullptr) {
            shortage = true;
        } else if (fonts->Acquire(id, path, std::move(file), &shortage) != nullptr) {
            try {
                font = FontSource{path, id};
            } catch (const std::bad_alloc &) {
                shortage = true;
            }
        }
    }
    if (noMemory != nullptr) {
        *noMemory = shortage;
    }
    return font;
}

ThreadFace *AcquireThreadFace(const FontFileId &id, const char *path, bool *noMemory) noexcept {
    bool shortage = false;
    ThreadFonts *fonts = CurrentThreadFonts();
    ThreadFace *face = fonts != nullptr ? fonts->Acquire(id, path, nullptr, &shortage) : nullptr;
    if (noMemory != nullptr) {
        *noMemory = fonts == nullptr || shortage;
    }
    return face;
}

FaceFault TakeFaceFault(ThreadFace &face) noexcept {
    bool noMemory = false, unreadable = false;
    if (face.face != nullptr) {
        auto *heap = static_cast<FreeTypeHeap *>(face.face->memory->user);
        noMemory = heap->failed;
        heap->failed = false;
    }
    if (face.stream != nullptr) {
        unreadable = face.stream->failed;
        face.stream->failed = false;
    }
    return noMemory ? FaceFault::kNoMemory : unreadable ? FaceFault::kUnreadable : FaceFault::kNone;
}

SizeResult SetThreadFaceSize(ThreadFace &face, int32_t pixelSize) noexcept {
    if (face.pixelSize != pixelSize || face.strike) {
        face.strike = false;
        face.strikeScale = 1.0;
        const FT_Error error = FT_Set_Pixel_Sizes(face.face, static_cast<FT_UInt>(pixelSize), 0);
        if (error == FT_Err_Out_Of_Memory) {
            face.pixelSize = 0;
            return SizeResult::kNoMemory;
        }
        face.pixelSize = pixelSize;
        face.sizeAccepted = error == 0;
    }
    return face.sizeAccepted ? SizeResult::kAccepted : SizeResult::kRefused;
}

SizeResult SetThreadFaceSizeOrStrike(ThreadFace &face, int32_t pixelSize) noexcept {
    if (face.strike && face.pixelSize == pixelSize) {
        return SizeResult::kAccepted;
    }
    const SizeResult result = SetThreadFaceSize(face, pixelSize);
    FT_Face f = face.face;
    if (result != SizeResult::kRefused || FT_IS_SCALABLE(f) || !FT_HAS_FIXED_SIZES(f) ||
        pixelSize < 1) {
        return result;
    }
    int best = -1;
    double bestPpem = 0;
    for (int i = 0; i < f->num_fixed_sizes; ++i) {
        const double ppem = static_cast<double>(f->available_sizes[i].y_ppem) / 64.0;
        if (ppem < 1.0) {
            continue;
        }
        const bool better =
            best < 0 ||
            (bestPpem < pixelSize ? ppem > bestPpem : ppem >= pixelSize && ppem < bestPpem);
        if (better) {
            best = i;
            bestPpem = ppem;
        }
    }
    if (best < 0) {
        return SizeResult::kRefused;
    }
    const FT_Error error = FT_Select_Size(f, best);
    if (error != 0) {
        face.pixelSize = 0;  // the face's size is unknown now: set afresh next time
        return error == FT_Err_Out_Of_Memory ? SizeResult::kNoMemory : SizeResult::kRefused;
    }
    face.pixelSize = pixelSize;
    face.sizeAccepted = true;
    face.strike = true;
    face.strikeScale = pixelSize / bestPpem;
    return SizeResult::kAccepted;
}

void DiscardThreadFace(const FontFileId &id) noexcept {
    if (t_fonts != nullptr) {
        t_fonts->Discard(id);
    }
}

FT_Stroker ThreadStroker() noexcept {
    ThreadFonts *fonts = CurrentThreadFonts();
    return fonts != nullptr ? fonts->Stroker() : nullptr;
}

}  // namespace zav
