// Captions drawn by objects on several threads at once come out exactly as drawn on one thread.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/text_canvas.h"
#include "zavimage/zavimage.h"

namespace {

using zavtest::Canvas;

const char *const kTexts[] = {
    "\xE8\xA7\x86\xE9\xA2\x91\xE7\x9B\x91\xE6\x8E\xA7\xE7\x94\xBB\xE9\x9D\xA2 12:34:56",
    "\xE9\x80\x9A\xE9\x81\x93 7 Camera-07 \xE5\x8C\x97\xE4\xBA\xAC",
    "2026-12-07 20:44:12 \xE5\xBD\x95\xE5\x83\x8F\xE4\xB8\xAD",
};

struct Job {
    int text;
    float size;
    int32_t color;
    bool latin;  // the second face, set per object
};

// Every job draws into its own buffer with its own object.
std::vector<uint8_t> Draw(const Job &job, const char *latinPath) {
    ZAVImageObject *obj = ZAVCreateObject();
    if (job.latin) {
        ZAVSetFontPath(obj, latinPath);
    }
    Canvas canvas(420, 64, ZAV_DEPTH_8U, 3, 16);
    ZAVImageStruct record = canvas.Record();
    ZAVPutTextToImageUtf8(obj, &record, kTexts[job.text], 2, 50, job.color, job.size, 0.05f, 0.0f);
    ZAVDestroyObject(obj);
    return std::vector<uint8_t>(canvas.Data(), canvas.Data() + canvas.Stride() * 64);
}

TEST(CaptionThreads, SamePixelsAsOneThread) {
    const char *latin = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    std::vector<Job> jobs;
    for (int size = 11; size <= 40; size += 3) {
        for (int text = 0; text < 3; ++text) {
            jobs.push_back(Job{text, static_cast<float>(size) + 0.5f, (size + text) % 3,
                               (size + text) % 2 == 0});
        }
    }
    constexpr int kThreads = 4;
    // All threads start together on glyphs nobody has drawn yet, then repeat on cached ones.
    std::vector<std::vector<std::vector<uint8_t>>> results(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            for (int round = 0; round < 2; ++round) {
                for (std::size_t k = 0; k < jobs.size(); ++k) {
                    const std::size_t j = (k + static_cast<std::size_t>(t) * 7) % jobs.size();
                    std::vector<uint8_t> pixels = Draw(jobs[j], latin);
                    if (round == 0) {
                        results[t].resize(jobs.size());
                        results[t][j] = std::move(pixels);
                    } else if (pixels != results[t][j]) {
                        results[t][j].clear();  // a mismatch between rounds
                    }
                }
            }
        });
    }
    for (std::thread &th : threads) {
        th.join();
    }
    for (std::size_t j = 0; j < jobs.size(); ++j) {
        const std::vector<uint8_t> single = Draw(jobs[j], latin);
        for (int t = 0; t < kThreads; ++t) {
            ASSERT_EQ(results[t][j], single) << "job " << j << " thread " << t;
        }
        EXPECT_NE(single, std::vector<uint8_t>(single.size(), 16)) << "job " << j << " drew ink";
    }
}

// Typographic captions (shaping, fallback fonts, outlines) on several threads, one object each,
// sharing the glyph cache: the same pixels as drawn alone.
std::vector<uint8_t> DrawTypo(int job) {
    ZAVImageObject *obj = ZAVCreateObject();
    ZAVTextStyle style;
    ZAVInitTextStyle(&style);
    style.pixelSize = static_cast<float>(12 + job % 9 * 3);
    style.outlineWidth = static_cast<float>(job % 3);
    style.flags = job % 4 == 3 ? ZAV_TEXT_MONO : 0;
    style.color = 0x20C040;
    style.backgroundOpacity = 0.5f;
    style.font = job % 2 == 0 ? nullptr : "DejaVu Sans";
    Canvas canvas(300, 90, ZAV_DEPTH_8U, 3, 16);
    ZAVImageStruct record = canvas.Record();
    ZAVDrawTextUtf8(
        obj, &record,
        job % 2 == 0 ? kTexts[job % 3] : "AV Wa \xD8\xB3\xD9\x84\xD8\xA7\xD9\x85 \xE4\xB8\xAD", 4,
        40, &style);
    ZAVDestroyObject(obj);
    return std::vector<uint8_t>(canvas.Data(), canvas.Data() + canvas.Stride() * 90);
}

TEST(CaptionThreads, TypographicSamePixelsAsOneThread) {
    constexpr int kJobs = 24, kThreads = 3;
    std::vector<std::vector<std::vector<uint8_t>>> results(
        kThreads, std::vector<std::vector<uint8_t>>(kJobs));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < kJobs; ++k) {
                const int j = (k + t * 5) % kJobs;
                results[t][j] = DrawTypo(j);
            }
        });
    }
    for (std::thread &th : threads) {
        th.join();
    }
    for (int j = 0; j < kJobs; ++j) {
        const std::vector<uint8_t> single = DrawTypo(j);
        for (int t = 0; t < kThreads; ++t) {
            ASSERT_EQ(results[t][j], single) << "job " << j << " thread " << t;
        }
    }
}

}  // namespace
