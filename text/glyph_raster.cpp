#include "text/glyph_raster.h"

#include <cstring>
#include <new>

#include FT_BITMAP_H

namespace zav {
namespace {

// Copies a slot's bitmap as one bit per pixel, top row first, whatever its pixel mode and flow.
bool CopyBitmap(FT_Library library, const FT_Bitmap &source, GlyphBitmap *out) {
    const int32_t rows = static_cast<int32_t>(source.rows);
    const int32_t width = static_cast<int32_t>(source.width);
    if (rows <= 0 || width <= 0 || source.buffer == nullptr) {
        return true;  // blank
    }
    const int64_t pitch = (static_cast<int64_t>(width) + 7) / 8;
    out->bits.assign(static_cast<std::size_t>(pitch * rows), 0);
    out->rows = rows;
    out->width = width;
    out->pitch = static_cast<int32_t>(pitch);

    const int64_t sourcePitch =
        source.pitch < 0 ? -static_cast<int64_t>(source.pitch) : source.pitch;
    // Row r of the picture, counted from the top (a negative pitch stores the bottom row first).
    const auto sourceRow = [&](const FT_Bitmap &b, int32_t r) {
        const int64_t stored = b.pitch < 0 ? rows - 1 - r : r;
        return b.buffer + stored * sourcePitch;
    };
    if (source.pixel_mode == FT_PIXEL_MODE_MONO) {
        for (int32_t r = 0; r < rows; ++r) {
            uint8_t *dst = out->bits.data() + static_cast<std::size_t>(pitch * r);
            std::memcpy(dst, sourceRow(source, r), static_cast<std::size_t>(pitch));
            if ((width & 7) != 0) {
                dst[pitch - 1] &= static_cast<uint8_t>(0xFF00u >> (width & 7));
            }
        }
        return true;
    }
    const auto setInk = [&](int32_t r, int32_t c) {
        out->bits[static_cast<std::size_t>(pitch * r + c / 8)] |=
            static_cast<uint8_t>(0x80u >> (c & 7));
    };
    if (source.pixel_mode == FT_PIXEL_MODE_BGRA) {
        for (int32_t r = 0; r < rows; ++r) {
            const uint8_t *src = sourceRow(source, r);
            for (int32_t c = 0; c < width; ++c) {
                if (src[4 * c + 3] >= 128) {
                    setInk(r, c);
                }
            }
        }
        return true;
    }
    // Gray levels of any packing: one byte per pixel first, then half coverage or more is ink.
    FT_Bitmap gray;
    FT_Bitmap_Init(&gray);
    const FT_Error error = FT_Bitmap_Convert(library, &source, &gray, 1);
    if (error == FT_Err_Out_Of_Memory) {
        FT_Bitmap_Done(library, &gray);
        return false;
    }
    if (error == 0 && static_cast<int32_t>(gray.rows) == rows &&
        static_cast<int32_t>(gray.width) == width && gray.num_grays > 1) {
        const int64_t grayPitch = gray.pitch < 0 ? -static_cast<int64_t>(gray.pitch) : gray.pitch;
        for (int32_t r = 0; r < rows; ++r) {
            const int64_t stored = gray.pitch < 0 ? rows - 1 - r : r;
            const uint8_t *src = gray.buffer + stored * grayPitch;
            for (int32_t c = 0; c < width; ++c) {
                if (2 * static_cast<int32_t>(src[c]) >= gray.num_grays) {
                    setInk(r, c);
                }
            }
        }
    }
    FT_Bitmap_Done(library, &gray);
    return true;
}

}  // namespace

bool RasteriseGlyph(ThreadFace &face, int32_t pixelSize, uint32_t code, GlyphBitmap *out) noexcept {
    *out = GlyphBitmap{};
    if (face.face == nullptr || pixelSize < 1) {
        return true;
    }
    if (face.pixelSize != pixelSize) {
        face.pixelSize = pixelSize;
        face.sizeAccepted = FT_Set_Pixel_Sizes(face.face, static_cast<FT_UInt>(pixelSize), 0) == 0;
    }
    if (!face.sizeAccepted) {
        return true;  // e.g. a bitmap font without a strike of this size
    }
    const FT_UInt index =
        code == kMissingGlyphCode ? 0 : FT_Get_Char_Index(face.face, static_cast<FT_ULong>(code));
    if (FT_Load_Glyph(face.face, index, FT_LOAD_DEFAULT) != 0) {
        return true;
    }
    FT_GlyphSlot slot = face.face->glyph;
    if (slot->format != FT_GLYPH_FORMAT_BITMAP && FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0) {
        return true;
    }
    out->left = slot->bitmap_left;
    out->top = slot->bitmap_top;
    out->advance26_6 = static_cast<int64_t>(slot->advance.x);
    try {
        if (!CopyBitmap(slot->library, slot->bitmap, out)) {
            return false;
        }
    } catch (const std::bad_alloc &) {
        *out = GlyphBitmap{};
        return false;
    }
    // FreeType gives an outline without contours (a space) a 1x1 bitmap without ink: a bitmap
    // without ink is a blank, and the pen moves on by the blank's advance.
    bool ink = false;
    for (uint8_t b : out->bits) {
        ink = ink || b != 0;
    }
    if (!ink) {
        out->rows = out->width = out->pitch = 0;
        out->bits.clear();
    }
    return true;
}

}  // namespace zav
