// Colour fonts of bitmap strikes (Noto Color Emoji: one strike of 109 pixels) in typographic
// captions: scaled from their strike to the size asked for, named or as a fallback, never blank.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "zavimage/zavimage.h"

namespace {

const char kEmojiFont[] = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";
const char kFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char kGrin[] = "\xF0\x9F\x98\x80";  // U+1F600
const char kFox[] =
    "\xF0\x9F\xA6\x8A";  // U+1F98A: of the fonts installed, only the emoji font has it

class ColourFont : public ::testing::Test {
  protected:
    void SetUp() override {
        struct stat st;
        if (stat(kEmojiFont, &st) != 0) {
            GTEST_SKIP() << kEmojiFont << " is missing (fonts-noto-color-emoji)";
        }
        ASSERT_EQ(ZAVCreateImage(m_obj, 400, 200, ZAV_DEPTH_8U, 3, &m_image), 0);
        std::memset(m_image.data, 255, static_cast<std::size_t>(m_image.height) * 1200);
    }
    void TearDown() override {
        ZAVImageStruct *p = &m_image;
        ZAVReleaseImage(m_obj, &p);
        ZAVDestroyObject(m_obj);
    }
    ZAVTextMetrics Measure(const char *text, const char *font, float size) {
        ZAVTextStyle s;
        ZAVInitTextStyle(&s);
        s.font = font;
        s.pixelSize = size;
        ZAVTextMetrics m{};
        EXPECT_EQ(ZAVMeasureTextUtf8(m_obj, text, 10, 150, &s, &m), ZAV_TEXT_OK) << size;
        return m;
    }
    // Pixels of the picture that are no longer white.
    int Inked() const {
        int n = 0;
        for (int i = 0; i < m_image.height * 1200; ++i) {
            n += m_image.data[i] != 255;
        }
        return n;
    }
    ZAVImageObject *m_obj = ZAVCreateObject();
    ZAVImageStruct m_image{};
};

TEST_F(ColourFont, AStrikeIsScaledToTheSizeAskedFor) {
    for (const float size : {12.0f, 24.0f, 48.0f, 109.0f, 150.0f}) {
        const ZAVTextMetrics m = Measure(kGrin, kEmojiFont, size);
        // The emoji's box is about the em: within a quarter either way of the size.
        EXPECT_GT(m.inkHeight, size * 0.75f) << size;
        EXPECT_LT(m.inkHeight, size * 1.5f) << size;
        EXPECT_GT(m.inkWidth, size * 0.75f) << size;
        EXPECT_LT(m.boxHeight, size * 2.0f) << size;
    }
    ZAVTextStyle s;
    ZAVInitTextStyle(&s);
    s.font = kEmojiFont;
    s.pixelSize = 32;
    ASSERT_EQ(ZAVDrawTextUtf8(m_obj, &m_image, kGrin, 10, 150, &s), ZAV_TEXT_OK);
    EXPECT_GT(Inked(), 32 * 32 / 3);
}

TEST_F(ColourFont, AFallbackEmojiIsDrawn) {
    const ZAVTextMetrics plain = Measure("ab", kFont, 32);
    const ZAVTextMetrics fox = Measure((std::string("a") + kFox + "b").c_str(), kFont, 32);
    EXPECT_GT(fox.inkWidth, plain.inkWidth + 20);
    ZAVTextStyle s;
    ZAVInitTextStyle(&s);
    s.font = kFont;
    s.pixelSize = 32;
    ASSERT_EQ(ZAVDrawTextUtf8(m_obj, &m_image, kFox, 10, 150, &s), ZAV_TEXT_OK);
    EXPECT_GT(Inked(), 32 * 32 / 3);
}

}  // namespace
