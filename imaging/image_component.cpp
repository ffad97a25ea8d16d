#include "imaging/image_component.h"

namespace zav {

int32_t ImageComponent::ZAVSetImageQuality(float fQuality) noexcept {
    // Stored as given: no range check, no rounding; NaN and infinities included.
    m_fQuality = fQuality;
    return 0;
}

}  // namespace zav
