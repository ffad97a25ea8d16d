// The component object: the save quality and the eleven operations.
#pragma once

#include <cstdint>
#include <string>

#include "zavimage/zavimage.h"

namespace zav {

// The save quality of a new object: the Annex K tables halved.
inline constexpr float kInitialQuality = 2.0f;

// One component object. Operations never throw and never print; each returns its fixed result.
// An object keeps no image between calls; its only state is the save quality.
class ImageComponent {
  public:
    ImageComponent() = default;

    int32_t ZAVLoadImage(const char16_t *imageFileName, ZAVImageStruct *imageStruct);
    int32_t ZAVSetImageQuality(float fQuality) noexcept;
    int32_t ZAVSaveImage(const char16_t *imageFileName, const uint8_t *imageData, int32_t width,
                         int32_t height, int32_t depth, int32_t channels);
    int32_t ZAVCreateImage(int32_t width, int32_t height, int32_t depth, int32_t channels,
                           ZAVImageStruct *imageStruct) noexcept;
    int32_t ZAVFlipImage(uint8_t *imageData, int32_t width, int32_t height, int32_t depth,
                         int32_t channels);
    int32_t ZAVReSizeImage(const ZAVImageStruct *imageStruct,
                           const ZAVImageStruct *videoImageStruct);
    int32_t ZAVReleaseImage(ZAVImageStruct **ppImage) noexcept;
    int32_t ZAVCopyImage(const ZAVImageStruct *psourceImage, int32_t sx, int32_t sy, int32_t swidth,
                         int32_t sheight, const ZAVImageStruct *pdestImage, int32_t dx, int32_t dy,
                         int32_t dwidth, int32_t dheight);
    int32_t ZAVPutTextToImage(const ZAVImageStruct *pImage, const uint8_t *pText, int32_t x,
                              int32_t y, int32_t color, float fSize, float fCharSpace,
                              float transparency);
    int32_t ZAVDrawRect(const ZAVImageStruct *pImage, ZAVImageRect thisImageRect, int32_t color);
    int32_t ZAVCloneImage(const ZAVImageStruct *psourceImage, ZAVImageStruct *pdestImage) noexcept;

    float Quality() const noexcept { return m_fQuality; }

    // Loading and saving with a UTF-8 name (same name rules), or with a path opened as given.
    int32_t ZAVLoadImageUtf8(const char *imageFileName, ZAVImageStruct *imageStruct);
    int32_t ZAVLoadImagePath(const char *path, ZAVImageStruct *imageStruct);
    int32_t ZAVSaveImageUtf8(const char *imageFileName, const uint8_t *imageData, int32_t width,
                             int32_t height, int32_t depth, int32_t channels);
    int32_t ZAVSaveImagePath(const char *path, const uint8_t *imageData, int32_t width,
                             int32_t height, int32_t depth, int32_t channels);
    // Why the last load or save ended as it did (a ZAV_FILE_* code).
    int32_t FileStatus() const noexcept { return m_fileStatus; }

  private:
    float m_fQuality = kInitialQuality;
    int32_t m_fileStatus = ZAV_FILE_OK;

    // Captions (text/): the text taken as UTF-8, and the object's own first font file.
  public:
    int32_t ZAVPutTextToImageUtf8(const ZAVImageStruct *pImage, const char *pText, int32_t x,
                                  int32_t y, int32_t color, float fSize, float fCharSpace,
                                  float transparency);
    int32_t ZAVSetFontPath(const char *path);

  private:
    std::string m_fontPath;  // used in place of the default font file when m_hasFontPath
    bool m_hasFontPath = false;

    // What a file holds, from its header alone (name rules as for loading).
  public:
    int32_t ZAVProbeImageFileUtf8(const char *imageFileName, const char **format, int32_t *width,
                                  int32_t *height);
};

}  // namespace zav
