// The server's only way into the native core: plain functions over the core's C interface, and
// the core's header-only file-name rules.
//
// This header names no record type of the core's C header or of the interface header, so that the
// two descriptions of the same records never meet in one translation unit. Records travel as the
// layouts below, which both sides check against their own definitions.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "imaging/files/name_rules.h"

namespace zavsrv::core {

// The image record as the core and the interface lay it out on this platform: the pixel address at
// offset 16, 24 bytes in all for 64-bit programs and 20 for 32-bit ones.
struct ImageRecord {
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t channels;
    uint8_t *data;
};
static_assert(sizeof(ImageRecord) == 16 + sizeof(void *) && offsetof(ImageRecord, data) == 16);

struct RectRecord {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};
static_assert(sizeof(RectRecord) == 16);

// The core's component object, opaque here.
struct Object;

Object *CreateObject();
void DestroyObject(Object *obj);

// The eleven operations. Names reach the core as Unix paths that the server has already checked
// and mapped; text reaches it as UTF-8.
int32_t LoadImagePath(Object *obj, const char *path, ImageRecord *imageStruct);
int32_t SetImageQuality(Object *obj, float fQuality);
int32_t SaveImagePath(Object *obj, const char *path, const uint8_t *imageData, int32_t width,
                      int32_t height, int32_t depth, int32_t channels);
int32_t CreateImage(Object *obj, int32_t width, int32_t height, int32_t depth, int32_t channels,
                    ImageRecord *imageStruct);
int32_t FlipImage(Object *obj, uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                  int32_t channels);
int32_t ReSizeImage(Object *obj, const ImageRecord *imageStruct,
                    const ImageRecord *videoImageStruct);
int32_t ReleaseImage(Object *obj, ImageRecord **ppImage);
int32_t CopyImage(Object *obj, const ImageRecord *psourceImage, int32_t sx, int32_t sy,
                  int32_t swidth, int32_t sheight, const ImageRecord *pdestImage, int32_t dx,
                  int32_t dy, int32_t dwidth, int32_t dheight);
int32_t PutTextToImageUtf8(Object *obj, const ImageRecord *pImage, const char *text, int32_t x,
                           int32_t y, int32_t color, float fSize, float fCharSpace,
                           float transparency);
int32_t DrawRect(Object *obj, const ImageRecord *pImage, RectRecord thisImageRect, int32_t color);
int32_t CloneImage(Object *obj, const ImageRecord *psourceImage, ImageRecord *pdestImage);

// The first font file the object's text calls try; nullptr restores the core's default.
void SetFontPath(Object *obj, const char *path);

// Brings the narrow form of a host's file name under the core's rules: copies it into out with
// backslashes turned into slashes and returns its length, or returns -1 (out unspecified) for a
// name holding any of * ? " < > ; | or longer than zav::kMaxFileNameBytes bytes. The rules work
// byte by byte: the trail byte of a double-byte character is examined like any other byte below
// 0x80. Inline, so that the native tests check the very code the server runs.
inline int NormalizeFileName(const char *name, char (&out)[zav::kMaxFileNameBytes + 1]) {
    const zav::NameCheck check = zav::CheckFileName(name);
    if (!check.Passes()) {
        return -1;
    }
    zav::CopyNormalizedFileName(name, check.length, out);
    return static_cast<int>(check.length);
}

}  // namespace zavsrv::core
