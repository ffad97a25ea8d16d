// The typographic caption's limits: every call is bounded in time and memory before it starts.
// Calls past a limit (characters, lines, pixel size, outline, coverage) are refused with their own
// status and touch nothing; calls within them that once took gigabytes or many seconds (one glyph
// too large for the shared cache drawn a hundred times, thousands of characters no font has)
// return quickly within a small address space.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <malloc.h>

#include <gtest/gtest.h>

#include "zavimage/zavimage.h"

namespace {

const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string Utf8(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

std::string Repeat(const std::string &piece, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        s += piece;
    }
    return s;
}

ZAVTextStyle Style(float size, float outline = 0) {
    ZAVTextStyle s;
    ZAVInitTextStyle(&s);
    s.font = kFont;
    s.pixelSize = size;
    s.outlineWidth = outline;
    return s;
}

// Runs `call` in a child process whose address space may grow by 100 MB at most (not under
// AddressSanitizer, which reserves its shadow up front) and which must return within `seconds`
// (a margin of several times over the second the calls take); gives the call's result, or -1
// when the child died or ran out of time.
int32_t Bounded(const std::function<int32_t()> &call, double seconds = 8.0) {
    const pid_t child = fork();
    if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        malloc_trim(0);
        std::ifstream status("/proc/self/status");
        std::string word;
        std::size_t kb = 0;
        while (status >> word && word != "VmSize:") {
        }
        status >> kb;
        const rlim_t limit = kb * 1024 + (rlim_t{100} << 20);
        const rlimit rl{limit, limit};
        setrlimit(RLIMIT_AS, &rl);
#endif
        alarm(static_cast<unsigned>(seconds) + 1);
        const auto start = std::chrono::steady_clock::now();
        const int32_t result = call();
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        _exit(took <= seconds ? result : 99);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class CaptionLimits : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(m_obj, nullptr);
        ASSERT_EQ(ZAVCreateImage(m_obj, 64, 64, ZAV_DEPTH_8U, 3, &m_image), 0);
        std::memset(m_image.data, 200, 64 * 64 * 3);
        // The font opened and HarfBuzz readied here, so that the children time the calls alone.
        ZAVTextStyle s = Style(24);
        ZAVTextMetrics m{};
        ASSERT_EQ(ZAVMeasureTextUtf8(m_obj, "W", 0, 0, &s, &m), ZAV_TEXT_OK);
    }
    void TearDown() override {
        ZAVImageStruct *p = &m_image;
        ZAVReleaseImage(m_obj, &p);
        ZAVDestroyObject(m_obj);
    }
    int32_t Draw(const std::string &text, const ZAVTextStyle &s) {
        return ZAVDrawTextUtf8(m_obj, &m_image, text.c_str(), 2, 60, &s);
    }
    int32_t Measure(const std::string &text, const ZAVTextStyle &s) {
        ZAVTextMetrics m{};
        return ZAVMeasureTextUtf8(m_obj, text.c_str(), 2, 60, &s, &m);
    }
    ZAVImageObject *m_obj = ZAVCreateObject();
    ZAVImageStruct m_image{};
};

// A glyph too large for the shared cache is rendered once a call, however often it occurs: a
// hundred or two thousand W at 1024 pixels with a 64-pixel outline on a 64 x 64 picture.
TEST_F(CaptionLimits, AGlyphRepeatedIsRenderedOnceACall) {
    const ZAVTextStyle big = Style(1024, 64);
    EXPECT_EQ(Bounded([&] { return Draw(Repeat("W", 100), big); }), ZAV_TEXT_OK);
    EXPECT_EQ(Bounded([&] { return Draw(Repeat("W", 2000), big); }), ZAV_TEXT_OK);
    EXPECT_EQ(Bounded([&] { return Measure(Repeat("W", 2000), big); }), ZAV_TEXT_OK);
    // Drawn here too, the baseline far below the picture: the first W's top covers it.
    ASSERT_EQ(ZAVDrawTextUtf8(m_obj, &m_image, Repeat("W", 100).c_str(), 0, 600, &big),
              ZAV_TEXT_OK);
    bool changed = false;
    for (int i = 0; i < 64 * 64 * 3; ++i) {
        changed = changed || m_image.data[i] != 200;
    }
    EXPECT_TRUE(changed);
}

// Past a limit: refused before any work with its own status, nothing drawn, metrics untouched.
TEST_F(CaptionLimits, CallsPastALimitAreRefusedBeforeAnyWork) {
    const ZAVTextStyle normal = Style(24);
    const std::string lines = Repeat("W\n", 100000);
    const std::string marks = "a" + Repeat(Utf8(0x301), 50000);
    std::string nobody;  // private use of plane 15: no installed font has these
    for (uint32_t c = 0xF0000; c < 0xF0000 + 20000; ++c) {
        nobody += Utf8(c);
    }
    for (const std::string *text : std::vector<const std::string *>{&lines, &marks, &nobody}) {
        EXPECT_EQ(Bounded([&] { return Measure(*text, normal); }, 2.0), ZAV_TEXT_TOO_LARGE);
        EXPECT_EQ(Bounded([&] { return Draw(*text, normal); }, 2.0), ZAV_TEXT_TOO_LARGE);
    }
    EXPECT_EQ(Measure(Repeat("x", ZAV_TEXT_MAX_CHARACTERS), normal), ZAV_TEXT_OK);
    EXPECT_EQ(Measure(Repeat("x", ZAV_TEXT_MAX_CHARACTERS + 1), normal), ZAV_TEXT_TOO_LARGE);
    EXPECT_EQ(Measure(Repeat("x\n", ZAV_TEXT_MAX_LINES - 1) + "x", normal), ZAV_TEXT_OK);
    EXPECT_EQ(Measure(Repeat("x\n", ZAV_TEXT_MAX_LINES), normal), ZAV_TEXT_TOO_LARGE);

    // The pixel size and the outline past their limits have the same status; values that mean
    // nothing stay refused.
    EXPECT_EQ(Measure("W", Style(1025)), ZAV_TEXT_TOO_LARGE);
    EXPECT_EQ(Measure("W", Style(24, 64.5f)), ZAV_TEXT_TOO_LARGE);
    EXPECT_EQ(Measure("W", Style(0.5f)), ZAV_TEXT_REFUSED);
    EXPECT_EQ(Measure("W", Style(24, -1)), ZAV_TEXT_REFUSED);

    // Coverage: nine distinct glyphs at 1024 pixels with an outline on a colour picture pass
    // 64 MiB; the same glyph nine times does not, nor the nine glyphs measured (one byte a
    // pixel).
    const ZAVTextStyle big = Style(1024, 64);
    EXPECT_EQ(Draw("ABCDEFGHI", big), ZAV_TEXT_TOO_LARGE);
    EXPECT_EQ(Bounded([&] { return Draw("WWWWWWWWW", big); }), ZAV_TEXT_OK);
    EXPECT_EQ(Bounded([&] { return Measure("ABCDEFGHI", big); }), ZAV_TEXT_OK);
    std::vector<uint8_t> before(m_image.data, m_image.data + 64 * 64 * 3);
    EXPECT_EQ(Draw(marks, normal), ZAV_TEXT_TOO_LARGE);
    EXPECT_EQ(Draw("ABCDEFGHI", big), ZAV_TEXT_TOO_LARGE);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), m_image.data));
}

// Within the limits, characters no font has are told quickly ("no font has it" is kept once
// found), and a line of combining marks shapes quickly.
TEST_F(CaptionLimits, ThousandsOfCharactersWithinTheLimitsReturnQuickly) {
    std::string nobody;
    for (uint32_t c = 0xF1000; c < 0xF1000 + 4000; ++c) {
        nobody += Utf8(c);
    }
    const ZAVTextStyle normal = Style(24);
    EXPECT_EQ(Bounded([&] { return Draw(nobody, normal); }, 4.0), ZAV_TEXT_OK);
    EXPECT_EQ(Bounded([&] { return Draw("a" + Repeat(Utf8(0x301), 4000), normal); }, 4.0),
              ZAV_TEXT_OK);
}

}  // namespace
