// The file status codes: their short English texts, and the statuses for what codecs and the
// system report.
#pragma once

#include <cstdint>

#include "imaging/codecs/codec.h"

namespace zav {

// A static text for a ZAV_FILE_* code; never null.
const char *FileStatusText(int32_t status) noexcept;

// The status for an errno value from opening, reading or writing a file; `otherwise` for errors
// that mean none of the specific statuses.
int32_t FileStatusFromErrno(int error, int32_t otherwise) noexcept;

// The file status for a codec's status.
int32_t FileStatusFromCodec(CodecStatus status) noexcept;

}  // namespace zav
