// The C interface: loading, saving, the file status and the probe.
#include <cstdlib>
#include <cstring>

#include "imaging/api/object_handle.h"
#include "imaging/buffer/block_registry.h"
#include "imaging/files/file_sink.h"
#include "imaging/files/file_status.h"

extern "C" {

ZAV_API int32_t ZAVLoadImage(ZAVImageObject *obj, const char16_t *imageFileName,
                             ZAVImageStruct *imageStruct) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVLoadImage(imageFileName, imageStruct);
    });
}

ZAV_API int32_t ZAVLoadImageUtf8(ZAVImageObject *obj, const char *imageFileName,
                                 ZAVImageStruct *imageStruct) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVLoadImageUtf8(imageFileName, imageStruct);
    });
}

ZAV_API int32_t ZAVLoadImagePath(ZAVImageObject *obj, const char *path,
                                 ZAVImageStruct *imageStruct) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVLoadImagePath(path, imageStruct);
    });
}

ZAV_API int32_t ZAVSaveImage(ZAVImageObject *obj, const char16_t *imageFileName,
                             const uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                             int32_t channels) {
    return zav::Guarded(obj, 1, zav::FileWork::kSave, [&](zav::ImageComponent &c) {
        return c.ZAVSaveImage(imageFileName, imageData, width, height, depth, channels);
    });
}

ZAV_API int32_t ZAVSaveImageUtf8(ZAVImageObject *obj, const char *imageFileName,
                                 const uint8_t *imageData, int32_t width, int32_t height,
                                 int32_t depth, int32_t channels) {
    return zav::Guarded(obj, 1, zav::FileWork::kSave, [&](zav::ImageComponent &c) {
        return c.ZAVSaveImageUtf8(imageFileName, imageData, width, height, depth, channels);
    });
}

ZAV_API int32_t ZAVSaveImagePath(ZAVImageObject *obj, const char *path, const uint8_t *imageData,
                                 int32_t width, int32_t height, int32_t depth, int32_t channels) {
    return zav::Guarded(obj, 1, zav::FileWork::kSave, [&](zav::ImageComponent &c) {
        return c.ZAVSaveImagePath(path, imageData, width, height, depth, channels);
    });
}

ZAV_API int32_t ZAVSaveImagePathFlags(ZAVImageObject *obj, const char *path,
                                      const uint8_t *imageData, int32_t width, int32_t height,
                                      int32_t depth, int32_t channels, uint32_t flags) {
    return zav::Guarded(obj, 1, zav::FileWork::kSave, [&](zav::ImageComponent &c) {
        return c.ZAVSaveImagePath(path, imageData, width, height, depth, channels, flags);
    });
}

ZAV_API int32_t ZAVSaveImageAt(ZAVImageObject *obj, int folder, const char *name,
                               const uint8_t *imageData, int32_t width, int32_t height,
                               int32_t depth, int32_t channels, uint32_t flags) {
    return zav::Guarded(obj, 1, zav::FileWork::kSave, [&](zav::ImageComponent &c) {
        return c.ZAVSaveImageAt(folder, name, imageData, width, height, depth, channels, flags);
    });
}

ZAV_API void ZAVRemoveStagingAt(int folder, const char *name) {
    if (folder < 0 || name == nullptr || std::strchr(name, '/') != nullptr) {
        return;
    }
    try {
        zav::ReplacingFileSink::RemoveStaging(folder, name);
    } catch (...) {
        // no memory for the name: nothing removed
    }
}

ZAV_API int32_t ZAVGetFileStatus(ZAVImageObject *obj) {
    return zav::Guarded(obj, ZAV_FILE_OK, [](zav::ImageComponent &c) { return c.FileStatus(); });
}

ZAV_API const char *ZAVFileStatusText(int32_t status) {
    return zav::FileStatusText(status);
}

ZAV_API int32_t ZAVProbeImageFileUtf8(ZAVImageObject *obj, const char *imageFileName,
                                      const char **format, int32_t *width, int32_t *height) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVProbeImageFileUtf8(imageFileName, format, width, height);
    });
}

ZAV_API int32_t ZAVProbeImagePath(ZAVImageObject *obj, const char *path, const char **format,
                                  int32_t *width, int32_t *height, int32_t *channels) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVProbeImagePath(path, format, width, height, channels);
    });
}

ZAV_API int32_t ZAVLoadImageMemory(ZAVImageObject *obj, const void *bytes, size_t size,
                                   ZAVImageStruct *imageStruct) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVLoadImageMemory(bytes, size, imageStruct);
    });
}

ZAV_API int32_t ZAVLoadImagePathScaled(ZAVImageObject *obj, const char *path, int32_t denominator,
                                       ZAVImageStruct *imageStruct) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVLoadImagePathScaled(path, denominator, imageStruct);
    });
}

ZAV_API int32_t ZAVLoadImageMemoryScaled(ZAVImageObject *obj, const void *bytes, size_t size,
                                         int32_t denominator, ZAVImageStruct *imageStruct) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVLoadImageMemoryScaled(bytes, size, denominator, imageStruct);
    });
}

ZAV_API int32_t ZAVSaveImageMemory(ZAVImageObject *obj, const char *format,
                                   const uint8_t *imageData, int32_t width, int32_t height,
                                   int32_t depth, int32_t channels, uint8_t **bytes, size_t *size) {
    if (obj == nullptr && bytes != nullptr && size != nullptr) {
        *bytes = nullptr;
        *size = 0;
    }
    return zav::Guarded(obj, 1, zav::FileWork::kSave, [&](zav::ImageComponent &c) {
        return c.ZAVSaveImageMemory(format, imageData, width, height, depth, channels, bytes, size);
    });
}

ZAV_API void ZAVFreeMemory(void *block) {
    // Only a live memory block of the library: a second free, a pixel block (ZAVReleaseImage's)
    // and any other address are left alone.
    if (zav::TakeBackBlock(block, zav::BlockKind::kMemory) == zav::BlockReturn::kTaken) {
        std::free(block);
    }
}

ZAV_API int32_t ZAVProbeImageMemory(ZAVImageObject *obj, const void *bytes, size_t size,
                                    const char **format, int32_t *width, int32_t *height,
                                    int32_t *channels) {
    return zav::Guarded(obj, 1, zav::FileWork::kLoad, [&](zav::ImageComponent &c) {
        return c.ZAVProbeImageMemory(bytes, size, format, width, height, channels);
    });
}

}  // extern "C"
