// Font files as captions open them: only regular files, opened without blocking and read on
// demand (a large file that is not a font is refused after reading its header), and fontconfig
// left alone by captions whose fonts are given as files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/text_canvas.h"
#include "tests/support/text_oracle.h"
#include "text/caption.h"
#include "text/font.h"
#include "text/font_catalog.h"
#include "text/font_fallback.h"
#include "text/typo_caption.h"

namespace zavtest {
namespace {

// Bytes the process has read from files so far (the kernel's count of read and pread).
long long BytesRead() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return -1;
}

int32_t Typo(const char *font, const char *text) {
    Canvas canvas(320, 80, ZAV_DEPTH_8U, 3);
    ZAVImageStruct record = canvas.Record();
    ZAVTextStyle style;
    zav::DefaultTextStyle(&style);
    style.font = font;
    return zav::TypoCaption(&record, text, 4, 50, &style, nullptr, nullptr);
}

// A FIFO (nobody writing), a folder and devices named as the font: refused at once. A call that
// blocked would hang here; the alarm ends the test then.
TEST(FontFiles, OnlyRegularFilesOpenAndNothingBlocks) {
    const std::string fifo = testing::TempDir() + "/zav_font_fifo";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string folder = testing::TempDir() + "/zav_font_folder";
    std::filesystem::create_directories(folder);
    alarm(60);
    for (const std::string &path : {fifo, folder, std::string("/dev/zero"),
                                    std::string("/dev/null"), std::string("/dev/tty")}) {
        EXPECT_EQ(zav::OpenFontFile(path.c_str()), nullptr) << path;
        EXPECT_FALSE(zav::OpenFontSource(path.c_str(), 0)) << path;
        EXPECT_FALSE(zav::OpenNamedFont(path.c_str(), 0, nullptr)) << path;
        EXPECT_EQ(Typo(path.c_str(), "abc"), ZAV_TEXT_INCOMPLETE) << path;
    }
    // An empty file is no font either.
    const std::string empty = testing::TempDir() + "/zav_font_empty.ttf";
    std::ofstream(empty).close();
    EXPECT_EQ(zav::OpenFontFile(empty.c_str()), nullptr);
    EXPECT_EQ(Typo(empty.c_str(), "abc"), ZAV_TEXT_INCOMPLETE);
    alarm(0);
    std::remove(fifo.c_str());
    std::remove(empty.c_str());
    std::filesystem::remove(folder);
}

// A 900 MB file that is not a font (sparse: no disk used) is refused after FreeType read its
// header, not read whole; one beyond the size limit is not read at all.
TEST(FontFiles, LargeFileThatIsNoFontRefusedWithoutReadingIt) {
    ASSERT_GE(BytesRead(), 0);
    for (const long long size : {900LL << 20, 3LL << 30}) {
        const std::string path = testing::TempDir() + "/zav_not_a_font.ttf";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
        ASSERT_EQ(pwrite(fd, "not a font", 10, 0), 10);
        close(fd);
        const long long before = BytesRead();
        EXPECT_FALSE(zav::OpenFontSource(path.c_str(), 0)) << size;
        EXPECT_EQ(Typo(path.c_str(), "abc"), ZAV_TEXT_INCOMPLETE) << size;
        EXPECT_LT(BytesRead() - before, 1 << 20) << size;
        std::remove(path.c_str());
    }
}

// Captions whose font is given as a file that has every character they draw never ask
// fontconfig (a broken configuration would make it complain on the standard error and fail); a
// character the font lacks does.
TEST(FontFiles, CaptionsByFileLeaveFontconfigAlone) {
    const std::string broken = testing::TempDir() + "/zav_broken_fonts.conf";
    std::ofstream(broken) << "<fontconfig><dir>unterminated";
    const std::string cjk = CaptionFont().path;  // the test's own lookups, made first
    ASSERT_EQ(CaptionFont().index, 0);
    const std::string latin = Latin().path;
    const zav::FontCatalogCounts before = zav::FontCatalogActivity();
    {
        ScopedEnv env("FONTCONFIG_FILE", broken.c_str());
        EXPECT_EQ(Typo(cjk.c_str(), "\xE8\xA7\x86\xE9\xA2\x91 12:34 Cam-01"), ZAV_TEXT_OK);
        EXPECT_EQ(Typo(latin.c_str(), "Cam-01 12:34"), ZAV_TEXT_OK);
        Canvas canvas(320, 80, ZAV_DEPTH_8U, 3);
        ZAVImageStruct record = canvas.Record();
        EXPECT_EQ(zav::PutCaption(&record, reinterpret_cast<const uint8_t *>("\xE8\xA7\x86 cam"), 4,
                                  50, 2, 24.0f, 0.1f, 0.0f, &cjk, zav::TextEncoding::kUtf8),
                  0);
        EXPECT_GT(canvas.Changed(0).Count(), 0);
    }
    const zav::FontCatalogCounts after = zav::FontCatalogActivity();
    EXPECT_EQ(after.lookups, before.lookups);
    EXPECT_EQ(after.configurations, before.configurations);

    // DejaVu Sans has no Chinese: the fallback asks fontconfig.
    EXPECT_EQ(Typo(latin.c_str(), "Cam \xE8\xA7\x86"), ZAV_TEXT_OK);
    EXPECT_GT(zav::FontCatalogActivity().lookups, after.lookups);
    std::remove(broken.c_str());
}

}  // namespace
}  // namespace zavtest
