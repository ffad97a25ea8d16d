#include "text/coverage_glyph.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <utility>

#include FT_BITMAP_H
#include FT_GLYPH_H

namespace zav {
namespace {

RenderResult FromError(FT_Error error) noexcept {
    return error == FT_Err_Out_Of_Memory ? RenderResult::kNoMemory : RenderResult::kBroken;
}

// Adds a bitmap's coverage (any pixel mode) into `layer` (the box's width x rows, top row first)
// with its top-left pixel at (dx, dy) of the box.
bool AddCoverage(FT_Library library, const FT_Bitmap &source, int32_t dx, int32_t dy,
                 int32_t boxWidth, std::vector<uint8_t> &layer) {
    const int32_t rows = static_cast<int32_t>(source.rows);
    const int32_t width = static_cast<int32_t>(source.width);
    if (rows <= 0 || width <= 0 || source.buffer == nullptr) {
        return true;
    }
    const int64_t pitch = source.pitch < 0 ? -int64_t{source.pitch} : source.pitch;
    const auto row = [&](const FT_Bitmap &b, int32_t r) {
        return b.buffer + (b.pitch < 0 ? rows - 1 - r : r) * pitch;
    };
    const auto put = [&](int32_t r, int32_t c, uint32_t v) {
        uint8_t &d = layer[static_cast<std::size_t>(dy + r) * static_cast<std::size_t>(boxWidth) +
                           static_cast<std::size_t>(dx + c)];
        d = static_cast<uint8_t>(std::max<uint32_t>(d, v));
    };
    if (source.pixel_mode == FT_PIXEL_MODE_GRAY && source.num_grays == 256) {
        for (int32_t r = 0; r < rows; ++r) {
            const uint8_t *s = row(source, r);
            for (int32_t c = 0; c < width; ++c) {
                put(r, c, s[c]);
            }
        }
        return true;
    }
    if (source.pixel_mode == FT_PIXEL_MODE_BGRA) {
        for (int32_t r = 0; r < rows; ++r) {
            const uint8_t *s = row(source, r);
            for (int32_t c = 0; c < width; ++c) {
                put(r, c, s[4 * c + 3]);
            }
        }
        return true;
    }
    // Mono and packed gray levels: one byte per pixel first, then scaled to 0..255.
    FT_Bitmap gray;
    FT_Bitmap_Init(&gray);
    const FT_Error error = FT_Bitmap_Convert(library, &source, &gray, 1);
    bool ok = error != FT_Err_Out_Of_Memory;
    if (error == 0 && static_cast<int32_t>(gray.rows) == rows &&
        static_cast<int32_t>(gray.width) == width && gray.num_grays > 1) {
        const uint32_t top = gray.num_grays - 1u;
        const int64_t gpitch = gray.pitch < 0 ? -int64_t{gray.pitch} : gray.pitch;
        for (int32_t r = 0; r < rows; ++r) {
            const uint8_t *s = gray.buffer + (gray.pitch < 0 ? rows - 1 - r : r) * gpitch;
            for (int32_t c = 0; c < width; ++c) {
                put(r, c, (std::min<uint32_t>(s[c], top) * 255u + top / 2) / top);
            }
        }
    }
    FT_Bitmap_Done(library, &gray);
    return ok;
}

struct Layer {
    const FT_Bitmap *bitmap = nullptr;
    int32_t left = 0, top = 0;
};

// Each coverage byte repeated `copies` times.
void Spread(std::vector<uint8_t> &layer, uint8_t copies) {
    if (copies <= 1 || layer.empty()) {
        return;
    }
    std::vector<uint8_t> spread(layer.size() * copies);
    for (std::size_t i = 0; i < layer.size(); ++i) {
        std::fill_n(spread.begin() + static_cast<std::ptrdiff_t>(i * copies), copies, layer[i]);
    }
    layer.swap(spread);
}

// Both layers into one box.
RenderResult Compose(FT_Library library, const Layer &fill, const Layer *stroke, int64_t advance,
                     uint8_t spread, GlyphBitmap *out) {
    int64_t x0 = INT32_MAX, y0 = INT32_MAX, x1 = INT32_MIN, y1 = INT32_MIN;  // y: up from baseline
    for (const Layer *l : {&fill, stroke}) {
        if (l == nullptr || l->bitmap->rows == 0 || l->bitmap->width == 0) {
            continue;
        }
        x0 = std::min<int64_t>(x0, l->left);
        x1 = std::max<int64_t>(x1, int64_t{l->left} + l->bitmap->width);
        y1 = std::max<int64_t>(y1, l->top);
        y0 = std::min<int64_t>(y0, int64_t{l->top} - l->bitmap->rows);
    }
    out->format = GlyphFormat::kCoverage;
    out->advance = advance;
    if (x0 >= x1 || y0 >= y1) {
        return RenderResult::kEmpty;
    }
    const int64_t width = x1 - x0, rows = y1 - y0;
    // Spans are 16-bit, and every layer's size (spread up to 4 times) stays within 2^28 bytes, so
    // within a 32-bit size_t.
    if (width > 16384 || rows > 16384 || width * rows > (int64_t{1} << 26)) {
        return RenderResult::kBroken;
    }
    const std::size_t bytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(rows);
    out->width = out->pitch = static_cast<int32_t>(width);
    out->rows = static_cast<int32_t>(rows);
    out->left = static_cast<int32_t>(x0);
    out->top = static_cast<int32_t>(y1);
    out->bits.assign(bytes, 0);
    if (!AddCoverage(library, *fill.bitmap, static_cast<int32_t>(fill.left - x0),
                     static_cast<int32_t>(y1 - fill.top), out->width, out->bits)) {
        return RenderResult::kNoMemory;
    }
    if (stroke != nullptr) {
        out->stroke.assign(bytes, 0);
        if (!AddCoverage(library, *stroke->bitmap, static_cast<int32_t>(stroke->left - x0),
                         static_cast<int32_t>(y1 - stroke->top), out->width, out->stroke)) {
            return RenderResult::kNoMemory;
        }
    }
    // Each row's span of coverage in each layer; a glyph without any is empty.
    out->spans.assign(static_cast<std::size_t>(rows) * 4, 0);
    bool ink = false;
    for (int64_t r = 0; r < rows; ++r) {
        for (int layer = 0; layer < 2; ++layer) {
            const std::vector<uint8_t> &cov = layer == 0 ? out->bits : out->stroke;
            if (cov.empty()) {
                continue;
            }
            const uint8_t *row = cov.data() + r * width;
            int64_t begin = 0, end = width;
            while (begin < end && row[begin] == 0) {
                ++begin;
            }
            while (end > begin && row[end - 1] == 0) {
                --end;
            }
            out->spans[static_cast<std::size_t>(r * 4 + layer * 2)] = static_cast<uint16_t>(begin);
            out->spans[static_cast<std::size_t>(r * 4 + layer * 2 + 1)] =
                static_cast<uint16_t>(end);
            ink = ink || begin < end;
        }
    }
    if (ink) {
        Spread(out->bits, spread);
        Spread(out->stroke, spread);
        return RenderResult::kRendered;
    }
    *out = GlyphBitmap{};
    out->format = GlyphFormat::kCoverage;
    out->advance = advance;
    return RenderResult::kEmpty;
}

// A strike's bitmap (colour as BGRA, or gray) as coverage scaled by `scale`: each pixel of the
// result the mean of the strike's pixels it covers (their alpha, or gray level). False for other
// pixel modes.
bool ScaleStrike(const FT_Bitmap &source, double scale, std::vector<uint8_t> &out, int32_t &width,
                 int32_t &rows) {
    const bool bgra = source.pixel_mode == FT_PIXEL_MODE_BGRA;
    if ((!bgra && !(source.pixel_mode == FT_PIXEL_MODE_GRAY && source.num_grays == 256)) ||
        source.buffer == nullptr || source.width == 0 || source.rows == 0) {
        return false;
    }
    const int64_t sw = source.width, sh = source.rows;
    const int64_t pitch = source.pitch < 0 ? -int64_t{source.pitch} : source.pitch;
    width =
        static_cast<int32_t>(std::max<int64_t>(1, std::llround(static_cast<double>(sw) * scale)));
    rows =
        static_cast<int32_t>(std::max<int64_t>(1, std::llround(static_cast<double>(sh) * scale)));
    out.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows), 0);
    const auto span = [scale](int64_t i, int64_t limit) {
        const int64_t from = std::min<int64_t>(limit - 1, static_cast<int64_t>(i / scale));
        const int64_t to =
            std::clamp<int64_t>(static_cast<int64_t>(std::ceil((i + 1) / scale)), from + 1, limit);
        return std::pair<int64_t, int64_t>(from, to);
    };
    for (int32_t y = 0; y < rows; ++y) {
        const auto [y0, y1] = span(y, sh);
        for (int32_t x = 0; x < width; ++x) {
            const auto [x0, x1] = span(x, sw);
            uint64_t sum = 0;
            for (int64_t sy = y0; sy < y1; ++sy) {
                const int64_t stored = source.pitch < 0 ? sh - 1 - sy : sy;
                const uint8_t *row = source.buffer + stored * pitch;
                for (int64_t sx = x0; sx < x1; ++sx) {
                    sum += bgra ? row[4 * sx + 3] : row[sx];
                }
            }
            const uint64_t n = static_cast<uint64_t>((y1 - y0) * (x1 - x0));
            out[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                static_cast<std::size_t>(x)] = static_cast<uint8_t>((sum + n / 2) / n);
        }
    }
    return true;
}

// The outlined glyph: the slot's outline stroked (outer border) and both rendered.
RenderResult RenderOutlined(ThreadFace &face, const GlyphKey &key, FT_Render_Mode mode,
                            GlyphBitmap *out) {
    FT_GlyphSlot slot = face.face->glyph;
    FT_Stroker stroker = ThreadStroker();
    if (stroker == nullptr) {
        return RenderResult::kNoMemory;
    }
    FT_Stroker_Set(stroker, key.outline, FT_STROKER_LINECAP_ROUND, FT_STROKER_LINEJOIN_ROUND, 0);
    FT_Glyph fill = nullptr, stroke = nullptr;
    FT_Error error = FT_Get_Glyph(slot, &fill);
    if (error == 0) {
        error = FT_Glyph_Copy(fill, &stroke);
    }
    if (error == 0) {
        error = FT_Glyph_StrokeBorder(&stroke, stroker, false, true);
    }
    if (error == 0) {
        error = FT_Glyph_To_Bitmap(&fill, mode, nullptr, true);
    }
    if (error == 0) {
        error = FT_Glyph_To_Bitmap(&stroke, mode, nullptr, true);
    }
    RenderResult result = FromError(error);
    if (error == 0) {
        const auto *f = reinterpret_cast<FT_BitmapGlyph>(fill);
        const auto *s = reinterpret_cast<FT_BitmapGlyph>(stroke);
        const Layer fillLayer{&f->bitmap, f->left, f->top};
        const Layer strokeLayer{&s->bitmap, s->left, s->top};
        try {
            result =
                Compose(slot->library, fillLayer, &strokeLayer, slot->advance.x, key.spread, out);
        } catch (const std::bad_alloc &) {
            result = RenderResult::kNoMemory;
        }
    }
    FT_Done_Glyph(fill);
    FT_Done_Glyph(stroke);
    return result;
}

}  // namespace

RenderResult RenderCoverageGlyph(ThreadFace &face, const GlyphKey &key, GlyphBitmap *out) noexcept {
    *out = GlyphBitmap{};
    out->format = GlyphFormat::kCoverage;
    switch (SetThreadFaceSizeOrStrike(face, key.pixelSize)) {
        case SizeResult::kNoMemory:
            return RenderResult::kNoMemory;
        case SizeResult::kRefused:
            return RenderResult::kEmpty;
        case SizeResult::kAccepted:
            break;
    }
    const bool mono = key.kind == GlyphKind::kCoverageMono;
    // A colour font's strikes load only as colour: their alpha is the coverage.
    const FT_Int32 flags = FT_LOAD_DEFAULT | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_LIGHT) |
                           (face.strike ? FT_LOAD_COLOR : 0);
    const FT_Render_Mode mode = mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_LIGHT;
    FT_Error error = FT_Load_Glyph(face.face, key.code, flags);
    if (error != 0) {
        return FromError(error);
    }
    FT_GlyphSlot slot = face.face->glyph;
    if (key.outline > 0 && slot->format == FT_GLYPH_FORMAT_OUTLINE) {
        return RenderOutlined(face, key, mode, out);
    }
    if (slot->format != FT_GLYPH_FORMAT_BITMAP) {
        error = FT_Render_Glyph(slot, mode);
        if (error != 0) {
            return FromError(error);
        }
    }
    try {
        if (face.strike && face.strikeScale != 1.0) {
            // A strike of another size: scaled to the size asked for, its place and advance too.
            std::vector<uint8_t> scaled;
            FT_Bitmap bitmap;
            FT_Bitmap_Init(&bitmap);
            int32_t width = 0, rows = 0;
            if (ScaleStrike(slot->bitmap, face.strikeScale, scaled, width, rows)) {
                bitmap.rows = static_cast<unsigned>(rows);
                bitmap.width = static_cast<unsigned>(width);
                bitmap.pitch = width;
                bitmap.buffer = scaled.data();
                bitmap.pixel_mode = FT_PIXEL_MODE_GRAY;
                bitmap.num_grays = 256;
                const double s = face.strikeScale;
                const Layer fill{&bitmap, static_cast<int32_t>(std::lround(slot->bitmap_left * s)),
                                 static_cast<int32_t>(std::lround(slot->bitmap_top * s))};
                return Compose(slot->library, fill, nullptr,
                               std::llround(static_cast<double>(slot->advance.x) * s), key.spread,
                               out);
            }
        }
        const Layer fill{&slot->bitmap, slot->bitmap_left, slot->bitmap_top};
        return Compose(slot->library, fill, nullptr, slot->advance.x, key.spread, out);
    } catch (const std::bad_alloc &) {
        *out = GlyphBitmap{};
        return RenderResult::kNoMemory;
    }
}

GlyphLoad LoadCoverageGlyph(const FontSource &font, const GlyphKey &key) noexcept {
    if (key.spread > 1 && key.pixelSize >= 1) {
        GlyphCache &cache = GlyphCache::Shared();
        if (std::shared_ptr<const GlyphBitmap> hit = cache.Find(key)) {
            return {std::move(hit), false};
        }
        GlyphKey single = key;
        single.spread = 1;
        if (std::shared_ptr<const GlyphBitmap> one = cache.Find(single)) {
            try {
                auto spread = std::make_shared<GlyphBitmap>(*one);
                Spread(spread->bits, key.spread);
                Spread(spread->stroke, key.spread);
                cache.Insert(key, spread);
                return {std::move(spread), false};
            } catch (const std::bad_alloc &) {
                // rendered instead
            }
        }
    }
    return LoadGlyphWith(font, key, RenderCoverageGlyph);
}

}  // namespace zav
