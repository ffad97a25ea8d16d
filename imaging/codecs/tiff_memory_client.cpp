#include "imaging/codecs/tiff_memory_client.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace zav {
namespace {

TiffMemoryFile *File(thandle_t handle) {
    return static_cast<TiffMemoryFile *>(handle);
}

// Bytes read ahead from a source at once.
constexpr std::size_t kReadAheadBytes = std::size_t{128} << 10;

tmsize_t ReadFromSource(TiffMemoryFile *f, void *buffer, tmsize_t size) {
    if (size <= 0) {
        return 0;
    }
    const auto wanted = static_cast<std::size_t>(size);
    auto *out = static_cast<uint8_t *>(buffer);
    // Served from the block read ahead when it holds the start of the request.
    std::size_t done = 0;
    if (f->ahead && f->position >= f->ahead_offset &&
        f->position - f->ahead_offset < f->ahead_size) {
        const auto skip = static_cast<std::size_t>(f->position - f->ahead_offset);
        done = std::min(wanted, f->ahead_size - skip);
        std::memcpy(out, f->ahead.get() + skip, done);
    }
    if (done < wanted) {
        const uint64_t at = f->position + done;
        const std::size_t rest = wanted - done;
        if (rest >= kReadAheadBytes / 2) {
            const int64_t n = f->source->ReadAt(at, out + done, rest);
            if (n < 0) {
                return -1;
            }
            done += static_cast<std::size_t>(n);
        } else {
            if (!f->ahead) {
                f->ahead.reset(new (std::nothrow) uint8_t[kReadAheadBytes]);
            }
            if (!f->ahead) {
                return -1;
            }
            f->ahead_size = 0;
            const int64_t n = f->source->ReadAt(at, f->ahead.get(), kReadAheadBytes);
            if (n < 0) {
                return -1;
            }
            f->ahead_offset = at;
            f->ahead_size = static_cast<std::size_t>(n);
            const std::size_t take = std::min(rest, f->ahead_size);
            std::memcpy(out + done, f->ahead.get(), take);
            done += take;
        }
    }
    f->position += done;
    return static_cast<tmsize_t>(done);
}

tmsize_t ReadProc(thandle_t handle, void *buffer, tmsize_t size) {
    TiffMemoryFile *f = File(handle);
    if (f->source != nullptr) {
        return ReadFromSource(f, buffer, size);
    }
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
            base = f->Size();
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
    return File(handle)->Size();
}

int MapProc(thandle_t handle, void **base, toff_t *size) {
    TiffMemoryFile *f = File(handle);
    if (f->source != nullptr) {
        return 0;  // not in memory: libtiff reads through ReadProc
    }
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

bool TiffMemoryFile::Copy(uint64_t offset, void *dst, std::size_t size) const {
    if (offset > Size() || size > Size() - offset) {
        return false;
    }
    if (source != nullptr) {
        return source->ReadAt(offset, dst, size) == static_cast<int64_t>(size);
    }
    std::memcpy(dst, bytes.data() + offset, size);
    return true;
}

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
