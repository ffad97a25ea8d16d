// libjpeg error handling that neither prints nor exits: errors and warnings both jump back to the
// caller's setjmp point with a status.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "imaging/codecs/codec.h"

namespace zav {

struct JpegErrorManager {
    jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    CodecStatus status = CodecStatus::kOk;
};

// Fills `manager` and returns the pointer to give to cinfo->err. Every error and every warning
// (premature end of data, corrupt data, extraneous bytes...) ends the work: the status is set
// (unless a status was set already) and control returns to the last setjmp on `jump`.
jpeg_error_mgr *InstallJpegErrorManager(JpegErrorManager *manager);

// Ends the work with `status` from inside a libjpeg callback.
[[noreturn]] void FailJpeg(j_common_ptr cinfo, CodecStatus status);

}  // namespace zav
