/* The typical job through the native C interface, for comparison with the same job done by a
 * Windows program through COM under Wine:
 *   zav_com_reference INPUT OUT.JPG OUT.BMP FONT|-
 * Exits with 0 when every call returned what it should. */
#include <stdio.h>
#include <string.h>

#include "host_sequence.h"
#include "zavimage/zavimage.h"

int main(int argc, char **argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: zav_com_reference INPUT OUT.JPG OUT.BMP FONT|-\n");
        return 2;
    }
    ZAVImageObject *obj = ZAVCreateObject();
    if (obj == NULL) {
        return 1;
    }
    int failures = 0;
    ZAVImageStruct image;
    memset(&image, 0, sizeof image);
    failures += ZAVSetImageQuality(obj, kSequenceQuality) != 0;
    if (ZAVLoadImagePath(obj, argv[1], &image) != 0) {
        fprintf(stderr, "zav_com_reference: cannot load %s\n", argv[1]);
        ZAVDestroyObject(obj);
        return 1;
    }
    if (strcmp(argv[4], "-") != 0) {
        ZAVSetFontPath(obj, argv[4]);
    } else {
        /* what the server offers when the prefix has no SimHei */
        ZAVSetFontPath(obj, NULL);
    }
    failures +=
        ZAVPutTextToImageUtf8(obj, &image, kSequenceCaptionUtf8, kSequenceTextX, kSequenceTextY, 2,
                              kSequenceFontSize, kSequenceCharSpace, 0.0f) != 0;
    ZAVImageRect region = {kSequenceRect[0], kSequenceRect[1], kSequenceRect[2], kSequenceRect[3]};
    failures += ZAVDrawRect(obj, &image, region, kSequenceRectColor) != 1;
    failures += ZAVSaveImagePath(obj, argv[2], image.data, image.width, image.height, image.depth,
                                 image.channels) != 0;
    failures += ZAVSaveImagePath(obj, argv[3], image.data, image.width, image.height, image.depth,
                                 image.channels) != 0;
    ZAVImageStruct *record = &image;
    failures += ZAVReleaseImage(obj, &record) != 0;
    ZAVDestroyObject(obj);
    if (failures != 0) {
        fprintf(stderr, "zav_com_reference: %d calls returned an unexpected result\n", failures);
    }
    return failures != 0;
}
