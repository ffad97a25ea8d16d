/* Uses an installed ZAVImage: create, clone and release a buffer. */
#include <stdio.h>
#include <zavimage/zavimage.h>

int main(void) {
    ZAVImageObject *obj = ZAVCreateObject();
    ZAVImageStruct image, copy;
    if (obj == NULL || ZAVCreateImage(obj, 8, 8, ZAV_DEPTH_8U, 3, &image) != 0 ||
        image.data == NULL) {
        return 1;
    }
    image.data[0] = 42;
    const int ok =
        ZAVCloneImage(obj, &image, &copy) == 1 && copy.data != NULL && copy.data[0] == 42;
    ZAVImageStruct *p = &copy;
    ZAVReleaseImage(obj, &p);
    p = &image;
    ZAVReleaseImage(obj, &p);
    ZAVDestroyObject(obj);
    puts(ok ? "consumer: ok" : "consumer: FAILED");
    return ok ? 0 : 1;
}
