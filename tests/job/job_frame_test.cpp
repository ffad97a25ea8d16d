// Per-frame data in jobs: templates filled from each picture, EXIF read from a JPEG the test
// writes, a detector's boxes matched to pictures and drawn where it put them, boxes following the
// turn, flip and resize, and the filtered resize against OpenCV's own.
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <opencv2/imgproc.hpp>

#include "tests/job/job_support.h"

namespace zavtest {
namespace {

// A picture loaded through the C interface (3 channels).
Picture Load(const std::string &path) {
    ZAVImageObject *obj = ZAVCreateObject();
    ZAVImageStruct r{};
    EXPECT_EQ(ZAVLoadImagePath(obj, path.c_str(), &r), 0) << path;
    Picture p(r.width, r.height, r.channels);
    for (int32_t y = 0; y < r.height; ++y) {
        std::memcpy(p.Row(y), r.data + p.Stride() * y, p.Stride());
    }
    ZAVImageStruct *rp = &r;
    ZAVReleaseImage(obj, &rp);
    ZAVDestroyObject(obj);
    return p;
}

// Runs a job of one input into `out` (a .bmp: lossless) and loads the result.
Picture RunOne(const std::string &input, const std::string &out, const std::string &fields) {
    const JobPtr job = Planned("{\"inputs\": [" + Js(input) + "], \"output\": " + Js(out) +
                               (fields.empty() ? "" : ", " + fields) + "}");
    if (!job) {
        return {};
    }
    RunAll(job.get());
    const std::vector<ItemView> items = Items(job.get());
    EXPECT_EQ(items.back().state, ZAV_ITEM_WRITTEN) << items.back();
    return Load(out);
}

// An APP1 Exif segment: a little-endian TIFF structure with Make, Model and Orientation in the
// first directory and DateTimeOriginal in the Exif directory.
std::vector<uint8_t> ExifSegment(const std::string &make, const std::string &model,
                                 const std::string &taken, uint16_t orientation) {
    std::vector<uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        AppendLittleEndian16(&t, tag);
        AppendLittleEndian16(&t, type);
        AppendLittleEndian32(&t, count);
        AppendLittleEndian32(&t, value);
    };
    const uint32_t first = 8 + 2 + 4 * 12 + 4;  // the texts after the first directory
    const uint32_t makeAt = first;
    const uint32_t modelAt = makeAt + make.size() + 1;
    const uint32_t exifAt = modelAt + model.size() + 1;
    const uint32_t takenAt = exifAt + 2 + 12 + 4;
    AppendLittleEndian16(&t, 4);
    entry(0x010F, 2, make.size() + 1, makeAt);
    entry(0x0110, 2, model.size() + 1, modelAt);
    entry(0x0112, 3, 1, orientation);
    entry(0x8769, 4, 1, exifAt);
    AppendLittleEndian32(&t, 0);
    t.insert(t.end(), make.begin(), make.end());
    t.push_back(0);
    t.insert(t.end(), model.begin(), model.end());
    t.push_back(0);
    AppendLittleEndian16(&t, 1);
    entry(0x9003, 2, taken.size() + 1, takenAt);
    AppendLittleEndian32(&t, 0);
    t.insert(t.end(), taken.begin(), taken.end());
    t.push_back(0);
    std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 0, 'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), t.begin(), t.end());
    const std::size_t length = app1.size() - 2;
    app1[2] = static_cast<uint8_t>(length >> 8);
    app1[3] = static_cast<uint8_t>(length & 0xFF);
    return app1;
}

class FrameTest : public ::testing::Test {
  protected:
    TempDir m_dir;
};

TEST_F(FrameTest, TemplatesFillNamesAndCaptionsFromEachPicture) {
    ASSERT_TRUE(m_dir.ok());
    ASSERT_EQ(mkdir((m_dir / "cam1").c_str(), 0755), 0);
    WritePicture(m_dir / "cam1/a.ppm", 60, 40);
    WritePicture(m_dir / "cam1/b.ppm", 50, 30, 3, 2);
    struct utimbuf when = {0, 1714566896};  // 2024-05-01 12:34:56 UTC
    ASSERT_EQ(utime((m_dir / "cam1/b.ppm").c_str(), &when), 0);
    setenv("TZ", "UTC", 1);
    tzset();
    const JobPtr job =
        Planned("{\"inputs\": [" + Js(m_dir / "cam1") + "], \"out_dir\": " + Js(m_dir / "out") +
                ", \"name\": \"{folder}-{stem}_{index}of{count}-{mtime:%Y%m%d}.{{x}}.bmp\"}");
    ASSERT_TRUE(job);
    const std::vector<ItemView> items = Items(job.get());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].output, m_dir / "out/cam1-b_2of2-20240501.{x}.bmp");
    EXPECT_EQ(items[0].output.substr(0, (m_dir / "out/cam1-a_1of2-").size()),
              m_dir / "out/cam1-a_1of2-");

    // a caption's fields give what the same caption with the text written out gives
    const std::string caption = ", \"captions\": [{\"text\": ";
    const Picture filled = RunOne(m_dir / "cam1/b.ppm", m_dir / "f.bmp",
                                  "\"resize\": \"x20\"" + caption +
                                      "\"{name} {width}x{height} {mtime:%H:%M} {{}}\", "
                                      "\"at\": \"1,15\", \"size\": 9}]");
    const Picture written =
        RunOne(m_dir / "cam1/b.ppm", m_dir / "w.bmp",
               "\"resize\": \"x20\"" + caption +
                   "\"b.ppm 50x30 12:34 {{}}\", \"at\": \"1,15\", \"size\": 9}]");
    EXPECT_TRUE(SamePixels(filled, written));

    for (const auto &[text, why] : std::vector<std::pair<std::string, std::string>>{
             {"{nam}", "{nam} is not a field"},
             {"{mtime:%Q}", "'%Q' is not a time format"},
             {"{exif:Lens}", "{exif:TAG} names one of"},
             {"a } b", "a lone }"},
             {"{stem", "a { without its }"},
             {"{width:3}", "{width} takes no format"}}) {
        EXPECT_NE(Refusal("{\"captions\": [{\"text\": " + Js(text) + "}]}").find(why),
                  std::string::npos)
            << text;
    }
    EXPECT_NE(Refusal("{\"out_dir\": \"o\", \"name\": \"{width}.png\"}").find("name: "),
              std::string::npos);
    EXPECT_NE(Refusal("{\"output\": \"o.png\", \"name\": \"{stem}.png\"}").find("out_dir"),
              std::string::npos);
}

TEST_F(FrameTest, ExifFillsCaptionsAndTurnsThePictureUpright) {
    ASSERT_TRUE(m_dir.ok());
    // A JPEG of 64 x 32 written by the library, with an Exif segment put after its start marker.
    const Picture p = WritePicture(m_dir / "p.ppm", 64, 32);
    ZAVImageObject *obj = ZAVCreateObject();
    ZAVSetImageQuality(obj, 0.0f);  // every step 1: close to lossless
    uint8_t *bytes = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(
        ZAVSaveImageMemory(obj, "jpg", p.bytes.data(), p.width, p.height, 8, 3, &bytes, &size), 0);
    std::vector<uint8_t> jpeg(bytes, bytes + size);
    ZAVFreeMemory(bytes);
    ZAVDestroyObject(obj);
    const std::vector<uint8_t> app1 = ExifSegment("ZAVCam", "M-1 Pro", "2024:05:01 12:34:56", 6);
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    ASSERT_TRUE(WriteFile(m_dir / "e.jpg", jpeg));
    ASSERT_TRUE(Shell("djpeg -pnm " + Quote(m_dir / "e.jpg") + " > " + Quote(m_dir / "e.ppm")));
    const Picture stored = ParseNetpbm(ReadFile(m_dir / "e.ppm"));

    const std::string caption = "\"captions\": [{\"text\": ";
    EXPECT_TRUE(SamePixels(
        RunOne(m_dir / "e.jpg", m_dir / "c1.bmp",
               caption + "\"{exif:Make}/{exif:Model} {exif:DateTimeOriginal}{exif:Artist}\", "
                         "\"at\": \"0,20\", \"size\": 8}]"),
        RunOne(
            m_dir / "e.jpg", m_dir / "c2.bmp",
            caption + "\"ZAVCam/M-1 Pro 2024:05:01 12:34:56\", \"at\": \"0,20\", \"size\": 8}]")));

    // orientation 6: a quarter clockwise; a box given on the stored picture turns with it
    const Picture kept = RunOne(m_dir / "e.jpg", m_dir / "kept.bmp", "");
    EXPECT_EQ(kept.width, 64);
    const Picture upright = RunOne(m_dir / "e.jpg", m_dir / "up.bmp", "\"auto_orient\": true");
    ASSERT_EQ(upright.width, 32);
    ASSERT_EQ(upright.height, 64);
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 32; ++x) {
            ASSERT_EQ(upright.At(x, y, 1), stored.At(y, 31 - x, 1)) << x << "," << y;
        }
    }
    const Picture boxed =
        RunOne(m_dir / "e.jpg", m_dir / "box.bmp",
               "\"auto_orient\": true, \"box_style\": \"rect\", \"box_width\": 1, \"box_color\": "
               "\"white\", \"boxes\": [\"4,2,10,6\"]");
    // stored x 4..13, y 2..7 -> upright x 32-8..32-2-1 = 24..29, y 4..13
    EXPECT_EQ(boxed.At(24, 4, 0), 255);
    EXPECT_EQ(boxed.At(29, 13, 1), 255);
    EXPECT_EQ(boxed.At(26, 8, 2), upright.At(26, 8, 2));  // inside the band: untouched
    EXPECT_NE(boxed.At(23, 4, 0) & boxed.At(23, 4, 1) & boxed.At(23, 4, 2), 255);
}

TEST_F(FrameTest, DetectionsAreReadMatchedAndRefusedByLine) {
    ASSERT_TRUE(m_dir.ok());
    ASSERT_EQ(mkdir((m_dir / "in").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((m_dir / "in/sub").c_str(), 0755), 0);
    WritePicture(m_dir / "in/a.ppm", 80, 60);
    WritePicture(m_dir / "in/sub/b.ppm", 80, 60, 3, 2);
    const std::string csv = m_dir / "d.csv";
    ASSERT_TRUE(WriteFile(csv, {}));
    const auto write = [&](const std::string &text) {
        return WriteFile(csv, std::vector<uint8_t>(text.begin(), text.end()));
    };
    ASSERT_TRUE(
        write("file,x,y,w,h,label,color,score\n"
              "a.ppm,10,10,20,15,\"car, red\",yellow,0.9\n"
              "sub/b.ppm,5.4,5.6,10,10,,,0.2\n"
              "sub/b.ppm,30,30,10,10\n"
              "gone.ppm,1,1,2,2\n"));
    const std::string base = "{\"inputs\": [" + Js(m_dir / "in") + "], \"recursive\": true, " +
                             "\"format\": \"bmp\", \"min_score\": 0.5, \"detections\": " + Js(csv);
    const JobPtr job = Planned(base + ", \"out_dir\": " + Js(m_dir / "out") + "}");
    ASSERT_TRUE(job);
    ASSERT_EQ(ZAVJobMakeFolders(job.get()), ZAV_JOB_OK);
    RunAll(job.get());
    EXPECT_EQ(std::string(ZAVJobSummary(job.get(), "annotate", nullptr)),
              "annotate: 2 succeeded, 0 failed\n"
              "  detections: 1 row for a file not in the batch\n");
    // rect boxes, 2 pixels inward, in the detection's colour; the one under the score left out
    const Picture a = Load(m_dir / "out/a.bmp");
    EXPECT_EQ(a.At(10, 12, 2), 255);  // yellow: red and green
    EXPECT_EQ(a.At(29, 24, 1), 255);
    EXPECT_EQ(a.At(11, 24, 0), 0);
    const Picture b = Load(m_dir / "out/sub/b.bmp");
    const Picture plainB = Load(m_dir / "in/sub/b.ppm");
    EXPECT_EQ(b.At(31, 31, 2), 255);  // the job's red
    EXPECT_EQ(b.At(5, 6, 2), plainB.At(5, 6, 2));
    // the label's tab: no room above the box, so inside its top, in the box's colour
    int tab = 0;
    for (int32_t x = 12; x < 40; ++x) {
        tab += a.At(x, 16, 2) == 255 && a.At(x, 16, 1) == 255 && a.At(x, 16, 0) == 0;
    }
    EXPECT_GT(tab, 10);
    // a worker that takes the exported job draws the same boxes
    const std::vector<uint8_t> first = ReadFile(m_dir / "out/a.bmp");
    char *exported = ZAVJobExport(job.get());
    const JobPtr worker(ZAVJobImport(exported));
    ZAVFreeMemory(exported);
    ASSERT_EQ(unlink((m_dir / "out/a.bmp").c_str()), 0);
    RunAll(worker.get());
    EXPECT_EQ(ReadFile(m_dir / "out/a.bmp"), first);

    for (const auto &[text, why] : std::vector<std::pair<std::string, std::string>>{
             {"a.ppm,1,2,3\n", "line 1: not file,x,y,w,h"},
             {"a.ppm,1,2,3,4\na.ppm,x,2,3,4\n", "line 2: 'x' is not a number (x)"},
             {"a.ppm,1,2,0,4\n", "line 1: the box 1,2,0,4 has no width"},
             {"a.ppm,1,2,3,4,car,teal\n", "line 1: 'teal' is not a colour"},
             {"a.ppm,1,2,3,4,\"car\n", "line 1: a quote is not closed"},
             {"{\"file\": \"a.ppm\", \"boxes\": [{\"x\": 1}]}\n",
              "line 1: 'null' is not a number (y)"},
             {"{\"file\": \"a.ppm\"}\n{oops\n", "line 2: not JSON: parse error at column 2"}}) {
        ASSERT_TRUE(write(text));
        int32_t kind = 0;
        const std::string message = Refusal(base + ", \"out_dir\": \"o\"}", true, &kind);
        EXPECT_NE(message.find("detections: " + csv + " " + why), std::string::npos) << message;
        EXPECT_EQ(kind, ZAV_REFUSED_VALUE);
    }
    // JSON Lines, matched by name
    ASSERT_TRUE(
        write("{\"file\": \"b.ppm\", \"boxes\": [{\"x\": 30, \"y\": 30, \"w\": 10, "
              "\"h\": 10, \"color\": \"green\"}]}\n"));
    const JobPtr jl = Planned("{\"inputs\": [" + Js(m_dir / "in/sub/b.ppm") + "], \"output\": " +
                              Js(m_dir / "jl.bmp") + ", \"detections\": " + Js(csv) + "}");
    ASSERT_TRUE(jl);
    RunAll(jl.get());
    EXPECT_EQ(Load(m_dir / "jl.bmp").At(31, 31, 1), 255);
}

TEST_F(FrameTest, BoxesFollowTheFlipAndTheResizeAndStylesDrawAsAsked) {
    ASSERT_TRUE(m_dir.ok());
    Picture black(200, 100, 3);
    ASSERT_TRUE(WriteFile(m_dir / "k.ppm", ToNetpbm(black)));
    // rect: exactly the region, 3 pixels inward, cut at the right edge
    const Picture rect =
        RunOne(m_dir / "k.ppm", m_dir / "r.bmp",
               "\"box_style\": \"rect\", \"box_width\": 3, \"box_color\": \"white\", "
               "\"boxes\": [\"190,10,20,30\"]");
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 200; ++x) {
            const bool band = x >= 190 && y >= 10 && y < 40 && (x < 193 || y < 13 || y >= 37);
            ASSERT_EQ(rect.At(x, y, 0), band ? 255 : 0) << x << "," << y;
        }
    }
    // a box of the source lands where the flipped, halved picture has it
    const Picture moved = RunOne(m_dir / "k.ppm", m_dir / "m.bmp",
                                 "\"flip\": true, \"resize\": \"100x50\", \"box_style\": \"rect\", "
                                 "\"box_width\": 1, \"box_color\": \"white\", "
                                 "\"boxes\": [\"20,10,40,20\"]");
    // flipped: y 100-10-20 = 70..89; halved: x 10..29, y 35..44
    EXPECT_EQ(moved.At(10, 35, 0), 255);
    EXPECT_EQ(moved.At(29, 44, 0), 255);
    EXPECT_EQ(moved.At(20, 40, 0), 0);
    EXPECT_EQ(moved.At(9, 35, 0), 0);
    // the marker style is the component's ZAVDrawRect
    const Picture marker = RunOne(m_dir / "k.ppm", m_dir / "mk.bmp",
                                  "\"box_style\": \"marker\", \"box_color\": 3, "
                                  "\"boxes\": [\"50,30,40,20\"]");
    Picture byHand = black;
    ZAVImageObject *obj = ZAVCreateObject();
    const ZAVImageStruct rec{200, 100, 8, 3, byHand.bytes.data()};
    ZAVDrawRect(obj, &rec, ZAVImageRect{50, 30, 40, 20}, 3);
    ZAVDestroyObject(obj);
    EXPECT_TRUE(SamePixels(marker, byHand));
}

TEST_F(FrameTest, TheDefaultResizeIsOpenCvsAreaAndKeepsThinLines) {
    ASSERT_TRUE(m_dir.ok());
    // one-pixel white lines every 3 columns on black (at 2, 5, 8, ...), 1920 wide, to 1280
    Picture lines(1920, 8, 3);
    for (int32_t y = 0; y < 8; ++y) {
        for (int32_t x = 2; x < 1920; x += 3) {
            lines.At(x, y, 0) = lines.At(x, y, 1) = lines.At(x, y, 2) = 255;
        }
    }
    ASSERT_TRUE(WriteFile(m_dir / "lines.ppm", ToNetpbm(lines)));
    const Picture area = RunOne(m_dir / "lines.ppm", m_dir / "a.bmp", "\"resize\": \"1280x8\"");
    cv::Mat src(8, 1920, CV_8UC3, lines.bytes.data(), lines.Stride());
    cv::Mat want;
    cv::resize(src, want, cv::Size(1280, 8), 0, 0, cv::INTER_AREA);
    for (int32_t x = 0; x < 1280; ++x) {
        ASSERT_EQ(area.At(x, 3, 1), want.at<cv::Vec3b>(3, x)[1]) << x;
    }
    // every line leaves its trace; nearest neighbour drops one column in three: all of them
    for (int32_t line = 0; line < 640; ++line) {
        ASSERT_GT(area.At(2 * line + 1, 3, 0), 150) << line;
    }
    const Picture nearest = RunOne(m_dir / "lines.ppm", m_dir / "n.bmp",
                                   "\"resize\": \"1280x8\", \"resize_filter\": \"nearest\"");
    int bright = 0;
    for (int32_t x = 0; x < 1280; ++x) {
        bright += nearest.At(x, 3, 0) != 0;
    }
    EXPECT_EQ(bright, 0);
    EXPECT_NE(Refusal("{\"resize_filter\": \"bicubic\"}").find("resize_filter: 'bicubic'"),
              std::string::npos);
}

}  // namespace
}  // namespace zavtest
