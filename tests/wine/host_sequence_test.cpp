// The typical job of a host through COM on files under Windows paths: quality 2, load a bitmap,
// caption it in Chinese in red, mark a region, save as JPEG, release. The script compares the
// files written here with those the native library writes for the same job.
#include <cstring>
#include <string>
#include <vector>

#include "host_check.h"
#include "host_jpeg.h"
#include "host_object.h"
#include "host_sequence.h"

namespace zavtest {

namespace {

std::vector<unsigned char> FileBytes(const wchar_t *path) {
    std::vector<unsigned char> bytes;
    HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    bytes.resize(GetFileSize(file, nullptr));
    DWORD read = 0;
    if (!bytes.empty() && !ReadFile(file, bytes.data(), bytes.size(), &read, nullptr)) {
        read = 0;
    }
    bytes.resize(read);
    CloseHandle(file);
    return bytes;
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
