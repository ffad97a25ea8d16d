// Text from elsewhere within bounds: JSON nested no deeper than the parser allows, values cut in
// messages, numbers read the same under a decimal-comma locale, and detections files read a line
// at a time, keeping the batch's own rows only, with boxes and labels within the caption's limits.
// The pieces are reached from inside (the job layer's archive beside the library) and the same
// faults through a job's plan.
#include <clocale>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "job/detections.h"
#include "job/json_text.h"
#include "job/printable.h"
#include "job/usage_error.h"
#include "job/values.h"
#include "tests/job/job_support.h"

namespace zavtest {
namespace {

using zav::job::Detections;
using zav::job::Json;

// The message of the UsageError `f` throws; "" when it throws none.
template <class F>
std::string Refused(F &&f) {
    try {
        f();
    } catch (const zav::job::UsageError &e) {
        return e.what();
    }
    return "";
}

std::string Nested(std::size_t levels) {
    return std::string(levels, '[') + std::string(levels, ']');
}

Detections Parse(std::string_view bytes, const Detections::Keys &wanted = {"a.ppm"},
                 std::optional<double> minScore = std::nullopt) {
    return Detections::Parse("detections", "d.txt", bytes, minScore, wanted);
}

std::size_t BoxesOf(Detections &d, const std::string &name) {
    const std::vector<zav::job::Detection> *boxes = d.Find(name, name, name);
    return boxes == nullptr ? 0 : boxes->size();
}

bool StartsWith(const std::string &text, const std::string &start) {
    return text.compare(0, start.size(), start) == 0;
}

std::vector<uint8_t> Bytes(const std::string &text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// Sets LC_ALL to a locale with a decimal comma for its scope; ok() false when there is none.
class CommaLocale {
  public:
    CommaLocale() {
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) {
                m_ok = std::localeconv()->decimal_point[0] == ',';
                return;
            }
        }
    }
    ~CommaLocale() { std::setlocale(LC_ALL, "C"); }
    bool ok() const { return m_ok; }

  private:
    bool m_ok = false;
};

TEST(JsonText, NestingIsBoundedAtSixtyFourLevelsAndNamesTheFieldAndLine) {
    // 100,000 brackets: a copy or dump() of the value would overflow the stack
    const std::string deep = "{\"file\": \"a.ppm\", \"boxes\": [{\"x\": " + Nested(100000) + "}]}";
    EXPECT_EQ(Refused([&] { zav::job::ParseJsonText(deep, "detections: d.jsonl", 3); }),
              "detections: d.jsonl line 3: nested deeper than 64 levels in 'boxes'");
    EXPECT_EQ(Refused([&] { zav::job::ParseJsonText(Nested(65), "the job"); }),
              "the job: nested deeper than 64 levels");
    // 64 levels, the outermost object counted, are read whole
    const Json kept = zav::job::ParseJsonText("{\"a\": " + Nested(63) + "}", "the job");
    const Json *inner = &kept["a"];
    int levels = 1;
    while (!inner->empty()) {
        inner = &(*inner)[0];
        ++levels;
    }
    EXPECT_EQ(levels, 63);
    EXPECT_EQ(Refused([&] { zav::job::ParseJsonText("{\"a\": " + Nested(64) + "}", "j"); }),
              "j: nested deeper than 64 levels in 'a'");
    // brackets inside strings are text
    EXPECT_EQ(zav::job::ParseJsonText("{\"a\": \"" + Nested(1000) + "\"}", "j")["a"].size(), 1u);
}

TEST(JsonText, NumbersBeyondADoubleAndSyntaxFaultsAreRefusedNamingTheText) {
    EXPECT_EQ(Refused([] {
                  zav::job::ParseJsonText(
                      "{\"file\": \"a\", \"boxes\": [{\"x\": 1, \"y\": 1e999}]}",
                      "detections: d.jsonl", 2);
              }),
              "detections: d.jsonl line 2: a number beyond the range of a double in 'boxes.y' "
              "(1e999)");
    const std::string minus =
        Refused([] { zav::job::ParseJsonText("{\"o\": -1" + std::string(400, '0') + "}", "j"); });
    EXPECT_EQ(minus, "j: a number beyond the range of a double in 'o' (-1" + std::string(70, '0') +
                         "...)");
    const std::string syntax = Refused([] { zav::job::ParseJsonText("{\"a\": 1}\n x", "j"); });
    EXPECT_TRUE(StartsWith(syntax, "j: not JSON: parse error at line 2, column 2: ")) << syntax;
    // an unclosed string of 1 MB is not echoed whole
    const std::string open = "{\"a\": \"" + std::string(1 << 20, 'z');
    const std::string message = Refused([&] { zav::job::ParseJsonText(open, "d", 7); });
    EXPECT_TRUE(StartsWith(message, "d line 7: not JSON: parse error at column ")) << message;
    EXPECT_LT(message.size(), 300u);
    // numbers are nlohmann's, whatever the locale
    const CommaLocale comma;
    EXPECT_EQ(zav::job::ParseJsonText("[20.5]", "j")[0].get<double>(), 20.5);
}

TEST(JsonText, AJobDocumentNestedDeepOrHoldingAHugeNumberIsRefusedNamingTheField) {
    const std::string head = "{\"inputs\": [\"a.ppm\"], \"output\": \"b.bmp\", ";
    int32_t kind = 0;
    EXPECT_EQ(Refusal(head + "\"captions\": " + Nested(100000) + "}", false, &kind),
              "the job: nested deeper than 64 levels in 'captions'");
    EXPECT_EQ(kind, ZAV_REFUSED_VALUE);
    EXPECT_EQ(Refusal(head + "\"opacity\": 1e999}", false, &kind),
              "the job: a number beyond the range of a double in 'opacity' (1e999)");
    EXPECT_EQ(kind, ZAV_REFUSED_VALUE);
    // as text, the field's own refusal
    EXPECT_EQ(Refusal(head + "\"min_score\": \"1e999\"}"),
              "min_score: '1e999' is not a number from -1e+09 to 1e+09");
}

TEST(JobValues, ValuesInMessagesAreCutBetweenCharactersAndStayEscaped) {
    EXPECT_EQ(zav::job::ShownText(std::string(72, 'a')), std::string(72, 'a'));
    EXPECT_EQ(zav::job::ShownText(std::string(73, 'a')), std::string(72, 'a') + "...");
    std::string accents;
    for (int i = 0; i < 100; ++i) {
        accents += "\xC3\xA9";  // é, two bytes
    }
    EXPECT_EQ(zav::job::ShownText(accents), accents.substr(0, 144) + "...");
    // a byte that is not UTF-8 is one character, escaped
    EXPECT_EQ(zav::job::ShownText("\x01\xFF" + std::string(80, 'b')),
              "\\x01\\xFF" + std::string(70, 'b') + "...");
    // a run of stray continuation bytes is not one character
    std::string stray;
    for (int i = 0; i < 71; ++i) {
        stray += "\\x80";
    }
    EXPECT_EQ(zav::job::ShownText("\xC3" + std::string(100, '\x80')), "\xC3\x80" + stray + "...");

    // through a job: a 10 MB value is refused with its start only
    const std::string huge(10 << 20, 'x');
    const std::string message = Refusal(
        "{\"inputs\": [\"a.ppm\"], \"output\": \"b.bmp\", \"resize\": \"\\u0001" + huge + "\"}");
    EXPECT_TRUE(StartsWith(message, "resize: '\\x01xxx")) << message.substr(0, 200);
    EXPECT_NE(message.find("xxx...' is not a size"), std::string::npos) << message.substr(0, 200);
    EXPECT_LT(message.size(), 300u);
}

TEST(JobValues, NumbersReadTheSameUnderADecimalCommaLocale) {
    const CommaLocale comma;
    if (!comma.ok()) {
        GTEST_SKIP() << "no locale with a decimal comma (scripts/setup.sh makes de_DE.UTF-8)";
    }
    EXPECT_EQ(zav::job::DecimalNumber("20.5"), 20.5);
    EXPECT_EQ(zav::job::DecimalNumber("+2.5e-1"), 0.25);
    EXPECT_EQ(zav::job::DecimalNumber("20,5"), std::nullopt);
    EXPECT_EQ(zav::job::DecimalNumber("1e999"), std::nullopt);
    EXPECT_EQ(zav::job::DecimalNumber("inf"), std::nullopt);
    EXPECT_EQ(zav::job::DecimalNumber("0x10"), std::nullopt);
    EXPECT_EQ(zav::job::FloatIn("opacity", Json("0.25"), 0.0f, 1.0f), 0.25f);
    EXPECT_EQ(zav::job::ToResize("resize", Json("12.5%")).percent, 12.5);
    EXPECT_EQ(zav::job::ToOpacity("opacity", Json("50.5%")), 0.505f);

    // a job and its detections, planned under the host's locale
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    WritePicture(dir / "a.ppm", 40, 30);
    ASSERT_TRUE(WriteFile(dir / "d.csv", Bytes("a.ppm,10.5,2.25,20.5,10,,,0.75\n")));
    ASSERT_TRUE(
        WriteFile(dir / "d.jsonl", Bytes("{\"file\": \"a.ppm\", \"boxes\": [{\"x\": \"10.5\", "
                                         "\"y\": 2.25, \"w\": \"20.5\", \"h\": 10, "
                                         "\"score\": \"0.75\"}]}\n")));
    for (const char *file : {"d.csv", "d.jsonl"}) {
        const JobPtr job =
            Planned("{\"inputs\": [" + Js(dir / "a.ppm") + "], \"output\": " + Js(dir / "b.bmp") +
                    ", \"resize\": \"50.5%\", \"detections\": " + Js(dir / file) +
                    ", \"min_score\": \"0.5\"}");
        EXPECT_TRUE(job) << file;
    }
    const JobPtr job =
        Planned("{\"inputs\": [" + Js(dir / "a.ppm") + "], \"output\": " + Js(dir / "b.bmp") +
                ", \"detections\": " + Js(dir / "d.csv") + "}");
    ASSERT_TRUE(job);
    char *exported = ZAVJobExport(job.get());
    const Json plan = Json::parse(exported);
    ZAVFreeMemory(exported);
    // 10.5 rounds away from zero to 11, 2.25 to 2, 20.5 to 21
    EXPECT_EQ(plan["plan"]["items"][0]["detections"][0], Json({{"x", 11},
                                                               {"y", 2},
                                                               {"w", 21},
                                                               {"h", 10},
                                                               {"score", 0.75},
                                                               {"label", ""},
                                                               {"color", ""}}));
}

TEST(Detections, OnlyTheBatchsRowsAreKeptAndTheOthersCounted) {
    std::string csv = "file,x,y,w,h\n";
    for (int i = 0; i < 3000; ++i) {
        csv += "other" + std::to_string(i) + ".ppm,1,2,3,4\n";
        csv += (i % 3 == 0   ? "./a.ppm"
                : i % 3 == 1 ? "sub/b.ppm"
                             : "c.ppm") +
               std::string(",1,2,3,4\n");
    }
    Detections d = Parse(csv, {"./sub/b.ppm", "a.ppm", "x/y.ppm"});
    EXPECT_EQ(d.Rows(), 6000u);
    EXPECT_EQ(BoxesOf(d, "a.ppm"), 1000u);
    EXPECT_EQ(BoxesOf(d, "sub/b.ppm"), 1000u);
    EXPECT_EQ(BoxesOf(d, "c.ppm"), 0u);  // not wanted: counted only
    EXPECT_EQ(BoxesOf(d, "other1.ppm"), 0u);
    EXPECT_EQ(d.UnusedRows(), 4000u);

    // the same from a file, its lines across the reader's pieces, with a byte-order mark
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(WriteFile(dir / "d.csv", Bytes("\xEF\xBB\xBF" + csv)));
    Detections r = Detections::Read("detections", dir / "d.csv", std::nullopt, {"a.ppm"});
    EXPECT_EQ(r.Rows(), 6000u);
    EXPECT_EQ(BoxesOf(r, "a.ppm"), 1000u);
    EXPECT_EQ(r.UnusedRows(), 5000u);
}

TEST(Detections, AByteOrderMarkStartsEitherKindOfFile) {
    for (const std::string &text :
         {std::string("\xEF\xBB\xBF"
                      "file,x,y,w,h\r\na.ppm,1,2,3,4\r\n"),
          std::string("\xEF\xBB\xBF"
                      "a.ppm,1,2,3,4"),
          std::string(
              "\xEF\xBB\xBF{\"file\": \"a.ppm\", \"boxes\": [{\"x\": 1, \"y\": 2, \"w\": 3, "
              "\"h\": 4}]}\n")}) {
        Detections d = Parse(text);
        const std::vector<zav::job::Detection> *boxes = d.Find("a.ppm", "a.ppm", "a.ppm");
        ASSERT_NE(boxes, nullptr) << text;
        ASSERT_EQ(boxes->size(), 1u);
        EXPECT_EQ((*boxes)[0].box.x, 1);
        EXPECT_EQ((*boxes)[0].box.height, 4);
    }
    // only at the start: later it is part of a name
    Detections later = Parse(
        "a.ppm,1,2,3,4\n\xEF\xBB\xBF"
        "a.ppm,1,2,3,4\n");
    EXPECT_EQ(BoxesOf(later, "a.ppm"), 1u);
    EXPECT_EQ(later.UnusedRows(), 1u);
}

TEST(Detections, LinesBoxesAndLabelsAreBoundedAndRefusedByLine) {
    const std::string row = "a.ppm,1,2,3,4\n";
    // a line of 1 MiB is read; one byte more is refused, also across the file's pieces
    const std::string longest = "a.ppm,1,2,3,4,," + std::string((1 << 20) - 15, ' ') + "\r\n";
    Detections most = Parse(row + longest);
    EXPECT_EQ(BoxesOf(most, "a.ppm"), 2u);
    EXPECT_EQ(Refused([&] { Parse(row + " " + longest); }),
              "detections: d.txt line 2: longer than 1 MiB");
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(WriteFile(dir / "d.csv", Bytes(row + row + std::string(3 << 20, 'z'))));
    EXPECT_EQ(
        Refused([&] { Detections::Read("detections", dir / "d.csv", std::nullopt, {"a.ppm"}); }),
        "detections: " + (dir / "d.csv") + " line 3: longer than 1 MiB");

    // 10,000 boxes a picture; rows of other files and rows under the score do not count
    std::string many;
    for (int i = 0; i < 10000; ++i) {
        many += row + "b.ppm,1,2,3,4\n" + "a.ppm,1,2,3,4,,,0.1\n";
    }
    Detections d = Parse(many, {"a.ppm"}, 0.5);
    EXPECT_EQ(BoxesOf(d, "a.ppm"), 10000u);
    EXPECT_EQ(Refused([&] { Parse(many + "\n" + row, {"a.ppm"}, 0.5); }),
              "detections: d.txt line 30002: more than 10000 boxes for 'a.ppm'");
    std::string jsonBoxes = "{\"file\": \"./a.ppm\", \"boxes\": [";
    for (int i = 0; i < 10001; ++i) {
        jsonBoxes += std::string(i == 0 ? "" : ",") + "{\"x\":1,\"y\":1,\"w\":1,\"h\":1}";
    }
    jsonBoxes += "]}";
    EXPECT_EQ(Refused([&] { Parse("\n" + jsonBoxes); }),
              "detections: d.txt line 2: more than 10000 boxes for './a.ppm'");

    // labels the caption draws on the tab: up to 4064 characters, no control, UTF-8
    std::string label;
    for (int i = 0; i < 4064; ++i) {
        label += i % 2 == 0 ? "\xE4\xB8\xAD" : "a";  // 中 and a
    }
    EXPECT_EQ(Refused([&] { Parse("a.ppm,1,2,3,4," + label + "\n"); }), "");
    const std::string over = Refused([&] { Parse("\na.ppm,1,2,3,4," + label + "b\n"); });
    EXPECT_NE(over.find("line 2: the label '\xE4\xB8\xAD"
                        "a"),
              std::string::npos)
        << over;
    EXPECT_NE(over.find("...' is longer than 4064 characters"), std::string::npos) << over;
    EXPECT_LT(over.size(), 400u);
    EXPECT_EQ(Refused([] { Parse("a.ppm,1,2,3,4,car\x01\n"); }),
              "detections: d.txt line 1: the label 'car\\x01' holds a control character");
    EXPECT_EQ(Refused([] { Parse("a.ppm,1,2,3,4,\"car\xC2\x85\"\n"); }),
              "detections: d.txt line 1: the label 'car\\xC2\\x85' holds a control character");
    EXPECT_EQ(Refused([] { Parse("a.ppm,1,2,3,4,car\xFF\n"); }),
              "detections: d.txt line 1: the label 'car\\xFF' is not UTF-8");
    EXPECT_EQ(Refused([] {
                  Parse(
                      "{\"file\": \"b.ppm\", \"boxes\": [{\"x\": 1, \"y\": 2, \"w\": 3, \"h\": 4, "
                      "\"label\": \"two\\nlines\"}]}");
              }),
              "detections: d.txt line 1: the label 'two\\nlines' holds a control character");
}

TEST(Detections, NumbersAndValuesAreRefusedNamingTheirFieldAndCut) {
    EXPECT_EQ(Refused([] { Parse("a.ppm,1e999,2,3,4\n"); }),
              "detections: d.txt line 1: '1e999' is not a number (x)");
    EXPECT_EQ(Refused([] { Parse("a.ppm,1,2,3,4,,,1e999\n"); }),
              "detections: d.txt line 1: '1e999' is not a number (score)");
    EXPECT_EQ(Refused([] {
                  Parse(
                      "{\"file\": \"a.ppm\", \"boxes\": [{\"x\": 1, \"y\": 2, \"w\": 3e999, "
                      "\"h\": 4}]}");
              }),
              "detections: d.txt line 1: a number beyond the range of a double in 'boxes.w' "
              "(3e999)");
    EXPECT_EQ(Refused([] {
                  Parse(
                      "{\"file\": \"a.ppm\", \"boxes\": [{\"x\": 1, \"y\": 2, \"w\": "
                      "9223372036854775808000, \"h\": 4}]}");
              }),
              "detections: d.txt line 1: '9.223372036854776e+21' is not a number (w)");
    // a box's values are escaped and cut in the message
    EXPECT_EQ(Refused([] { Parse("a.ppm,1,2,0,4\x01\n"); }),
              "detections: d.txt line 1: '4\\x01' is not a number (h)");
    const std::string wide =
        Refused([] { Parse("a.ppm,1,2,3,4,car," + std::string(100000, 'q')); });
    EXPECT_EQ(wide, "detections: d.txt line 1: '" + std::string(72, 'q') +
                        "...' is not a colour: black, white, red, green, blue, yellow, cyan, "
                        "magenta, gray, orange or #RRGGBB");
}

TEST(Detections, ThroughAJobDeepNestingAndLabelsAreRefusedWhenPlanned) {
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    WritePicture(dir / "a.ppm", 40, 30);
    const std::string job = "{\"inputs\": [" + Js(dir / "a.ppm") +
                            "], \"output\": " + Js(dir / "b.bmp") +
                            ", \"detections\": " + Js(dir / "d.jsonl") + "}";
    // 100,000 brackets on the third line: refused, not a crash
    ASSERT_TRUE(WriteFile(dir / "d.jsonl",
                          Bytes("{\"file\": \"a.ppm\"}\n\n{\"file\": \"a.ppm\", \"boxes\": " +
                                Nested(100000) + "}\n")));
    int32_t kind = 0;
    EXPECT_EQ(Refusal(job, true, &kind), "detections: " + (dir / "d.jsonl") +
                                             " line 3: nested deeper than 64 levels in "
                                             "'boxes'");
    EXPECT_EQ(kind, ZAV_REFUSED_VALUE);
    // a label beyond the caption's limits is refused when planned, not failed when drawn
    ASSERT_TRUE(
        WriteFile(dir / "d.jsonl", Bytes("{\"file\": \"a.ppm\", \"boxes\": [{\"x\": 1, \"y\": "
                                         "1, \"w\": 9, \"h\": 9, \"label\": \"" +
                                         std::string(5000, 'L') + "\"}]}\n")));
    EXPECT_NE(Refusal(job, true).find("line 1: the label 'LLL"), std::string::npos);
}

}  // namespace
}  // namespace zavtest
