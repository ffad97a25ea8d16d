#include "imaging/codecs/jpeg_error.h"

#include <jerror.h>

namespace zav {
namespace {

JpegErrorManager *Manager(j_common_ptr cinfo) {
    return reinterpret_cast<JpegErrorManager *>(cinfo->err);
}

CodecStatus StatusOfMessage(int code) {
    switch (code) {
        case JERR_OUT_OF_MEMORY:
            return CodecStatus::kNoMemory;
        case JERR_NO_BACKING_STORE:  // the memory limit is reached
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
            return CodecStatus::kTooLarge;
        case JERR_INPUT_EMPTY:
        case JWRN_JPEG_EOF:
            return CodecStatus::kTruncated;
        case JERR_CONVERSION_NOTIMPL:
        case JERR_NOTIMPL:
        case JERR_NOT_COMPILED:
        case JERR_ARITH_NOTIMPL:
        case JERR_FRACT_SAMPLE_NOTIMPL:
        case JERR_BAD_PRECISION:
        case JERR_CCIR601_NOTIMPL:
            return CodecStatus::kUnsupported;
        case JERR_FILE_WRITE:
            return CodecStatus::kIoError;
        default:
            return CodecStatus::kCorrupt;
    }
}

[[noreturn]] void OnError(j_common_ptr cinfo) {
    JpegErrorManager *m = Manager(cinfo);
    if (m->status == CodecStatus::kOk) {
        m->status = StatusOfMessage(cinfo->err->msg_code);
    }
    std::longjmp(m->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int msg_level) {
    if (msg_level < 0) {  // a warning: the data are damaged, the picture would be wrong
        OnError(cinfo);
    }
    // Trace messages are ignored.
}

void OnOutput(j_common_ptr) {}

}  // namespace

jpeg_error_mgr *InstallJpegErrorManager(JpegErrorManager *manager) {
    jpeg_std_error(&manager->pub);
    manager->pub.error_exit = OnError;
    manager->pub.emit_message = OnMessage;
    manager->pub.output_message = OnOutput;
    manager->status = CodecStatus::kOk;
    return &manager->pub;
}

void FailJpeg(j_common_ptr cinfo, CodecStatus status) {
    JpegErrorManager *m = Manager(cinfo);
    if (m->status == CodecStatus::kOk) {
        m->status = status;
    }
    std::longjmp(m->jump, 1);
}

}  // namespace zav
