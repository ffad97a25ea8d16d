// Captions: ZAVPutTextToImage against OpenCV's FreeType text (cv::freetype) drawing the same
// caption with the same font file at the same size into a 1920x1080 BGR buffer; the typographic
// caption (anti-aliased, outlined) against cv::freetype's anti-aliased text, warm and cold.
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core.hpp>
#include <opencv2/freetype.hpp>
#include <opencv2/imgproc.hpp>

#include "imaging/api/image_component.h"
#include "text/font.h"
#include "text/font_catalog.h"
#include "text/typo_caption.h"

namespace {

const char kCaption[] =
    "\xE8\xA7\x86\xE9\xA2\x91\xE7\x9B\x91\xE6\x8E\xA7\xE7\x94\xBB\xE9\x9D\xA2 12:34:56";
constexpr int kWidth = 1920, kHeight = 1080;
const char kTypoCaption[] =
    "\xE8\xA7\x86\xE9\xA2\x91\xE7\x9B\x91\xE6\x8E\xA7\xE7\x94\xBB\xE9\x9D\xA2 2024-05-01 "
    "12:34:56 Cam-01";

// White text with a 2-pixel black outline, 24 pixels, the caption font.
ZAVTextStyle TypoStyle() {
    ZAVTextStyle style;
    zav::DefaultTextStyle(&style);
    style.pixelSize = 24.0f;
    style.color = 0xFFFFFF;
    style.outlineWidth = 2.0f;
    return style;
}

// OpenCV's FreeType text at 24 px on the same picture and font as ours.
void OpenCvFreeTypePutText(benchmark::State &state, const char *text, const cv::Scalar &color,
                           int lineType, bool bottomLeftOrigin) {
    const zav::FontLocation *font = zav::SystemCaptionFont();
    if (font == nullptr) {
        state.SkipWithError("no caption font");
        return;
    }
    cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar::all(40));
    cv::Ptr<cv::freetype::FreeType2> ft2 = cv::freetype::createFreeType2();
    ft2->loadFontData(font->path, static_cast<int>(font->faceIndex));
    for (auto _ : state) {
        ft2->putText(image, text, cv::Point(100, 100), 24, color, -1, lineType, bottomLeftOrigin);
        benchmark::ClobberMemory();
    }
}

void BM_ZavDrawTextOutlined(benchmark::State &state) {
    cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar::all(40));
    ZAVImageStruct record{kWidth, kHeight, 8, 3, image.data};
    zav::ImageComponent component;
    const ZAVTextStyle style = TypoStyle();
    for (auto _ : state) {
        const int32_t r = component.ZAVDrawTextUtf8(&record, kTypoCaption, 100, 100, &style);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ZavDrawTextOutlined);

void BM_OpenCvFreeTypePutTextAA(benchmark::State &state) {
    OpenCvFreeTypePutText(state, kTypoCaption, cv::Scalar(255, 255, 255), cv::LINE_AA, false);
}
BENCHMARK(BM_OpenCvFreeTypePutTextAA);

// The first call of each in a fresh process: font lookup, the font file read, glyphs rendered.
void ReportColdCalls() {
    using Clock = std::chrono::steady_clock;
    cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar::all(40));
    ZAVImageStruct record{kWidth, kHeight, 8, 3, image.data};
    zav::ImageComponent component;
    const ZAVTextStyle style = TypoStyle();
    Clock::time_point t0 = Clock::now();
    component.ZAVDrawTextUtf8(&record, kTypoCaption, 100, 100, &style);
    const double ours = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    const zav::FontLocation *font = zav::SystemCaptionFont();
    if (font == nullptr) {
        return;
    }
    t0 = Clock::now();
    cv::Ptr<cv::freetype::FreeType2> ft2 = cv::freetype::createFreeType2();
    ft2->loadFontData(font->path, static_cast<int>(font->faceIndex));
    ft2->putText(image, kTypoCaption, cv::Point(100, 100), 24, cv::Scalar(255, 255, 255), -1,
                 cv::LINE_AA, false);
    const double theirs = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    std::printf(
        "cold first call: typographic caption %.0f us, cv::freetype (create, load, "
        "putText) %.0f us\n",
        ours, theirs);
}

void BM_ZavPutText(benchmark::State &state) {
    cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar::all(40));  // 5760-byte rows: 4-aligned
    ZAVImageStruct record{kWidth, kHeight, 8, 3, image.data};
    zav::ImageComponent component;
    for (auto _ : state) {
        const int32_t r =
            component.ZAVPutTextToImageUtf8(&record, kCaption, 100, 100, 2, 24.0f, 0.1f, 0.0f);
        benchmark::DoNotOptimize(r);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ZavPutText);

void BM_OpenCvFreeTypePutText(benchmark::State &state) {
    OpenCvFreeTypePutText(state, kCaption, cv::Scalar(0, 0, 255), cv::LINE_8, true);
}
BENCHMARK(BM_OpenCvFreeTypePutText);

// Prints ours / OpenCV's time after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            if (run.iterations > 0) {
                m_times[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        Ratio("caption ours/OpenCV time ratio", "BM_ZavPutText", "BM_OpenCvFreeTypePutText");
        Ratio("typographic caption (anti-aliased, outlined) ours/OpenCV anti-aliased time ratio",
              "BM_ZavDrawTextOutlined", "BM_OpenCvFreeTypePutTextAA");
    }

  private:
    void Ratio(const char *label, const char *oursName, const char *theirsName) const {
        const auto ours = m_times.find(oursName);
        const auto theirs = m_times.find(theirsName);
        if (ours != m_times.end() && theirs != m_times.end() && theirs->second > 0) {
            std::printf("%s: %.3f\n", label, ours->second / theirs->second);
        }
    }

    std::map<std::string, double> m_times;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    ReportColdCalls();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
