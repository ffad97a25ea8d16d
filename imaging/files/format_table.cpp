// The format table: the formats' entries and the lookups by first bytes and by extension.
#include "imaging/files/format_table.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "imaging/codecs/bmp.h"
#include "imaging/codecs/byte_order.h"
#include "imaging/codecs/jpeg.h"
#include "imaging/codecs/png.h"
#include "imaging/codecs/pnm.h"
#include "imaging/codecs/sun_raster.h"
#include "imaging/codecs/tiff.h"

namespace zav {

namespace {

// "BM".
bool IsBmp(const uint8_t *head, std::size_t size) {
    return size >= 2 && head[0] == 'B' && head[1] == 'M';
}

// FF D8 FF: the start-of-image marker and the start of the next marker.
bool IsJpeg(const uint8_t *head, std::size_t size) {
    return size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

bool IsSunRaster(const uint8_t *head, std::size_t size) {
    return size >= 4 && LoadBigEndian32(head) == sunras::kMagic;
}

// "P", a digit from 1 to 6, then white space.
bool IsPnm(const uint8_t *head, std::size_t size) {
    if (size < 3 || head[0] != 'P' || head[1] < '1' || head[1] > '6') {
        return false;
    }
    switch (head[2]) {
        case ' ':
        case '\t':
        case '\n':
        case '\v':
        case '\f':
        case '\r':
            return true;
        default:
            return false;
    }
}

// "II*\0" (little-endian) or "MM\0*" (big-endian): classic TIFF; "II+\0" or "MM\0+": BigTIFF.
bool IsTiff(const uint8_t *head, std::size_t size) {
    if (size < 4) {
        return false;
    }
    const bool little =
        head[0] == 0x49 && head[1] == 0x49 && (head[2] == 0x2A || head[2] == 0x2B) && head[3] == 0;
    const bool big =
        head[0] == 0x4D && head[1] == 0x4D && head[2] == 0 && (head[3] == 0x2A || head[3] == 0x2B);
    return little || big;
}

// The signature of every PNG file.
bool IsPng(const uint8_t *head, std::size_t size) {
    return size >= sizeof kPngSignature &&
           std::equal(std::begin(kPngSignature), std::end(kPngSignature), head);
}

// P1/P4 bitmap, P2/P5 graymap, P3/P6 pixmap.
std::string_view PnmKind(const uint8_t *head, std::size_t size) {
    if (size >= 2) {
        switch (head[1]) {
            case '1':
            case '4':
                return "PBM";
            case '2':
            case '5':
                return "PGM";
            default:
                return "PPM";
        }
    }
    return "PNM";
}

// The entries, in the order in which they are asked: the five, then PNG.
const ImageFormat kBmp{.name = "BMP",
                       .description = "Windows bitmap (*.bmp;*.dib)",
                       .signatureLength = 2,
                       .matches = IsBmp,
                       .newReader = NewBmpReader,
                       .newWriter = NewBmpWriter};
const ImageFormat kJpeg{.name = "JPEG",
                        .description = "JPEG files (*.jpeg;*.jpg;*.jpe)",
                        .signatureLength = 3,
                        .matches = IsJpeg,
                        .newReader = NewJpegReader,
                        .newWriter = NewJpegWriter};
const ImageFormat kSunRaster{.name = "Sun raster",
                             .description = "Sun raster files (*.sr;*.ras)",
                             .signatureLength = 4,
                             .matches = IsSunRaster,
                             .newReader = NewSunRasterReader,
                             .newWriter = NewSunRasterWriter};
const ImageFormat kPnm{.name = "PBM/PGM/PPM",
                       .description = "Portable image format (*.pbm;*.pgm;*.ppm)",
                       .colourExtensions = "ppm",
                       .kindOf = PnmKind,
                       .signatureLength = 3,
                       .matches = IsPnm,
                       .newReader = NewPnmReader,
                       .newWriter = NewPnmWriter};
const ImageFormat kTiff{.name = "TIFF",
                        .description = "TIFF Files (*.tiff;*.tif)",
                        .signatureLength = 4,
                        .matches = IsTiff,
                        .newReader = NewTiffReader,
                        .newWriter = NewTiffWriter};
const ImageFormat kPng{.name = "PNG",
                       .description = "Portable Network Graphics (*.png)",
                       .signatureLength = sizeof kPngSignature,
                       .matches = IsPng,
                       .newReader = NewPngReader,
                       .newWriter = NewPngWriter};

bool IsAsciiAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The run of letters and digits that starts at `from`.
std::string_view AlnumRun(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && IsAsciiAlnum(text[end])) {
        ++end;
    }
    return text.substr(from, end - from);
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return AsciiLower(x) == AsciiLower(y);
           });
}

}  // namespace

std::string_view FileNameExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    return AlnumRun(name, dot + 1);
}

std::vector<std::string_view> DescriptionExtensions(std::string_view description) {
    std::vector<std::string_view> extensions;
    const std::size_t open = description.find('(');
    if (open == std::string_view::npos) {
        return extensions;
    }
    for (std::size_t i = open + 1; i < description.size(); ++i) {
        if (description[i] == '.') {
            const std::string_view extension = AlnumRun(description, i + 1);
            if (!extension.empty()) {
                extensions.push_back(extension);
            }
        }
    }
    return extensions;
}

const ImageFormat &BmpFormat() {
    return kBmp;
}
const ImageFormat &JpegFormat() {
    return kJpeg;
}
const ImageFormat &SunRasterFormat() {
    return kSunRaster;
}
const ImageFormat &PnmFormat() {
    return kPnm;
}
const ImageFormat &TiffFormat() {
    return kTiff;
}
const ImageFormat &PngFormat() {
    return kPng;
}

FormatTable::FormatTable(std::vector<const ImageFormat *> formats)
    : m_formats(std::move(formats)) {}

const FormatTable &FormatTable::Default() {
    static const FormatTable table{{&kBmp, &kJpeg, &kSunRaster, &kPnm, &kTiff, &kPng}};
    return table;
}

const ImageFormat *FormatTable::FindReaderFormat(std::span<const uint8_t> head) const {
    if (head.size() > kSignatureBytes) {
        head = head.first(kSignatureBytes);
    }
    for (const ImageFormat *format : m_formats) {
        if (format->signatureLength <= head.size() && format->matches(head.data(), head.size())) {
            return format;
        }
    }
    return nullptr;
}

const ImageFormat *FormatTable::FindWriterFormat(std::string_view name) const {
    return FindExtensionFormat(FileNameExtension(name));
}

const ImageFormat *FormatTable::FindExtensionFormat(std::string_view extension) const {
    if (extension.empty() || AlnumRun(extension, 0).size() != extension.size()) {
        return nullptr;
    }
    for (const ImageFormat *format : m_formats) {
        for (std::string_view listed : DescriptionExtensions(format->description)) {
            if (EqualsIgnoringAsciiCase(listed, extension)) {
                return format;
            }
        }
    }
    return nullptr;
}

}  // namespace zav
