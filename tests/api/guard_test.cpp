// The guard every C entry calls through: exceptions become the operation's usual result, and a
// load, save or probe that an exception ends says so in the file status, in its own words.
#include <new>
#include <stdexcept>

#include <gtest/gtest.h>

#include "imaging/api/object_handle.h"

namespace zav {
namespace {

int32_t Throw(ImageComponent &) {
    throw std::runtime_error("unexpected");
}

int32_t RunOutOfMemory(ImageComponent &) {
    throw std::bad_alloc();
}

TEST(Guard, AnEscapingExceptionGivesTheUsualResultAndTheStatusOfItsWork) {
    struct Case {
        FileWork work;
        int32_t (*op)(ImageComponent &);
        int32_t status;
    };
    const Case cases[] = {
        {FileWork::kLoad, Throw, ZAV_FILE_READ_FAILED},
        {FileWork::kLoad, RunOutOfMemory, ZAV_FILE_NO_MEMORY},
        {FileWork::kSave, Throw, ZAV_FILE_WRITE_FAILED},
        {FileWork::kSave, RunOutOfMemory, ZAV_FILE_NO_MEMORY},
    };
    for (const Case &c : cases) {
        ZAVImageObject obj;
        EXPECT_EQ(Guarded(&obj, 1, c.work, c.op), 1);
        EXPECT_EQ(obj.component.FileStatus(), c.status);
    }
}

TEST(Guard, OperationsOnPixelsLeaveTheFileStatusAlone) {
    ZAVImageObject obj;
    ASSERT_EQ(obj.component.ZAVLoadImageUtf8("/nonexistent/folder/a.bmp", nullptr), 1);
    ASSERT_EQ(obj.component.FileStatus(), ZAV_FILE_NO_RECORD);
    EXPECT_EQ(Guarded(&obj, 0, Throw), 0);
    EXPECT_EQ(Guarded(&obj, 7, RunOutOfMemory), 7);
    EXPECT_EQ(obj.component.FileStatus(), ZAV_FILE_NO_RECORD);
}

TEST(Guard, ANullObjectGivesTheUsualResultWithoutRunningTheOperation) {
    bool ran = false;
    EXPECT_EQ(Guarded(nullptr, 1, FileWork::kLoad,
                      [&](ImageComponent &) {
                          ran = true;
                          return 0;
                      }),
              1);
    EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace zav
