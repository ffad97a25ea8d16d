#include "text/font.h"

#include <fontconfig/fontconfig.h>
#include <sys/stat.h>

#include <algorithm>
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
            FcChar8 *file = nullptr;
            int index = 0;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr &&
                file[0] != 0) {
                if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) {
                    index = 0;
                }
                try {
                    found = new FontLocation{reinterpret_cast<const char *>(file), index};
                } catch (const std::bad_alloc &) {
                    found = nullptr;
                }
            }
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return found;
}

// Faces kept open per thread; the least recently used one is closed first.
constexpr std::size_t kFacesPerThread = 4;

struct OpenFace {
    FontFileId id;
    ThreadFace face;  // face.face null: FreeType could not open this file
};

class ThreadFonts {
  public:
    ThreadFonts() noexcept {
        if (FT_Init_FreeType(&m_library) != 0) {
            m_library = nullptr;
        }
    }
    ~ThreadFonts() {
        for (OpenFace &f : m_faces) {
            Close(f);
        }
        if (m_library != nullptr) {
            FT_Done_FreeType(m_library);
        }
    }
    ThreadFonts(const ThreadFonts &) = delete;
    ThreadFonts &operator=(const ThreadFonts &) = delete;

    ThreadFace *Acquire(const FontFileId &id, const char *path) noexcept {
        if (m_library == nullptr) {
            return nullptr;
        }
        auto it = std::find_if(m_faces.begin(), m_faces.end(),
                               [&](const OpenFace &f) { return f.id == id; });
        if (it != m_faces.end()) {
            std::rotate(m_faces.begin(), it, it + 1);  // most recently used first
            return m_faces.front().face.face != nullptr ? &m_faces.front().face : nullptr;
        }
        OpenFace opened;
        opened.id = id;
        if (FT_New_Face(m_library, path, id.faceIndex, &opened.face.face) != 0) {
            opened.face.face = nullptr;
        }
        try {
            if (m_faces.size() >= kFacesPerThread) {
                Close(m_faces.back());
                m_faces.pop_back();
            }
            m_faces.insert(m_faces.begin(), opened);
        } catch (const std::bad_alloc &) {
            Close(opened);
            return nullptr;
        }
        return m_faces.front().face.face != nullptr ? &m_faces.front().face : nullptr;
    }

  private:
    static void Close(OpenFace &f) noexcept {
        if (f.face.face != nullptr) {
            FT_Done_Face(f.face.face);
            f.face.face = nullptr;
        }
    }

    FT_Library m_library = nullptr;
    std::vector<OpenFace> m_faces;
};

ThreadFonts &CurrentThreadFonts() noexcept {
    thread_local ThreadFonts fonts;
    return fonts;
}

std::optional<FontFileId> IdentifyFontFile(const char *path, long faceIndex) noexcept {
    struct stat st;
    // Regular files only: a pipe or a device would block or never end.
    if (path == nullptr || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
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

}  // namespace

const FontLocation *SystemCaptionFont() noexcept {
    // Kept for the life of the process (never destroyed, so threads still drawing at exit are
    // safe).
    static std::once_flag once;
    static const FontLocation *location = nullptr;
    try {
        std::call_once(once, [] { location = LocateCaptionFont(); });
    } catch (...) {
        return nullptr;
    }
    return location;
}

std::optional<FontSource> OpenFontSource(const char *path, long faceIndex) noexcept {
    const std::optional<FontFileId> id = IdentifyFontFile(path, faceIndex);
    if (!id || AcquireThreadFace(*id, path) == nullptr) {
        return std::nullopt;
    }
    try {
        return FontSource{path, *id};
    } catch (const std::bad_alloc &) {
        return std::nullopt;
    }
}

ThreadFace *AcquireThreadFace(const FontFileId &id, const char *path) noexcept {
    return CurrentThreadFonts().Acquire(id, path);
}

}  // namespace zav
