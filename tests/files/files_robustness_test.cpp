// Damaged files of every format: each truncation of a valid file and each single-byte change of
// its header either loads (a truncation only with the very same picture) or fails with nothing
// handed out and the result untouched. AddressSanitizer and LeakSanitizer watch the rest.
#include <cctype>
#include <cstdint>
#include <cstring>
#include <functional>
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

struct Sample {
    std::string what;
    std::vector<uint8_t> bytes;
    std::size_t headerBytes = 0;  // the bytes that each get every other value
    // Cuts from here on may give another picture: in plain (text) portable images a number cut
    // short at the end of the file is still a number.
    std::size_t ambiguousFrom = SIZE_MAX;
    // Our own writers put nothing into a file that a reader may skip, but for trailing white
    // space and row padding; files of other tools may end with data that the picture does not
    // need.
    bool everyByteNeeded = false;
};

// Where the last number of a plain portable image begins.
std::size_t LastTokenStart(const std::vector<uint8_t> &f) {
    if (f.size() < 2 || f[0] != 'P' || (f[1] != '1' && f[1] != '2' && f[1] != '3')) {
        return SIZE_MAX;
    }
    std::size_t end = f.size();
    while (end > 0 && std::isspace(f[end - 1])) {
        --end;
    }
    std::size_t start = end;
    while (start > 0 && !std::isspace(f[start - 1])) {
        --start;
    }
    // In a plain bitmap the digits need no separator: every cut inside the last run is a picture.
    return start;
}

// Where the picture data begin, as far as "header" goes for each format.
std::size_t HeaderBytes(const std::vector<uint8_t> &f) {
    if (f.size() >= 18 && f[0] == 'B' && f[1] == 'M') {
        return 14 + zavtest::LittleEndian32At(f, 14);  // file and info headers
    }
    if (f.size() >= 2 && f[0] == 'P') {  // the text up to the raster
        std::size_t fields = (f[1] == '1' || f[1] == '4') ? 2 : 3;
        std::size_t i = 2;
        while (i < f.size() && fields > 0) {
            while (i < f.size() && !std::isdigit(f[i])) {
                ++i;
            }
            while (i < f.size() && std::isdigit(f[i])) {
                ++i;
            }
            --fields;
        }
        return i + 1;
    }
    if (f.size() >= 4 && f[0] == 0x59 && f[1] == 0xA6) {
        return 32;
    }
    if (f.size() >= 8 && f[0] == 'I' && f[1] == 'I') {  // the header and the directory
        const uint32_t ifd = zavtest::LittleEndian32At(f, 4);
        const std::size_t entries = f[ifd] | (f[ifd + 1] << 8);
        return std::max<std::size_t>(8, ifd + 2 + 12 * entries + 4);
    }
    if (f.size() >= 4 && f[0] == 0xFF && f[1] == 0xD8) {  // up to the end of the scan header
        std::size_t i = 2;
        while (i + 4 <= f.size() && f[i] == 0xFF) {
            const std::size_t length = (f[i + 2] << 8) | f[i + 3];
            const bool scan = f[i + 1] == 0xDA;
            i += 2 + length;
            if (scan) {
                break;
            }
        }
        return i;
    }
    return std::min<std::size_t>(f.size(), 64);
}

class Robustness : public ::testing::Test {
  protected:
    static void AddOurs(std::vector<Sample> *samples, const char *what, const ImageFormat &filter,
                        int width, int height) {
        for (int channels : {1, 3}) {
            Sample s;
            s.what = std::string(what) + (channels == 3 ? " colour" : " gray");
            s.bytes = zavtest::EncodeOk(filter, zavtest::RampPattern(width, height, channels));
            s.everyByteNeeded = true;
            samples->push_back(std::move(s));
        }
    }

    // Files written by Debian's tools from a small raw pixmap, where the tools are present.
    void AddTools(std::vector<Sample> *samples) {
        const std::string ppm = m_dir / "source.ppm";
        const std::string paletted = m_dir / "paletted.ppm";
        ASSERT_TRUE(zavtest::WriteFile(ppm, zavtest::ToNetpbm(zavtest::RampPattern(7, 5, 3))));
        ASSERT_TRUE(
            zavtest::WriteFile(paletted, zavtest::ToNetpbm(zavtest::PalettePattern(7, 5, 2))));
        const std::string convert = zavtest::ImageMagick();
        const struct {
            const char *what;
            std::string command;
        } tools[] = {
            {"bitmap 1 bit", "ppmtobmp -bpp 1 -windows " + zavtest::Quote(paletted)},
            {"bitmap 4 bits OS/2", "ppmtobmp -bpp 4 -os2 " + zavtest::Quote(paletted)},
            {"bitmap RLE8",
             convert + " " + zavtest::Quote(ppm) + " -type Palette -compress RLE BMP3:-"},
            {"raw pixmap", "cat " + zavtest::Quote(ppm)},
            {"raw graymap", "ppmtopgm " + zavtest::Quote(ppm)},
            {"raw bitmap", "ppmtopgm " + zavtest::Quote(ppm) + " | pgmtopbm -threshold"},
            {"plain bitmap",
             "ppmtopgm " + zavtest::Quote(ppm) + " | pgmtopbm -threshold | pnmtoplainpnm"},
            {"graymap maxval 1000", "ppmtopgm " + zavtest::Quote(ppm) + " | pamdepth 1000"},
            {"progressive JPEG", "cjpeg -progressive " + zavtest::Quote(ppm)},
            {"TIFF PackBits", "pnmtotiff -packbits -truecolor " + zavtest::Quote(ppm)},
        };
        for (const auto &tool : tools) {
            const std::string out = m_dir / "tool.out";
            if (!zavtest::Shell(tool.command + " > " + zavtest::Quote(out))) {
                continue;  // the tool is missing
            }
            Sample s;
            s.what = tool.what;
            s.bytes = zavtest::ReadFile(out);
            if (!s.bytes.empty()) {
                samples->push_back(std::move(s));
            }
        }
    }

    std::vector<Sample> Samples() {
        std::vector<Sample> samples;
        AddOurs(&samples, "bitmap", BmpFormat(), 8, 5);
        AddOurs(&samples, "JPEG", JpegFormat(), 16, 16);
        AddOurs(&samples, "Sun raster", SunRasterFormat(), 6, 5);
        AddOurs(&samples, "plain portable image", PnmFormat(), 5, 3);
        AddOurs(&samples, "TIFF", TiffFormat(), 6, 5);
        AddTools(&samples);
        for (Sample &s : samples) {
            s.headerBytes = std::min(HeaderBytes(s.bytes), s.bytes.size());
            s.ambiguousFrom = LastTokenStart(s.bytes);
        }
        return samples;
    }

    zavtest::TempDir m_dir;
};

constexpr int32_t kUntouched = -7;

// Loads from memory exactly as a file load does. Gives the status; `check` sees a loaded picture
// before it is released. A failed load must leave the result untouched.
int32_t Load(const std::vector<uint8_t> &bytes,
             const std::function<void(const ImageHeader &)> &check = {}) {
    ImageHeader image;
    image.width = kUntouched;
    const int32_t status = LoadImageBytes(bytes, &image);
    if (status == ZAV_FILE_OK) {
        EXPECT_GE(image.width, 1);
        EXPECT_GE(image.height, 1);
        EXPECT_EQ(image.depth, 8);
        EXPECT_EQ(image.nChannels, 3);
        EXPECT_NE(image.imageData, nullptr);
        if (check) {
            check(image);
        }
        ReleaseImageData(&image);
    } else {
        EXPECT_EQ(image.width, kUntouched);
        EXPECT_EQ(image.imageData, nullptr);
    }
    return status;
}

// The pixels without the row padding (which no reader writes).
std::vector<uint8_t> Pixels(const ImageHeader &image) {
    std::vector<uint8_t> pixels;
    for (int32_t y = 0; y < image.height; ++y) {
        pixels.insert(pixels.end(), image.Row(y), image.Row(y) + image.width * 3);
    }
    return pixels;
}

TEST_F(Robustness, EveryTruncationFailsOrGivesTheSamePicture) {
    for (const Sample &s : Samples()) {
        SCOPED_TRACE(s.what);
        std::vector<uint8_t> whole;
        ImageInfo info;
        ASSERT_EQ(Load(s.bytes,
                       [&](const ImageHeader &image) {
                           whole = Pixels(image);
                           info.width = image.width;
                       }),
                  ZAV_FILE_OK)
            << s.what;
        std::size_t loaded = 0;
        for (std::size_t length = 0; length < s.bytes.size(); ++length) {
            const std::vector<uint8_t> cut(s.bytes.begin(), s.bytes.begin() + length);
            const int32_t status = Load(cut, [&](const ImageHeader &image) {
                EXPECT_TRUE(Pixels(image) == whole || length > s.ambiguousFrom)
                    << s.what << " cut to " << length << " of " << s.bytes.size() << " bytes";
            });
            if (status == ZAV_FILE_OK) {
                ++loaded;
            } else {
                EXPECT_NE(status, ZAV_FILE_NO_MEMORY) << s.what << " cut to " << length;
            }
        }
        if (s.everyByteNeeded) {
            EXPECT_LE(loaded, 8u) << s.what;  // only trailing padding or white space
        }
    }
}

// A changed size field can turn a few bytes into a picture of up to 1 GiB that a run-length
// bitmap may fill legitimately. The header step alone is run for pictures above a million pixels,
// so that the test stays fast; their data steps meet the same bounds as small ones.
bool LargerThanTestBudget(const std::vector<uint8_t> &bytes) {
    const ImageFormat *filter = FormatTable::Default().FindReaderFormat(bytes);
    if (filter == nullptr) {
        return false;
    }
    const std::unique_ptr<ImageReader> reader = filter->newReader(bytes);
    ImageInfo info;
    return reader->ReadHeader(&info) == CodecStatus::kOk &&
           int64_t{info.width} * info.height > (int64_t{1} << 20);
}

TEST_F(Robustness, EveryHeaderByteChangedToAMeaningfulValueIsSafe) {
    for (const Sample &s : Samples()) {
        SCOPED_TRACE(s.what);
        std::vector<uint8_t> bytes = s.bytes;
        for (std::size_t at = 0; at < s.headerBytes; ++at) {
            const uint8_t original = bytes[at];
            // The values where sizes, counts and flags change meaning: the extremes, the sign
            // boundary of a byte, and the neighbours of what the field held.
            const int values[] = {0, 1, 0x7F, 0x80, 0xFF, original - 1, original + 1};
            for (const int value : values) {
                if (value < 0 || value > 0xFF || value == original) {
                    continue;
                }
                bytes[at] = static_cast<uint8_t>(value);
                if (LargerThanTestBudget(bytes)) {
                    continue;
                }
                Load(bytes);
            }
            bytes[at] = original;
        }
    }
}

// A palette TIFF whose colour map is cut off: libtiff drops the colour map with a warning and
// reports the picture as gray; the reader must fail instead of handing out a gray picture.
TEST_F(Robustness, APaletteTiffWithoutItsColourMapFails) {
    const std::string ppm = m_dir / "source.ppm";
    const std::string tif = m_dir / "palette.tif";
    ASSERT_TRUE(zavtest::WriteFile(ppm, zavtest::ToNetpbm(zavtest::PalettePattern(7, 5, 4))));
    if (!zavtest::Shell("pnmtotiff -packbits " + zavtest::Quote(ppm) + " > " +
                        zavtest::Quote(tif))) {
        GTEST_SKIP() << "pnmtotiff is missing";
    }
    std::vector<uint8_t> bytes = zavtest::ReadFile(tif);
    ASSERT_GT(bytes.size(), 600u);  // the 16-bit colour map of 256 entries comes last
    bytes.resize(bytes.size() - 512);
    EXPECT_NE(Load(bytes), ZAV_FILE_OK);
}

}  // namespace
}  // namespace zav
