/* The C side of bench_io.py: loads (and releases) or saves one picture N times through the C
 * interface and prints the seconds of each call, one per line.
 * usage: load_save load|save FILE N [SAVE_AS] */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zavimage/zavimage.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int main(int argc, char **argv) {
    if (argc < 4 || (strcmp(argv[1], "save") == 0 && argc < 5)) {
        fprintf(stderr, "usage: load_save load|save FILE N [SAVE_AS]\n");
        return 2;
    }
    const int n = atoi(argv[3]);
    ZAVImageObject *obj = ZAVCreateObject();
    ZAVImageStruct image;
    if (ZAVLoadImageUtf8(obj, argv[2], &image) != 0) {
        fprintf(stderr, "%s: %s\n", argv[2], ZAVFileStatusText(ZAVGetFileStatus(obj)));
        return 1;
    }
    const int load = strcmp(argv[1], "load") == 0;
    for (int i = 0; i < n; ++i) {
        const double start = Now();
        int32_t result;
        if (load) {
            ZAVImageStruct again;
            result = ZAVLoadImageUtf8(obj, argv[2], &again);
            ZAVImageStruct *p = &again;
            ZAVReleaseImage(obj, &p);
        } else {
            ZAVSetImageQuality(obj, 2.0f);
            result = ZAVSaveImageUtf8(obj, argv[4], image.data, image.width, image.height,
                                      image.depth, image.channels);
        }
        printf("%.9f\n", Now() - start);
        if (result != 0) {
            return 1;
        }
    }
    ZAVImageStruct *p = &image;
    ZAVReleaseImage(obj, &p);
    ZAVDestroyObject(obj);
    return 0;
}
