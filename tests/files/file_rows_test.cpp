// Pictures whose rows are read from the file straight into the buffer (24-bit BMP and Sun raster
// files larger than the head read first) load exactly as the same bytes decoded in memory, and
// fail the same way when they are cut short or their header claims more than the file holds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/buffer/image_record.h"
#include "imaging/files/format_table.h"
#include "imaging/files/image_files.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"
#include "zavimage/zavimage.h"

namespace zav {
namespace {

using zavtest::Picture;

// The status and pixels (without row padding) of one load.
struct Loaded {
    int32_t status = -1;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
};

Loaded Keep(int32_t status, ImageHeader &image) {
    Loaded l;
    l.status = status;
    if (status == ZAV_FILE_OK) {
        l.width = image.width;
        l.height = image.height;
        for (int32_t y = 0; y < image.height; ++y) {
            const uint8_t *row = image.imageData + y * image.widthStep;
            l.pixels.insert(l.pixels.end(), row, row + 3 * image.width);
        }
        ReleaseImageData(&image);
    } else {
        EXPECT_EQ(image.imageData, nullptr);
    }
    return l;
}

class FileRows : public ::testing::Test {
  protected:
    Loaded FromFile(const std::vector<uint8_t> &bytes) {
        const std::string path = m_dir / "picture";
        EXPECT_TRUE(zavtest::WriteFile(path, bytes));
        ImageHeader image;
        const int32_t status = LoadImageFile(path.c_str(), NameRules::kSkip, &image);
        return Keep(status, image);
    }
    static Loaded FromMemory(const std::vector<uint8_t> &bytes) {
        ImageHeader image;
        const int32_t status = LoadImageBytes(bytes, &image);
        return Keep(status, image);
    }
    // The file loads as in memory, whole and cut at several places.
    void ExpectSameAsInMemory(const std::vector<uint8_t> &bytes, const std::string &what) {
        ASSERT_GT(bytes.size(), std::size_t{80} << 10) << what;  // more than the head
        const Loaded whole = FromFile(bytes);
        EXPECT_EQ(whole.status, ZAV_FILE_OK) << what;
        const Loaded reference = FromMemory(bytes);
        EXPECT_EQ(whole.pixels, reference.pixels) << what;
        EXPECT_EQ(whole.width, reference.width) << what;
        EXPECT_EQ(whole.height, reference.height) << what;
        for (std::size_t cut : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{1001},
                                bytes.size() / 2, bytes.size() - (std::size_t{64} << 10) + 7}) {
            const std::vector<uint8_t> shorter(bytes.begin(), bytes.end() - cut);
            const Loaded file = FromFile(shorter);
            const Loaded memory = FromMemory(shorter);
            EXPECT_EQ(file.status, memory.status) << what << " cut by " << cut;
            EXPECT_EQ(file.pixels, memory.pixels) << what << " cut by " << cut;
        }
    }

    zavtest::TempDir m_dir;
};

TEST_F(FileRows, BitmapsOfEveryRowPaddingLoadAsInMemory) {
    for (int32_t width : {1000, 1001, 1002, 1003}) {
        const Picture p = zavtest::RampPattern(width, 31, 3);
        const std::vector<uint8_t> bmp = zavtest::EncodeOk(BmpFormat(), p);
        ExpectSameAsInMemory(bmp, "bmp width " + std::to_string(width));
        const Loaded loaded = FromFile(bmp);
        ASSERT_EQ(loaded.status, ZAV_FILE_OK);
        for (int32_t y = 0; y < p.height; ++y) {
            EXPECT_EQ(std::memcmp(loaded.pixels.data() + 3 * width * y, p.Row(y), 3 * width), 0)
                << "width " << width << " row " << y;
        }
    }
}

TEST_F(FileRows, SunRastersLoadAsInMemory) {
    for (int32_t width : {1000, 1001}) {
        const Picture p = zavtest::RampPattern(width, 29, 3);
        std::vector<uint8_t> ras = zavtest::EncodeOk(SunRasterFormat(), p);
        ASSERT_GT(ras.size(), 32u);
        ASSERT_EQ(ras[15], 24);  // depth
        ExpectSameAsInMemory(ras, "ras width " + std::to_string(width));

        // With an (unused) colour map between header and rows.
        std::vector<uint8_t> mapped(ras.begin(), ras.begin() + 32);
        mapped[27] = 1;  // equal RGB map
        mapped[31] = 6;  // of 6 bytes
        const uint8_t map[6] = {1, 2, 3, 4, 5, 6};
        mapped.insert(mapped.end(), map, map + 6);
        mapped.insert(mapped.end(), ras.begin() + 32, ras.end());
        ExpectSameAsInMemory(mapped, "mapped ras width " + std::to_string(width));
        EXPECT_EQ(FromFile(mapped).pixels, FromFile(ras).pixels);

        // Stored red first: converted, not copied.
        std::vector<uint8_t> rgb = ras;
        rgb[23] = 3;
        ExpectSameAsInMemory(rgb, "rgb ras width " + std::to_string(width));
    }
}

// TIFF files larger than the head are read through the file as libtiff asks for their parts.
TEST_F(FileRows, TiffsReadThroughTheFileLoadAsInMemory) {
    const Picture p = zavtest::RampPattern(1001, 37, 3);
    ExpectSameAsInMemory(zavtest::EncodeOk(TiffFormat(), p), "our tiff");
    const std::string ppm = m_dir / "source.ppm";
    const std::string tif = m_dir / "lzw.tif";
    ASSERT_TRUE(zavtest::WriteFile(ppm, zavtest::ToNetpbm(p)));
    if (!zavtest::Shell("pnmtotiff -truecolor -lzw -rowsperstrip 3 " + zavtest::Quote(ppm) + " > " +
                        zavtest::Quote(tif))) {
        GTEST_SKIP() << "pnmtotiff is missing";
    }
    std::vector<uint8_t> lzw = zavtest::ReadFile(tif);
    // Pad the file past the head with bytes no strip uses, so that it is read through the file.
    lzw.resize(std::max<std::size_t>(lzw.size(), std::size_t{100} << 10), 0);
    ExpectSameAsInMemory(lzw, "lzw tiff");
}

// A header that claims more rows than the file holds fails before any row is read.
TEST_F(FileRows, HeadersClaimingMoreRowsThanTheFileHoldsFail) {
    const Picture p = zavtest::RampPattern(1000, 30, 3);
    std::vector<uint8_t> bmp = zavtest::EncodeOk(BmpFormat(), p);
    bmp[22] = 31;  // height
    EXPECT_EQ(FromFile(bmp).status, ZAV_FILE_TRUNCATED);
    std::vector<uint8_t> ras = zavtest::EncodeOk(SunRasterFormat(), p);
    ras[11] = 31;  // height
    EXPECT_EQ(FromFile(ras).status, ZAV_FILE_TRUNCATED);
    EXPECT_EQ(FromMemory(ras).status, ZAV_FILE_TRUNCATED);
}

// A loaded buffer's row padding is zero, from the file and from memory, in every format, even
// when the allocator hands back a block that held other bytes.
TEST_F(FileRows, LoadedRowPaddingIsZero) {
    const ImageFormat *formats[] = {&BmpFormat(), &JpegFormat(), &SunRasterFormat(), &PnmFormat(),
                                    &TiffFormat()};
    for (const ImageFormat *format : formats) {
        for (int32_t width : {1, 2, 3, 5}) {
            const std::vector<uint8_t> bytes =
                zavtest::EncodeOk(*format, zavtest::Pattern(width, 7, 3));
            for (bool file : {true, false}) {
                ImageHeader dirty = CreateImage(width, 7, ZAV_DEPTH_8U, 3);
                ASSERT_NE(dirty.imageData, nullptr);
                std::memset(dirty.imageData, 0xA5, static_cast<std::size_t>(dirty.imageSize));
                ReleaseImageData(&dirty);
                ImageHeader image;
                int32_t status = ZAV_FILE_OK;
                if (file) {
                    const std::string path = m_dir / "picture";
                    ASSERT_TRUE(zavtest::WriteFile(path, bytes));
                    status = LoadImageFile(path.c_str(), NameRules::kSkip, &image);
                } else {
                    status = LoadImageBytes(bytes, &image);
                }
                ASSERT_EQ(status, ZAV_FILE_OK) << format->description << " " << width;
                for (int32_t y = 0; y < image.height; ++y) {
                    const uint8_t *row = image.imageData + y * image.widthStep;
                    for (int64_t x = 3 * width; x < image.widthStep; ++x) {
                        EXPECT_EQ(row[x], 0) << format->description << " " << width << " " << y;
                    }
                }
                ReleaseImageData(&image);
            }
        }
    }
}

}  // namespace
}  // namespace zav
