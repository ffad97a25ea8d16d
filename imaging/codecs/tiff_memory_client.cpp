#include "imaging/codecs/tiff_memory_client.h"

#include <cstdio>
#include <cstring>

namespace zav {
namespace {

TiffMemoryFile *File(thandle_t handle) {
    return static_cast<TiffMemoryFile *>(handle);
}

tmsize_t ReadProc(thandle_t handle, void *buffer, tmsize_t size) {
    TiffMemoryFile *f = File(handle);
    if (size <= 0 || f->position >= f->bytes.size()) {
        return 0;
    }
    const uint64_t left = f->bytes.size() - f->position;
    const uint64_t n = static_cast<uint64_t>(size) < left ? static_cast<uint64_t>(size) : left;
    std::memcpy(buffer, f->bytes.data() + f->position, static_cast<std::size_t>(n));
    f->position += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t WriteProc(thandle_t, void *, tmsize_t) {
    return -1;  // read only
}

toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
    TiffMemoryFile *f = File(handle);
    uint64_t base;
    switch (whence) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = f->position;
            break;
        case SEEK_END:
            base = f->bytes.size();
            break;
        default:
            return static_cast<toff_t>(-1);
    }
    // libtiff passes relative moves as unsigned; anything past 2^63 is refused.
    if (offset > (UINT64_MAX >> 1) - base) {
        return static_cast<toff_t>(-1);
    }
    f->position = base + offset;
    return f->position;
}

int CloseProc(thandle_t) {
    return 0;
}

toff_t SizeProc(thandle_t handle) {
    return File(handle)->bytes.size();
}

int MapProc(thandle_t handle, void **base, toff_t *size) {
    TiffMemoryFile *f = File(handle);
    // libtiff only reads through the mapping of a file opened for reading.
    *base = const_cast<uint8_t *>(f->bytes.data());
    *size = f->bytes.size();
    return 1;
}

void UnmapProc(thandle_t, void *, toff_t) {}

int OnError(TIFF *, void *user_data, const char *, const char *, va_list) {
    ++static_cast<TiffMemoryFile *>(user_data)->errors;
    return 1;  // handled: the process-wide handlers are not called
}

int OnWarning(TIFF *, void *, const char *, const char *, va_list) {
    return 1;
}

}  // namespace

TIFF *OpenTiffInMemory(TiffMemoryFile *file) {
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        return nullptr;
    }
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, kTiffMaxSingleAllocation);
    TIFFOpenOptionsSetErrorHandlerExtR(options, OnError, file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, OnWarning, file);
    file->position = 0;
    TIFF *tif = TIFFClientOpenExt("memory", "r", file, ReadProc, WriteProc, SeekProc, CloseProc,
                                  SizeProc, MapProc, UnmapProc, options);
    TIFFOpenOptionsFree(options);
    return tif;
}

}  // namespace zav
