// The caption font: where it is found, the file's identity, and each thread's own open faces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace zav {

// The first font file a caption tries unless the object names another one. On this platform it is
// opened as it stands: a relative file name.
inline constexpr const char kDefaultFontPath[] = "c:\\windows\\fonts\\SIMHEI.TTF";

struct FontLocation {
    std::string path;
    long faceIndex = 0;
};

// fontconfig's best match for the family SimHei with language zh-cn, and the face index it names.
// Looked up once per process (safe from any thread); null when fontconfig names no font file.
const FontLocation *SystemCaptionFont() noexcept;

// Identifies the contents of a font file and the face in it: a file replaced under the same name
// gets a new identity, so nothing rendered from the old contents is reused.
struct FontFileId {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    long faceIndex = 0;

    bool operator==(const FontFileId &) const = default;
};

// A face that opened on the calling thread: its path and identity.
struct FontSource {
    std::string path;
    FontFileId id;
};

// The font at path (a regular file) when FreeType opens the face faceIndex in it, else nothing.
std::optional<FontSource> OpenFontSource(const char *path, long faceIndex) noexcept;

// A face owned by the calling thread, with the pixel size last requested on it.
struct ThreadFace {
    FT_Face face = nullptr;
    int32_t pixelSize = 0;  // 0: no size requested yet
    bool sizeAccepted = false;
};

// The calling thread's open face for the font, opened on first use (each thread has its own
// FreeType instance, so faces are never shared between threads). Null when FreeType cannot open
// it. The face stays valid on the calling thread until its next call of this function.
ThreadFace *AcquireThreadFace(const FontFileId &id, const char *path) noexcept;

}  // namespace zav
