// Job documents from elsewhere: a document may not bring its own plan, a worker's copy of a plan is
// checked against its description item by item, no output replaces a picture another item still
// reads, a link under the output folder sends nothing elsewhere, and a killed run's staging copies
// go with the next run that plans their names.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/job/job_support.h"

namespace {

using namespace zavtest;
using Json = nlohmann::json;

bool Exists(const std::string &path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

std::string Exported(ZAVJob *job) {
    char *text = ZAVJobExport(job);
    EXPECT_NE(text, nullptr);
    std::string out = text == nullptr ? "" : text;
    ZAVFreeMemory(text);
    return out;
}

class UntrustedJob : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Shell("mkdir -p " + Quote(m_dir / "in/sub") + " " + Quote(m_dir / "out")));
        WritePicture(m_dir / "in/a.ppm", 8, 6, 3, 1);
        WritePicture(m_dir / "in/sub/b.ppm", 8, 6, 3, 2);
        WritePicture(m_dir / "secret.ppm", 8, 6, 3, 3);
    }
    std::string Document(const std::string &rest = "") const {
        return R"({"inputs": [)" + Js(m_dir / "in") + R"(], "recursive": true, "out_dir": )" +
               Js(m_dir / "out") + rest + "}";
    }
    TempDir m_dir;
};

TEST_F(UntrustedJob, ADocumentCarryingAPlanIsRefused) {
    const JobPtr job = Planned(Document());
    ASSERT_NE(job, nullptr);
    const std::string exported = Exported(job.get());
    const std::string message = Refusal(exported);
    EXPECT_EQ(message.rfind("plan: ", 0), 0u) << message;
    // the same document without its plan is an ordinary job
    Json doc = Json::parse(exported);
    doc.erase("plan");
    EXPECT_EQ(Refusal(doc.dump(), true), "");
    // and a worker takes the export whole
    const JobPtr worker(ZAVJobImport(exported.c_str()));
    ASSERT_EQ(ZAVJobStatus(worker.get()), ZAV_JOB_OK) << ZAVJobMessage(worker.get());
    EXPECT_EQ(Items(worker.get()), Items(job.get()));
    ASSERT_EQ(ZAVJobMakeFolders(worker.get()), ZAV_JOB_OK);
    RunAll(worker.get());
    EXPECT_TRUE(Exists(m_dir / "out/a.ppm"));
    EXPECT_TRUE(Exists(m_dir / "out/sub/b.ppm"));
    const JobPtr plain(ZAVJobImport(doc.dump().c_str()));
    EXPECT_EQ(ZAVJobStatus(plain.get()), ZAV_JOB_REFUSED);
}

TEST_F(UntrustedJob, AWorkersPlanIsCheckedItemByItem) {
    const JobPtr job = Planned(Document());
    ASSERT_NE(job, nullptr);
    const Json good = Json::parse(Exported(job.get()));
    ASSERT_EQ(good["plan"]["items"].size(), 2u);
    const std::string out = m_dir / "out";
    // Each forgery of the plan, and the words its refusal holds.
    const std::vector<std::pair<std::function<void(Json &)>, std::string>> forgeries = {
        {[&](Json &p) { p["items"][0]["output"] = "/tmp/zav-abs.ppm"; }, "is not the job's name"},
        {[&](Json &p) { p["items"][0]["output"] = out + "/../escaped.ppm"; },
         "is not the job's name"},
        {[&](Json &p) { p["items"][1]["output"] = out + "/a.ppm"; }, "is not the job's name"},
        {[&](Json &p) { p["items"][0]["input"] = m_dir / "secret.ppm"; },
         "nor a picture in that folder"},
        {[&](Json &p) { p["items"][0]["input"] = m_dir / "in/../secret.ppm"; },
         "nor a picture in that folder"},
        {[&](Json &p) { p["items"][0]["source"] = 7; }, "no input 7"},
        {[&](Json &p) {
             p["items"][0]["source"] = 7;
             p["items"][0]["memory"] = true;
         },
         "no input 7"},
        {[&](Json &p) { p["items"][0]["memory"] = true; }, "not an input given in memory"},
        {[&](Json &p) { p["items"][0]["state"] = ZAV_ITEM_WRITTEN; }, "pending"},
        {[&](Json &p) { p["items"][1]["index"] = 1; }, "place in the batch"},
        {[&](Json &p) { p["items"][0]["index"] = 9; }, "place in the batch"},
        {[&](Json &p) { p["items"].push_back(p["items"][0]); }, "place in the batch"},
        // numbers that would wrap into valid ones
        {[&](Json &p) { p["items"][0]["state"] = 4294967296ull; }, "state: not a whole number"},
        {[&](Json &p) { p["items"][0]["source"] = -1; }, "source: not a whole number"},
        // boxes checked as a detections file's rows are
        {[&](Json &p) {
             p["items"][0]["detections"] = Json::array(
                 {{{"x", 1}, {"y", 1}, {"w", 4}, {"h", 4}, {"label", "a\x1b[2Jb"}, {"color", ""}}});
         },
         "holds a control character"},
        {[&](Json &p) {
             p["items"][0]["detections"] = Json::array(
                 {{{"x", 1}, {"y", 1}, {"w", 0}, {"h", 4}, {"label", ""}, {"color", ""}}});
         },
         "has no width or height"},
        {[&](Json &p) {
             Json box = {{"x", 1}, {"y", 1}, {"w", 4}, {"h", 4}, {"label", "car"}, {"color", ""}};
             p["items"][0]["detections"] = Json::array();
             for (int n = 0; n < 10001; ++n) {
                 p["items"][0]["detections"].push_back(box);
             }
         },
         "more than 10000 boxes"},
    };
    for (std::size_t k = 0; k < forgeries.size(); ++k) {
        Json doc = good;
        forgeries[k].first(doc["plan"]);
        const JobPtr worker(ZAVJobImport(doc.dump().c_str()));
        ASSERT_NE(worker, nullptr);
        EXPECT_EQ(ZAVJobStatus(worker.get()), ZAV_JOB_REFUSED) << k;
        EXPECT_NE(std::string(ZAVJobMessage(worker.get())).find(forgeries[k].second),
                  std::string::npos)
            << k << ": " << ZAVJobMessage(worker.get());
        // nothing the forged plan named was made
        ZAVImageObject *obj = ZAVCreateObject();
        EXPECT_EQ(ZAVJobRunItem(worker.get(), obj, 0, nullptr), ZAV_JOB_BAD_CALL);
        ZAVDestroyObject(obj);
    }
    EXPECT_FALSE(Exists("/tmp/zav-abs.ppm"));
    EXPECT_FALSE(Exists(m_dir / "escaped.ppm"));

    // Folders to make come from the items, never from the document.
    Json doc = good;
    doc["plan"]["folders"] = Json::array({m_dir / "made-by-forgery"});
    const JobPtr worker(ZAVJobImport(doc.dump().c_str()));
    ASSERT_EQ(ZAVJobStatus(worker.get()), ZAV_JOB_OK) << ZAVJobMessage(worker.get());
    ASSERT_EQ(ZAVJobMakeFolders(worker.get()), ZAV_JOB_OK);
    EXPECT_FALSE(Exists(m_dir / "made-by-forgery"));

    // A planned failure's reason from elsewhere is shown escaped.
    WritePicture(m_dir / "in/c.ppm", 4, 4);
    const JobPtr three = Planned(Document());
    ASSERT_NE(three, nullptr);
    Json failing = Json::parse(Exported(three.get()));
    Json &item = failing["plan"]["items"][0];
    item["planned"] = true;
    item["state"] = ZAV_ITEM_FAILED;
    item["about_output"] = true;
    item["reason"] = "\x1b]0;owned\x07\x1b[2J";
    const JobPtr escaped(ZAVJobImport(failing.dump().c_str()));
    ASSERT_EQ(ZAVJobStatus(escaped.get()), ZAV_JOB_OK) << ZAVJobMessage(escaped.get());
    const std::vector<ItemView> items = Items(escaped.get());
    EXPECT_EQ(items[0].message.find('\x1b'), std::string::npos) << items[0].message;
    EXPECT_NE(items[0].message.find("\\x1B"), std::string::npos) << items[0].message;
}

TEST_F(UntrustedJob, AWorkersPlanReplacesNothingItsDescriptionKeeps) {
    // A plan for outputs in the input folder: each output would replace its own input, which only
    // in_place allows.
    const std::string inPlace = R"({"inputs": [)" + Js(m_dir / "in/a.ppm") + R"(], "out_dir": )" +
                                Js(m_dir / "in") + R"(, "in_place": true})";
    const JobPtr job = Planned(inPlace);
    ASSERT_NE(job, nullptr);
    Json doc = Json::parse(Exported(job.get()));
    doc["in_place"] = false;
    const JobPtr worker(ZAVJobImport(doc.dump().c_str()));
    EXPECT_EQ(ZAVJobStatus(worker.get()), ZAV_JOB_REFUSED);
    EXPECT_EQ(ZAVJobRefusal(worker.get()), ZAV_REFUSED_OVERWRITE) << ZAVJobMessage(worker.get());
}

TEST_F(UntrustedJob, NoOutputReplacesAPictureAnotherItemReads) {
    // "{index}.ppm" in the input folder: 0.ppm's output is 1.ppm, another item's input
    const std::string d = m_dir / "d";
    ASSERT_TRUE(Shell("mkdir " + Quote(d)));
    for (int i = 0; i < 3; ++i) {
        WritePicture(d + "/" + std::to_string(i) + ".ppm", 4, 4, 3, static_cast<uint32_t>(i + 1));
    }
    for (const char *inPlace : {"true", "false"}) {
        int32_t kind = -1;
        const std::string message =
            Refusal(R"({"inputs": [)" + Js(d) + R"(], "out_dir": )" + Js(d) +
                        R"(, "name": "{index}.ppm", "in_place": )" + inPlace + "}",
                    true, &kind);
        EXPECT_EQ(kind, ZAV_REFUSED_CLASH) << message;
        EXPECT_NE(message.find(d + "/1.ppm (from " + d + "/0.ppm) is the input " + d + "/1.ppm"),
                  std::string::npos)
            << message;
    }
    // a recursive run into a subfolder of its own input: t/x.ppm would replace t/sub/x.ppm
    const std::string t = m_dir / "t";
    ASSERT_TRUE(Shell("mkdir -p " + Quote(t + "/sub")));
    WritePicture(t + "/x.ppm", 4, 4, 3, 5);
    WritePicture(t + "/sub/x.ppm", 4, 4, 3, 6);
    for (const char *inPlace : {"true", "false"}) {
        int32_t kind = -1;
        const std::string message =
            Refusal(R"({"inputs": [)" + Js(t) + R"(], "recursive": true, "out_dir": )" +
                        Js(t + "/sub") + R"(, "in_place": )" + inPlace + "}",
                    true, &kind);
        EXPECT_EQ(kind, ZAV_REFUSED_CLASH) << message;
        EXPECT_NE(
            message.find(t + "/sub/x.ppm (from " + t + "/x.ppm) is the input " + t + "/sub/x.ppm"),
            std::string::npos)
            << message;
    }
    EXPECT_EQ(ReadFile(t + "/sub/x.ppm"), ToNetpbm(Pattern(4, 4, 3, 6)));
    // its own input only: allowed in place
    EXPECT_EQ(
        Refusal(R"({"inputs": [)" + Js(d) + R"(], "out_dir": )" + Js(d) + R"(, "in_place": true})",
                true),
        "");
}

TEST_F(UntrustedJob, ALinkUnderTheOutputFolderSendsNothingElsewhere) {
    const std::string elsewhere = m_dir / "elsewhere";
    ASSERT_TRUE(Shell("mkdir " + Quote(elsewhere)));
    ASSERT_EQ(symlink(elsewhere.c_str(), (m_dir / "out/sub").c_str()), 0);
    const JobPtr job = Planned(Document());
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(ZAVJobMakeFolders(job.get()), ZAV_JOB_FAILED);
    EXPECT_NE(std::string(ZAVJobMessage(job.get())).find("out/sub: is a symbolic link"),
              std::string::npos)
        << ZAVJobMessage(job.get());

    // swapped in after the folders were made: that item fails, the other is written
    ASSERT_EQ(unlink((m_dir / "out/sub").c_str()), 0);
    const JobPtr later = Planned(Document());
    ASSERT_NE(later, nullptr);
    ASSERT_EQ(ZAVJobMakeFolders(later.get()), ZAV_JOB_OK);
    ASSERT_EQ(rmdir((m_dir / "out/sub").c_str()), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), (m_dir / "out/sub").c_str()), 0);
    RunAll(later.get());
    const std::vector<ItemView> items = Items(later.get());
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].state, ZAV_ITEM_WRITTEN);
    EXPECT_EQ(items[1].state, ZAV_ITEM_FAILED);
    EXPECT_NE(items[1].reason.find("symbolic link"), std::string::npos) << items[1].reason;
    EXPECT_FALSE(Exists(elsewhere + "/b.ppm"));
}

// The staging name a save of NAME uses while it replaces NAME: ".NAME.zav<FNV-1a of NAME>.tmp".
std::string StagingName(const std::string &name) {
    uint64_t h = 14695981039346656037ull;
    for (const char c : name) {
        h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    }
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".zav%016llx.tmp", static_cast<unsigned long long>(h));
    return "." + name + suffix;
}

TEST_F(UntrustedJob, AKilledRunsStagingCopiesGoWithTheNextPlan) {
    WritePicture(m_dir / "out/a.ppm", 2, 2);  // kept: no_clobber
    for (const char *name : {"out/", "out/sub/"}) {
        ASSERT_TRUE(Shell("mkdir -p " + Quote(m_dir / name)));
    }
    const std::string skipped = m_dir / ("out/" + StagingName("a.ppm"));
    const std::string written = m_dir / ("out/sub/" + StagingName("b.ppm"));
    const std::string other = m_dir / ("out/" + StagingName("c.ppm"));  // no output of this run
    for (const std::string &path : {skipped, written, other}) {
        ASSERT_TRUE(WriteFile(path, {1, 2, 3}));
    }
    const JobPtr job = Planned(Document(R"(, "no_clobber": true)"));
    ASSERT_NE(job, nullptr);
    ASSERT_EQ(ZAVJobMakeFolders(job.get()), ZAV_JOB_OK);
    EXPECT_FALSE(Exists(skipped));
    EXPECT_FALSE(Exists(written));
    EXPECT_TRUE(Exists(other));
}

TEST_F(UntrustedJob, ACaptionItsFieldsMakeTooLongFailsThePictureForThatReason) {
    // 600 fields within the caption's characters, each filled in with a 40-byte name
    const std::string name(36, 'n');
    WritePicture(m_dir / (name + ".ppm"), 64, 64);
    std::string text;
    for (int k = 0; k < 600; ++k) {
        text += "{name}";
    }
    const JobPtr job =
        Planned(R"({"inputs": [)" + Js(m_dir / (name + ".ppm")) + R"(], "output": )" +
                Js(m_dir / "long.ppm") + R"(, "captions": [{"text": ")" + text + R"("}]})");
    ASSERT_NE(job, nullptr);
    RunAll(job.get());
    const std::vector<ItemView> items = Items(job.get());
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].state, ZAV_ITEM_FAILED);
    EXPECT_NE(items[0].reason.find("bytes once filled in"), std::string::npos) << items[0].reason;
    EXPECT_LT(items[0].reason.size(), 200u);
    EXPECT_FALSE(Exists(m_dir / "long.ppm"));
}

TEST(UntrustedJobSize, ADocumentAboveTheLimitIsRefused) {
    std::string big = R"({"inputs": ["a.ppm"], "output": "b.ppm", "captions": [{"text": ")";
    big.append(ZAV_JOB_MAX_BYTES, 'x');
    big += "\"}]}";
    const std::string message = Refusal(big);
    EXPECT_EQ(message, "the job is larger than 16 MiB");
}

}  // namespace
