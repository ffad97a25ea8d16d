// File names, the extension rule and the choice of reader and writer in the format table.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/files/file_name.h"
#include "imaging/files/file_status.h"
#include "imaging/files/format_table.h"
#include "zavimage/zavimage.h"

namespace zav {
namespace {

int32_t Normalize(const std::string &name, std::string *out = nullptr) {
    std::string normalized = "untouched";
    const int32_t status = NormalizeImageFileName(name.c_str(), &normalized);
    if (out != nullptr) {
        *out = normalized;
    }
    return status;
}

TEST(NormalizeImageFileName, RefusesEachReservedCharacterAndNamesIt) {
    for (char c : std::string("*?\"<>;|")) {
        std::string out;
        EXPECT_EQ(Normalize(std::string("c:/data/a") + c + "b.bmp", &out),
                  ZAV_FILE_NAME_REFUSED + static_cast<unsigned char>(c))
            << c;
        EXPECT_EQ(out, "untouched");
        const std::string text = FileStatusText(ZAV_FILE_NAME_REFUSED + c);
        EXPECT_EQ(text, std::string("name refused: contains '") + c + "'");
    }
}

TEST(NormalizeImageFileName, TurnsBackslashesIntoSlashesAndKeepsTheRest) {
    std::string out;
    ASSERT_EQ(Normalize("c:\\data\\sub dir\\a+b=c,d.bmp", &out), ZAV_FILE_OK);
    EXPECT_EQ(out, "c:/data/sub dir/a+b=c,d.bmp");
    ASSERT_EQ(Normalize("\xE4\xB8\xAD\xE6\x96\x87.bmp", &out), ZAV_FILE_OK);  // UTF-8 passes
    EXPECT_EQ(out, "\xE4\xB8\xAD\xE6\x96\x87.bmp");
}

TEST(NormalizeImageFileName, ExaminesTheSecondByteOfADoubleByteCharacterOnItsOwn) {
    // Shift JIS 0x95 0x5C: the second byte is a backslash and becomes a slash.
    std::string out;
    ASSERT_EQ(Normalize("\x95\x5C.bmp", &out), ZAV_FILE_OK);
    EXPECT_EQ(out, "\x95/.bmp");
    // A second byte of 0x7C (vertical bar) refuses the name.
    EXPECT_EQ(Normalize("\x83\x7C.bmp"), ZAV_FILE_NAME_REFUSED + '|');
    // Bytes of 0x80 and above pass unchanged.
    ASSERT_EQ(Normalize("\x81\x80\xFF.bmp", &out), ZAV_FILE_OK);
    EXPECT_EQ(out, "\x81\x80\xFF.bmp");
}

TEST(NormalizeImageFileName, Accepts259BytesAndRefuses260) {
    std::string out;
    const std::string name259 = std::string(255, 'a') + ".bmp";
    ASSERT_EQ(name259.size(), 259u);
    ASSERT_EQ(Normalize(name259, &out), ZAV_FILE_OK);
    EXPECT_EQ(out, name259);
    EXPECT_EQ(Normalize("a" + name259), ZAV_FILE_NAME_TOO_LONG);
    EXPECT_EQ(Normalize(std::string(5000, 'x')), ZAV_FILE_NAME_TOO_LONG);
}

TEST(NormalizeImageFileName, RefusesNullAndEmptyNames) {
    std::string out;
    EXPECT_EQ(NormalizeImageFileName(nullptr, &out), ZAV_FILE_NO_NAME);
    EXPECT_EQ(NormalizeImageFileName("", &out), ZAV_FILE_NO_NAME);
}

TEST(Utf16ToUtf8Name, ConvertsUpToTheFirstNulAndMarksUnpairedSurrogates) {
    EXPECT_FALSE(Utf16ToUtf8Name(nullptr).has_value());
    EXPECT_EQ(*Utf16ToUtf8Name(u""), "");
    const char16_t withNul[] = {u'a', u'b', 0, u'c', 0};
    EXPECT_EQ(*Utf16ToUtf8Name(withNul), "ab");
    EXPECT_EQ(*Utf16ToUtf8Name(u"c:\\\u4E2D\u00E9.bmp"), "c:\\\xE4\xB8\xAD\xC3\xA9.bmp");
    EXPECT_EQ(*Utf16ToUtf8Name(u"\U0001F600.bmp"), "\xF0\x9F\x98\x80.bmp");
    const char16_t loneHigh[] = {u'a', 0xD83D, u'b', 0};
    EXPECT_EQ(*Utf16ToUtf8Name(loneHigh), "a?b");
    const char16_t loneLow[] = {0xDE00, u'.', u'b', 0};
    EXPECT_EQ(*Utf16ToUtf8Name(loneLow), "?.b");
    const char16_t highAtEnd[] = {u'x', 0xD800, 0};
    EXPECT_EQ(*Utf16ToUtf8Name(highAtEnd), "x?");
}

TEST(FileNameExtension, IsTheAlphanumericRunAfterTheLastDot) {
    EXPECT_EQ(FileNameExtension("OUT.JPG"), "JPG");
    EXPECT_EQ(FileNameExtension("out.jpg.tmp"), "tmp");
    EXPECT_EQ(FileNameExtension("out"), "");
    EXPECT_EQ(FileNameExtension("out.jpg~"), "jpg");
    EXPECT_EQ(FileNameExtension("dir.old/picture"), "old");
    EXPECT_EQ(FileNameExtension(".bmp"), "bmp");
    EXPECT_EQ(FileNameExtension("a.b-c"), "b");
    EXPECT_EQ(FileNameExtension("a."), "");
    EXPECT_EQ(FileNameExtension("a.~bmp"), "");
    EXPECT_EQ(FileNameExtension("./picture"), "");
}

TEST(DescriptionExtensions, ReadsOneRunAfterEachDotBehindTheParenthesis) {
    EXPECT_EQ(DescriptionExtensions("JPEG files (*.jpeg;*.jpg;*.jpe)"),
              (std::vector<std::string_view>{"jpeg", "jpg", "jpe"}));
    EXPECT_EQ(DescriptionExtensions("v1.5 bitmap (*.bmp)"), (std::vector<std::string_view>{"bmp"}));
    EXPECT_TRUE(DescriptionExtensions("no list.here").empty());
}

TEST(FormatTable, ListsTheFormatsInTableOrderWithTheirDescriptions) {
    const std::vector<std::string> table = {
        "Windows bitmap (*.bmp;*.dib)",  "JPEG files (*.jpeg;*.jpg;*.jpe)",
        "Sun raster files (*.sr;*.ras)", "Portable image format (*.pbm;*.pgm;*.ppm)",
        "TIFF Files (*.tiff;*.tif)",     "Portable Network Graphics (*.png)",
    };
    const auto filters = FormatTable::Default().Formats();
    ASSERT_EQ(filters.size(), table.size());
    for (std::size_t i = 0; i < table.size(); ++i) {
        EXPECT_EQ(filters[i]->description, table[i]) << i;
    }
    EXPECT_EQ(filters[0], &BmpFormat());
    EXPECT_EQ(filters[1], &JpegFormat());
    EXPECT_EQ(filters[2], &SunRasterFormat());
    EXPECT_EQ(filters[3], &PnmFormat());
    EXPECT_EQ(filters[4], &TiffFormat());
    EXPECT_EQ(filters[5], &PngFormat());
}

TEST(FormatTable, ChoosesTheWriterByExtensionIgnoringCase) {
    const FormatTable &r = FormatTable::Default();
    EXPECT_EQ(r.FindWriterFormat("OUT.BMP"), &BmpFormat());
    EXPECT_EQ(r.FindWriterFormat("x.DiB"), &BmpFormat());
    EXPECT_EQ(r.FindWriterFormat("x.bmp~"), &BmpFormat());
    EXPECT_EQ(r.FindWriterFormat("dir.bmp/picture"), &BmpFormat());
    EXPECT_EQ(r.FindWriterFormat("x.pbm"), &PnmFormat());
    EXPECT_EQ(r.FindWriterFormat("x.PGM"), &PnmFormat());
    EXPECT_EQ(r.FindWriterFormat("x.ppm"), &PnmFormat());
    EXPECT_EQ(r.FindWriterFormat("x.bmp.tmp"), nullptr);
    EXPECT_EQ(r.FindWriterFormat("x.bm"), nullptr);
    EXPECT_EQ(r.FindWriterFormat("x.bmpx"), nullptr);
    EXPECT_EQ(r.FindWriterFormat("x.PNG"), &PngFormat());
    EXPECT_EQ(r.FindWriterFormat("x.gif"), nullptr);
    EXPECT_EQ(r.FindWriterFormat("bmp"), nullptr);
    EXPECT_EQ(r.FindWriterFormat("photo.ppm/out"), &PnmFormat());
    EXPECT_EQ(r.FindWriterFormat("OUT.JPG"), &JpegFormat());
    EXPECT_EQ(r.FindWriterFormat("a.jpeg"), &JpegFormat());
    EXPECT_EQ(r.FindWriterFormat("a.Jpe"), &JpegFormat());
    EXPECT_EQ(r.FindWriterFormat("out.jpg~"), &JpegFormat());
    EXPECT_EQ(r.FindWriterFormat("out.jpg.tmp"), nullptr);
    EXPECT_EQ(r.FindWriterFormat("a.sr"), &SunRasterFormat());
    EXPECT_EQ(r.FindWriterFormat("a.RAS"), &SunRasterFormat());
    EXPECT_EQ(r.FindWriterFormat("a.tif"), &TiffFormat());
    EXPECT_EQ(r.FindWriterFormat("a.TIFF"), &TiffFormat());
    EXPECT_EQ(r.FindWriterFormat("a.tiffs"), nullptr);
}

const ImageFormat *ReaderFor(const std::string &head) {
    return FormatTable::Default().FindReaderFormat(
        std::span(reinterpret_cast<const uint8_t *>(head.data()), head.size()));
}

TEST(FormatTable, ChoosesTheReaderByTheFirstBytesOnly) {
    EXPECT_EQ(ReaderFor("BM"), &BmpFormat());
    EXPECT_EQ(ReaderFor("BMxxxxxx"), &BmpFormat());
    EXPECT_EQ(ReaderFor("B"), nullptr);
    EXPECT_EQ(ReaderFor(""), nullptr);
    for (char kind = '1'; kind <= '6'; ++kind) {
        for (char space : std::string(" \t\n\v\f\r")) {
            EXPECT_EQ(ReaderFor(std::string("P") + kind + space), &PnmFormat());
        }
    }
    EXPECT_EQ(ReaderFor("P7\n"), nullptr);
    EXPECT_EQ(ReaderFor("P0\n"), nullptr);
    EXPECT_EQ(ReaderFor("P6#"), nullptr);
    EXPECT_EQ(ReaderFor("P6"), nullptr);       // three bytes are needed
    EXPECT_EQ(ReaderFor("\x89PNG"), nullptr);  // eight bytes are needed
    EXPECT_EQ(ReaderFor(std::string("\x89PNG\r\n\x1A\n", 8)), &PngFormat());
    EXPECT_EQ(ReaderFor("\xFF\xD8\xFF"), &JpegFormat());
    EXPECT_EQ(ReaderFor("\xFF\xD8\xFE"), nullptr);
    EXPECT_EQ(ReaderFor("\x59\xA6\x6A\x95"), &SunRasterFormat());
    EXPECT_EQ(ReaderFor("\x59\xA6\x6A"), nullptr);
    EXPECT_EQ(ReaderFor(std::string("II*\0", 4)), &TiffFormat());
    EXPECT_EQ(ReaderFor(std::string("MM\0*", 4)), &TiffFormat());
    EXPECT_EQ(ReaderFor(std::string("II\0*", 4)), nullptr);
}

}  // namespace
}  // namespace zav
