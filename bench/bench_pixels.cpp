// Flip, resize (nearest, and the job's area shrink) and region copy side by side with the OpenCV
// calls that do the same job.
// OpenCV runs on one thread, as the component does, so the CPU time of the calling thread is the
// whole cost of either side (and less disturbed than wall time by other work on the machine).
// After the run a summary gives our CPU time divided by OpenCV's for every pair.
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "imaging/api/image_component.h"
#include "imaging/buffer/aligned_alloc.h"
#include "imaging/buffer/image_mat.h"
#include "imaging/buffer/image_record.h"
#include "imaging/ops/filtered_resize.h"

namespace {

// A buffer of the component's layout, filled with noise, seen both as a record and as a cv::Mat.
class Buffer {
  public:
    Buffer(int32_t width, int32_t height, int32_t channels)
        : m_header(zav::CreateImage(width, height, ZAV_DEPTH_8U, channels)) {
        std::mt19937 rng(static_cast<uint32_t>(width * 31 + height * 7 + channels));
        for (int64_t i = 0; i < m_header.imageSize; ++i) {
            m_header.imageData[i] = static_cast<uint8_t>(rng());
        }
        zav::FillImageRecord(&m_record, m_header);
    }
    ~Buffer() { zav::ReleaseImageData(&m_header); }
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;

    const ZAVImageStruct *Record() const { return &m_record; }
    cv::Mat Mat() const { return zav::MatView(m_header); }

  private:
    zav::ImageHeader m_header;
    ZAVImageStruct m_record{};
};

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

const char *Kind(int32_t channels) {
    return channels == 3 ? "BGR" : "Gray";
}

// OpenCV's resize of the same pictures with `interpolation`, the peer of a resize of ours.
void RegisterOpenCvResize(const std::string &base, int32_t channels, int32_t dw, int32_t dh,
                          int interpolation) {
    benchmark::RegisterBenchmark((base + "/OpenCV").c_str(), [=](benchmark::State &state) {
        Buffer src(kWidth, kHeight, channels);
        Buffer dst(dw, dh, channels);
        cv::Mat from = src.Mat();
        cv::Mat to = dst.Mat();
        for (auto _ : state) {
            cv::resize(from, to, to.size(), 0, 0, interpolation);
            benchmark::ClobberMemory();
        }
    });
}

void RegisterResize(int32_t channels, int32_t dw, int32_t dh) {
    const std::string base = std::string("Resize/") + Kind(channels) + "/" + std::to_string(dw) +
                             "x" + std::to_string(dh);
    benchmark::RegisterBenchmark((base + "/Ours").c_str(), [=](benchmark::State &state) {
        Buffer src(kWidth, kHeight, channels);
        Buffer dst(dw, dh, channels);
        zav::ImageComponent component;
        for (auto _ : state) {
            component.ZAVReSizeImage(src.Record(), dst.Record());
            benchmark::ClobberMemory();
        }
    });
    RegisterOpenCvResize(base, channels, dw, dh, cv::INTER_NEAREST);
}

// The filtered shrink the job uses by default (area averaging) against the OpenCV call itself.
void RegisterAreaResize(int32_t channels, int32_t dw, int32_t dh) {
    const std::string base = std::string("AreaResize/") + Kind(channels) + "/" +
                             std::to_string(dw) + "x" + std::to_string(dh);
    benchmark::RegisterBenchmark((base + "/Ours").c_str(), [=](benchmark::State &state) {
        Buffer src(kWidth, kHeight, channels);
        Buffer dst(dw, dh, channels);
        const zav::ImageHeader from = zav::WrapImageRecord(*src.Record());
        const zav::ImageHeader to = zav::WrapImageRecord(*dst.Record());
        for (auto _ : state) {
            zav::FilteredResize(from, to, zav::ResizeFilter::kArea);
            benchmark::ClobberMemory();
        }
    });
    RegisterOpenCvResize(base, channels, dw, dh, cv::INTER_AREA);
}

void RegisterFlip(int32_t channels) {
    const std::string base = std::string("Flip/") + Kind(channels);
    benchmark::RegisterBenchmark((base + "/Ours").c_str(), [=](benchmark::State &state) {
        Buffer image(kWidth, kHeight, channels);
        zav::ImageComponent component;
        const ZAVImageStruct *r = image.Record();
        for (auto _ : state) {
            component.ZAVFlipImage(r->data, r->width, r->height, r->depth, r->channels);
            benchmark::ClobberMemory();
        }
    });
    benchmark::RegisterBenchmark((base + "/OpenCV").c_str(), [=](benchmark::State &state) {
        Buffer image(kWidth, kHeight, channels);
        cv::Mat m = image.Mat();
        for (auto _ : state) {
            cv::flip(m, m, 0);
            benchmark::ClobberMemory();
        }
    });
}

// Equal-size copies: the whole image, and a 1280 x 720 rectangle from inside the source.
void RegisterCopy(int32_t x, int32_t y, int32_t width, int32_t height) {
    const std::string base = "Copy/BGR/" + std::to_string(width) + "x" + std::to_string(height);
    benchmark::RegisterBenchmark((base + "/Ours").c_str(), [=](benchmark::State &state) {
        Buffer src(kWidth, kHeight, 3);
        Buffer dst(kWidth, kHeight, 3);
        zav::ImageComponent component;
        for (auto _ : state) {
            component.ZAVCopyImage(src.Record(), x, y, width, height, dst.Record(), 0, 0, width,
                                   height);
            benchmark::ClobberMemory();
        }
    });
    benchmark::RegisterBenchmark((base + "/OpenCV").c_str(), [=](benchmark::State &state) {
        Buffer src(kWidth, kHeight, 3);
        Buffer dst(kWidth, kHeight, 3);
        cv::Mat from = src.Mat()(cv::Rect(x, y, width, height));
        cv::Mat to = dst.Mat()(cv::Rect(0, 0, width, height));
        for (auto _ : state) {
            from.copyTo(to);
            benchmark::ClobberMemory();
        }
    });
}

// The console output as usual, and each run's real time kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.error_occurred) {
                continue;
            }
            // With repetitions the median stands for the pair; without, the single run.
            const std::string &name = run.run_name.function_name;
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                m_times[name] = run.GetAdjustedCPUTime();
                m_medians[name] = true;
            } else if (run.run_type == Run::RT_Iteration && !m_medians[name]) {
                m_times[name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void PrintSummary() const {
        std::printf("\nOurs / OpenCV (CPU time; below 1 means faster than OpenCV)\n");
        const std::string ours = "/Ours";
        for (const auto &[name, time] : m_times) {
            if (name.size() <= ours.size() ||
                name.compare(name.size() - ours.size(), ours.size(), ours) != 0) {
                continue;
            }
            const std::string stem = name.substr(0, name.size() - ours.size());
            const auto theirs = m_times.find(stem + "/OpenCV");
            if (theirs != m_times.end() && theirs->second > 0) {
                std::printf("  %-28s %.3f\n", stem.c_str(), time / theirs->second);
            }
        }
    }

  private:
    std::map<std::string, double> m_times;
    std::map<std::string, bool> m_medians;
};

}  // namespace

int main(int argc, char **argv) {
    cv::setNumThreads(1);
    for (const int32_t channels : {3, 1}) {
        RegisterResize(channels, 1280, 720);
        RegisterResize(channels, 3840, 2160);
        RegisterAreaResize(channels, 1280, 720);
        RegisterAreaResize(channels, 960, 540);
        RegisterFlip(channels);
    }
    RegisterCopy(0, 0, kWidth, kHeight);
    RegisterCopy(320, 180, 1280, 720);

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
