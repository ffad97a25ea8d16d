// The caption font: where it is found, the file's identity and bytes, and each thread's own open
// faces.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_STROKER_H

struct hb_font_t;

namespace zav {

// The first font file a caption tries unless the object names another one. On this platform it is
// opened as it stands: a relative file name.
inline constexpr const char kDefaultFontPath[] = "c:\\windows\\fonts\\SIMHEI.TTF";

struct FontLocation {
    std::string path;
    long faceIndex = 0;
};

// fontconfig's best match for the family SimHei with language zh-cn, and the face index it names.
// Safe from any thread. A match, once found, is kept for the life of the process; when fontconfig
// names no font file (or memory runs out) the result is null and the next call looks again.
const FontLocation *SystemCaptionFont() noexcept;

// The file and face index a fontconfig pattern names; nothing when it names no file (or memory
// runs out).
std::optional<FontLocation> FontLocationOf(FcPattern *font) noexcept;

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

// The font at path (a regular file) when FreeType opens the face faceIndex in it, else nothing;
// *noMemory (when given) tells whether that was for lack of memory.
std::optional<FontSource> OpenFontSource(const char *path, long faceIndex,
                                         bool *noMemory = nullptr) noexcept;

// A font file's bytes, read once per process and shared by every thread's faces of it: the faces
// never read the file again, so a file cut short or rewritten on disk cannot fault a caption.
using FontBytes = std::shared_ptr<const std::vector<unsigned char>>;

// A face owned by the calling thread, with the pixel size last requested on it.
struct ThreadFace {
    FT_Face face = nullptr;
    int32_t pixelSize = 0;  // 0: no size requested yet
    bool sizeAccepted = false;
    // A face of bitmap strikes only (a colour emoji font) put at its nearest strike for a size it
    // lacks (SetThreadFaceSizeOrStrike): the factor from that strike to the size asked for.
    bool strike = false;
    double strikeScale = 1.0;
    hb_font_t *shaper = nullptr;  // HarfBuzz's font over the same bytes, made on first shaping
    FontBytes bytes;              // what face and shaper read
};

// Outcome of putting a face at a pixel size.
enum class SizeResult { kAccepted, kRefused, kNoMemory };

// FT_Set_Pixel_Sizes (width pixelSize, height the same) unless the face already has that size. A
// size the face refuses (a bitmap font without that strike) is remembered; a memory shortage is
// not.
SizeResult SetThreadFaceSize(ThreadFace &face, int32_t pixelSize) noexcept;

// The same, and for a face of bitmap strikes only that lacks the size: its nearest strike (the
// next larger where there is one) selected, with face.strike set and face.strikeScale the factor
// to the size asked for, by which typographic captions scale its glyphs and metrics. (Classic
// captions keep SetThreadFaceSize's answer: such a size draws blanks there, as designed.)
SizeResult SetThreadFaceSizeOrStrike(ThreadFace &face, int32_t pixelSize) noexcept;

// The calling thread's open face for the font, opened on first use (each thread has its own
// FreeType instance, so faces are never shared between threads). Null when it cannot be opened:
// then nothing is kept, and the next call tries again. The face stays valid on the calling thread
// until its next call of this function.
ThreadFace *AcquireThreadFace(const FontFileId &id, const char *path,
                              bool *noMemory = nullptr) noexcept;

// Closes the calling thread's face for the font, if open: after FreeType ran out of memory in a
// face, the face is not trusted again (the next use opens it afresh).
void DiscardThreadFace(const FontFileId &id) noexcept;

// The calling thread's FreeType stroker, or null when it cannot be made.
FT_Stroker ThreadStroker() noexcept;

}  // namespace zav
