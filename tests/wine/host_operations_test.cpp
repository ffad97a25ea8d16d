// Every operation of IZAVImageOCX through COM: result codes, records and pixels, so that each
// argument is seen to arrive where the core expects it.
#include <cmath>
#include <cstring>
#include <vector>

#include "host.h"

namespace zavtest {

namespace {

unsigned char *Pixel(const ZAVImageStruct &r, int x, int y) {
    return r.data + y * Stride(r) + x * r.channels;
}

void Fill(const ZAVImageStruct &r) {
    for (int y = 0; y < r.height; ++y) {
        for (int x = 0; x < r.width * r.channels; ++x) {
            r.data[y * Stride(r) + x] = static_cast<unsigned char>(7 * x + 31 * y + 1);
        }
    }
}

void CheckBuffers(const ComObject &object) {
    ZAVImageStruct image{};
    CHECK_HR(S_OK, object->ZAVCreateImage(5, 4, 8, 3, &image));
    CHECK_EQ(5, image.width);
    CHECK_EQ(4, image.height);
    CHECK_EQ(8, image.depth);
    CHECK_EQ(3, image.channels);
    CHECK(image.data != nullptr && reinterpret_cast<uintptr_t>(image.data) % 32 == 0);
    if (image.data == nullptr) {
        return;
    }
    Fill(image);

    ZAVImageStruct clone{};
    CHECK_HR(S_FALSE, object->ZAVCloneImage(&image, &clone));
    CHECK(clone.data != nullptr && clone.data != image.data);
    CHECK(clone.width == 5 && clone.height == 4 && clone.depth == 8 && clone.channels == 3);
    if (clone.data != nullptr) {
        CHECK(std::memcmp(clone.data, image.data, 16 * 4) == 0);
        CHECK_HR(S_OK, object->ZAVFlipImage(clone.data, 5, 4, 8, 3));
        CHECK(std::memcmp(clone.data, image.data + 3 * 16, 15) == 0);
        CHECK(std::memcmp(clone.data + 3 * 16, image.data, 15) == 0);
        CHECK_HR(S_OK, Release(object, &clone));
    }

    // Nearest-neighbour resize into a 10 x 8 buffer whose record is never written.
    ZAVImageStruct large{};
    CHECK_HR(S_OK, object->ZAVCreateImage(10, 8, 8, 3, &large));
    const ZAVImageStruct largeBefore = large;
    CHECK_HR(S_OK, object->ZAVReSizeImage(&image, &large));
    CHECK(std::memcmp(&large, &largeBefore, sizeof large) == 0);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 10; ++x) {
            CHECK(std::memcmp(Pixel(large, x, y), Pixel(image, x / 2, y / 2), 3) == 0);
        }
    }

    // Region copy: the 2 x 2 block at (1, 1) of image to (6, 4) of large.
    CHECK_HR(S_OK, object->ZAVCopyImage(&image, 1, 1, 2, 2, &large, 6, 4, 2, 2));
    CHECK(std::memcmp(Pixel(large, 6, 4), Pixel(image, 1, 1), 6) == 0);
    CHECK(std::memcmp(Pixel(large, 6, 5), Pixel(image, 1, 2), 6) == 0);

    CHECK_HR(S_OK, Release(object, &large));
    CHECK_HR(S_OK, Release(object, &image));
}

void CheckMarkerAndText(const ComObject &object) {
    ZAVImageStruct image{};
    CHECK_HR(S_OK, object->ZAVCreateImage(120, 80, 8, 3, &image));
    if (image.data == nullptr) {
        return;
    }
    std::memset(image.data, 0, static_cast<size_t>(Stride(image)) * 80);
    std::vector<unsigned char> before(image.data, image.data + Stride(image) * 80);

    // Nothing is drawn from a start point outside the buffer; the result is still 0.
    unsigned char text[] = "AB";
    CHECK_HR(S_OK, object->ZAVPutTextToImage(&image, text, 120, 40, 1, 20.0f, 0.1f, 0.0f));
    CHECK(std::memcmp(before.data(), image.data, before.size()) == 0);
    CHECK_HR(S_OK, object->ZAVPutTextToImage(&image, text, 5, 40, 1, 20.0f, 0.1f, 0.5f));
    int green = 0;
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 120; ++x) {
            const unsigned char *p = Pixel(image, x, y);
            green += p[0] == 0 && p[1] == 255 && p[2] == 0;
            CHECK(p[0] == 0 && p[2] == 0);
            CHECK(y <= 40 || p[1] == 0);  // glyphs stand on row 40
        }
    }
    CHECK(green > 20);

    std::memcpy(before.data(), image.data, before.size());
    const ZAVImageRect rect{60, 30, 20, 15};
    CHECK_HR(S_FALSE, object->ZAVDrawRect(&image, rect, 2));
    CHECK(std::memcmp(before.data(), image.data, before.size()) != 0);
    CHECK_HR(S_OK, Release(object, &image));
}

void CheckRefusals(const ComObject &object) {
    ZAVImageStruct untouched{1, 2, 3, 4, reinterpret_cast<unsigned char *>(0x1234)};
    const ZAVImageStruct copy = untouched;
    CHECK_HR(S_FALSE, object->ZAVLoadImage(nullptr, &untouched));
    CHECK_HR(S_FALSE, object->ZAVLoadImage(Bstr(L""), &untouched));
    CHECK_HR(S_FALSE, object->ZAVLoadImage(Bstr(L"c:\\no such folder\\a.bmp"), &untouched));
    CHECK(std::memcmp(&untouched, &copy, sizeof copy) == 0);
    unsigned char pixels[16 * 2] = {};
    CHECK_HR(S_FALSE, object->ZAVSaveImage(nullptr, pixels, 4, 2, 8, 3));
    CHECK_HR(S_FALSE, object->ZAVSaveImage(Bstr(L"c:\\zav-four.bmp"), pixels, 4, 2, 8, 4));
    CHECK(GetFileAttributesW(L"c:\\zav-four.bmp") == INVALID_FILE_ATTRIBUTES);
}

void CheckQuality(const ComObject &object) {
    CHECK_HR(S_OK, object->ZAVSetImageQuality(-1.0f));
    CHECK_HR(S_OK, object->ZAVSetImageQuality(std::nanf("")));
    CHECK_HR(S_OK, object->ZAVSetImageQuality(2.0f));
}

}  // namespace

void RunOperationsGroup() {
    ComObject object;
    if (!object) {
        return;
    }
    CheckQuality(object);
    CheckBuffers(object);
    CheckMarkerAndText(object);
    CheckRefusals(object);
}

}  // namespace zavtest
