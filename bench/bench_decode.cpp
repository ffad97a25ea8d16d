// The job's shrink of a camera-like JPEG with the area filter: a decode at the reduced scale the
// job picks (1/2, 1/4) then the filter, against our full decode then the filter, and OpenCV's
// imdecode (IMREAD_REDUCED_COLOR_*, and full) with INTER_AREA, from memory, in one run, on the
// calling thread (CPU time). The summary gives the time ratios and the PSNR of the reduced way
// against the full decode with the same filter.
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include "bench/fastest_runs.h"

#include "zavimage/zavimage.h"

namespace {

struct Case {
    const char *name;
    int width, height;  // the source
    int toWidth, toHeight;
    int denominator;  // what the job decodes at
};

const Case kCases[] = {
    {"2160p-to-540p", 3840, 2160, 960, 540, 4},
    {"1080p-to-540p", 1920, 1080, 960, 540, 2},
    {"1080p-to-270p", 1920, 1080, 480, 270, 4},
};

// Soft shapes, texture and sensor noise, saved by the library at its default quality (libjpeg 75).
std::vector<uint8_t> CameraJpeg(int w, int h) {
    cv::Mat scene(h, w, CV_8UC3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            scene.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(60 + x * 120 / w),
                                                  static_cast<uint8_t>(90 + y * 100 / h),
                                                  static_cast<uint8_t>(140 - y * 60 / h));
        }
    }
    cv::RNG rng(7);
    for (int i = 0; i < 80; ++i) {
        const cv::Point c(rng.uniform(0, w), rng.uniform(0, h));
        cv::circle(scene, c, rng.uniform(10, h / 6),
                   cv::Scalar(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255)),
                   cv::FILLED, cv::LINE_AA);
        cv::line(scene, c, c + cv::Point(rng.uniform(-300, 300), rng.uniform(-300, 300)),
                 cv::Scalar(255, 255, 255), 2, cv::LINE_AA);
    }
    cv::GaussianBlur(scene, scene, cv::Size(0, 0), 1.2);
    cv::Mat noise(h, w, CV_8SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 3.0);
    cv::add(scene, noise, scene, cv::noArray(), CV_8UC3);
    ZAVImageObject *obj = ZAVCreateObject();
    uint8_t *bytes = nullptr;
    size_t size = 0;
    ZAVSaveImageMemory(obj, "jpg", scene.data, w, h, 8, 3, &bytes, &size);
    std::vector<uint8_t> jpeg(bytes, bytes + size);
    ZAVFreeMemory(bytes);
    ZAVDestroyObject(obj);
    return jpeg;
}

const std::vector<uint8_t> &Jpeg(const Case &c) {
    static std::map<std::string, std::vector<uint8_t>> files;
    const std::string key = std::to_string(c.width);
    auto found = files.find(key);
    if (found == files.end()) {
        found = files.emplace(key, CameraJpeg(c.width, c.height)).first;
    }
    return found->second;
}

// Ours: a load at 1/denominator (1: full), then the area filter; the result copied out.
cv::Mat Ours(ZAVImageObject *obj, const Case &c, int denominator) {
    const std::vector<uint8_t> &jpeg = Jpeg(c);
    ZAVImageStruct image{};
    if (ZAVLoadImageMemoryScaled(obj, jpeg.data(), jpeg.size(), denominator, &image) != 0) {
        return {};
    }
    ZAVImageStruct out{};
    ZAVCreateImage(obj, c.toWidth, c.toHeight, 8, 3, &out);
    ZAVResizeImageFiltered(obj, &image, &out, ZAV_FILTER_AREA);
    const size_t stride = (static_cast<size_t>(c.toWidth) * 3 + 3) & ~size_t{3};
    cv::Mat result = cv::Mat(c.toHeight, c.toWidth, CV_8UC3, out.data, stride).clone();
    ZAVImageStruct *p = &image;
    ZAVReleaseImage(obj, &p);
    p = &out;
    ZAVReleaseImage(obj, &p);
    return result;
}

cv::Mat OpenCv(const Case &c, int flag) {
    const std::vector<uint8_t> &jpeg = Jpeg(c);
    const cv::Mat decoded = cv::imdecode(
        cv::Mat(1, static_cast<int>(jpeg.size()), CV_8U, const_cast<uint8_t *>(jpeg.data())), flag);
    cv::Mat out;
    cv::resize(decoded, out, cv::Size(c.toWidth, c.toHeight), 0, 0, cv::INTER_AREA);
    return out;
}

int ReducedFlag(int denominator) {
    return denominator == 2   ? cv::IMREAD_REDUCED_COLOR_2
           : denominator == 4 ? cv::IMREAD_REDUCED_COLOR_4
                              : cv::IMREAD_REDUCED_COLOR_8;
}

class SummaryReporter : public zavbench::FastestRuns {
  public:
    void PrintSummary() const {
        std::printf(
            "\nJPEG shrink with the area filter: CPU time ratios (fastest repetitions), "
            "PSNR of the reduced decode against the full one with the same filter\n");
        ZAVImageObject *obj = ZAVCreateObject();
        for (const Case &c : kCases) {
            const std::string base = std::string("shrink/") + c.name + "/";
            const double reduced = Get(base + "ours-reduced");
            const double full = Get(base + "ours-full");
            const double cvReduced = Get(base + "opencv-reduced");
            const double cvFull = Get(base + "opencv-full");
            const cv::Mat a = Ours(obj, c, c.denominator);
            const cv::Mat b = Ours(obj, c, 1);
            std::printf(
                "  %-16s 1/%d: reduced/full %.2f  reduced/opencv-reduced %.2f  "
                "reduced/opencv-full %.2f  PSNR %.1f dB\n",
                c.name, c.denominator, reduced / full, reduced / cvReduced, reduced / cvFull,
                cv::PSNR(a, b));
        }
        ZAVDestroyObject(obj);
    }

  private:
    double Get(const std::string &name) const {
        const auto found = m_cpu.find(name);
        return found == m_cpu.end() ? std::nan("") : found->second;
    }
};

}  // namespace

int main(int argc, char **argv) {
    for (const Case &c : kCases) {
        const std::string base = std::string("shrink/") + c.name + "/";
        const Case *k = &c;
        benchmark::RegisterBenchmark((base + "ours-reduced").c_str(), [k](benchmark::State &s) {
            ZAVImageObject *obj = ZAVCreateObject();
            for (auto _ : s) {
                benchmark::DoNotOptimize(Ours(obj, *k, k->denominator).data);
            }
            ZAVDestroyObject(obj);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "ours-full").c_str(), [k](benchmark::State &s) {
            ZAVImageObject *obj = ZAVCreateObject();
            for (auto _ : s) {
                benchmark::DoNotOptimize(Ours(obj, *k, 1).data);
            }
            ZAVDestroyObject(obj);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "opencv-reduced").c_str(), [k](benchmark::State &s) {
            for (auto _ : s) {
                benchmark::DoNotOptimize(OpenCv(*k, ReducedFlag(k->denominator)).data);
            }
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "opencv-full").c_str(), [k](benchmark::State &s) {
            for (auto _ : s) {
                benchmark::DoNotOptimize(OpenCv(*k, cv::IMREAD_COLOR).data);
            }
        })->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    for (const Case &c : kCases) {
        Jpeg(c);
    }
    cv::setNumThreads(1);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
