// Fuzzes job documents through the C interface: the data, NUL-terminated, are the document, read
// and checked by ZAVJobCreate; its status and messages are read and it is destroyed. Never
// planned: planning reads the file system.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "zavimage/job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string document(reinterpret_cast<const char *>(data), size);
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
