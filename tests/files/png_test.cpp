// PNG files: every colour type and bit depth that netpbm and ImageMagick write loads with the
// pixels netpbm decodes (16-bit samples scaled as pamdepth scales them), the tools read our files
// back exactly, and damaged, short and oversized files fail with the right status.
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"
#include "zavimage/zavimage.h"

namespace {

using zavtest::Picture;
using zavtest::Quote;
using zavtest::ReadFile;
using zavtest::Shell;
using zavtest::WriteFile;

constexpr int32_t kWidth = 61;  // odd sizes, so that interlaced passes cover partial blocks
constexpr int32_t kHeight = 37;

// A raw netpbm file with 16-bit samples that exercise the rounding (P5 gray, P6 colour).
std::vector<uint8_t> Netpbm16(int channels) {
    const std::string head = std::string(channels == 1 ? "P5" : "P6") + "\n" +
                             std::to_string(kWidth) + " " + std::to_string(kHeight) + "\n65535\n";
    std::vector<uint8_t> file(head.begin(), head.end());
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth * channels; ++x) {
            const uint32_t v = (x * 4099u + y * 7919u + 128u * (x % 3)) & 0xFFFF;
            file.push_back(static_cast<uint8_t>(v >> 8));
            file.push_back(static_cast<uint8_t>(v));
        }
    }
    return file;
}

uint32_t Crc32(const uint8_t *p, std::size_t n) {
    uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

// Recomputes the CRC of the chunk whose length field starts at `at`.
void FixCrc(std::vector<uint8_t> *png, std::size_t at) {
    const uint32_t length = zavtest::BigEndian32At(*png, at);
    const uint32_t crc = Crc32(png->data() + at + 4, length + 4);
    for (int i = 0; i < 4; ++i) {
        (*png)[at + 8 + length + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
    }
}

// A PNG put together chunk by chunk, for files no tool writes.
struct PngBuilder {
    std::vector<uint8_t> bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

    void Add(const char *type, const std::vector<uint8_t> &data) {
        const std::size_t at = bytes.size();
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<uint8_t>(data.size() >> (24 - 8 * i)));
        }
        bytes.insert(bytes.end(), type, type + 4);
        bytes.insert(bytes.end(), data.begin(), data.end());
        bytes.resize(bytes.size() + 4);
        FixCrc(&bytes, at);
    }
    // The header of a picture of `colorType` (0 gray, 2 RGB, 4 gray and alpha, 6 RGBA).
    void Header(uint32_t width, uint32_t height, uint8_t colorType, uint8_t depth = 8,
                bool interlaced = false) {
        std::vector<uint8_t> ihdr(13, 0);
        for (int i = 0; i < 4; ++i) {
            ihdr[i] = static_cast<uint8_t>(width >> (24 - 8 * i));
            ihdr[4 + i] = static_cast<uint8_t>(height >> (24 - 8 * i));
        }
        ihdr[8] = depth;
        ihdr[9] = colorType;
        ihdr[12] = interlaced ? 1 : 0;
        Add("IHDR", ihdr);
    }
    // `stream` in IDAT chunks of at most `piece` bytes.
    void ImageData(const std::vector<uint8_t> &stream, std::size_t piece) {
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            const std::size_t n = std::min(piece, stream.size() - at);
            Add("IDAT", std::vector<uint8_t>(stream.begin() + at, stream.begin() + at + n));
        }
    }
};

std::vector<uint8_t> Deflate(const std::vector<uint8_t> &raw, int level = 6) {
    uLongf size = compressBound(raw.size());
    std::vector<uint8_t> out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), raw.size(), level), Z_OK);
    out.resize(size);
    return out;
}

// Rows of noise, each after its filter byte: row y has filter (first + y) % 5.
std::vector<uint8_t> FilteredRows(std::size_t rowBytes, int height, int first) {
    std::vector<uint8_t> raw;
    uint32_t seed = 2463534242u + static_cast<uint32_t>(rowBytes * 31 + first);
    for (int y = 0; y < height; ++y) {
        raw.push_back(static_cast<uint8_t>((first + y) % 5));
        for (std::size_t i = 0; i < rowBytes; ++i) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            raw.push_back(static_cast<uint8_t>(seed >> 24));
        }
    }
    return raw;
}

class Png : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *tool : {"pngtopnm", "pnmtopng", "pamdepth"}) {
            if (!zavtest::HaveTool(tool)) {
                GTEST_SKIP() << tool << " is missing (netpbm)";
            }
        }
        ASSERT_NE(m_obj, nullptr);
        ASSERT_TRUE(WriteFile(Path("rgb8.ppm"),
                              zavtest::ToNetpbm(zavtest::RampPattern(kWidth, kHeight, 3))));
        ASSERT_TRUE(WriteFile(Path("gray8.pgm"),
                              zavtest::ToNetpbm(zavtest::RampPattern(kWidth, kHeight, 1))));
        ASSERT_TRUE(WriteFile(Path("alpha.pgm"),
                              zavtest::ToNetpbm(zavtest::Pattern(kWidth, kHeight, 1, 7))));
        ASSERT_TRUE(WriteFile(Path("palette.ppm"),
                              zavtest::ToNetpbm(zavtest::PalettePattern(kWidth, kHeight, 12))));
        ASSERT_TRUE(WriteFile(Path("rgb16.ppm"), Netpbm16(3)));
        ASSERT_TRUE(WriteFile(Path("gray16.pgm"), Netpbm16(1)));
    }
    void TearDown() override { ZAVDestroyObject(m_obj); }

    std::string Path(const std::string &name) const { return m_dir / name; }

    // Expects netpbm and ImageMagick to decode the PNG file `png` to the pixels of `p`.
    void ExpectToolsRead(const std::vector<uint8_t> &png, const Picture &p,
                         const std::string &what) {
        const std::string path = Path("ours.png");
        ASSERT_TRUE(WriteFile(path, png));
        for (const std::string &decoder :
             {std::string("pngtopnm"), zavtest::ImageMagick() + " - ppm:-"}) {
            const std::string out = Path("back.pnm");
            ASSERT_TRUE(Shell(decoder + " < " + Quote(path) + " > " + Quote(out))) << decoder;
            EXPECT_TRUE(
                zavtest::SamePixels(zavtest::ParseNetpbm(ReadFile(out)), zavtest::AsColor(p)))
                << decoder << ", " << what;
        }
    }

    // Makes a PNG with `command` (output to standard output) and expects it to load with the
    // pixels netpbm decodes, brought to 8 bits by pamdepth.
    void ExpectLoadsAsNetpbmDecodes(const std::string &command, const std::string &what) {
        const std::string png = Path("made.png");
        const std::string oracle = Path("oracle.pnm");
        ASSERT_TRUE(Shell("cd " + Quote(m_dir.path()) + " && " + command + " > " + Quote(png)))
            << what << ": " << command;
        ASSERT_TRUE(Shell("pngtopnm " + Quote(png) + " | pamdepth 255 > " + Quote(oracle))) << what;
        const Picture expected = zavtest::ParseNetpbm(ReadFile(oracle));
        ASSERT_GT(expected.width, 0) << what;
        ZAVImageStruct r{};
        ASSERT_EQ(ZAVLoadImageUtf8(m_obj, png.c_str(), &r), 0)
            << what << ": " << ZAVFileStatusText(ZAVGetFileStatus(m_obj));
        ASSERT_EQ(r.width, expected.width) << what;
        ASSERT_EQ(r.height, expected.height) << what;
        const std::size_t stride = (static_cast<std::size_t>(r.width) * 3 + 3) & ~3u;
        int badRows = 0;
        for (int32_t y = 0; y < r.height; ++y) {
            badRows += std::memcmp(r.data + y * stride, expected.Row(y), r.width * 3u) != 0;
        }
        EXPECT_EQ(badRows, 0) << what;
        ZAVImageStruct *p = &r;
        ZAVReleaseImage(m_obj, &p);
    }

    // Our PNG of `p`, the status of loading `bytes` from memory.
    std::vector<uint8_t> Ours(const Picture &p) {
        uint8_t *bytes = nullptr;
        size_t size = 0;
        EXPECT_EQ(ZAVSaveImageMemory(m_obj, "png", p.bytes.data(), p.width, p.height, 8, p.channels,
                                     &bytes, &size),
                  0);
        std::vector<uint8_t> png(bytes, bytes + size);
        ZAVFreeMemory(bytes);
        return png;
    }
    int32_t LoadStatus(const std::vector<uint8_t> &bytes) {
        ZAVImageStruct r{};
        if (ZAVLoadImageMemory(m_obj, bytes.data(), bytes.size(), &r) == 0) {
            ZAVImageStruct *p = &r;
            ZAVReleaseImage(m_obj, &p);
        }
        return ZAVGetFileStatus(m_obj);
    }

    ZAVImageObject *m_obj = ZAVCreateObject();
    zavtest::TempDir m_dir;
};

TEST_F(Png, WeLoadEveryColourTypeAndDepthNetpbmWrites) {
    const struct {
        const char *command;
        const char *what;
    } made[] = {
        {"pamdepth 1 gray8.pgm | pnmtopng", "gray 1-bit"},
        {"pamdepth 3 gray8.pgm | pnmtopng -interlace", "gray 2-bit interlaced"},
        {"pamdepth 15 gray8.pgm | pnmtopng", "gray 4-bit"},
        {"pnmtopng gray8.pgm", "gray 8-bit"},
        {"pnmtopng gray16.pgm", "gray 16-bit"},
        {"pnmtopng -interlace gray16.pgm", "gray 16-bit interlaced"},
        {"pnmtopng -alpha alpha.pgm gray8.pgm", "gray and alpha 8-bit"},
        {"pnmtopng rgb8.ppm", "RGB 8-bit"},
        {"pnmtopng -interlace rgb8.ppm", "RGB 8-bit interlaced"},
        {"pnmtopng rgb16.ppm", "RGB 16-bit"},
        {"pnmtopng -interlace rgb16.ppm", "RGB 16-bit interlaced"},
        {"pnmtopng -alpha alpha.pgm rgb8.ppm", "RGBA 8-bit"},
        {"pamdepth 65535 alpha.pgm > a16.pgm && pnmtopng -alpha a16.pgm rgb16.ppm", "RGBA 16-bit"},
        {"pnmtopng palette.ppm", "palette"},
        {"pnmtopng -interlace -transparent =rgb:5a/ff/05 palette.ppm", "palette, tRNS, interlaced"},
    };
    for (const auto &m : made) {
        ExpectLoadsAsNetpbmDecodes(m.command, m.what);
    }
}

TEST_F(Png, WeLoadEveryColourTypeAndDepthImageMagickWrites) {
    const std::string im = zavtest::ImageMagick();
    if (!zavtest::HaveTool(im)) {
        GTEST_SKIP() << "ImageMagick is missing";
    }
    const struct {
        const char *options;
        const char *what;
    } made[] = {
        {"gray8.pgm -define png:color-type=0 -define png:bit-depth=1 PNG:-", "gray 1-bit"},
        {"gray8.pgm -define png:color-type=0 -define png:bit-depth=2 PNG:-", "gray 2-bit"},
        {"gray8.pgm -define png:color-type=0 -define png:bit-depth=4 -interlace PNG PNG:-",
         "gray 4-bit interlaced"},
        {"gray16.pgm -define png:color-type=0 -define png:bit-depth=16 PNG:-", "gray 16-bit"},
        {"gray8.pgm alpha.pgm -compose CopyOpacity -composite -define png:color-type=4 PNG:-",
         "gray and alpha"},
        {"palette.ppm PNG8:-", "palette"},
        {"palette.ppm -transparent '#5aff05' PNG8:-", "palette with tRNS"},
        {"rgb8.ppm PNG24:-", "RGB 8-bit"},
        {"rgb8.ppm alpha.pgm -compose CopyOpacity -composite PNG32:-", "RGBA 8-bit"},
        {"rgb16.ppm -interlace PNG PNG48:-", "RGB 16-bit interlaced"},
        {"rgb16.ppm alpha.pgm -compose CopyOpacity -composite PNG64:-", "RGBA 16-bit"},
    };
    for (const auto &m : made) {
        ExpectLoadsAsNetpbmDecodes(im + " " + m.options, m.what);
    }
}

// Every row filter after every other, on the first row too, for every pixel size of 8-bit
// samples, with the image data spread over chunks (one of them empty) and text after it.
TEST_F(Png, EveryRowFilterOnEveryPixelSizeLoadsAsNetpbmDecodes) {
    const struct {
        uint8_t colorType;
        std::size_t pixelBytes;
    } kinds[] = {{0, 1}, {4, 2}, {2, 3}, {6, 4}};
    constexpr int kRows = 11;
    for (const auto &kind : kinds) {
        for (uint32_t width : {1u, 2u, 61u}) {
            for (int first = 0; first < 5; ++first) {
                PngBuilder png;
                png.Header(width, kRows, kind.colorType);
                const std::vector<uint8_t> stream =
                    Deflate(FilteredRows(width * kind.pixelBytes, kRows, first));
                png.ImageData(std::vector<uint8_t>(stream.begin(), stream.begin() + 5), 5);
                png.Add("IDAT", {});
                png.ImageData(std::vector<uint8_t>(stream.begin() + 5, stream.end()), 97);
                png.Add("tEXt", {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 'h', 'i'});
                png.Add("IEND", {});
                ASSERT_TRUE(WriteFile(Path("crafted.png"), png.bytes));
                ExpectLoadsAsNetpbmDecodes(
                    "cat crafted.png", "colour type " + std::to_string(kind.colorType) +
                                           ", width " + std::to_string(width) + ", first filter " +
                                           std::to_string(first));
            }
        }
    }
}

TEST_F(Png, ToolsReadOurFilesBackExactly) {
    for (int channels : {1, 3}) {
        const Picture p = zavtest::RampPattern(kWidth, kHeight, channels);
        const std::vector<uint8_t> png = Ours(p);
        ASSERT_GT(png.size(), 33u);
        EXPECT_EQ(png[24], 8);                      // bit depth
        EXPECT_EQ(png[25], channels == 3 ? 2 : 0);  // colour type: RGB or gray
        EXPECT_EQ(png[28], 0);                      // not interlaced
        ExpectToolsRead(png, p, std::to_string(channels) + " channels");
    }
}

// Rows of the kinds each filter wins on, one band after another: noise, flat colour, a ramp
// across, a ramp down, hard stripes. Padding bytes hold 0x5A.
Picture MixedRows(int32_t width, int32_t height, int32_t channels) {
    Picture p(width, height, channels);
    std::fill(p.bytes.begin(), p.bytes.end(), uint8_t{0x5A});
    uint32_t seed = 88172645u + static_cast<uint32_t>(width * channels);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            for (int32_t c = 0; c < channels; ++c) {
                seed ^= seed << 13;
                seed ^= seed >> 17;
                seed ^= seed << 5;
                uint32_t v = 0;
                switch ((y / 3) % 5) {
                    case 0:
                        v = seed >> 24;
                        break;
                    case 1:
                        v = 40u + 50u * c;
                        break;
                    case 2:
                        v = x * 3u + c * 20u;
                        break;
                    case 3:
                        v = y * 5u + x / 7u + c;
                        break;
                    default:
                        v = (x / 2) % 2 != 0 ? 250u : 3u;
                        break;
                }
                p.At(x, y, c) = static_cast<uint8_t>(v);
            }
        }
    }
    return p;
}

// The IDAT chunks of a PNG, their data joined, and how many there were.
std::vector<uint8_t> ImageData(const std::vector<uint8_t> &png, int *chunks) {
    std::vector<uint8_t> data;
    *chunks = 0;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = zavtest::BigEndian32At(png, at);
        if (std::memcmp(png.data() + at + 4, "IDAT", 4) == 0) {
            data.insert(data.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
            ++*chunks;
        }
        at += 12 + std::size_t{length};
    }
    return data;
}

// The writer picks a filter per row: every choice, on every width (the filter works sixteen bytes
// a step, so widths around a step's multiples too) and both channel counts, must decode exactly
// in netpbm and ImageMagick, in one zlib stream that zlib inflates whole.
TEST_F(Png, EveryFilterOurWriterChoosesDecodesExactly) {
    for (int channels : {1, 3}) {
        bool sawFilter[5] = {};
        for (int32_t width : {1, 2, 5, 6, 16, 17, 31, 33, 250}) {
            const std::string what =
                std::to_string(width) + " wide, " + std::to_string(channels) + " channels";
            const Picture p = MixedRows(width, 45, channels);
            const std::vector<uint8_t> png = Ours(p);
            int chunks = 0;
            const std::vector<uint8_t> stream = ImageData(png, &chunks);
            ASSERT_GE(stream.size(), 2u) << what;
            EXPECT_EQ(((stream[0] << 8) | stream[1]) % 31, 0) << what << ": not a zlib header";
            const std::size_t rowBytes = static_cast<std::size_t>(width) * channels + 1;
            std::vector<uint8_t> raw(rowBytes * p.height + 1);
            uLongf rawSize = raw.size();
            ASSERT_EQ(uncompress(raw.data(), &rawSize, stream.data(), stream.size()), Z_OK) << what;
            ASSERT_EQ(rawSize, rowBytes * p.height) << what;
            for (int32_t y = 0; y < p.height; ++y) {
                ASSERT_LE(raw[y * rowBytes], 4) << what;
                sawFilter[raw[y * rowBytes]] = true;
            }
            ExpectToolsRead(png, p, what);
        }
        for (int f = 0; f < 5; ++f) {
            EXPECT_TRUE(sawFilter[f]) << "filter " << f << " never chosen, " << channels;
        }
    }
}

// Pictures that push the writer's encoder to its edges: all zero (runs only), noise (stored
// blocks), one pixel, one row, one column, widths around the filter's and the run finder's steps,
// gray and colour. netpbm, ImageMagick and Pillow each decode every file to the picture, and so
// does our reader.
TEST_F(Png, EdgePicturesDecodeExactlyInEveryDecoder) {
    // Each decoder reads every file in one command (Pillow's interpreter starts once).
    std::vector<std::string> decoders = {
        "for f in edge*.png; do pngtopnm $f > $f.netpbm.pnm || exit 1; done",
        "for f in edge*.png; do " + zavtest::ImageMagick() +
            " $f ppm:$f.magick.pnm || exit 1; done"};
    std::vector<std::string> suffixes = {".netpbm.pnm", ".magick.pnm"};
    if (Shell("/usr/bin/python3 -c 'import PIL' 2>/dev/null")) {
        decoders.push_back(
            "/usr/bin/python3 -c 'import glob; from PIL import Image\n"
            "for f in glob.glob(\"edge*.png\"): Image.open(f).convert(\"RGB\").save(f + "
            "\".pillow.pnm\", \"PPM\")'");
        suffixes.push_back(".pillow.pnm");
    }
    const int32_t sizes[][2] = {{1, 1}, {1, 300}, {300, 1},  {3, 2},
                                {7, 9}, {15, 4},  {250, 40}, {1003, 70}};
    std::vector<Picture> pictures;
    std::vector<std::string> names;
    for (int channels : {1, 3}) {
        for (const auto &size : sizes) {
            for (int kind = 0; kind < 4; ++kind) {
                Picture p(size[0], size[1], channels);
                uint32_t seed = 2463534242u + static_cast<uint32_t>(size[0] * 7 + kind);
                for (int32_t y = 0; y < p.height; ++y) {
                    for (int32_t x = 0; x < p.width * channels; ++x) {
                        seed ^= seed << 13;
                        seed ^= seed >> 17;
                        seed ^= seed << 5;
                        const uint8_t noise = static_cast<uint8_t>(seed >> 24);
                        // zero, noise, flat bands with noisy edges, a repeating pixel pattern
                        const uint8_t v[4] = {
                            0, noise, static_cast<uint8_t>(x % 40 < 3 ? noise : (y / 8) * 30),
                            static_cast<uint8_t>((x / channels) % 5 * 50 + x % channels)};
                        p.Row(y)[x] = v[kind];
                    }
                }
                const std::string what = std::to_string(size[0]) + " x " + std::to_string(size[1]) +
                                         ", " + std::to_string(channels) + " channels, kind " +
                                         std::to_string(kind);
                const std::vector<uint8_t> png = Ours(p);
                ASSERT_TRUE(WriteFile(Path("edge" + std::to_string(names.size()) + ".png"), png));
                ZAVImageStruct r{};
                ASSERT_EQ(ZAVLoadImageMemory(m_obj, png.data(), png.size(), &r), 0) << what;
                const Picture color = zavtest::AsColor(p);
                const Picture back(
                    r.width, r.height, 3,
                    std::vector<uint8_t>(r.data, r.data + color.step * color.height));
                EXPECT_TRUE(zavtest::SamePixels(back, color)) << "our reader, " << what;
                ZAVImageStruct *q = &r;
                ZAVReleaseImage(m_obj, &q);
                pictures.push_back(color);
                names.push_back(what);
            }
        }
    }
    for (std::size_t d = 0; d < decoders.size(); ++d) {
        ASSERT_TRUE(Shell("cd " + Quote(m_dir.path()) + " && " + decoders[d])) << decoders[d];
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            const std::string out = Path("edge" + std::to_string(i) + ".png" + suffixes[d]);
            EXPECT_TRUE(zavtest::SamePixels(zavtest::ParseNetpbm(ReadFile(out)), pictures[i]))
                << suffixes[d] << ", " << names[i];
        }
    }
}

// A stream longer than one IDAT chunk holds (noise barely compresses) is split over several, and
// reads back whole, in our reader too.
TEST_F(Png, LargeFilesSpanSeveralChunks) {
    Picture p(1000, 600, 3);
    uint32_t seed = 2463534242u;
    for (uint8_t &b : p.bytes) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        b = static_cast<uint8_t>(seed >> 24);
    }
    const std::vector<uint8_t> png = Ours(p);
    int chunks = 0;
    ImageData(png, &chunks);
    EXPECT_GE(chunks, 2);
    const std::string path = Path("large.png");
    ASSERT_TRUE(WriteFile(path, png));
    const std::string out = Path("large.pnm");
    ASSERT_TRUE(Shell("pngtopnm " + Quote(path) + " > " + Quote(out)));
    EXPECT_TRUE(zavtest::SamePixels(zavtest::ParseNetpbm(ReadFile(out)), p));
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVLoadImageMemory(m_obj, png.data(), png.size(), &r), 0);
    const Picture back(r.width, r.height, 3,
                       std::vector<uint8_t>(r.data, r.data + p.step * p.height));
    EXPECT_TRUE(zavtest::SamePixels(back, p));
    ZAVImageStruct *q = &r;
    ZAVReleaseImage(m_obj, &q);
}

TEST_F(Png, DamagedShortAndOversizedFilesFail) {
    const std::vector<uint8_t> good = Ours(zavtest::RampPattern(kWidth, kHeight, 3));
    ASSERT_EQ(LoadStatus(good), ZAV_FILE_OK);
    const std::size_t idat = 8 + 25;  // the chunk after the signature and IHDR
    ASSERT_EQ(std::memcmp(good.data() + idat + 4, "IDAT", 4), 0);

    std::vector<uint8_t> bad = good;
    bad[29] ^= 1;  // IHDR's CRC
    EXPECT_EQ(LoadStatus(bad), ZAV_FILE_CORRUPT) << "IHDR CRC";
    bad = good;
    bad[idat + 20] ^= 0x10;  // compressed data, CRC left as it was
    EXPECT_EQ(LoadStatus(bad), ZAV_FILE_CORRUPT) << "IDAT CRC";
    FixCrc(&bad, idat);  // a damaged stream under a matching CRC
    EXPECT_EQ(LoadStatus(bad), ZAV_FILE_CORRUPT) << "damaged stream";
    bad = good;
    bad[good.size() - 1] ^= 1;  // IEND's CRC
    EXPECT_EQ(LoadStatus(bad), ZAV_FILE_CORRUPT) << "IEND CRC";

    for (std::size_t keep :
         {std::size_t{20}, idat + 30, good.size() / 2, good.size() - 12, good.size() - 1}) {
        EXPECT_EQ(LoadStatus(std::vector<uint8_t>(good.begin(), good.begin() + keep)),
                  ZAV_FILE_TRUNCATED)
            << "kept " << keep;
    }

    // Image data that is not what the header promises.
    constexpr int kRows = 9;
    const std::vector<uint8_t> rows = FilteredRows(kWidth * 3, kRows, 0);
    const auto made = [](const std::vector<uint8_t> &raw,
                         std::initializer_list<const char *> after = {}) {
        PngBuilder png;
        png.Header(kWidth, kRows, 2);
        png.ImageData(Deflate(raw), 1000);
        for (const char *type : after) {
            png.Add(type, {'a', 0, 'b'});
        }
        png.Add("IEND", {});
        return png.bytes;
    };
    EXPECT_EQ(LoadStatus(made(rows)), ZAV_FILE_OK);
    std::vector<uint8_t> raw = rows;
    raw[(kWidth * 3 + 1) * 4] = 5;  // a filter that does not exist
    EXPECT_EQ(LoadStatus(made(raw)), ZAV_FILE_CORRUPT) << "filter 5";
    raw.assign(rows.begin(), rows.end() - 1);
    EXPECT_EQ(LoadStatus(made(raw)), ZAV_FILE_CORRUPT) << "a byte short";
    EXPECT_EQ(LoadStatus(made(rows, {"whAt"})), ZAV_FILE_OK) << "unknown ancillary chunk";
    EXPECT_EQ(LoadStatus(made(rows, {"WHAT"})), ZAV_FILE_CORRUPT) << "unknown critical chunk";
    EXPECT_EQ(LoadStatus(made(rows, {"tEXt", "IDAT"})), ZAV_FILE_CORRUPT) << "IDAT after text";
    // Bytes past the last row, inflated or not, are ignored, as libpng ignores them.
    raw = rows;
    raw.push_back(0);
    EXPECT_EQ(LoadStatus(made(raw)), ZAV_FILE_OK) << "a byte over";
    EXPECT_EQ(LoadStatus(made(rows, {"IDAT"})), ZAV_FILE_OK) << "bytes after the stream";

    // Sizes whose buffer would pass 2^30 bytes fail before anything is allocated.
    const uint32_t sizes[][2] = {{20000, 20000}, {0x7FFFFFFF, 1}, {1, 0x7FFFFFFF}, {18919, 18919}};
    for (const auto &size : sizes) {
        bad = good;
        for (int i = 0; i < 4; ++i) {
            bad[16 + i] = static_cast<uint8_t>(size[0] >> (24 - 8 * i));
            bad[20 + i] = static_cast<uint8_t>(size[1] >> (24 - 8 * i));
        }
        FixCrc(&bad, 8);
        EXPECT_EQ(LoadStatus(bad), ZAV_FILE_TOO_LARGE) << size[0] << " x " << size[1];
    }

    // The probe reads the header alone.
    const char *format = nullptr;
    int32_t w = 0, h = 0, c = 0;
    ASSERT_EQ(ZAVProbeImageMemory(m_obj, good.data(), 33, &format, &w, &h, &c), 0);
    EXPECT_STREQ(format, "Portable Network Graphics (*.png)");
    EXPECT_EQ(w, kWidth);
    EXPECT_EQ(h, kHeight);
}

// Gray and RGB pictures whose image data passes libdeflate's one block (64 MiB) stream into the
// buffer: the pixels come out right over IDAT chunks of any length (an empty one among them), a
// wrong check value is corrupt data, bytes after the stream are ignored, and a file cut inside its
// image data is short, as for smaller files.
TEST_F(Png, LargePicturesStreamIntoTheBuffer) {
    for (int channels : {1, 3}) {
        const uint32_t width = channels == 1 ? 8200 : 4800;
        const uint32_t height = channels == 1 ? 8200 : 4700;
        const std::size_t rowBytes = std::size_t{width} * channels;
        // Rows of a pattern (no filter), each band of four starting it one byte further, the other
        // rows repeating the one above ("up", all zeros).
        std::vector<uint8_t> pattern(rowBytes + 256);
        for (std::size_t i = 0; i < pattern.size(); ++i) {
            pattern[i] = static_cast<uint8_t>(i * 7 + i / 251);
        }
        std::vector<uint8_t> raw((rowBytes + 1) * height, 0);
        for (uint32_t y = 0; y < height; y += 4) {
            uint8_t *row = raw.data() + y * (rowBytes + 1);
            std::memcpy(row + 1, pattern.data() + (y / 4) % 256, rowBytes);
            for (uint32_t k = 1; k < 4 && y + k < height; ++k) {
                row[k * (rowBytes + 1)] = 2;
            }
        }
        const std::vector<uint8_t> stream = Deflate(raw, 1);
        std::vector<uint8_t>().swap(raw);
        const auto made = [&](const std::vector<uint8_t> &data) {
            PngBuilder png;
            png.Header(width, height, channels == 1 ? 0 : 2);
            const std::size_t half = data.size() / 2;
            png.ImageData(std::vector<uint8_t>(data.begin(), data.begin() + half), 300000);
            png.Add("IDAT", {});
            png.ImageData(std::vector<uint8_t>(data.begin() + half, data.end()), 1 << 20);
            png.Add("IEND", {});
            return png.bytes;
        };
        const std::string what = std::to_string(channels) + " channels";
        const std::vector<uint8_t> good = made(stream);
        ZAVImageStruct r{};
        ASSERT_EQ(ZAVLoadImageMemory(m_obj, good.data(), good.size(), &r), 0) << what;
        const std::size_t stride = (std::size_t{width} * 3 + 3) & ~std::size_t{3};
        int badRows = 0;
        std::vector<uint8_t> expected(std::size_t{width} * 3);
        for (uint32_t y = 0; y < height; ++y) {
            if (y % 4 == 0) {
                const uint8_t *from = pattern.data() + (y / 4) % 256;
                for (uint32_t x = 0; x < width; ++x) {
                    for (int c = 0; c < 3; ++c) {
                        expected[x * 3 + c] = channels == 1 ? from[x] : from[x * 3 + 2 - c];
                    }
                }
            }
            badRows += std::memcmp(r.data + y * stride, expected.data(), expected.size()) != 0;
        }
        EXPECT_EQ(badRows, 0) << what;
        ZAVImageStruct *q = &r;
        ZAVReleaseImage(m_obj, &q);

        std::vector<uint8_t> bad = stream;
        bad.back() ^= 1;
        EXPECT_EQ(LoadStatus(made(bad)), ZAV_FILE_CORRUPT) << what << ", check value";
        bad = stream;
        bad.insert(bad.end(), {9, 9, 9});
        EXPECT_EQ(LoadStatus(made(bad)), ZAV_FILE_OK) << what << ", bytes after the stream";
        EXPECT_EQ(LoadStatus(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)),
                  ZAV_FILE_TRUNCATED)
            << what << ", cut";
    }
}

// Runs `body` in a child process whose address space may grow by `spare` bytes at most (beyond
// what it has when it starts), so that an allocation the data did not call for fails there. Under
// AddressSanitizer, which reserves its shadow up front, without the limit. The child's exit code.
template <typename Body>
int WithLittleMemory(std::size_t spare, Body body) {
    const pid_t child = fork();
    if (child == 0) {
#if !defined(__SANITIZE_ADDRESS__)
        malloc_trim(0);  // free memory of the heap would be used without growing the space
        std::ifstream status("/proc/self/status");
        std::string word;
        std::size_t kb = 0;
        while (status >> word) {
            if (word == "VmSize:") {
                status >> kb;
                break;
            }
        }
        const rlim_t limit = kb * 1024 + spare;
        const rlimit rl{limit, limit};
        if (kb == 0 || setrlimit(RLIMIT_AS, &rl) != 0) {
            _exit(77);
        }
#else
        (void)spare;
#endif
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Every block the reader makes comes after the data show they can fill it, and none is the whole
// picture at 16 bits: a header promising more than its stream can inflate to fails at once as
// short data (the 77-byte file of 357913941 x 1 once allocated 1 GiB), the most compressible
// stream still loads, a 16-bit interlaced picture is scaled row by row, and a flood of text chunks
// says so rather than "would exceed 1 GiB".
TEST_F(Png, NoBlockComesBeforeTheDataShowTheyCanFillIt) {
    const auto status = [](const std::vector<uint8_t> &png) {
        ZAVImageObject *obj = ZAVCreateObject();
        ZAVImageStruct r{};
        int32_t result = ZAVLoadImageMemory(obj, png.data(), png.size(), &r);
        if (result == 0) {
            ZAVImageStruct *p = &r;
            ZAVReleaseImage(obj, &p);
        }
        result = ZAVGetFileStatus(obj);
        ZAVDestroyObject(obj);
        return result;
    };
    PngBuilder wide;
    wide.Header(357913941, 1, 2);
    wide.ImageData(Deflate(std::vector<uint8_t>(1000, 0)), 1000);
    wide.Add("IEND", {});
    EXPECT_LT(wide.bytes.size(), 100u);
    // (A 32-bit build refuses its row of 1 GiB as too large for its address space, as at once.)
    EXPECT_EQ(WithLittleMemory(std::size_t{64} << 20, [&] { return status(wide.bytes); }),
              sizeof(void *) == 4 ? ZAV_FILE_TOO_LARGE : ZAV_FILE_TRUNCATED);
    // 1000 bytes of stream give 1,032,000 bytes at most: 20,000,000 rows of 2 are short before
    // anything is read or allocated.
    PngBuilder tall;
    tall.Header(1, 20000000, 0);
    tall.ImageData(std::vector<uint8_t>(1000, 0), 1000);
    tall.Add("IEND", {});
    EXPECT_EQ(status(tall.bytes), ZAV_FILE_TRUNCATED);

    // All zeros at zlib's best: about 1000 rows of 6000 to a byte of stream, and still whole.
    PngBuilder zeros;
    zeros.Header(6000, 1000, 0);
    zeros.ImageData(Deflate(std::vector<uint8_t>(6001 * 1000, 0), 9), 1 << 16);
    zeros.Add("IEND", {});
    EXPECT_EQ(status(zeros.bytes), ZAV_FILE_OK);

    // 2500 x 2500, 16-bit RGBA, interlaced: 50 MB held whole at 16 bits, 19 MB as the picture.
    constexpr uint32_t kSide = 2500;
    std::vector<uint8_t> raw;
    const uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
    const uint32_t y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int pass = 0; pass < 7; ++pass) {
        const uint32_t w = (kSide - x0[pass] + dx[pass] - 1) / dx[pass];
        const uint32_t h = (kSide - y0[pass] + dy[pass] - 1) / dy[pass];
        for (uint32_t y = 0; y < h; ++y) {
            raw.push_back(0);
            for (uint32_t x = 0; x < w; ++x) {
                const uint8_t red[8] = {0xFF, 0xFF, 0, 0, 0x80, 0, 0xFF, 0xFF};  // R, G, B, A
                raw.insert(raw.end(), red, red + 8);
            }
        }
    }
    PngBuilder deep;
    deep.Header(kSide, kSide, 6, 16, true);
    deep.ImageData(Deflate(raw, 1), 1 << 20);
    deep.Add("IEND", {});
    std::vector<uint8_t>().swap(raw);
    const int code = WithLittleMemory(std::size_t{40} << 20, [&] {
        ZAVImageObject *obj = ZAVCreateObject();
        ZAVImageStruct r{};
        int result = 1;
        if (ZAVLoadImageMemory(obj, deep.bytes.data(), deep.bytes.size(), &r) == 0) {
            const uint8_t *last =
                r.data + (static_cast<std::size_t>(kSide) - 1) * ((kSide * 3 + 3) & ~3u);
            result = last[0] == 0x80 && last[1] == 0 && last[2] == 0xFF ? 0 : 2;
            ZAVImageStruct *p = &r;
            ZAVReleaseImage(obj, &p);
        } else {
            result = 100 + ZAVGetFileStatus(obj);
        }
        ZAVDestroyObject(obj);
        return result;
    });
    EXPECT_EQ(code, 0);

    PngBuilder texts;
    texts.Header(4, 4, 0);
    for (int i = 0; i < 200000; ++i) {
        texts.Add("tEXt", {'k', 0, 'v'});
    }
    texts.ImageData(Deflate(std::vector<uint8_t>(5 * 4, 0)), 1000);
    texts.Add("IEND", {});
    EXPECT_EQ(status(texts.bytes), ZAV_FILE_METADATA_LIMIT);
    EXPECT_STRNE(ZAVFileStatusText(ZAV_FILE_METADATA_LIMIT), ZAVFileStatusText(ZAV_FILE_TOO_LARGE));
}

}  // namespace

namespace {

// zlib's stream of `raw`, sync-flushed before an empty last block of fixed codes (03 00), so that
// the last block's final bit is at a known place: the sixth byte from the end.
std::vector<uint8_t> FlushedStream(const std::vector<uint8_t> &raw) {
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 6), Z_OK);
    std::vector<uint8_t> out(deflateBound(&z, raw.size()) + 64);
    z.next_in = const_cast<Bytef *>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_SYNC_FLUSH), Z_OK);
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    EXPECT_EQ(out[out.size() - 6], 0x03);
    return out;
}

// The stored rows of a `width` x `height` picture of `bitsPerPixel`, interlaced or not.
std::vector<uint8_t> RawRows(uint32_t width, uint32_t height, unsigned bitsPerPixel,
                             bool interlaced) {
    const uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
    const uint32_t y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    std::vector<uint8_t> raw;
    for (int pass = interlaced ? 0 : 6; pass < 7; ++pass) {
        const uint32_t w =
            interlaced ? (width > x0[pass] ? (width - x0[pass] + dx[pass] - 1) / dx[pass] : 0)
                       : width;
        const uint32_t h =
            interlaced ? (height > y0[pass] ? (height - y0[pass] + dy[pass] - 1) / dy[pass] : 0)
                       : height;
        if (w == 0) {
            continue;
        }
        const std::vector<uint8_t> rows =
            FilteredRows((w * bitsPerPixel + 7) / 8, static_cast<int>(h), pass);
        raw.insert(raw.end(), rows.begin(), rows.end());
    }
    return raw;
}

}  // namespace

// A stream whose end the image data does not hold fails as libpng (netpbm) fails it, whichever
// way the picture is decoded: the last block's final bit cleared, cut before or inside its check
// value, the chunk with the check value dropped; a wrong check value fails in the chunk of the
// last rows and is only warned of in a chunk of its own, as bytes after the stream's end are.
TEST_F(Png, StreamEndsAsLibpngJudgesThem) {
    const struct {
        uint8_t colorType, depth;
        unsigned bitsPerPixel;
        bool interlaced;
        const char *what;
    } kinds[] = {{2, 8, 24, false, "RGB"},          {0, 8, 8, false, "gray"},
                 {6, 16, 64, false, "RGBA 16-bit"}, {2, 8, 24, true, "RGB interlaced"},
                 {0, 1, 1, false, "gray 1-bit"},    {3, 8, 8, false, "palette"}};
    int refused = 0;
    for (const auto &kind : kinds) {
        for (uint32_t width : {1u, 23u}) {
            const uint32_t height = 9;
            const std::vector<uint8_t> raw =
                RawRows(width, height, kind.bitsPerPixel, kind.interlaced);
            const auto made = [&](const std::vector<uint8_t> &stream, std::size_t tail) {
                PngBuilder png;
                png.Header(width, height, kind.colorType, kind.depth, kind.interlaced);
                if (kind.colorType == 3) {
                    std::vector<uint8_t> palette(256 * 3);
                    for (std::size_t i = 0; i < palette.size(); ++i) {
                        palette[i] = static_cast<uint8_t>(i * 7);
                    }
                    png.Add("PLTE", palette);
                }
                // The last `tail` bytes in a chunk of their own.
                const std::size_t split = stream.size() - std::min(tail, stream.size());
                png.ImageData(std::vector<uint8_t>(stream.begin(), stream.begin() + split), 1000);
                if (split < stream.size()) {
                    png.ImageData(std::vector<uint8_t>(stream.begin() + split, stream.end()), 1000);
                }
                png.Add("IEND", {});
                return png.bytes;
            };
            const std::vector<uint8_t> good = FlushedStream(raw);
            std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
            for (std::size_t tail : {std::size_t{0}, std::size_t{4}, std::size_t{6}}) {
                const std::string in = ", last " + std::to_string(tail) + " bytes apart";
                files.push_back({"whole" + in, made(good, tail)});
                std::vector<uint8_t> s = good;
                s[s.size() - 6] = 0x02;
                files.push_back({"final bit cleared" + in, made(s, tail)});
                for (std::size_t cut : {1, 2, 4, 5}) {
                    files.push_back({"cut by " + std::to_string(cut) + in,
                                     made(std::vector<uint8_t>(good.begin(), good.end() - cut),
                                          tail > cut ? tail - cut : 0)});
                }
                s = good;
                s.back() ^= 0x40;
                files.push_back({"check value" + in, made(s, tail)});
                s = good;
                s.insert(s.end(), {7, 7, 7});
                files.push_back({"bytes after the end" + in, made(s, tail + 3)});
            }
            files.push_back({"check value's chunk dropped", [&] {
                                 std::vector<uint8_t> png = made(good, 4);
                                 png.erase(png.end() - 12 - 16, png.end() - 12);
                                 return png;
                             }()});
            for (const auto &[name, png] : files) {
                const std::string what =
                    std::string(kind.what) + ", " + std::to_string(width) + " wide, " + name;
                ASSERT_TRUE(WriteFile(Path("end.png"), png));
                const bool libpng = Shell("pngtopnm " + Quote(Path("end.png")));
                EXPECT_EQ(LoadStatus(png), libpng ? ZAV_FILE_OK : ZAV_FILE_CORRUPT) << what;
                refused += libpng ? 0 : 1;
            }
        }
    }
    EXPECT_GT(refused, 40);
}

// Every PNG libpng reads, whoever wrote it, loads with the pixels netpbm decodes: pictures of
// every colour type and depth, interlaced, at every compression level, in many small chunks, of
// odd sizes down to 1 x 1, written by Pillow, ImageMagick, netpbm, OpenCV and us.
TEST_F(Png, EveryFileLibpngReadsLoads) {
    const std::string im = zavtest::ImageMagick();
    const bool python = Shell("/usr/bin/python3 -c 'import PIL, cv2, numpy'");
    if (!zavtest::HaveTool(im) || !python) {
        GTEST_SKIP() << "ImageMagick, Pillow or OpenCV's Python module is missing";
    }
    // Pillow and OpenCV in one interpreter.
    const std::string script = R"PY(
import cv2, numpy
from PIL import Image
sizes = [(1, 1), (2, 3), (7, 5), (33, 17), (61, 37)]
for i, (w, h) in enumerate(sizes):
    y, x = numpy.mgrid[0:h, 0:w]
    rgb = numpy.stack([(x * 37 + y * 11) % 256, (x * 5 + 90) % 256, (y * 29) % 256], -1).astype('uint8')
    a = ((x * 13 + y * 7) % 256).astype('uint8')
    modes = {'L': Image.fromarray(rgb[:, :, 0]), 'RGB': Image.fromarray(rgb),
             'RGBA': Image.fromarray(numpy.dstack([rgb, a])), 'LA': Image.fromarray(rgb).convert('LA'),
             'P': Image.fromarray(rgb).quantize(37), '1': Image.fromarray(rgb[:, :, 1]).convert('1'),
             'I16': Image.fromarray((rgb[:, :, 0].astype('uint16') * 257 + x.astype('uint16')))}
    for name, im in modes.items():
        for level in (0, 1, 6, 9):
            im.save('pil_%d_%s_%d.png' % (i, name, level), compress_level=level)
        im.save('pil_%d_%s_opt.png' % (i, name), optimize=True)
    for level in (0, 3, 9):
        cv2.imwrite('cv_%d_bgr_%d.png' % (i, level), rgb, [cv2.IMWRITE_PNG_COMPRESSION, level])
        cv2.imwrite('cv_%d_gray16_%d.png' % (i, level), (rgb[:, :, 0].astype('uint16') * 251),
                    [cv2.IMWRITE_PNG_COMPRESSION, level])
    cv2.imwrite('cv_%d_bgra.png' % i, numpy.dstack([rgb, a]))
    cv2.imwrite('rgb_%d.ppm' % i, rgb)
    cv2.imwrite('gray_%d.pgm' % i, rgb[:, :, 0])
)PY";
    ASSERT_TRUE(WriteFile(Path("make.py"), std::vector<uint8_t>(script.begin(), script.end())));
    ASSERT_TRUE(Shell("cd " + Quote(m_dir.path()) + " && /usr/bin/python3 make.py"));
    // ImageMagick and netpbm over the same pictures: depths, interlacing, levels, small chunks.
    const std::string made =
        "cd " + Quote(m_dir.path()) + " && for i in 0 1 2 3 4; do " +
        "pnmtopng -compression 9 rgb_$i.ppm > nb_${i}_rgb.png && "
        "pnmtopng -interlace -compression 0 rgb_$i.ppm > nb_${i}_rgbi.png && "
        "pnmtopng -gamma 0.45 -text /dev/null rgb_$i.ppm > nb_${i}_gamma.png && "
        "pamdepth 3 gray_$i.pgm | pnmtopng -interlace > nb_${i}_g2.png && "
        "pamdepth 15 gray_$i.pgm | pnmtopng > nb_${i}_g4.png && "
        "pamdepth 65535 rgb_$i.ppm | pnmtopng -interlace > nb_${i}_rgb16.png && "
        "pnmtopng -alpha gray_$i.pgm rgb_$i.ppm > nb_${i}_rgba.png && " +
        im + " rgb_$i.ppm -define png:compression-level=0 PNG24:im_${i}_rgb0.png && " + im +
        " rgb_$i.ppm -interlace PNG PNG48:im_${i}_rgb16i.png && " + im +
        " gray_$i.pgm -define png:bit-depth=2 -define png:color-type=0 PNG:im_${i}_g2.png && " +
        im + " rgb_$i.ppm PNG8:im_${i}_p.png && " + im +
        " rgb_$i.ppm gray_$i.pgm -compose CopyOpacity -composite PNG32:im_${i}_rgba.png && " + im +
        " gray_$i.pgm -define png:color-type=4 -alpha set PNG:im_${i}_ga.png && " + im +
        " rgb_$i.ppm -define png:compression-level=9 -define png:compression-strategy=1 "
        "PNG24:im_${i}_rgb9.png; done";
    ASSERT_TRUE(Shell(made));
    // Our own files, and files in many small chunks: the image data of some of the above re-split
    // into IDAT chunks of 1, 7 and 100 bytes.
    for (int i : {0, 2, 4}) {
        const Picture p = zavtest::ParseNetpbm(ReadFile(Path("rgb_" + std::to_string(i) + ".ppm")));
        ASSERT_TRUE(WriteFile(Path("ours_" + std::to_string(i) + ".png"), Ours(p)));
    }
    int split = 0;
    for (const char *name : {"pil_3_RGB_6.png", "pil_4_P_9.png", "nb_3_rgbi.png", "im_4_rgb16i.png",
                             "cv_4_bgr_3.png", "ours_4.png", "pil_0_L_1.png"}) {
        const std::vector<uint8_t> png = ReadFile(Path(name));
        int chunks = 0;
        const std::vector<uint8_t> data = ImageData(png, &chunks);
        ASSERT_GT(chunks, 0) << name;
        for (std::size_t piece : {1, 7, 100}) {
            PngBuilder rebuilt;
            rebuilt.bytes.clear();
            // Everything up to the first IDAT as it was, then the data in pieces, then IEND.
            std::size_t at = 8;
            while (std::memcmp(png.data() + at + 4, "IDAT", 4) != 0) {
                at += 12 + zavtest::BigEndian32At(png, at);
            }
            rebuilt.bytes.assign(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(at));
            rebuilt.ImageData(data, piece);
            rebuilt.Add("IEND", {});
            ASSERT_TRUE(
                WriteFile(Path("split_" + std::to_string(split++) + ".png"), rebuilt.bytes));
        }
    }
    // Every file netpbm reads loads with netpbm's pixels.
    ASSERT_TRUE(Shell("cd " + Quote(m_dir.path()) +
                      " && ls *.png > list.txt && for f in *.png; do pngtopnm $f | pamdepth 255 > "
                      "$f.pnm || rm -f $f.pnm; done"));
    const std::string list = [&] {
        const std::vector<uint8_t> bytes = ReadFile(Path("list.txt"));
        return std::string(bytes.begin(), bytes.end());
    }();
    int checked = 0;
    for (std::size_t at = 0, end; (end = list.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string name = list.substr(at, end - at);
        const std::vector<uint8_t> oracle = ReadFile(Path(name + ".pnm"));
        if (oracle.empty()) {
            continue;
        }
        const Picture expected = zavtest::AsColor(zavtest::ParseNetpbm(oracle));
        const std::vector<uint8_t> png = ReadFile(Path(name));
        ZAVImageStruct r{};
        ASSERT_EQ(ZAVLoadImageMemory(m_obj, png.data(), png.size(), &r), 0)
            << name << ": " << ZAVFileStatusText(ZAVGetFileStatus(m_obj));
        const Picture back(r.width, r.height, 3,
                           std::vector<uint8_t>(r.data, r.data + expected.step * expected.height));
        EXPECT_TRUE(zavtest::SamePixels(back, expected)) << name;
        ZAVImageStruct *q = &r;
        ZAVReleaseImage(m_obj, &q);
        ++checked;
    }
    EXPECT_GE(checked, 300);
    std::printf("%d files libpng reads checked\n", checked);
}
