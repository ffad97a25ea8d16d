// Short English texts for the file status codes.
#pragma once

#include <cstdint>

namespace zav {

// A static text for a ZAV_FILE_* code; never null.
const char *FileStatusText(int32_t status) noexcept;

}  // namespace zav
