// Loading and saving through the C interface: names, the choice of reader and writer, the record
// on failure, what a save refuses, and how a save replaces files.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/files.h"
#include "tests/support/netpbm.h"
#include "tests/support/picture.h"
#include "zavimage/zavimage.h"

namespace {

using zavtest::FileExists;
using zavtest::Picture;
using zavtest::RampPattern;
using zavtest::ReadFile;
using zavtest::TempDir;
using zavtest::WriteFile;

std::u16string Utf16(const std::string &ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        m_obj = ZAVCreateObject();
        ASSERT_NE(m_obj, nullptr);
        ASSERT_FALSE(m_dir.path().empty());
    }
    void TearDown() override { ZAVDestroyObject(m_obj); }

    int32_t Save(const std::string &name, const Picture &p) {
        return ZAVSaveImageUtf8(m_obj, name.c_str(), p.bytes.data(), p.width, p.height, 8,
                                p.channels);
    }
    void Release(ZAVImageStruct *record) {
        ZAVImageStruct *p = record;
        ZAVReleaseImage(m_obj, &p);
    }
    // Loads and compares with the picture in colour; releases what was loaded.
    void ExpectLoads(const std::string &name, const Picture &p) {
        ZAVImageStruct r{};
        ASSERT_EQ(ZAVLoadImageUtf8(m_obj, name.c_str(), &r), 0) << name;
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_OK);
        EXPECT_EQ(r.width, p.width);
        EXPECT_EQ(r.height, p.height);
        EXPECT_EQ(r.depth, 8);
        EXPECT_EQ(r.channels, 3);
        ASSERT_NE(r.data, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(r.data) % 32, 0u);
        const Picture expected = zavtest::AsColor(p);
        const std::size_t stride = (static_cast<std::size_t>(r.width) * 3 + 3) & ~3u;
        for (int32_t y = 0; y < p.height && y < r.height; ++y) {
            EXPECT_EQ(0, std::memcmp(r.data + y * stride, expected.Row(y), p.width * 3u))
                << name << " row " << y;
        }
        Release(&r);
    }
    // A load that must fail: result 1, the record exactly as it was, the given status.
    void ExpectLoadFails(const char *name, int32_t status) {
        ZAVImageStruct r;
        std::memset(&r, 0xAB, sizeof r);
        ZAVImageStruct before = r;
        EXPECT_EQ(ZAVLoadImageUtf8(m_obj, name, &r), 1) << (name ? name : "(null)");
        EXPECT_EQ(0, std::memcmp(&r, &before, sizeof r));
        EXPECT_EQ(ZAVGetFileStatus(m_obj), status) << (name ? name : "(null)");
    }

    ZAVImageObject *m_obj = nullptr;
    TempDir m_dir;
};

TEST_F(Files, SavesAndLoadsBitmapsAndPortableImagesInColourAndGray) {
    for (const char *ext : {"bmp", "dib", "ppm", "pgm", "pbm", "BMP"}) {
        for (int channels : {1, 3}) {
            const Picture p = RampPattern(13, 7, channels);
            const std::string name = m_dir / ("p" + std::to_string(channels) + "." + ext);
            ASSERT_EQ(Save(name, p), 0) << name;
            EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_OK);
            ExpectLoads(name, p);
        }
    }
}

TEST_F(Files, AFailedLoadLeavesTheRecordUntouched) {
    ExpectLoadFails((m_dir / "missing.bmp").c_str(), ZAV_FILE_NOT_FOUND);
    ExpectLoadFails((m_dir / "no/such/folder.bmp").c_str(), ZAV_FILE_NOT_FOUND);
    ExpectLoadFails(nullptr, ZAV_FILE_NO_NAME);
    ExpectLoadFails("", ZAV_FILE_NO_NAME);
    ExpectLoadFails((m_dir / "a;b.bmp").c_str(), ZAV_FILE_NAME_REFUSED + ';');
    ExpectLoadFails(m_dir.path().c_str(), ZAV_FILE_READ_FAILED);

    ASSERT_TRUE(WriteFile(m_dir / "empty.bmp", {}));
    ExpectLoadFails((m_dir / "empty.bmp").c_str(), ZAV_FILE_UNKNOWN_FORMAT);
    ASSERT_TRUE(WriteFile(m_dir / "x.bmp", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0}));
    ExpectLoadFails((m_dir / "x.bmp").c_str(), ZAV_FILE_UNKNOWN_FORMAT);
    // A PNG signature chooses the PNG reader whatever the name; this header ends early.
    ASSERT_TRUE(WriteFile(m_dir / "y.bmp", {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13}));
    ExpectLoadFails((m_dir / "y.bmp").c_str(), ZAV_FILE_TRUNCATED);

    const Picture p = RampPattern(4, 4, 3);
    ASSERT_EQ(Save(m_dir / "whole.bmp", p), 0);
    std::vector<uint8_t> bytes = ReadFile(m_dir / "whole.bmp");
    bytes.resize(bytes.size() - 13);
    ASSERT_TRUE(WriteFile(m_dir / "cut.bmp", bytes));
    ExpectLoadFails((m_dir / "cut.bmp").c_str(), ZAV_FILE_TRUNCATED);

    bytes = ReadFile(m_dir / "whole.bmp");
    bytes[22] = 0xFC;  // height -4: rows stored top-down
    bytes[23] = bytes[24] = bytes[25] = 0xFF;
    ASSERT_TRUE(WriteFile(m_dir / "topdown.bmp", bytes));
    ExpectLoadFails((m_dir / "topdown.bmp").c_str(), ZAV_FILE_UNSUPPORTED);

    ASSERT_TRUE(WriteFile(m_dir / "huge.ppm",
                          std::vector<uint8_t>{'P', '6', ' ', '4', '0', '0', '0', '0', ' ', '4',
                                               '0', '0', '0', '0', ' ', '9', '\n'}));
    ExpectLoadFails((m_dir / "huge.ppm").c_str(), ZAV_FILE_TOO_LARGE);

    ASSERT_EQ(mkfifo((m_dir / "fifo.ppm").c_str(), 0600), 0);
    ExpectLoadFails((m_dir / "fifo.ppm").c_str(), ZAV_FILE_READ_FAILED);  // and does not block
}

TEST_F(Files, TheFirstBytesChooseTheReaderNeverTheName) {
    const Picture p = RampPattern(5, 3, 3);
    ASSERT_EQ(Save(m_dir / "a.bmp", p), 0);
    ASSERT_EQ(Save(m_dir / "b.ppm", p), 0);
    ASSERT_EQ(rename((m_dir / "a.bmp").c_str(), (m_dir / "bitmap.ppm").c_str()), 0);
    ASSERT_EQ(rename((m_dir / "b.ppm").c_str(), (m_dir / "pixmap.bmp").c_str()), 0);
    ExpectLoads(m_dir / "bitmap.ppm", p);
    ExpectLoads(m_dir / "pixmap.bmp", p);
    ASSERT_EQ(rename((m_dir / "pixmap.bmp").c_str(), (m_dir / "noextension").c_str()), 0);
    ExpectLoads(m_dir / "noextension", p);
}

TEST_F(Files, RefusedNamesTouchNoFile) {
    const Picture p = RampPattern(2, 2, 3);
    for (char c : std::string("*?\"<>;|")) {
        const std::string name = m_dir / (std::string("a") + c + "b.bmp");
        EXPECT_EQ(Save(name, p), 1);
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NAME_REFUSED + c);
        EXPECT_EQ(std::string(ZAVFileStatusText(ZAVGetFileStatus(m_obj))),
                  std::string("name refused: contains '") + c + "'");
        const std::u16string wide = Utf16(name);
        EXPECT_EQ(ZAVSaveImage(m_obj, wide.c_str(), p.bytes.data(), 2, 2, 8, 3), 1);
        ZAVImageStruct r{};
        EXPECT_EQ(ZAVLoadImage(m_obj, wide.c_str(), &r), 1);
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NAME_REFUSED + c);
    }
    EXPECT_TRUE(zavtest::ListFolder(m_dir.path()).empty());
}

TEST_F(Files, ANameOf259BytesIsUsedWholeAndOneOf260IsRefused) {
    const std::string prefix = m_dir.path() + "/";
    const std::string name259 = prefix + std::string(259 - prefix.size() - 4, 'n') + ".bmp";
    const std::string name260 = prefix + std::string(260 - prefix.size() - 4, 'n') + ".bmp";
    ASSERT_EQ(name259.size(), 259u);
    ASSERT_EQ(name260.size(), 260u);
    const Picture p = RampPattern(3, 2, 3);
    ASSERT_EQ(Save(name259, p), 0);
    ExpectLoads(name259, p);
    EXPECT_EQ(Save(name260, p), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NAME_TOO_LONG);
    EXPECT_FALSE(FileExists(name260));
    // Even an existing file is refused under a name that long; the path entry takes it.
    ASSERT_EQ(ZAVSaveImagePath(m_obj, name260.c_str(), p.bytes.data(), 3, 2, 8, 3), 0);
    ExpectLoadFails(name260.c_str(), ZAV_FILE_NAME_TOO_LONG);
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVLoadImagePath(m_obj, name260.c_str(), &r), 0);
    Release(&r);
}

TEST_F(Files, BackslashesAndSlashesNameTheSameFile) {
    std::string backslashed = m_dir / "a.bmp";
    for (char &c : backslashed) {
        c = c == '/' ? '\\' : c;
    }
    const Picture p = RampPattern(3, 3, 3);
    ASSERT_EQ(Save(backslashed, p), 0);
    EXPECT_TRUE(FileExists(m_dir / "a.bmp"));
    ExpectLoads(m_dir / "a.bmp", p);
    ExpectLoads(backslashed, p);
}

TEST_F(Files, TheSecondByteOfADoubleByteCharacterIsCheckedOnItsOwn) {
    // Shift JIS 0x95 0x5C: the second byte is taken as a folder separator.
    ASSERT_EQ(mkdir((m_dir / "\x95").c_str(), 0755), 0);
    const Picture p = RampPattern(2, 2, 3);
    ASSERT_EQ(Save(m_dir / "\x95\x5Cpicture.bmp", p), 0);
    EXPECT_TRUE(FileExists(m_dir / "\x95/picture.bmp"));
    // 0x83 0x7C: the second byte is a vertical bar and refuses the name.
    EXPECT_EQ(Save(m_dir / "\x83\x7C.bmp", p), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NAME_REFUSED + '|');
}

TEST_F(Files, Utf16NamesAreSavedUnderTheirUtf8Form) {
    const Picture p = RampPattern(3, 3, 3);
    const std::u16string wide = Utf16(m_dir.path() + "/") + u"\u4E2D\u6587 \u00E9.bmp";
    ASSERT_EQ(ZAVSaveImage(m_obj, wide.c_str(), p.bytes.data(), 3, 3, 8, 3), 0);
    EXPECT_TRUE(FileExists(m_dir / "\xE4\xB8\xAD\xE6\x96\x87 \xC3\xA9.bmp"));
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVLoadImage(m_obj, wide.c_str(), &r), 0);
    EXPECT_EQ(r.width, 3);
    Release(&r);

    std::u16string lone = Utf16(m_dir.path() + "/x");
    lone.push_back(0xD800);
    lone += u".bmp";
    EXPECT_EQ(ZAVSaveImage(m_obj, lone.c_str(), p.bytes.data(), 3, 3, 8, 3), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NAME_REFUSED + '?');
    EXPECT_EQ(ZAVSaveImage(m_obj, nullptr, p.bytes.data(), 3, 3, 8, 3), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NO_NAME);
    EXPECT_EQ(ZAVSaveImage(m_obj, u"", p.bytes.data(), 3, 3, 8, 3), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NO_NAME);
}

std::string Head(const std::string &path, std::size_t n) {
    const std::vector<uint8_t> bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.begin() + std::min(n, bytes.size()));
}

TEST_F(Files, TheExtensionAfterTheLastDotChoosesTheWriter) {
    const Picture p = RampPattern(3, 2, 3);
    ASSERT_EQ(Save(m_dir / "OUT.BMP", p), 0);
    EXPECT_EQ(Head(m_dir / "OUT.BMP", 2), "BM");
    ASSERT_EQ(Save(m_dir / "out.bmp~", p), 0);
    EXPECT_EQ(Head(m_dir / "out.bmp~", 2), "BM");
    ASSERT_EQ(mkdir((m_dir / "pics.bmp").c_str(), 0755), 0);
    ASSERT_EQ(Save(m_dir / "pics.bmp/picture", p), 0);
    EXPECT_EQ(Head(m_dir / "pics.bmp/picture", 2), "BM");
    ASSERT_EQ(Save(m_dir / "colour.pbm", p), 0);
    EXPECT_EQ(Head(m_dir / "colour.pbm", 3), "P3\n");
    ASSERT_EQ(Save(m_dir / "gray.pbm", RampPattern(3, 2, 1)), 0);
    EXPECT_EQ(Head(m_dir / "gray.pbm", 3), "P2\n");

    for (const char *name : {"out.bmp.tmp", "out", "photo.gif", "a.", "b.~bmp"}) {
        EXPECT_EQ(Save(m_dir / name, p), 1) << name;
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_UNKNOWN_EXTENSION) << name;
        EXPECT_FALSE(FileExists(m_dir / name)) << name;
    }
}

TEST_F(Files, BuffersTheWritersCannotTakeWriteNoFile) {
    const std::vector<uint8_t> pixels(64 * 64 * 8, 0x40);
    const struct {
        int32_t width, height, depth, channels;
        bool data;
    } cases[] = {
        {4, 4, 8, 2, true},
        {4, 4, 8, 4, true},
        {4, 4, 8, 0, true},
        {4, 4, 8, 5, true},
        {4, 4, 8, -1, true},
        {4, 4, ZAV_DEPTH_16U, 3, true},
        {4, 4, ZAV_DEPTH_8S, 3, true},
        {4, 4, ZAV_DEPTH_32F, 1, true},
        {4, 4, 12, 3, true},
        {0, 4, 8, 3, true},
        {4, 0, 8, 3, true},
        {-4, 4, 8, 3, true},
        {4, -4, 8, 3, true},
        {4, 4, 8, 3, false},
        {0x7FFFFFFF, 0x7FFFFFFF, 8, 3, true},
    };
    const std::string name = m_dir / "bad.bmp";
    for (const auto &c : cases) {
        EXPECT_EQ(ZAVSaveImageUtf8(m_obj, name.c_str(), c.data ? pixels.data() : nullptr, c.width,
                                   c.height, c.depth, c.channels),
                  1)
            << c.width << "x" << c.height << " depth " << c.depth << " channels " << c.channels;
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_BAD_BUFFER);
    }
    EXPECT_TRUE(zavtest::ListFolder(m_dir.path()).empty());
}

// A link at the output name is refused with its own status: neither the file it points at (in
// another folder, or missing) nor the link changes. A folder reached through a link is the
// caller's own naming and still takes the file.
TEST_F(Files, ASaveNeverWritesThroughASymbolicLinkAtItsName) {
    const Picture p = RampPattern(3, 2, 3);
    ASSERT_EQ(mkdir((m_dir / "out").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((m_dir / "victim").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(m_dir / "victim/notes.txt", {'o', 'l', 'd'}));
    const auto isLink = [](const std::string &path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    };
    struct Case {
        const char *name, *target;
    };
    for (const Case &c :
         {Case{"f001.bmp", "../victim/notes.txt"}, Case{"dangling.ppm", "../victim/made.ppm"},
          Case{"loop1.bmp", "loop1.bmp"}}) {
        const std::string link = m_dir / (std::string("out/") + c.name);
        ASSERT_EQ(symlink(c.target, link.c_str()), 0);
        for (const bool utf8 : {false, true}) {
            const int32_t result = utf8 ? ZAVSaveImageUtf8(m_obj, link.c_str(), p.bytes.data(),
                                                           p.width, p.height, 8, 3)
                                        : Save(link, p);
            EXPECT_EQ(result, 1) << c.name;
            EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_IS_LINK) << c.name;
            EXPECT_EQ(ZAVSaveImagePathFlags(m_obj, link.c_str(), p.bytes.data(), p.width, p.height,
                                            8, 3, ZAV_SAVE_NO_REPLACE),
                      1);
            EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_IS_LINK) << c.name;
        }
        EXPECT_TRUE(isLink(link)) << c.name;
    }
    EXPECT_EQ(ReadFile(m_dir / "victim/notes.txt"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(zavtest::ListFolder(m_dir / "victim"), std::vector<std::string>{"notes.txt"});
    EXPECT_EQ(zavtest::ListFolder(m_dir / "out").size(), 3u);  // the links, nothing else

    ASSERT_EQ(symlink("out", (m_dir / "linked").c_str()), 0);
    ASSERT_EQ(Save(m_dir / "linked/through.bmp", p), 0);
    EXPECT_EQ(Head(m_dir / "out/through.bmp", 2), "BM");
}

// With ZAV_SAVE_NO_REPLACE an existing file is kept (ZAV_FILE_EXISTS) and a free name is taken.
TEST_F(Files, ASaveThatMustNotReplaceKeepsAnExistingFile) {
    const Picture p = RampPattern(3, 2, 3);
    const std::string name = m_dir / "kept.bmp";
    ASSERT_TRUE(WriteFile(name, {'o', 'l', 'd'}));
    EXPECT_EQ(
        ZAVSaveImagePathFlags(m_obj, name.c_str(), p.bytes.data(), 3, 2, 8, 3, ZAV_SAVE_NO_REPLACE),
        1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_EXISTS);
    EXPECT_EQ(ReadFile(name), (std::vector<uint8_t>{'o', 'l', 'd'}));
    const std::string fresh = m_dir / "fresh.bmp";
    EXPECT_EQ(ZAVSaveImagePathFlags(m_obj, fresh.c_str(), p.bytes.data(), 3, 2, 8, 3,
                                    ZAV_SAVE_NO_REPLACE),
              0);
    EXPECT_EQ(Head(fresh, 2), "BM");
    EXPECT_EQ(ZAVSaveImagePathFlags(m_obj, name.c_str(), p.bytes.data(), 3, 2, 8, 3, 0), 0);
    EXPECT_EQ(Head(name, 2), "BM");
    EXPECT_EQ(zavtest::ListFolder(m_dir.path()).size(), 2u);
}

TEST_F(Files, AReplacedFileKeepsItsPermissions) {
    ASSERT_TRUE(WriteFile(m_dir / "kept.bmp", {'o', 'l', 'd'}));
    ASSERT_EQ(chmod((m_dir / "kept.bmp").c_str(), 0640), 0);
    ASSERT_EQ(Save(m_dir / "kept.bmp", RampPattern(2, 2, 3)), 0);
    struct stat st;
    ASSERT_EQ(stat((m_dir / "kept.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Head(m_dir / "kept.bmp", 2), "BM");
    EXPECT_EQ(zavtest::ListFolder(m_dir.path()).size(), 1u);  // no temporary file left
}

// Runs `body` in a child process (as the unprivileged user when the tests run as root) and gives
// its exit code.
template <typename Body>
int InChild(bool dropPrivileges, Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (dropPrivileges && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
            _exit(100);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST_F(Files, AnExistingFileTheCallerMayNotWriteIsNotReplaced) {
    ASSERT_EQ(chmod(m_dir.path().c_str(), 0777), 0);
    ASSERT_TRUE(WriteFile(m_dir / "readonly.bmp", {'o', 'l', 'd'}));
    ASSERT_EQ(chmod((m_dir / "readonly.bmp").c_str(), 0444), 0);
    const Picture p = RampPattern(2, 2, 3);
    const std::string name = m_dir / "readonly.bmp";
    const std::string fresh = m_dir / "fresh.bmp";
    const int code = InChild(true, [&] {
        ZAVImageObject *obj = ZAVCreateObject();
        const int32_t refused = ZAVSaveImageUtf8(obj, name.c_str(), p.bytes.data(), 2, 2, 8, 3);
        const int32_t status = ZAVGetFileStatus(obj);
        const int32_t made = ZAVSaveImageUtf8(obj, fresh.c_str(), p.bytes.data(), 2, 2, 8, 3);
        ZAVDestroyObject(obj);
        return refused == 1 && status == ZAV_FILE_NO_ACCESS && made == 0 ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(name), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(Head(fresh, 2), "BM");
}

// The file size limit (ulimit -f) has its own status, "file too large".
TEST_F(Files, AFailedWriteLeavesTheEarlierFileAndNoPartialFile) {
    ASSERT_TRUE(WriteFile(m_dir / "earlier.ppm", {'o', 'l', 'd'}));
    const Picture p = RampPattern(200, 100, 3);  // about 280 KB of text
    const std::string name = m_dir / "earlier.ppm";
    const int code = InChild(false, [&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit = {64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        ZAVImageObject *obj = ZAVCreateObject();
        const int32_t result =
            ZAVSaveImageUtf8(obj, name.c_str(), p.bytes.data(), p.width, p.height, 8, 3);
        const int32_t status = ZAVGetFileStatus(obj);
        ZAVDestroyObject(obj);
        return result == 1 && status == ZAV_FILE_SIZE_LIMIT ? 0 : 1;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadFile(name), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(zavtest::ListFolder(m_dir.path()), std::vector<std::string>{"earlier.ppm"});
}

TEST_F(Files, ASaveIntoAMissingFolderFails) {
    EXPECT_EQ(Save(m_dir / "missing/a.bmp", RampPattern(2, 2, 3)), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NOT_FOUND);
    EXPECT_EQ(Save(m_dir.path() + "/", RampPattern(2, 2, 3)), 1);
}

// Names the file system finds too long (a part over 255 bytes) get their own status, in a save and
// a load, and leave no file; the 259-byte rule is a different one.
TEST_F(Files, NamesTooLongForTheFileSystemSaySo) {
    const Picture p = RampPattern(2, 2, 3);
    const std::string longPart(256, 'a');
    for (const std::string &name : {m_dir / (longPart + ".bmp"), m_dir / (longPart + "/a.bmp")}) {
        EXPECT_EQ(ZAVSaveImagePath(m_obj, name.c_str(), p.bytes.data(), 2, 2, 8, 3), 1);
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_PATH_TOO_LONG);
        ZAVImageStruct r{};
        EXPECT_EQ(ZAVLoadImagePath(m_obj, name.c_str(), &r), 1);
        EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_PATH_TOO_LONG);
    }
    EXPECT_EQ(Save(m_dir / (longPart + ".bmp"), p), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NAME_TOO_LONG);
    EXPECT_TRUE(zavtest::ListFolder(m_dir.path()).empty());
}

TEST_F(Files, PathEntriesOpenTheNameAsGiven) {
    const Picture p = RampPattern(2, 2, 3);
    const std::string name = m_dir / "what?.bmp";
    ASSERT_EQ(ZAVSaveImagePath(m_obj, name.c_str(), p.bytes.data(), 2, 2, 8, 3), 0);
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVLoadImagePath(m_obj, name.c_str(), &r), 0);
    Release(&r);
    std::string backslashed = m_dir / "a\\b.bmp";  // a backslash is part of the file's name here
    ASSERT_EQ(ZAVSaveImagePath(m_obj, backslashed.c_str(), p.bytes.data(), 2, 2, 8, 3), 0);
    EXPECT_TRUE(FileExists(backslashed));
    EXPECT_EQ(ZAVLoadImagePath(m_obj, nullptr, &r), 1);
    EXPECT_EQ(ZAVLoadImagePath(m_obj, "", &r), 1);
    EXPECT_EQ(ZAVSaveImagePath(m_obj, "", p.bytes.data(), 2, 2, 8, 3), 1);
}

// File sizes and offsets are 64-bit on every platform, 32-bit ones included: a picture followed
// by a hole that makes the file 3 GiB long loads, and so does a save over it.
TEST_F(Files, AFileOfMoreThan2GiBLoadsAndIsReplaced) {
    static_assert(sizeof(off_t) == 8);
    const Picture p = RampPattern(7, 5, 3);
    const std::string name = m_dir / "large.bmp";
    ASSERT_EQ(Save(name, p), 0);
    ASSERT_EQ(truncate(name.c_str(), off_t{3} << 30), 0);
    ExpectLoads(name, p);
    ASSERT_EQ(Save(name, p), 0);
    ExpectLoads(name, p);
}

TEST_F(Files, NullObjectsAndRecordsLoadNothing) {
    const Picture p = RampPattern(2, 2, 3);
    ASSERT_EQ(Save(m_dir / "a.bmp", p), 0);
    ZAVImageStruct r{};
    EXPECT_EQ(ZAVLoadImageUtf8(nullptr, (m_dir / "a.bmp").c_str(), &r), 1);
    EXPECT_EQ(r.data, nullptr);
    EXPECT_EQ(ZAVSaveImageUtf8(nullptr, (m_dir / "b.bmp").c_str(), p.bytes.data(), 2, 2, 8, 3), 1);
    EXPECT_FALSE(FileExists(m_dir / "b.bmp"));
    EXPECT_EQ(ZAVLoadImageUtf8(m_obj, (m_dir / "a.bmp").c_str(), nullptr), 1);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NO_RECORD);
    EXPECT_EQ(ZAVLoadImage(m_obj, Utf16(m_dir / "a.bmp").c_str(), nullptr), 1);
    EXPECT_EQ(ZAVGetFileStatus(nullptr), ZAV_FILE_OK);
}

TEST_F(Files, EachObjectKeepsItsOwnLastStatus) {
    ZAVImageObject *other = ZAVCreateObject();
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(ZAVGetFileStatus(other), ZAV_FILE_OK);
    ZAVImageStruct r{};
    EXPECT_EQ(ZAVLoadImageUtf8(m_obj, (m_dir / "none.bmp").c_str(), &r), 1);
    ASSERT_EQ(ZAVSaveImageUtf8(other, (m_dir / "a.ppm").c_str(), RampPattern(1, 1, 1).bytes.data(),
                               1, 1, 8, 1),
              0);
    EXPECT_EQ(ZAVGetFileStatus(m_obj), ZAV_FILE_NOT_FOUND);
    EXPECT_EQ(ZAVGetFileStatus(other), ZAV_FILE_OK);
    ZAVDestroyObject(other);
}

// The first entry (DC) of each quantization table in a JPEG file, table 0 first.
std::vector<int> JpegTableHeads(const std::vector<uint8_t> &f) {
    std::vector<int> heads;
    for (std::size_t i = 2; i + 4 < f.size(); ++i) {
        if (f[i] == 0xFF && f[i + 1] == 0xDB) {
            const std::size_t length = (f[i + 2] << 8) | f[i + 3];
            for (std::size_t at = i + 4; at + 65 <= i + 2 + length && at + 65 <= f.size();
                 at += 65) {
                heads.push_back(f[at + 1]);
            }
        }
        if (f[i] == 0xFF && f[i + 1] == 0xDA) {
            break;
        }
    }
    return heads;
}

TEST_F(Files, EachObjectsQualityReachesTheJpegWriter) {
    ZAVImageObject *other = ZAVCreateObject();
    ASSERT_NE(other, nullptr);
    const Picture p = RampPattern(16, 16, 3);
    ASSERT_EQ(ZAVSetImageQuality(m_obj, 1.0f), 0);
    ASSERT_EQ(ZAVSetImageQuality(other, 4.0f), 0);
    ASSERT_EQ(Save(m_dir / "q1.jpg", p), 0);
    ASSERT_EQ(ZAVSaveImageUtf8(other, (m_dir / "q4.jpg").c_str(), p.bytes.data(), 16, 16, 8, 3), 0);
    ASSERT_EQ(Save(m_dir / "q1-again.jpg", p), 0);
    // Luminance 16 and chrominance 17 of Annex K, divided by the quality.
    EXPECT_EQ(JpegTableHeads(ReadFile(m_dir / "q1.jpg")), (std::vector<int>{16, 17}));
    EXPECT_EQ(JpegTableHeads(ReadFile(m_dir / "q4.jpg")), (std::vector<int>{4, 4}));
    EXPECT_EQ(JpegTableHeads(ReadFile(m_dir / "q1-again.jpg")), (std::vector<int>{16, 17}));
    ZAVDestroyObject(other);
    // A new object saves with 2.0.
    ZAVImageObject *fresh = ZAVCreateObject();
    ASSERT_EQ(ZAVSaveImageUtf8(fresh, (m_dir / "q2.jpg").c_str(), p.bytes.data(), 16, 16, 8, 3), 0);
    EXPECT_EQ(JpegTableHeads(ReadFile(m_dir / "q2.jpg")), (std::vector<int>{8, 9}));
    ZAVDestroyObject(fresh);
}

TEST_F(Files, EveryFormatRoundTripsAndJpegNamesChooseTheJpegWriter) {
    for (int channels : {1, 3}) {
        const Picture p = RampPattern(11, 6, channels);
        for (const char *name : {"a.ras", "a.SR", "a.tif", "a.tiff"}) {
            ASSERT_EQ(Save(m_dir / name, p), 0) << name;
            ExpectLoads(m_dir / name, p);
        }
    }
    const Picture p = RampPattern(11, 6, 3);
    ASSERT_EQ(Save(m_dir / "OUT.JPG", p), 0);
    EXPECT_EQ(Head(m_dir / "OUT.JPG", 3), "\xFF\xD8\xFF");
    ASSERT_EQ(Save(m_dir / "out.jpg~", p), 0);
    EXPECT_EQ(Head(m_dir / "out.jpg~", 3), "\xFF\xD8\xFF");
    EXPECT_EQ(Save(m_dir / "out.jpg.tmp", p), 1);
    EXPECT_FALSE(FileExists(m_dir / "out.jpg.tmp"));
    // A JPEG file named like a bitmap loads as a JPEG.
    ASSERT_EQ(rename((m_dir / "OUT.JPG").c_str(), (m_dir / "picture.bmp").c_str()), 0);
    ZAVImageStruct r{};
    ASSERT_EQ(ZAVLoadImageUtf8(m_obj, (m_dir / "picture.bmp").c_str(), &r), 0);
    EXPECT_EQ(r.width, 11);
    EXPECT_EQ(r.height, 6);
    Release(&r);
}

TEST(FileStatusText, GivesAShortTextForEveryCode) {
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_OK), "ok");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_NOT_FOUND), "file not found");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_UNSUPPORTED), "unsupported format variant");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_TOO_LARGE), "would exceed 1 GiB");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_NAME_REFUSED + '?'), "name refused: contains '?'");
    EXPECT_STREQ(ZAVFileStatusText(-5), "unknown status");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_DISK_FULL), "disk full");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_QUOTA_EXCEEDED), "disk quota exceeded");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_IS_LINK), "is a symbolic link");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_EXISTS), "file exists");
    EXPECT_STREQ(ZAVFileStatusText(ZAV_FILE_SIZE_LIMIT), "file too large");
    for (int32_t s = ZAV_FILE_OK; s <= ZAV_FILE_METADATA_LIMIT; ++s) {
        EXPECT_STRNE(ZAVFileStatusText(s), "unknown status") << s;
    }
}

}  // namespace
