// The component object: the save quality and the eleven operations, with the native additions
// (UTF-8 and path names, the file status, the font file, the probe).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zavimage/zavimage.h"

namespace zav {

// The save quality of a new object: the Annex K tables halved.
inline constexpr float kInitialQuality = 2.0f;

enum class NameRules;  // files/image_files.h

// What an operation that escapes with an exception was doing, for the status it leaves.
enum class FileWork { kNone, kLoad, kSave };

// One component object. Each operation returns its fixed result and prints nothing; an exception
// (a memory shortage) may leave an operation, and the C interface's guard turns it into the
// operation's usual result. An object keeps no image between calls.
class ImageComponent {
  public:
    ImageComponent() = default;

    // Buffers (api/component_pixels.cpp, over buffer/lifecycle.cpp).
    int32_t ZAVCreateImage(int32_t width, int32_t height, int32_t depth, int32_t channels,
                           ZAVImageStruct *imageStruct) noexcept;
    int32_t ZAVReleaseImage(ZAVImageStruct **ppImage) noexcept;
    int32_t ZAVCloneImage(const ZAVImageStruct *psourceImage, ZAVImageStruct *pdestImage) noexcept;

    // Files (api/image_component.cpp, over files/image_files.cpp). Names are checked by the name
    // rules; the Path forms open the path as given.
    int32_t ZAVSetImageQuality(float fQuality) noexcept;
    int32_t ZAVLoadImage(const char16_t *imageFileName, ZAVImageStruct *imageStruct);
    int32_t ZAVSaveImage(const char16_t *imageFileName, const uint8_t *imageData, int32_t width,
                         int32_t height, int32_t depth, int32_t channels);
    int32_t ZAVLoadImageUtf8(const char *imageFileName, ZAVImageStruct *imageStruct);
    int32_t ZAVLoadImagePath(const char *path, ZAVImageStruct *imageStruct);
    int32_t ZAVSaveImageUtf8(const char *imageFileName, const uint8_t *imageData, int32_t width,
                             int32_t height, int32_t depth, int32_t channels);
    int32_t ZAVSaveImagePath(const char *path, const uint8_t *imageData, int32_t width,
                             int32_t height, int32_t depth, int32_t channels, uint32_t flags = 0);
    int32_t ZAVSaveImageAt(int folder, const char *name, const uint8_t *imageData, int32_t width,
                           int32_t height, int32_t depth, int32_t channels, uint32_t flags);
    // What a file holds, from its header alone.
    int32_t ZAVProbeImageFileUtf8(const char *imageFileName, const char **format, int32_t *width,
                                  int32_t *height);
    int32_t ZAVProbeImagePath(const char *path, const char **format, int32_t *width,
                              int32_t *height, int32_t *channels);
    // The same for images held in memory.
    int32_t ZAVLoadImageMemory(const void *bytes, std::size_t size, ZAVImageStruct *imageStruct);
    // Loads at 1/denominator (2, 4, 8) where the format decodes so (JPEG), else at full size.
    int32_t ZAVLoadImagePathScaled(const char *path, int32_t denominator,
                                   ZAVImageStruct *imageStruct);
    int32_t ZAVLoadImageMemoryScaled(const void *bytes, std::size_t size, int32_t denominator,
                                     ZAVImageStruct *imageStruct);
    int32_t ZAVSaveImageMemory(const char *format, const uint8_t *imageData, int32_t width,
                               int32_t height, int32_t depth, int32_t channels, uint8_t **bytes,
                               std::size_t *size);
    int32_t ZAVProbeImageMemory(const void *bytes, std::size_t size, const char **format,
                                int32_t *width, int32_t *height, int32_t *channels);
    float Quality() const noexcept { return m_fQuality; }
    // Why the last load, save or probe ended as it did (a ZAV_FILE_* code).
    int32_t FileStatus() const noexcept { return m_fileStatus; }

    // Pixels (api/component_pixels.cpp, over ops/).
    int32_t ZAVFlipImage(uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                         int32_t channels);
    int32_t ZAVReSizeImage(const ZAVImageStruct *imageStruct,
                           const ZAVImageStruct *videoImageStruct);
    int32_t ZAVCopyImage(const ZAVImageStruct *psourceImage, int32_t sx, int32_t sy, int32_t swidth,
                         int32_t sheight, const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
                         int32_t dwidth, int32_t dheight);
    int32_t ZAVDrawRect(const ZAVImageStruct *pImage, ZAVImageRect thisImageRect, int32_t color);

    // Captions (api/component_text.cpp, over text/caption.cpp): narrow text in the user's encoding,
    // or UTF-8; the object's own first font file.
    int32_t ZAVPutTextToImage(const ZAVImageStruct *pImage, const uint8_t *pText, int32_t x,
                              int32_t y, int32_t color, float fSize, float fCharSpace,
                              float transparency);
    int32_t ZAVPutTextToImageUtf8(const ZAVImageStruct *pImage, const char *pText, int32_t x,
                                  int32_t y, int32_t color, float fSize, float fCharSpace,
                                  float transparency);
    int32_t ZAVSetFontPath(const char *path);
    // Typographic captions (api/component_text.cpp, over text/typo_caption.cpp): ZAV_TEXT_*
    // results.
    int32_t ZAVDrawTextUtf8(const ZAVImageStruct *pImage, const char *text, int32_t x, int32_t y,
                            const ZAVTextStyle *style) noexcept;
    int32_t ZAVMeasureTextUtf8(const char *text, int32_t x, int32_t y, const ZAVTextStyle *style,
                               ZAVTextMetrics *metrics) noexcept;

    // Called by the C interface's guard when an exception left an operation: a load, save or probe
    // reports it in the file status (out of memory, or a read or write that failed).
    void ExceptionEscaped(FileWork work, bool outOfMemory) noexcept;

  private:
    // The probe by name (rules applied) or by path (opened as given).
    int32_t Probe(const char *name, NameRules rules, const char **format, int32_t *width,
                  int32_t *height, int32_t *channels);
    // Keeps the status of a load, save or probe and gives the operation's result.
    int32_t FileResult(int32_t status) noexcept;

    float m_fQuality = kInitialQuality;
    int32_t m_fileStatus = ZAV_FILE_OK;
    std::string m_fontPath;  // used in place of the default font file when m_hasFontPath
    bool m_hasFontPath = false;
};

}  // namespace zav
