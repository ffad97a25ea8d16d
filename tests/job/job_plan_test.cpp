// Job documents, plans and summaries through the C interface: every refusal names its field and
// value, text and JSON forms of a value give the same work, folders expand in name order, the plan
// refuses what would lose a file and decides what cannot be worked on, an exported plan comes back
// whole, and the summary counts what happened.
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/job/job_support.h"

namespace {

using namespace zavtest;

TEST(JobDescription, EveryRefusalNamesItsFieldAndValue) {
    const std::pair<std::string, std::string> cases[] = {
        {R"("colour": true)", "colour: not a field of a job"},
        {R"("version": 2)", "version: 2 is newer than this library reads (1)"},
        {R"("resize": "640x0")", "resize: '640x0' is not a size WxH"},
        {R"("quality": 90)",
         "quality: '90' is not a number from 0 to 10 (the standard tables are "
         "divided by it; for a percentage give jpeg_quality 90)"},
        {R"("jpeg_quality": 97)", "jpeg_quality: 97 is finer than the JPEG writer reaches"},
        {R"("quality": 2, "jpeg_quality": 75)", "give quality or jpeg_quality once"},
        {R"("captions": [{"text": "a", "text_color": "pink"}])", "text_color: 'pink' is not a"},
        {R"("box_color": "purple")", "box_color: 'purple' is not one of red"},
        {R"("captions": [{"text": "a"}, {"text": "b", "anchor": "middle"}])",
         "captions[1].anchor: 'middle' is not one of top-left"},
        {R"("boxes": ["1,1,0,5"])", "box: '1,1,0,5' is not a region X,Y,W,H with W and H at least"},
        {R"("captions": [{"text": "a", "classic": true, "outline": 2}])",
         "outline is for the typographic caption"},
        {R"("captions": [{"at": "1,1"}])", "text: the caption options need the caption's text"},
        {R"("captions": [{"text": "a", "font": "/no/such/f.ttf"}])",
         "font: '/no/such/f.ttf': folder not found"},
        // within the limits as measured, beyond them drawn on a picture's three channels
        {R"("captions": [{"text": "ABCDEFGHIJKLMNOPQRSTUVWXYZabcd", "size": 1024}])",
         "text: beyond the caption's limits"},
    };
    const std::string head = R"({"inputs": ["a.ppm"], "output": "b.jpg", )";
    for (const auto &[fields, expected] : cases) {
        const std::string message = Refusal(head + fields + "}");
        EXPECT_NE(message.find(expected), std::string::npos) << fields << "\n  gave: " << message;
    }
    EXPECT_EQ(Refusal(head + R"("quality": 10, "jpeg_quality": null, "resize": "640x"})"), "");
    const JobPtr refused(ZAVJobCreate(R"({"version": 2})"));  // takes no further calls
    EXPECT_EQ(ZAVJobPlan(refused.get()), ZAV_JOB_REFUSED);
    EXPECT_EQ(ZAVJobExport(refused.get()), nullptr);
}

TEST(JobDescription, TextAndJsonFormsGiveTheSameFile) {
    TempDir dir;
    WritePicture(dir / "in.ppm", 64, 48);
    const std::string steps[] = {
        R"("quality": "5", "resize": "32x", "boxes": ["4,4,8,6"], "box_color": "2",
           "captions": [{"text": "Hi", "at": "3,20", "size": "12", "outline": "1,blue"}])",
        R"("quality": 5, "resize": [32, 24], "boxes": [[4, 4, 8, 6]], "box_color": "green",
           "captions": [{"text": "Hi", "at": [3, 20], "size": 12, "outline": [1, "blue"]}])"};
    for (int i = 0; i < 2; ++i) {
        const JobPtr job = Planned("{\"inputs\": [" + Js(dir / "in.ppm") + "], \"output\": " +
                                   Js(dir / (std::to_string(i) + ".jpg")) + ", " + steps[i] + "}");
        ASSERT_NE(job, nullptr);
        RunAll(job.get());
    }
    EXPECT_EQ(ReadFile(dir / "0.jpg"), ReadFile(dir / "1.jpg"));
    EXPECT_TRUE(Shell("test \"$(identify -format %wx%h " + Quote(dir / "0.jpg") + ")\" = 32x24"));
}

TEST(JobDescription, HexNamesReachFilesWhoseNamesAreNotUtf8) {
    TempDir dir;
    const std::string name = "p\xff\xfe\x01.ppm";
    const Picture p = WritePicture(dir / name, 20, 10);
    std::string hex;
    for (const unsigned char c : dir / name) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    const JobPtr job =
        Planned(R"({"inputs": [{"hex": ")" + hex + R"("}], "out_dir": )" + Js(dir / "out") + "}");
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(ZAVJobMakeFolders(job.get()), ZAV_JOB_OK);
    const std::vector<ItemView> items = Items(job.get());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].input, dir / name);
    EXPECT_EQ(items[0].output, dir / ("out/" + name));
    char *exported = ZAVJobExport(job.get());  // the export keeps the bytes
    const JobPtr again(ZAVJobImport(exported));
    ZAVFreeMemory(exported);
    EXPECT_EQ(Items(again.get()), items);
    RunAll(again.get());
    EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile(dir / ("out/" + name))), p));
    // messages show such a name escaped
    const JobPtr lost = Planned(R"({"inputs": [{"hex": "2f6e6f2f0a78ff2e626d70"}], "out_dir": )" +
                                Js(dir / "out") + "}");
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(Items(lost.get())[0].message, "/no/\\nx\\xFF.bmp: folder not found");
}

// Printed names: characters that would reorder or break what follows on a terminal are escaped as
// control characters are, byte by byte; other characters pass as they are.
TEST(PrintableName, EscapesBidiControlsAndSeparatorsAsControlCharacters) {
    const auto printable = [](const std::string &name) {
        const std::size_t size = ZAVPrintableName(name.c_str(), nullptr, 0);
        std::string out(size + 1, '\0');
        ZAVPrintableName(name.c_str(), out.data(), out.size());
        out.resize(size);
        return out;
    };
    EXPECT_EQ(printable("cam\xE2\x80\xAEgpj.exe"), "cam\\xE2\\x80\\xAEgpj.exe");  // U+202E
    for (const char *control :
         {"\xD8\x9C", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xA8", "\xE2\x80\xA9",
          "\xE2\x80\xAA", "\xE2\x80\xAD", "\xE2\x81\xA6", "\xE2\x81\xA9"}) {
        const std::string shown = printable(std::string("a") + control + "b");
        EXPECT_EQ(shown.size(), 2u + 4u * std::strlen(control)) << shown;
        EXPECT_EQ(shown.find_first_of("\x80\x81\x9C\xA8\xA9\xAA\xAD\xA6\x8E\x8F"),
                  std::string::npos)
            << shown;
    }
    // Neighbours that are no controls stay: U+2027, U+202F, U+2065, U+206A, and Chinese.
    for (const char *kept : {"\xE2\x80\xA7", "\xE2\x80\xAF", "\xE2\x81\xA5", "\xE2\x81\xAA",
                             "\xE8\xA7\x86\xE9\xA2\x91"}) {
        EXPECT_EQ(printable(kept), kept);
    }
}

TEST(JobPlan, FoldersExpandByNameAndRecursiveWalksKeepPlaces) {
    TempDir dir;
    const std::string in = dir / "in", out = dir / "out";
    ASSERT_TRUE(Shell("mkdir -p " + Quote(in + "/sub/deeper")));
    for (const char *name : {"c.ppm", "a.ppm", "B.PPM", "sub/d.ppm", "sub/deeper/e.ppm"}) {
        WritePicture(in + "/" + name, 4, 4);
    }
    ASSERT_TRUE(WriteFile(in + "/notes.txt", {'x'}));
    const std::string io = R"({"inputs": [)" + Js(in) + "], \"out_dir\": " + Js(out);
    const JobPtr flat = Planned(io + R"(, "format": "png"})");
    ASSERT_NE(flat, nullptr);
    std::vector<std::string> names;
    for (const ItemView &i : Items(flat.get())) {
        names.push_back(i.input.substr(in.size()) + " " + i.output.substr(out.size()));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"/B.PPM /B.png", "/a.ppm /a.png", "/c.ppm /c.png"}));
    ZAVJobCounts counts{};
    ASSERT_EQ(ZAVJobGetCounts(flat.get(), &counts), ZAV_JOB_OK);
    EXPECT_EQ(counts.subfolders, 1u);
    EXPECT_EQ(counts.otherFiles, 1u);

    const JobPtr deep = Planned(io + R"(, "recursive": true})");
    ASSERT_NE(deep, nullptr);
    const std::vector<ItemView> items = Items(deep.get());
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[3].output, out + "/sub/d.ppm");
    EXPECT_EQ(items[4].output, out + "/sub/deeper/e.ppm");
    ASSERT_EQ(ZAVJobMakeFolders(deep.get()), ZAV_JOB_OK);
    RunAll(deep.get());
    EXPECT_TRUE(FileExists(out + "/sub/deeper/e.ppm"));
}

TEST(JobPlan, RefusesWhatWouldLoseAFile) {
    TempDir dir;
    ASSERT_TRUE(Shell("cd " + Quote(dir.path()) + " && mkdir d1 d2 out"));
    for (const char *name : {"d1/a.ppm", "d2/a.ppm", "d1/b.ppm", "d1/data.bin"}) {
        WritePicture(dir / name, 4, 4);
    }
    ASSERT_EQ(link((dir / "d1/b.ppm").c_str(), (dir / "out/b.ppm").c_str()), 0);
    // the refusal, checked to be of its kind
    const auto plan = [&](std::vector<std::string> inputs, const std::string &rest, int32_t kind) {
        std::string json = R"({"inputs": [)" + Js(dir / inputs[0]);
        for (size_t i = 1; i < inputs.size(); ++i) {
            json += ", " + Js(dir / inputs[i]);
        }
        int32_t got = -1;
        const std::string message = Refusal(json + "], " + rest + "}", true, &got);
        EXPECT_EQ(got, kind) << message;
        return message;
    };
    const std::string toOut = "\"out_dir\": " + Js(dir / "out"),
                      toD1 = "\"out_dir\": " + Js(dir / "d1");
    EXPECT_EQ(plan({"d1/a.ppm", "d2/a.ppm"}, toOut, ZAV_REFUSED_CLASH),
              "these inputs would write the same output (nothing was done):\n  " +
                  dir / "out/a.ppm <- " + dir / "d1/a.ppm, " + dir / "d2/a.ppm");
    EXPECT_EQ(plan({"d1/a.ppm", "d1/b.ppm"}, "\"output\": " + Js(dir / "x.ppm"), ZAV_REFUSED_VALUE),
              "one output takes one input picture; give --out-dir for many");
    // the same file under another name (a hard link), and the same path
    EXPECT_EQ(plan({"d1/b.ppm"}, toOut, ZAV_REFUSED_OVERWRITE),
              "these outputs would replace an input (give --in-place to allow it, or another "
              "output):\n  " +
                  dir / "out/b.ppm is the input " + dir / "d1/b.ppm");
    EXPECT_NE(plan({"d1/a.ppm"}, toD1, ZAV_REFUSED_OVERWRITE).find(dir / "d1/a.ppm is the input"),
              std::string::npos);
    EXPECT_EQ(plan({"d1/a.ppm"}, toD1 + ", \"in_place\": true", ZAV_REFUSED_NONE), "");
    // a field of the output's name that gives nothing: never an output named ".ppm"
    WritePicture(dir / "d1/noext", 4, 4);
    EXPECT_NE(plan({"d1/noext"}, toOut + R"(, "name": "{ext}.ppm")", ZAV_REFUSED_VALUE)
                  .find("{ext} gives nothing for"),
              std::string::npos);
    EXPECT_NE(plan({"d1/data.bin"}, toOut, ZAV_REFUSED_NO_FORMAT)
                  .find("data.bin: 'bin' is not a format written"),
              std::string::npos);
}

TEST(JobPlan, DecidesMissingInputsAndExistingOutputsAndExportsThemWhole) {
    TempDir dir;
    ASSERT_TRUE(Shell("cd " + Quote(dir.path()) + " && mkdir in empty out"));
    WritePicture(dir / "in/a.ppm", 8, 6);
    WritePicture(dir / "in/b.ppm", 8, 6);
    WritePicture(dir / "out/a.ppm", 2, 2);  // kept: no_clobber
    const JobPtr job =
        Planned(R"({"inputs": [)" + Js(dir / "in") + ", " + Js(dir / "gone.ppm") + ", " +
                Js(dir / "nodir/") + ", " + Js(dir / "nodir/x.ppm") + ", " + Js(dir / "empty") +
                R"(], "no_clobber": true, "out_dir": )" + Js(dir / "out") + "}");
    ASSERT_NE(job, nullptr);
    const auto failed = [](const std::string &input, const std::string &output,
                           const std::string &reason) {
        return ItemView{ZAV_ITEM_FAILED, true,   input,
                        output,          reason, (output.empty() ? input : output) + ": " + reason};
    };
    const std::vector<ItemView> expected = {
        failed(dir / "gone.ppm", "", "file not found"),
        failed(dir / "nodir/", "", "folder not found"),
        failed(dir / "nodir/x.ppm", "", "folder not found"),
        failed(dir / "empty", "", "no pictures in this folder (it is empty)"),
        {ZAV_ITEM_SKIPPED, true, dir / "in/a.ppm", dir / "out/a.ppm", "", ""},
        {ZAV_ITEM_PENDING, false, dir / "in/b.ppm", dir / "out/b.ppm", "", ""},
    };
    EXPECT_EQ(Items(job.get()), expected);
    const JobPtr one = Planned(R"({"inputs": [)" + Js(dir / "in/b.ppm") + "], \"output\": " +
                               Js(dir / "nodir/b.png") + "}");  // the output's folder is missing
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(
        Items(one.get()),
        (std::vector<ItemView>{failed(dir / "in/b.ppm", dir / "nodir/b.png", "folder not found")}));

    // a worker in another process takes the export back, planned, and works on items by number
    char *exported = ZAVJobExport(job.get());
    const JobPtr worker(ZAVJobImport(exported));
    ZAVFreeMemory(exported);
    EXPECT_EQ(ZAVJobPlan(worker.get()), ZAV_JOB_OK) << ZAVJobMessage(worker.get());
    EXPECT_EQ(Items(worker.get()), expected);
    ZAVImageObject *obj = ZAVCreateObject();
    EXPECT_EQ(ZAVJobRunItem(worker.get(), obj, 4, nullptr), ZAV_JOB_BAD_CALL);  // decided
    EXPECT_EQ(ZAVJobRunItem(worker.get(), obj, 6, nullptr), ZAV_JOB_BAD_CALL);
    EXPECT_EQ(ZAVJobRunItem(worker.get(), obj, 5, nullptr), ZAV_JOB_OK);
    ZAVDestroyObject(obj);
    EXPECT_EQ(Items(worker.get())[5].state, ZAV_ITEM_WRITTEN);
    EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile(dir / "out/b.ppm")), Pattern(8, 6, 3)));
    EXPECT_EQ(ReadFile(dir / "out/a.ppm"), ToNetpbm(Pattern(2, 2, 3)));
}

TEST(JobSummary, CountsWhatHappenedAndWhatWasRecorded) {
    TempDir dir;
    const std::string in = dir / "in", out = dir / "out";
    ASSERT_TRUE(Shell("mkdir -p " + Quote(in + "/sub") + " " + Quote(out)));
    for (const char *name : {"a.ppm", "b.ppm", "c.ppm", "d.ppm"}) {
        WritePicture(in + "/" + name, 8, 6);
    }
    const std::string cut = "P6\n8 6\n255\nabc";  // its pixels end early
    ASSERT_TRUE(WriteFile(in + "/bad.ppm", std::vector<uint8_t>(cut.begin(), cut.end())));
    for (const char *name : {"empty.ppm", "notes.txt", "readme.txt"}) {
        ASSERT_TRUE(WriteFile(in + "/" + name, {}));
    }
    WritePicture(out + "/d.ppm", 2, 2);
    const JobPtr job = Planned(R"({"inputs": [)" + Js(in) + ", " + Js(dir / "gone.ppm") +
                               R"(], "no_clobber": true, "out_dir": )" + Js(out) + "}");
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(ZAVJobItemCount(job.get()), 7u);  // gone, d (skipped), a, b, bad, c, empty
    ZAVImageObject *obj = ZAVCreateObject();
    for (size_t i : {2, 4, 6}) {  // b and c not done
        ZAVJobRunItem(job.get(), obj, i, nullptr);
    }
    ZAVDestroyObject(obj);
    const std::string passedOver =
        "  passed over in the folders: 1 subfolder (--recursive walks "
        "them), 2 files that are not pictures by their names\n";
    EXPECT_EQ(std::string(ZAVJobSummary(job.get(), "zavimage annotate", "SIGINT")),
              "zavimage annotate: stopped by SIGINT: 1 succeeded, 3 failed, 1 skipped (output "
              "exists), 2 not done\n" +
                  passedOver +
                  "  1 x data end early\n  1 x empty file\n  1 x file not found\n  failed: " +
                  dir / "gone.ppm: file not found\n  failed: " + in +
                  "/bad.ppm: data end early\n  failed: " + in + "/empty.ppm: empty file\n");
    // b and c worked elsewhere
    EXPECT_EQ(ZAVJobRecordItem(job.get(), 3, ZAV_ITEM_WRITTEN, 0, 0, nullptr), ZAV_JOB_OK);
    EXPECT_EQ(ZAVJobRecordItem(job.get(), 5, ZAV_ITEM_FAILED, ZAV_FILE_DISK_FULL, 1, "disk full"),
              ZAV_JOB_OK);
    EXPECT_EQ(ZAVJobRecordItem(job.get(), 6, 9, 0, 0, nullptr), ZAV_JOB_BAD_CALL);
    const std::string after = ZAVJobSummary(job.get(), "zavimage", nullptr);
    EXPECT_TRUE(after.starts_with("zavimage: 2 succeeded, 4 failed, 1 skipped (output exists)\n" +
                                  passedOver + "  1 x data end early\n  1 x disk full\n"))
        << after;
    ZAVJobCounts c{};
    ASSERT_EQ(ZAVJobGetCounts(job.get(), &c), ZAV_JOB_OK);
    EXPECT_EQ(std::vector<size_t>({c.written, c.failed, c.skipped, c.notDone, c.otherFiles}),
              std::vector<size_t>({2, 4, 1, 0, 2}));
}

}  // namespace
