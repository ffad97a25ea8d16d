// The JPEG writer's exact stream layout and quality rule, and both directions against
// libjpeg-turbo's tools and ImageMagick.
#include <cmath>
#include <limits>
#include <map>

#include <gtest/gtest.h>

#include "imaging/codecs/jpeg.h"
#include "imaging/files/format_table.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/netpbm.h"

namespace zav {
namespace {

using namespace zavtest;

const ImageFormat &Jpeg() {
    return JpegFormat();
}

// ITU-T T.81 Table K.1 and K.2, row by row.
const int kK1[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                     14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                     18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                     49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kK2[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                     24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// Position in the natural order of the k-th coefficient of the zigzag sequence.
const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Tables K.3 to K.6: code counts per length 1..16, then the symbols.
struct HuffmanTable {
    std::vector<int> counts;
    std::vector<int> symbols;
};
const HuffmanTable kK3 = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                          {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanTable kK4 = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                          {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
const HuffmanTable kK5 = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
     0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
     0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
     0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
     0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
     0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
     0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
     0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
     0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
     0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
const HuffmanTable kK6 = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
     0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
     0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
     0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
     0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
     0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
     0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
     0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
     0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

// The marker segments of a JPEG stream up to and including the first start-of-scan.
struct Segment {
    int marker;
    std::vector<uint8_t> payload;
};

std::vector<Segment> Segments(const std::vector<uint8_t> &f, bool *well_formed) {
    std::vector<Segment> out;
    *well_formed = false;
    if (f.size() < 4 || f[0] != 0xFF || f[1] != 0xD8) {
        return out;
    }
    std::size_t pos = 2;
    while (pos + 4 <= f.size()) {
        if (f[pos] != 0xFF) {
            return out;
        }
        const int marker = f[pos + 1];
        const std::size_t length = (std::size_t{f[pos + 2]} << 8) | f[pos + 3];
        if (length < 2 || pos + 2 + length > f.size()) {
            return out;
        }
        out.push_back(
            {marker, std::vector<uint8_t>(f.begin() + pos + 4, f.begin() + pos + 2 + length)});
        pos += 2 + length;
        if (marker == 0xDA) {
            // The scan runs to the end-of-image marker, the last two bytes.
            *well_formed = f.size() >= pos + 2 && f[f.size() - 2] == 0xFF && f.back() == 0xD9;
            return out;
        }
    }
    return out;
}

// Quantization tables by number, in natural order.
std::map<int, std::vector<int>> QuantTables(const std::vector<Segment> &segments) {
    std::map<int, std::vector<int>> tables;
    for (const Segment &s : segments) {
        if (s.marker != 0xDB) {
            continue;
        }
        std::size_t pos = 0;
        while (pos + 65 <= s.payload.size()) {
            const int precision = s.payload[pos] >> 4;
            EXPECT_EQ(precision, 0) << "8-bit quantizers";
            std::vector<int> natural(64);
            for (int k = 0; k < 64; ++k) {
                natural[kZigzag[k]] = s.payload[pos + 1 + k];
            }
            tables[s.payload[pos] & 15] = natural;
            pos += 65;
        }
    }
    return tables;
}

std::vector<int> Expected(const int *base, double scale_divisor, bool all_ones = false) {
    std::vector<int> t(64);
    for (int i = 0; i < 64; ++i) {
        if (all_ones) {
            t[i] = 1;
            continue;
        }
        const double v = std::floor(base[i] / scale_divisor + 0.5);
        t[i] = static_cast<int>(std::min(255.0, std::max(1.0, v)));
    }
    return t;
}

std::vector<uint8_t> Save(const Picture &p, float quality) {
    CodecStatus s;
    auto f = Encode(Jpeg(), p.Request(quality), &s);
    EXPECT_EQ(s, CodecStatus::kOk);
    return f;
}

double Psnr(const Picture &a, const Picture &b) {
    if (a.width != b.width || a.height != b.height || a.channels != b.channels) {
        return 0;
    }
    double sum = 0;
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width * a.channels; ++x) {
            const double d = static_cast<double>(a.Row(y)[x]) - b.Row(y)[x];
            sum += d * d;
        }
    }
    const double mse = sum / (static_cast<double>(a.width) * a.height * a.channels);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// A smooth picture, the kind JPEG is meant for.
Picture Smooth(int32_t w, int32_t h, int32_t channels) {
    Picture p(w, h, channels);
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            for (int32_t c = 0; c < channels; ++c) {
                const double v = 128 + 100 * std::sin(x * (0.05 + 0.02 * c) + y * 0.07 + c);
                p.At(x, y, c) = static_cast<uint8_t>(v);
            }
        }
    }
    return p;
}

TEST(JpegFilter, DescriptionAndSignature) {
    EXPECT_EQ(Jpeg().description, "JPEG files (*.jpeg;*.jpg;*.jpe)");
    EXPECT_EQ(Jpeg().signatureLength, 3u);
    const uint8_t good[] = {0xFF, 0xD8, 0xFF};
    const uint8_t bad[] = {0xFF, 0xD8, 0x00};
    EXPECT_TRUE(Jpeg().matches(good, 3));
    EXPECT_FALSE(Jpeg().matches(bad, 3));
}

TEST(JpegQuality, TablesFollowTheQualityRule) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float quality;
        double divisor;
        bool allOnes;
    } cases[] = {{1, 1, false},      {2, 2, false},          {10, 10, false},    {3, 3, false},
                 {11, 0.5, false},   {-1, 0.5, false},       {1000, 0.5, false}, {inf, 0.5, false},
                 {-inf, 0.5, false}, {0.001f, 0.001, false}, {0, 1, true},       {-0.0f, 1, true},
                 {nan, 1, true}};
    for (const Case &c : cases) {
        const JpegQuantTables t = JpegQuantTablesForQuality(c.quality);
        EXPECT_EQ(std::vector<int>(t.luminance.begin(), t.luminance.end()),
                  Expected(kK1, c.divisor, c.allOnes))
            << c.quality;
        EXPECT_EQ(std::vector<int>(t.chrominance.begin(), t.chrominance.end()),
                  Expected(kK2, c.divisor, c.allOnes))
            << c.quality;
    }
    // The examples by name: 11 -> 6 and 13 -> 7 at quality 2; 16 -> 2 at 10; 16 -> 32, 121 -> 242
    // and chrominance 99 -> 198 at the fallback 0.5; 255 everywhere at 0.001.
    EXPECT_EQ(JpegQuantTablesForQuality(2).luminance[1], 6);
    EXPECT_EQ(JpegQuantTablesForQuality(2).luminance[17], 7);
    EXPECT_EQ(JpegQuantTablesForQuality(10).luminance[0], 2);
    EXPECT_EQ(JpegQuantTablesForQuality(11).luminance[0], 32);
    EXPECT_EQ(JpegQuantTablesForQuality(-1).luminance[53], 242);
    EXPECT_EQ(JpegQuantTablesForQuality(1000).chrominance[63], 198);
    EXPECT_EQ(JpegQuantTablesForQuality(0.001f).luminance[2], 255);
    // Positive but tiny: every entry saturates rather than overflowing a conversion.
    EXPECT_EQ(JpegQuantTablesForQuality(std::numeric_limits<float>::denorm_min()).luminance[5],
              255);
}

TEST(JpegWriter, FileCarriesTheQualityTables) {
    const Picture colour = Smooth(24, 16, 3);
    const Picture gray = Smooth(24, 16, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float q : {1.0f, 2.0f, 10.0f, 11.0f, -1.0f, 1000.0f, 0.001f, 0.0f, -0.0f, nan}) {
        const bool ones = q == 0 || std::isnan(q);
        const double divisor = (q < 0 || q > 10) ? 0.5 : q;
        bool ok;
        auto tables = QuantTables(Segments(Save(colour, q), &ok));
        ASSERT_TRUE(ok) << q;
        ASSERT_EQ(tables.size(), 2u) << q;
        EXPECT_EQ(tables[0], Expected(kK1, divisor, ones)) << q;
        EXPECT_EQ(tables[1], Expected(kK2, divisor, ones)) << q;

        tables = QuantTables(Segments(Save(gray, q), &ok));
        ASSERT_TRUE(ok) << q;
        ASSERT_EQ(tables.size(), 1u) << q;
        EXPECT_EQ(tables[0], Expected(kK1, divisor, ones)) << q;
    }
    // A request that keeps the initial save quality of 2 gets the halved tables.
    bool ok;
    WriteRequest initial = colour.Request();
    initial.quality = WriteRequest{}.quality;
    auto tables = QuantTables(Segments(Encode(Jpeg(), initial), &ok));
    EXPECT_EQ(tables[0], Expected(kK1, 2));
}

TEST(JpegWriter, StreamLayoutIsJfifBaselineWithOneScan) {
    for (int channels : {3, 1}) {
        const auto file = Save(Smooth(37, 21, channels), 2);
        bool ok;
        const auto segments = Segments(file, &ok);
        ASSERT_TRUE(ok);
        // The JFIF marker comes first: version 1.02, no units, density 1 x 1, no thumbnail.
        ASSERT_FALSE(segments.empty());
        EXPECT_EQ(segments[0].marker, 0xE0);
        EXPECT_EQ(segments[0].payload,
                  (std::vector<uint8_t>{'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0}));
        int frames = 0;
        int scans = 0;
        for (const Segment &s : segments) {
            EXPECT_TRUE(s.marker == 0xE0 || s.marker == 0xDB || s.marker == 0xC4 ||
                        s.marker == 0xC0 || s.marker == 0xDA)
                << std::hex << s.marker;
            if (s.marker == 0xC0) {
                ++frames;
                std::vector<uint8_t> want = {8, 0, 21, 0, 37, static_cast<uint8_t>(channels)};
                if (channels == 3) {
                    want.insert(want.end(), {1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
                } else {
                    want.insert(want.end(), {1, 0x11, 0});
                }
                EXPECT_EQ(s.payload, want);
            }
            if (s.marker == 0xDA) {
                ++scans;
                std::vector<uint8_t> want = {static_cast<uint8_t>(channels)};
                if (channels == 3) {
                    want.insert(want.end(), {1, 0x00, 2, 0x11, 3, 0x11});
                } else {
                    want.insert(want.end(), {1, 0x00});
                }
                want.insert(want.end(), {0, 63, 0});  // full spectrum, no approximation
                EXPECT_EQ(s.payload, want);
            }
        }
        EXPECT_EQ(frames, 1);
        EXPECT_EQ(scans, 1);
        // Nothing but the end-of-image marker after the one scan's data.
        const std::size_t scan_end = file.size() - 2;
        for (std::size_t i = 2; i + 1 < scan_end; ++i) {
            if (file[i] == 0xFF && file[i + 1] == 0xDA) {
                const std::size_t data = i + 2 + ((file[i + 2] << 8) | file[i + 3]);
                for (std::size_t k = data; k + 1 < scan_end; ++k) {
                    ASSERT_FALSE(file[k] == 0xFF && file[k + 1] != 0) << "marker inside the scan";
                }
                break;
            }
        }
    }
}

TEST(JpegWriter, HuffmanTablesAreThoseOfAnnexK) {
    for (int channels : {3, 1}) {
        bool ok;
        const auto segments = Segments(Save(Smooth(16, 16, channels), 2), &ok);
        ASSERT_TRUE(ok);
        std::map<int, HuffmanTable> found;  // by class * 16 + number
        for (const Segment &s : segments) {
            if (s.marker != 0xC4) {
                continue;
            }
            std::size_t pos = 0;
            while (pos + 17 <= s.payload.size()) {
                HuffmanTable t;
                int total = 0;
                for (int i = 0; i < 16; ++i) {
                    t.counts.push_back(s.payload[pos + 1 + i]);
                    total += s.payload[pos + 1 + i];
                }
                ASSERT_LE(pos + 17 + total, s.payload.size());
                t.symbols.assign(s.payload.begin() + pos + 17,
                                 s.payload.begin() + pos + 17 + total);
                found[s.payload[pos]] = t;
                pos += 17 + total;
            }
        }
        ASSERT_EQ(found.size(), channels == 3 ? 4u : 2u);
        EXPECT_EQ(found[0x00].counts, kK3.counts);
        EXPECT_EQ(found[0x00].symbols, kK3.symbols);
        EXPECT_EQ(found[0x10].counts, kK5.counts);
        EXPECT_EQ(found[0x10].symbols, kK5.symbols);
        if (channels == 3) {
            EXPECT_EQ(found[0x01].counts, kK4.counts);
            EXPECT_EQ(found[0x01].symbols, kK4.symbols);
            EXPECT_EQ(found[0x11].counts, kK6.counts);
            EXPECT_EQ(found[0x11].symbols, kK6.symbols);
        }
    }
}

TEST(JpegWriter, LeavesTheCallersPixelsAndReportsSinkFailures) {
    const Picture p = Pattern(70, 40, 3);
    const std::vector<uint8_t> before = p.bytes;
    (void)Save(p, 2);
    EXPECT_EQ(p.bytes, before);

    struct FailingSink : ByteSink {
        std::size_t budget;
        explicit FailingSink(std::size_t b) : budget(b) {}
        bool Write(const void *, std::size_t size) override {
            if (size > budget) {
                return false;
            }
            budget -= size;
            return true;
        }
    };
    for (std::size_t budget : {std::size_t{0}, std::size_t{100}, std::size_t{70000}}) {
        FailingSink sink(budget);
        const Picture big = Pattern(400, 300, 3);
        EXPECT_EQ(Jpeg().newWriter()->Write(big.Request(10), sink), CodecStatus::kIoError)
            << budget;
    }
    WriteRequest r = p.Request();
    r.pixels = nullptr;
    EXPECT_NE(Jpeg().newWriter()->Write(r, *std::make_unique<VectorSink>()), CodecStatus::kOk);
    r = p.Request();
    r.width = 70000;
    r.step = 70000 * 3;
    EXPECT_NE(Jpeg().newWriter()->Write(r, *std::make_unique<VectorSink>()), CodecStatus::kOk);
}

TEST(JpegCodec, RoundTripIsCloseAndAgreesWithDjpeg) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const bool djpeg = HaveTool("djpeg");
    for (int channels : {3, 1}) {
        for (int32_t w : {1, 7, 16, 33, 130}) {
            const Picture p = Smooth(w, w / 2 + 3, channels);
            const auto file = Save(p, 2);
            const Decoded d = Decode(Jpeg(), file);
            ASSERT_TRUE(d.ok()) << w;
            EXPECT_EQ(d.info.color, channels == 3);
            const Picture want = channels == 3 ? p : AsColor(p);
            EXPECT_GT(Psnr(d.picture, want), 35) << channels << " " << w;
            if (djpeg) {
                WriteFile((dir / "a.jpg"), file);
                ASSERT_TRUE(
                    Shell("djpeg -pnm -outfile " + (dir / "a.pnm") + " " + (dir / "a.jpg")));
                EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile((dir / "a.pnm"))), d.picture))
                    << channels << " " << w;
            }
        }
    }
    // Finer tables, closer pictures.
    const Picture p = Smooth(64, 64, 3);
    EXPECT_GT(Psnr(Decode(Jpeg(), Save(p, 10)).picture, p),
              Psnr(Decode(Jpeg(), Save(p, 1)).picture, p));
    EXPECT_GT(Save(p, 10).size(), Save(p, 1).size());
}

TEST(JpegInterop, ImageMagickReadsOurFiles) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const Picture p = Smooth(50, 30, 3);
    WriteFile((dir / "a.jpg"), Save(p, 2));
    ASSERT_TRUE(Shell(ImageMagick() + " " + (dir / "a.jpg") + " -depth 8 ppm:" + (dir / "a.ppm")));
    EXPECT_GT(Psnr(ParseNetpbm(ReadFile((dir / "a.ppm"))), p), 35);
}

// We read what cjpeg writes (baseline, progressive, gray, 4:4:4, arithmetic, restarts) exactly as
// djpeg decodes it, and ImageMagick's CMYK files close to their colours.
TEST(JpegInterop, WeReadCjpegFiles) {
    if (!HaveTool("cjpeg") || !HaveTool("djpeg")) {
        GTEST_SKIP() << "libjpeg-turbo-progs not installed";
    }
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    WriteFile((dir / "in.ppm"), ToNetpbm(Pattern(45, 29, 3)));
    for (const char *options :
         {"", "-progressive", "-grayscale", "-sample 1x1", "-arithmetic", "-restart 1",
          "-progressive -grayscale", "-optimize -quality 95", "-sample 2x1,1x1,1x1"}) {
        ASSERT_TRUE(Shell(std::string("cjpeg ") + options + " -outfile " + (dir / "a.jpg") + " " +
                          (dir / "in.ppm")))
            << options;
        ASSERT_TRUE(Shell("djpeg -pnm -outfile " + (dir / "a.pnm") + " " + (dir / "a.jpg")));
        const Decoded d = Decode(Jpeg(), ReadFile((dir / "a.jpg")));
        ASSERT_TRUE(d.ok()) << options;
        EXPECT_EQ(d.info.color, std::string(options).find("gray") == std::string::npos);
        EXPECT_TRUE(SamePixels(d.picture, ParseNetpbm(ReadFile((dir / "a.pnm"))))) << options;
    }

    const Picture smooth = Smooth(40, 24, 3);
    WriteFile((dir / "s.ppm"), ToNetpbm(smooth));
    ASSERT_TRUE(Shell(ImageMagick() + " " + (dir / "s.ppm") + " -colorspace CMYK -quality 98 " +
                      (dir / "c.jpg")));
    const Decoded cmyk = Decode(Jpeg(), ReadFile((dir / "c.jpg")));
    ASSERT_TRUE(cmyk.ok());
    EXPECT_TRUE(cmyk.info.color);
    EXPECT_GT(Psnr(cmyk.picture, smooth), 30);
}

TEST(JpegReader, TruncatedFilesFail) {
    for (int channels : {3, 1}) {
        const auto file = Save(Pattern(40, 24, channels), 2);
        for (std::size_t n = 0; n < file.size(); n += (n < 700 ? 1 : 37)) {
            const Decoded d = Decode(Jpeg(), std::vector<uint8_t>(file.begin(), file.begin() + n));
            EXPECT_FALSE(d.ok()) << n;
            if (n >= 4) {
                EXPECT_TRUE(d.header == CodecStatus::kTruncated ||
                            d.data == CodecStatus::kTruncated)
                    << n;
            }
        }
        // Only the end-of-image marker missing, or half of it.
        for (std::size_t cut : {std::size_t{1}, std::size_t{2}}) {
            EXPECT_EQ(Decode(Jpeg(), std::vector<uint8_t>(file.begin(), file.end() - cut)).data,
                      CodecStatus::kTruncated)
                << cut;
        }
    }
}

TEST(JpegReader, CorruptDataFailsEvenWhereLibjpegOnlyWarns) {
    auto file = Save(Pattern(64, 48, 3), 2);
    ASSERT_TRUE(Decode(Jpeg(), file).ok());
    // A restart marker in the middle of the scan data: libjpeg warns and resynchronizes.
    auto marker = file;
    marker[marker.size() / 2] = 0xFF;
    marker[marker.size() / 2 + 1] = 0xD3;
    EXPECT_FALSE(Decode(Jpeg(), marker).ok());
    // Garbage between the scan and the end marker.
    auto extra = file;
    extra.insert(extra.end() - 2, {0x12, 0x34, 0x56});
    EXPECT_FALSE(Decode(Jpeg(), extra).ok());
    // A header claiming more than the decode limit is refused before decoding.
    auto big = file;
    for (std::size_t i = 2; i + 8 < big.size(); ++i) {
        if (big[i] == 0xFF && big[i + 1] == 0xC0) {
            big[i + 5] = 0xFF;  // height 65535
            big[i + 6] = 0xFF;
            big[i + 7] = 0xFF;  // width 65535
            big[i + 8] = 0xFF;
            break;
        }
    }
    EXPECT_EQ(Decode(Jpeg(), big).header, CodecStatus::kTooLarge);

    uint32_t state = 99;
    for (int round = 0; round < 600; ++round) {
        auto f = file;
        for (int k = 0; k < 4; ++k) {
            state = state * 1103515245 + 12345;
            f[2 + (state >> 8) % (f.size() - 2)] = static_cast<uint8_t>(state >> 20);
        }
        (void)Decode(Jpeg(), f, 1 << 20);
    }
}

}  // namespace
}  // namespace zav
