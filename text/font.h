// The caption font: the file's identity, and each thread's own open faces, which read the file on
// demand through FreeType's stream interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_STROKER_H

#include "text/font_file.h"

struct hb_font_t;

namespace zav {

// The first font file a caption tries unless the object names another one. On this platform it is
// opened as it stands: a relative file name.
inline constexpr const char kDefaultFontPath[] = "c:\\windows\\fonts\\SIMHEI.TTF";

// A face that opened on the calling thread: its path and identity.
struct FontSource {
    std::string path;
    FontFileId id;
};

// The font at path (a regular file, see OpenFontFile) when FreeType opens the face faceIndex in
// it, else nothing; *noMemory (when given) tells whether that was for lack of memory.
std::optional<FontSource> OpenFontSource(const char *path, long faceIndex,
                                         bool *noMemory = nullptr) noexcept;

// FreeType's stream over a face's file (font.cpp).
struct FaceStream;

// A face owned by the calling thread, with the pixel size last requested on it.
struct ThreadFace {
    FT_Face face = nullptr;
    int32_t pixelSize = 0;  // 0: no size requested yet
    bool sizeAccepted = false;
    // A face of bitmap strikes only (a colour emoji font) put at its nearest strike for a size it
    // lacks (SetThreadFaceSizeOrStrike): the factor from that strike to the size asked for.
    bool strike = false;
    double strikeScale = 1.0;
    hb_font_t *shaper = nullptr;   // HarfBuzz's font over the same file, made on first shaping
    FontFileRef file;              // what face and shaper read
    FaceStream *stream = nullptr;  // the face's own reader of file
};

// What went wrong under a face since the last call (the notes are then cleared): an allocation of
// the thread's FreeType instance failed (FreeType carries on without an optional table it could
// not load), or a read of the face's file came short (cut short on disk since it was opened, or
// unreadable). Either way, what the face gave meanwhile is not to be trusted.
enum class FaceFault { kNone, kNoMemory, kUnreadable };
FaceFault TakeFaceFault(ThreadFace &face) noexcept;

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
