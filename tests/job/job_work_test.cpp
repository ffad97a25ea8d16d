// The work on a job's items through the C interface: the same files as the steps done by hand,
// gray kept where the format has gray, JPEG quality as libjpeg's percentages, steps that miss the
// picture and stops that leave nothing behind, pictures in memory, many threads at once; and the
// format table the job layer picks its formats from, checked against ImageMagick.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/job/job_support.h"

namespace {

using namespace zavtest;

// A picture loaded by the library, released at the end of its scope.
struct Loaded {
    Loaded(ZAVImageObject *o, const std::string &path) : obj(o) {
        EXPECT_EQ(ZAVLoadImagePath(obj, path.c_str(), &r), 0) << path;
    }
    Loaded(ZAVImageObject *o, int32_t w, int32_t h) : obj(o) {
        ZAVCreateImage(obj, w, h, ZAV_DEPTH_8U, 3, &r);
    }
    ~Loaded() {
        ZAVImageStruct *p = &r;
        ZAVReleaseImage(obj, &p);
    }
    bool Save(const std::string &path) {
        return ZAVSaveImagePath(obj, path.c_str(), r.data, r.width, r.height, r.depth,
                                r.channels) == 0;
    }
    ZAVImageObject *obj;
    ZAVImageStruct r{};
};

class JobWork : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.ok());
        m_input = WritePicture(m_dir / "in.ppm", 64, 48);
    }
    void TearDown() override { ZAVDestroyObject(m_obj); }
    // A job over in.ppm writing out.EXT (a file name, or "-").
    JobPtr Job(const std::string &output, const std::string &rest = "") {
        return Planned(R"({"inputs": [)" + Js(m_dir / "in.ppm") +
                       "], \"output\": " + Js(output == "-" ? output : m_dir / output) +
                       (rest.empty() ? "" : ", " + rest) + "}");
    }
    ItemView Run(ZAVJob *job, const int32_t *stop = nullptr) {
        EXPECT_EQ(ZAVJobRunItem(job, m_obj, 0, stop), ZAV_JOB_OK);
        return Items(job).at(0);
    }

    ZAVImageObject *m_obj = ZAVCreateObject();
    TempDir m_dir;
    Picture m_input;
};

TEST_F(JobWork, WritesTheFileTheStepsDoneByHandWrite) {
    WritePicture(m_dir / "logo.ppm", 16, 12, 3, 7);
    const JobPtr job = Job("out.jpg", R"("flip": true, "resize": "40x30", "quality": 5,
        "resize_filter": "nearest",
        "captions": [{"text": "cam 1", "at": "2,20", "size": 12, "classic": true}],
        "boxes": [[5, 5, 10, 8]], "box_color": "green",
        "copy": {"source": )" + Js(m_dir / "logo.ppm") +
                                          R"(, "to": "30,20,8,6"})");
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(Run(job.get()).state, ZAV_ITEM_WRITTEN);

    Loaded in(m_obj, m_dir / "in.ppm"), logo(m_obj, m_dir / "logo.ppm"), small(m_obj, 40, 30);
    ZAVFlipImage(m_obj, in.r.data, 64, 48, ZAV_DEPTH_8U, 3);
    ZAVReSizeImage(m_obj, &in.r, &small.r);
    ASSERT_EQ(ZAVPutTextToImageUtf8(m_obj, &small.r, "cam 1", 2, 20, 2, 12.0f, 0.1f, 0.0f), 0);
    // the box of the source, flipped (y 48 - 5 - 8 = 35) and scaled by 5/8, edges rounded
    ZAVDrawRect(m_obj, &small.r, ZAVImageRect{3, 22, 6, 5}, 2);
    ZAVCopyImage(m_obj, &logo.r, 0, 0, 16, 12, &small.r, 30, 20, 8, 6);
    ZAVSetImageQuality(m_obj, 5.0f);
    ASSERT_TRUE(small.Save(m_dir / "byhand.jpg"));
    EXPECT_EQ(ReadFile(m_dir / "out.jpg"), ReadFile(m_dir / "byhand.jpg"));
}

TEST_F(JobWork, GrayStaysGrayWhereTheFormatHasGray) {
    const Picture gray = WritePicture(m_dir / "gray.pgm", 20, 10, 1);
    const std::string copy =
        R"(, "copy": {"source": )" + Js(m_dir / "in.ppm") + R"(, "to": "0,0,4,4"})";
    const std::pair<std::string, std::string> cases[] = {
        {"o.pgm", "PGM gray"},  {"o.png", "PNG gray"}, {"o.ppm", "PPM srgb"},
        {"o.jpg", "JPEG gray"}, {"c.png", "PNG srgb"}, {"m.png", "PNG srgb"}};
    for (const auto &[name, says] : cases) {
        const std::string rest = name[0] == 'c' ? R"(, "color": true)" : name[0] == 'm' ? copy : "";
        const JobPtr job = Planned(R"({"inputs": [)" + Js(m_dir / "gray.pgm") +
                                   "], \"output\": " + Js(m_dir / name) + rest + "}");
        ASSERT_NE(job, nullptr);
        EXPECT_EQ(Run(job.get()).state, ZAV_ITEM_WRITTEN) << name;
        EXPECT_TRUE(ImageMagickSays(m_dir / name).starts_with(says + " ")) << name;
    }
    EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile(m_dir / "o.pgm"), true), gray));
    EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile(m_dir / "o.ppm"), true), AsColor(gray)));
}

// The quantization tables of a JPEG file, by table number, as stored.
std::map<int, std::vector<uint8_t>> QuantTables(const std::vector<uint8_t> &f) {
    std::map<int, std::vector<uint8_t>> tables;
    for (size_t at = 2; at + 4 <= f.size() && f[at] == 0xFF && f[at + 1] != 0xDA;) {
        const size_t length = f[at + 2] * 256u + f[at + 3];
        for (size_t t = at + 4; f[at + 1] == 0xDB && t + 65 <= at + 2 + length; t += 65) {
            tables[f[t] & 15].assign(f.begin() + t + 1, f.begin() + t + 65);  // 8-bit tables
        }
        at += 2 + length;
    }
    return tables;
}

TEST_F(JobWork, JpegQualityGivesLibjpegsTablesForThePercentage) {
    ASSERT_TRUE(HaveTool("cjpeg") && HaveTool("djpeg"));
    for (int percent : {1, 5, 33, 50, 75, 90, 95, 100}) {
        const JobPtr job = Job("q.jpg", "\"jpeg_quality\": " + std::to_string(percent));
        ASSERT_NE(job, nullptr);
        ASSERT_EQ(Run(job.get()).state, ZAV_ITEM_WRITTEN);
        ASSERT_TRUE(Shell("cjpeg -baseline -quality " + std::to_string(percent) + " " +
                          Quote(m_dir / "in.ppm") + " > " + Quote(m_dir / "c.jpg")));
        const auto ours = QuantTables(ReadFile(m_dir / "q.jpg"));
        EXPECT_EQ(ours.size(), 2u);
        EXPECT_EQ(ours, QuantTables(ReadFile(m_dir / "c.jpg"))) << "jpeg_quality " << percent;
        if (percent == 75) {  // the default quality, 2, is libjpeg's 75
            const JobPtr plain = Job("d.jpg");
            Run(plain.get());
            EXPECT_EQ(ReadFile(m_dir / "d.jpg"), ReadFile(m_dir / "q.jpg"));
            EXPECT_TRUE(Shell("djpeg " + Quote(m_dir / "q.jpg") + " > /dev/null"));
        }
    }
}

TEST_F(JobWork, StepsThatMissThePictureAndStopsWriteNothing) {
    const struct {
        std::string rest, reason;
    } cases[] = {
        {R"("boxes": ["10,10,5,5", "100,100,5,5"])",
         "the box 100,100,5,5 lies outside the 64 x 48 picture"},
        {R"("resize": "50%", "boxes": ["70,2,4,4"])",  // boxes are the source picture's
         "the box 70,2,4,4 lies outside the 64 x 48 picture"},
        {R"("captions": [{"text": "x", "at": "70,10"}])",
         "the caption start 70,10 lies outside the 64 x 48 picture"},
        {R"("copy": {"source": )" + Js(m_dir / "in.ppm") + R"(, "to": "64,0,4,4"})",
         "the region 64,0,4,4 lies outside the 64 x 48 picture"},
    };
    for (const auto &c : cases) {
        const JobPtr job = Job("out.bmp", c.rest);
        ASSERT_NE(job, nullptr);
        const ItemView item = Run(job.get());
        EXPECT_EQ(item.state, ZAV_ITEM_FAILED) << c.rest;
        EXPECT_EQ(item.message, m_dir / "in.ppm: " + c.reason);
        EXPECT_FALSE(FileExists(m_dir / "out.bmp")) << c.rest;
    }
    const JobPtr job = Job("out.bmp", R"("boxes": ["10,10,5,5"])");
    const int32_t stop = 1;
    EXPECT_EQ(Run(job.get(), &stop).state, ZAV_ITEM_DISCARDED);
    EXPECT_FALSE(FileExists(m_dir / "out.bmp"));
}

TEST_F(JobWork, PicturesInMemoryAndStandardOutput) {
    if (isatty(STDOUT_FILENO) == 1) {
        GTEST_SKIP() << "a job refuses to write pictures to a terminal";
    }
    const JobPtr out = Job("-", R"("format": "png", "flip": true)");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(Run(out.get()).state, ZAV_ITEM_WRITTEN);
    ZAVJobItem item{};
    ZAVJobGetItem(out.get(), 0, &item);
    Loaded in(m_obj, m_dir / "in.ppm");
    ZAVFlipImage(m_obj, in.r.data, 64, 48, ZAV_DEPTH_8U, 3);
    uint8_t *bytes = nullptr;
    size_t size = 0;
    ASSERT_EQ(ZAVSaveImageMemory(m_obj, "png", in.r.data, 64, 48, 8, 3, &bytes, &size), 0);
    EXPECT_EQ(std::vector<uint8_t>(item.bytes, item.bytes + item.size),
              std::vector<uint8_t>(bytes, bytes + size));
    ZAVFreeMemory(bytes);

    const std::vector<uint8_t> file = ReadFile(m_dir / "in.ppm");
    const JobPtr mem = Planned(R"({"inputs": [{"name": "mem.ppm", "memory": true}], "out_dir": )" +
                               Js(m_dir / "o") + "}");
    ASSERT_NE(mem, nullptr);
    ASSERT_EQ(ZAVJobMakeFolders(mem.get()), ZAV_JOB_OK);
    EXPECT_EQ(Run(mem.get()).reason, "no bytes were given for this input");
    ASSERT_EQ(ZAVJobSetInputBytes(mem.get(), 0, file.data(), file.size()), ZAV_JOB_OK);
    EXPECT_EQ(Run(mem.get()).state, ZAV_ITEM_WRITTEN);
    EXPECT_TRUE(SamePixels(ParseNetpbm(ReadFile(m_dir / "o/mem.ppm")), m_input));
}

TEST_F(JobWork, ThreadsWorkOnDistinctItemsOfOneJob) {
    constexpr int kItems = 40;
    ASSERT_TRUE(Shell("mkdir " + Quote(m_dir / "many")));
    std::string inputs;
    for (int i = 0; i < kItems; ++i) {
        const std::string name = m_dir / ("many/p" + std::to_string(100 + i) + ".ppm");
        WritePicture(name, 24 + i, 16, 3, i);
        inputs += (i ? ", " : "") + Js(name);
    }
    const JobPtr job = Planned("{\"inputs\": [" + inputs + "], \"out_dir\": " + Js(m_dir / "o") +
                               R"(, "flip": true, "resize": "150%", "boxes": ["2,2,8,6"],
        "captions": [{"text": "Ab", "anchor": "bottom-right", "outline": "1,white"},
                     {"text": "Zag", "anchor": "center", "background": "yellow,50%"},
                     {"text": "1", "at": "5,20", "classic": true, "text_color": "blue"}]})");
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(ZAVJobMakeFolders(job.get()), ZAV_JOB_OK);
    std::atomic<size_t> next{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            ZAVImageObject *obj = ZAVCreateObject();
            for (size_t i; (i = next++) < kItems;) {
                ZAVJobRunItem(job.get(), obj, i, nullptr);
            }
            ZAVDestroyObject(obj);
        });
    }
    for (std::thread &t : threads) {
        t.join();
    }
    // each as ZAVJobApplySteps draws it on the loaded input alone
    for (int i = 0; i < kItems; ++i) {
        const std::string name = "p" + std::to_string(100 + i) + ".ppm";
        Loaded alone(m_obj, m_dir / ("many/" + name));
        ASSERT_EQ(ZAVJobApplySteps(job.get(), m_obj, &alone.r, nullptr, 0), ZAV_JOB_OK);
        ASSERT_TRUE(alone.Save(m_dir / "alone.ppm"));
        EXPECT_EQ(ReadFile(m_dir / ("o/" + name)), ReadFile(m_dir / "alone.ppm")) << name;
    }
    ZAVJobCounts counts{};
    ZAVJobGetCounts(job.get(), &counts);
    EXPECT_EQ(counts.written, size_t{kItems});
}

// Two no_clobber runs into one folder, both planned while it was empty: the second run's saves
// find the first run's files and keep them (created exclusively), whatever the plans said.
TEST_F(JobWork, NoClobberHoldsAgainstAnotherRunPlannedAtTheSameTime) {
    ASSERT_EQ(mkdir((m_dir / "out").c_str(), 0755), 0);
    const std::string doc = R"({"inputs": [)" + Js(m_dir / "in.ppm") +
                            "], \"out_dir\": " + Js(m_dir / "out") +
                            R"(, "format": "pgm", "no_clobber": true)";
    const JobPtr first = Planned(doc + R"(, "flip": true})");
    const JobPtr second = Planned(doc + "}");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(Items(second.get()).at(0).planned, 0);  // nothing there yet when both planned
    EXPECT_EQ(Run(first.get()).state, ZAV_ITEM_WRITTEN);
    const std::vector<uint8_t> written = ReadFile(m_dir / "out/in.pgm");
    ASSERT_FALSE(written.empty());
    const ItemView kept = Run(second.get());
    EXPECT_EQ(kept.state, ZAV_ITEM_SKIPPED);
    EXPECT_EQ(kept.reason, "");
    EXPECT_EQ(ReadFile(m_dir / "out/in.pgm"), written);  // the first run's flipped picture
    EXPECT_EQ(ListFolder(m_dir / "out"), std::vector<std::string>{"in.pgm"});
    ZAVJobCounts counts{};
    ZAVJobGetCounts(second.get(), &counts);
    EXPECT_EQ(counts.skipped, 1u);
    EXPECT_EQ(counts.written, 0u);
    EXPECT_NE(std::string(ZAVJobSummary(second.get(), "annotate", nullptr))
                  .find("0 succeeded, 0 failed, 1 skipped (output exists)"),
              std::string::npos);

    // Without no_clobber the second run replaces, as before.
    const JobPtr replacing =
        Planned(R"({"inputs": [)" + Js(m_dir / "in.ppm") + "], \"out_dir\": " + Js(m_dir / "out") +
                R"(, "format": "pgm"})");
    EXPECT_EQ(Run(replacing.get()).state, ZAV_ITEM_WRITTEN);
    EXPECT_NE(ReadFile(m_dir / "out/in.pgm"), written);
}

TEST_F(JobWork, ApplyStepsRefusesAStepThatMissesBeforeDrawingAny) {
    Loaded in(m_obj, m_dir / "in.ppm");
    const std::vector<uint8_t> before(in.r.data, in.r.data + 192 * 48);
    const JobPtr job = Job("out.ppm", R"("boxes": ["3,3,9,9", "64,0,9,9"])");
    ASSERT_NE(job, nullptr);
    char message[200];
    EXPECT_EQ(ZAVJobApplySteps(job.get(), m_obj, &in.r, message, sizeof message), ZAV_JOB_MISSES);
    EXPECT_STREQ(message, "the box 64,0,9,9 lies outside the 64 x 48 picture");
    EXPECT_EQ(ZAVJobApplySteps(job.get(), m_obj, &in.r, message, 8), ZAV_JOB_MISSES);
    EXPECT_STREQ(message, "the box");  // cut to the capacity
    EXPECT_EQ(std::vector<uint8_t>(in.r.data, in.r.data + 192 * 48), before);
    const JobPtr copy = Job("out.ppm", R"("copy": {"source": )" + Js(m_dir / "in.ppm") + "}");
    EXPECT_EQ(ZAVJobApplySteps(copy.get(), m_obj, &in.r, message, sizeof message),
              ZAV_JOB_BAD_CALL);
}

// Saves a picture under `path` with the library and tells what ImageMagick reads from the file.
std::string SavedAs(const Picture &p, const std::string &path) {
    ZAVImageObject *obj = ZAVCreateObject();
    EXPECT_EQ(ZAVSaveImagePath(obj, path.c_str(), p.bytes.data(), p.width, p.height, 8, p.channels),
              0);
    ZAVDestroyObject(obj);
    return ImageMagickSays(path);
}

TEST(FormatTable, ListsTheFormatsTheWriterTakesAsOtherToolsReadThem) {
    TempDir dir;
    // ImageMagick's names for the table's formats, in its order
    const char *const magick[] = {"BMP3", "JPEG", "SUN", "P.M", "TIFF", "PNG"};
    const char *const names[] = {"BMP", "JPEG", "Sun raster", "PBM/PGM/PPM", "TIFF", "PNG"};
    ASSERT_EQ(ZAVFormatCount(), 6);
    const Picture color = Pattern(9, 7, 3), gray = Pattern(9, 7, 1);
    for (int32_t i = 0; i < 6; ++i) {
        ZAVFormatInfo f{};
        ASSERT_EQ(ZAVGetFormat(i, &f), 0);
        EXPECT_STREQ(f.name, names[i]);
        EXPECT_TRUE(f.reads && f.writes) << f.name;
        const std::string list = std::string(f.extensions) + " ",
                          grays = std::string(" ") + f.grayExtensions + " ";
        for (size_t at = 0, end; (end = list.find(' ', at)) != std::string::npos; at = end + 1) {
            const std::string ext = list.substr(at, end - at), path = dir / ("f." + ext);
            EXPECT_EQ(ZAVFindWriterFormat(("." + ext).c_str()), i) << ext;
            const std::string c = SavedAs(color, path);
            EXPECT_TRUE(std::regex_match(
                c, std::regex(std::string(magick[i]) + " srgb (Palette|TrueColor)")))
                << ext << ": " << c;
            // a gray picture stays gray where the table says so: one channel, or for BMP and Sun
            // raster a palette of grays (colour channels to ImageMagick)
            const std::string g = SavedAs(gray, path);
            if (grays.find(" " + ext + " ") != std::string::npos) {
                EXPECT_TRUE(std::regex_match(
                    g, std::regex(std::string(magick[i]) + " (gray|srgb) Grayscale")))
                    << ext << ": " << g;
                EXPECT_EQ(g.find("srgb") != std::string::npos, i == 0 || i == 2)
                    << ext << ": " << g;
            }
        }
    }
    EXPECT_EQ(ZAVGetFormat(6, nullptr), 1);
    EXPECT_EQ(ZAVFindWriterFormat("out.jpg"), -1);
    EXPECT_EQ(ZAVFindWriterFormat("gif"), -1);
    EXPECT_EQ(ZAVFindWriterFormat(".TIF"), 4);

    const std::string pgm = "P5\n2 2\n255\n\1\2\3\4", ppm = "P6 1 1 255 abc";
    EXPECT_STREQ(ZAVFormatNameOfBytes(pgm.data(), pgm.size()), "PGM");
    EXPECT_STREQ(ZAVFormatNameOfBytes(ppm.data(), ppm.size()), "PPM");
    SavedAs(color, dir / "x.jpg");
    const std::vector<uint8_t> jpeg = ReadFile(dir / "x.jpg");
    EXPECT_STREQ(ZAVFormatNameOfBytes(jpeg.data(), jpeg.size()), "JPEG");
    EXPECT_EQ(ZAVFormatNameOfBytes("junk, not a picture", 19), nullptr);
    EXPECT_EQ(ZAVFormatNameOfBytes(nullptr, 4), nullptr);
}

}  // namespace
