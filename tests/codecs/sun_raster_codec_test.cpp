// The Sun raster writer's exact layout, its reader's variants, and both against netpbm and
// ImageMagick.
#include <gtest/gtest.h>

#include "imaging/files/format_table.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/netpbm.h"

namespace zav {
namespace {

using namespace zavtest;

const ImageFormat &Sun() {
    return SunRasterFormat();
}

std::vector<uint8_t> Header(uint32_t w, uint32_t h, uint32_t depth, uint32_t length, uint32_t type,
                            uint32_t map_type, uint32_t map_length) {
    std::vector<uint8_t> f;
    for (uint32_t v : {0x59A66A95u, w, h, depth, length, type, map_type, map_length}) {
        AppendBigEndian32(&f, v);
    }
    return f;
}

TEST(SunRasterFilter, DescriptionAndSignature) {
    EXPECT_EQ(Sun().description, "Sun raster files (*.sr;*.ras)");
    EXPECT_EQ(Sun().signatureLength, 4u);
    const uint8_t good[] = {0x59, 0xA6, 0x6A, 0x95};
    const uint8_t bad[] = {0x95, 0x6A, 0xA6, 0x59};
    EXPECT_TRUE(Sun().matches(good, 4));
    EXPECT_FALSE(Sun().matches(bad, 4));
    EXPECT_EQ(&Sun(), &SunRasterFormat());
}

TEST(SunRasterWriter, HeaderFieldsForGrayAndColour) {
    const auto gray = Encode(Sun(), Pattern(5, 3, 1).Request());
    ASSERT_EQ(gray.size(), 32u + 6 * 3);
    const uint32_t gray_fields[] = {0x59A66A95, 5, 3, 8, 18, 1, 0, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(BigEndian32At(gray, 4 * i), gray_fields[i]) << "field " << i;
    }
    const auto colour = Encode(Sun(), Pattern(4, 2, 3).Request());
    ASSERT_EQ(colour.size(), 32u + 12 * 2);
    const uint32_t colour_fields[] = {0x59A66A95, 4, 2, 24, 24, 1, 0, 0};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(BigEndian32At(colour, 4 * i), colour_fields[i]) << "field " << i;
    }
    // Pixels in buffer order, blue first.
    const Picture p = Pattern(4, 2, 3);
    EXPECT_TRUE(std::equal(p.Row(1), p.Row(1) + 12, colour.begin() + 32 + 12));
}

TEST(SunRasterWriter, OddRowsArePaddedWithZeroNeverWithBufferBytes) {
    Picture gray = Pattern(5, 3, 1);  // 5 bytes a row, step 8
    for (int32_t y = 0; y < 3; ++y) {
        gray.Row(y)[5] = static_cast<uint8_t>(0x10 + y);
    }
    const auto f = Encode(Sun(), gray.Request());
    ASSERT_EQ(f.size(), 32u + 18);
    for (int32_t y = 0; y < 3; ++y) {
        EXPECT_TRUE(std::equal(gray.Row(y), gray.Row(y) + 5, f.begin() + 32 + 6 * y));
        EXPECT_EQ(f[32 + 6 * y + 5], 0);
    }

    Picture colour = Pattern(3, 2, 3);  // 9 bytes a row, step 12
    colour.Row(0)[9] = 0x77;
    colour.Row(1)[9] = 0x88;
    const auto c = Encode(Sun(), colour.Request());
    ASSERT_EQ(c.size(), 32u + 20);
    EXPECT_EQ(BigEndian32At(c, 16), 20u);
    EXPECT_EQ(c[32 + 9], 0);
    EXPECT_EQ(c[32 + 19], 0);

    // A step without room for the pad byte: still a zero, never the next row's first byte.
    std::vector<uint8_t> tight = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    WriteRequest r;
    r.pixels = tight.data();
    r.step = 3;
    r.width = 3;
    r.height = 3;
    const auto t = Encode(Sun(), r);
    const std::vector<uint8_t> rows(t.begin() + 32, t.end());
    EXPECT_EQ(rows, (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}));
}

TEST(SunRasterWriter, RefusesRequestsOutsideTheContract) {
    const Picture p = Pattern(4, 4, 3);
    WriteRequest r = p.Request();
    CodecStatus s;
    r.width = 0;
    EXPECT_TRUE(Encode(Sun(), r, &s).empty());
    EXPECT_NE(s, CodecStatus::kOk);
    r = p.Request();
    r.pixels = nullptr;
    EXPECT_TRUE(Encode(Sun(), r, &s).empty());
    r = p.Request();
    r.step = 11;
    EXPECT_TRUE(Encode(Sun(), r, &s).empty());
}

TEST(SunRasterCodec, RoundTripsGrayAndColour) {
    for (int32_t w : {1, 2, 3, 7, 64}) {
        const Picture colour = Pattern(w, 5, 3);
        Decoded d = Decode(Sun(), Encode(Sun(), colour.Request()));
        ASSERT_TRUE(d.ok()) << w;
        EXPECT_TRUE(d.info.color);
        EXPECT_TRUE(SamePixels(d.picture, colour)) << w;

        const Picture gray = Pattern(w, 4, 1);
        d = Decode(Sun(), Encode(Sun(), gray.Request()));
        ASSERT_TRUE(d.ok()) << w;
        EXPECT_FALSE(d.info.color);
        EXPECT_TRUE(SamePixels(d.picture, AsColor(gray))) << w;
    }
}

TEST(SunRasterReader, ThirtyTwoBitPixelsInBothByteOrders) {
    // Two pixels: pad, then blue-green-red (standard) or red-green-blue (RGB type).
    for (uint32_t type : {0u, 1u, 3u}) {
        auto f = Header(2, 1, 32, 8, type, 0, 0);
        const uint8_t px[] = {0xEE, 10, 20, 30, 0xEE, 40, 50, 60};
        f.insert(f.end(), px, px + 8);
        const Decoded d = Decode(Sun(), f);
        ASSERT_TRUE(d.ok()) << type;
        EXPECT_TRUE(d.info.color);
        const uint8_t *row = d.picture.Row(0);
        if (type == 3) {
            EXPECT_EQ(std::vector<uint8_t>(row, row + 6),
                      (std::vector<uint8_t>{30, 20, 10, 60, 50, 40}));
        } else {
            EXPECT_EQ(std::vector<uint8_t>(row, row + 6),
                      (std::vector<uint8_t>{10, 20, 30, 40, 50, 60}));
        }
    }
}

TEST(SunRasterReader, OldFilesWithoutLengthAndBilevelWithAndWithoutMap) {
    // Depth 1, 10 pixels: 2 bytes a row (16-bit padding); no map, so set bits are black.
    auto f = Header(10, 2, 1, 0, 0, 0, 0);
    const uint8_t rows[] = {0xA0, 0x40, 0x00, 0xC0};
    f.insert(f.end(), rows, rows + 4);
    Decoded d = Decode(Sun(), f);
    ASSERT_TRUE(d.ok());
    EXPECT_FALSE(d.info.color);
    const int expect0[] = {0, 255, 0, 255, 255, 255, 255, 255, 255, 0};
    for (int x = 0; x < 10; ++x) {
        EXPECT_EQ(d.picture.At(x, 0, 1), expect0[x]) << x;
    }
    EXPECT_EQ(d.picture.At(8, 1, 0), 0);
    EXPECT_EQ(d.picture.At(7, 1, 0), 255);

    // With a two-entry map: 0 -> (r 1, g 2, b 3), 1 -> (r 4, g 5, b 6).
    auto m = Header(10, 2, 1, 4, 1, 1, 6);
    const uint8_t map[] = {1, 4, 2, 5, 3, 6};
    m.insert(m.end(), map, map + 6);
    m.insert(m.end(), rows, rows + 4);
    d = Decode(Sun(), m);
    ASSERT_TRUE(d.ok());
    EXPECT_TRUE(d.info.color);
    EXPECT_EQ(d.picture.At(0, 0, 0), 6);
    EXPECT_EQ(d.picture.At(0, 0, 2), 4);
    EXPECT_EQ(d.picture.At(1, 0, 0), 3);
    EXPECT_EQ(d.picture.At(1, 0, 2), 1);
}

TEST(SunRasterReader, RunLengthRunsCrossRowsAndStopAtThePictureEnd) {
    // 3 x 2 gray, rows padded to 4 bytes: a run of 7 bytes of 9 crosses the first row, then an
    // escaped 0x80 literal; the final run is longer than what is left and is cut off.
    auto f = Header(3, 2, 8, 0, 2, 0, 0);
    const uint8_t coded[] = {0x80, 6, 9, 0x80, 0, 0x80, 200};
    f.insert(f.end(), coded, coded + sizeof coded);
    Decoded d = Decode(Sun(), f);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d.picture.At(0, 0, 0), 9);
    EXPECT_EQ(d.picture.At(2, 0, 0), 9);
    EXPECT_EQ(d.picture.At(2, 1, 0), 9);
    // Row 1: bytes 4..7 of the stream: 9, 9, 9, 0x80 -> pixels 9, 9, 9.
    auto g = Header(3, 1, 8, 0, 2, 0, 0);
    const uint8_t over[] = {0x80, 255, 7};  // 256 bytes for a 4-byte picture
    g.insert(g.end(), over, over + sizeof over);
    d = Decode(Sun(), g);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d.picture.At(1, 0, 2), 7);

    auto t = Header(3, 2, 8, 0, 2, 0, 0);
    const uint8_t short_run[] = {0x80, 2, 9};
    t.insert(t.end(), short_run, short_run + sizeof short_run);
    EXPECT_EQ(Decode(Sun(), t).data, CodecStatus::kTruncated);
}

TEST(SunRasterReader, RefusesUnsupportedAndOversizedHeaders) {
    EXPECT_EQ(Decode(Sun(), Header(4, 4, 4, 0, 1, 0, 0)).header, CodecStatus::kUnsupported);
    EXPECT_EQ(Decode(Sun(), Header(4, 4, 8, 0, 4, 0, 0)).header, CodecStatus::kUnsupported);
    EXPECT_EQ(Decode(Sun(), Header(4, 4, 8, 0, 1, 2, 0)).header, CodecStatus::kUnsupported);
    EXPECT_EQ(Decode(Sun(), Header(0, 4, 8, 0, 1, 0, 0)).header, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode(Sun(), Header(4, 0, 8, 0, 1, 0, 0)).header, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode(Sun(), Header(0xFFFFFFFF, 0xFFFFFFFF, 32, 0, 1, 0, 0)).header,
              CodecStatus::kTooLarge);
    EXPECT_EQ(Decode(Sun(), Header(20000, 20000, 8, 0, 1, 0, 0)).header, CodecStatus::kTooLarge);
    // A colour map longer than the depth allows, or not a multiple of 3.
    auto big = Header(4, 4, 1, 0, 1, 1, 9);
    big.resize(big.size() + 9 + 8);
    EXPECT_EQ(Decode(Sun(), big).header, CodecStatus::kCorrupt);
    auto odd = Header(4, 4, 8, 0, 1, 1, 10);
    odd.resize(odd.size() + 10 + 16);
    EXPECT_EQ(Decode(Sun(), odd).header, CodecStatus::kCorrupt);
}

TEST(SunRasterReader, TruncatedFilesFailAtEveryLength) {
    const auto plain = Encode(Sun(), Pattern(9, 7, 3).Request());
    for (std::size_t n = 0; n < plain.size(); ++n) {
        const Decoded d = Decode(Sun(), std::vector<uint8_t>(plain.begin(), plain.begin() + n));
        EXPECT_FALSE(d.ok()) << n;
        if (n >= 4) {
            EXPECT_TRUE(d.header == CodecStatus::kTruncated || d.data == CodecStatus::kTruncated)
                << n;
        }
    }
}

TEST(SunRasterReader, CorruptedBytesNeverCrash) {
    const auto base = Encode(Sun(), Pattern(6, 5, 3).Request());
    uint32_t state = 12345;
    for (int round = 0; round < 2000; ++round) {
        auto f = base;
        for (int k = 0; k < 3; ++k) {
            state = state * 1103515245 + 12345;
            f[(state >> 8) % 32] = static_cast<uint8_t>(state >> 20);
        }
        (void)Decode(Sun(), f);
    }
}

// netpbm and ImageMagick read what we write.
TEST(SunRasterInterop, ToolsReadOurFiles) {
    if (!HaveTool("rasttopnm")) {
        GTEST_SKIP() << "netpbm not installed";
    }
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (int32_t channels : {1, 3}) {
        for (int32_t w : {1, 5, 8, 33}) {
            const Picture p = Pattern(w, 6, channels);
            WriteFile((dir / "a.ras"), Encode(Sun(), p.Request()));
            ASSERT_TRUE(Shell("rasttopnm " + (dir / "a.ras") + " > " + (dir / "a.pnm")));
            Picture back = ParseNetpbm(ReadFile((dir / "a.pnm")), true);
            EXPECT_TRUE(SamePixels(back, p)) << channels << " " << w;

            ASSERT_TRUE(Shell(ImageMagick() + " " + (dir / "a.ras") + " -depth 8 " +
                              (channels == 1 ? "pgm:" : "ppm:") + (dir / "b.pnm")));
            back = ParseNetpbm(ReadFile((dir / "b.pnm")), true);
            EXPECT_TRUE(SamePixels(back, p)) << "ImageMagick " << channels << " " << w;
        }
    }
}

// We read what netpbm writes: 24-bit, colour-mapped, gray and bilevel, plain and run-length coded.
TEST(SunRasterInterop, WeReadPnmtorastFiles) {
    if (!HaveTool("pnmtorast")) {
        GTEST_SKIP() << "netpbm not installed";
    }
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    Picture few(13, 9, 3);  // few colours: pnmtorast writes a colour map
    for (int32_t y = 0; y < 9; ++y) {
        for (int32_t x = 0; x < 13; ++x) {
            const uint8_t v = static_cast<uint8_t>(((x / 3 + y / 2) % 4) * 60);
            few.At(x, y, 0) = v;
            few.At(x, y, 1) = static_cast<uint8_t>(255 - v);
            few.At(x, y, 2) = static_cast<uint8_t>(v / 2);
        }
    }
    Picture flat(40, 11, 3);  // long runs for the run-length coder
    for (int32_t y = 0; y < 11; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            flat.At(x, y, 0) = static_cast<uint8_t>(x < 20 ? 0x80 : 3);
            flat.At(x, y, 1) = static_cast<uint8_t>(y * 20);
            flat.At(x, y, 2) = static_cast<uint8_t>(x * 5);
        }
    }
    const Picture cases[] = {Pattern(17, 7, 3), few, flat, Pattern(11, 5, 1)};
    for (const Picture &p : cases) {
        WriteFile((dir / "in.pnm"), ToNetpbm(p));
        const Picture want = p.channels == 1 ? AsColor(p) : p;
        for (const char *flag : {"-standard", "-rle"}) {
            ASSERT_TRUE(Shell(std::string("pnmtorast ") + flag + " " + (dir / "in.pnm") + " > " +
                              (dir / "x.ras")));
            const Decoded d = Decode(Sun(), ReadFile((dir / "x.ras")));
            ASSERT_TRUE(d.ok()) << flag << " " << p.width;
            EXPECT_EQ(d.info.color, p.channels == 3) << flag << " " << p.width;
            EXPECT_TRUE(SamePixels(d.picture, want)) << flag << " " << p.width;
        }
    }
    // Bilevel, a whole number of bytes wide (netpbm 11.01 drops the bits of a partial last byte).
    const std::vector<uint8_t> pbm = {'P', '4',  '\n', '1',  '6',  ' ',
                                      '2', '\n', 0xA0, 0xF1, 0x0F, 0x3C};
    WriteFile((dir / "b.pbm"), pbm);
    for (const char *flag : {"-standard", "-rle"}) {
        ASSERT_TRUE(Shell(std::string("pnmtorast ") + flag + " " + (dir / "b.pbm") + " > " +
                          (dir / "b.ras")));
        const Decoded d = Decode(Sun(), ReadFile((dir / "b.ras")));
        ASSERT_TRUE(d.ok()) << flag;
        EXPECT_TRUE(SamePixels(d.picture, ParseNetpbm(pbm))) << flag;
    }
}

}  // namespace
}  // namespace zav
