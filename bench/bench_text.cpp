// Captions: ZAVPutTextToImage against OpenCV's FreeType text (cv::freetype) drawing the same
// caption with the same font file at the same size into a 1920x1080 BGR buffer; the typographic
// caption (anti-aliased, outlined) against cv::freetype's anti-aliased text. Warm, and cold: the
// first call of each side, every one in a process of its own (this program started again with
// --cold CASE FONT INDEX), several rounds in turn, medians and their ratios.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// ---- cold: the first caption of a process ----

extern "C" char **environ;

const char *const kColdCases[] = {
    "ours-typo",           // typographic caption, font by path, anti-aliased: like cv-aa
    "cv-aa",               // createFreeType2, loadFontData, putText LINE_AA
    "ours-typo-outlined",  // the same with a 2-pixel outline (informative)
    "ours-classic",        // ZAVPutTextToImage, the font found as a host would (fontconfig)
    "ours-classic-path",   // the same with the font file set (ZAVSetFontPath; informative)
    "cv-mono",             // createFreeType2, loadFontData, putText LINE_8 (one bit a pixel)
};

// Runs one cold case in this (fresh) process: prints the microseconds of everything the first
// caption takes (object, font, glyphs, drawing) into a buffer made beforehand.
int RunColdCase(const std::string &name, const char *font, int faceIndex) {
    using Clock = std::chrono::steady_clock;
    cv::Mat image(kHeight, kWidth, CV_8UC3, cv::Scalar::all(40));
    ZAVImageStruct record{kWidth, kHeight, 8, 3, image.data};
    int32_t result = 0;
    const Clock::time_point t0 = Clock::now();
    if (name == "ours-typo" || name == "ours-typo-outlined") {
        zav::ImageComponent component;
        ZAVTextStyle style = TypoStyle();
        style.font = font;
        style.faceIndex = faceIndex;
        style.outlineWidth = name == "ours-typo" ? 0.0f : 2.0f;
        result = component.ZAVDrawTextUtf8(&record, kTypoCaption, 100, 100, &style);
    } else if (name == "ours-classic" || name == "ours-classic-path") {
        zav::ImageComponent component;
        if (name == "ours-classic-path") {
            component.ZAVSetFontPath(font);
        }
        result = component.ZAVPutTextToImageUtf8(&record, kCaption, 100, 100, 2, 24.0f, 0.1f, 0.0f);
    } else if (name == "cv-aa" || name == "cv-mono") {
        cv::Ptr<cv::freetype::FreeType2> ft2 = cv::freetype::createFreeType2();
        ft2->loadFontData(font, faceIndex);
        if (name == "cv-aa") {
            ft2->putText(image, kTypoCaption, cv::Point(100, 100), 24, cv::Scalar(255, 255, 255),
                         -1, cv::LINE_AA, false);
        } else {
            ft2->putText(image, kCaption, cv::Point(100, 100), 24, cv::Scalar(0, 0, 255), -1,
                         cv::LINE_8, true);
        }
    } else {
        return 2;
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    std::printf("%.1f\n", result == 0 ? us : -1.0);
    return 0;
}

// This program started afresh on one cold case: its figure, or a negative one when it failed.
double ColdRun(const std::string &self, const char *name, const std::string &font, int index) {
    int out[2];
    if (pipe(out) != 0) {
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    const std::string indexText = std::to_string(index);
    std::vector<char *> argv = {const_cast<char *>(self.c_str()),
                                const_cast<char *>("--cold"),
                                const_cast<char *>(name),
                                const_cast<char *>(font.c_str()),
                                const_cast<char *>(indexText.c_str()),
                                nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char chunk[256];
    ssize_t n = 0;
    while (spawned == 0 && (n = read(out[0], chunk, sizeof chunk)) > 0) {
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(out[0]);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        return -1;
    }
    return std::strtod(text.c_str(), nullptr);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty()           ? 0
           : v.size() % 2 != 0 ? v[v.size() / 2]
                               : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Every cold case in rounds (the order turned each round), each run in a fresh process.
void ReportColdCalls(int rounds) {
    const zav::FontLocation *font = zav::SystemCaptionFont();
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (font == nullptr || length <= 0) {
        std::printf("cold first calls: no caption font, or no path to this program\n");
        return;
    }
    self[length] = 0;
    const std::size_t cases = sizeof kColdCases / sizeof kColdCases[0];
    std::map<std::string, std::vector<double>> times;
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t k = 0; k < cases; ++k) {
            const char *name = kColdCases[(k + static_cast<std::size_t>(round)) % cases];
            const double us = ColdRun(self, name, font->path, static_cast<int>(font->faceIndex));
            if (us < 0) {
                std::printf("cold case %s failed\n", name);
                return;
            }
            times[name].push_back(us);
        }
    }
    std::printf(
        "cold first call, each in a fresh process (%d rounds; font %s, face %ld; the font "
        "file in the page cache):\n",
        rounds, font->path.c_str(), font->faceIndex);
    for (const char *name : kColdCases) {
        const std::vector<double> &t = times[name];
        std::printf("  %-20s median %8.0f us   fastest %8.0f us\n", name, Median(t),
                    *std::min_element(t.begin(), t.end()));
    }
    // Medians, and the fastest runs (on a busy machine the slower ones measure the neighbours).
    const auto ratio = [&](const char *label, const char *ours, const char *theirs) {
        const std::vector<double> &a = times[ours], &b = times[theirs];
        std::printf("%s: %.2f (fastest runs: %.2f)\n", label, Median(a) / Median(b),
                    *std::min_element(a.begin(), a.end()) / *std::min_element(b.begin(), b.end()));
    };
    ratio("cold typographic caption (font by path) / cv::freetype putText LINE_AA, median ratio",
          "ours-typo", "cv-aa");
    ratio("cold typographic caption, outlined / cv::freetype putText LINE_AA, median ratio",
          "ours-typo-outlined", "cv-aa");
    ratio("cold classic caption (font search) / cv::freetype putText LINE_8, median ratio",
          "ours-classic", "cv-mono");
    ratio("cold classic caption (font file set) / cv::freetype putText LINE_8, median ratio",
          "ours-classic-path", "cv-mono");
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
    if (argc == 5 && std::strcmp(argv[1], "--cold") == 0) {
        return RunColdCase(argv[2], argv[3], std::atoi(argv[4]));
    }
    benchmark::Initialize(&argc, argv);
    const char *rounds = std::getenv("ZAV_BENCH_COLD_ROUNDS");
    ReportColdCalls(rounds != nullptr ? std::max(1, std::atoi(rounds)) : 15);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
