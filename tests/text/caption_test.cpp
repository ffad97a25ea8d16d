// Captions through the C interface: colour table, start point, sizes, fonts, decoding, locale.
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <locale.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/support/text_canvas.h"
#include "tests/support/text_oracle.h"
#include "zavimage/zavimage.h"

extern char **environ;

namespace zavtest {
namespace {

// "视频监控画面 12:34:56" as code points and as UTF-8.
const std::vector<uint32_t> kCaptionCodes = {
    0x89C6, 0x9891, 0x76D1, 0x63A7, 0x753B, 0x9762, ' ', '1', '2', ':', '3', '4', ':', '5', '6'};
const char kCaptionUtf8[] =
    "\xE8\xA7\x86\xE9\xA2\x91\xE7\x9B\x91\xE6\x8E\xA7\xE7\x94\xBB\xE9\x9D\xA2"
    " 12:34:56";

struct Object {
    ZAVImageObject *obj = ZAVCreateObject();
    ~Object() { ZAVDestroyObject(obj); }
};

// Where the caption's ink must be, as FreeType renders it at the truncated size and the pen moves.
InkMap ExpectedCaption(const FontFile &font, const std::vector<uint32_t> &codes, int width,
                       int height, int x, int y, float fSize, float fCharSpace) {
    const FreeTypeOracle oracle(font, static_cast<int>(fSize));
    return ExpectedLine(oracle, codes, width, height, x, y, std::fabs(fSize), 0.1,
                        std::fabs(fCharSpace));
}

// "Rg" in size 20 at (2, 25) of a 60 x 30 buffer: where the object's caption put ink, and where a
// font's glyphs must put it.
InkMap DrawRg(ZAVImageObject *obj) {
    Canvas canvas(60, 30, ZAV_DEPTH_8U, 3);
    ZAVImageStruct record = canvas.Record();
    EXPECT_EQ(ZAVPutTextToImageUtf8(obj, &record, "Rg", 2, 25, 0, 20.0f, 0.1f, 0.0f), 0);
    return canvas.Changed(0);
}

InkMap ExpectedRg(const FontFile &font) {
    return ExpectedCaption(font, {'R', 'g'}, 60, 30, 2, 25, 20, 0.1f);
}

TEST(CaptionColour, TableOnThreeChannels) {
    const struct {
        int32_t code;
        uint8_t b, g, r;
    } table[] = {{0, 255, 0, 0}, {1, 0, 255, 0}, {2, 0, 0, 255}, {7, 255, 0, 0}, {-1, 255, 0, 0}};
    const InkMap expected = ExpectedCaption(CaptionFont(), {0x4E2D, 'A'}, 60, 30, 2, 25, 20, 0.1f);
    for (const auto &k : table) {
        Object o;
        Canvas canvas(60, 30, ZAV_DEPTH_8U, 3, 77);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record,
                                        "\xE4\xB8\xAD"
                                        "A",
                                        2, 25, k.code, 20.0f, 0.1f, 0.0f),
                  0);
        EXPECT_EQ(FirstDifference(canvas.Changed(77), expected), "");
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 60; ++x) {
                if (expected.At(x, y)) {
                    const uint8_t *p = canvas.Pixel(x, y);
                    ASSERT_EQ(p[0], k.b);
                    ASSERT_EQ(p[1], k.g);
                    ASSERT_EQ(p[2], k.r);
                }
            }
        }
        EXPECT_TRUE(canvas.GuardsIntact());
    }
}

TEST(CaptionColour, OneAndFourChannelsTakeTheirOwnChannels) {
    const InkMap expected = ExpectedCaption(CaptionFont(), {0x56FD}, 40, 30, 1, 25, 20, 0.1f);
    const struct {
        int channels;
        int32_t code;
        uint8_t value[4];
    } cases[] = {{1, 0, {255}},
                 {1, 1, {0}},
                 {1, 2, {0}},
                 {1, 9, {255}},
                 {4, 2, {0, 0, 255, 0}},
                 {4, 0, {255, 0, 0, 0}},
                 {4, 1, {0, 255, 0, 0}}};
    for (const auto &k : cases) {
        Object o;
        Canvas canvas(40, 30, ZAV_DEPTH_8U, k.channels, 77);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(
            ZAVPutTextToImageUtf8(o.obj, &record, "\xE5\x9B\xBD", 1, 25, k.code, 20.0f, 0.1f, 0.0f),
            0);
        int inked = 0;
        for (int y = 0; y < 30; ++y) {
            for (int x = 0; x < 40; ++x) {
                const uint8_t *p = canvas.Pixel(x, y);
                for (int c = 0; c < k.channels; ++c) {
                    ASSERT_EQ(p[c], expected.At(x, y) ? k.value[c] : 77)
                        << "channels " << k.channels << " code " << k.code;
                }
                inked += expected.At(x, y);
            }
        }
        EXPECT_GT(inked, 20);
        EXPECT_TRUE(canvas.GuardsIntact());
    }
}

// fSize 24.9 rasterises at 24 pixels while the spacing uses 24.9; a negative character space
// spaces as its absolute value; transparency changes nothing.
TEST(CaptionPlacement, TruncatedPixelSizeAndFloatSpacing) {
    const InkMap expected =
        ExpectedCaption(CaptionFont(), kCaptionCodes, 300, 40, 3, 30, 24.9f, 0.1f);
    std::optional<Canvas> first;
    for (float charSpace : {0.1f, -0.1f}) {
        for (float transparency : {0.0f, 0.5f, 1.0f}) {
            Object o;
            Canvas canvas(300, 40, ZAV_DEPTH_8U, 3);
            ZAVImageStruct record = canvas.Record();
            EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, kCaptionUtf8, 3, 30, 2, 24.9f,
                                            charSpace, transparency),
                      0);
            EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "");
            if (!first) {
                first.emplace(canvas);
            } else {
                EXPECT_TRUE(canvas.SameBytes(*first));
            }
        }
    }
}

TEST(CaptionPlacement, StartPointAgainstTheRecord) {
    const int w = 50, h = 40;
    const struct {
        int x, y;
        bool drawn;
    } cases[] = {{w - 1, 20, true}, {w, 20, false}, {-1, 20, false}, {10, 0, true},
                 {10, h - 1, true}, {10, h, false}, {10, -1, false}};
    for (const auto &k : cases) {
        Object o;
        Canvas canvas(w, h, ZAV_DEPTH_8U, 3);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record,
                                        "\xE5\x9B\xBD"
                                        "H",
                                        k.x, k.y, 1, 16.0f, 0.1f, 0.0f),
                  0);
        InkMap expected(w, h);
        if (k.drawn) {
            expected = ExpectedCaption(CaptionFont(), {0x56FD, 'H'}, w, h, k.x, k.y, 16.0f, 0.1f);
            EXPECT_GT(expected.Count(), 0);
        }
        EXPECT_EQ(FirstDifference(canvas.Changed(0), expected), "") << k.x << "," << k.y;
        EXPECT_TRUE(canvas.GuardsIntact());
    }
}

TEST(CaptionPlacement, NothingDrawnBelowOnePixelOrOutsideTheContract) {
    Object o;
    Canvas canvas(40, 30, ZAV_DEPTH_8U, 3);
    ZAVImageStruct record = canvas.Record();
    for (float size : {0.99f, 0.0f, -5.0f, NAN, -INFINITY}) {
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, "AB", 1, 25, 0, size, 0.1f, 0.0f), 0);
    }
    EXPECT_EQ(ZAVPutTextToImage(o.obj, &record, nullptr, 1, 25, 0, 12.0f, 0.1f, 0.0f), 0);
    // Spacing that is not a number or infinite: the first glyph is drawn, nothing breaks.
    for (float charSpace : {NAN, INFINITY, 3e38f}) {
        Canvas spaced(40, 30, ZAV_DEPTH_8U, 3);
        ZAVImageStruct r = spaced.Record();
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &r, "AB", 1, 25, 0, 12.0f, charSpace, 0.0f), 0);
        EXPECT_GT(spaced.Changed(0).Count(), 0);
        EXPECT_TRUE(spaced.GuardsIntact());
    }
    EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, "AB", 1, 25, 0, INFINITY, 0.1f, 0.0f), 0);
    EXPECT_EQ(canvas.Changed(0).Count(), 0);  // FreeType refuses a size beyond its limit
    EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, "", 1, 25, 0, 12.0f, 0.1f, 0.0f), 0);
    EXPECT_EQ(canvas.Changed(0).Count(), 0);

    EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, nullptr, "AB", 1, 25, 0, 12.0f, 0.1f, 0.0f), 0);
    EXPECT_EQ(ZAVPutTextToImageUtf8(nullptr, &record, "AB", 1, 25, 0, 12.0f, 0.1f, 0.0f), 0);
    for (ZAVImageStruct bad : {ZAVImageStruct{40, 30, ZAV_DEPTH_8U, 3, nullptr},
                               ZAVImageStruct{40, 30, ZAV_DEPTH_16U, 1, canvas.Data()},
                               ZAVImageStruct{10, 30, ZAV_DEPTH_8U, 5, canvas.Data()},
                               ZAVImageStruct{0, 30, ZAV_DEPTH_8U, 3, canvas.Data()},
                               ZAVImageStruct{-40, 30, ZAV_DEPTH_8U, 3, canvas.Data()},
                               ZAVImageStruct{40, 30, 12345, 3, canvas.Data()}}) {
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &bad, "AB", 1, 25, 0, 12.0f, 0.1f, 0.0f), 0);
    }
    EXPECT_EQ(canvas.Changed(0).Count(), 0);
    EXPECT_TRUE(canvas.GuardsIntact());
}

TEST(CaptionPlacement, GlyphDepthsOtherThanEightBits) {
    Object o;
    Canvas canvas(40, 30, ZAV_DEPTH_32F, 3);
    ZAVImageStruct record = canvas.Record();
    EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, "\xE5\x9B\xBD", 1, 25, 2, 20.0f, 0.1f, 0.0f),
              0);
    const InkMap expected = ExpectedCaption(CaptionFont(), {0x56FD}, 40, 30, 1, 25, 20, 0.1f);
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            float v[3];
            std::memcpy(v, canvas.Pixel(x, y), sizeof v);
            ASSERT_EQ(v[0], 0.0f);
            ASSERT_EQ(v[1], 0.0f);
            ASSERT_EQ(v[2], expected.At(x, y) ? 255.0f : 0.0f);
        }
    }
}

TEST(CaptionFont, ObjectFontPathAndItsReset) {
    Object o;
    const InkMap latin = ExpectedRg(Latin());
    const InkMap caption = ExpectedRg(CaptionFont());
    ASSERT_NE(FirstDifference(latin, caption), "");
    EXPECT_EQ(ZAVSetFontPath(o.obj, Latin().path.c_str()), 0);
    EXPECT_EQ(FirstDifference(DrawRg(o.obj), latin), "");
    Object other;  // the path belongs to one object
    EXPECT_EQ(FirstDifference(DrawRg(other.obj), caption), "");
    EXPECT_EQ(ZAVSetFontPath(o.obj, nullptr), 0);
    EXPECT_EQ(FirstDifference(DrawRg(o.obj), caption), "");
    EXPECT_EQ(ZAVSetFontPath(o.obj, "/nonexistent/font.ttf"), 0);  // falls back to the system font
    EXPECT_EQ(FirstDifference(DrawRg(o.obj), caption), "");
    EXPECT_EQ(ZAVSetFontPath(nullptr, "x"), 0);
}

// The literal default is opened as a relative file name; a font file replaced under the same name
// is drawn from its new contents.
TEST(CaptionFont, LiteralDefaultPathAndReplacedFiles) {
    ASSERT_EQ(CaptionFont().index, 0);  // the object's font path opens face 0
    char dir[] = "/tmp/zav_fonts_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string literal = std::string(dir) + "/c:\\windows\\fonts\\SIMHEI.TTF";
    const std::string swapped = std::string(dir) + "/swapped.ttf";
    ASSERT_EQ(symlink(Latin().path.c_str(), literal.c_str()), 0);
    ASSERT_EQ(symlink(Latin().path.c_str(), swapped.c_str()), 0);
    const InkMap latin = ExpectedRg(Latin());
    const InkMap caption = ExpectedRg(CaptionFont());
    Object o;
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    EXPECT_EQ(FirstDifference(DrawRg(o.obj), latin), "");
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(FirstDifference(DrawRg(o.obj), caption), "");

    ZAVSetFontPath(o.obj, swapped.c_str());
    EXPECT_EQ(FirstDifference(DrawRg(o.obj), latin), "");
    ASSERT_EQ(unlink(swapped.c_str()), 0);
    ASSERT_EQ(symlink(CaptionFont().path.c_str(), swapped.c_str()), 0);
    EXPECT_EQ(FirstDifference(DrawRg(o.obj), caption), "");

    unlink(swapped.c_str());
    unlink(literal.c_str());
    rmdir(dir);
}

// Run in a child process: fontconfig's match is located once per process.
TEST(CaptionFont, NoFontGivesOneAndDrawsNothing) {
    if (std::getenv("ZAV_TEST_NO_FONT_CHILD") != nullptr) {
        Object o;
        Canvas canvas(40, 30, ZAV_DEPTH_8U, 3);
        ZAVImageStruct record = canvas.Record();
        ZAVSetFontPath(o.obj, "/nonexistent/font.ttf");
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, "AB", 1, 25, 0, 12.0f, 0.1f, 0.0f), 1);
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, "AB", 100, 25, 0, 12.0f, 0.1f, 0.0f), 1);
        ZAVSetFontPath(o.obj, nullptr);  // the literal default is missing too
        EXPECT_EQ(ZAVPutTextToImage(o.obj, &record, reinterpret_cast<const uint8_t *>("AB"), 1, 25,
                                    0, 12.0f, 0.1f, 0.0f),
                  1);
        ZAVSetFontPath(o.obj, std::getenv("ZAV_TEST_LATIN_FONT"));  // a font that opens still works
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, "AB", 1, 25, 0, 12.0f, 0.1f, 0.0f), 0);
        EXPECT_GT(canvas.Changed(0).Count(), 0);
        return;
    }
    // Latin() asks fontconfig here, in the parent, before the child hides every font.
    const std::string latinPath = Latin().path;
    ASSERT_FALSE(latinPath.empty());
    char dir[] = "/tmp/zav_nofont_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string conf = std::string(dir) + "/fonts.conf";
    FILE *f = std::fopen(conf.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n", f);
    std::fclose(f);

    std::vector<std::string> env;
    for (char **e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "FONTCONFIG_", 11) != 0) {
            env.emplace_back(*e);
        }
    }
    env.push_back("FONTCONFIG_FILE=" + conf);
    env.push_back("ZAV_TEST_NO_FONT_CHILD=1");
    env.push_back("ZAV_TEST_LATIN_FONT=" + latinPath);
    std::vector<char *> envp;
    for (std::string &s : env) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe";
    std::string filter = "--gtest_filter=CaptionFont.NoFontGivesOneAndDrawsNothing";
    char *argv[] = {self.data(), filter.data(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    std::remove(conf.c_str());
    rmdir(dir);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(CaptionText, GbkUnderAGbkLocaleAndUtf8Otherwise) {
    const InkMap expected =
        ExpectedCaption(CaptionFont(), {0x4E2D, 0x6587, '1'}, 80, 30, 0, 25, 20, 0.1f);
    const auto drawNarrow = [&](const char *text) {
        Object o;
        Canvas canvas(80, 30, ZAV_DEPTH_8U, 3);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(ZAVPutTextToImage(o.obj, &record, reinterpret_cast<const uint8_t *>(text), 0, 25,
                                    0, 20.0f, 0.1f, 0.0f),
                  0);
        return canvas.Changed(0);
    };
    const auto drawUtf8 = [&](const char *text) {
        Object o;
        Canvas canvas(80, 30, ZAV_DEPTH_8U, 3);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(ZAVPutTextToImageUtf8(o.obj, &record, text, 0, 25, 0, 20.0f, 0.1f, 0.0f), 0);
        return canvas.Changed(0);
    };
    const char utf8[] =
        "\xE4\xB8\xAD\xE6\x96\x87"
        "1";
    {
        ScopedEnv lang("LC_ALL", "C");
        EXPECT_EQ(FirstDifference(drawNarrow(utf8), expected), "");
    }
    {
        ScopedEnv lang("LC_ALL", "C.UTF-8");
        EXPECT_EQ(FirstDifference(drawNarrow(utf8), expected), "");
    }
    if (!GbkLocaleAvailable()) {
        GTEST_SKIP() << "zh_CN.GBK is not installed (scripts/setup.sh generates it)";
    }
    ScopedEnv lang("LC_ALL", "zh_CN.GBK");
    EXPECT_EQ(FirstDifference(drawNarrow("\xD6\xD0\xCE\xC4"
                                         "1"),
                              expected),
              "");
    EXPECT_EQ(FirstDifference(drawUtf8(utf8), expected), "");  // UTF-8 whatever the locale
}

TEST(CaptionText, ProcessLocaleIsLeftAlone) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    const std::string point = std::localeconv()->decimal_point;
    const locale_t threadBefore = uselocale(static_cast<locale_t>(0));
    {
        ScopedEnv lang("LC_ALL", GbkLocaleAvailable() ? "zh_CN.GBK" : "C.UTF-8");
        Object o;
        Canvas canvas(80, 30, ZAV_DEPTH_8U, 3);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(ZAVPutTextToImage(o.obj, &record,
                                    reinterpret_cast<const uint8_t *>("\xD6\xD0"
                                                                      "A"),
                                    0, 25, 0, 20.0f, 0.1f, 0.0f),
                  0);
    }
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
    EXPECT_EQ(std::string(std::localeconv()->decimal_point), point);
    EXPECT_EQ(uselocale(static_cast<locale_t>(0)), threadBefore);
}

}  // namespace
}  // namespace zavtest
