/* Changes one rule of the library from outside, for the test that both front ends follow it:
 * preloaded, it makes the format table say that PNG writes no picture gray. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include "zavimage/zavimage.h"

ZAV_API int32_t ZAVGetFormat(int32_t index, ZAVFormatInfo *info) {
    void *real_address = dlsym(RTLD_NEXT, "ZAVGetFormat");
    if (real_address == NULL) {
        /* Python loads the library by its path, outside the global scope */
        const char *path = getenv("ZAVIMAGE_LIBRARY");
        void *library = path != NULL ? dlopen(path, RTLD_NOW | RTLD_NOLOAD) : NULL;
        real_address = library != NULL ? dlsym(library, "ZAVGetFormat") : NULL;
        if (real_address == NULL) {
            return 1;
        }
    }
    int32_t (*real)(int32_t, ZAVFormatInfo *) = (int32_t(*)(int32_t, ZAVFormatInfo *))real_address;
    const int32_t result = real(index, info);
    if (result == 0 && strcmp(info->name, "PNG") == 0) {
        info->grayExtensions = "";
    }
    return result;
}
