// Images in memory through the C interface: a save to memory gives the bytes a file save writes,
// and a load or probe of bytes in memory gives what the same file gives, failures included.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/picture.h"
#include "zavimage/zavimage.h"

namespace {

using zavtest::Picture;

// Every writer's first extension.
const char *const kExtensions[] = {"bmp", "jpg", "ras", "ppm", "tif", "png"};

// What a load leaves: result, status, the record and the pixels.
struct Loaded {
    int32_t result = 0;
    int32_t status = 0;
    int32_t width = 0, height = 0, depth = 0, channels = 0;
    std::vector<uint8_t> bytes;
    bool operator==(const Loaded &) const = default;
};

class Memory : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(m_obj, nullptr); }
    void TearDown() override { ZAVDestroyObject(m_obj); }

    Loaded Keep(int32_t result, ZAVImageStruct *r) {
        Loaded l;
        l.result = result;
        l.status = ZAVGetFileStatus(m_obj);
        if (result == 0) {
            l.width = r->width;
            l.height = r->height;
            l.depth = r->depth;
            l.channels = r->channels;
            const std::size_t stride = (static_cast<std::size_t>(r->width) * 3 + 3) & ~3u;
            for (int32_t y = 0; y < r->height; ++y) {
                const uint8_t *row = r->data + stride * y;
                l.bytes.insert(l.bytes.end(), row, row + 3 * r->width);
            }
            ZAVReleaseImage(m_obj, &r);
        }
        return l;
    }
    Loaded FromFile(const std::vector<uint8_t> &bytes) {
        const std::string path = m_dir / "picture";
        EXPECT_TRUE(zavtest::WriteFile(path, bytes));
        ZAVImageStruct r{};
        return Keep(ZAVLoadImageUtf8(m_obj, path.c_str(), &r), &r);
    }
    Loaded FromMemory(const std::vector<uint8_t> &bytes) {
        ZAVImageStruct r{};
        return Keep(ZAVLoadImageMemory(m_obj, bytes.data(), bytes.size(), &r), &r);
    }
    // The bytes a file save writes, and checks that a save to memory gives the same.
    std::vector<uint8_t> SaveBoth(const char *extension, const Picture &p) {
        const std::string path = m_dir / (std::string("out.") + extension);
        EXPECT_EQ(
            ZAVSaveImageUtf8(m_obj, path.c_str(), p.bytes.data(), p.width, p.height, 8, p.channels),
            0)
            << path;
        const std::vector<uint8_t> file = zavtest::ReadFile(path);
        uint8_t *bytes = nullptr;
        size_t size = 0;
        EXPECT_EQ(ZAVSaveImageMemory(m_obj, extension, p.bytes.data(), p.width, p.height, 8,
                                     p.channels, &bytes, &size),
                  0)
            << extension;
        EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + size), file) << extension;
        ZAVFreeMemory(bytes);
        return file;
    }
    // File and memory agree on the load and the probe, for the bytes whole and cut short.
    void ExpectSameAsFile(const std::vector<uint8_t> &bytes, const std::string &what) {
        for (std::size_t keep : {bytes.size(), bytes.size() - 1, bytes.size() / 2, std::size_t{40},
                                 std::size_t{3}, std::size_t{0}}) {
            const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + keep);
            const Loaded file = FromFile(cut);
            EXPECT_EQ(FromMemory(cut), file) << what << " kept " << keep;
            if (keep == bytes.size()) {
                EXPECT_EQ(file.result, 0) << what;
            }
            const char *fileFormat = nullptr, *memoryFormat = nullptr;
            int32_t fw = 0, fh = 0, fc = 0, mw = 0, mh = 0, mc = 0;
            const int32_t fileResult =
                ZAVProbeImagePath(m_obj, (m_dir / "picture").c_str(), &fileFormat, &fw, &fh, &fc);
            const int32_t fileStatus = ZAVGetFileStatus(m_obj);
            EXPECT_EQ(
                ZAVProbeImageMemory(m_obj, cut.data(), cut.size(), &memoryFormat, &mw, &mh, &mc),
                fileResult)
                << what << " kept " << keep;
            EXPECT_EQ(ZAVGetFileStatus(m_obj), fileStatus) << what << " kept " << keep;
            EXPECT_EQ(fileFormat, memoryFormat);
            EXPECT_EQ(fw, mw);
            EXPECT_EQ(fc, mc);
            EXPECT_EQ(fh, mh);
        }
    }

    ZAVImageObject *m_obj = ZAVCreateObject();
    zavtest::TempDir m_dir;
};

TEST_F(Memory, EveryFormatSavesTheFileBytesAndLoadsAsTheFile) {
    for (const char *extension : kExtensions) {
        for (int channels : {1, 3}) {
            // Small pictures, and ones larger than the head read first.
            for (int32_t width : {13, 301}) {
                const Picture p = zavtest::RampPattern(width, width == 13 ? 7 : 97, channels);
                const std::vector<uint8_t> bytes = SaveBoth(extension, p);
                ExpectSameAsFile(bytes, std::string(extension) + " " + std::to_string(channels) +
                                            " channels, width " + std::to_string(width));
            }
        }
    }
}

TEST_F(Memory, RefusalsMatchTheFileFunctions) {
    const Picture p = zavtest::RampPattern(5, 4, 3);
    uint8_t *bytes = reinterpret_cast<uint8_t *>(1);
    size_t size = 99;
    // Extensions: the whole string names the format, case ignored.
    EXPECT_EQ(ZAVSaveImageMemory(m_obj, "JPG", p.bytes.data(), 5, 4, 8, 3, &bytes, &size), 0);
    EXPECT_TRUE(bytes != nullptr && size > 0);
    ZAVFreeMemory(bytes);
    for (const char *format :
         {"", ".jpg", "jpg~", "out.jpg", "gif", static_cast<const char *>(0)}) {
        EXPECT_EQ(ZAVSaveImageMemory(m_obj, format, p.bytes.data(), 5, 4, 8, 3, &bytes, &size), 1);
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_UNKNOWN_EXTENSION)
            << (format ? format : "null");
        EXPECT_EQ(bytes, nullptr);
        EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(ZAVSaveImageMemory(m_obj, "bmp", p.bytes.data(), 5, 4, 8, 4, &bytes, &size), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_BAD_BUFFER);
    EXPECT_EQ(ZAVSaveImageMemory(m_obj, "bmp", p.bytes.data(), 5, 4, 8, 3, nullptr, &size), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NO_RECORD);
    EXPECT_EQ(ZAVSaveImageMemory(nullptr, "bmp", p.bytes.data(), 5, 4, 8, 3, &bytes, &size), 1);
    EXPECT_EQ(bytes, nullptr);
    ZAVFreeMemory(nullptr);

    // Loads: no bytes, unknown bytes and a missing record fail and leave the record untouched.
    ZAVImageStruct r;
    std::memset(&r, 0xAB, sizeof r);
    const ZAVImageStruct before = r;
    const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a'};
    EXPECT_EQ(ZAVLoadImageMemory(m_obj, nullptr, 10, &r), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_UNKNOWN_FORMAT);
    EXPECT_EQ(ZAVLoadImageMemory(m_obj, gif, sizeof gif, &r), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_UNKNOWN_FORMAT);
    EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r));
    EXPECT_EQ(ZAVLoadImageMemory(m_obj, gif, sizeof gif, nullptr), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NO_RECORD);
    EXPECT_EQ(ZAVLoadImageMemory(nullptr, gif, sizeof gif, &r), 1);
    const char *format = nullptr;
    int32_t w = 0, h = 0, c = 0;
    EXPECT_EQ(ZAVProbeImageMemory(m_obj, gif, sizeof gif, nullptr, &w, &h, &c), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NO_RECORD);
    EXPECT_EQ(ZAVProbeImageMemory(m_obj, gif, sizeof gif, &format, &w, &h, &c), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_UNKNOWN_FORMAT);
    EXPECT_EQ(format, nullptr);
}

}  // namespace
