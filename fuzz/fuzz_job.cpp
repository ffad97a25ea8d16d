// Fuzzes job documents through the C interface: the data, NUL-terminated, are the document, read
// and checked by ZAVJobCreate, and by ZAVJobImport as a worker's planned job; statuses, messages
// and items are read and the jobs destroyed. Never planned: planning reads the file system.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zavimage/job.h"

namespace {

// The same document as a worker's copy of a planned job: its plan checked against its
// description (file names in it are only looked at, never written). An accepted one gives its
// items and exports again.
void Import(const std::string &document) {
    ZAVJob *job = ZAVJobImport(document.c_str());
    if (job == nullptr) {
        return;
    }
    if (ZAVJobStatus(job) == ZAV_JOB_OK) {
        for (size_t i = 0; i < ZAVJobItemCount(job); ++i) {
            ZAVJobItem item{};
            if (ZAVJobGetItem(job, i, &item) != ZAV_JOB_OK || item.source >= 1u << 20) {
                std::abort();
            }
            volatile std::size_t length = std::strlen(item.message) + std::strlen(item.output);
            (void)length;
        }
        ZAVFreeMemory(ZAVJobExport(job));
    } else if (ZAVJobMessage(job)[0] == '\0') {
        std::abort();
    }
    ZAVJobDestroy(job);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string document(reinterpret_cast<const char *>(data), size);
    Import(document);
    ZAVJob *job = ZAVJobCreate(document.c_str());
    if (job == nullptr) {
        return 0;
    }
    const int32_t status = ZAVJobStatus(job);
    const char *message = ZAVJobMessage(job);
    const char *options = ZAVJobOptionMessage(job);
    // A refused job says why; an accepted one has nothing to say.
    if (message == nullptr || options == nullptr ||
        (status == ZAV_JOB_OK) != (message[0] == '\0') ||
        (status != ZAV_JOB_OK && status != ZAV_JOB_REFUSED)) {
        std::abort();
    }
    // Touch every byte of both messages, so that a read past their end shows.
    volatile std::size_t length = std::strlen(message) + std::strlen(options);
    (void)length;
    ZAVJobDestroy(job);
    return 0;
}
