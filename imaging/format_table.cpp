// The table of the formats the component reads and writes, in the order in which they are asked.
#include "imaging/codecs/filters.h"
#include "imaging/format_registry.h"

namespace zav {

const ImageFormatRegistry &ImageFormatRegistry::Default() {
    static const ImageFormatRegistry registry{
        &BmpFormatFilter(), &JpegFormatFilter(), &SunRasterFormatFilter(),
        &PnmFormatFilter(), &TiffFormatFilter(),
    };
    return registry;
}

}  // namespace zav
