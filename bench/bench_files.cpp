// Loading and saving 1920 x 1080 pictures in each format, side by side with OpenCV's imread and
// imwrite on the same files, in one run, and loading the same bytes from memory. The summary at the
// end gives our time over OpenCV's, memory over file, the raw formats' loads over a plain read()
// of the file into a fresh buffer (the floor), and the sizes of both PNG writers' files.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include "bench/fastest_runs.h"

#include "imaging/api/image_component.h"
#include "imaging/buffer/aligned_alloc.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Format {
    const char *name;
    const char *loadFile;  // written by OpenCV, read by both
    const char *saveFile;  // written by both
    std::vector<int> loadParams;
    std::vector<int> saveParams;
    double loadGoal;       // our time over OpenCV's, at most
    double saveGoal;       // 0: no goal
    double floorGoal = 0;  // our load over a read() of the file, at most (0: not compared)
};

const std::vector<Format> &Formats() {
    static const std::vector<Format> formats = {
        {"bmp", "in.bmp", "out.bmp", {}, {}, 0.4, 1.0, 1.2},
        {"ppm",
         "in.ppm",
         "out.ppm",
         {cv::IMWRITE_PXM_BINARY, 1},
         {cv::IMWRITE_PXM_BINARY, 0},
         0.4,
         0,
         1.5},
        {"ras", "in.ras", "out.ras", {}, {}, 0.4, 0, 1.2},
        // Saved at the same quality on both sides: our default (2, the standard tables halved)
        // is libjpeg's 75.
        {"jpg",
         "in.jpg",
         "out.jpg",
         {cv::IMWRITE_JPEG_QUALITY, 90},
         {cv::IMWRITE_JPEG_QUALITY, 75},
         1.0,
         1.0},
        {"tif",
         "in.tif",
         "out.tif",
         {cv::IMWRITE_TIFF_COMPRESSION, 1},
         {cv::IMWRITE_TIFF_COMPRESSION, 1},
         1.0,
         0},
        // Saved at OpenCV's default settings (level 1, zlib's run-length strategy, the "sub"
        // filter); bench_png compares three kinds of picture and the other settings.
        {"png", "in.png", "out.png", {}, {}, 0.8, 0.5},
    };
    return formats;
}

// A picture with gradients, edges and some noise, so that JPEG has real work to do.
cv::Mat TestPicture() {
    cv::Mat picture(kHeight, kWidth, CV_8UC3);
    uint32_t seed = 12345;
    for (int y = 0; y < kHeight; ++y) {
        uint8_t *row = picture.ptr<uint8_t>(y);
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28) - 8;
            const bool edge = ((x / 64) + (y / 48)) % 2 == 0;
            row[3 * x] = cv::saturate_cast<uint8_t>(x * 255 / kWidth + noise);
            row[3 * x + 1] = cv::saturate_cast<uint8_t>(y * 255 / kHeight + noise);
            row[3 * x + 2] = cv::saturate_cast<uint8_t>((edge ? 200 : 40) + noise);
        }
    }
    return picture;
}

class Workspace {
  public:
    Workspace() {
        // In $TMPDIR when set (the file system decides much of a save's time), else /tmp.
        const std::string base = std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/zavbench.XXXXXX";
        m_dir = mkdtemp(pattern.data()) != nullptr ? pattern : base;
        m_picture = TestPicture();
        for (const Format &f : Formats()) {
            cv::imwrite(Path(f.loadFile), m_picture, f.loadParams);
        }
    }
    ~Workspace() { std::filesystem::remove_all(m_dir); }
    std::string Path(const std::string &name) const { return m_dir + "/" + name; }
    const cv::Mat &Picture() const { return m_picture; }

  private:
    std::string m_dir;
    cv::Mat m_picture;
};

Workspace &Files() {
    static Workspace workspace;
    return workspace;
}

void BM_LoadOurs(benchmark::State &state, const Format *f) {
    zav::ImageComponent component;
    const std::string path = Files().Path(f->loadFile);
    for (auto _ : state) {
        ZAVImageStruct record{};
        if (component.ZAVLoadImagePath(path.c_str(), &record) != 0) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(record.data);
        zav::AlignedFree(record.data);
    }
}

void BM_LoadMemory(benchmark::State &state, const Format *f) {
    zav::ImageComponent component;
    std::ifstream in(Files().Path(f->loadFile), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    for (auto _ : state) {
        ZAVImageStruct record{};
        if (component.ZAVLoadImageMemory(bytes.data(), bytes.size(), &record) != 0) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(record.data);
        zav::AlignedFree(record.data);
    }
}

// The floor of a load: the file read into a fresh buffer of its size by read(), nothing decoded.
void BM_ReadFile(benchmark::State &state, const Format *f) {
    const std::string path = Files().Path(f->loadFile);
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st;
        if (fd < 0 || fstat(fd, &st) != 0) {
            state.SkipWithError("open failed");
            break;
        }
        const auto size = static_cast<std::size_t>(st.st_size);
        auto *buffer = static_cast<uint8_t *>(std::malloc(size));
        std::size_t done = 0;
        while (buffer != nullptr && done < size) {
            const ssize_t n = read(fd, buffer + done, size - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        close(fd);
        benchmark::DoNotOptimize(buffer);
        std::free(buffer);
        if (done != size) {
            state.SkipWithError("read failed");
            break;
        }
    }
}

void BM_LoadOpenCv(benchmark::State &state, const Format *f) {
    const std::string path = Files().Path(f->loadFile);
    for (auto _ : state) {
        cv::Mat m = cv::imread(path, cv::IMREAD_COLOR);
        if (m.empty()) {
            state.SkipWithError("imread failed");
            break;
        }
        benchmark::DoNotOptimize(m.data);
    }
}

void BM_SaveOurs(benchmark::State &state, const Format *f) {
    zav::ImageComponent component;
    const std::string path = Files().Path(std::string("ours-") + f->saveFile);
    const cv::Mat &p = Files().Picture();  // 1920 * 3 bytes a row: already padded to 4
    for (auto _ : state) {
        if (component.ZAVSaveImagePath(path.c_str(), p.data, p.cols, p.rows, 8, 3) != 0) {
            state.SkipWithError("save failed");
            break;
        }
    }
}

void BM_SaveOpenCv(benchmark::State &state, const Format *f) {
    const std::string path = Files().Path(std::string("opencv-") + f->saveFile);
    for (auto _ : state) {
        if (!cv::imwrite(path, Files().Picture(), f->saveParams)) {
            state.SkipWithError("imwrite failed");
            break;
        }
    }
}

// Prints every run as usual and keeps the times for the summary.
class RatioReporter : public zavbench::FastestRuns {
  public:
    void PrintSummary() const {
        std::printf("\nour time / OpenCV's time (1920 x 1080, BGR; fastest of the repetitions)\n");
        for (const Format &f : Formats()) {
            Line("load", f.name, f.loadGoal);
            Line("save", f.name, f.saveGoal);
        }
        std::printf("\nloading the file / read() of the file into a fresh buffer\n");
        for (const Format &f : Formats()) {
            if (f.floorGoal > 0) {
                Line("load", f.name, f.floorGoal, "/ours", "/read");
            }
        }
        std::printf("\nloading from memory / loading the file\n");
        for (const Format &f : Formats()) {
            Line("load", f.name, 1.0, "/memory", "/ours");
        }
        std::printf("\nfile sizes of the last saves\n");
        for (const Format &f : Formats()) {
            for (const char *who : {"ours-", "opencv-"}) {
                std::error_code error;
                const auto size =
                    std::filesystem::file_size(Files().Path(std::string(who) + f.saveFile), error);
                if (!error) {
                    std::printf("  %-8s %-7s %10ju bytes\n", f.name, who,
                                static_cast<uintmax_t>(size));
                }
            }
        }
    }

  private:
    void Line(const char *what, const char *name, double goal, const char *mine = "/ours",
              const char *other = "/opencv") const {
        const std::string key = std::string(what) + "/" + name;
        const auto ours = m_real.find(key + mine);
        const auto theirs = m_real.find(key + other);
        if (ours == m_real.end() || theirs == m_real.end() || theirs->second <= 0) {
            return;
        }
        const double ratio = ours->second / theirs->second;
        std::printf("  %-10s %6.2f", key.c_str(), ratio);
        if (goal > 0) {
            std::printf("   goal <= %.2f: %s", goal, ratio <= goal ? "met" : "MISSED");
        }
        std::printf("\n");
    }
};

}  // namespace

int main(int argc, char **argv) {
    for (const Format &f : Formats()) {
        const std::string name = f.name;
        benchmark::RegisterBenchmark(("load/" + name + "/ours").c_str(), BM_LoadOurs, &f)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("load/" + name + "/memory").c_str(), BM_LoadMemory, &f)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("load/" + name + "/opencv").c_str(), BM_LoadOpenCv, &f)
            ->Unit(benchmark::kMillisecond);
        if (f.floorGoal > 0) {
            benchmark::RegisterBenchmark(("load/" + name + "/read").c_str(), BM_ReadFile, &f)
                ->Unit(benchmark::kMillisecond);
        }
        benchmark::RegisterBenchmark(("save/" + name + "/ours").c_str(), BM_SaveOurs, &f)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("save/" + name + "/opencv").c_str(), BM_SaveOpenCv, &f)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    Files();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintSummary();
    benchmark::Shutdown();
    return 0;
}
