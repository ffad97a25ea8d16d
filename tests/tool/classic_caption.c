/* The classic caption drawn straight through the C interface, for comparing with the tool's
 * --classic output: classic_caption IN OUT TEXT X Y COLOR SIZE SPACE. */
#include <stdio.h>
#include <stdlib.h>

#include "zavimage/zavimage.h"

int main(int argc, char **argv) {
    if (argc != 9) {
        fprintf(stderr, "usage: classic_caption IN OUT TEXT X Y COLOR SIZE SPACE\n");
        return 2;
    }
    ZAVImageObject *obj = ZAVCreateObject();
    ZAVImageStruct image;
    if (obj == NULL || ZAVLoadImagePath(obj, argv[1], &image) != 0) {
        fprintf(stderr, "classic_caption: cannot load %s\n", argv[1]);
        return 1;
    }
    const int32_t drawn =
        ZAVPutTextToImageUtf8(obj, &image, argv[3], atoi(argv[4]), atoi(argv[5]), atoi(argv[6]),
                              strtof(argv[7], NULL), strtof(argv[8], NULL), 0.0f);
    const int32_t saved = ZAVSaveImagePath(obj, argv[2], image.data, image.width, image.height,
                                           image.depth, image.channels);
    ZAVImageStruct *p = &image;
    ZAVReleaseImage(obj, &p);
    ZAVDestroyObject(obj);
    return drawn != 0 || saved != 0;
}
