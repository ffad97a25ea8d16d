// Short English texts for the file status codes.
#pragma once

#include <cstdint>

namespace zav {

// A static text for a ZAV_FILE_* code; never null.
const char *FileStatusText(int32_t status) noexcept;

// The status for an errno value from opening, reading or writing a file; `otherwise` for errors
// that mean none of the specific statuses.
int32_t FileStatusFromErrno(int error, int32_t otherwise) noexcept;

}  // namespace zav
