// Captions when memory runs out at any allocation, when the font file changes on disk, and when
// no font can be found.
#include <dlfcn.h>
#include <execinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/text_canvas.h"
#include "tests/support/text_oracle.h"
#include "text/caption.h"
#include "text/font.h"
#include "text/font_catalog.h"
#include "text/glyph.h"
#include "text/line_shaping.h"
#include "text/typo_caption.h"

namespace {

// Counting operator new: when armed on a thread, its n-th allocation there fails. FreeType's
// allocations come through operator new too.
thread_local long t_countdown = 0;  // 0: not armed
thread_local bool t_failed = false;

// FreeType 2.12 itself dereferences null when its TrueType execution context cannot be allocated
// during a glyph load: that one allocation is not made to fail (the next one does instead).
bool InFreeTypeContextAllocation() noexcept {
    void *frames[16];
    const int n = backtrace(frames, 16);
    for (int i = 0; i < n; ++i) {
        Dl_info info;
        if (dladdr(frames[i], &info) != 0 && info.dli_sname != nullptr &&
            std::strcmp(info.dli_sname, "TT_New_Context") == 0) {
            return true;
        }
    }
    return false;
}

void *Allocate(std::size_t size) noexcept {
    if (t_countdown > 0 && --t_countdown == 0) {
        if (InFreeTypeContextAllocation()) {
            t_countdown = 1;
        } else {
            t_failed = true;
            return nullptr;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

void *operator new(std::size_t size) {
    if (void *p = Allocate(size)) {
        return p;
    }
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) {
    return operator new(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return Allocate(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return Allocate(size);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}

namespace zavtest {
namespace {

const std::vector<uint32_t> kCodes = {'A', 'g', '-', 0x4E2D, '1'};
const char kText[] =
    "Ag-\xE4\xB8\xAD"
    "1";

int32_t Caption(Canvas &canvas, float size, const std::string &font) {
    ZAVImageStruct record = canvas.Record();
    return zav::PutCaption(&record, reinterpret_cast<const uint8_t *>(kText), 2, 60, 2, size, 0.1f,
                           0.0f, &font, zav::TextEncoding::kUtf8);
}

// No font found once is not remembered: once fontconfig can find one, captions draw.
// (First in the file: the other tests find the font for the process.)
TEST(CaptionMends, FailedFontLookupIsNotKept) {
    const std::string empty = testing::TempDir() + "/zav_empty_fonts.conf";
    FILE *f = std::fopen(empty.c_str(), "w");
    ASSERT_NE(f, nullptr);
    const std::string dir = testing::TempDir() + "/zav_no_fonts";
    std::filesystem::create_directories(dir);
    std::fprintf(f,
                 "<?xml version=\"1.0\"?><fontconfig><dir>%s</dir><cachedir>%s</cachedir>"
                 "</fontconfig>\n",
                 dir.c_str(), dir.c_str());
    std::fclose(f);
    {
        ScopedEnv env("FONTCONFIG_FILE", empty.c_str());
        EXPECT_EQ(zav::SystemCaptionFont(), nullptr);
    }
    ASSERT_NE(zav::SystemCaptionFont(), nullptr);
    EXPECT_EQ(zav::SystemCaptionFont()->path, CaptionFont().path);
    std::remove(empty.c_str());
}

// Every allocation of a caption made to fail in turn, each time on a new thread (its FreeType
// instance and faces are made afresh) at a size nothing was rendered at: a call that returns 0
// drew everything, and the next call draws everything whatever the failed one met.
TEST(CaptionMends, EveryAllocationFailingInTurn) {
    ASSERT_EQ(CaptionFont().index, 0);
    const std::string font = CaptionFont().path;
    InFreeTypeContextAllocation();  // backtrace() loads what it needs once, before any failure
    int failedCalls = 0;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 1000);
        const float size = 10.0f + static_cast<float>(n);  // nothing rendered at this size yet
        Canvas first(150, 80, ZAV_DEPTH_8U, 3), second(150, 80, ZAV_DEPTH_8U, 3);
        int32_t r1 = -1, r2 = -1;
        bool triggered = false;
        std::thread([&] {
            t_countdown = n;
            r1 = Caption(first, size, font);
            t_countdown = 0;
            triggered = t_failed;
            r2 = Caption(second, size, font);
        }).join();
        const InkMap expected = ExpectedLine(FreeTypeOracle(CaptionFont(), static_cast<int>(size)),
                                             kCodes, 150, 80, 2, 60, size, 0.1, 0.1);
        ASSERT_EQ(r2, 0) << "allocation " << n;
        ASSERT_EQ(FirstDifference(second.Changed(0), expected), "") << "allocation " << n;
        if (r1 == 0) {
            ASSERT_EQ(FirstDifference(first.Changed(0), expected), "") << "allocation " << n;
        } else {
            ++failedCalls;
        }
        if (!triggered) {
            break;  // the caption needed fewer than n allocations
        }
    }
    EXPECT_GT(failedCalls, 0);
}

// The same for typographic captions (shaping reads the font's tables through the library's
// allocations too), each call on a copy of the caption font while a second copy, never failed,
// draws the reference: a call that returns ZAV_TEXT_OK drew what the reference drew, and the next
// call does whatever the failed one met. (A shaper that took a table it could not read for a
// missing one would draw the Latin letters from a fallback font, which look otherwise.)
TEST(CaptionMends, TypographicEveryAllocationFailingInTurn) {
    ASSERT_EQ(CaptionFont().index, 0);
    const std::string tried = testing::TempDir() + "/zav_alloc_tried.ttc";
    const std::string reference = testing::TempDir() + "/zav_alloc_reference.ttc";
    for (const std::string &copy : {tried, reference}) {
        std::filesystem::copy_file(CaptionFont().path, copy,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    const auto draw = [](Canvas &canvas, const std::string &font, float size) {
        ZAVImageStruct record = canvas.Record();
        ZAVTextStyle style;
        zav::DefaultTextStyle(&style);
        style.font = font.c_str();
        style.pixelSize = size;
        style.color = 0xF0F0F0;
        style.outlineWidth = 1.0f;
        style.outlineColor = 0x2060C0;
        return zav::TypoCaption(&record, "AVa fi-1 \xE4\xB8\xAD", 2, 50, &style, nullptr, nullptr);
    };
    InFreeTypeContextAllocation();
    int failedCalls = 0;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 4000);
        const float size = 10.0f + static_cast<float>(n % 40) + static_cast<float>(n / 40) / 64;
        Canvas expected(160, 80, ZAV_DEPTH_8U, 3), first(160, 80, ZAV_DEPTH_8U, 3),
            second(160, 80, ZAV_DEPTH_8U, 3);
        int32_t r0 = -1, r1 = -1, r2 = -1;
        bool triggered = false;
        std::thread([&] { r0 = draw(expected, reference, size); }).join();
        std::thread([&] {
            t_countdown = n;
            r1 = draw(first, tried, size);
            t_countdown = 0;
            triggered = t_failed;
            r2 = draw(second, tried, size);
        }).join();
        ASSERT_EQ(r0, ZAV_TEXT_OK);
        ASSERT_GT(expected.Changed(0).Count(), 100);
        ASSERT_EQ(r2, ZAV_TEXT_OK) << "allocation " << n;
        ASSERT_EQ(std::memcmp(second.Data(), expected.Data(), 160 * 80 * 3), 0)
            << "allocation " << n;
        if (r1 == ZAV_TEXT_OK) {
            ASSERT_EQ(std::memcmp(first.Data(), expected.Data(), 160 * 80 * 3), 0)
                << "allocation " << n;
        } else {
            ASSERT_EQ(r1, ZAV_TEXT_INCOMPLETE) << "allocation " << n;
            ++failedCalls;
        }
        if (!triggered) {
            break;  // the caption needed fewer than n allocations
        }
    }
    EXPECT_GT(failedCalls, 0);
    std::filesystem::remove(tried);
    std::filesystem::remove(reference);
}

// The font file is read on demand: cutting it short on disk after the face opened makes the glyphs
// whose bytes were not read yet fail (never a fault, and nothing kept: they fail again, and render
// once the file is whole), while glyphs rendered before still come from the cache and bytes read
// before the cut (a few neighbours of 'A') still render as they were. Shaping over the cut file
// fails likewise, rather than shaping as if its tables were missing.
TEST(CaptionMends, FontFileCutShortAfterOpening) {
    const std::string copy = testing::TempDir() + "/zav_cut_font.ttf";
    std::filesystem::copy_file(Latin().path, copy,
                               std::filesystem::copy_options::overwrite_existing);
    const std::optional<zav::FontSource> font = zav::OpenFontSource(copy.c_str(), 0);
    ASSERT_TRUE(font);
    ASSERT_NE(zav::LoadGlyph(*font, 20, 'A').glyph, nullptr);
    ASSERT_EQ(truncate(copy.c_str(), 2000), 0);
    const FreeTypeOracle oracle(Latin(), 20);
    int failed = 0;
    for (uint32_t code = 'B'; code <= 'z'; ++code) {
        const zav::GlyphLoad load = zav::LoadGlyph(*font, 20, code);
        if (load.failed) {
            ++failed;
            ASSERT_EQ(load.glyph, nullptr) << code;
            ASSERT_TRUE(zav::LoadGlyph(*font, 20, code).failed) << code;
        } else {
            ASSERT_NE(load.glyph, nullptr) << code;
            EXPECT_EQ(load.glyph->width, oracle.Glyph(code).width) << code;
        }
    }
    EXPECT_GT(failed, 40);
    const zav::GlyphLoad cached = zav::LoadGlyph(*font, 20, 'A');
    ASSERT_FALSE(cached.failed);
    ASSERT_NE(cached.glyph, nullptr);
    EXPECT_EQ(cached.glyph->width, oracle.Glyph('A').width);

    // HarfBuzz reads its tables from the same file: shaping fails.
    {
        zav::LineShaper shaper(*font, 20, 0);
        zav::ShapedLine line;
        EXPECT_FALSE(shaper.Shape(U"Hello", &line));
    }
    // The file cut short is another file now: it no longer opens as a font, and a caption that
    // names it reports the text incomplete.
    EXPECT_FALSE(zav::OpenFontSource(copy.c_str(), 0));
    Canvas canvas(150, 80, ZAV_DEPTH_8U, 3);
    ZAVImageStruct record = canvas.Record();
    ZAVTextStyle style;
    zav::DefaultTextStyle(&style);
    style.font = copy.c_str();
    EXPECT_EQ(zav::TypoCaption(&record, "Hello", 2, 60, &style, nullptr, nullptr),
              ZAV_TEXT_INCOMPLETE);

    // Whole again (a new file under the name): every glyph renders as FreeType's own.
    std::filesystem::copy_file(Latin().path, copy,
                               std::filesystem::copy_options::overwrite_existing);
    const std::optional<zav::FontSource> whole = zav::OpenFontSource(copy.c_str(), 0);
    ASSERT_TRUE(whole);
    for (uint32_t code = 'B'; code <= 'z'; ++code) {
        const zav::GlyphLoad load = zav::LoadGlyph(*whole, 20, code);
        ASSERT_FALSE(load.failed) << code;
        ASSERT_NE(load.glyph, nullptr) << code;
        EXPECT_EQ(load.glyph->width, oracle.Glyph(code).width) << code;
    }
    std::filesystem::remove(copy);
}

}  // namespace
}  // namespace zavtest
