// The replacing sink: what a killed process, a folder renamed mid-save and a full disk leave
// behind, with unnamed files and with the named temporary file that stands in where they are
// missing.
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "imaging/files/file_sink.h"
#include "imaging/files/format_table.h"
#include "imaging/files/image_files.h"
#include "tests/support/codec.h"
#include "tests/support/files.h"
#include "tests/support/picture.h"
#include "zavimage/zavimage.h"

namespace zav {
namespace {

using Staging = ReplacingFileSink::Staging;
using zavtest::ListFolder;
using zavtest::ReadFile;
using zavtest::TempDir;

std::size_t CountFiles(const std::string &folder) {
    std::error_code error;
    std::size_t n = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        ++n;
    }
    return n;
}

// Writes `bytes` through a sink in two halves, calling `between` after the first.
template <typename Between>
int32_t SaveInHalves(const std::string &path, Staging staging, const std::vector<uint8_t> &bytes,
                     Between between) {
    ReplacingFileSink sink;
    const int32_t status = sink.Open(path.c_str(), staging);
    if (status != ZAV_FILE_OK) {
        return status;
    }
    const std::size_t half = bytes.size() / 2;
    EXPECT_TRUE(sink.Write(bytes.data(), half));
    between(sink);
    EXPECT_TRUE(sink.Write(bytes.data() + half, bytes.size() - half));
    return sink.Commit();
}

bool UnnamedFilesWork(const std::string &folder) {
    ReplacingFileSink sink;
    return sink.Open((folder + "/probe").c_str()) == ZAV_FILE_OK && sink.Unnamed();
}

class FileSink : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.ok()); }
    TempDir m_dir;
    const std::vector<uint8_t> m_bytes = zavtest::Pattern(300, 200, 1).bytes;
};

// Until the commit only the unnamed file exists, which nothing else sees; the named stand-in is a
// hidden file beside the target. Either way a sink dropped unfinished leaves the old file alone.
TEST_F(FileSink, TheBytesWaitUnseenOrInAHiddenFileAndADroppedSinkLeavesTheOldFile) {
    const std::string path = m_dir / "a.bin";
    const std::vector<uint8_t> old = {'o', 'l', 'd'};
    const bool unnamed = UnnamedFilesWork(m_dir.path());
    for (Staging staging : {Staging::kUnnamedFile, Staging::kNamedFile}) {
        for (bool commit : {false, true}) {
            ASSERT_TRUE(zavtest::WriteFile(path, old));
            {
                ReplacingFileSink sink;
                ASSERT_EQ(sink.Open(path.c_str(), staging), ZAV_FILE_OK);
                EXPECT_EQ(sink.Unnamed(), staging == Staging::kUnnamedFile && unnamed);
                ASSERT_TRUE(sink.Write(m_bytes.data(), m_bytes.size()));
                const std::vector<std::string> during = ListFolder(m_dir.path());
                EXPECT_EQ(during.size(), sink.Unnamed() ? 1u : 2u);
                for (const std::string &name : during) {
                    EXPECT_TRUE(name == "a.bin" || name.rfind(".a.bin.", 0) == 0) << name;
                }
                EXPECT_EQ(commit ? sink.Commit() : ZAV_FILE_OK, ZAV_FILE_OK);
            }
            EXPECT_EQ(ReadFile(path), commit ? m_bytes : old);
            EXPECT_EQ(ListFolder(m_dir.path()), std::vector<std::string>{"a.bin"});
        }
    }
}

// The folder is held open: renamed mid-save, it gets the file under its name and nothing else; a
// folder removed mid-save (possible while the unnamed file gives it no entry) gets nothing.
TEST_F(FileSink, AFolderRenamedMidSaveGetsTheFileAndNothingElse) {
    for (Staging staging : {Staging::kUnnamedFile, Staging::kNamedFile}) {
        for (bool replace : {false, true}) {
            const std::string from = m_dir / "from", to = m_dir / "to";
            ASSERT_EQ(mkdir(from.c_str(), 0755), 0);
            if (replace) {
                ASSERT_TRUE(zavtest::WriteFile(from + "/a.bin", {'o', 'l', 'd'}));
            }
            const int32_t status = SaveInHalves(from + "/a.bin", staging, m_bytes, [&](auto &) {
                ASSERT_EQ(rename(from.c_str(), to.c_str()), 0);
            });
            EXPECT_EQ(status, ZAV_FILE_OK);
            EXPECT_EQ(ListFolder(to), std::vector<std::string>{"a.bin"});
            EXPECT_EQ(ReadFile(to + "/a.bin"), m_bytes);
            EXPECT_FALSE(zavtest::FileExists(from));
            std::filesystem::remove_all(to);
        }
    }
    if (!UnnamedFilesWork(m_dir.path())) {
        GTEST_SKIP() << "no unnamed files (O_TMPFILE) here";
    }
    const std::string gone = m_dir / "gone";
    ASSERT_EQ(mkdir(gone.c_str(), 0755), 0);
    const int32_t status = SaveInHalves(gone + "/a.bin", Staging::kUnnamedFile, m_bytes,
                                        [&](auto &) { ASSERT_EQ(rmdir(gone.c_str()), 0); });
    EXPECT_EQ(status, ZAV_FILE_NOT_FOUND);
    EXPECT_TRUE(ListFolder(m_dir.path()).empty());
}

// A process killed by SIGKILL in the middle of a thousand saves leaves only whole files.
TEST_F(FileSink, AProcessKilledInTheMiddleOfAThousandSavesLeavesOnlyWholeFiles) {
    if (!UnnamedFilesWork(m_dir.path())) {
        GTEST_SKIP() << "no unnamed files (O_TMPFILE) here";
    }
    const zavtest::Picture p = zavtest::Pattern(200, 150, 3);
    const pid_t child = fork();
    if (child == 0) {
        for (int i = 0; i < 1000; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "/%04d.bmp", i);
            SaveImageFile((m_dir.path() + name).c_str(), NameRules::kSkip, p.bytes.data(), p.width,
                          p.height, 8, 3, 2.0f);
        }
        _exit(0);
    }
    ASSERT_GT(child, 0);
    while (CountFiles(m_dir.path()) < 10) {
        usleep(200);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saves ended before the kill";

    const std::vector<uint8_t> whole = zavtest::EncodeOk(BmpFormat(), p);
    const std::vector<std::string> left = ListFolder(m_dir.path());
    EXPECT_GE(left.size(), 10u);
    for (std::size_t i = 0; i < left.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%04zu.bmp", i);
        ASSERT_EQ(left[i], name);
        EXPECT_EQ(ReadFile(m_dir / name), whole) << name;
    }
}

// A staging name left by a save killed between its link and its rename (or a stand-in killed while
// writing) is taken over by the next save of that name: afterwards only the file is there.
TEST_F(FileSink, TheNextSaveOfANameRemovesTheStagingNameAKilledSaveLeft) {
    const std::string path = m_dir / "a.bin";
    const std::string staging = ReplacingFileSink::StagingName("a.bin");
    EXPECT_EQ(staging.rfind(".a.bin.zav", 0), 0u) << staging;
    EXPECT_EQ(ReplacingFileSink::StagingName("b.bin").rfind(".b.bin.zav", 0), 0u);
    EXPECT_NE(ReplacingFileSink::StagingName(std::string(250, 'x') + "1"),
              ReplacingFileSink::StagingName(std::string(250, 'x') + "2"));
    for (Staging st : {Staging::kUnnamedFile, Staging::kNamedFile}) {
        for (bool exists : {false, true}) {
            ASSERT_TRUE(zavtest::WriteFile(m_dir / staging, {'l', 'e', 'f', 't'}));
            if (exists) {
                ASSERT_TRUE(zavtest::WriteFile(path, {'o', 'l', 'd'}));
            }
            EXPECT_EQ(SaveInHalves(path, st, m_bytes, [](auto &) {}), ZAV_FILE_OK);
            EXPECT_EQ(ReadFile(path), m_bytes);
            EXPECT_EQ(ListFolder(m_dir.path()), std::vector<std::string>{"a.bin"});
            std::filesystem::remove(m_dir / staging);
            std::filesystem::remove(path);
        }
    }
}

// Existing::kKeep creates exclusively: a name taken before the open or between the open and the
// commit (by another writer) keeps its file, and the sink leaves nothing of its own.
TEST_F(FileSink, KeepingCreatesExclusivelyAgainstAnyOtherWriter) {
    const std::string path = m_dir / "a.bin";
    const std::vector<uint8_t> other = {'o', 't', 'h', 'e', 'r'};
    for (Staging st : {Staging::kUnnamedFile, Staging::kNamedFile}) {
        ASSERT_TRUE(zavtest::WriteFile(path, other));
        {
            ReplacingFileSink sink;
            EXPECT_EQ(sink.Open(path.c_str(), st, ReplacingFileSink::Existing::kKeep),
                      ZAV_FILE_EXISTS);
        }
        std::filesystem::remove(path);
        {
            ReplacingFileSink sink;
            ASSERT_EQ(sink.Open(path.c_str(), st, ReplacingFileSink::Existing::kKeep), ZAV_FILE_OK);
            ASSERT_TRUE(sink.Write(m_bytes.data(), m_bytes.size()));
            ASSERT_TRUE(zavtest::WriteFile(path, other));  // another writer, meanwhile
            EXPECT_EQ(sink.Commit(), ZAV_FILE_EXISTS);
        }
        EXPECT_EQ(ReadFile(path), other);
        EXPECT_EQ(ListFolder(m_dir.path()), std::vector<std::string>{"a.bin"});
        std::filesystem::remove(path);
        {
            ReplacingFileSink sink;
            ASSERT_EQ(sink.Open(path.c_str(), st, ReplacingFileSink::Existing::kKeep), ZAV_FILE_OK);
            ASSERT_TRUE(sink.Write(m_bytes.data(), m_bytes.size()));
            EXPECT_EQ(sink.Commit(), ZAV_FILE_OK);
        }
        EXPECT_EQ(ReadFile(path), m_bytes);
        EXPECT_EQ(ListFolder(m_dir.path()), std::vector<std::string>{"a.bin"});
        std::filesystem::remove(path);
    }
}

// A process replacing existing files is killed 2,000 times at random instants. Every file is whole
// (the old picture or the new one) after every kill; a kill between a replacement's two steps may
// leave that name's staging name, and nothing else; the next run over the same names leaves no
// name but the outputs.
TEST_F(FileSink, KillsAtRandomInstantsWhileReplacingLeaveNoNameButTheOutputs) {
    constexpr int kOutputs = 12;
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kKills = 200;  // a fork of a sanitized process costs forty times as much
#else
    constexpr int kKills = 2000;
#endif
    const zavtest::Picture a = zavtest::Pattern(8, 6, 3), b = zavtest::Pattern(8, 6, 3, 5);
    const std::vector<uint8_t> wholeA = zavtest::EncodeOk(BmpFormat(), a);
    const std::vector<uint8_t> wholeB = zavtest::EncodeOk(BmpFormat(), b);
    ASSERT_NE(wholeA, wholeB);
    std::vector<std::string> names, allowed;
    for (int i = 0; i < kOutputs; ++i) {
        names.push_back("f" + std::to_string(100 + i) + ".bmp");
        allowed.push_back(names.back());
        allowed.push_back(ReplacingFileSink::StagingName(names.back()));
    }
    const auto saveAll = [&](const zavtest::Picture &p) {
        for (const std::string &name : names) {
            SaveImageFile((m_dir / name).c_str(), NameRules::kSkip, p.bytes.data(), p.width,
                          p.height, 8, 3, 2.0f);
        }
    };
    saveAll(a);
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    int leftStaging = 0;
    for (int round = 0; round < kKills; ++round) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        const pid_t child = fork();
        if (child == 0) {
            for (int pass = 0;; ++pass) {
                saveAll(pass % 2 == 0 ? b : a);
            }
        }
        ASSERT_GT(child, 0);
        usleep(static_cast<useconds_t>(seed % 1000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        for (const std::string &name : ListFolder(m_dir.path())) {
            ASSERT_NE(std::find(allowed.begin(), allowed.end(), name), allowed.end())
                << name << " after kill " << round;
            if (name.front() == '.') {
                ++leftStaging;
            } else {
                const std::vector<uint8_t> bytes = ReadFile(m_dir / name);
                ASSERT_TRUE(bytes == wholeA || bytes == wholeB) << name << " after kill " << round;
            }
        }
    }
    saveAll(a);
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(ListFolder(m_dir.path()), sorted);
    for (const std::string &name : names) {
        EXPECT_EQ(ReadFile(m_dir / name), wholeA) << name;
    }
    std::printf("staging names seen after the kills: %d\n", leftStaging);
}

// A full disk: its own status, and nothing left behind. Needs a small tmpfs, mounted in a mount
// namespace of a child process (as root, or in a user namespace of its own); skipped where neither
// is allowed.
TEST_F(FileSink, AFullDiskSaysSoAndLeavesNothing) {
    const std::string disk = m_dir / "small";
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    const zavtest::Picture p = zavtest::Pattern(300, 300, 3);  // 270 KB
    const pid_t child = fork();
    if (child == 0) {
        const uid_t uid = geteuid();
        const gid_t gid = getegid();
        if (unshare(CLONE_NEWNS) != 0) {
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
                _exit(77);
            }
            const std::string uidMap = "0 " + std::to_string(uid) + " 1";
            const std::string gidMap = "0 " + std::to_string(gid) + " 1";
            if (!zavtest::WriteFile("/proc/self/setgroups", {'d', 'e', 'n', 'y'}) ||
                !zavtest::WriteFile("/proc/self/uid_map", {uidMap.begin(), uidMap.end()}) ||
                !zavtest::WriteFile("/proc/self/gid_map", {gidMap.begin(), gidMap.end()})) {
                _exit(77);
            }
        }
        // Private first, so that the mount never shows outside this process.
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("zavtest", disk.c_str(), "tmpfs", 0, "size=64k") != 0) {
            _exit(77);
        }
        int failures = 0;
        const std::string name = disk + "/a.bmp";
        for (Staging staging : {Staging::kUnnamedFile, Staging::kNamedFile}) {
            ReplacingFileSink sink;
            failures += sink.Open(name.c_str(), staging) != ZAV_FILE_OK;
            sink.Write(p.bytes.data(), p.bytes.size());
            failures += sink.Commit() != ZAV_FILE_DISK_FULL;
            failures += CountFiles(disk) != 0;
        }
        // A whole save, over an earlier file that stays as it was.
        failures += !zavtest::WriteFile(name, {'o', 'l', 'd'});
        failures += SaveImageFile(name.c_str(), NameRules::kSkip, p.bytes.data(), 300, 300, 8, 3,
                                  2.0f) != ZAV_FILE_DISK_FULL;
        failures += ReadFile(name) != std::vector<uint8_t>{'o', 'l', 'd'};
        failures += CountFiles(disk) != 1;
        umount(disk.c_str());
        _exit(std::min(failures, 50));
    }
    ASSERT_GT(child, 0);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "a small tmpfs cannot be mounted here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(ListFolder(disk).empty());  // the mount never showed here
}

}  // namespace
}  // namespace zav
