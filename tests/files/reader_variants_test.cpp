// Variants that cameras, editors and scanners write: stray bytes between JPEG markers, TIFF
// orientations that turn the picture, CIE L*a*b* and BigTIFF files, signed TIFF samples, a BMP
// whose pixels start inside its colour table, and PNG ancillary chunks past libspng's limits.
// Each file is made here (libtiff, cjpeg, byte by byte) and checked against djpeg, ImageMagick
// or Pillow's littleCMS where one reads it.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <tiffio.h>
#include <zlib.h>

#include "imaging/buffer/image_record.h"
#include "imaging/codecs/png.h"
#include "imaging/files/file_status.h"
#include "imaging/files/image_files.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"

namespace zav {
namespace {

using namespace zavtest;

// A load by path and from memory: both must agree; the path's picture is returned.
struct Loaded {
    int32_t status = -1;
    Picture picture;
};

Picture FromHeader(const ImageHeader &image) {
    Picture p(image.width, image.height, 3);
    for (int32_t y = 0; y < image.height; ++y) {
        std::memcpy(p.Row(y), image.imageData + static_cast<std::size_t>(y) * image.widthStep,
                    static_cast<std::size_t>(image.width) * 3);
    }
    return p;
}

Loaded Load(const std::string &path) {
    Loaded out;
    ImageHeader image;
    out.status = LoadImageFile(path.c_str(), NameRules::kSkip, &image);
    if (out.status == ZAV_FILE_OK) {
        out.picture = FromHeader(image);
        ReleaseImageData(&image);
    }
    const std::vector<uint8_t> bytes = ReadFile(path);
    ImageHeader memory;
    const int32_t status = LoadImageBytes(bytes, &memory);
    EXPECT_EQ(status, out.status) << path << ": memory and path loads agree";
    if (status == ZAV_FILE_OK) {
        EXPECT_TRUE(SamePixels(FromHeader(memory), out.picture)) << path;
        ReleaseImageData(&memory);
    }
    return out;
}

struct Probed {
    int32_t status = -1;
    ImageInfo info;
    std::string format;
};

Probed Probe(const std::string &path) {
    Probed out;
    const ImageFormat *format = nullptr;
    out.status = ProbeImageFile(path.c_str(), NameRules::kSkip, &format, &out.info);
    if (out.status == ZAV_FILE_OK) {
        out.format = std::string(format->name);
    }
    return out;
}

// ---- JPEG ----

// Bytes inserted before the first marker of `kind` at or after `from`.
std::vector<uint8_t> InsertBeforeMarker(std::vector<uint8_t> file, uint8_t kind, std::size_t from,
                                        const std::vector<uint8_t> &stray) {
    for (std::size_t i = from; i + 1 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == kind) {
            file.insert(file.begin() + static_cast<std::ptrdiff_t>(i), stray.begin(), stray.end());
            return file;
        }
    }
    ADD_FAILURE() << "no marker " << int{kind};
    return file;
}

TEST(StrayJpegBytes, BeforeAHeaderMarkerAreSkippedAsDjpegSkipsThem) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) {
        GTEST_SKIP() << "libjpeg-turbo-progs missing";
    }
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "in.ppm", ToNetpbm(Pattern(61, 37, 3))));
    ASSERT_TRUE(Shell("cjpeg -quality 85 " + Quote(dir / "in.ppm") + " > " + Quote(dir / "a.jpg")));
    const std::vector<uint8_t> clean = ReadFile(dir / "a.jpg");
    // Before the quantization tables, and before the start of the scan.
    for (const uint8_t marker : {uint8_t{0xDB}, uint8_t{0xDA}}) {
        const std::vector<uint8_t> stray =
            InsertBeforeMarker(clean, marker, 2, {0x00, 0x17, 0x42, 0x00, 0x99});
        const std::string path = dir / "stray.jpg";
        ASSERT_TRUE(WriteFile(path, stray));
        // djpeg warns ("5 extraneous bytes") and still writes the picture.
        Shell("djpeg -dct int -ppm " + Quote(path) + " > " + Quote(dir / "djpeg.ppm"));
        const Picture expected = ParseNetpbm(ReadFile(dir / "djpeg.ppm"));
        ASSERT_GT(expected.width, 0);
        const Loaded loaded = Load(path);
        ASSERT_EQ(loaded.status, ZAV_FILE_OK) << int{marker};
        EXPECT_TRUE(SamePixels(loaded.picture, expected)) << int{marker};
        const Probed probed = Probe(path);
        EXPECT_EQ(probed.status, ZAV_FILE_OK);
        EXPECT_EQ(probed.info.width, 61);
    }
}

TEST(StrayJpegBytes, BetweenTheScansStayFatal) {
    if (!HaveTool("cjpeg")) {
        GTEST_SKIP() << "libjpeg-turbo-progs missing";
    }
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "in.ppm", ToNetpbm(Pattern(64, 64, 3))));
    // Progressive: the stray bytes go before the second scan's header, read while decoding.
    ASSERT_TRUE(
        Shell("cjpeg -progressive " + Quote(dir / "in.ppm") + " > " + Quote(dir / "a.jpg")));
    std::vector<uint8_t> file = ReadFile(dir / "a.jpg");
    std::size_t scan = 0;
    for (std::size_t i = 0; i + 1 < file.size(); ++i) {
        if (file[i] == 0xFF && file[i + 1] == 0xDA) {
            scan = i + 2;
            break;
        }
    }
    ASSERT_GT(scan, 0u);
    file = InsertBeforeMarker(file, 0xDA, scan, {0x12, 0x34, 0x56});
    ASSERT_TRUE(WriteFile(dir / "scan.jpg", file));
    EXPECT_EQ(Load(dir / "scan.jpg").status, ZAV_FILE_CORRUPT);
}

// A JPEG larger than the head read first, with a marker segment that runs past it: loads by path
// (header from the head, then again from the whole file) give what loads from memory give, at
// full and reduced scale.
TEST(JpegHeadAndWhole, PathAndMemoryLoadsAgreeAtEveryScale) {
    if (!HaveTool("cjpeg")) {
        GTEST_SKIP() << "libjpeg-turbo-progs missing";
    }
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "in.ppm", ToNetpbm(Pattern(640, 400, 3))));
    ASSERT_TRUE(Shell("cjpeg -quality 98 " + Quote(dir / "in.ppm") + " > " + Quote(dir / "a.jpg")));
    std::vector<uint8_t> plain = ReadFile(dir / "a.jpg");
    ASSERT_GT(plain.size(), std::size_t{64} << 10);
    // An application segment of 65533 bytes, twice: the tables lie past the first 64 KiB.
    std::vector<uint8_t> big = {plain[0], plain[1]};
    for (int i = 0; i < 2; ++i) {
        big.insert(big.end(), {0xFF, 0xEF, 0xFF, 0xFF});
        big.insert(big.end(), 65533, static_cast<uint8_t>(i));
    }
    big.insert(big.end(), plain.begin() + 2, plain.end());
    for (const auto &[name, bytes] : {std::pair{"plain.jpg", plain}, std::pair{"big.jpg", big}}) {
        const std::string path = dir / name;
        ASSERT_TRUE(WriteFile(path, bytes));
        for (const unsigned reduce : {1u, 2u, 8u}) {
            ImageHeader fromFile;
            ImageHeader fromMemory;
            ASSERT_EQ(LoadImageFile(path.c_str(), NameRules::kSkip, &fromFile, reduce), ZAV_FILE_OK)
                << name << " 1/" << reduce;
            ASSERT_EQ(LoadImageBytes(bytes, &fromMemory, reduce), ZAV_FILE_OK);
            EXPECT_EQ(fromFile.width, static_cast<int32_t>((640 + reduce - 1) / reduce));
            EXPECT_TRUE(SamePixels(FromHeader(fromFile), FromHeader(fromMemory)))
                << name << " 1/" << reduce;
            ReleaseImageData(&fromFile);
            ReleaseImageData(&fromMemory);
        }
        const Probed probed = Probe(path);
        ASSERT_EQ(probed.status, ZAV_FILE_OK) << name;
        EXPECT_EQ(probed.info.height, 400);
    }
}

// ---- TIFF, written with libtiff ----

struct TiffSpec {
    uint32_t width = 5;
    uint32_t height = 3;
    uint16_t samples = 3;
    uint16_t bits = 8;
    uint16_t photometric = PHOTOMETRIC_RGB;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    bool big = false;
    std::vector<uint8_t> samplesData;  // rows of width * samples * bits / 8 bytes
};

bool WriteTiff(const std::string &path, const TiffSpec &s) {
    TIFF *tif = TIFFOpen(path.c_str(), s.big ? "w8" : "w");
    if (tif == nullptr) {
        return false;
    }
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, s.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, s.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, s.samples);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, s.photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, s.sampleFormat);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, s.orientation);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.height);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    const tmsize_t bytes = static_cast<tmsize_t>(s.samplesData.size());
    const bool ok =
        TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t *>(s.samplesData.data()), bytes) == bytes;
    TIFFClose(tif);
    return ok;
}

// Red, green, blue samples of a stored pattern: each pixel its own colour.
std::vector<uint8_t> RgbSamples(uint32_t width, uint32_t height) {
    std::vector<uint8_t> out;
    for (uint32_t r = 0; r < height; ++r) {
        for (uint32_t c = 0; c < width; ++c) {
            out.push_back(static_cast<uint8_t>(10 + 40 * c));
            out.push_back(static_cast<uint8_t>(20 + 70 * r));
            out.push_back(static_cast<uint8_t>(5 * (r * width + c)));
        }
    }
    return out;
}

TEST(TiffOrientation, EveryOrientationGivesThePictureItDescribes) {
    TempDir dir;
    TiffSpec s;
    s.samplesData = RgbSamples(s.width, s.height);
    for (uint16_t o = 1; o <= 8; ++o) {
        s.orientation = o;
        const std::string path = dir / ("o" + std::to_string(o) + ".tif");
        ASSERT_TRUE(WriteTiff(path, s));
        // Stored row r, column c: the picture's top row and left column are named by the tag
        // (1 top-left, 2 top-right, 3 bottom-right, 4 bottom-left: rows are rows; 5 left-top,
        // 6 right-top, 7 right-bottom, 8 left-bottom: rows are columns).
        const bool turned = o >= 5;
        const int32_t w = static_cast<int32_t>(turned ? s.height : s.width);
        const int32_t h = static_cast<int32_t>(turned ? s.width : s.height);
        Picture expected(w, h, 3);
        for (uint32_t r = 0; r < s.height; ++r) {
            for (uint32_t c = 0; c < s.width; ++c) {
                int32_t x = static_cast<int32_t>(turned ? r : c);
                int32_t y = static_cast<int32_t>(turned ? c : r);
                const bool mirrorX = o == 2 || o == 3 || o == 6 || o == 7;
                const bool mirrorY = o == 3 || o == 4 || o == 7 || o == 8;
                x = mirrorX ? w - 1 - x : x;
                y = mirrorY ? h - 1 - y : y;
                const uint8_t *rgb = &s.samplesData[(r * s.width + c) * 3];
                expected.At(x, y, 0) = rgb[2];
                expected.At(x, y, 1) = rgb[1];
                expected.At(x, y, 2) = rgb[0];
            }
        }
        const Loaded loaded = Load(path);
        ASSERT_EQ(loaded.status, ZAV_FILE_OK) << o;
        EXPECT_TRUE(SamePixels(loaded.picture, expected)) << "orientation " << o;
        const Probed probed = Probe(path);
        EXPECT_EQ(probed.info.width, w) << o;
        EXPECT_EQ(probed.info.height, h) << o;
        if (HaveTool("convert")) {
            // ImageMagick turns the picture the same way.
            ASSERT_TRUE(Shell(ImageMagick() + " " + Quote(path) +
                              " -auto-orient ppm:" + Quote(dir / "im.ppm")));
            EXPECT_TRUE(SamePixels(loaded.picture, ParseNetpbm(ReadFile(dir / "im.ppm"))))
                << "ImageMagick, orientation " << o;
        }
    }
}

TEST(TiffLab, EightBitCieLabIsConvertedFromD50ToSrgb) {
    TempDir dir;
    TiffSpec s;
    s.photometric = PHOTOMETRIC_CIELAB;
    // L* 0..100 as 0..255, a* and b* signed bytes.
    const std::vector<std::array<int, 3>> lab = {
        {255, 0, 0},    {0, 0, 0},    {128, 0, 0},     {200, 10, 10},  {30, -5, -30},
        {150, 30, 60},  {240, -3, 5}, {100, -40, -40}, {160, 20, -20}, {120, -20, 20},
        {200, -10, 30}, {60, 10, 10}, {180, 5, -15},   {140, 40, 20},  {80, 20, -100}};
    s.width = 5;
    s.height = 3;
    for (const auto &v : lab) {
        s.samplesData.push_back(static_cast<uint8_t>(v[0]));
        s.samplesData.push_back(static_cast<uint8_t>(static_cast<int8_t>(v[1])));
        s.samplesData.push_back(static_cast<uint8_t>(static_cast<int8_t>(v[2])));
    }
    const std::string path = dir / "lab.tif";
    ASSERT_TRUE(WriteTiff(path, s));
    const Loaded loaded = Load(path);
    ASSERT_EQ(loaded.status, ZAV_FILE_OK);
    // The white and black points exactly; mid gray (L* 50.2) is sRGB 119.
    EXPECT_EQ(loaded.picture.At(0, 0, 0), 255);
    EXPECT_EQ(loaded.picture.At(0, 0, 1), 255);
    EXPECT_EQ(loaded.picture.At(0, 0, 2), 255);
    EXPECT_EQ(loaded.picture.At(1, 0, 0), 0);
    EXPECT_EQ(loaded.picture.At(2, 0, 0), loaded.picture.At(2, 0, 2));
    EXPECT_NEAR(loaded.picture.At(2, 0, 1), 119, 1);
    // littleCMS (Pillow's ImageCms) converts the same file from its D50 Lab to sRGB.
    const std::string script =
        "from PIL import Image, ImageCms\n"
        "im = Image.open('" +
        path +
        "')\n"
        "t = ImageCms.buildTransform(ImageCms.createProfile('LAB'), ImageCms.createProfile('sRGB'),"
        " 'LAB', 'RGB', ImageCms.Intent.RELATIVE_COLORIMETRIC)\n"
        "rgb = ImageCms.applyTransform(im, t)\n"
        "open('" +
        (dir / "lcms.ppm") +
        "', 'wb').write(b'P6 %d %d 255\\n' % rgb.size + "
        "rgb.tobytes())\n";
    ASSERT_TRUE(WriteFile(dir / "lcms.py", std::vector<uint8_t>(script.begin(), script.end())));
    if (!Shell("/usr/bin/python3 " + Quote(dir / "lcms.py"))) {
        GTEST_SKIP() << "Pillow with ImageCms missing";
    }
    const Picture lcms = ParseNetpbm(ReadFile(dir / "lcms.ppm"));
    EXPECT_LE(MaxDifference(loaded.picture, lcms), 2);

    // Layouts not converted exactly are refused, not shown with a cast.
    s.bits = 16;
    std::vector<uint8_t> wide;
    for (uint8_t b : s.samplesData) {
        wide.push_back(0);
        wide.push_back(b);
    }
    s.samplesData = wide;
    ASSERT_TRUE(WriteTiff(dir / "lab16.tif", s));
    EXPECT_EQ(Load(dir / "lab16.tif").status, ZAV_FILE_UNSUPPORTED);
}

TEST(BigTiff, IsReadThroughLibtiffLikeClassicTiff) {
    TempDir dir;
    TiffSpec s;
    s.width = 9;
    s.height = 4;
    s.samplesData = RgbSamples(s.width, s.height);
    ASSERT_TRUE(WriteTiff(dir / "classic.tif", s));
    s.big = true;
    ASSERT_TRUE(WriteTiff(dir / "big.tif", s));
    const std::vector<uint8_t> big = ReadFile(dir / "big.tif");
    ASSERT_GE(big.size(), 4u);
    EXPECT_EQ(big[2], 0x2B);  // BigTIFF's version
    const Loaded classic = Load(dir / "classic.tif");
    const Loaded loaded = Load(dir / "big.tif");
    ASSERT_EQ(loaded.status, ZAV_FILE_OK) << FileStatusText(loaded.status);
    EXPECT_TRUE(SamePixels(loaded.picture, classic.picture));
    const Probed probed = Probe(dir / "big.tif");
    ASSERT_EQ(probed.status, ZAV_FILE_OK);
    EXPECT_EQ(probed.format, "TIFF");
    EXPECT_EQ(probed.info.width, 9);
    EXPECT_TRUE(probed.info.color);
}

TEST(TiffSignedSamples, AreRefusedAsUnsupported) {
    TempDir dir;
    TiffSpec s;
    s.samples = 1;
    s.photometric = PHOTOMETRIC_MINISBLACK;
    s.sampleFormat = SAMPLEFORMAT_INT;
    s.samplesData.assign(s.width * s.height, 0x80);  // -128 stored, 128 if read as unsigned
    ASSERT_TRUE(WriteTiff(dir / "signed.tif", s));
    EXPECT_EQ(Load(dir / "signed.tif").status, ZAV_FILE_UNSUPPORTED);
    // Two samples a pixel and no extra-sample tag.
    s.samples = 2;
    s.samplesData.assign(s.width * s.height * 2, 0x90);
    ASSERT_TRUE(WriteTiff(dir / "signed2.tif", s));
    EXPECT_EQ(Load(dir / "signed2.tif").status, ZAV_FILE_UNSUPPORTED);
    // The same file with unsigned samples loads.
    s.sampleFormat = SAMPLEFORMAT_UINT;
    ASSERT_TRUE(WriteTiff(dir / "unsigned2.tif", s));
    EXPECT_EQ(Load(dir / "unsigned2.tif").status, ZAV_FILE_OK);
}

// ---- PBM/PGM/PPM ----

TEST(RawPortableRows, ReadStraightFromTheFileAsFromMemory) {
    TempDir dir;
    for (const int channels : {1, 3}) {
        const Picture p = Pattern(301, 257, channels);  // beyond the head read first
        std::vector<uint8_t> file = ToNetpbm(p);
        ASSERT_TRUE(WriteFile(dir / "a.pnm", file));
        const Loaded loaded = Load(dir / "a.pnm");
        ASSERT_EQ(loaded.status, ZAV_FILE_OK);
        EXPECT_TRUE(SamePixels(loaded.picture, AsColor(p))) << channels;
        // A header whose comment runs past the head.
        const std::string comment = "# " + std::string(70000, 'c') + "\n";
        file.insert(file.begin() + 3, comment.begin(), comment.end());
        ASSERT_TRUE(WriteFile(dir / "b.pnm", file));
        const Loaded commented = Load(dir / "b.pnm");
        ASSERT_EQ(commented.status, ZAV_FILE_OK);
        EXPECT_TRUE(SamePixels(commented.picture, AsColor(p))) << channels;
        EXPECT_EQ(Probe(dir / "b.pnm").info.width, 301);
        // Cut short by a byte: the last row is missing a sample.
        file.pop_back();
        ASSERT_TRUE(WriteFile(dir / "c.pnm", file));
        EXPECT_EQ(Load(dir / "c.pnm").status, ZAV_FILE_TRUNCATED);
    }
}

// ---- BMP ----

// An 8-bit bitmap of 4 x 1 pixels with `stored` palette entries, `counted` of them declared, and
// its pixel offset `offsetShift` bytes after the end of the stored entries.
std::vector<uint8_t> PaletteBmp(uint32_t stored, uint32_t counted, int32_t offsetShift) {
    std::vector<uint8_t> info;
    AppendLittleEndian32(&info, 40);
    AppendLittleEndian32(&info, 4);
    AppendLittleEndian32(&info, 1);
    AppendLittleEndian16(&info, 1);
    AppendLittleEndian16(&info, 8);
    AppendLittleEndian32(&info, 0);
    AppendLittleEndian32(&info, 4);
    AppendLittleEndian32(&info, 2835);
    AppendLittleEndian32(&info, 2835);
    AppendLittleEndian32(&info, counted);
    AppendLittleEndian32(&info, 0);
    for (uint32_t i = 0; i < stored; ++i) {
        info.insert(info.end(), {static_cast<uint8_t>(40 * i + 10), 100, 200, 0});
    }
    const std::vector<uint8_t> pixels = {0, 1, 1, 0};
    std::vector<uint8_t> f = {'B', 'M'};
    const auto offset = static_cast<uint32_t>(14 + static_cast<int32_t>(info.size()) + offsetShift);
    AppendLittleEndian32(&f, static_cast<uint32_t>(14 + info.size() + pixels.size()));
    AppendLittleEndian32(&f, 0);
    AppendLittleEndian32(&f, offset);
    f.insert(f.end(), info.begin(), info.end());
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

TEST(BmpPixelOffset, InsideTheColourTableIsRefusedWithItsOwnStatus) {
    TempDir dir;
    // Pixels among the two counted entries; pixels where the table starts (no entry at all).
    for (const auto &[stored, counted, shift] :
         {std::tuple{2u, 2u, -4}, std::tuple{2u, 0u, -8}, std::tuple{0u, 0u, 0}}) {
        const std::string path = dir / "inside.bmp";
        ASSERT_TRUE(WriteFile(path, PaletteBmp(stored, counted, shift)));
        EXPECT_EQ(Load(path).status, ZAV_FILE_BAD_PIXEL_OFFSET) << stored << counted << shift;
    }
    EXPECT_STRNE(FileStatusText(ZAV_FILE_BAD_PIXEL_OFFSET), FileStatusText(ZAV_FILE_CORRUPT));
    EXPECT_STRNE(FileStatusText(ZAV_FILE_BAD_PIXEL_OFFSET), "unknown status");
    // Fewer entries stored than an 8-bit table holds, none counted: the pixels follow them.
    ASSERT_TRUE(WriteFile(dir / "short.bmp", PaletteBmp(2, 0, 0)));
    const Loaded loaded = Load(dir / "short.bmp");
    ASSERT_EQ(loaded.status, ZAV_FILE_OK);
    EXPECT_EQ(loaded.picture.At(1, 0, 0), 50);
    EXPECT_EQ(loaded.picture.At(1, 0, 2), 200);
}

// ---- PNG ----

std::vector<uint8_t> PngChunk(const char *type, const std::vector<uint8_t> &data) {
    std::vector<uint8_t> out;
    AppendBigEndian32(&out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(type), 4);
    if (!data.empty()) {  // zlib gives 0 for no buffer
        crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    }
    AppendBigEndian32(&out, static_cast<uint32_t>(crc));
    return out;
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// A PNG of `width` x `height` pixels in the given colour type and depth, each row filtered with
// filter y % 5, its stream split over `idatChunks` chunks; samples from a pattern.
std::vector<uint8_t> MakePng(uint32_t width, uint32_t height, uint8_t colorType, uint8_t depth,
                             bool interlaced, int idatChunks) {
    const int samples = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    const int bitsPerPixel = samples * depth;
    const int bpp = std::max(1, bitsPerPixel / 8);
    std::vector<uint8_t> raw;
    // Adam7 passes, or one pass of the whole picture.
    const uint32_t x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
    const uint32_t y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int pass = interlaced ? 0 : 6; pass < 7; ++pass) {
        const uint32_t px = interlaced ? x0[pass] : 0, sx = interlaced ? dx[pass] : 1;
        const uint32_t py = interlaced ? y0[pass] : 0, sy = interlaced ? dy[pass] : 1;
        if (px >= width || py >= height) {
            continue;
        }
        const uint32_t w = (width - px + sx - 1) / sx;
        const std::size_t rowBytes = (std::size_t{w} * bitsPerPixel + 7) / 8;
        std::vector<uint8_t> prior(rowBytes, 0);
        for (uint32_t y = py, n = 0; y < height; y += sy, ++n) {
            std::vector<uint8_t> row(rowBytes, 0);
            for (uint32_t i = 0; i < w; ++i) {
                const uint32_t x = px + i * sx;
                for (int s = 0; s < samples; ++s) {
                    const uint32_t v = x * 31 + y * 17 + static_cast<uint32_t>(s) * 71 + x * y;
                    const std::size_t bit = (std::size_t{i} * samples + s) * depth;
                    if (depth == 16) {
                        row[bit / 8] = static_cast<uint8_t>(v);
                        row[bit / 8 + 1] = static_cast<uint8_t>(v * 7);
                    } else if (depth == 8) {
                        row[bit / 8] = static_cast<uint8_t>(colorType == 3 ? v % 6 : v);
                    } else {
                        const uint32_t max = (1u << depth) - 1;
                        const uint32_t value = colorType == 3 ? v % std::min(6u, max + 1) : v & max;
                        row[bit / 8] |= static_cast<uint8_t>(value << (8 - depth - bit % 8));
                    }
                }
            }
            const uint8_t filter = static_cast<uint8_t>((y + static_cast<uint32_t>(pass)) % 5);
            raw.push_back(filter);
            for (std::size_t i = 0; i < rowBytes; ++i) {
                const int a = i >= static_cast<std::size_t>(bpp) ? row[i - bpp] : 0;
                const int b = prior[i];
                const int c = i >= static_cast<std::size_t>(bpp) ? prior[i - bpp] : 0;
                const int predicted = filter == 1   ? a
                                      : filter == 2 ? b
                                      : filter == 3 ? (a + b) / 2
                                      : filter == 4 ? Paeth(a, b, c)
                                                    : 0;
                raw.push_back(static_cast<uint8_t>(row[i] - predicted));
            }
            prior = row;
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6);
    packed.resize(packedSize);
    std::vector<uint8_t> header;
    AppendBigEndian32(&header, width);
    AppendBigEndian32(&header, height);
    header.insert(header.end(), {depth, colorType, 0, 0, static_cast<uint8_t>(interlaced)});
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    const auto append = [&file](const std::vector<uint8_t> &chunk) {
        file.insert(file.end(), chunk.begin(), chunk.end());
    };
    append(PngChunk("IHDR", header));
    if (colorType == 3) {
        // At most as many entries as the depth indexes.
        std::vector<uint8_t> palette = {0, 0, 0,   255, 0,  0,   0,   255, 0,
                                        0, 0, 255, 9,   99, 199, 250, 5,   128};
        palette.resize(3 * std::min<std::size_t>(6, std::size_t{1} << depth));
        append(PngChunk("PLTE", palette));
    }
    append(PngChunk("tEXt", {'k', 0, 'v'}));
    const std::size_t piece = packed.size() / static_cast<std::size_t>(idatChunks) + 1;
    for (std::size_t at = 0; at < packed.size(); at += piece) {
        append(PngChunk("IDAT",
                        std::vector<uint8_t>(packed.begin() + static_cast<std::ptrdiff_t>(at),
                                             packed.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                                  at + piece, packed.size())))));
    }
    append(PngChunk("IEND", {}));
    return file;
}

zavtest::Decoded DecodePng(const std::vector<uint8_t> &file, PngDecodeWay way) {
    zavtest::Decoded d;
    auto reader = NewPngReaderDecoding(file, way);
    d.header = reader->ReadHeader(&d.info);
    if (d.header == CodecStatus::kOk) {
        d.picture = Picture(d.info.width, d.info.height, 3);
        d.data = reader->ReadData(d.picture.bytes.data(), d.picture.step);
    }
    return d;
}

TEST(PngDecodeWays, TheFasterWayAndLibspngGiveTheSamePixels) {
    struct Kind {
        uint8_t colorType, depth;
    };
    const Kind kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                          {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    int direct = 0;
    for (const Kind &k : kinds) {
        for (const bool interlaced : {false, true}) {
            for (const auto &[w, h, chunks] :
                 {std::tuple{1u, 1u, 1}, std::tuple{13u, 7u, 3}, std::tuple{70u, 33u, 5}}) {
                const std::vector<uint8_t> file =
                    MakePng(w, h, k.colorType, k.depth, interlaced, chunks);
                const std::string what = "type " + std::to_string(k.colorType) + " depth " +
                                         std::to_string(k.depth) +
                                         (interlaced ? " interlaced " : " ") + std::to_string(w) +
                                         "x" + std::to_string(h);
                const zavtest::Decoded chosen = DecodePng(file, PngDecodeWay::kChoose);
                const zavtest::Decoded spng = DecodePng(file, PngDecodeWay::kLibspngOnly);
                const zavtest::Decoded fast = DecodePng(file, PngDecodeWay::kDirectOnly);
                ASSERT_TRUE(spng.ok()) << what << ": " << static_cast<int>(spng.header) << " "
                                       << static_cast<int>(spng.data);
                ASSERT_TRUE(chosen.ok()) << what;
                EXPECT_TRUE(SamePixels(chosen.picture, spng.picture)) << what;
                // The faster way takes exactly 8-bit files without a palette, not interlaced.
                const bool takes = k.depth == 8 && k.colorType != 3 && !interlaced;
                if (!takes) {
                    EXPECT_EQ(fast.data, CodecStatus::kUnsupported) << what;
                    continue;
                }
                ASSERT_TRUE(fast.ok()) << what;
                EXPECT_TRUE(SamePixels(fast.picture, spng.picture)) << what;
                ++direct;
            }
        }
    }
    EXPECT_EQ(direct, 4 * 3);
}

}  // namespace
}  // namespace zav
