// The C interface: the library's version. ZAV_VERSION and its parts come from the build (the
// project's version in the top CMakeLists.txt), the one place the version is written.
#include "zavimage/zavimage.h"

#if !defined(ZAV_VERSION) || !defined(ZAV_VERSION_MAJOR) || !defined(ZAV_VERSION_MINOR) || \
    !defined(ZAV_VERSION_PATCH)
#error "the build defines ZAV_VERSION and ZAV_VERSION_MAJOR, _MINOR and _PATCH"
#endif

// The header's ZAVIMAGE_VERSION_* are what a program was compiled against: the header of the
// library that is built here.
static_assert(ZAVIMAGE_VERSION_MAJOR == ZAV_VERSION_MAJOR &&
                  ZAVIMAGE_VERSION_MINOR == ZAV_VERSION_MINOR &&
                  ZAVIMAGE_VERSION_PATCH == ZAV_VERSION_PATCH,
              "zavimage.h's ZAVIMAGE_VERSION_* differ from the project's version");

ZAV_API const char *ZAVVersion(void) {
    return ZAV_VERSION;
}
