#include "imaging/codecs/jpeg.h"

#include <new>
#include <vector>

#include <jerror.h>

namespace zav {
namespace {

// A progressive file may hold any number of scans; each one costs a pass over the coefficients.
constexpr int kMaxScans = 1000;
// What libjpeg may allocate for one picture (coefficient buffers of multi-scan files).
constexpr long kMaxLibraryMemory = ZAV_MAX_BLOCK_BYTES;
// Rows handed to libjpeg in one call.
constexpr int kRowBatch = 16;

struct ScanLimit {
    jpeg_progress_mgr pub;
};

void CheckScanCount(j_common_ptr cinfo) {
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) {
        FailJpeg(cinfo, CodecStatus::kCorrupt);
    }
}

class JpegReader final : public ImageReader {
  public:
    explicit JpegReader(std::span<const uint8_t> file) : file_(file) {
        progress_.pub.progress_monitor = CheckScanCount;
    }
    ~JpegReader() override {
        if (created_) {
            jpeg_destroy_decompress(&cinfo_);
        }
    }
    JpegReader(const JpegReader &) = delete;
    JpegReader &operator=(const JpegReader &) = delete;

    CodecStatus ReadHeader(ImageInfo *info) override;
    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override;

  private:
    // The parts that call libjpeg: they hold no object with a destructor, so that a jump back from
    // an error skips nothing.
    CodecStatus ParseHeader(ImageInfo *info);
    CodecStatus DecodeRows(uint8_t *bgr, std::size_t step, uint8_t *cmyk_row);

    std::span<const uint8_t> file_;
    jpeg_decompress_struct cinfo_{};
    JpegErrorManager error_;
    ScanLimit progress_{};
    bool created_ = false;
    bool header_read_ = false;
    bool cmyk_ = false;
};

CodecStatus JpegReader::ParseHeader(ImageInfo *info) {
    if (setjmp(error_.jump) != 0) {
        if (created_) {
            jpeg_abort_decompress(&cinfo_);
        }
        return error_.status;
    }
    if (!created_) {
        cinfo_.err = InstallJpegErrorManager(&error_);
        jpeg_create_decompress(&cinfo_);
        created_ = true;
        cinfo_.progress = &progress_.pub;
        cinfo_.mem->max_memory_to_use = kMaxLibraryMemory;
    }
    jpeg_mem_src(&cinfo_, file_.data(), static_cast<unsigned long>(file_.size()));
    if (jpeg_read_header(&cinfo_, TRUE) != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&cinfo_);
        return CodecStatus::kCorrupt;
    }
    if (!FitsDecodeLimit(cinfo_.image_width, cinfo_.image_height)) {
        jpeg_abort_decompress(&cinfo_);
        return CodecStatus::kTooLarge;
    }
    switch (cinfo_.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            cinfo_.out_color_space = JCS_EXT_BGR;
            cmyk_ = false;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            cinfo_.out_color_space = JCS_CMYK;  // converted to blue-green-red here
            cmyk_ = true;
            break;
        default:
            jpeg_abort_decompress(&cinfo_);
            return CodecStatus::kUnsupported;
    }
    cinfo_.scale_num = 1;
    cinfo_.scale_denom = 1;
    cinfo_.dct_method = JDCT_ISLOW;
    info->width = static_cast<int32_t>(cinfo_.image_width);
    info->height = static_cast<int32_t>(cinfo_.image_height);
    info->color = cinfo_.jpeg_color_space != JCS_GRAYSCALE;
    return CodecStatus::kOk;
}

CodecStatus JpegReader::ReadHeader(ImageInfo *info) {
    header_read_ = false;
    if (file_.size() > static_cast<std::size_t>(~0UL)) {
        return CodecStatus::kTooLarge;
    }
    const CodecStatus status = ParseHeader(info);
    header_read_ = status == CodecStatus::kOk;
    return status;
}

// CMYK as Adobe writes it (inverted samples) or as stored plainly, to blue-green-red.
void CmykRowToBgr(const uint8_t *cmyk, uint8_t *bgr, JDIMENSION width, bool inverted) {
    for (JDIMENSION x = 0; x < width; ++x) {
        unsigned c = cmyk[4 * x], m = cmyk[4 * x + 1], y = cmyk[4 * x + 2], k = cmyk[4 * x + 3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[3 * x] = static_cast<uint8_t>((y * k + 127) / 255);
        bgr[3 * x + 1] = static_cast<uint8_t>((m * k + 127) / 255);
        bgr[3 * x + 2] = static_cast<uint8_t>((c * k + 127) / 255);
    }
}

CodecStatus JpegReader::DecodeRows(uint8_t *bgr, std::size_t step, uint8_t *cmyk_row) {
    if (setjmp(error_.jump) != 0) {
        jpeg_abort_decompress(&cinfo_);
        return error_.status;
    }
    if (!jpeg_start_decompress(&cinfo_)) {
        jpeg_abort_decompress(&cinfo_);
        return CodecStatus::kCorrupt;
    }
    const int components = cmyk_ ? 4 : 3;
    if (cinfo_.output_width != cinfo_.image_width || cinfo_.output_height != cinfo_.image_height ||
        cinfo_.output_components != components) {
        jpeg_abort_decompress(&cinfo_);
        return CodecStatus::kUnsupported;
    }
    while (cinfo_.output_scanline < cinfo_.output_height) {
        const JDIMENSION y = cinfo_.output_scanline;
        JSAMPROW rows[kRowBatch];
        JDIMENSION count;
        if (cmyk_) {
            rows[0] = cmyk_row;
            count = 1;
        } else {
            count = cinfo_.output_height - y < JDIMENSION{kRowBatch} ? cinfo_.output_height - y
                                                                     : JDIMENSION{kRowBatch};
            for (JDIMENSION i = 0; i < count; ++i) {
                rows[i] = bgr + (std::size_t{y} + i) * step;
            }
        }
        const JDIMENSION got = jpeg_read_scanlines(&cinfo_, rows, count);
        if (got == 0) {  // the whole file is in memory: no suspension is possible
            jpeg_abort_decompress(&cinfo_);
            return CodecStatus::kCorrupt;
        }
        if (cmyk_) {
            CmykRowToBgr(cmyk_row, bgr + std::size_t{y} * step, cinfo_.output_width,
                         cinfo_.saw_Adobe_marker);
        }
    }
    // Reading to the end of the picture also reports data that stop before it.
    jpeg_finish_decompress(&cinfo_);
    return CodecStatus::kOk;
}

CodecStatus JpegReader::ReadData(uint8_t *bgr, std::size_t step) {
    if (!header_read_ || bgr == nullptr || step < std::size_t{cinfo_.image_width} * 3) {
        return CodecStatus::kCorrupt;
    }
    header_read_ = false;  // the decompressor is used up either way
    std::vector<uint8_t> cmyk_row;
    if (cmyk_) {
        try {
            cmyk_row.resize(std::size_t{cinfo_.image_width} * 4);
        } catch (const std::bad_alloc &) {
            jpeg_abort_decompress(&cinfo_);
            return CodecStatus::kNoMemory;
        }
    }
    return DecodeRows(bgr, step, cmyk_row.data());
}

}  // namespace

std::unique_ptr<ImageReader> NewJpegReader(std::span<const uint8_t> file) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) JpegReader(file));
}

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
