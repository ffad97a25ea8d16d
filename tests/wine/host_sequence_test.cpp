// The typical job of a host through COM on files under Windows paths: quality 2, load a bitmap,
// caption it in Chinese in red, mark a region, save as JPEG, release; the JPEG file's quantization
// tables read back. The script compares the files written here with those the native library
// writes for the same job.
#include <array>
#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host.h"
#include "host_sequence.h"

namespace zavtest {

namespace {

// ITU-T T.81 Annex K tables K.1 (luminance) and K.2 (chrominance), natural order.
const std::array<int, 64> kAnnexKLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

const std::array<int, 64> kAnnexKChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Natural-order index of each position of the zigzag sequence.
const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Tables by their identifier, each in natural (row-major) order; empty when the file is not a
// JPEG file with 8-bit tables.
std::map<int, std::array<int, 64>> QuantizationTables(const std::vector<unsigned char> &file) {
    std::map<int, std::array<int, 64>> tables;
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) {
        return {};
    }
    std::size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF) {
        const int marker = file[pos + 1];
        const std::size_t length = (file[pos + 2] << 8) | file[pos + 3];
        if (marker == 0xDA || pos + 2 + length > file.size()) {
            break;  // start of scan: every table has been seen
        }
        if (marker == 0xDB) {
            std::size_t p = pos + 4;
            while (p + 65 <= pos + 2 + length) {
                if ((file[p] >> 4) != 0) {
                    return {};  // 16-bit tables
                }
                std::array<int, 64> table{};
                for (int k = 0; k < 64; ++k) {
                    table[kZigzag[k]] = file[p + 1 + k];
                }
                tables[file[p] & 15] = table;
                p += 65;
            }
        }
        pos += 2 + length;
    }
    return tables;
}

int CountRed(const ZAVImageStruct &image, int x0, int y0, int x1, int y1) {
    int red = 0;
    for (int y = y0; y <= y1 && y < image.height; ++y) {
        for (int x = x0; x <= x1 && x < image.width; ++x) {
            const unsigned char *p = image.data + y * Stride(image) + 3 * x;
            red += p[0] == 0 && p[1] == 0 && p[2] == 255;
        }
    }
    return red;
}

}  // namespace

void RunSequenceGroup(const wchar_t *input, const wchar_t *jpegOut, const wchar_t *bmpOut) {
    CHECK_EQ(936, GetACP());
    ComObject object;
    if (!object) {
        return;
    }
    CHECK_HR(S_OK, object->ZAVSetImageQuality(kSequenceQuality));
    ZAVImageStruct image{};
    CHECK_HR(S_OK, object->ZAVLoadImage(Bstr(input), &image));
    CHECK_EQ(8, image.depth);
    CHECK_EQ(3, image.channels);
    if (image.data == nullptr) {
        return;
    }
    // The caption in the ANSI code page: GBK bytes.
    char caption[64] = {};
    CHECK(WideCharToMultiByte(CP_ACP, 0, kSequenceCaption, -1, caption, sizeof caption, nullptr,
                              nullptr) > 0);
    CHECK_EQ(0xD6, static_cast<unsigned char>(caption[0]));  // 中 is D6 D0 in GBK
    CHECK_EQ(0, CountRed(image, 0, 0, image.width - 1, image.height - 1));
    CHECK_HR(S_OK, object->ZAVPutTextToImage(&image, reinterpret_cast<unsigned char *>(caption),
                                             kSequenceTextX, kSequenceTextY, 2, kSequenceFontSize,
                                             kSequenceCharSpace, 0.0f));
    // Red ink stands on the text row, right of the start column.
    const int ink = CountRed(image, kSequenceTextX, 0, image.width - 1, kSequenceTextY);
    CHECK(ink > 50);
    CHECK_EQ(ink, CountRed(image, 0, 0, image.width - 1, image.height - 1));

    const ZAVImageRect region{kSequenceRect[0], kSequenceRect[1], kSequenceRect[2],
                              kSequenceRect[3]};
    CHECK_HR(S_FALSE, object->ZAVDrawRect(&image, region, kSequenceRectColor));
    CHECK_HR(S_OK, object->ZAVSaveImage(Bstr(jpegOut), image.data, image.width, image.height,
                                        image.depth, image.channels));
    CHECK_HR(S_OK, object->ZAVSaveImage(Bstr(bmpOut), image.data, image.width, image.height,
                                        image.depth, image.channels));
    ZAVImageStruct *record = &image;
    CHECK_HR(S_OK, object->ZAVReleaseImage(&record));
    // The release clears data: a second release of the record frees nothing.
    CHECK(image.data == nullptr);
    CHECK_HR(S_OK, object->ZAVReleaseImage(&record));

    // Quality 2 halves the Annex K tables, an exact half rounding up.
    const auto tables = QuantizationTables(FileBytes(jpegOut));
    CHECK_EQ(2, tables.size());
    if (tables.size() == 2 && tables.count(0) && tables.count(1)) {
        for (int i = 0; i < 64; ++i) {
            CHECK_EQ((kAnnexKLuminance[i] + 1) / 2, tables.at(0)[i]);
            CHECK_EQ((kAnnexKChrominance[i] + 1) / 2, tables.at(1)[i]);
        }
        CHECK_EQ(6, tables.at(0)[1]);  // 11 becomes 6
    }
}

}  // namespace zavtest
