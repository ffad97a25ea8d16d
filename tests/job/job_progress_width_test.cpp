// The progress line's width as a terminal counts it: names of wide characters (CJK, emoji),
// combining marks and zero-width characters, measured by Python's own Unicode data (not glibc's,
// which the library reads), never wrap the line and leave no room unused when they are cut.
#include <locale.h>

#include <clocale>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "zavimage/job.h"

namespace {

using namespace zavtest;

// Python's measure of every assigned code point that does not take one column: general
// categories Mn and Me (combining marks) and Cf (format characters, zero-width joiner among them)
// take none, East Asian wide and fullwidth characters two. A terminal shows the prepended
// concatenation marks and the soft hyphen, so they keep their column. Each line: code point,
// columns, class ("mark", "zero", "emoji" for wide ones in U+1F000..U+1FAFF, "wide").
constexpr const char *kOracle = R"(import unicodedata as u
shown = {0xAD, 0x600, 0x601, 0x602, 0x603, 0x604, 0x605, 0x6DD, 0x70F, 0x890, 0x891, 0x8E2,
         0x110BD, 0x110CD}
for c in range(0xA0, 0x110000):
    cat = u.category(chr(c))
    if cat in ("Cn", "Cs", "Co", "Zl", "Zp") or c in shown:
        continue
    if cat in ("Mn", "Me", "Cf"):
        print("%x 0 %s" % (c, "zero" if cat == "Cf" else "mark"))
    elif u.east_asian_width(chr(c)) in "WF":
        print("%x 2 %s" % (c, "emoji" if 0x1F000 <= c <= 0x1FAFF else "wide"))
)";

struct Oracle {
    std::unordered_map<char32_t, std::size_t> columns;  // the rest take one
    std::map<std::string, std::vector<char32_t>> classes;
};

const Oracle &TheOracle() {
    static const Oracle oracle = [] {
        Oracle o;
        TempDir dir;
        std::ofstream(dir / "oracle.py") << kOracle;
        FILE *pipe = popen(("/usr/bin/python3 " + Quote(dir / "oracle.py")).c_str(), "r");
        if (pipe == nullptr) {
            return o;
        }
        unsigned code = 0;
        unsigned width = 0;
        char kind[8];
        while (std::fscanf(pipe, "%x %u %7s", &code, &width, kind) == 3) {
            o.columns[code] = width;
            o.classes[kind].push_back(code);
        }
        pclose(pipe);
        return o;
    }();
    return oracle;
}

std::string Utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

// The code points of well-formed UTF-8 text.
std::vector<char32_t> CodePoints(const std::string &text) {
    std::vector<char32_t> out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const std::size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        char32_t c = length == 1 ? b : b & (0x7F >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        out.push_back(c);
        i += length;
    }
    return out;
}

std::size_t Columns(char32_t c) {
    const auto &columns = TheOracle().columns;
    const auto found = columns.find(c);
    return found == columns.end() ? 1 : found->second;
}

std::size_t Columns(const std::string &text) {
    std::size_t sum = 0;
    for (const char32_t c : CodePoints(text)) {
        sum += Columns(c);
    }
    return sum;
}

std::string Line(std::size_t done, std::size_t total, const std::string &name,
                 std::size_t columns) {
    const std::size_t size = ZAVJobProgressLine(done, total, 0, name.c_str(), columns, nullptr, 0);
    std::string out(size + 1, '\0');
    ZAVJobProgressLine(done, total, 0, name.c_str(), columns, out.data(), out.size());
    out.resize(size);
    return out;
}

// The name as the line shows it: the bidirectional controls among the format characters escaped.
std::string Shown(const std::string &name) {
    const std::size_t size = ZAVPrintableName(name.c_str(), nullptr, 0);
    std::string out(size + 1, '\0');
    ZAVPrintableName(name.c_str(), out.data(), out.size());
    out.resize(size);
    return out;
}

// Names of 24 characters (48 code points with their bases) from each class in turn: combining
// marks and zero-width characters after a letter, as they stand in names.
std::vector<std::string> Names(const std::vector<char32_t> &codes) {
    std::vector<std::string> names;
    for (std::size_t from = 0; from < codes.size(); from += 24) {
        std::string name;
        for (std::size_t k = from; k < codes.size() && k < from + 24; ++k) {
            if (Columns(codes[k]) == 0) {
                name += 'a';
            }
            name += Utf8(codes[k]);
        }
        names.push_back(name);
    }
    return names;
}

// Every name of a class, at several widths: the line is at most columns - 1 wide as the terminal
// counts it, a cut name fills what the bar and counts leave (a character short at most, where a
// wide one did not fit), and its kept end starts with a character of its own, not a mark or
// joiner that would join the dots.
void ExpectLinesFit(const std::vector<std::string> &names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        for (const std::size_t columns : {16u, 33u, 60u, 80u}) {
            const std::string line = Line(i, names.size(), names[i], columns);
            const std::string shown = Shown(names[i]);
            const std::size_t width = Columns(line);
            ASSERT_LE(width, columns - 1) << columns << " columns: " << line;
            // the name after two spaces, "..." in front of it where it was cut
            const std::size_t cut = line.find("  ...");
            if (cut == std::string::npos) {
                ASSERT_GE(line.size(), shown.size()) << line;
                EXPECT_EQ(line.substr(line.size() - shown.size()), shown) << line;
                continue;
            }
            ASSERT_GE(width, columns - 2) << columns << " columns: " << line;
            const std::string kept = line.substr(cut + 5);
            ASSERT_LE(kept.size(), shown.size()) << line;
            EXPECT_EQ(shown.substr(shown.size() - kept.size()), kept) << line;
            if (!kept.empty()) {
                EXPECT_NE(Columns(CodePoints(kept).front()), 0u) << columns << " columns: " << line;
            }
        }
    }
}

TEST(ProgressLineWidth, OracleKnowsEveryClass) {
    const auto &classes = TheOracle().classes;
    ASSERT_EQ(classes.size(), 4u) << "python3 gave no Unicode data";
    EXPECT_GT(classes.at("wide").size(), 100000u);
    EXPECT_GT(classes.at("emoji").size(), 1000u);
    EXPECT_GT(classes.at("mark").size(), 1500u);
    EXPECT_GT(classes.at("zero").size(), 100u);
    EXPECT_EQ(Columns(0x200D), 0u);   // zero-width joiner
    EXPECT_EQ(Columns(0x1F929), 2u);  // a face with starry eyes
}

TEST(ProgressLineWidth, NamesOfEachClassFitAsTheTerminalCountsThem) {
    for (const auto &[kind, codes] : TheOracle().classes) {
        SCOPED_TRACE(kind);
        ExpectLinesFit(Names(codes));
    }
}

TEST(ProgressLineWidth, MixedNamesAndEmojiSequencesFit) {
    const auto &classes = TheOracle().classes;
    // The classes interleaved, each name starting somewhere else in each.
    std::vector<char32_t> mixed;
    for (std::size_t k = 0; k < 4000; ++k) {
        const auto &codes = std::next(classes.begin(), static_cast<std::ptrdiff_t>(k % 4))->second;
        mixed.push_back(codes[(k * 37) % codes.size()]);
    }
    ExpectLinesFit(Names(mixed));
    // Sequences joined by U+200D, with skin tones, flags, accents made of combining marks: each
    // character counted, the joiners and marks not.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    const std::string coder = "\U0001F469\U0001F3FD\u200D\U0001F4BB";
    const std::string flag = "\U0001F1E9\U0001F1EA";
    const std::string accents = "e\u0301a\u0308\u0323o\u0302";
    std::vector<std::string> names;
    for (const std::string &piece : {family, coder, flag, accents}) {
        std::string name;
        for (int k = 0; k < 30; ++k) {
            name += piece;
        }
        names.push_back(name);
    }
    std::string all;
    for (int k = 0; k < 10; ++k) {
        all += family + "\u6587\u4EF6" + coder + accents + flag + "\uFF21\uAC00";
    }
    names.push_back(all);
    ExpectLinesFit(names);
}

// The case that overflowed: thirty emoji at 60 columns took 85.
TEST(ProgressLineWidth, ThirtyEmojiTakeNoMoreThanTheLine) {
    std::string name;
    for (char32_t c = 0x1F910; c < 0x1F910 + 30; ++c) {
        name += Utf8(c);
    }
    const std::string line = Line(3, 10, name, 60);
    EXPECT_LE(Columns(line), 59u) << line;
    EXPECT_GE(Columns(line), 58u) << line;
}

// The widths are read in a locale of the library's own: neither the process's locale nor the
// thread's changes, whichever the thread was using.
TEST(ProgressLineWidth, LeavesTheLocalesAsTheyWere) {
    std::string name;
    for (int k = 0; k < 20; ++k) {
        name += "\u6587\u4EF6\U0001F4F7";
    }
    ASSERT_EQ(uselocale(locale_t{}), LC_GLOBAL_LOCALE);
    const std::string line = Line(1, 2, name, 40);
    EXPECT_GE(Columns(line), 38u) << line;
    EXPECT_EQ(uselocale(locale_t{}), LC_GLOBAL_LOCALE);
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "C");
    // a thread in a locale of its own measures the same and keeps its locale
    const locale_t own = newlocale(LC_ALL_MASK, "C", locale_t{});
    ASSERT_NE(own, locale_t{});
    uselocale(own);
    EXPECT_EQ(Line(1, 2, name, 40), line);
    EXPECT_EQ(uselocale(locale_t{}), own);
    uselocale(LC_GLOBAL_LOCALE);
    freelocale(own);
}

}  // namespace
