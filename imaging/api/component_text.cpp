// The component's captions: the classic caption and the typographic one, each with the object's
// own font file (text/).
#include "imaging/api/image_component.h"
#include "text/caption.h"
#include "text/multibyte_decoder.h"
#include "text/typo_caption.h"

namespace zav {

int32_t ImageComponent::ZAVPutTextToImage(const ZAVImageStruct *pImage, const uint8_t *pText,
                                          int32_t x, int32_t y, int32_t color, float fSize,
                                          float fCharSpace, float transparency) {
    return PutCaption(pImage, pText, x, y, color, fSize, fCharSpace, transparency,
                      m_hasFontPath ? &m_fontPath : nullptr, TextEncoding::kUserDefault);
}

int32_t ImageComponent::ZAVPutTextToImageUtf8(const ZAVImageStruct *pImage, const char *pText,
                                              int32_t x, int32_t y, int32_t color, float fSize,
                                              float fCharSpace, float transparency) {
    return PutCaption(pImage, reinterpret_cast<const uint8_t *>(pText), x, y, color, fSize,
                      fCharSpace, transparency, m_hasFontPath ? &m_fontPath : nullptr,
                      TextEncoding::kUtf8);
}

int32_t ImageComponent::ZAVSetFontPath(const char *path) {
    if (path == nullptr) {
        m_fontPath.clear();
        m_hasFontPath = false;
    } else {
        m_fontPath = path;
        m_hasFontPath = true;
    }
    return 0;
}

int32_t ImageComponent::ZAVDrawTextUtf8(const ZAVImageStruct *pImage, const char *text, int32_t x,
                                        int32_t y, const ZAVTextStyle *style) noexcept {
    if (pImage == nullptr) {
        return ZAV_TEXT_REFUSED;
    }
    return TypoCaption(pImage, text, x, y, style, m_hasFontPath ? &m_fontPath : nullptr, nullptr);
}

int32_t ImageComponent::ZAVMeasureTextUtf8(const char *text, int32_t x, int32_t y,
                                           const ZAVTextStyle *style,
                                           ZAVTextMetrics *metrics) noexcept {
    if (metrics == nullptr) {
        return ZAV_TEXT_REFUSED;
    }
    return TypoCaption(nullptr, text, x, y, style, m_hasFontPath ? &m_fontPath : nullptr, metrics);
}

}  // namespace zav
