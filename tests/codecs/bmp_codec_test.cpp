// The Windows bitmap writer's layout byte for byte, and the reader's variants and refusals.
#include <array>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/codecs/bmp.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"

namespace zav {
namespace {

using zavtest::Picture;
using zavtest::RampPattern;

TEST(BmpWriter, ColourIs24BitsAtOffset54WithRowsBottomUpPaddedWithZeros) {
    const Picture p = RampPattern(5, 2, 3);  // 15 bytes a row, padded to 16
    const std::vector<uint8_t> f = zavtest::EncodeOk(BmpFormat(), p);
    ASSERT_EQ(f.size(), 54u + 16 * 2);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(zavtest::LittleEndian32At(f, 2), 86u);  // file size
    EXPECT_EQ(zavtest::LittleEndian32At(f, 6), 0u);   // reserved
    EXPECT_EQ(zavtest::LittleEndian32At(f, 10), 54u);
    EXPECT_EQ(zavtest::LittleEndian32At(f, 14), 40u);
    EXPECT_EQ(zavtest::LittleEndian32At(f, 18), 5u);
    EXPECT_EQ(zavtest::LittleEndian32At(f, 22), 2u);
    EXPECT_EQ(zavtest::LittleEndian16At(f, 26), 1u);
    EXPECT_EQ(zavtest::LittleEndian16At(f, 28), 24u);
    for (std::size_t at = 30; at < 54; at += 4) {
        EXPECT_EQ(zavtest::LittleEndian32At(f, at), 0u)
            << at;  // compression, size, resolutions, colour counts
    }
    for (int fileRow = 0; fileRow < 2; ++fileRow) {
        const uint8_t *src = p.Row(1 - fileRow);
        const std::size_t at = 54 + fileRow * 16;
        EXPECT_EQ(0, std::memcmp(&f[at], src, 15)) << fileRow;
        EXPECT_EQ(f[at + 15], 0) << "padding";
    }
}

TEST(BmpWriter, GrayIs8BitsWithA256EntryGrayPaletteAndDataAtOffset1078) {
    const Picture p = RampPattern(3, 2, 1);
    const std::vector<uint8_t> f = zavtest::EncodeOk(BmpFormat(), p);
    ASSERT_EQ(f.size(), 1078u + 4 * 2);
    EXPECT_EQ(zavtest::LittleEndian32At(f, 2), 1086u);
    EXPECT_EQ(zavtest::LittleEndian32At(f, 10), 1078u);
    EXPECT_EQ(zavtest::LittleEndian32At(f, 14), 40u);
    EXPECT_EQ(zavtest::LittleEndian16At(f, 28), 8u);
    EXPECT_EQ(zavtest::LittleEndian32At(f, 46), 0u);  // colours used
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(f[54 + 4 * i], i);
        EXPECT_EQ(f[55 + 4 * i], i);
        EXPECT_EQ(f[56 + 4 * i], i);
        EXPECT_EQ(f[57 + 4 * i], 0);
    }
    EXPECT_EQ(0, std::memcmp(&f[1078], p.Row(1), 3));
    EXPECT_EQ(f[1081], 0);
    EXPECT_EQ(0, std::memcmp(&f[1082], p.Row(0), 3));
    EXPECT_EQ(f[1085], 0);
}

using Decoded = zavtest::PackedDecoded;

Decoded Decode(const std::vector<uint8_t> &file) {
    return zavtest::DecodePacked(BmpFormat(), file);
}

TEST(BmpReader, ReadsBackWhatTheWriterWrote) {
    for (int channels : {1, 3}) {
        const Picture p = RampPattern(7, 5, channels);
        const Decoded d = Decode(zavtest::EncodeOk(BmpFormat(), p));
        ASSERT_EQ(d.status, CodecStatus::kOk);
        EXPECT_EQ(d.info.width, 7);
        EXPECT_EQ(d.info.height, 5);
        EXPECT_EQ(d.info.color, channels == 3);
        const Picture expected = zavtest::AsColor(p);
        for (int y = 0; y < 5; ++y) {
            EXPECT_EQ(0, std::memcmp(&d.bgr[y * 21], expected.Row(y), 21)) << y;
        }
    }
}

using Color = std::array<uint8_t, 3>;  // blue, green, red

struct BmpSpec {
    uint32_t headerBytes = 40;
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bitsPerPixel = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    std::vector<Color> palette;
    std::vector<uint32_t> masks;  // after a 40-byte header
    std::vector<uint8_t> pixels;
};

std::vector<uint8_t> BuildBmp(const BmpSpec &s) {
    std::vector<uint8_t> info;
    zavtest::AppendLittleEndian32(&info, s.headerBytes);
    if (s.headerBytes == 12) {
        zavtest::AppendLittleEndian16(&info, static_cast<uint16_t>(s.width));
        zavtest::AppendLittleEndian16(&info, static_cast<uint16_t>(s.height));
        zavtest::AppendLittleEndian16(&info, 1);
        zavtest::AppendLittleEndian16(&info, s.bitsPerPixel);
    } else {
        zavtest::AppendLittleEndian32(&info, static_cast<uint32_t>(s.width));
        zavtest::AppendLittleEndian32(&info, static_cast<uint32_t>(s.height));
        zavtest::AppendLittleEndian16(&info, 1);
        zavtest::AppendLittleEndian16(&info, s.bitsPerPixel);
        zavtest::AppendLittleEndian32(&info, s.compression);
        zavtest::AppendLittleEndian32(&info, static_cast<uint32_t>(s.pixels.size()));
        zavtest::AppendLittleEndian32(&info, 2835);
        zavtest::AppendLittleEndian32(&info, 2835);
        zavtest::AppendLittleEndian32(&info, s.colorsUsed);
        zavtest::AppendLittleEndian32(&info, 0);
        info.resize(s.headerBytes, 0);
    }
    for (uint32_t m : s.masks) {
        zavtest::AppendLittleEndian32(&info, m);
    }
    for (const Color &c : s.palette) {
        info.insert(info.end(), c.begin(), c.end());
        if (s.headerBytes != 12) {
            info.push_back(0);
        }
    }
    std::vector<uint8_t> f = {'B', 'M'};
    const uint32_t offset = static_cast<uint32_t>(14 + info.size());
    zavtest::AppendLittleEndian32(&f, static_cast<uint32_t>(offset + s.pixels.size()));
    zavtest::AppendLittleEndian32(&f, 0);
    zavtest::AppendLittleEndian32(&f, offset);
    f.insert(f.end(), info.begin(), info.end());
    f.insert(f.end(), s.pixels.begin(), s.pixels.end());
    return f;
}

const Color kBlack = {0, 0, 0};
const std::vector<Color> kPalette = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {1, 2, 3},
                                     {4, 5, 6},    {7, 8, 9},    {11, 12, 13}, {14, 15, 16}};

TEST(BmpReader, ReadsOs2CoreHeadersWithThreeBytePaletteEntries) {
    BmpSpec s;
    s.headerBytes = 12;
    s.width = 10;
    s.height = 2;
    s.bitsPerPixel = 1;
    s.palette = {{0, 0, 0}, {255, 128, 0}};
    // Rows of 10 bits padded to 4 bytes, bottom row first.
    s.pixels = {0b10110000, 0b01000000, 0, 0, 0b01000000, 0b10000000, 0, 0};
    const Decoded d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_TRUE(d.info.color);
    const Color one = {255, 128, 0};
    EXPECT_EQ(d.At(0, 1), one);  // bottom row
    EXPECT_EQ(d.At(1, 1), kBlack);
    EXPECT_EQ(d.At(9, 1), one);
    EXPECT_EQ(d.At(1, 0), one);  // top row
    EXPECT_EQ(d.At(8, 0), one);
    EXPECT_EQ(d.At(9, 0), kBlack);

    s.bitsPerPixel = 4;
    s.width = 3;
    s.height = 1;
    s.palette = kPalette;
    s.pixels = {0x52, 0x70, 0, 0};
    const Decoded d4 = Decode(BuildBmp(s));
    ASSERT_EQ(d4.status, CodecStatus::kOk);
    EXPECT_EQ(d4.At(0, 0), kPalette[5]);
    EXPECT_EQ(d4.At(1, 0), kPalette[2]);
    EXPECT_EQ(d4.At(2, 0), kPalette[7]);
}

TEST(BmpReader, TakesIndicesPastTheStoredPaletteAsBlack) {
    BmpSpec s;
    s.width = 4;
    s.bitsPerPixel = 8;
    s.colorsUsed = 2;
    s.palette = {kPalette[0], kPalette[1]};
    s.pixels = {1, 0, 2, 255};
    const Decoded d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), kPalette[1]);
    EXPECT_EQ(d.At(1, 0), kPalette[0]);
    EXPECT_EQ(d.At(2, 0), kBlack);
    EXPECT_EQ(d.At(3, 0), kBlack);
}

TEST(BmpReader, Reads16And32BitsWithDefaultAndExplicitBitFields) {
    BmpSpec s;
    s.width = 2;
    s.bitsPerPixel = 16;
    s.pixels = {0x00, 0x7C, 0xFF, 0x03, 0, 0, 0, 0};  // 5-5-5: pure red, then green 31 + blue 31
    Decoded d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{0, 0, 255}));
    EXPECT_EQ(d.At(1, 0), (Color{255, 255, 0}));

    s.compression = 3;
    s.masks = {0xF800, 0x07E0, 0x001F};   // 5-6-5
    s.pixels = {0xE0, 0x07, 0x10, 0x00};  // green 63; blue 16 of 31
    d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{0, 255, 0}));
    EXPECT_EQ(d.At(1, 0), (Color{(16 * 255 + 15) / 31, 0, 0}));

    s = BmpSpec{};
    s.width = 1;
    s.bitsPerPixel = 32;
    s.pixels = {1, 2, 3, 4};
    d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{1, 2, 3}));

    s.compression = 3;
    s.masks = {0x0000FF00, 0x00FF0000, 0xFF000000};  // red, green, blue, in that order
    d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{4, 3, 2}));
}

TEST(BmpReader, DecodesRle8WithRunsLiteralsMovesAndClipsRunsAtTheRowEnd) {
    BmpSpec s;
    s.width = 4;
    s.height = 3;
    s.bitsPerPixel = 8;
    s.compression = 1;
    s.palette = kPalette;
    s.pixels = {
        3, 1, 0, 0,              // bottom row: 1 1 1, then end of row
        0, 3, 2, 3, 1, 0,        // middle row: literal 2 3 1 (padded to even)
        5, 4, 0, 0,              // a run of 5 with one place left: clipped at the row end
        0, 2, 1, 0, 1, 3, 0, 1,  // top row: move right by 1, one 3, end of picture
    };
    const Decoded d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    // Top row in memory first.
    EXPECT_EQ(d.At(0, 0), kPalette[0]);  // never reached: colour 0
    EXPECT_EQ(d.At(1, 0), kPalette[3]);
    EXPECT_EQ(d.At(2, 0), kPalette[0]);
    EXPECT_EQ(d.At(0, 1), kPalette[2]);
    EXPECT_EQ(d.At(1, 1), kPalette[3]);
    EXPECT_EQ(d.At(2, 1), kPalette[1]);
    EXPECT_EQ(d.At(3, 1), kPalette[4]);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(d.At(x, 2), kPalette[1]) << x;  // not overwritten by the clipped run
    }
    EXPECT_EQ(d.At(3, 2), kPalette[0]);
}

TEST(BmpReader, DecodesRle4NibblesAndClipsLiteralsAtTheRowEnd) {
    BmpSpec s;
    s.width = 5;
    s.height = 2;
    s.bitsPerPixel = 4;
    s.compression = 2;
    s.palette = kPalette;
    s.pixels = {
        5, 0x12, 0, 0,                             // bottom row: 1 2 1 2 1
        2, 0x34, 0, 5, 0x56, 0x70, 0x10, 0, 0, 1,  // top: 3 4, literal 5 6 7 [1 0] clipped
    };
    const Decoded d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    const int top[] = {3, 4, 5, 6, 7};
    const int bottom[] = {1, 2, 1, 2, 1};
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(d.At(x, 0), kPalette[top[x]]) << x;
        EXPECT_EQ(d.At(x, 1), kPalette[bottom[x]]) << x;
    }
}

TEST(BmpReader, EndsRleAtTheTopRowAndRefusesDataThatEndEarly) {
    BmpSpec s;
    s.width = 2;
    s.height = 2;
    s.bitsPerPixel = 8;
    s.compression = 1;
    s.palette = kPalette;
    s.pixels = {2, 1, 0, 0, 2, 2, 0, 2, 0, 9, 7, 7};  // a move past the top ends the picture
    Decoded d = Decode(BuildBmp(s));
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), kPalette[2]);
    EXPECT_EQ(d.At(1, 1), kPalette[1]);

    for (const std::vector<uint8_t> &pixels : std::vector<std::vector<uint8_t>>{
             {2, 1, 0, 0, 2},        // a pair cut in half
             {2, 1, 0, 0, 0, 4, 1},  // a literal without its bytes
             {2, 1, 0, 0, 0, 2, 1},  // a move without its offsets
             {2, 1, 0, 0},           // no more pairs before the top row
         }) {
        s.pixels = pixels;
        EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kTruncated);
    }
}

TEST(BmpReader, RefusesTopDownEmptyAndUnknownVariants) {
    BmpSpec s;
    s.width = 1;
    s.pixels = {1, 2, 3, 0};
    s.height = -1;
    EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kUnsupported);
    s.height = 0;
    EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kCorrupt);
    s.height = 1;
    s.width = 0;
    EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kCorrupt);
    s.width = 1;
    s.bitsPerPixel = 2;
    EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kUnsupported);
    s.bitsPerPixel = 24;
    s.compression = 1;  // RLE8 needs 8 bits per pixel
    EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kUnsupported);
    s.compression = 4;  // JPEG inside a bitmap
    EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kUnsupported);
    s.compression = 0;
    s.headerBytes = 13;
    EXPECT_EQ(Decode(BuildBmp(s)).status, CodecStatus::kCorrupt);
}

TEST(BmpReader, RefusesTooLargePicturesBeforeTheData) {
    BmpSpec s;
    s.width = 40000;
    s.height = 40000;  // 4.8e9 bytes of BGR
    const std::vector<uint8_t> square = BuildBmp(s);
    BmpReader reader(square);
    ImageInfo info;
    EXPECT_EQ(reader.ReadHeader(&info), CodecStatus::kTooLarge);
    s.width = 0x7FFFFFFF;
    s.height = 1;
    const std::vector<uint8_t> wide = BuildBmp(s);
    BmpReader wideReader(wide);
    EXPECT_EQ(wideReader.ReadHeader(&info), CodecStatus::kTooLarge);
}

TEST(BmpReader, NeedsEveryPixelByteButNotTheLastRowsPadding) {
    BmpSpec s;
    s.width = 1;
    s.height = 2;
    s.pixels = {1, 2, 3, 0, 4, 5, 6, 0};
    std::vector<uint8_t> f = BuildBmp(s);
    f.pop_back();
    const Decoded d = Decode(f);
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{4, 5, 6}));
    f.pop_back();
    EXPECT_EQ(Decode(f).status, CodecStatus::kTruncated);
}

}  // namespace
}  // namespace zav
