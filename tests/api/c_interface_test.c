/* Includes only zavimage.h, links only libzavimage: the C interface is valid C and complete. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "zavimage/zavimage.h"

static int failures = 0;

#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

int main(void) {
    ZAVImageObject *obj = ZAVCreateObject();
    CHECK(obj != NULL);
    if (obj == NULL) {
        return 1;
    }
    CHECK(ZAVSetImageQuality(obj, 2.0f) == 0);

    ZAVImageStruct image;
    CHECK(ZAVCreateImage(obj, 101, 2, ZAV_DEPTH_8U, 3, &image) == 0);
    CHECK(image.width == 101 && image.height == 2 && image.depth == 8 && image.channels == 3);
    CHECK(image.data != NULL && ((uintptr_t)image.data % 32u) == 0);
    if (image.data != NULL) {
        for (int i = 0; i < 608; ++i) {
            image.data[i] = (uint8_t)(i ^ 0x5A);
        }
    }

    ZAVImageStruct copy;
    CHECK(ZAVCloneImage(obj, &image, &copy) == 1);
    CHECK(copy.width == 101 && copy.height == 2 && copy.depth == 8 && copy.channels == 3);
    CHECK(copy.data != NULL && copy.data != image.data);
    if (copy.data != NULL && image.data != NULL) {
        CHECK(memcmp(copy.data, image.data, 608) == 0);
    }

    ZAVImageStruct *p = &copy;
    CHECK(ZAVReleaseImage(obj, &p) == 0);
    CHECK(p == &copy);
    p = &image;
    CHECK(ZAVReleaseImage(obj, &p) == 0);

    ZAVImageRect rect = {1, 2, 3, 4};
    CHECK(sizeof rect == 16 && sizeof(ZAVImageStruct) == 16 + sizeof(void *));
    CHECK(ZAV_DEPTH_8S == -2147483640 && ZAV_DEPTH_32S == -2147483616);

    ZAVDestroyObject(obj);
    if (failures != 0) {
        fprintf(stderr, "%d check(s) failed\n", failures);
        return 1;
    }
    return 0;
}
