// The TIFF writer's exact directory and strips, the reader's variants, and both against
// libtiff-tools, netpbm and ImageMagick.
#include <sstream>

#include <gtest/gtest.h>

#include "imaging/codecs/tiff.h"
#include "imaging/files/format_table.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/netpbm.h"

namespace zav {
namespace {

using namespace zavtest;

const ImageFormat &Tiff() {
    return TiffFormat();
}

struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
};

// The first directory of a little-endian file; the value field is read as the type says when the
// value is in place, as an offset otherwise.
std::vector<Entry> Directory(const std::vector<uint8_t> &f) {
    std::vector<Entry> out;
    const uint32_t dir = LittleEndian32At(f, 4);
    const uint32_t n = LittleEndian16At(f, dir);
    for (uint32_t i = 0; i < n; ++i) {
        const std::size_t e = dir + 2 + 12 * i;
        Entry entry{static_cast<uint16_t>(LittleEndian16At(f, e)),
                    static_cast<uint16_t>(LittleEndian16At(f, e + 2)), LittleEndian32At(f, e + 4),
                    0};
        entry.value = entry.type == 3 && entry.count == 1 ? LittleEndian16At(f, e + 8)
                                                          : LittleEndian32At(f, e + 8);
        out.push_back(entry);
    }
    EXPECT_EQ(LittleEndian32At(f, dir + 2 + 12 * n), 0u) << "one directory";
    return out;
}

Entry Find(const std::vector<Entry> &dir, uint16_t tag) {
    for (const Entry &e : dir) {
        if (e.tag == tag) {
            return e;
        }
    }
    ADD_FAILURE() << "tag " << tag << " missing";
    return {};
}

TEST(TiffFilter, DescriptionAndSignature) {
    EXPECT_EQ(Tiff().description, "TIFF Files (*.tiff;*.tif)");
    EXPECT_EQ(Tiff().signatureLength, 4u);
    const uint8_t intel[] = {0x49, 0x49, 0x2A, 0x00};
    const uint8_t motorola[] = {0x4D, 0x4D, 0x00, 0x2A};
    const uint8_t bigtiff[] = {0x49, 0x49, 0x2B, 0x00};
    const uint8_t mixed[] = {0x49, 0x49, 0x00, 0x2A};
    EXPECT_TRUE(Tiff().matches(intel, 4));
    EXPECT_TRUE(Tiff().matches(motorola, 4));
    EXPECT_TRUE(Tiff().matches(bigtiff, 4));  // BigTIFF, read through libtiff
    EXPECT_FALSE(Tiff().matches(mixed, 4));
}

TEST(TiffWriter, DirectoryHoldsExactlyTheNineTagsInOrder) {
    for (int channels : {1, 3}) {
        const Picture p = Pattern(100, 70, channels);
        const auto f = Encode(Tiff(), p.Request());
        ASSERT_FALSE(f.empty());
        EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 4),
                  (std::vector<uint8_t>{0x49, 0x49, 0x2A, 0x00}));
        const auto dir = Directory(f);
        std::vector<uint16_t> tags;
        for (const Entry &e : dir) {
            tags.push_back(e.tag);
        }
        EXPECT_EQ(tags, (std::vector<uint16_t>{256, 257, 258, 259, 262, 273, 277, 278, 279}));
        EXPECT_EQ(Find(dir, 256).value, 100u);
        EXPECT_EQ(Find(dir, 257).value, 70u);
        EXPECT_EQ(Find(dir, 259).value, 1u);
        EXPECT_EQ(Find(dir, 262).value, channels == 3 ? 2u : 1u);
        EXPECT_EQ(Find(dir, 277).value, static_cast<uint32_t>(channels));
        const Entry bits = Find(dir, 258);
        EXPECT_EQ(bits.count, static_cast<uint32_t>(channels));
        if (channels == 3) {
            EXPECT_EQ(bits.type, 3);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(LittleEndian16At(f, bits.value + 2 * i), 8u);
            }
        } else {
            EXPECT_EQ(bits.value, 8u);
        }
        EXPECT_EQ(Find(dir, 273).type, 4);
        EXPECT_EQ(Find(dir, 279).type, 4);
    }
}

TEST(TiffWriter, StripsHoldWholeRowsWithinEightKilobytes) {
    struct Case {
        int32_t width, height, channels;
        uint32_t rowsPerStrip;
    } cases[] = {{1, 5, 1, 5},    {100, 70, 3, 27},  {100, 20, 3, 20}, {2730, 3, 3, 1},
                 {2731, 3, 3, 1}, {4096, 5, 1, 2},   {4097, 5, 1, 1},  {8192, 3, 1, 1},
                 {3000, 4, 3, 1}, {64, 300, 1, 128}, {33, 1000, 3, 82}};
    for (const Case &c : cases) {
        const Picture p = Pattern(c.width, c.height, c.channels);
        const auto f = Encode(Tiff(), p.Request());
        const auto dir = Directory(f);
        const uint32_t row = static_cast<uint32_t>(c.width * c.channels);
        EXPECT_EQ(TiffRowsPerStrip(row, c.height), c.rowsPerStrip) << c.width;
        EXPECT_EQ(Find(dir, 278).value, c.rowsPerStrip) << c.width;
        const uint32_t strips = (c.height + c.rowsPerStrip - 1) / c.rowsPerStrip;
        const Entry offsets = Find(dir, 273);
        const Entry counts = Find(dir, 279);
        ASSERT_EQ(offsets.count, strips);
        ASSERT_EQ(counts.count, strips);
        // Strips follow each other without gaps; the last one holds what is left.
        for (uint32_t i = 0; i < strips; ++i) {
            const uint32_t offset =
                strips == 1 ? offsets.value : LittleEndian32At(f, offsets.value + 4 * i);
            const uint32_t count =
                strips == 1 ? counts.value : LittleEndian32At(f, counts.value + 4 * i);
            const uint32_t rows = std::min<uint32_t>(c.rowsPerStrip, c.height - i * c.rowsPerStrip);
            EXPECT_EQ(count, rows * row) << c.width << " strip " << i;
            EXPECT_LE(count, std::max<uint32_t>(8192, row));
            if (i == 0) {
                EXPECT_EQ(offset % 2, 0u);
            }
            if (i + 1 == strips) {
                EXPECT_EQ(offset + count, f.size());
            }
            // The first pixel of the strip, red first.
            const int32_t y = static_cast<int32_t>(i * c.rowsPerStrip);
            EXPECT_EQ(f[offset], p.At(0, y, c.channels == 3 ? 2 : 0)) << c.width;
        }
    }
}

TEST(TiffWriter, LeavesTheCallersPixelsAndRefusesBadRequests) {
    const Picture p = Pattern(31, 9, 3);
    const std::vector<uint8_t> before = p.bytes;
    EXPECT_FALSE(Encode(Tiff(), p.Request()).empty());
    EXPECT_EQ(p.bytes, before);
    WriteRequest r = p.Request();
    r.height = 0;
    EXPECT_TRUE(Encode(Tiff(), r).empty());
    r = p.Request();
    r.step = 10;
    EXPECT_TRUE(Encode(Tiff(), r).empty());
}

TEST(TiffCodec, RoundTripsGrayAndColour) {
    for (int channels : {1, 3}) {
        for (int32_t w : {1, 3, 50, 2731}) {
            const Picture p = Pattern(w, 7, channels);
            const Decoded d = Decode(Tiff(), Encode(Tiff(), p.Request()));
            ASSERT_TRUE(d.ok()) << w;
            EXPECT_EQ(d.info.color, channels == 3);
            EXPECT_TRUE(SamePixels(d.picture, channels == 3 ? p : AsColor(p))) << w;
        }
    }
}

TEST(TiffInterop, ToolsReadOurFiles) {
    if (!HaveTool("tiffdump") || !HaveTool("tifftopnm")) {
        GTEST_SKIP() << "libtiff-tools or netpbm not installed";
    }
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (int channels : {1, 3}) {
        const Picture p = Pattern(123, 77, channels);
        WriteFile((dir / "a.tif"), Encode(Tiff(), p.Request()));
        // tiffdump lists exactly nine tags.
        ASSERT_TRUE(Shell("tiffdump " + (dir / "a.tif") + " > " + (dir / "dump.txt")));
        const auto dump = ReadFile((dir / "dump.txt"));
        std::istringstream lines(std::string(dump.begin(), dump.end()));
        std::string line;
        int tags = 0;
        while (std::getline(lines, line)) {
            tags += line.find(") ") != std::string::npos && line.find('<') != std::string::npos;
        }
        EXPECT_EQ(tags, 9) << std::string(dump.begin(), dump.end());

        ASSERT_TRUE(Shell("tifftopnm " + (dir / "a.tif") + " > " + (dir / "a.pnm")));
        EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile((dir / "a.pnm")), true), p)) << channels;
        ASSERT_TRUE(Shell(ImageMagick() + " " + (dir / "a.tif") + " -depth 8 " +
                          (channels == 1 ? "pgm:" : "ppm:") + (dir / "b.pnm")));
        EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile((dir / "b.pnm")), true), p)) << channels;
    }
}

// We read what netpbm, tiffcp and ImageMagick write: the variants of many writers.
TEST(TiffInterop, WeReadOtherWritersFiles) {
    if (!HaveTool("pnmtotiff") || !HaveTool("tiffcp")) {
        GTEST_SKIP() << "netpbm or libtiff-tools not installed";
    }
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const Picture colour = Pattern(45, 31, 3);
    const Picture gray = Pattern(45, 31, 1);
    Picture few(37, 21, 3);  // few colours: pnmtotiff writes a palette
    for (int32_t y = 0; y < 21; ++y) {
        for (int32_t x = 0; x < 37; ++x) {
            const int k = (x / 4 + y / 3) % 5;
            few.At(x, y, 0) = static_cast<uint8_t>(k * 50);
            few.At(x, y, 1) = static_cast<uint8_t>(255 - k * 40);
            few.At(x, y, 2) = static_cast<uint8_t>(k * 13);
        }
    }
    WriteFile((dir / "c.ppm"), ToNetpbm(colour));
    WriteFile((dir / "g.pgm"), ToNetpbm(gray));
    WriteFile((dir / "f.ppm"), ToNetpbm(few));
    const std::vector<uint8_t> pbm = {'P',  '4',  '\n', '1',  '1',  ' ',  '3',
                                      '\n', 0xA0, 0x20, 0xFF, 0xE0, 0x01, 0x40};
    WriteFile((dir / "b.pbm"), pbm);
    const Picture bilevel = ParseNetpbm(pbm);
    const Picture colour_bgr = colour, gray_bgr = AsColor(gray), few_bgr = few;

    struct Case {
        std::string command;  // writes x.tif
        const Picture *want;
        bool color;
    };
    const std::string im = ImageMagick() + " ";
    const std::string c = (dir / "c.ppm"), g = (dir / "g.pgm"), f = (dir / "f.ppm"),
                      b = (dir / "b.pbm"), x = (dir / "x.tif"), t = (dir / "t.tif");
    const Case cases[] = {
        {"pnmtotiff -truecolor " + c + " > " + x, &colour_bgr, true},
        {"pnmtotiff -truecolor -packbits " + c + " > " + x, &colour_bgr, true},
        {"pnmtotiff -truecolor -lzw -predictor 2 " + c + " > " + x, &colour_bgr, true},
        {"pnmtotiff -truecolor -rowsperstrip 1 -flate " + c + " > " + x, &colour_bgr, true},
        // Strips of several rows, the last one shorter.
        {"pnmtotiff -truecolor -rowsperstrip 7 -lzw " + c + " > " + x, &colour_bgr, true},
        {"pnmtotiff -rowsperstrip 5 -packbits " + g + " > " + x, &gray_bgr, false},
        {"pnmtotiff -rowsperstrip 6 -indexbits 4 " + f + " > " + x, &few_bgr, true},
        {"pnmtotiff " + g + " > " + x, &gray_bgr, false},
        {"pnmtotiff -packbits " + g + " > " + x, &gray_bgr, false},
        {"pnmtotiff " + f + " > " + x, &few_bgr, true},
        {"pnmtotiff -packbits -indexbits 4 " + f + " > " + x, &few_bgr, true},
        {"pnmtotiff " + b + " > " + x, &bilevel, false},
        {"pnmtotiff -miniswhite " + b + " > " + x, &bilevel, false},
        {"pnmtotiff " + b + " > " + t + " && tiffcp -c packbits " + t + " " + x, &bilevel, false},
        {"pnmtotiff " + b + " > " + t + " && tiffcp -c g3 " + t + " " + x, &bilevel, false},
        {"pnmtotiff " + b + " > " + t + " && tiffcp -c g3:2d " + t + " " + x, &bilevel, false},
        {"pnmtotiff " + b + " > " + t + " && tiffcp -c g4 " + t + " " + x, &bilevel, false},
        {"pnmtotiff -miniswhite " + b + " > " + t + " && tiffcp -c g3 " + t + " " + x, &bilevel,
         false},
        {"pnmtotiff -truecolor " + c + " > " + t + " && tiffcp -t -w 16 -l 16 " + t + " " + x,
         &colour_bgr, true},
        {"pnmtotiff -truecolor " + c + " > " + t + " && tiffcp -p separate " + t + " " + x,
         &colour_bgr, true},
        {"pnmtotiff -truecolor " + c + " > " + t + " && tiffcp -B " + t + " " + x, &colour_bgr,
         true},
        {im + c + " -compress none " + x, &colour_bgr, true},
        {im + c + " -depth 16 " + x, &colour_bgr, true},
        {im + g + " -depth 16 " + x, &gray_bgr, false},
        {im + c + " -alpha set -channel A -evaluate set 50% +channel " + x, &colour_bgr, true},
        {im + c + " -alpha set -channel A -evaluate set 50% +channel -depth 16 " + x, &colour_bgr,
         true},
        {im + c + " -interlace plane " + x, &colour_bgr, true},
        {im + c + " -endian MSB " + x, &colour_bgr, true},
        {im + f + " -type Palette " + x, &few_bgr, true},
        {im + c + " -define tiff:tile-geometry=16x16 -compress lzw " + x, &colour_bgr, true},
        {im + g + " -depth 4 " + x, nullptr, false},
    };
    for (const Case &k : cases) {
        ASSERT_TRUE(Shell(k.command)) << k.command;
        const Decoded d = Decode(Tiff(), ReadFile(x));
        ASSERT_TRUE(d.ok()) << k.command;
        EXPECT_EQ(d.info.color, k.color) << k.command;
        if (k.want != nullptr) {
            EXPECT_TRUE(SamePixels(d.picture, *k.want)) << k.command;
        } else {
            // 4-bit gray: each sample is the 4-bit level scaled back to 0..255.
            ASSERT_TRUE(Shell("tifftopnm " + x + " | pamdepth 255 > " + (dir / "x.pnm")));
            EXPECT_TRUE(SamePixels(d.picture, ParseNetpbm(ReadFile((dir / "x.pnm"))))) << k.command;
        }
    }

    // Lossy JPEG compression inside TIFF, stored as subsampled YCbCr and as RGB: as ImageMagick
    // decodes it, give or take the rounding of the colour conversion.
    for (const char *mode : {"jpeg:90", "jpeg:r:90"}) {
        ASSERT_TRUE(Shell("pnmtotiff -truecolor " + c + " > " + t + " && tiffcp -c " + mode + " " +
                          t + " " + x + " && " + im + x + " -depth 8 ppm:" + (dir / "j.pnm")))
            << mode;
        const Decoded jpeg = Decode(Tiff(), ReadFile(x));
        ASSERT_TRUE(jpeg.ok()) << mode;
        EXPECT_LE(MaxDifference(jpeg.picture, ParseNetpbm(ReadFile((dir / "j.pnm")))), 2) << mode;
    }
}

TEST(TiffReader, PaletteWith16BitEntriesScalesLikeLibtiff) {
    if (!HaveTool("pnmtotiff")) {
        GTEST_SKIP() << "netpbm not installed";
    }
    // pnmtotiff writes 16-bit colour-map entries (v * 257); 8-bit levels come back unchanged.
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    Picture p(4, 1, 3);
    const uint8_t levels[4][3] = {{0, 0, 0}, {255, 255, 255}, {1, 2, 3}, {128, 64, 200}};
    for (int x = 0; x < 4; ++x) {
        for (int c = 0; c < 3; ++c) {
            p.At(x, 0, c) = levels[x][c];
        }
    }
    WriteFile((dir / "p.ppm"), ToNetpbm(p));
    ASSERT_TRUE(Shell("pnmtotiff " + (dir / "p.ppm") + " > " + (dir / "p.tif")));
    const Decoded d = Decode(Tiff(), ReadFile((dir / "p.tif")));
    ASSERT_TRUE(d.ok());
    EXPECT_TRUE(SamePixels(d.picture, p));
}

// A 16-bit colour map written as value x 256 (as many writers do) keeps its 8-bit values: the
// high byte is taken, as libtiff does, so white stays 255.
TEST(TiffReader, PaletteWithValueTimes256EntriesKeepsItsLevels) {
    const uint8_t levels[4][3] = {{0, 0, 0}, {255, 255, 255}, {1, 2, 3}, {128, 64, 200}};
    std::vector<uint8_t> f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put16 = [&f](uint32_t v) {
        f.push_back(static_cast<uint8_t>(v));
        f.push_back(static_cast<uint8_t>(v >> 8));
    };
    const auto put32 = [&](uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    const uint32_t entries = 10, ifd_end = 8 + 2 + entries * 12 + 4;
    const uint32_t pixels_at = ifd_end, map_at = ifd_end + 4;
    put16(entries);
    const uint32_t tags[entries][4] = {{256, 3, 1, 4},       {257, 3, 1, 1}, {258, 3, 1, 8},
                                       {259, 3, 1, 1},       {262, 3, 1, 3}, {273, 4, 1, pixels_at},
                                       {277, 3, 1, 1},       {278, 3, 1, 1}, {279, 4, 1, 4},
                                       {320, 3, 768, map_at}};
    for (const auto &t : tags) {
        put16(t[0]);
        put16(t[1]);
        put32(t[2]);
        put32(t[3]);
    }
    put32(0);
    for (uint8_t i = 0; i < 4; ++i) {
        f.push_back(i);
    }
    for (int c = 0; c < 3; ++c) {  // red, green, blue maps, 256 entries each
        for (int i = 0; i < 256; ++i) {
            put16(i < 4 ? levels[i][c] * 256u : 0u);
        }
    }
    const Decoded d = Decode(Tiff(), f);
    ASSERT_TRUE(d.ok());
    for (int x = 0; x < 4; ++x) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(d.picture.At(x, 0, 2 - c), levels[x][c]) << x << " " << c;  // BGR
        }
    }
}

TEST(TiffReader, TruncatedFilesFail) {
    for (int channels : {1, 3}) {
        const auto file = Encode(Tiff(), Pattern(40, 300, channels).Request());
        for (std::size_t n = 0; n < file.size(); n += (n < 400 ? 1 : 97)) {
            const Decoded d = Decode(Tiff(), std::vector<uint8_t>(file.begin(), file.begin() + n));
            EXPECT_FALSE(d.ok()) << n;
            if (n >= 4) {
                EXPECT_TRUE(d.header == CodecStatus::kTruncated ||
                            d.data == CodecStatus::kTruncated)
                    << n << " " << static_cast<int>(d.header) << " " << static_cast<int>(d.data);
            }
        }
        const Decoded last = Decode(Tiff(), std::vector<uint8_t>(file.begin(), file.end() - 1));
        EXPECT_EQ(last.data, CodecStatus::kTruncated);
    }
}

TEST(TiffReader, RefusesOversizedAndCorruptDirectories) {
    auto file = Encode(Tiff(), Pattern(8, 8, 3).Request());
    auto big = file;
    // ImageWidth and ImageLength as SHORTs: 65535 x 65535 exceeds the decode limit.
    for (std::size_t at : {std::size_t{8 + 2 + 8}, std::size_t{8 + 2 + 12 + 8}}) {
        big[at] = 0xFF;
        big[at + 1] = 0xFF;
    }
    EXPECT_EQ(Decode(Tiff(), big).header, CodecStatus::kTooLarge);

    uint32_t state = 7;
    const auto base = Encode(Tiff(), Pattern(13, 11, 3).Request());
    for (int round = 0; round < 3000; ++round) {
        auto f = base;
        for (int k = 0; k < 3; ++k) {
            state = state * 1103515245 + 12345;
            f[4 + (state >> 8) % 140] = static_cast<uint8_t>(state >> 20);
        }
        (void)Decode(Tiff(), f, 1 << 20);
    }
}

}  // namespace
}  // namespace zav
