// Encoding 1920 x 1080 PNG pictures of three kinds (a camera photo with sensor noise, a smooth
// synthetic picture, screen graphics with flat areas and text) into memory: our writer (its own
// deflate encoder), and the same filtered rows through libdeflate at several levels, beside
// OpenCV's imencode at its default settings and at level 1, and libspng at its defaults, in one
// run. ImageMagick's figures come from bench/compare_png.py (its command in fresh processes). Every
// side encodes on the calling thread, so thread CPU time is the whole cost; the summary takes the
// fastest repetition of each and gives our time and size over each peer's.
#include <spng.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include "bench/fastest_runs.h"

#include "imaging/codecs/png.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kOtherLevels[] = {0, 1, 4, 6, 9};  // libdeflate's; 0 stores: the filter's cost

// A scene of soft shapes and gradients with per-pixel noise, as a camera sensor gives it.
cv::Mat Photo() {
    cv::Mat scene(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            scene.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(60 + x * 120 / kWidth),
                                                  static_cast<uint8_t>(90 + y * 100 / kHeight),
                                                  static_cast<uint8_t>(140 - y * 60 / kHeight));
        }
    }
    cv::RNG rng(7);
    for (int i = 0; i < 60; ++i) {
        const cv::Point centre(rng.uniform(0, kWidth), rng.uniform(0, kHeight));
        const cv::Scalar colour(rng.uniform(0, 255), rng.uniform(0, 255), rng.uniform(0, 255));
        if (i % 2 == 0) {
            cv::circle(scene, centre, rng.uniform(20, 200), colour, cv::FILLED, cv::LINE_AA);
        } else {
            cv::rectangle(scene, centre,
                          centre + cv::Point(rng.uniform(20, 300), rng.uniform(20, 200)), colour,
                          cv::FILLED);
        }
    }
    cv::GaussianBlur(scene, scene, cv::Size(0, 0), 3.0);
    cv::Mat noise(kHeight, kWidth, CV_16SC3);
    rng.fill(noise, cv::RNG::NORMAL, 0, 3.0);
    cv::Mat photo;
    scene.convertTo(photo, CV_16SC3);
    photo += noise;
    photo.convertTo(photo, CV_8UC3);
    return photo;
}

// Gradients and blurred shapes without noise, as rendered graphics or a denoised frame.
cv::Mat Smooth() {
    cv::Mat smooth(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int d = (x - 900) * (x - 900) + (y - 500) * (y - 500);
            smooth.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uint8_t>(x * 255 / kWidth),
                                                   static_cast<uint8_t>(y * 255 / kHeight),
                                                   static_cast<uint8_t>(255 - (d >> 12) % 256));
        }
    }
    cv::GaussianBlur(smooth, smooth, cv::Size(0, 0), 1.5);
    return smooth;
}

// A monitoring screen: flat panels, grid lines, boxes, a time stamp and lines of text.
cv::Mat Screen() {
    cv::Mat screen(kHeight, kWidth, CV_8UC3, cv::Scalar(48, 40, 32));
    cv::RNG rng(11);
    for (int panel = 0; panel < 6; ++panel) {
        const cv::Rect r(40 + (panel % 3) * 620, 80 + (panel / 3) * 480, 580, 440);
        cv::rectangle(screen, r, cv::Scalar(20 + panel * 20, 60, 90), cv::FILLED);
        cv::rectangle(screen, r, cv::Scalar(200, 200, 200), 2);
        for (int line = 0; line < 12; ++line) {
            cv::putText(screen,
                        "CAM " + std::to_string(panel) +
                            " 2024-05-01 12:34:" + std::to_string(10 + line) + " motion " +
                            std::to_string(rng.uniform(0, 1000)),
                        cv::Point(r.x + 12, r.y + 30 + line * 34), cv::FONT_HERSHEY_SIMPLEX, 0.7,
                        cv::Scalar(255, 255, 255), 1, cv::LINE_AA);
        }
        cv::rectangle(screen, cv::Rect(r.x + 300, r.y + 200, 120, 90), cv::Scalar(0, 255, 255), 3);
    }
    cv::putText(screen, "ZAV monitor", cv::Point(40, 50), cv::FONT_HERSHEY_DUPLEX, 1.4,
                cv::Scalar(0, 200, 255), 2, cv::LINE_AA);
    return screen;
}

struct Kind {
    const char *name;
    cv::Mat picture;  // BGR, as the component holds it
    cv::Mat rgb;      // the same in RGB, for libspng
};

const std::vector<Kind> &Kinds() {
    static const std::vector<Kind> kinds = [] {
        std::vector<Kind> made = {
            {"photo", Photo(), {}}, {"smooth", Smooth(), {}}, {"screen", Screen(), {}}};
        for (Kind &k : made) {
            cv::cvtColor(k.picture, k.rgb, cv::COLOR_BGR2RGB);
        }
        return made;
    }();
    return kinds;
}

std::map<std::string, std::size_t> &Sizes() {
    static std::map<std::string, std::size_t> sizes;
    return sizes;
}

void Ours(benchmark::State &state, const Kind *k, int level, const std::string &key) {
    const std::unique_ptr<zav::ImageWriter> writer =
        level < 0 ? zav::NewPngWriter() : zav::NewPngWriterAtLevel(level);
    zav::WriteRequest request;
    request.pixels = k->picture.data;
    request.step = k->picture.step;
    request.width = k->picture.cols;
    request.height = k->picture.rows;
    request.color = true;
    std::size_t size = 0;
    for (auto _ : state) {
        zav::VectorSink sink;
        sink.data.reserve(8u << 20);
        if (writer->Write(request, sink) != zav::CodecStatus::kOk) {
            state.SkipWithError("write failed");
            break;
        }
        size = sink.data.size();
    }
    Sizes()[key] = size;
}

void OpenCv(benchmark::State &state, const Kind *k, std::vector<int> params,
            const std::string &key) {
    std::vector<uint8_t> out;
    for (auto _ : state) {
        if (!cv::imencode(".png", k->picture, out, params)) {
            state.SkipWithError("imencode failed");
            break;
        }
    }
    Sizes()[key] = out.size();
}

void Spng(benchmark::State &state, const Kind *k, const std::string &key) {
    std::size_t size = 0;
    for (auto _ : state) {
        spng_ctx *ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        spng_ihdr ihdr{};
        ihdr.width = static_cast<uint32_t>(k->rgb.cols);
        ihdr.height = static_cast<uint32_t>(k->rgb.rows);
        ihdr.bit_depth = 8;
        ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
        spng_set_ihdr(ctx, &ihdr);
        int error = spng_encode_image(ctx, k->rgb.data, k->rgb.total() * 3, SPNG_FMT_PNG,
                                      SPNG_ENCODE_FINALIZE);
        std::size_t length = 0;
        void *png = error == 0 ? spng_get_png_buffer(ctx, &length, &error) : nullptr;
        spng_ctx_free(ctx);
        if (png == nullptr) {
            state.SkipWithError("spng failed");
            break;
        }
        size = length;
        std::free(png);
    }
    Sizes()[key] = size;
}

class SummaryReporter : public zavbench::FastestRuns {
  public:
    void PrintSummary() const {
        std::printf(
            "\nPNG encoding, 1920 x 1080 RGB: CPU ms (fastest repetition), bytes, and ours over "
            "each\n");
        for (const Kind &k : Kinds()) {
            const std::string base = std::string("png/") + k.name + "/";
            const std::string ours = base + "ours";
            const auto mine = m_cpu.find(ours);
            for (const auto &[name, cpu] : m_cpu) {
                if (name.rfind(base, 0) != 0) {
                    continue;
                }
                const std::size_t bytes = Sizes()[name];
                std::printf("  %-26s %8.2f ms %10zu bytes", name.c_str(), cpu, bytes);
                if (mine != m_cpu.end() && name != ours && cpu > 0 && bytes > 0) {
                    std::printf("   time %5.2f  size %5.3f", mine->second / cpu,
                                static_cast<double>(Sizes()[ours]) / static_cast<double>(bytes));
                }
                std::printf("\n");
            }
            const auto opencv = m_cpu.find(base + "opencv-default");
            if (mine != m_cpu.end() && opencv != m_cpu.end()) {
                const double time = mine->second / opencv->second;
                const bool smaller = Sizes()[ours] <= Sizes()[base + "opencv-default"];
                std::printf("  goal (time <= 0.50 and size <= OpenCV's default): %s\n",
                            time <= 0.5 && smaller ? "met" : "MISSED");
            }
        }
    }
};

}  // namespace

int main(int argc, char **argv) {
    for (const Kind &k : Kinds()) {
        const std::string base = std::string("png/") + k.name + "/";
        const Kind *kind = &k;
        benchmark::RegisterBenchmark((base + "ours").c_str(), Ours, kind, -1, base + "ours")
            ->Unit(benchmark::kMillisecond);
        for (int level : kOtherLevels) {
            const std::string key = base + "ours-level" + std::to_string(level);
            benchmark::RegisterBenchmark(key.c_str(), Ours, kind, level, key)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark((base + "opencv-default").c_str(), OpenCv, kind,
                                     std::vector<int>{}, base + "opencv-default")
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "opencv-level1").c_str(), OpenCv, kind,
                                     std::vector<int>{cv::IMWRITE_PNG_COMPRESSION, 1},
                                     base + "opencv-level1")
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "spng-default").c_str(), Spng, kind,
                                     base + "spng-default")
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    Kinds();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
