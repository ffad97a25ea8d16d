// The typographic caption against FreeType and HarfBuzz: baseline, advances, kerning, shaping
// order, fallback, outline and background, anchors, clipping, refused buffers.
#include <hb.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/text_canvas.h"
#include "tests/support/text_oracle.h"
#include "text/font.h"
#include "text/line_shaping.h"
#include "text/typo_caption.h"

namespace zavtest {
namespace {

const char kArabicFont[] = "/usr/share/fonts/truetype/noto/NotoSansArabic-Regular.ttf";
const char kSalam[] = "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85";  // "سلام"

ZAVTextStyle Style(const char *font, float size) {
    ZAVTextStyle s;
    zav::DefaultTextStyle(&s);
    s.font = font;
    s.pixelSize = size;
    return s;
}

ZAVTextMetrics Measure(const char *text, const ZAVTextStyle &s, int x = 0, int y = 100) {
    ZAVTextMetrics m{};
    EXPECT_EQ(zav::TypoCaption(nullptr, text, x, y, &s, nullptr, &m), ZAV_TEXT_OK) << text;
    return m;
}

// HarfBuzz on its own: the line's advance in pixels and its glyphs, left to right.
struct HbLine {
    double advance = 0;
    std::vector<uint32_t> glyphs;
};
HbLine HarfBuzz(const char *fontPath, const char *utf8, int size) {
    hb_blob_t *blob = hb_blob_create_from_file(fontPath);
    hb_face_t *face = hb_face_create(blob, 0);
    hb_font_t *font = hb_font_create(face);
    hb_font_set_scale(font, size * 64, size * 64);
    hb_buffer_t *buffer = hb_buffer_create();
    hb_buffer_add_utf8(buffer, utf8, -1, 0, -1);
    hb_buffer_guess_segment_properties(buffer);
    hb_shape(font, buffer, nullptr, 0);
    unsigned n = 0;
    const hb_glyph_info_t *info = hb_buffer_get_glyph_infos(buffer, &n);
    const hb_glyph_position_t *pos = hb_buffer_get_glyph_positions(buffer, &n);
    HbLine line;
    for (unsigned i = 0; i < n; ++i) {
        line.advance += pos[i].x_advance / 64.0;
        line.glyphs.push_back(info[i].codepoint);
    }
    hb_buffer_destroy(buffer);
    hb_font_destroy(font);
    hb_face_destroy(face);
    hb_blob_destroy(blob);
    return line;
}

// The box of the pixels that differ from the background, as metrics give it.
ZAVTextMetrics Drawn(const Canvas &canvas, uint8_t background, int width, int height) {
    const InkMap ink = canvas.Changed(background);
    int x0 = width, y0 = height, x1 = -1, y1 = -1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (ink.At(x, y)) {
                x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x),
                y1 = std::max(y1, y);
            }
        }
    }
    ZAVTextMetrics m{};
    m.inkX = x0, m.inkY = y0, m.inkWidth = x1 - x0 + 1, m.inkHeight = y1 - y0 + 1;
    return m;
}

TEST(TypoCaption, BaselineSpacesAndKerning) {
    const std::string latin = Latin().path;
    const ZAVTextStyle s = Style(latin.c_str(), 40);
    // '-' sits well above the baseline, the tail of 'g' below it.
    const ZAVTextMetrics hyphen = Measure("-", s), g = Measure("g", s);
    EXPECT_EQ(hyphen.baseline, 100);
    EXPECT_LE(hyphen.inkY + hyphen.inkHeight, 100 - 8);
    EXPECT_GE(g.inkY + g.inkHeight, 100 + 6);
    // A space advances by the font's advance; "AV" is kerned closer than A and V apart.
    const double space = HarfBuzz(latin.c_str(), " ", 40).advance;
    EXPECT_NEAR(Measure("x x", s).advanceWidth - Measure("xx", s).advanceWidth, space, 1.0);
    EXPECT_GT(space, 10.0);
    const double av = HarfBuzz(latin.c_str(), "AV", 40).advance;
    const int a = Measure("A", s).advanceWidth, v = Measure("V", s).advanceWidth;
    EXPECT_NEAR(Measure("AV", s).advanceWidth, av, 1.0);
    EXPECT_LE(Measure("AV", s).advanceWidth, a + v - 2);
    // Letter spacing adds to every character's advance.
    ZAVTextStyle spaced = s;
    spaced.letterSpacing = 5;
    EXPECT_NEAR(Measure("xxxx", spaced).advanceWidth - Measure("xxxx", s).advanceWidth, 20, 1);
    // What is drawn is what was measured.
    Canvas canvas(200, 150, ZAV_DEPTH_8U, 3, 255);
    ZAVImageStruct record = canvas.Record();
    ASSERT_EQ(zav::TypoCaption(&record, "gjpqy-", 10, 100, &s, nullptr, nullptr), ZAV_TEXT_OK);
    const ZAVTextMetrics m = Measure("gjpqy-", s, 10, 100), d = Drawn(canvas, 255, 200, 150);
    EXPECT_EQ(std::vector<int>({d.inkX, d.inkY, d.inkWidth, d.inkHeight}),
              std::vector<int>({m.inkX, m.inkY, m.inkWidth, m.inkHeight}));
}

TEST(TypoCaption, ShapingOrderAndFallback) {
    // An Arabic word comes out in HarfBuzz's glyph order, right to left (its last letter first).
    const std::optional<zav::FontSource> arabic = zav::OpenFontSource(kArabicFont, 0);
    ASSERT_TRUE(arabic);
    {
        zav::LineShaper shaper(*arabic, 30, 0);
        zav::ShapedLine line;
        ASSERT_TRUE(shaper.Shape(U"\u0633\u0644\u0627\u0645", &line));
        std::vector<uint32_t> glyphs;
        for (const zav::ShapedGlyph &g : line.glyphs) {
            glyphs.push_back(g.index);
        }
        const HbLine expected = HarfBuzz(kArabicFont, kSalam, 30);
        EXPECT_EQ(glyphs, expected.glyphs);
        EXPECT_NEAR(static_cast<double>(line.advance) / 64, expected.advance, 0.5);
    }
    // In a mixed line the Latin word stays left of the Arabic one; 'A', which the Arabic font
    // lacks, comes from another font that has it.
    {
        zav::LineShaper shaper(*arabic, 30, 0);
        zav::ShapedLine line;
        ASSERT_TRUE(shaper.Shape(U"A \u0633\u0644\u0627\u0645", &line));
        ASSERT_GE(line.glyphs.size(), 3u);
        const zav::ShapedGlyph &first = line.glyphs.front();
        ASSERT_NE(first.font, 0u);
        const FreeTypeOracle fallback(FontFile{shaper.Fonts()[first.font].path, 0}, 30);
        EXPECT_GT(fallback.Glyph('A').width, 0);
        EXPECT_EQ(line.glyphs.back().font, 0u);
    }
    // A Chinese character in a Latin font falls back to a font that draws it.
    const std::string latin = Latin().path;
    const ZAVTextStyle s = Style(latin.c_str(), 30);
    EXPECT_GT(Measure("\xE4\xB8\xAD", s).inkWidth, 20);
}

TEST(TypoCaption, OutlineAndBackground) {
    const std::string latin = Latin().path;
    ZAVTextStyle s = Style(latin.c_str(), 40);
    s.color = 0xFFFFFF;
    s.vAnchor = ZAV_ANCHOR_TOP;
    const ZAVTextMetrics plain = Measure("I", s, 20, 10);
    s.outlineWidth = 3;
    s.outlineColor = 0xFF0000;
    s.backgroundColor = 0x0000FF;
    s.backgroundOpacity = 0.5f;
    s.backgroundPadding = 5;
    const ZAVTextMetrics m = Measure("I", s, 20, 10);
    EXPECT_NEAR(m.inkWidth, plain.inkWidth + 6, 1);
    EXPECT_NEAR(m.inkHeight, plain.inkHeight + 6, 1);
    Canvas canvas(80, 80, ZAV_DEPTH_8U, 3, 100);
    ZAVImageStruct record = canvas.Record();
    ASSERT_EQ(zav::TypoCaption(&record, "I", 20, 10, &s, nullptr, nullptr), ZAV_TEXT_OK);
    // Blue background at half opacity (128/255) over 100, rounded exactly: 178 and 50.
    const auto mix = [](unsigned v, unsigned d) {
        return static_cast<int>((v * 128 * 255 + d * (65025 - 128 * 255) + 32512) / 65025);
    };
    const int bx0 = m.boxX - 5, by0 = m.boxY - 5, bx1 = m.boxX + m.boxWidth + 5,
              by1 = m.boxY + m.boxHeight + 5;
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 80; ++x) {
            const uint8_t *p = canvas.Pixel(x, y);
            const bool inBox = x >= bx0 && x < bx1 && y >= by0 && y < by1;
            const bool inInk =
                x >= m.inkX && x < m.inkX + m.inkWidth && y >= m.inkY && y < m.inkY + m.inkHeight;
            if (!inBox) {
                ASSERT_EQ(std::vector<int>({p[0], p[1], p[2]}), std::vector<int>({100, 100, 100}))
                    << x << "," << y;
            } else if (!inInk) {
                ASSERT_EQ(std::vector<int>({p[0], p[1], p[2]}),
                          std::vector<int>({mix(255, 100), mix(0, 100), mix(0, 100)}))
                    << x << "," << y;
            }
        }
    }
    // The stem's middle is the fill; a pixel just outside its left edge is the outline's red.
    const int midY = plain.inkY + plain.inkHeight / 2;
    const int midX = plain.inkX + plain.inkWidth / 2;
    EXPECT_EQ(std::vector<int>({canvas.Pixel(midX, midY)[0], canvas.Pixel(midX, midY)[2]}),
              std::vector<int>({255, 255}));
    const uint8_t *ring = canvas.Pixel(plain.inkX - 2, midY);
    EXPECT_EQ(std::vector<int>({ring[0], ring[1], ring[2]}), std::vector<int>({0, 0, 255}));
}

TEST(TypoCaption, AnchorsPlaceTheBlock) {
    const std::string latin = Latin().path;
    ZAVTextStyle s = Style(latin.c_str(), 24);
    for (int h = ZAV_ANCHOR_LEFT; h <= ZAV_ANCHOR_RIGHT; ++h) {
        for (int v = ZAV_ANCHOR_TOP; v <= ZAV_ANCHOR_BOTTOM; ++v) {
            s.hAnchor = h;
            s.vAnchor = v;
            const ZAVTextMetrics m = Measure("Hg\nlonger line", s, 150, 80);
            EXPECT_EQ(m.lineCount, 2);
            const int anchorX = h == ZAV_ANCHOR_LEFT     ? m.boxX
                                : h == ZAV_ANCHOR_CENTER ? m.boxX + m.boxWidth / 2
                                                         : m.boxX + m.boxWidth;
            const int anchorY = v == ZAV_ANCHOR_TOP        ? m.boxY
                                : v == ZAV_ANCHOR_BASELINE ? m.baseline
                                                           : m.boxY + m.boxHeight;
            EXPECT_EQ(anchorX, 150) << h << v;
            EXPECT_EQ(anchorY, 80) << h << v;
            Canvas canvas(300, 160, ZAV_DEPTH_8U, 1, 0);
            ZAVImageStruct record = canvas.Record();
            s.color = 0xFFFFFF;
            ASSERT_EQ(zav::TypoCaption(&record, "Hg\nlonger line", 150, 80, &s, nullptr, nullptr),
                      ZAV_TEXT_OK);
            const ZAVTextMetrics d = Drawn(canvas, 0, 300, 160);
            EXPECT_EQ(std::vector<int>({d.inkX, d.inkY, d.inkWidth, d.inkHeight}),
                      std::vector<int>({m.inkX, m.inkY, m.inkWidth, m.inkHeight}))
                << h << v;
        }
    }
}

TEST(TypoCaption, ClippedAtEveryEdgeAndRefusedBuffers) {
    ZAVTextStyle s = Style(nullptr, 30);
    s.outlineWidth = 2;
    s.backgroundOpacity = 0.7f;
    s.color = 0x123456;
    const char *text = "\xE8\xA7\x86\xE9\xA2\x91 Wg\xFF\xFE\n\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85 gy";
    for (int channels : {1, 3, 4}) {
        for (int mono = 0; mono < 2; ++mono) {
            s.flags = mono != 0 ? ZAV_TEXT_MONO : 0;
            for (const auto &[x, y] : std::vector<std::pair<int, int>>{
                     {-40, -20}, {-40, 30}, {5, -25}, {10, 25}, {30, 50}, {-200, 10}, {5, 200}}) {
                Canvas canvas(37, 29, ZAV_DEPTH_8U, channels, 7);
                ZAVImageStruct record = canvas.Record();
                EXPECT_EQ(zav::TypoCaption(&record, text, x, y, &s, nullptr, nullptr), ZAV_TEXT_OK);
                ASSERT_TRUE(canvas.GuardsIntact()) << channels << " " << x << "," << y;
            }
        }
    }
    // Buffers other than 8-bit with 1, 3 or 4 channels, and a style of another size: refused,
    // nothing touched.
    for (const auto &[depth, channels] : std::vector<std::pair<int, int>>{
             {ZAV_DEPTH_8U, 2}, {ZAV_DEPTH_16S, 3}, {ZAV_DEPTH_32F, 1}, {ZAV_DEPTH_8S, 3}}) {
        Canvas canvas(20, 20, depth, channels, 7), before(20, 20, depth, channels, 7);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(zav::TypoCaption(&record, "A", 2, 15, &s, nullptr, nullptr), ZAV_TEXT_REFUSED);
        EXPECT_TRUE(canvas.SameBytes(before));
    }
    ZAVTextStyle small = s;
    small.structSize = 8;
    Canvas canvas(20, 20, ZAV_DEPTH_8U, 3, 7), before(20, 20, ZAV_DEPTH_8U, 3, 7);
    ZAVImageStruct record = canvas.Record();
    EXPECT_EQ(zav::TypoCaption(&record, "A", 2, 15, &small, nullptr, nullptr), ZAV_TEXT_REFUSED);
    EXPECT_TRUE(canvas.SameBytes(before));
}

// A caption measured before it is drawn (as the job does) draws the pixels of one drawn at once:
// glyphs rendered for measuring (a coverage byte a pixel) are made into the buffer's kind, not
// rendered again. Each way on its own copy of the font, so that neither finds the other's glyphs.
TEST(TypoCaption, MeasuredFirstDrawsTheSamePixels) {
    const std::string direct = testing::TempDir() + "/zav_measure_direct.ttf";
    const std::string measured = testing::TempDir() + "/zav_measure_first.ttf";
    for (const std::string &copy : {direct, measured}) {
        std::filesystem::copy_file(Latin().path, copy,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    const char *text = "Wave fi 12:34 \xC3\xA9";
    for (int channels : {3, 4}) {
        for (float outline : {0.0f, 1.5f}) {
            ZAVTextStyle a = Style(direct.c_str(), 21.0f + static_cast<float>(channels));
            a.outlineWidth = outline;
            a.outlineColor = 0x2070D0;
            a.color = 0xF0E010;
            ZAVTextStyle b = a;
            b.font = measured.c_str();
            Canvas once(200, 60, ZAV_DEPTH_8U, channels, 30),
                twice(200, 60, ZAV_DEPTH_8U, channels, 30);
            ZAVImageStruct onceRecord = once.Record(), twiceRecord = twice.Record();
            ASSERT_EQ(zav::TypoCaption(&onceRecord, text, 4, 40, &a, nullptr, nullptr),
                      ZAV_TEXT_OK);
            Measure(text, b);
            ASSERT_EQ(zav::TypoCaption(&twiceRecord, text, 4, 40, &b, nullptr, nullptr),
                      ZAV_TEXT_OK);
            EXPECT_TRUE(once.SameBytes(twice)) << channels << " " << outline;
            EXPECT_FALSE(once.SameBytes(Canvas(200, 60, ZAV_DEPTH_8U, channels, 30)));
        }
    }
    std::filesystem::remove(direct);
    std::filesystem::remove(measured);
}

}  // namespace
}  // namespace zavtest
