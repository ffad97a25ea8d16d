// JPEG files through libjpeg-turbo. The reader takes baseline, extended and progressive files;
// gray, YCbCr, RGB, CMYK and YCCK. The writer writes baseline files with the quantization tables of
// the save quality: JFIF 1.02, one scan, 4:2:0 colour or one gray component, the Annex K Huffman
// tables.
#pragma once

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

#include <jpeglib.h>

#include "imaging/codecs/codec.h"

namespace zav {

std::unique_ptr<ImageReader> NewJpegReader(ReaderInput file);
std::unique_ptr<ImageWriter> NewJpegWriter();

// A table of 64 quantizers in natural (row by row) order.
using JpegQuantTable = std::array<uint8_t, 64>;

// The example tables of ITU-T T.81 Annex K (K.1 luminance, K.2 chrominance), natural order.
extern const JpegQuantTable kAnnexKLuminance;
extern const JpegQuantTable kAnnexKChrominance;

struct JpegQuantTables {
    JpegQuantTable luminance;
    JpegQuantTable chrominance;
};

// The tables for a save quality q: q outside [0, 10] counts as 0.5; each quantizer is the nearest
// integer to E / q + 0.0000001 (E the Annex K entry), kept within 1..255. A quality of 0 (either
// sign) or not a number gives every quantizer 1.
JpegQuantTables JpegQuantTablesForQuality(float quality);

// libjpeg error handling, for the reader and the writer, that neither prints nor exits: errors and
// warnings both jump back to the caller's setjmp point with a status.
struct JpegErrorManager {
    jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    CodecStatus status = CodecStatus::kOk;
    // While the header markers are read, stray bytes before a marker are skipped as djpeg skips
    // them; anywhere else (in or between the scans) they end the work like any other warning.
    bool skipStrayBytes = false;
};

// Fills `manager` and returns the pointer to give to cinfo->err. Every error and every warning
// (premature end of data, corrupt data, extraneous bytes outside skipStrayBytes...) ends the work:
// the status is set (unless a status was set already) and control returns to the last setjmp on
// `jump`.
jpeg_error_mgr *InstallJpegErrorManager(JpegErrorManager *manager);

// Ends the work with `status` from inside a libjpeg callback.
[[noreturn]] void FailJpeg(j_common_ptr cinfo, CodecStatus status);

}  // namespace zav
