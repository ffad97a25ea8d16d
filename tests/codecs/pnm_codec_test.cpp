// The portable image writer's exact text, and the reader's six kinds, scaling and refusals.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/codecs/pnm.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"

namespace zav {
namespace {

using zavtest::Picture;
using namespace std::string_literals;

std::string WritePnm(const Picture &p) {
    const std::vector<uint8_t> file = zavtest::EncodeOk(PnmFormat(), p);
    return std::string(file.begin(), file.end());
}

TEST(PnmWriter, WritesAPlainGrayMapWithFourCharacterFields) {
    Picture p{3, 2, 1, {0, 7, 255, 0xEE, 42, 100, 9, 0xEE}};
    EXPECT_EQ(WritePnm(p), "P2\n3 2\n255\n   0   7 255\n  42 100   9\n");
}

TEST(PnmWriter, WritesAPlainPixmapRedGreenBlueWithTwoSpacesAfterEachPixel) {
    Picture p{2, 1, 3, {1, 2, 3, 200, 100, 0, 0xEE, 0xEE}};  // blue, green, red
    const std::vector<uint8_t> before = p.bytes;
    EXPECT_EQ(WritePnm(p), "P3\n2 1\n255\n   3   2   1     0 100 200  \n");
    EXPECT_EQ(p.bytes, before);
}

TEST(PnmWriter, WritesEverySampleValueAsNetpbmPrintsIt) {
    Picture p{256, 1, 1, {}};
    for (int v = 0; v < 256; ++v) {
        p.bytes.push_back(static_cast<uint8_t>(v));
    }
    const std::string text = WritePnm(p);
    std::string expected = "P2\n256 1\n255\n";
    for (int v = 0; v < 256; ++v) {
        char field[8];
        std::snprintf(field, sizeof field, "%4d", v);
        expected += field;
    }
    EXPECT_EQ(text, expected + "\n");
}

using Decoded = zavtest::PackedDecoded;

Decoded Decode(const std::string &text) {
    return zavtest::DecodePacked(PnmFormat(), std::vector<uint8_t>(text.begin(), text.end()));
}

using Color = std::array<uint8_t, 3>;
const Color kWhite = {255, 255, 255};
const Color kBlack = {0, 0, 0};

TEST(PnmReader, ReadsPlainBitmapsWithCommentsAndDigitsWithoutSeparators) {
    const Decoded d = Decode("P1\n# a comment\n3 2 # another\n0 1\n0\n110");
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_FALSE(d.info.color);
    EXPECT_EQ(d.At(0, 0), kWhite);
    EXPECT_EQ(d.At(1, 0), kBlack);
    EXPECT_EQ(d.At(2, 0), kWhite);
    EXPECT_EQ(d.At(0, 1), kBlack);
    EXPECT_EQ(d.At(1, 1), kBlack);
    EXPECT_EQ(d.At(2, 1), kWhite);
}

TEST(PnmReader, ReadsRawBitmapsWithRowsPaddedToBytes) {
    const std::string file = std::string("P4\n10 2\n") + "\xC0\x40\x00\x80"s;
    const Decoded d = Decode(file);
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), kBlack);
    EXPECT_EQ(d.At(1, 0), kBlack);
    EXPECT_EQ(d.At(2, 0), kWhite);
    EXPECT_EQ(d.At(9, 0), kBlack);
    EXPECT_EQ(d.At(8, 1), kBlack);
    EXPECT_EQ(d.At(9, 1), kWhite);
}

TEST(PnmReader, ScalesSamplesToTheFullRangeRounded) {
    // maxval 15: v * 255 / 15 exactly; maxval 100: (v * 255 + 50) / 100.
    Decoded d = Decode("P2 3 1 15 0 7 15\n");
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{0, 0, 0}));
    EXPECT_EQ(d.At(1, 0), (Color{119, 119, 119}));
    EXPECT_EQ(d.At(2, 0), kWhite);
    d = Decode(std::string("P5 2 1 100\n") + '\x01' + '\x63');
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0)[0], (1 * 255 + 50) / 100);
    EXPECT_EQ(d.At(1, 0)[0], (99 * 255 + 50) / 100);
}

TEST(PnmReader, ReadsPixmapsAsBlueGreenRed) {
    Decoded d = Decode("P3\n2 1\n255\n1 2 3 200 100 0\n");
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_TRUE(d.info.color);
    EXPECT_EQ(d.At(0, 0), (Color{3, 2, 1}));
    EXPECT_EQ(d.At(1, 0), (Color{0, 100, 200}));
    d = Decode(std::string("P6\n2 1\n255\r") + "\x01\x02\x03\xC8\x64\x00"s);
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{3, 2, 1}));
    EXPECT_EQ(d.At(1, 0), (Color{0, 100, 200}));
    d = Decode(std::string("P6 1 1 7 ") + "\x07\x00\x01"s);
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0), (Color{(255 + 3) / 7, 0, 255}));
}

TEST(PnmReader, ReadsRawPixmapsOfEveryWidthExactly) {
    for (int width = 1; width <= 40; ++width) {
        std::string file = "P6 " + std::to_string(width) + " 2 255\n";
        for (int i = 0; i < width * 2 * 3; ++i) {
            file.push_back(static_cast<char>(i * 11 + width));
        }
        const Decoded d = Decode(file);
        ASSERT_EQ(d.status, CodecStatus::kOk) << width;
        for (int i = 0; i < width * 2; ++i) {
            const auto *rgb =
                reinterpret_cast<const uint8_t *>(file.data() + file.size() - width * 6 + 3 * i);
            EXPECT_EQ(d.At(i % width, i / width), (Color{rgb[2], rgb[1], rgb[0]}))
                << "width " << width << " pixel " << i;
        }
    }
}

TEST(PnmReader, ReadsTwoByteSamplesAboveMaxval255) {
    const std::string file = std::string("P5 2 1 1000\n") + '\x03' + '\xE8' + '\x01' + '\xF4';
    const Decoded d = Decode(file);
    ASSERT_EQ(d.status, CodecStatus::kOk);
    EXPECT_EQ(d.At(0, 0)[0], 255);
    EXPECT_EQ(d.At(1, 0)[0], (500 * 255 + 500) / 1000);
}

TEST(PnmReader, RefusesSamplesAboveTheMaximum) {
    EXPECT_EQ(Decode("P2 2 1 10 3 11\n").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode("P3 1 1 255 1 2 256\n").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode(std::string("P5 2 1 10\n") + '\x0A' + '\x0B').status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode(std::string("P6 1 1 100\n") + "\x01\x65\x01").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode(std::string("P5 1 1 300\n") + '\x01' + '\x2D').status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode("P1 2 1 0 2").status, CodecStatus::kCorrupt);
}

TEST(PnmReader, RefusesBrokenHeaders) {
    EXPECT_EQ(Decode("P2 0 1 255 ").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode("P2 1 0 255 ").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode("P2 1 1 0 0").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode("P2 1 1 65536 0").status, CodecStatus::kUnsupported);
    EXPECT_EQ(Decode("P2 1 x 255 0").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode("P2 -1 1 255 0").status, CodecStatus::kCorrupt);
    EXPECT_EQ(Decode("P5 1 1 255x\x01").status, CodecStatus::kCorrupt);  // no separator
    EXPECT_EQ(Decode("P5 1 1 255").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P5 1 1").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P6 # only a comment").status, CodecStatus::kTruncated);
}

TEST(PnmReader, RefusesTooLargeSizesWithoutOverflow) {
    EXPECT_EQ(Decode("P5 99999999999999999999999 1 255\n").status, CodecStatus::kTooLarge);
    EXPECT_EQ(Decode("P5 2147483648 1 255\n").status, CodecStatus::kTooLarge);
    EXPECT_EQ(Decode("P5 40000 40000 255\n").status, CodecStatus::kTooLarge);
    EXPECT_EQ(Decode("P4 2147483647 1\n").status, CodecStatus::kTooLarge);
}

TEST(PnmReader, RefusesDataThatEndEarly) {
    EXPECT_EQ(Decode("P1 2 2 0 1 0").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P2 2 1 255 7").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P3 1 1 255 7 8").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode(std::string("P4 9 1\n") + '\xFF').status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P5 2 1 255\n\x01").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P6 1 1 255\n\x01\x02").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P5 1 1 256\n\x01").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P2 2 1 255 7 #8").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P2 2 1 255 7 x").status, CodecStatus::kCorrupt);
}

// A plain file cut anywhere in its last number is short, not a smaller value: each number ends at
// its separator.
TEST(PnmReader, RefusesANumberCutByTheEndOfTheFile) {
    for (int channels : {1, 3}) {
        Picture p = zavtest::RampPattern(5, 3, channels);
        std::fill(p.bytes.end() - 8, p.bytes.end(), uint8_t{255});  // the last samples 255
        const std::string whole = WritePnm(p);
        ASSERT_EQ(whole.substr(whole.size() - 4), channels == 1 ? " 255\n"s.substr(1) : "5  \n");
        EXPECT_EQ(Decode(whole).status, CodecStatus::kOk);
        const std::size_t end = whole.find_last_of("0123456789") + 1;  // after the last digit
        for (std::size_t cut = end - 2; cut <= end; ++cut) {
            EXPECT_EQ(Decode(whole.substr(0, cut)).status, CodecStatus::kTruncated)
                << channels << " channels, cut to " << cut << " of " << whole.size();
        }
        EXPECT_EQ(Decode(whole.substr(0, end + 1)).status, CodecStatus::kOk);
    }
    EXPECT_EQ(Decode("P2 2 1 255 7 255").status, CodecStatus::kTruncated);
    EXPECT_EQ(Decode("P2 2 1 255 7 255\n").status, CodecStatus::kOk);
    EXPECT_EQ(Decode("P2 2 1 255 7 255#").status, CodecStatus::kOk);
    EXPECT_EQ(Decode("P2 2 1 25").status, CodecStatus::kTruncated);
}

TEST(PnmReader, ReadsBackWhatTheWriterWrote) {
    for (int channels : {1, 3}) {
        const Picture p = zavtest::RampPattern(9, 4, channels);
        const Decoded d = Decode(WritePnm(p));
        ASSERT_EQ(d.status, CodecStatus::kOk);
        EXPECT_EQ(d.info.color, channels == 3);
        const Picture expected = zavtest::AsColor(p);
        for (int y = 0; y < 4; ++y) {
            EXPECT_EQ(0, std::memcmp(&d.bgr[y * 27], expected.Row(y), 27)) << y;
        }
    }
}

}  // namespace
}  // namespace zav
