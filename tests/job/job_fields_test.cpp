// The job layer's per-frame fields from inside: templates expanded for captions and output
// names (long times, times with nothing to say, fields with nothing to give, the bounds), and the
// EXIF reader over TIFF structures the test lays out byte by byte, damaged and hostile ones
// among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "job/exif.h"
#include "job/template.h"
#include "job/usage_error.h"

namespace {

using zav::job::ExifTags;
using zav::job::Expand;
using zav::job::ExpandName;
using zav::job::FrameFacts;
using zav::job::Template;
using zav::job::UsageError;

// 2023-11-14 22:13:20 UTC, a Tuesday.
constexpr std::time_t kTime = 1700000000;

// Sets the time zone for the test and puts it back after.
class TimeZone {
  public:
    explicit TimeZone(const char *zone) {
        if (const char *old = std::getenv("TZ")) {
            m_old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (m_old) {
            setenv("TZ", m_old->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::optional<std::string> m_old;
};

FrameFacts Facts(const std::string &path, std::optional<std::time_t> mtime = kTime) {
    FrameFacts facts;
    facts.path = path;
    facts.index = 2;
    facts.count = 9;
    facts.mtime = mtime;
    return facts;
}

// The message of the UsageError that `f` throws; "" when it throws none.
template <typename F>
std::string Refusal(F &&f) {
    try {
        f();
    } catch (const UsageError &e) {
        return e.what();
    }
    return "";
}

std::string Repeat(const std::string &s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

TEST(TemplateTest, LongTimesExpandWholeUpToTheBoundAndAreRefusedPastIt) {
    const TimeZone utc("UTC");
    // Each %c gives 24 bytes for its 2: once past a buffer that grew with the format's length
    // alone, the field came out empty.
    const Template many = Template::Read("text", "[{mtime:" + Repeat("%c", 100) + "}]");
    EXPECT_EQ(Expand(many, Facts("a.jpg")), "[" + Repeat("Tue Nov 14 22:13:20 2023", 100) + "]");
    // A padded year: 300 bytes from a 7-byte format.
    const std::string padded = Expand(Template::Read("text", "{mtime:%_300Y}"), Facts("a.jpg"));
    EXPECT_EQ(padded, std::string(296, ' ') + "2023");

    // The bound: a caption's most characters at four bytes each, refused one byte past it.
    const std::size_t bound = zav::job::kMaxExpandedBytes;
    EXPECT_EQ(bound, 4u * ZAV_TEXT_MAX_CHARACTERS);
    const auto year = [&](std::size_t width) { return "{mtime:%_" + std::to_string(width) + "Y}"; };
    EXPECT_EQ(Expand(Template::Read("text", year(bound)), Facts("a.jpg")).size(), bound);
    const std::string past =
        Refusal([&] { Expand(Template::Read("text", year(bound + 1)), Facts("a.jpg")); });
    EXPECT_NE(past.find(std::to_string(bound) + " bytes"), std::string::npos) << past;
    EXPECT_NE(past.find(year(bound + 1)), std::string::npos) << past;
    // Two fields within the bound each, past it together; text before a long field.
    EXPECT_NE(Refusal([&] {
                  Expand(Template::Read("text", year(bound / 2) + year(bound / 2 + 1)),
                         Facts("a.jpg"));
              }),
              "");
    EXPECT_NE(Refusal([&] { Expand(Template::Read("text", "x" + year(bound)), Facts("a.jpg")); }),
              "");
    // Widths strftime cannot even count are refused the same way, not cut.
    EXPECT_NE(Refusal([&] {
                  Expand(Template::Read("text", "{mtime:%_99999999999999999999Y}"), Facts("a.jpg"));
              }),
              "");
}

TEST(TemplateTest, FieldsWithNothingToGiveAreEmptyInCaptionsAndRefusedInNames) {
    // A zone without a name: %Z writes nothing, which strftime reports as it reports no room.
    const TimeZone unnamed("A");
    const Template zone = Template::Read("name", "{stem}{mtime:%Z}.png", true);
    EXPECT_EQ(Expand(zone, Facts("cam/a.jpg")), "a.png");
    std::string why = Refusal([&] { ExpandName(zone, Facts("cam/a.jpg"), "name"); });
    EXPECT_EQ(why, "name: '{stem}{mtime:%Z}.png': {mtime:%Z} gives nothing for 'cam/a.jpg'");

    const Template ext = Template::Read("name", "{stem}.{ext}", true);
    EXPECT_EQ(ExpandName(ext, Facts("cam/a.jpg"), "name"), "a.jpg");
    why = Refusal([&] { ExpandName(ext, Facts("cam/README"), "name"); });
    EXPECT_EQ(why, "name: '{stem}.{ext}': {ext} gives nothing for 'cam/README'");

    const Template folder = Template::Read("name", "{folder}-{name}", true);
    EXPECT_EQ(ExpandName(folder, Facts("cam/a.jpg"), "name"), "cam-a.jpg");
    EXPECT_NE(Refusal([&] { ExpandName(folder, Facts("a.jpg"), "name"); }), "");

    // No time (a picture in memory): nothing for {mtime}.
    const Template time = Template::Read("name", "{mtime:%F}_{name}", true);
    EXPECT_EQ(ExpandName(time, Facts("a.jpg"), "name"), "2023-11-14_a.jpg");
    EXPECT_NE(Refusal([&] { ExpandName(time, Facts("a.jpg", std::nullopt), "name"); }), "");
    EXPECT_EQ(Expand(time, Facts("a.jpg", std::nullopt)), "_a.jpg");
    // A time outside the calendar (a 64-bit time_t's largest; a 32-bit one's is in 2038).
    if constexpr (sizeof(std::time_t) == 8) {
        const std::time_t never = std::numeric_limits<std::time_t>::max();
        EXPECT_NE(Refusal([&] { ExpandName(time, Facts("a.jpg", never), "name"); }), "");
    }

    // The input and the template are escaped in the message.
    why = Refusal([&] { ExpandName(ext, Facts("cam/line\nbreak"), "--name"); });
    EXPECT_EQ(why, "--name: '{stem}.{ext}': {ext} gives nothing for 'cam/line\\nbreak'");
}

// A conversion with nothing to say in one locale: German has no AM and PM, and its day names
// are its own (scripts/setup.sh generates the locale).
TEST(TemplateTest, TimesFollowTheLocaleAndAnEmptyOneIsRefusedInNames) {
    const TimeZone utc("UTC");
    const std::string old = std::setlocale(LC_TIME, nullptr);
    if (std::setlocale(LC_TIME, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale";
    }
    const Template ampm = Template::Read("name", "{stem}{mtime:%p}.png", true);
    const std::string expanded = Expand(ampm, Facts("a.jpg"));
    const std::string why = Refusal([&] { ExpandName(ampm, Facts("a.jpg"), "name"); });
    const std::string day =
        ExpandName(Template::Read("name", "{mtime:%A}.png", true), Facts("a.jpg"), "name");
    std::setlocale(LC_TIME, old.c_str());
    EXPECT_EQ(expanded, "a.png");
    EXPECT_EQ(why, "name: '{stem}{mtime:%p}.png': {mtime:%p} gives nothing for 'a.jpg'");
    EXPECT_EQ(day, "Dienstag.png");
}

TEST(TemplateTest, NamesAreOneFileNameWithinTheLimit) {
    const TimeZone utc("UTC");
    const std::size_t limit = zav::kMaxFileNameBytes;
    const Template stem = Template::Read("name", "{stem}.png", true);
    const std::string fits(limit - 4, 'n');
    EXPECT_EQ(ExpandName(stem, Facts("in/" + fits + ".jpg"), "name"), fits + ".png");
    const std::string why =
        Refusal([&] { ExpandName(stem, Facts("in/" + fits + "n.jpg"), "name"); });
    EXPECT_EQ(why, "name: '{stem}.png': the name for 'in/" + fits + "n.jpg' is longer than " +
                       std::to_string(limit) + " bytes");
    // A long time in a name is refused at the name's limit, far below the caption's.
    EXPECT_NE(Refusal([&] {
                  ExpandName(Template::Read("name", "{mtime:%_300Y}.png", true), Facts("a"),
                             "name");
              }),
              "");

    for (const std::string &text :
         std::vector<std::string>{"..", ".", "a/{name}", std::string("{stem}\0.png", 11)}) {
        EXPECT_NE(Refusal([&] {
                      ExpandName(Template::Read("name", text, true), Facts("a.jpg"), "name");
                  }),
                  "")
            << text;
    }
    // A NUL byte in a time format is not a format.
    EXPECT_NE(Refusal([] { Template::Read("name", std::string("{mtime:%F\0%T}", 13), true); }), "");
}

// A TIFF structure laid out by the test: a header, then directories whose values that do not
// fit in 4 bytes follow each directory.
class TiffBuilder {
  public:
    explicit TiffBuilder(bool little) : m_little(little) {
        m_bytes = {static_cast<uint8_t>(little ? 'I' : 'M'),
                   static_cast<uint8_t>(little ? 'I' : 'M')};
        U16(42);
        U32(8);
    }
    struct Entry {
        uint16_t tag, type;
        uint32_t count;
        std::vector<uint8_t> value;  // more than 4 bytes: placed after the directory
        std::optional<uint32_t> offset = std::nullopt;  // the value field as given
    };
    static Entry Ascii(uint16_t tag, const std::string &text) {
        std::vector<uint8_t> v(text.begin(), text.end());
        v.push_back(0);
        return {tag, 2, static_cast<uint32_t>(v.size()), v};
    }
    Entry Short(uint16_t tag, uint16_t value, uint32_t count = 1) const {
        return {tag, 3, count, Bytes16(value)};
    }
    Entry Long(uint16_t tag, uint32_t value) const { return {tag, 4, 1, Bytes32(value)}; }
    // Adds a directory at the end; returns its offset.
    uint32_t Directory(const std::vector<Entry> &entries, uint32_t next = 0) {
        const auto at = static_cast<uint32_t>(m_bytes.size());
        U16(static_cast<uint16_t>(entries.size()));
        uint32_t valueAt = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
        std::vector<uint8_t> values;
        for (const Entry &e : entries) {
            U16(e.tag);
            U16(e.type);
            U32(e.count);
            if (e.offset) {
                U32(*e.offset);
            } else if (e.value.size() <= 4) {
                std::vector<uint8_t> v = e.value;
                v.resize(4);
                m_bytes.insert(m_bytes.end(), v.begin(), v.end());
            } else {
                U32(valueAt + static_cast<uint32_t>(values.size()));
                values.insert(values.end(), e.value.begin(), e.value.end());
            }
        }
        U32(next);
        m_bytes.insert(m_bytes.end(), values.begin(), values.end());
        return at;
    }
    // The next directory's offset (for a pointer to it made before it is added).
    uint32_t End() const { return static_cast<uint32_t>(m_bytes.size()); }
    const std::vector<uint8_t> &Bytes() const { return m_bytes; }

  private:
    std::vector<uint8_t> Bytes16(uint16_t v) const {
        return m_little ? std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8)}
                        : std::vector<uint8_t>{uint8_t(v >> 8), uint8_t(v)};
    }
    std::vector<uint8_t> Bytes32(uint32_t v) const {
        std::vector<uint8_t> b = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        if (!m_little) {
            std::reverse(b.begin(), b.end());
        }
        return b;
    }
    void U16(uint16_t v) {
        const auto b = Bytes16(v);
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
    }
    void U32(uint32_t v) {
        const auto b = Bytes32(v);
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
    }
    bool m_little;
    std::vector<uint8_t> m_bytes;
};

ExifTags Read(const std::vector<uint8_t> &bytes) {
    return zav::job::ReadExifBytes(std::span<const uint8_t>(bytes));
}

// A JPEG's start, then `before` (fill bytes, other segments), then an APP1 Exif segment holding
// `tiff`, then the start of a scan.
std::vector<uint8_t> Jpeg(const std::vector<uint8_t> &tiff,
                          const std::vector<uint8_t> &before = {}) {
    std::vector<uint8_t> jpeg = {0xFF, 0xD8};
    jpeg.insert(jpeg.end(), before.begin(), before.end());
    const std::size_t length = 2 + 6 + tiff.size();
    const std::vector<uint8_t> head = {
        0xFF, 0xE1, uint8_t(length >> 8), uint8_t(length), 'E', 'x', 'i', 'f', 0, 0};
    jpeg.insert(jpeg.end(), head.begin(), head.end());
    jpeg.insert(jpeg.end(), tiff.begin(), tiff.end());
    const std::vector<uint8_t> scan = {0xFF, 0xDA, 0, 2};
    jpeg.insert(jpeg.end(), scan.begin(), scan.end());
    return jpeg;
}

TEST(ExifTest, BothDirectoriesInBothByteOrdersInTiffsAndJpegs) {
    for (const bool little : {true, false}) {
        TiffBuilder t(little);
        // after the first directory and its two texts ("Make\0", "Model 1\0")
        const uint32_t exifAt = 8 + 2 + 5 * 12 + 4 + 5 + 8;
        t.Directory({TiffBuilder::Ascii(0x010F, "Make"), TiffBuilder::Ascii(0x0110, "Model 1"),
                     t.Short(0x0112, 6), TiffBuilder::Ascii(0x013B, "A"), t.Long(0x8769, exifAt)});
        ASSERT_EQ(t.End(), exifAt);
        t.Directory({TiffBuilder::Ascii(0x9003, "2024:05:06 07:08:09"),
                     TiffBuilder::Ascii(0xA434, "Lens  \x01 "), TiffBuilder::Ascii(0x010F, "no")});
        for (const bool jpeg : {false, true}) {
            const ExifTags tags = Read(jpeg ? Jpeg(t.Bytes()) : t.Bytes());
            EXPECT_EQ(tags.fromTiff, !jpeg);
            EXPECT_EQ(tags.orientation, 6);
            const std::map<std::string, std::string, std::less<>> expected = {
                {"Make", "Make"},
                {"Model", "Model 1"},
                {"Artist", "A"},
                {"DateTimeOriginal", "2024:05:06 07:08:09"},
                {"LensModel", "Lens"}};  // the control byte left out, the spaces at the end
            EXPECT_EQ(tags.text, expected) << little << jpeg;
        }
    }
}

TEST(ExifTest, EmptyAndCountedWrongAreLeftOut) {
    // A directory of no entries is read without reading anything: a reader is never asked for
    // zero bytes (nor into no buffer).
    TiffBuilder empty(true);
    empty.Directory({});
    int asked = 0;
    const zav::job::ReadAt read = [&](uint64_t offset, std::size_t size, uint8_t *out) {
        EXPECT_GT(size, 0u);
        EXPECT_NE(out, nullptr);
        const auto &b = empty.Bytes();
        ++asked;
        if (size == 0 || offset > b.size() || size > b.size() - offset) {
            return false;
        }
        std::memcpy(out, b.data() + offset, size);
        return true;
    };
    const ExifTags none = zav::job::ReadExif(read, empty.Bytes().size());
    EXPECT_GT(asked, 0);
    EXPECT_TRUE(none.text.empty());
    EXPECT_FALSE(none.orientation);
    EXPECT_TRUE(Read(Jpeg(empty.Bytes())).text.empty());
    EXPECT_TRUE(Read({}).text.empty());
    EXPECT_TRUE(Read({'I', 'I'}).text.empty());

    // An orientation of 3 values has an offset in its value field, not a value; a zero-length
    // text; an orientation out of range.
    for (const uint32_t count : {0u, 2u, 3u}) {
        TiffBuilder t(true);
        t.Directory({t.Short(0x0112, 8, count), TiffBuilder::Entry{0x010F, 2, 0, {}}});
        const ExifTags tags = Read(t.Bytes());
        EXPECT_FALSE(tags.orientation) << count;
        EXPECT_TRUE(tags.text.empty());
    }
    TiffBuilder wrong(false);
    wrong.Directory({wrong.Short(0x0112, 9)});
    EXPECT_FALSE(Read(wrong.Bytes()).orientation);
}

TEST(ExifTest, HostileOffsetsCountsAndChainsEndWithoutHarm) {
    TiffBuilder t(true);
    const uint32_t first = 8;
    const uint32_t exifAt = first + 2 + 5 * 12 + 4 + 1030;
    t.Directory({// A text whose offset and size pass the end of the file, one that wraps 32 bits
                 {0x010F, 2, 16, {}, 0xFFFFFFF8u},
                 {0x0110, 2, 0xFFFFFFFFu, {}, 0x20u},
                 // the longest text kept, then the rest left out
                 TiffBuilder::Ascii(0x0131, std::string(1029, 's')),
                 t.Short(0x0112, 3),
                 // an Exif directory whose own pointer leads back to the first
                 t.Long(0x8769, exifAt)});
    ASSERT_EQ(t.End(), exifAt);
    t.Directory({t.Long(0x8769, first), TiffBuilder::Ascii(0x9003, "taken")}, first);
    const ExifTags tags = Read(t.Bytes());
    EXPECT_EQ(tags.orientation, 3);
    EXPECT_EQ(tags.text.count("Make"), 0u);
    EXPECT_EQ(tags.text.at("Software"), std::string(1024, 's'));
    EXPECT_EQ(tags.text.at("DateTimeOriginal"), "taken");
    // "Model": 1024 bytes from offset 32, within the file: what is there up to the first NUL.
    EXPECT_EQ(tags.text.count("Model"), 1u);

    // A directory claiming 65535 entries in a short file; an Exif pointer past 4 GiB's offsets.
    std::vector<uint8_t> many = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 1, 2, 3};
    EXPECT_TRUE(Read(many).text.empty());
    TiffBuilder far(false);
    far.Directory({far.Long(0x8769, 0xFFFFFFFFu), TiffBuilder::Ascii(0x0110, "m")});
    EXPECT_EQ(Read(far.Bytes()).text.at("Model"), "m");

    // A JPEG segment whose length passes the end of the file, segments without end: nothing, and
    // quickly.
    std::vector<uint8_t> cut = Jpeg(t.Bytes());
    cut.resize(40);
    EXPECT_TRUE(Read(cut).text.empty());
    std::vector<uint8_t> endless = {0xFF, 0xD8};
    for (int i = 0; i < 100000; ++i) {
        endless.insert(endless.end(), {0xFF, 0xE0, 0, 2});
    }
    EXPECT_TRUE(Read(endless).text.empty());
}

TEST(ExifTest, TheExifSegmentIsFoundPastFillBytesAndOtherSegments) {
    TiffBuilder t(false);
    t.Directory({TiffBuilder::Ascii(0x0110, "found")});
    // Fill bytes before a marker, an APP0, an APP1 that is not Exif (XMP's).
    std::vector<uint8_t> before = {0xFF, 0xFF, 0xFF, 0xE0, 0, 4, 'J', 'F'};
    const std::string xmp = "http://ns.adobe.com/xap/1.0/";
    before.insert(before.end(), {0xFF, 0xE1, 0, uint8_t(2 + xmp.size())});
    before.insert(before.end(), xmp.begin(), xmp.end());
    before.insert(before.end(), {0xFF, 0xFF});
    EXPECT_EQ(Read(Jpeg(t.Bytes(), before)).text.at("Model"), "found");
    // After the scan starts, no Exif is looked for.
    std::vector<uint8_t> late = {0xFF, 0xDA, 0, 2};
    EXPECT_TRUE(Read(Jpeg(t.Bytes(), late)).text.empty());
}

}  // namespace
