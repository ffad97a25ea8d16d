// The JPEG writer and the quantization tables of the save quality.
#include "imaging/codecs/jpeg.h"

#include <cmath>
#include <new>

namespace zav {
namespace {

constexpr std::size_t kOutputChunk = 64 * 1024;

// libjpeg's output goes to the sink in chunks.
struct SinkDestination {
    jpeg_destination_mgr pub;  // first, so that cinfo->dest points at the whole
    ByteSink *sink = nullptr;
    JOCTET buffer[kOutputChunk];
};

SinkDestination *Destination(j_compress_ptr cinfo) {
    return reinterpret_cast<SinkDestination *>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo) {
    SinkDestination *d = Destination(cinfo);
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = kOutputChunk;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    SinkDestination *d = Destination(cinfo);
    // libjpeg calls this only with the buffer full.
    if (!d->sink->Write(d->buffer, kOutputChunk)) {
        FailJpeg(reinterpret_cast<j_common_ptr>(cinfo), CodecStatus::kIoError);
    }
    d->pub.next_output_byte = d->buffer;
    d->pub.free_in_buffer = kOutputChunk;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    SinkDestination *d = Destination(cinfo);
    const std::size_t used = kOutputChunk - d->pub.free_in_buffer;
    if (used > 0 && !d->sink->Write(d->buffer, used)) {
        FailJpeg(reinterpret_cast<j_common_ptr>(cinfo), CodecStatus::kIoError);
    }
}

// Everything one compression needs, kept off the stack (the output chunk is large).
struct Compression {
    jpeg_compress_struct cinfo{};
    JpegErrorManager error;
    SinkDestination destination;
};

void SetComponent(jpeg_component_info *c, int id, int sampling, int table) {
    c->component_id = id;
    c->h_samp_factor = sampling;
    c->v_samp_factor = sampling;
    c->quant_tbl_no = table;
    c->dc_tbl_no = table;
    c->ac_tbl_no = table;
}

// Holds no object with a destructor, so that a jump back from an error skips nothing.
CodecStatus Compress(Compression *z, const WriteRequest &request, ByteSink &sink,
                     const JpegQuantTables &tables) {
    jpeg_compress_struct *cinfo = &z->cinfo;
    if (setjmp(z->error.jump) != 0) {
        jpeg_destroy_compress(cinfo);
        return z->error.status;
    }
    cinfo->err = InstallJpegErrorManager(&z->error);
    jpeg_create_compress(cinfo);

    z->destination.sink = &sink;
    z->destination.pub.init_destination = InitDestination;
    z->destination.pub.empty_output_buffer = EmptyOutputBuffer;
    z->destination.pub.term_destination = TermDestination;
    cinfo->dest = &z->destination.pub;

    cinfo->image_width = static_cast<JDIMENSION>(request.width);
    cinfo->image_height = static_cast<JDIMENSION>(request.height);
    cinfo->input_components = request.color ? 3 : 1;
    cinfo->in_color_space = request.color ? JCS_EXT_BGR : JCS_GRAYSCALE;
    jpeg_set_defaults(cinfo);
    jpeg_set_colorspace(cinfo, request.color ? JCS_YCbCr : JCS_GRAYSCALE);

    // Y sampled 2 x 2 with table 0; Cb and Cr 1 x 1 with table 1. Gray: one component.
    SetComponent(&cinfo->comp_info[0], 1, request.color ? 2 : 1, 0);
    if (request.color) {
        SetComponent(&cinfo->comp_info[1], 2, 1, 1);
        SetComponent(&cinfo->comp_info[2], 3, 1, 1);
    }

    // The quantizers exactly as given: scale 100 keeps each entry, all are within 1..255.
    unsigned int luminance[64];
    unsigned int chrominance[64];
    for (int i = 0; i < 64; ++i) {
        luminance[i] = tables.luminance[i];
        chrominance[i] = tables.chrominance[i];
    }
    jpeg_add_quant_table(cinfo, 0, luminance, 100, TRUE);
    jpeg_add_quant_table(cinfo, 1, chrominance, 100, TRUE);

    // Baseline, one interleaved scan, the standard Huffman tables set by jpeg_set_defaults.
    cinfo->optimize_coding = FALSE;
    cinfo->arith_code = FALSE;
    cinfo->restart_interval = 0;
    cinfo->restart_in_rows = 0;
    cinfo->smoothing_factor = 0;
    cinfo->dct_method = JDCT_ISLOW;
    cinfo->scan_info = nullptr;
    cinfo->num_scans = 0;

    // JFIF 1.02, no units, aspect 1:1, no thumbnail.
    cinfo->write_JFIF_header = TRUE;
    cinfo->JFIF_major_version = 1;
    cinfo->JFIF_minor_version = 2;
    cinfo->density_unit = 0;
    cinfo->X_density = 1;
    cinfo->Y_density = 1;
    cinfo->write_Adobe_marker = FALSE;

    jpeg_start_compress(cinfo, TRUE);
    while (cinfo->next_scanline < cinfo->image_height) {
        // libjpeg only reads the rows it is given.
        JSAMPROW row =
            const_cast<JSAMPROW>(request.pixels) + std::size_t{cinfo->next_scanline} * request.step;
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return CodecStatus::kOk;
}

class JpegWriter final : public ImageWriter {
  public:
    CodecStatus Write(const WriteRequest &request, ByteSink &sink) override {
        if (request.pixels == nullptr || request.width < 1 || request.height < 1) {
            return CodecStatus::kUnsupported;
        }
        if (request.width > JPEG_MAX_DIMENSION || request.height > JPEG_MAX_DIMENSION) {
            return CodecStatus::kTooLarge;
        }
        const std::size_t row = std::size_t(request.width) * (request.color ? 3 : 1);
        if (request.step < row) {
            return CodecStatus::kUnsupported;
        }
        const JpegQuantTables tables = JpegQuantTablesForQuality(request.quality);
        std::unique_ptr<Compression> z(new (std::nothrow) Compression);
        if (!z) {
            return CodecStatus::kNoMemory;
        }
        return Compress(z.get(), request, sink, tables);
    }
};

}  // namespace

std::unique_ptr<ImageWriter> NewJpegWriter() {
    return std::unique_ptr<ImageWriter>(new (std::nothrow) JpegWriter());
}

const JpegQuantTable kAnnexKLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,
};

const JpegQuantTable kAnnexKChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,
};

namespace {

JpegQuantTable Scale(const JpegQuantTable &base, double q) {
    JpegQuantTable out;
    if (!(q > 0.0)) {  // 0 of either sign, or not a number: the finest tables
        out.fill(1);
        return out;
    }
    const double s = 1.0 / q;
    for (std::size_t i = 0; i < base.size(); ++i) {
        const double v = base[i] * s + 0.0000001;
        // Compared before converting, so that no conversion sees a value outside the range.
        if (!(v < 254.5)) {
            out[i] = 255;
        } else if (v < 1.5) {
            out[i] = 1;
        } else {
            out[i] = static_cast<uint8_t>(std::floor(v + 0.5));
        }
    }
    return out;
}

}  // namespace

JpegQuantTables JpegQuantTablesForQuality(float quality) {
    double q = quality;
    if (q < 0.0 || q > 10.0) {
        q = 0.5;
    }
    return {Scale(kAnnexKLuminance, q), Scale(kAnnexKChrominance, q)};
}

}  // namespace zav
