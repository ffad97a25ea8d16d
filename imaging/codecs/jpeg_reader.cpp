// The JPEG reader, and the libjpeg error handling it shares with the writer.
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

// The header step parses the head of the file (all of it where the header runs past the head);
// the data step decodes the whole file.
class JpegReader final : public ImageReader {
  public:
    explicit JpegReader(ReaderInput file) : m_input(file) {
        m_progress.pub.progress_monitor = CheckScanCount;
    }
    ~JpegReader() override {
        if (m_created) {
            jpeg_destroy_decompress(&m_cinfo);
        }
    }
    JpegReader(const JpegReader &) = delete;
    JpegReader &operator=(const JpegReader &) = delete;

    CodecStatus ReadHeader(ImageInfo *info) override;
    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override;
    bool ReduceScale(unsigned denominator, ImageInfo *info) override;

  private:
    // The parts that call libjpeg: they hold no object with a destructor, so that a jump back from
    // an error skips nothing.
    CodecStatus ParseHeader(ImageInfo *info);
    CodecStatus DecodeRows(uint8_t *bgr, std::size_t step, uint8_t *cmyk_row);

    // The whole file for the data step; the header is parsed again when only the head was.
    CodecStatus ReadWhole();

    ReaderInput m_input;
    std::span<const uint8_t> m_file;  // the first bytes of the file read so far
    unsigned m_denominator = 1;       // of ReduceScale
    jpeg_decompress_struct m_cinfo{};
    JpegErrorManager m_error;
    ScanLimit m_progress{};
    bool m_created = false;
    bool m_headerRead = false;
    bool m_cmyk = false;
    // The size ReadData writes: the picture's, or a reduced scale's.
    JDIMENSION m_outWidth = 0;
    JDIMENSION m_outHeight = 0;
};

CodecStatus JpegReader::ParseHeader(ImageInfo *info) {
    if (setjmp(m_error.jump) != 0) {
        m_error.skipStrayBytes = false;
        if (m_created) {
            jpeg_abort_decompress(&m_cinfo);
        }
        return m_error.status;
    }
    if (!m_created) {
        m_cinfo.err = InstallJpegErrorManager(&m_error);
        jpeg_create_decompress(&m_cinfo);
        m_created = true;
        m_cinfo.progress = &m_progress.pub;
        m_cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
    }
    jpeg_mem_src(&m_cinfo, m_file.data(), static_cast<unsigned long>(m_file.size()));
    m_error.skipStrayBytes = true;
    const int header = jpeg_read_header(&m_cinfo, TRUE);
    m_error.skipStrayBytes = false;
    if (header != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&m_cinfo);
        return CodecStatus::kCorrupt;
    }
    if (!FitsDecodeLimit(m_cinfo.image_width, m_cinfo.image_height)) {
        jpeg_abort_decompress(&m_cinfo);
        return CodecStatus::kTooLarge;
    }
    switch (m_cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_YCbCr:
        case JCS_RGB:
            m_cinfo.out_color_space = JCS_EXT_BGR;
            m_cmyk = false;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            m_cinfo.out_color_space = JCS_CMYK;  // converted to blue-green-red here
            m_cmyk = true;
            break;
        default:
            jpeg_abort_decompress(&m_cinfo);
            return CodecStatus::kUnsupported;
    }
    m_cinfo.scale_num = 1;
    m_cinfo.scale_denom = 1;
    m_cinfo.dct_method = JDCT_ISLOW;
    m_outWidth = m_cinfo.image_width;
    m_outHeight = m_cinfo.image_height;
    info->width = static_cast<int32_t>(m_cinfo.image_width);
    info->height = static_cast<int32_t>(m_cinfo.image_height);
    info->color = m_cinfo.jpeg_color_space != JCS_GRAYSCALE;
    return CodecStatus::kOk;
}

CodecStatus JpegReader::ReadHeader(ImageInfo *info) {
    m_headerRead = false;
    m_denominator = 1;
    if (m_input.Size() > static_cast<std::size_t>(~0UL)) {
        return CodecStatus::kTooLarge;
    }
    if (const CodecStatus read = m_input.Head(&m_file); read != CodecStatus::kOk) {
        return read;
    }
    CodecStatus status = ParseHeader(info);
    if (status != CodecStatus::kOk && m_file.size() < m_input.Size()) {
        status = ReadWhole();  // markers ran past the head
        if (status == CodecStatus::kOk) {
            status = ParseHeader(info);
        }
    }
    m_headerRead = status == CodecStatus::kOk;
    return status;
}

CodecStatus JpegReader::ReadWhole() {
    return m_input.Whole(&m_file);
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
    if (setjmp(m_error.jump) != 0) {
        jpeg_abort_decompress(&m_cinfo);
        return m_error.status;
    }
    if (!jpeg_start_decompress(&m_cinfo)) {
        jpeg_abort_decompress(&m_cinfo);
        return CodecStatus::kCorrupt;
    }
    const int components = m_cmyk ? 4 : 3;
    if (m_cinfo.output_width != m_outWidth || m_cinfo.output_height != m_outHeight ||
        m_cinfo.output_components != components) {
        jpeg_abort_decompress(&m_cinfo);
        return CodecStatus::kUnsupported;
    }
    while (m_cinfo.output_scanline < m_cinfo.output_height) {
        const JDIMENSION y = m_cinfo.output_scanline;
        JSAMPROW rows[kRowBatch];
        JDIMENSION count;
        if (m_cmyk) {
            rows[0] = cmyk_row;
            count = 1;
        } else {
            count = m_cinfo.output_height - y < JDIMENSION{kRowBatch} ? m_cinfo.output_height - y
                                                                      : JDIMENSION{kRowBatch};
            for (JDIMENSION i = 0; i < count; ++i) {
                rows[i] = bgr + (std::size_t{y} + i) * step;
            }
        }
        const JDIMENSION got = jpeg_read_scanlines(&m_cinfo, rows, count);
        if (got == 0) {  // the whole file is in memory: no suspension is possible
            jpeg_abort_decompress(&m_cinfo);
            return CodecStatus::kCorrupt;
        }
        if (m_cmyk) {
            CmykRowToBgr(cmyk_row, bgr + std::size_t{y} * step, m_cinfo.output_width,
                         m_cinfo.saw_Adobe_marker);
        }
    }
    // Reading to the end of the picture also reports data that stop before it.
    jpeg_finish_decompress(&m_cinfo);
    return CodecStatus::kOk;
}

CodecStatus JpegReader::ReadData(uint8_t *bgr, std::size_t step) {
    if (!m_headerRead || bgr == nullptr || step < std::size_t{m_outWidth} * 3) {
        return CodecStatus::kCorrupt;
    }
    if (m_file.size() < m_input.Size()) {
        // The header was parsed from the head: again over the whole file, at the same scale.
        const JDIMENSION width = m_outWidth, height = m_outHeight;
        ImageInfo info;
        jpeg_abort_decompress(&m_cinfo);  // back to the start, before any header
        CodecStatus status = ReadWhole();
        if (status == CodecStatus::kOk) {
            status = ParseHeader(&info);
        }
        if (status != CodecStatus::kOk) {
            m_headerRead = false;
            return status;
        }
        if (m_denominator > 1) {
            ReduceScale(m_denominator, &info);
        }
        if (m_outWidth != width || m_outHeight != height) {
            jpeg_abort_decompress(&m_cinfo);
            m_headerRead = false;
            return CodecStatus::kCorrupt;
        }
    }
    m_headerRead = false;  // the decompressor is used up either way
    std::vector<uint8_t> cmyk_row;
    if (m_cmyk) {
        try {
            cmyk_row.resize(std::size_t{m_outWidth} * 4);
        } catch (const std::bad_alloc &) {
            jpeg_abort_decompress(&m_cinfo);
            return CodecStatus::kNoMemory;
        }
    }
    return DecodeRows(bgr, step, cmyk_row.data());
}

// libjpeg's reduced inverse transforms give 1/2, 1/4 and 1/8 of each side (rounded up) from the
// same coefficients; upsampled chroma and colour conversion follow at the reduced size.
bool JpegReader::ReduceScale(unsigned denominator, ImageInfo *info) {
    if (!m_headerRead || (denominator != 2 && denominator != 4 && denominator != 8)) {
        return false;
    }
    const auto reduced = [denominator](JDIMENSION side) {
        return static_cast<JDIMENSION>((uint64_t{side} + denominator - 1) / denominator);
    };
    m_denominator = denominator;
    m_cinfo.scale_num = 1;
    m_cinfo.scale_denom = denominator;
    m_outWidth = reduced(m_cinfo.image_width);
    m_outHeight = reduced(m_cinfo.image_height);
    info->width = static_cast<int32_t>(m_outWidth);
    info->height = static_cast<int32_t>(m_outHeight);
    return true;
}

}  // namespace

std::unique_ptr<ImageReader> NewJpegReader(ReaderInput file) {
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
        if (cinfo->err->msg_code == JWRN_EXTRANEOUS_DATA && Manager(cinfo)->skipStrayBytes) {
            return;  // bytes between header markers: nothing of the picture is lost
        }
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
    manager->skipStrayBytes = false;
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
