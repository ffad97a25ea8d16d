// Interoperability with Debian's netpbm and ImageMagick: they read what we write back to the same
// pixels, and we load what they write with the pixels they meant.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"
#include "zavimage/zavimage.h"

namespace {

using zavtest::HaveTool;
using zavtest::ImageMagick;
using zavtest::Picture;
using zavtest::Quote;
using zavtest::RampPattern;
using zavtest::ReadFile;
using zavtest::Shell;
using zavtest::TempDir;
using zavtest::WriteFile;

class Interop : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *tool : {"bmptopnm", "ppmtobmp", "pnmtopnm", "pamfile", "pamdepth",
                                 "ppmtopgm", "pgmtopbm", "ppmtoppm", "pnmtoplainpnm"}) {
            if (!HaveTool(tool)) {
                GTEST_SKIP() << tool << " is missing (netpbm)";
            }
        }
        m_obj = ZAVCreateObject();
        ASSERT_NE(m_obj, nullptr);
    }
    void TearDown() override { ZAVDestroyObject(m_obj); }

    std::string Path(const std::string &name) const { return m_dir / name; }

    // Runs a netpbm pipeline whose output is a PNM file and parses it (as BGR).
    Picture ToolOutput(const std::string &command) {
        const std::string out = Path("tool-output.pnm");
        EXPECT_TRUE(Shell(command + " > " + Quote(out))) << command;
        const Picture p = zavtest::ParseNetpbm(ReadFile(out));
        EXPECT_GT(p.width, 0) << command;
        return p;
    }

    // Loads a file and checks every pixel against `expected` (BGR).
    void ExpectLoads(const std::string &path, const Picture &expected, const std::string &what) {
        ZAVImageStruct r{};
        ASSERT_EQ(ZAVLoadImageUtf8(m_obj, path.c_str(), &r), 0)
            << what << ": " << ZAVFileStatusText(ZAVGetFileStatus(m_obj));
        ASSERT_EQ(r.width, expected.width) << what;
        ASSERT_EQ(r.height, expected.height) << what;
        const std::size_t stride = (static_cast<std::size_t>(r.width) * 3 + 3) & ~3u;
        for (int32_t y = 0; y < r.height; ++y) {
            EXPECT_EQ(0, std::memcmp(r.data + y * stride, expected.Row(y), r.width * 3u))
                << what << " row " << y;
        }
        ZAVImageStruct *p = &r;
        ZAVReleaseImage(m_obj, &p);
    }

    void ExpectSamePixels(const Picture &a, const Picture &b, const std::string &what) {
        ASSERT_EQ(a.width, b.width) << what;
        ASSERT_EQ(a.height, b.height) << what;
        for (int32_t y = 0; y < a.height; ++y) {
            EXPECT_EQ(0, std::memcmp(a.Row(y), b.Row(y), a.width * 3u)) << what << " row " << y;
        }
    }

    int32_t Save(const std::string &path, const Picture &p) {
        return ZAVSaveImageUtf8(m_obj, path.c_str(), p.bytes.data(), p.width, p.height, 8,
                                p.channels);
    }

    ZAVImageObject *m_obj = nullptr;
    TempDir m_dir;
};

TEST_F(Interop, NetpbmReadsOurBitmapsBackToTheSamePixels) {
    for (int channels : {1, 3}) {
        const Picture p = RampPattern(13, 7, channels);
        const std::string bmp = Path("ours" + std::to_string(channels) + ".bmp");
        ASSERT_EQ(Save(bmp, p), 0);
        ExpectSamePixels(ToolOutput("bmptopnm " + Quote(bmp)), zavtest::AsColor(p),
                         "bmptopnm, channels " + std::to_string(channels));
    }
}

TEST_F(Interop, NetpbmReadsOurPortableImagesBackToTheSamePixels) {
    for (int channels : {1, 3}) {
        const Picture p = RampPattern(13, 7, channels);
        const std::string name = Path(channels == 3 ? "ours.ppm" : "ours.pgm");
        ASSERT_EQ(Save(name, p), 0);
        const std::string info = Path("pamfile.txt");
        ASSERT_TRUE(Shell("pamfile " + Quote(name) + " > " + Quote(info)));
        const std::vector<uint8_t> text = ReadFile(info);
        const std::string described(text.begin(), text.end());
        EXPECT_NE(described.find(channels == 3 ? "PPM plain, 13 by 7  maxval 255"
                                               : "PGM plain, 13 by 7  maxval 255"),
                  std::string::npos)
            << described;
        ExpectSamePixels(ToolOutput("pnmtopnm " + Quote(name)), zavtest::AsColor(p),
                         "pnmtopnm, channels " + std::to_string(channels));
    }
}

TEST_F(Interop, WeLoadNetpbmBitmapsOfEveryDepthAndHeader) {
    const struct {
        int bits;
        int colors;
    } depths[] = {{1, 2}, {4, 16}, {8, 200}, {24, 100000}};
    for (const auto &d : depths) {
        // Odd sizes: rows of 1 and 4 bits end inside a byte and need padding.
        const Picture p =
            d.colors > 256 ? RampPattern(19, 5, 3) : zavtest::PalettePattern(19, 5, d.colors);
        const std::string ppm = Path("source.ppm");
        ASSERT_TRUE(WriteFile(ppm, zavtest::ToNetpbm(p)));
        for (const char *header : {"-windows", "-os2"}) {
            const std::string bmp = Path("netpbm.bmp");
            const std::string what = "ppmtobmp -bpp " + std::to_string(d.bits) + " " + header;
            ASSERT_TRUE(Shell("ppmtobmp -bpp " + std::to_string(d.bits) + " " + header + " " +
                              Quote(ppm) + " > " + Quote(bmp)))
                << what;
            const std::vector<uint8_t> bytes = ReadFile(bmp);
            ASSERT_GT(bytes.size(), 18u);
            EXPECT_EQ(bytes[14], std::string(header) == "-os2" ? 12 : 40) << what;
            ExpectLoads(bmp, p, what);
        }
    }
}

TEST_F(Interop, WeLoadImageMagickRunLengthBitmaps) {
    const std::string convert = ImageMagick();
    if (!HaveTool(convert)) {
        GTEST_SKIP() << "ImageMagick is missing";
    }
    for (int colors : {16, 180}) {
        const Picture p = zavtest::PalettePattern(21, 9, colors);
        const std::string ppm = Path("source.ppm");
        ASSERT_TRUE(WriteFile(ppm, zavtest::ToNetpbm(p)));
        for (const char *kind : {"BMP3:", "BMP:"}) {
            const std::string bmp = Path("rle.bmp");
            const std::string what =
                std::string(kind) + " with " + std::to_string(colors) + " colours";
            ASSERT_TRUE(Shell(convert + " " + Quote(ppm) + " -type Palette -compress RLE " + kind +
                              Quote(bmp)))
                << what;
            const std::vector<uint8_t> bytes = ReadFile(bmp);
            ASSERT_GT(bytes.size(), 34u);
            EXPECT_EQ(bytes[30], 1) << what << ": not run-length coded";
            ExpectLoads(bmp, p, what);
        }
    }
}

TEST_F(Interop, WeLoadNetpbmPortableImagesPlainAndRaw) {
    const Picture p = RampPattern(17, 6, 3);
    const std::string ppm = Path("raw.ppm");
    ASSERT_TRUE(WriteFile(ppm, zavtest::ToNetpbm(p)));
    ExpectLoads(ppm, p, "raw pixmap");

    const std::string plainPpm = Path("plain.ppm");
    ASSERT_TRUE(Shell("pnmtoplainpnm " + Quote(ppm) + " > " + Quote(plainPpm)));
    ExpectLoads(plainPpm, p, "plain pixmap");

    const std::string pgm = Path("raw.pgm");
    ASSERT_TRUE(Shell("ppmtopgm " + Quote(ppm) + " > " + Quote(pgm)));
    const Picture gray = ToolOutput("cat " + Quote(pgm));
    ExpectLoads(pgm, gray, "raw graymap");
    const std::string plainPgm = Path("plain.pgm");
    ASSERT_TRUE(Shell("pnmtoplainpnm " + Quote(pgm) + " > " + Quote(plainPgm)));
    ExpectLoads(plainPgm, gray, "plain graymap");

    const std::string pbm = Path("raw.pbm");
    ASSERT_TRUE(Shell("pgmtopbm -threshold " + Quote(pgm) + " > " + Quote(pbm)));
    const Picture bits = ToolOutput("ppmtoppm < " + Quote(pbm));
    ExpectLoads(pbm, bits, "raw bitmap");
    const std::string plainPbm = Path("plain.pbm");
    ASSERT_TRUE(Shell("pnmtoplainpnm " + Quote(pbm) + " > " + Quote(plainPbm)));
    ExpectLoads(plainPbm, bits, "plain bitmap");
}

TEST_F(Interop, SamplesOfOtherMaximumsAreScaledAsNetpbmScalesThem) {
    const Picture p = RampPattern(16, 16, 3);
    const std::string ppm = Path("full.ppm");
    ASSERT_TRUE(WriteFile(ppm, zavtest::ToNetpbm(p)));
    for (int maxval : {1, 3, 7, 15, 100, 254}) {
        const std::string reduced = Path("reduced.ppm");
        const std::string plain = Path("reduced-plain.ppm");
        ASSERT_TRUE(Shell("pamdepth " + std::to_string(maxval) + " " + Quote(ppm) + " > " +
                          Quote(reduced)));
        ASSERT_TRUE(Shell("pnmtoplainpnm " + Quote(reduced) + " > " + Quote(plain)));
        // netpbm's own way back to 255 is the expected picture.
        const Picture expected = ToolOutput("pamdepth 255 " + Quote(reduced));
        ExpectLoads(reduced, expected, "raw, maxval " + std::to_string(maxval));
        ExpectLoads(plain, expected, "plain, maxval " + std::to_string(maxval));
    }
}

}  // namespace
