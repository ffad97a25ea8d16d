// JPEGs decoded at a reduced scale: the scaled loads give what djpeg's -scale gives, and only
// there; the job uses them only where a filter other than nearest shrinks by half or more, stays
// close to a full decode then, keeps the exact full decode otherwise, and boxes and the turn by
// EXIF land where they would.
#include <cmath>

#include "tests/job/job_support.h"

namespace zavtest {
namespace {

// The picture in a record of the library, copied out (3 channels).
Picture Copied(const ZAVImageStruct &r) {
    Picture p(r.width, r.height, r.channels);
    for (int32_t y = 0; y < r.height; ++y) {
        std::memcpy(p.Row(y), r.data + p.Stride() * y, p.Stride());
    }
    return p;
}

Picture LoadScaled(const std::string &path, int32_t denominator) {
    ZAVImageObject *obj = ZAVCreateObject();
    ZAVImageStruct r{};
    EXPECT_EQ(ZAVLoadImagePathScaled(obj, path.c_str(), denominator, &r), 0) << path;
    Picture p = Copied(r);
    ZAVImageStruct *rp = &r;
    ZAVReleaseImage(obj, &rp);
    ZAVDestroyObject(obj);
    return p;
}

// `p` scaled to w x h by the library's filter.
Picture Resized(const Picture &p, int32_t w, int32_t h, int32_t filter) {
    ZAVImageObject *obj = ZAVCreateObject();
    Picture out(w, h, p.channels);
    Picture in = p;
    const ZAVImageStruct src{p.width, p.height, 8, p.channels, in.bytes.data()};
    const ZAVImageStruct dst{w, h, 8, p.channels, out.bytes.data()};
    ZAVResizeImageFiltered(obj, &src, &dst, filter);
    ZAVDestroyObject(obj);
    return out;
}

double Psnr(const Picture &a, const Picture &b) {
    double sum = 0;
    for (int32_t y = 0; y < a.height; ++y) {
        for (int32_t x = 0; x < a.width * a.channels; ++x) {
            const double d = static_cast<double>(a.Row(y)[x]) - static_cast<double>(b.Row(y)[x]);
            sum += d * d;
        }
    }
    const double mse = sum / (static_cast<double>(a.width) * a.height * a.channels);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// A camera-like JPEG of w x h: soft shapes, texture and a little noise, at the library's default
// quality.
std::vector<uint8_t> CameraJpeg(int32_t w, int32_t h) {
    Picture p(w, h, 3);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 29) - 4;
            const bool inside = (x - w / 3) * (x - w / 3) + (y - h / 2) * (y - h / 2) < h * h / 9;
            p.At(x, y, 0) = static_cast<uint8_t>(std::clamp(40 + x * 150 / w + noise, 0, 255));
            p.At(x, y, 1) = static_cast<uint8_t>(std::clamp(
                (inside ? 200 : 60) + static_cast<int>(20 * std::sin(x * 0.2)) + noise, 0, 255));
            p.At(x, y, 2) = static_cast<uint8_t>(std::clamp(30 + y * 180 / h + noise, 0, 255));
        }
    }
    ZAVImageObject *obj = ZAVCreateObject();
    uint8_t *bytes = nullptr;
    std::size_t size = 0;
    EXPECT_EQ(ZAVSaveImageMemory(obj, "jpg", p.bytes.data(), w, h, 8, 3, &bytes, &size), 0);
    std::vector<uint8_t> jpeg(bytes, bytes + size);
    ZAVFreeMemory(bytes);
    ZAVDestroyObject(obj);
    return jpeg;
}

class ReducedDecode : public ::testing::Test {
  protected:
    // The job's one output (a .bmp: lossless), loaded.
    Picture Run(const std::string &input, const std::string &fields) {
        const std::string out = m_dir / "out.bmp";
        const JobPtr job = Planned("{\"inputs\": [" + Js(input) + "], \"output\": " + Js(out) +
                                   ", " + fields + "}");
        if (!job) {
            return {};
        }
        RunAll(job.get());
        EXPECT_EQ(Items(job.get()).back().state, ZAV_ITEM_WRITTEN) << Items(job.get()).back();
        return LoadScaled(out, 1);
    }
    TempDir m_dir;
};

TEST_F(ReducedDecode, ScaledLoadsGiveWhatDjpegScalesAndOtherwiseTheFullPicture) {
    ASSERT_TRUE(m_dir.ok());
    const std::string jpg = m_dir / "c.jpg";
    const std::vector<uint8_t> jpeg = CameraJpeg(203, 117);  // sides that do not divide by 8
    ASSERT_TRUE(WriteFile(jpg, jpeg));
    const Picture full = LoadScaled(jpg, 1);
    ZAVImageObject *obj = ZAVCreateObject();
    for (int32_t d : {2, 4, 8}) {
        const std::string ppm = m_dir / "d.ppm";
        ASSERT_TRUE(Shell("djpeg -scale 1/" + std::to_string(d) + " -pnm " + Quote(jpg) + " > " +
                          Quote(ppm)));
        const Picture want = AsColor(ParseNetpbm(ReadFile(ppm)));
        const Picture got = LoadScaled(jpg, d);
        EXPECT_EQ(got.width, (203 + d - 1) / d);
        EXPECT_EQ(got.height, (117 + d - 1) / d);
        EXPECT_TRUE(SamePixels(got, want)) << "1/" << d;
        ZAVImageStruct r{};
        ASSERT_EQ(ZAVLoadImageMemoryScaled(obj, jpeg.data(), jpeg.size(), d, &r), 0);
        EXPECT_TRUE(SamePixels(Copied(r), want)) << "memory, 1/" << d;
        ZAVImageStruct *rp = &r;
        ZAVReleaseImage(obj, &rp);
    }
    ZAVDestroyObject(obj);
    for (int32_t d : {1, 0, 3, 16, -2}) {
        EXPECT_TRUE(SamePixels(LoadScaled(jpg, d), full)) << d;
    }
    // formats without reduced decoding load whole
    const Picture p = WritePicture(m_dir / "p.ppm", 40, 24);
    EXPECT_TRUE(SamePixels(LoadScaled(m_dir / "p.ppm", 4), p));
}

TEST_F(ReducedDecode, TheJobDecodesLessOnlyWhereAFilterShrinksByHalfOrMore) {
    ASSERT_TRUE(m_dir.ok());
    const std::string jpg = m_dir / "c.jpg";
    ASSERT_TRUE(WriteFile(jpg, CameraJpeg(640, 360)));
    const Picture full = LoadScaled(jpg, 1);
    // a quarter each way with the default filter (area): decoded at 1/4, close to the full way
    const Picture reduced = Run(jpg, "\"resize\": \"160x90\"");
    const Picture fullWay = Resized(full, 160, 90, ZAV_FILTER_AREA);
    ASSERT_EQ(reduced.width, 160);
    EXPECT_FALSE(SamePixels(reduced, fullWay)) << "no reduced decode";
    EXPECT_GT(Psnr(reduced, fullWay), 38.0);
    // 1/3 with Lanczos: decoded at 1/2 (1/4 would not cover 213 x 120), then the filter
    const Picture third = Run(jpg, "\"resize\": \"213x120\", \"resize_filter\": \"lanczos\"");
    EXPECT_GT(Psnr(third, Resized(full, 213, 120, ZAV_FILTER_LANCZOS)), 38.0);
    // nearest keeps the component's exact pixels, and so does a shrink by less than half
    EXPECT_TRUE(SamePixels(Run(jpg, "\"resize\": \"160x90\", \"resize_filter\": \"nearest\""),
                           Resized(full, 160, 90, ZAV_FILTER_NEAREST)));
    EXPECT_TRUE(
        SamePixels(Run(jpg, "\"resize\": \"400x90\""), Resized(full, 400, 90, ZAV_FILTER_AREA)));
    // half exactly: the decode at 1/2 is the result
    EXPECT_GT(Psnr(Run(jpg, "\"resize\": \"50%\""), Resized(full, 320, 180, ZAV_FILTER_AREA)),
              38.0);
}

TEST_F(ReducedDecode, TheTurnAndBoxesLandWhereAFullDecodePutsThem) {
    ASSERT_TRUE(m_dir.ok());
    // a black JPEG of 640 x 360, stored turned: orientation 6 (upright it is 360 x 640)
    const Picture black(640, 360, 3);
    ZAVImageObject *obj = ZAVCreateObject();
    uint8_t *bytes = nullptr;
    std::size_t size = 0;
    ASSERT_EQ(ZAVSaveImageMemory(obj, "jpg", black.bytes.data(), 640, 360, 8, 3, &bytes, &size), 0);
    std::vector<uint8_t> jpeg(bytes, bytes + size);
    ZAVFreeMemory(bytes);
    ZAVDestroyObject(obj);
    // APP1 Exif: a little-endian TIFF structure with Orientation 6 alone
    const std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0,    0,    'I', 'I',
                                       42,   0,    8, 0,  0,   0,   1,   0,   0x12, 0x01, 3,   0,
                                       1,    0,    0, 0,  6,   0,   0,   0,   0,    0,    0,   0};
    jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
    const std::string jpg = m_dir / "t.jpg";
    ASSERT_TRUE(WriteFile(jpg, jpeg));
    const std::string steps =
        "\"auto_orient\": true, \"box_style\": \"rect\", \"box_width\": 1, \"box_color\": "
        "\"white\", \"boxes\": [\"40,20,80,40\"], \"resize\": ";
    // upright the box is x 300..339, y 40..119; at a quarter x 75..84, y 10..29
    for (const char *filter : {"area", "nearest", "linear"}) {
        const Picture out = Run(jpg, steps + "\"90x160\", \"resize_filter\": \"" + filter + "\"");
        ASSERT_EQ(out.width, 90) << filter;
        ASSERT_EQ(out.height, 160) << filter;
        EXPECT_EQ(out.At(75, 10, 0), 255) << filter;
        EXPECT_EQ(out.At(84, 29, 1), 255) << filter;
        EXPECT_EQ(out.At(75, 29, 2), 255) << filter;
        EXPECT_LT(out.At(74, 10, 0), 8) << filter;
        EXPECT_LT(out.At(80, 20, 0), 8) << filter;
        EXPECT_LT(out.At(85, 30, 0), 8) << filter;
    }
}

}  // namespace
}  // namespace zavtest
