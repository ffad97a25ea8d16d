/* Demonstrates the buffer lifecycle through the C interface: create, clone, release. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "zavimage/zavimage.h"

static void describe(const char *what, const ZAVImageStruct *r) {
    const int32_t stride = (r->width * r->channels + 3) & ~3;
    printf("%-8s %d x %d, depth %d, %d channel(s), stride %d bytes, data %p (%s32-byte aligned)\n",
           what, r->width, r->height, r->depth, r->channels, stride, (void *)r->data,
           ((uintptr_t)r->data % 32u) == 0 ? "" : "not ");
}

int main(void) {
    ZAVImageObject *obj = ZAVCreateObject();
    if (obj == NULL) {
        fprintf(stderr, "zavimage_demo: cannot create the component object\n");
        return 1;
    }
    printf("created a component object (save quality %.1f)\n", 2.0);

    ZAVImageStruct image;
    int32_t rc = ZAVCreateImage(obj, 101, 2, ZAV_DEPTH_8U, 3, &image);
    printf("ZAVCreateImage(101, 2, 8, 3) -> %d\n", rc);
    describe("image", &image);
    if (image.data == NULL) {
        ZAVDestroyObject(obj);
        return 1;
    }
    const int32_t stride = (image.width * image.channels + 3) & ~3;
    for (int32_t i = 0; i < stride * image.height; ++i) {
        image.data[i] = (uint8_t)(i * 7);
    }
    printf("filled %d bytes (%d rows of %d, padding included)\n", stride * image.height,
           image.height, stride);

    ZAVImageStruct copy;
    rc = ZAVCloneImage(obj, &image, &copy);
    printf("ZAVCloneImage -> %d\n", rc);
    describe("clone", &copy);
    const int same =
        copy.data != NULL && memcmp(copy.data, image.data, (size_t)(stride * image.height)) == 0;
    printf("clone bytes %s the original's; blocks %s\n", same ? "equal" : "DIFFER FROM",
           copy.data != image.data ? "differ" : "are the same");

    ZAVImageStruct *p = &copy;
    rc = ZAVReleaseImage(obj, &p);
    printf("ZAVReleaseImage(clone) -> %d\n", rc);
    p = &image;
    rc = ZAVReleaseImage(obj, &p);
    printf("ZAVReleaseImage(image) -> %d\n", rc);

    ZAVDestroyObject(obj);
    printf("destroyed the component object\n");
    return same ? 0 : 1;
}
