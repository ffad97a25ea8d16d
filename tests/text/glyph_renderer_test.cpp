// The glyph renderer against FreeType: where glyph bits land, how the pen moves, how ink is
// blended into every element type, and how text is decoded.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "imaging/buffer/image_record.h"
#include "tests/support/text_canvas.h"
#include "tests/support/text_oracle.h"
#include "text/blit.h"
#include "text/glyph.h"
#include "text/multibyte_decoder.h"
#include "text/renderer.h"

namespace zav {
namespace {

using zavtest::Canvas;
using zavtest::CaptionFont;
using zavtest::ExpectedLine;
using zavtest::FirstDifference;
using zavtest::FontFile;
using zavtest::FreeTypeOracle;
using zavtest::GbkLocaleAvailable;
using zavtest::InkMap;
using zavtest::Latin;
using zavtest::OracleGlyph;
using zavtest::ScopedEnv;

ImageHeader Header(Canvas &c) {
    return WrapImageRecord(c.Record());
}

const TextColour kWhite{{255, 255, 255, 255}};

TEST(GlyphPlacement, BottomRowOnPenRowAndLeftColumnOnPenColumn) {
    const FreeTypeOracle oracle(CaptionFont(), 24);
    for (uint32_t code : {0x4E2Du, uint32_t{'g'}, uint32_t{'A'}, uint32_t{'|'}}) {
        Canvas canvas(80, 60, ZAV_DEPTH_8U, 3);
        ImageHeader header = Header(canvas);
        GlyphTextRenderer renderer(CaptionFont().path.c_str(), CaptionFont().index, 24);
        PenPosition pen{10, 40};
        renderer.DrawGlyph(&header, code, pen, kWhite);

        const OracleGlyph g = oracle.Glyph(code);
        ASSERT_GT(g.InkCount(), 0);
        InkMap expected(80, 60);
        expected.Place(g, 10, 40);
        EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "") << "code " << code;
        // Defaults: gap ratio 100 of the font size after every glyph.
        EXPECT_EQ(pen.x, 10 + g.width + 2400);
        EXPECT_EQ(pen.y, 40);
    }
}

TEST(GlyphPlacement, BottomLeftOriginStoresTheGlyphUpsideDown) {
    const FreeTypeOracle oracle(CaptionFont(), 20);
    Canvas canvas(40, 40, ZAV_DEPTH_8U, 1);
    ImageHeader header = Header(canvas);
    GlyphTextRenderer renderer(CaptionFont().path.c_str(), CaptionFont().index, 20);
    PenPosition pen{5, 3};
    renderer.DrawGlyph(&header, 'g', pen, kWhite, ImageOrigin::kBottomLeft);
    InkMap expected(40, 40);
    expected.Place(oracle.Glyph('g'), 5, 3, /*bottomLeftOrigin=*/true);
    EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "");
}

TEST(GlyphPlacement, StringOfCharactersFromTwoFaces) {
    for (const FontFile *font : {&CaptionFont(), &Latin()}) {
        const FreeTypeOracle oracle(*font, 17);
        Canvas canvas(200, 30, ZAV_DEPTH_8U, 3);
        ImageHeader header = Header(canvas);
        GlyphTextRenderer renderer(font->path.c_str(), font->index, 17);
        const SizeParams sizes{17.0, 0.3, 0.15, 0.0};
        renderer.SetParameters(nullptr, &sizes, nullptr, nullptr);
        ScopedEnv utf8("LC_ALL", "C.UTF-8");
        EXPECT_EQ(renderer.DrawString(&header, "Wq, j\xE4\xB8\xAD!", {2, 22}, kWhite), 9);

        const InkMap expected = ExpectedLine(oracle, {'W', 'q', ',', ' ', 'j', 0x4E2D, '!'}, 200,
                                             30, 2, 22, 17.0, 0.3, 0.15);
        EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "") << font->path;
    }
}

// Two glyphs of bitmap widths 10 and 12, font size 20, gap ratio 0.1: the second glyph starts 12
// pixels after the first and the pen ends 14 pixels after that.
TEST(PenAdvance, WidthPlusGapTimesFontSize) {
    std::optional<std::pair<uint32_t, uint32_t>> pair;
    int size = 0;
    for (size = 10; size <= 40; ++size) {
        const FreeTypeOracle oracle(Latin(), size);
        uint32_t ten = 0, twelve = 0;
        for (uint32_t c = 33; c < 127; ++c) {
            const int w = oracle.Glyph(c).width;
            if (w == 10 && ten == 0) {
                ten = c;
            }
            if (w == 12 && twelve == 0) {
                twelve = c;
            }
        }
        if (ten != 0 && twelve != 0) {
            pair = std::make_pair(ten, twelve);
            break;
        }
    }
    ASSERT_TRUE(pair) << "no glyphs of widths 10 and 12";
    const FreeTypeOracle oracle(Latin(), size);
    Canvas canvas(120, 60, ZAV_DEPTH_8U, 1);
    ImageHeader header = Header(canvas);
    GlyphTextRenderer renderer(Latin().path.c_str(), size);
    const SizeParams sizes{20.0, 0.5, 0.1, 0.0};
    renderer.SetParameters(nullptr, &sizes, nullptr, nullptr);
    PenPosition pen{30, 50};
    renderer.DrawGlyph(&header, pair->first, pen, kWhite);
    EXPECT_EQ(pen.x, 30 + 12);
    renderer.DrawGlyph(&header, pair->second, pen, kWhite);
    EXPECT_EQ(pen.x, 30 + 12 + 14);

    InkMap expected(120, 60);
    expected.Place(oracle.Glyph(pair->first), 30, 50);
    expected.Place(oracle.Glyph(pair->second), 42, 50);
    EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "");
}

TEST(PenAdvance, BlanksAndTruncation) {
    Canvas canvas(20, 20, ZAV_DEPTH_8U, 1);
    ImageHeader header = Header(canvas);
    GlyphTextRenderer renderer(Latin().path.c_str(), 20);
    const auto step = [&](double fontSize, double space, double gap) {
        const SizeParams sizes{fontSize, space, gap, 0.0};
        renderer.SetParameters(nullptr, &sizes, nullptr, nullptr);
        PenPosition pen{0, 10};
        renderer.DrawGlyph(&header, ' ', pen, kWhite);
        return pen.x;
    };
    EXPECT_EQ(step(20, 0.1, 0.0), 2);
    EXPECT_EQ(step(20, 0.5, 0.1), 12);
    EXPECT_EQ(step(10, 0.999, 0.0), 9);  // 9.99 truncated, not rounded
    EXPECT_EQ(step(20, -0.1, -0.1), 4);  // absolute values
    EXPECT_EQ(canvas.Changed(0).Count(), 0);
}

TEST(PenAdvance, NewFontSizeChangesSpacingButNotGlyphs) {
    const FreeTypeOracle oracle(CaptionFont(), 24);
    Canvas canvas(100, 40, ZAV_DEPTH_8U, 1);
    ImageHeader header = Header(canvas);
    GlyphTextRenderer renderer(CaptionFont().path.c_str(), CaptionFont().index, 24);
    const SizeParams sizes{-48.0, 0.5, -0.25, -3.0};
    renderer.SetParameters(nullptr, &sizes, nullptr, nullptr);
    EXPECT_EQ(renderer.Sizes().fontSize, 48.0);
    EXPECT_EQ(renderer.Sizes().gapRatio, 0.25);
    EXPECT_EQ(renderer.Sizes().spare, 3.0);
    PenPosition pen{4, 30};
    renderer.DrawGlyph(&header, 0x4E2D, pen, kWhite);
    const OracleGlyph g = oracle.Glyph(0x4E2D);
    EXPECT_EQ(pen.x, 4 + g.width + 12);
    InkMap expected(100, 40);
    expected.Place(g, 4, 30);
    EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "");

    renderer.ResetParameters(24);
    EXPECT_EQ(renderer.Sizes().fontSize, 24.0);
    EXPECT_EQ(renderer.Sizes().spaceRatio, 0.5);
    EXPECT_EQ(renderer.Sizes().gapRatio, 100.0);
    EXPECT_EQ(renderer.Opacity(), 1.0f);
}

TEST(Clipping, EachEdgeDrawsOnlyTheInsidePart) {
    const FreeTypeOracle oracle(CaptionFont(), 32);
    const OracleGlyph g = oracle.Glyph(0x56FD);  // a boxed glyph with ink at every edge
    const int w = 50, h = 45;
    const struct {
        int x, y;
    } positions[] = {{-7, 35}, {w - 9, 35}, {10, 5}, {10, h + 6}, {-20, -3}, {w - 1, h - 1}};
    for (const auto &p : positions) {
        Canvas canvas(w, h, ZAV_DEPTH_8U, 3);
        ImageHeader header = Header(canvas);
        GlyphTextRenderer renderer(CaptionFont().path.c_str(), CaptionFont().index, 32);
        PenPosition pen{p.x, p.y};
        renderer.DrawGlyph(&header, 0x56FD, pen, kWhite);
        InkMap expected(w, h);
        expected.Place(g, p.x, p.y);
        EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "") << p.x << "," << p.y;
        EXPECT_TRUE(canvas.GuardsIntact());
    }
}

TEST(Clipping, PenFarOutsideOrNearTheIntegerLimits) {
    Canvas canvas(16, 16, ZAV_DEPTH_8U, 1);
    ImageHeader header = Header(canvas);
    GlyphTextRenderer renderer(Latin().path.c_str(), 12);
    for (PenPosition start : {PenPosition{INT32_MAX - 3, 8}, PenPosition{INT32_MIN, INT32_MIN},
                              PenPosition{0, INT32_MAX}, PenPosition{-1000000, 8}}) {
        PenPosition pen = start;
        renderer.DrawGlyph(&header, 'M', pen, kWhite);
        EXPECT_GE(pen.x, start.x);  // saturates instead of wrapping
    }
    EXPECT_EQ(canvas.Changed(0).Count(), 0);
    EXPECT_TRUE(canvas.GuardsIntact());
}

// A synthetic glyph of one row, ink in the given columns.
GlyphBitmap OneRowGlyph(int width, std::initializer_list<int> inkColumns) {
    GlyphBitmap g;
    g.rows = 1;
    g.width = width;
    g.pitch = (width + 7) / 8;
    g.bits.assign(static_cast<std::size_t>(g.pitch), 0);
    for (int c : inkColumns) {
        g.bits[static_cast<std::size_t>(c / 8)] |= static_cast<uint8_t>(0x80 >> (c % 8));
    }
    return g;
}

TEST(InkTest, EachPixelReadsItsOwnBitOnly) {
    for (int column : {3, 8, 7, 0, 15}) {
        Canvas canvas(20, 1, ZAV_DEPTH_8U, 1);
        BlitGlyph(Header(canvas), ImageOrigin::kTopLeft, OneRowGlyph(16, {column}), 0, 0, kWhite,
                  1.0f);
        const InkMap drawn = canvas.Changed(0);
        EXPECT_EQ(drawn.Count(), 1) << column;
        EXPECT_TRUE(drawn.At(column, 0)) << column;
    }
}

TEST(Blending, OpacityRoundsAndSaturatesForEveryDepth) {
    struct Case {
        int32_t depth;
        double current, colour;
        float opacity;
        double expected;
    };
    const Case cases[] = {
        {ZAV_DEPTH_8U, 100, 255, 0.5f, 178},  // 177.5, ties to even
        {ZAV_DEPTH_8U, 0, 253, 0.5f, 126},    // 126.5, ties to even
        {ZAV_DEPTH_8U, 7, 300, 1.0f, 255},    // saturated
        {ZAV_DEPTH_8U, 7, -5, 1.0f, 0},
        {ZAV_DEPTH_8S, 100, 200, 0.5f, 127},  // 150 saturated
        {ZAV_DEPTH_8S, -100, -20, 0.25f, -80},
        {ZAV_DEPTH_16S, 0, -40000, 1.0f, -32768},
        {ZAV_DEPTH_16S, 1000, 2001, 0.5f, 1500},  // 1500.5, ties to even
        {ZAV_DEPTH_32S, 5, 1e10, 1.0f, 2147483647},
        {ZAV_DEPTH_32S, 10, 21, 0.5f, 16},  // 15.5, ties to even
        {ZAV_DEPTH_32F, 100, 255, 0.5f, 177.5},
        {ZAV_DEPTH_64F, 0.25, 1.0, 0.25f, 0.4375},
        {ZAV_DEPTH_64F, INFINITY, 3.0, 1.0f, 3.0},  // opacity 1: the colour, whatever was there
    };
    for (const Case &k : cases) {
        Canvas canvas(3, 1, k.depth, 1);
        const auto read = [&](int x) {
            const uint8_t *p = canvas.Pixel(x, 0);
            switch (k.depth) {
                case ZAV_DEPTH_8U:
                    return static_cast<double>(*p);
                case ZAV_DEPTH_8S:
                    return static_cast<double>(static_cast<int8_t>(*p));
                case ZAV_DEPTH_16S: {
                    int16_t v;
                    std::memcpy(&v, p, 2);
                    return static_cast<double>(v);
                }
                case ZAV_DEPTH_32S: {
                    int32_t v;
                    std::memcpy(&v, p, 4);
                    return static_cast<double>(v);
                }
                case ZAV_DEPTH_32F: {
                    float v;
                    std::memcpy(&v, p, 4);
                    return static_cast<double>(v);
                }
                default: {
                    double v;
                    std::memcpy(&v, p, 8);
                    return v;
                }
            }
        };
        const auto write = [&](int x, double v) {
            uint8_t *p = canvas.Pixel(x, 0);
            switch (k.depth) {
                case ZAV_DEPTH_8U:
                    *p = static_cast<uint8_t>(v);
                    break;
                case ZAV_DEPTH_8S:
                    *p = static_cast<uint8_t>(static_cast<int8_t>(v));
                    break;
                case ZAV_DEPTH_16S: {
                    const int16_t s = static_cast<int16_t>(v);
                    std::memcpy(p, &s, 2);
                    break;
                }
                case ZAV_DEPTH_32S: {
                    const int32_t s = static_cast<int32_t>(v);
                    std::memcpy(p, &s, 4);
                    break;
                }
                case ZAV_DEPTH_32F: {
                    const float s = static_cast<float>(v);
                    std::memcpy(p, &s, 4);
                    break;
                }
                default:
                    std::memcpy(p, &v, 8);
                    break;
            }
        };
        for (int x = 0; x < 3; ++x) {
            write(x, k.current);
        }
        const TextColour colour{{k.colour, 0, 0, 0}};
        BlitGlyph(Header(canvas), ImageOrigin::kTopLeft, OneRowGlyph(3, {1}), 0, 0, colour,
                  k.opacity);
        EXPECT_EQ(read(1), k.expected) << "depth " << k.depth << " colour " << k.colour;
        EXPECT_EQ(read(0), k.current);
        EXPECT_EQ(read(2), k.current);
        EXPECT_TRUE(canvas.GuardsIntact());
    }
}

TEST(Blending, OnlyTheBuffersOwnChannelsAreWritten) {
    const TextColour colour{{10, 20, 30, 40}};
    for (int channels = 1; channels <= 4; ++channels) {
        Canvas canvas(5, 2, ZAV_DEPTH_8U, channels, 200);  // rows padded: 5 * channels < stride
        BlitGlyph(Header(canvas), ImageOrigin::kTopLeft, OneRowGlyph(5, {4}), 0, 1, colour, 1.0f);
        for (int c = 0; c < channels; ++c) {
            EXPECT_EQ(canvas.Pixel(4, 1)[c], 10 * (c + 1));
        }
        // everything else, row padding included, untouched
        int changed = 0;
        for (long i = 0; i < canvas.Stride() * 2; ++i) {
            changed += canvas.Data()[i] != 200;
        }
        EXPECT_EQ(changed, channels);
        EXPECT_TRUE(canvas.GuardsIntact());
    }
}

TEST(Blending, BuffersOutsideTheContractAreLeftAlone) {
    Canvas canvas(8, 8, ZAV_DEPTH_16U, 1);
    GlyphTextRenderer renderer(Latin().path.c_str(), 8);
    ImageHeader header = Header(canvas);
    EXPECT_EQ(renderer.DrawString(&header, "MM", {0, 7}, kWhite), 2);
    ImageHeader noData = header;
    noData.depth = ZAV_DEPTH_8U;
    noData.imageData = nullptr;
    EXPECT_EQ(renderer.DrawString(&noData, "MM", {0, 7}, kWhite), 2);
    EXPECT_EQ(canvas.Changed(0).Count(), 0);
}

TEST(DrawString, ResultsAndDecoding) {
    Canvas canvas(64, 32, ZAV_DEPTH_8U, 1);
    ImageHeader header = Header(canvas);
    GlyphTextRenderer renderer(CaptionFont().path.c_str(), CaptionFont().index, 16);
    ScopedEnv utf8("LC_ALL", "C.UTF-8");
    EXPECT_EQ(renderer.DrawString(nullptr, "A", {0, 20}, kWhite), -1);
    EXPECT_EQ(renderer.DrawString(&header, nullptr, {0, 20}, kWhite), -1);
    EXPECT_EQ(renderer.DrawString(&header, "", {0, 20}, kWhite), 0);
    EXPECT_EQ(canvas.Changed(0).Count(), 0);
    EXPECT_EQ(renderer.DrawString(&header, "AB", {0, 20}, kWhite), 2);
    EXPECT_EQ(renderer.DrawString(&header,
                                  "\xE4\xB8\xAD"
                                  "A",
                                  {0, 20}, kWhite),
              4);
    EXPECT_EQ(renderer.DrawString(&header, "\xF0\x9F\x98\x80", {0, 20}, kWhite), 4);
}

// Invalid sequences take the lead byte and the next one and draw the missing glyph; the scan never
// passes the terminating zero (each text sits in a heap block of exactly its size).
TEST(DrawString, InvalidSequencesDrawTheMissingGlyph) {
    const FreeTypeOracle oracle(CaptionFont(), 20);
    const OracleGlyph missing = oracle.MissingGlyph();
    ASSERT_GT(missing.InkCount(), 0);
    const struct {
        const char *text;
        int32_t length;
        std::vector<uint32_t> drawn;  // 0 stands for the missing glyph
    } cases[] = {
        {"\xFF"
         "A",
         2,
         {0}},
        {"\xC3"
         "AB",
         3,
         {0, 'B'}},
        {"\xE4", 1, {0}},
        {"\xE4\xB8", 2, {0}},
        {"x\xE4\xB8", 3, {'x', 0}},
        {"\xC0\x80"
         "A",
         3,
         {0, 'A'}},                   // overlong form
        {"\xED\xA0\x80", 3, {0, 0}},  // surrogate: lead + next, then a lone continuation
    };
    for (const auto &k : cases) {
        const std::size_t n = std::strlen(k.text) + 1;
        std::unique_ptr<char[]> text(new char[n]);
        std::memcpy(text.get(), k.text, n);
        for (TextEncoding encoding : {TextEncoding::kUserDefault, TextEncoding::kUtf8}) {
            ScopedEnv c("LC_ALL", "C");  // plain ASCII decodes as UTF-8
            Canvas canvas(200, 30, ZAV_DEPTH_8U, 1);
            ImageHeader header = Header(canvas);
            GlyphTextRenderer renderer(CaptionFont().path.c_str(), CaptionFont().index, 20);
            renderer.SetTextEncoding(encoding);
            const SizeParams sizes{20.0, 0.5, 0.1, 0.0};
            renderer.SetParameters(nullptr, &sizes, nullptr, nullptr);
            EXPECT_EQ(renderer.DrawString(&header, text.get(), {1, 25}, kWhite), k.length);

            const InkMap expected = ExpectedLine(oracle, k.drawn, 200, 30, 1, 25, 20.0, 0.5, 0.1);
            EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "")
                << "text of " << k.length << " bytes";
        }
    }
}

TEST(DrawString, GbkTextUnderAGbkLocale) {
    if (!GbkLocaleAvailable()) {
        GTEST_SKIP() << "zh_CN.GBK is not installed (scripts/setup.sh generates it)";
    }
    const FreeTypeOracle oracle(CaptionFont(), 22);
    ScopedEnv gbk("LC_ALL", "zh_CN.GBK");
    Canvas canvas(120, 30, ZAV_DEPTH_8U, 3);
    ImageHeader header = Header(canvas);
    GlyphTextRenderer renderer(CaptionFont().path.c_str(), CaptionFont().index, 22);
    const SizeParams sizes{22.0, 0.1, 0.1, 0.0};
    renderer.SetParameters(nullptr, &sizes, nullptr, nullptr);
    // "中文A" in GBK, then a lead byte with an invalid trail, then a lead byte before the zero
    EXPECT_EQ(renderer.DrawString(&header,
                                  "\xD6\xD0\xCE\xC4"
                                  "A\x81\x7F\x81",
                                  {0, 26}, kWhite),
              8);
    const InkMap expected =
        ExpectedLine(oracle, {0x4E2D, 0x6587, 'A', 0, 0}, 120, 30, 0, 26, 22.0, 0.1, 0.1);
    EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "");
}

TEST(Decoder, Utf8IsStrict) {
    const struct {
        const char *bytes;
        std::size_t length;
        uint32_t code;
    } cases[] = {
        {"\x7F", 1, 0x7F},
        {"\xC2\x80", 2, 0x80},
        {"\xDF\xBF", 2, 0x7FF},
        {"\xE0\xA0\x80", 3, 0x800},
        {"\xEF\xBF\xBD", 3, 0xFFFD},
        {"\xF0\x9F\x98\x80", 4, 0x1F600},
        {"\xF4\x8F\xBF\xBF", 4, 0x10FFFF},
        {"\xC1\xBF", 0, 0},          // overlong
        {"\xE0\x9F\xBF", 0, 0},      // overlong
        {"\xED\xA0\x80", 0, 0},      // surrogate
        {"\xF4\x90\x80\x80", 0, 0},  // above U+10FFFF
        {"\xF5\x80\x80\x80", 0, 0},
        {"\x80", 0, 0},
        {"\xE4\xB8", 0, 0},  // cut short
    };
    for (const auto &k : cases) {
        uint32_t code = 0;
        const auto *p = reinterpret_cast<const unsigned char *>(k.bytes);
        EXPECT_EQ(DecodeUtf8(p, std::strlen(k.bytes), &code), k.length) << k.bytes;
        if (k.length != 0) {
            EXPECT_EQ(code, k.code);
        }
    }
}

TEST(Construction, FailsWithoutAFace) {
    EXPECT_THROW(GlyphTextRenderer("/nonexistent/font.ttf", 12), FontOpenError);
    EXPECT_THROW(GlyphTextRenderer("/", 12), FontOpenError);
    EXPECT_THROW(GlyphTextRenderer("/proc/self/exe", 12), FontOpenError);         // not a font
    EXPECT_THROW(GlyphTextRenderer(Latin().path.c_str(), 5, 12), FontOpenError);  // no such face
}

TEST(GlyphCacheBound, OldEntriesMakeRoomAndLookupsStayCorrect) {
    GlyphCache &cache = GlyphCache::Shared();
    auto big = std::make_shared<GlyphBitmap>();
    big->rows = 256;
    big->width = 2048;
    big->pitch = 256;
    big->bits.assign(std::size_t{256} * 256, 0x55);
    FontFileId fake;
    fake.device = 0xDEAD;
    const int entries = 2 * GlyphCache::kShards * GlyphCache::kBytesPerShard / big->bits.size();
    for (int i = 0; i < entries; ++i) {
        cache.Insert(GlyphKey{fake, 1, static_cast<uint32_t>(i)}, big);
    }
    int kept = 0;
    for (int i = 0; i < entries; ++i) {
        const auto found = cache.Find(GlyphKey{fake, 1, static_cast<uint32_t>(i)});
        if (found) {
            ++kept;
            EXPECT_EQ(found.get(), big.get());
        }
    }
    EXPECT_GT(kept, 0);
    EXPECT_LE(static_cast<std::size_t>(kept) * big->bits.size(),
              GlyphCache::kShards * GlyphCache::kBytesPerShard);
    // too large to keep
    auto huge = std::make_shared<GlyphBitmap>();
    huge->bits.assign(GlyphCache::kMaxEntryBytes + 1, 0);
    cache.Insert(GlyphKey{fake, 2, 0}, huge);
    EXPECT_EQ(cache.Find(GlyphKey{fake, 2, 0}), nullptr);
}

}  // namespace
}  // namespace zav
