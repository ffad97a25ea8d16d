#include "text/font.h"

#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <hb.h>

#include FT_MODULE_H
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace zav {
namespace {

// A private fontconfig configuration, used once and destroyed: the process-wide one (and any host
// use of it) is left alone.
FontLocation *LocateCaptionFont() noexcept {
    FcConfig *config = FcInitLoadConfigAndFonts();
    if (config == nullptr) {
        return nullptr;
    }
    FontLocation *found = nullptr;
    FcPattern *pattern = FcPatternCreate();
    if (pattern != nullptr) {
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8 *>("SimHei"));
        FcPatternAddString(pattern, FC_LANG, reinterpret_cast<const FcChar8 *>("zh-cn"));
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern *match = FcFontMatch(config, pattern, &result);
        if (match != nullptr) {
            if (std::optional<FontLocation> location = FontLocationOf(match)) {
                found = new (std::nothrow) FontLocation(std::move(*location));
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return found;
}

std::optional<FontFileId> IdentityOf(const struct stat &st, long faceIndex) noexcept {
    // Regular files only: a pipe or a device would block or never end.
    if (!S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    FontFileId id;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    id.size = static_cast<int64_t>(st.st_size);
    id.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    id.ctimeNs = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    id.faceIndex = faceIndex;
    return id;
}

std::optional<FontFileId> IdentifyFontFile(const char *path, long faceIndex) noexcept {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) {
        return std::nullopt;
    }
    return IdentityOf(st, faceIndex);
}

// Font files larger than this are not read (it also keeps every size within a 32-bit size_t).
constexpr int64_t kMaxFontBytes = int64_t{1} << 30;

// The whole file, when it still has the identity `id` (face index aside); else null, with
// *noMemory set when memory ran out.
FontBytes ReadFontFile(const FontFileId &id, const char *path, bool *noMemory) noexcept {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    FontBytes result;
    struct stat st;
    std::optional<FontFileId> now;
    if (fstat(fd, &st) == 0) {
        now = IdentityOf(st, id.faceIndex);
    }
    if (now && *now == id && id.size > 0 && id.size <= kMaxFontBytes) {
        try {
            auto bytes =
                std::make_shared<std::vector<unsigned char>>(static_cast<std::size_t>(id.size));
            std::size_t done = 0;
            while (done < bytes->size()) {
                const ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
                if (n < 0 && errno == EINTR) {
                    continue;
                }
                if (n <= 0) {
                    break;  // cut short while reading
                }
                done += static_cast<std::size_t>(n);
            }
            if (done == bytes->size()) {
                result = std::move(bytes);
            }
        } catch (const std::bad_alloc &) {
            result = nullptr;
            *noMemory = true;
        }
    }
    close(fd);
    return result;
}

// Font files' bytes by identity, shared while any face uses them.
class FontFileRegistry {
  public:
    FontBytes Get(const FontFileId &id, const char *path, bool *noMemory) noexcept {
        FontFileId fileId = id;
        fileId.faceIndex = 0;  // the faces of one file share its bytes
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const Entry &e : m_entries) {
                if (e.id == fileId) {
                    if (FontBytes alive = e.bytes.lock()) {
                        return alive;
                    }
                }
            }
        }
        FontBytes bytes =
            ReadFontFile(id, path, noMemory);  // outside the lock: it may take a while
        if (bytes == nullptr) {
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        std::erase_if(m_entries, [](const Entry &e) { return e.bytes.expired(); });
        for (const Entry &e : m_entries) {
            if (e.id == fileId) {
                if (FontBytes alive = e.bytes.lock()) {
                    return alive;  // another thread read it first
                }
            }
        }
        try {
            m_entries.push_back(Entry{fileId, bytes});
        } catch (const std::bad_alloc &) {
            // Not shared, but usable.
        }
        return bytes;
    }

  private:
    struct Entry {
        FontFileId id;
        std::weak_ptr<const std::vector<unsigned char>> bytes;
    };
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

FontFileRegistry &Registry() noexcept {
    static FontFileRegistry *registry = new FontFileRegistry();  // never destroyed
    return *registry;
}

// FreeType's memory comes from operator new (nothrow), like the rest of the library's.
void *FreeTypeAlloc(FT_Memory, long size) {
    return ::operator new(static_cast<std::size_t>(size), std::nothrow);
}
void FreeTypeFree(FT_Memory, void *block) {
    ::operator delete(block);
}
void *FreeTypeRealloc(FT_Memory, long currentSize, long newSize, void *block) {
    void *moved = ::operator new(static_cast<std::size_t>(newSize), std::nothrow);
    if (moved == nullptr) {
        return nullptr;  // the old block stays valid
    }
    std::memcpy(moved, block, static_cast<std::size_t>(std::min(currentSize, newSize)));
    ::operator delete(block);
    return moved;
}
FT_MemoryRec_ g_freeTypeMemory = {nullptr, FreeTypeAlloc, FreeTypeFree, FreeTypeRealloc};

// Faces kept open per thread; the least recently used one is closed first.
constexpr std::size_t kFacesPerThread = 8;

struct OpenFace {
    FontFileId id;
    ThreadFace face;
};

class ThreadFonts {
  public:
    ThreadFonts() noexcept {
        if (FT_New_Library(&g_freeTypeMemory, &m_library) != 0) {
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

    ThreadFace *Acquire(const FontFileId &id, const char *path, bool *noMemory) noexcept {
        auto it = std::find_if(m_faces.begin(), m_faces.end(),
                               [&](const OpenFace &f) { return f.id == id; });
        if (it != m_faces.end()) {
            std::rotate(m_faces.begin(), it, it + 1);  // most recently used first
            return &m_faces.front().face;
        }
        OpenFace opened;
        opened.id = id;
        opened.face.bytes = Registry().Get(id, path, noMemory);
        if (opened.face.bytes == nullptr) {
            return nullptr;  // nothing kept: the next call tries again
        }
        const FT_Error error = FT_New_Memory_Face(m_library, opened.face.bytes->data(),
                                                  static_cast<FT_Long>(opened.face.bytes->size()),
                                                  id.faceIndex, &opened.face.face);
        if (error != 0) {
            opened.face.face = nullptr;
            *noMemory = *noMemory || error == FT_Err_Out_Of_Memory;
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
        f.face.bytes.reset();
    }

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

std::optional<FontLocation> FontLocationOf(FcPattern *font) noexcept {
    FcChar8 *file = nullptr;
    int index = 0;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || file == nullptr ||
        file[0] == 0) {
        return std::nullopt;
    }
    if (FcPatternGetInteger(font, FC_INDEX, 0, &index) != FcResultMatch) {
        index = 0;
    }
    try {
        return FontLocation{reinterpret_cast<const char *>(file), index};
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

const FontLocation *SystemCaptionFont() noexcept {
    // A match is kept for the life of the process (never destroyed, so threads still drawing at
    // exit are safe); no match is not kept.
    static std::atomic<const FontLocation *> location{nullptr};
    static std::mutex mutex;
    if (const FontLocation *found = location.load(std::memory_order_acquire)) {
        return found;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (location.load(std::memory_order_relaxed) == nullptr) {
        location.store(LocateCaptionFont(), std::memory_order_release);
    }
    return location.load(std::memory_order_relaxed);
}

std::optional<FontSource> OpenFontSource(const char *path, long faceIndex,
                                         bool *noMemory) noexcept {
    bool shortage = false;
    std::optional<FontSource> font;
    const std::optional<FontFileId> id = IdentifyFontFile(path, faceIndex);
    if (id && AcquireThreadFace(*id, path, &shortage) != nullptr) {
        try {
            font = FontSource{path, *id};
        } catch (const std::bad_alloc &) {
            shortage = true;
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
    ThreadFace *face = fonts != nullptr ? fonts->Acquire(id, path, &shortage) : nullptr;
    if (noMemory != nullptr) {
        *noMemory = fonts == nullptr || shortage;
    }
    return face;
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
