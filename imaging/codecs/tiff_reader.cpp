// The TIFF reader, and libtiff's client over a file in memory or read through a source.
#include "imaging/codecs/tiff.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "imaging/codecs/byte_order.h"

namespace zav {
namespace {

// Bytes of the 32-bit raster that the general path decodes at once (whole strips or tiles).
constexpr uint64_t kRasterBudget = uint64_t{16} << 20;
// Bytes of decoded strip data that the simple paths decode at once.
constexpr uint64_t kStripBudget = uint64_t{4} << 20;

// How the picture is decoded.
enum class Path {
    kGray,     // 1, 2, 4 or 8-bit gray, first sample of each pixel
    kPalette,  // 1, 2, 4 or 8-bit colour-map indices
    kRgb,      // 8-bit red, green, blue (and extra samples), interleaved
    kLab,      // 8-bit CIE L*a*b* (and extra samples), interleaved, D50 white
    kGeneral,  // everything else, through libtiff's RGBA interface
};

// The entries of the first directory of a classic TIFF file.
struct FirstDirectory {
    bool classic = false;   // a classic TIFF header (BigTIFF and others are left to libtiff)
    bool cutShort = false;  // the directory runs past the end of the file
    bool big = false;       // big-endian numbers
    uint32_t count = 0;
    std::unique_ptr<uint8_t[]> entries;  // count entries of 12 bytes
};

FirstDirectory ReadFirstDirectory(const TiffMemoryFile &f) {
    FirstDirectory d;
    uint8_t header[8];
    if (!f.Copy(0, header, sizeof header)) {
        d.cutShort = true;
        return d;
    }
    d.big = header[0] == 0x4D;
    if (Load16(header + 2, d.big) != 42) {
        return d;
    }
    d.classic = true;
    const uint64_t dir = Load32(header + 4, d.big);
    uint8_t count[2];
    if (!f.Copy(dir, count, sizeof count)) {
        d.cutShort = true;
        return d;
    }
    const uint32_t entries = Load16(count, d.big);
    d.entries.reset(new (std::nothrow) uint8_t[std::size_t{entries} * 12 + 1]);
    if (!d.entries || !f.Copy(dir + 2, d.entries.get(), std::size_t{entries} * 12)) {
        d.cutShort = d.entries != nullptr;
        return d;
    }
    d.count = entries;
    return d;
}

// True when the first directory of a classic TIFF file, or a value it points at, lies past the end
// of the file: the file was cut short rather than damaged.
bool DirectoryCutShort(const TiffMemoryFile &f) {
    const FirstDirectory d = ReadFirstDirectory(f);
    if (d.cutShort) {
        return true;
    }
    static constexpr uint8_t kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                             8, 4, 8, 4, 0, 0, 8, 8, 8};
    for (uint32_t i = 0; i < d.count; ++i) {
        const uint8_t *e = d.entries.get() + 12 * i;
        const uint16_t type = Load16(e + 2, d.big);
        const uint64_t unit = type < sizeof kTypeBytes ? kTypeBytes[type] : 0;
        const uint64_t bytes = unit * Load32(e + 4, d.big);
        if (bytes > 4 && Load32(e + 8, d.big) + bytes > f.Size()) {
            return true;
        }
    }
    return false;
}

// The photometric interpretation stored in the first directory, as written (libtiff may
// substitute another value, e.g. when the colour map of a palette picture cannot be read). 0xFFFF
// when the directory holds none or cannot be read.
uint16_t StoredPhotometric(const TiffMemoryFile &f) {
    const FirstDirectory d = ReadFirstDirectory(f);
    for (uint32_t i = 0; i < d.count; ++i) {
        const uint8_t *e = d.entries.get() + 12 * i;
        if (Load16(e, d.big) == TIFFTAG_PHOTOMETRIC && Load16(e + 2, d.big) == TIFF_SHORT) {
            return Load16(e + 8, d.big);
        }
    }
    return 0xFFFF;
}

bool HasColourMap(TIFF *tif) {
    uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    return TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) == 1 && red != nullptr;
}

// libtiff reads what it needs: bytes in memory through its mapping, a file through the source.
class TiffReader final : public ImageReader {
  public:
    explicit TiffReader(ReaderInput file) : m_input(file) {}
    ~TiffReader() override {
        if (m_tif != nullptr) {
            TIFFClose(m_tif);
        }
    }
    TiffReader(const TiffReader &) = delete;
    TiffReader &operator=(const TiffReader &) = delete;

    CodecStatus ReadHeader(ImageInfo *info) override;
    CodecStatus ReadData(uint8_t *bgr, std::size_t step) override;

  private:
    bool StripsCutShort() const;
    CodecStatus Failure() const;
    // The simple paths: strips of lines, each line converted on its own.
    CodecStatus ReadLines(uint8_t *bgr, std::size_t step);
    void ConvertLine(const uint8_t *s, uint8_t *d) const;
    CodecStatus ReadThroughRgba(uint8_t *bgr, std::size_t step);
    // The whole stored raster (m_width x m_height, rows as stored) into the picture of an
    // orientation from 5 to 8, m_height pixels wide.
    void TransposeRaster(const uint32_t *raster, uint8_t *bgr, std::size_t step) const;

    ReaderInput m_input;
    TiffMemoryFile m_file;
    TIFF *m_tif = nullptr;
    bool m_headerRead = false;
    Path m_path = Path::kGeneral;
    uint32_t m_width = 0;
    uint32_t m_height = 0;
    uint16_t m_bits = 0;
    uint16_t m_samples = 0;
    bool m_whiteIsZero = false;
    // Orientations 5 to 8: stored rows are the picture's columns (m_width and m_height are the
    // stored sizes; the picture is m_height wide).
    uint16_t m_orientation = ORIENTATION_TOPLEFT;
    uint8_t m_palette[256][3] = {};  // blue, green, red
};

// Orientations whose stored rows are the picture's columns.
bool Transposed(uint16_t orientation) {
    return orientation >= ORIENTATION_LEFTTOP && orientation <= ORIENTATION_LEFTBOT;
}

// sRGB's transfer function, from linear light in [0, 1] to 0..255, rounded.
uint8_t EncodeSrgb(double linear) {
    linear = std::clamp(linear, 0.0, 1.0);
    const double v =
        linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1.0 / 2.4) - 0.055;
    return static_cast<uint8_t>(std::lround(v * 255.0));
}

// CIE L*a*b* relative to the D50 white (as TIFF stores it: L* scaled to 0..255, a* and b* signed
// bytes) to sRGB blue, green, red: to XYZ under D50, adapted to D65 by the Bradford transform and
// taken to linear sRGB in one matrix, then sRGB's transfer function.
void LabToBgr(uint8_t l8, uint8_t a8, uint8_t b8, uint8_t *bgr) {
    constexpr double kEpsilon = 6.0 / 29.0;
    const auto finv = [](double t) {
        return t > kEpsilon ? t * t * t : 3.0 * kEpsilon * kEpsilon * (t - 4.0 / 29.0);
    };
    const double l = l8 * 100.0 / 255.0;
    const double fy = (l + 16.0) / 116.0;
    const double fx = fy + static_cast<int8_t>(a8) / 500.0;
    const double fz = fy - static_cast<int8_t>(b8) / 200.0;
    const double x = 0.96422 * finv(fx);
    const double y = finv(fy);
    const double z = 0.82521 * finv(fz);
    const double r = 3.1338561 * x - 1.6168667 * y - 0.4906146 * z;
    const double g = -0.9787684 * x + 1.9161415 * y + 0.0334540 * z;
    const double b = 0.0719453 * x - 0.2289914 * y + 1.4052427 * z;
    bgr[0] = EncodeSrgb(b);
    bgr[1] = EncodeSrgb(g);
    bgr[2] = EncodeSrgb(r);
}

CodecStatus TiffReader::ReadHeader(ImageInfo *info) {
    m_headerRead = false;
    if (m_tif == nullptr) {
        if (m_input.Source().InMemory()) {
            if (const CodecStatus read = m_input.Whole(&m_file.bytes); read != CodecStatus::kOk) {
                return read;
            }
        } else {
            m_file.source = &m_input.Source();
        }
        m_tif = OpenTiffInMemory(&m_file);
        if (m_tif == nullptr) {
            return DirectoryCutShort(m_file) ? CodecStatus::kTruncated : CodecStatus::kCorrupt;
        }
    }
    uint32_t width = 0, height = 0;
    if (!TIFFGetField(m_tif, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(m_tif, TIFFTAG_IMAGELENGTH, &height) || width < 1 || height < 1) {
        return CodecStatus::kCorrupt;
    }
    if (!FitsDecodeLimit(width, height)) {
        return CodecStatus::kTooLarge;
    }
    m_width = width;
    m_height = height;

    uint16_t photometric = 0xFFFF, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    uint16_t compression = COMPRESSION_NONE, orientation = ORIENTATION_TOPLEFT;
    const bool has_photometric = TIFFGetField(m_tif, TIFFTAG_PHOTOMETRIC, &photometric) == 1;
    // A palette picture whose colour map libtiff could not read (it warns, drops the map and
    // takes the picture as gray or RGB) has lost its colours.
    if (StoredPhotometric(m_file) == PHOTOMETRIC_PALETTE &&
        (photometric != PHOTOMETRIC_PALETTE || !HasColourMap(m_tif))) {
        return DirectoryCutShort(m_file) ? CodecStatus::kTruncated : CodecStatus::kCorrupt;
    }
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_BITSPERSAMPLE, &m_bits);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLESPERPIXEL, &m_samples);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &orientation);
    if (!TIFFIsCODECConfigured(compression)) {
        return CodecStatus::kUnsupported;
    }
    // Signed samples would be read as unsigned by every path below.
    if (format == SAMPLEFORMAT_INT || format == SAMPLEFORMAT_COMPLEXINT) {
        return CodecStatus::kUnsupported;
    }

    const bool simple = !TIFFIsTiled(m_tif) && orientation == ORIENTATION_TOPLEFT &&
                        format == SAMPLEFORMAT_UINT && m_samples >= 1 &&
                        (planar == PLANARCONFIG_CONTIG || m_samples == 1) && has_photometric;
    const bool small_bits = m_bits == 1 || m_bits == 2 || m_bits == 4 || m_bits == 8;
    m_path = Path::kGeneral;
    if (simple &&
        (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) &&
        (m_bits == 8 || (small_bits && m_samples == 1))) {
        m_path = Path::kGray;
        m_whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
    } else if (simple && photometric == PHOTOMETRIC_PALETTE && small_bits && m_samples == 1) {
        uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(m_tif, TIFFTAG_COLORMAP, &red, &green, &blue)) {
            return CodecStatus::kCorrupt;
        }
        // Entries are 16-bit; some writers store 8-bit values there, which shows as no entry
        // above 255.
        const uint32_t entries = uint32_t{1} << m_bits;
        bool eight_bit = true;
        for (uint32_t i = 0; i < entries; ++i) {
            if (red[i] > 255 || green[i] > 255 || blue[i] > 255) {
                eight_bit = false;
            }
        }
        const auto scale = [eight_bit](uint16_t v) {
            return static_cast<uint8_t>(eight_bit ? v : v >> 8);  // the high byte, as libtiff does
        };
        for (uint32_t i = 0; i < entries; ++i) {
            m_palette[i][0] = scale(blue[i]);
            m_palette[i][1] = scale(green[i]);
            m_palette[i][2] = scale(red[i]);
        }
        m_path = Path::kPalette;
    } else if (simple && photometric == PHOTOMETRIC_RGB && m_bits == 8 && m_samples >= 3) {
        m_path = Path::kRgb;
    } else if (photometric == PHOTOMETRIC_CIELAB) {
        // libtiff's own conversion skips the white point's adaptation (a colour cast): only the
        // layout converted exactly here is read.
        if (!(simple && m_bits == 8 && m_samples >= 3)) {
            return CodecStatus::kUnsupported;
        }
        m_path = Path::kLab;
    } else {
        char message[1024];
        if (!TIFFRGBAImageOK(m_tif, message)) {
            return CodecStatus::kUnsupported;
        }
    }

    m_orientation = orientation;
    info->width = static_cast<int32_t>(Transposed(orientation) ? m_height : m_width);
    info->height = static_cast<int32_t>(Transposed(orientation) ? m_width : m_height);
    info->color = !(has_photometric && (photometric == PHOTOMETRIC_MINISBLACK ||
                                        photometric == PHOTOMETRIC_MINISWHITE)) &&
                  (has_photometric || m_samples >= 3);
    m_headerRead = true;
    return CodecStatus::kOk;
}

bool TiffReader::StripsCutShort() const {
    const uint64_t size = m_file.Size();
    const uint32_t count = TIFFNumberOfStrips(m_tif);  // strips, or tiles for a tiled file
    for (uint32_t i = 0; i < count; ++i) {
        int error = 0;
        const uint64_t offset = TIFFGetStrileOffsetWithErr(m_tif, i, &error);
        const uint64_t bytes = TIFFGetStrileByteCountWithErr(m_tif, i, &error);
        if (error == 0 && bytes > 0 && (offset > size || bytes > size - offset)) {
            return true;
        }
    }
    return false;
}

CodecStatus TiffReader::Failure() const {
    return StripsCutShort() ? CodecStatus::kTruncated : CodecStatus::kCorrupt;
}

void TiffReader::ConvertLine(const uint8_t *s, uint8_t *d) const {
    if (m_path == Path::kLab) {
        for (uint32_t x = 0; x < m_width; ++x, s += m_samples, d += 3) {
            LabToBgr(s[0], s[1], s[2], d);
        }
        return;
    }
    if (m_path == Path::kRgb) {
        if (m_samples == 3) {
            SwapRedBlue(s, d, m_width);
            return;
        }
        for (uint32_t x = 0; x < m_width; ++x, s += m_samples, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
        return;
    }
    const uint32_t max_value = (uint32_t{1} << m_bits) - 1;
    const uint32_t per_byte = 8 / m_bits;
    for (uint32_t x = 0; x < m_width; ++x, d += 3) {
        uint32_t v;
        if (m_bits == 8) {
            v = s[std::size_t{x} * m_samples];
        } else {
            const uint32_t shift = 8 - m_bits * (x % per_byte + 1);
            v = (s[x / per_byte] >> shift) & max_value;
        }
        if (m_path == Path::kPalette) {
            d[0] = m_palette[v][0];
            d[1] = m_palette[v][1];
            d[2] = m_palette[v][2];
        } else {
            uint8_t g = static_cast<uint8_t>(v * 255 / max_value);
            if (m_whiteIsZero) {
                g = static_cast<uint8_t>(255 - g);
            }
            d[0] = d[1] = d[2] = g;
        }
    }
}

CodecStatus TiffReader::ReadLines(uint8_t *bgr, std::size_t step) {
    const tmsize_t line_size = TIFFScanlineSize(m_tif);
    const uint64_t needed = m_path == Path::kRgb || m_path == Path::kLab
                                ? uint64_t{m_width} * m_samples
                            : m_bits == 8 ? uint64_t{m_width} * m_samples
                                          : (uint64_t{m_width} * m_bits + 7) / 8;
    if (line_size <= 0 || static_cast<uint64_t>(line_size) < needed) {
        return CodecStatus::kCorrupt;
    }
    const auto line_bytes = static_cast<uint64_t>(line_size);
    uint32_t rows_per_strip = m_height;
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    rows_per_strip = std::clamp<uint32_t>(rows_per_strip, 1, m_height);
    // Whole strips are decoded at once into one reused buffer when they are small enough;
    // otherwise one line at a time.
    const bool by_strip = line_bytes <= kStripBudget / rows_per_strip;
    const uint32_t band = by_strip ? rows_per_strip : 1;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[line_bytes * band]);
    if (!buffer) {
        return CodecStatus::kNoMemory;
    }
    const uint32_t strips = TIFFNumberOfStrips(m_tif);
    for (uint32_t y0 = 0; y0 < m_height; y0 += band) {
        const uint32_t rows = std::min(band, m_height - y0);
        if (by_strip) {
            const uint32_t strip = y0 / rows_per_strip;
            const auto want = static_cast<tmsize_t>(line_bytes * rows);
            if (strip >= strips || TIFFReadEncodedStrip(m_tif, strip, buffer.get(), want) < want) {
                return Failure();
            }
        } else if (TIFFReadScanline(m_tif, buffer.get(), y0, 0) < 0) {
            return Failure();
        }
        for (uint32_t r = 0; r < rows; ++r) {
            ConvertLine(buffer.get() + line_bytes * r, bgr + (std::size_t{y0} + r) * step);
        }
    }
    return CodecStatus::kOk;
}

CodecStatus TiffReader::ReadThroughRgba(uint8_t *bgr, std::size_t step) {
    // An unassociated alpha would make libtiff premultiply the colours; declared associated, the
    // colours come through as stored, and the alpha is dropped anyway.
    uint16_t extra_count = 0;
    uint16_t *extra_types = nullptr;
    if (TIFFGetField(m_tif, TIFFTAG_EXTRASAMPLES, &extra_count, &extra_types) && extra_count > 0 &&
        extra_types[0] == EXTRASAMPLE_UNASSALPHA) {
        std::vector<uint16_t> types(extra_types, extra_types + extra_count);
        types[0] = EXTRASAMPLE_ASSOCALPHA;
        TIFFSetField(m_tif, TIFFTAG_EXTRASAMPLES, extra_count, types.data());
    }

    char message[1024];
    TIFFRGBAImage image;
    if (!TIFFRGBAImageBegin(&image, m_tif, 1, message)) {
        return CodecStatus::kUnsupported;
    }
    // Rows whose stored rows are the picture's columns come as stored and are turned here
    // (libtiff only flips them).
    const bool transposed = Transposed(m_orientation);
    image.req_orientation = transposed ? m_orientation : ORIENTATION_TOPLEFT;

    // Bands of whole strips or tiles when the file stores rows top down; any other orientation
    // is decoded in one band, which libtiff flips as a whole.
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(m_tif, TIFFTAG_ORIENTATION, &orientation);
    uint32_t unit = m_height;
    if (TIFFIsTiled(m_tif)) {
        TIFFGetField(m_tif, TIFFTAG_TILELENGTH, &unit);
    } else {
        TIFFGetFieldDefaulted(m_tif, TIFFTAG_ROWSPERSTRIP, &unit);
    }
    unit = std::clamp<uint32_t>(unit, 1, m_height);
    uint32_t band = m_height;
    if (orientation == ORIENTATION_TOPLEFT) {
        const uint64_t units = kRasterBudget / (uint64_t{m_width} * 4 * unit);
        band = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{unit} * std::max<uint64_t>(units, 1), m_height));
    }
    // Left uncleared: libtiff writes every pixel of a band it decodes, and pages of a band that
    // is never reached (damaged data) are never touched.
    std::unique_ptr<uint32_t[]> raster(new (std::nothrow) uint32_t[std::size_t{m_width} * band]);
    if (!raster) {
        TIFFRGBAImageEnd(&image);
        return CodecStatus::kNoMemory;
    }
    for (uint32_t y0 = 0; y0 < m_height; y0 += band) {
        const uint32_t rows = std::min(band, m_height - y0);
        image.row_offset = static_cast<int>(y0);
        image.col_offset = 0;
        if (!TIFFRGBAImageGet(&image, raster.get(), m_width, rows) || m_file.errors > 0) {
            TIFFRGBAImageEnd(&image);
            return Failure();
        }
        if (transposed) {
            TransposeRaster(raster.get(), bgr, step);
            continue;
        }
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t *s = raster.get() + std::size_t{r} * m_width;
            uint8_t *d = bgr + (std::size_t{y0} + r) * step;
            for (uint32_t x = 0; x < m_width; ++x, d += 3) {
                d[0] = static_cast<uint8_t>(TIFFGetB(s[x]));
                d[1] = static_cast<uint8_t>(TIFFGetG(s[x]));
                d[2] = static_cast<uint8_t>(TIFFGetR(s[x]));
            }
        }
    }
    TIFFRGBAImageEnd(&image);
    return CodecStatus::kOk;
}

void TiffReader::TransposeRaster(const uint32_t *raster, uint8_t *bgr, std::size_t step) const {
    // Stored row r, column c lands in picture column X, row Y: row 0 is the left (5, 8) or right
    // (6, 7) side, column 0 the top (5, 6) or bottom (7, 8).
    const bool fromRight =
        m_orientation == ORIENTATION_RIGHTTOP || m_orientation == ORIENTATION_RIGHTBOT;
    const bool fromBottom =
        m_orientation == ORIENTATION_RIGHTBOT || m_orientation == ORIENTATION_LEFTBOT;
    for (uint32_t r = 0; r < m_height; ++r) {
        const uint32_t *s = raster + std::size_t{r} * m_width;
        const std::size_t x = fromRight ? m_height - 1 - r : r;
        for (uint32_t c = 0; c < m_width; ++c) {
            const std::size_t y = fromBottom ? m_width - 1 - c : c;
            uint8_t *d = bgr + y * step + x * 3;
            d[0] = static_cast<uint8_t>(TIFFGetB(s[c]));
            d[1] = static_cast<uint8_t>(TIFFGetG(s[c]));
            d[2] = static_cast<uint8_t>(TIFFGetR(s[c]));
        }
    }
}

CodecStatus TiffReader::ReadData(uint8_t *bgr, std::size_t step) {
    const uint32_t pictureWidth = Transposed(m_orientation) ? m_height : m_width;
    if (!m_headerRead || bgr == nullptr || step < std::size_t{pictureWidth} * 3) {
        return CodecStatus::kCorrupt;
    }
    m_headerRead = false;
    if (StripsCutShort()) {
        return CodecStatus::kTruncated;
    }
    m_file.errors = 0;
    const CodecStatus status =
        m_path == Path::kGeneral ? ReadThroughRgba(bgr, step) : ReadLines(bgr, step);
    if (status == CodecStatus::kOk && m_file.errors > 0) {
        return Failure();
    }
    return status;
}

}  // namespace

std::unique_ptr<ImageReader> NewTiffReader(ReaderInput file) {
    return std::unique_ptr<ImageReader>(new (std::nothrow) TiffReader(file));
}

namespace {

TiffMemoryFile *File(thandle_t handle) {
    return static_cast<TiffMemoryFile *>(handle);
}

// Bytes read ahead from a source at once.
constexpr std::size_t kReadAheadBytes = std::size_t{128} << 10;

tmsize_t ReadFromSource(TiffMemoryFile *f, void *buffer, tmsize_t size) {
    if (size <= 0) {
        return 0;
    }
    const auto wanted = static_cast<std::size_t>(size);
    auto *out = static_cast<uint8_t *>(buffer);
    // Served from the block read ahead when it holds the start of the request.
    std::size_t done = 0;
    if (f->ahead && f->position >= f->aheadOffset && f->position - f->aheadOffset < f->aheadSize) {
        const auto skip = static_cast<std::size_t>(f->position - f->aheadOffset);
        done = std::min(wanted, f->aheadSize - skip);
        std::memcpy(out, f->ahead.get() + skip, done);
    }
    if (done < wanted) {
        const uint64_t at = f->position + done;
        const std::size_t rest = wanted - done;
        if (rest >= kReadAheadBytes / 2) {
            const int64_t n = f->source->ReadAt(at, out + done, rest);
            if (n < 0) {
                return -1;
            }
            done += static_cast<std::size_t>(n);
        } else {
            if (!f->ahead) {
                f->ahead.reset(new (std::nothrow) uint8_t[kReadAheadBytes]);
            }
            if (!f->ahead) {
                return -1;
            }
            f->aheadSize = 0;
            const int64_t n = f->source->ReadAt(at, f->ahead.get(), kReadAheadBytes);
            if (n < 0) {
                return -1;
            }
            f->aheadOffset = at;
            f->aheadSize = static_cast<std::size_t>(n);
            const std::size_t take = std::min(rest, f->aheadSize);
            std::memcpy(out + done, f->ahead.get(), take);
            done += take;
        }
    }
    f->position += done;
    return static_cast<tmsize_t>(done);
}

tmsize_t ReadProc(thandle_t handle, void *buffer, tmsize_t size) {
    TiffMemoryFile *f = File(handle);
    if (f->source != nullptr) {
        return ReadFromSource(f, buffer, size);
    }
    if (size <= 0 || f->position >= f->bytes.size()) {
        return 0;
    }
    const uint64_t left = f->bytes.size() - f->position;
    const uint64_t n = static_cast<uint64_t>(size) < left ? static_cast<uint64_t>(size) : left;
    std::memcpy(buffer, f->bytes.data() + f->position, static_cast<std::size_t>(n));
    f->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void *, tmsize_t) {
    return -1;  // read only
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    TiffMemoryFile *f = File(handle);
    uint64_t base;
    switch (whence) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = f->position;
            break;
        case SEEK_END:
            base = f->Size();
            break;
        default:
            return static_cast<toff_t>(-1);
    }
    // libtiff passes relative moves as unsigned; anything past 2^63 is refused.
    if (offset > (UINT64_MAX >> 1) - base) {
        return static_cast<toff_t>(-1);
    }
    f->position = base + offset;
    return f->position;
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    return File(handle)->Size();
}

int MapProc(thandle_t handle, void **base, toff_t *size) {
    TiffMemoryFile *f = File(handle);
    if (f->source != nullptr) {
        return 0;  // not in memory: libtiff reads through ReadProc
    }
    // libtiff only reads through the mapping of a file opened for reading.
    *base = const_cast<uint8_t *>(f->bytes.data());
    *size = f->bytes.size();
    return 1;
}

void UnmapProc(thandle_t, void *, toff_t) {}

int OnError(TIFF *, void *user_data, const char *, const char *, va_list) {
    ++static_cast<TiffMemoryFile *>(user_data)->errors;
    return 1;  // handled: the process-wide handlers are not called
}

int OnWarning(TIFF *, void *, const char *, const char *, va_list) {
    return 1;
}

}  // namespace

bool TiffMemoryFile::Copy(uint64_t offset, void *dst, std::size_t size) const {
    if (offset > Size() || size > Size() - offset) {
        return false;
    }
    if (source != nullptr) {
        return source->ReadAt(offset, dst, size) == static_cast<int64_t>(size);
    }
    std::memcpy(dst, bytes.data() + offset, size);
    return true;
}

TIFF *OpenTiffInMemory(TiffMemoryFile *file) {
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return nullptr;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kTiffMaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, file);
    file->position = 0;
    TIFF *tif = TIFFClientOpenExt("memory", "r", file, ReadProc, WriteProc, SeekProc, CloseProc,
                                  SizeProc, MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

}  // namespace zav
