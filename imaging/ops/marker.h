// The marker rectangle: the box drawn around a marked region (the region grown by a fifth of its
// width on the left and right and a third of its height above and below, kept at the image's left,
// top, right and bottom edges one side at a time), its colours, and the rounding mode it is
// computed in.
#pragma once

#include <cfenv>
#include <cstdint>

#include <opencv2/core/types.hpp>

#include "zavimage/zavimage.h"

namespace zav {

// Corners as computed; x1 > x2 or y1 > y2 is possible and kept. 64-bit: no input overflows.
struct MarkerBox {
    int64_t x1 = 0;
    int64_t y1 = 0;
    int64_t x2 = 0;
    int64_t y2 = 0;
};

// Margins are width * 0.2 and height * (1/3) in double precision; each corner is truncated toward
// zero. x1 and y1 at or below 0 become 0; x2 at or past imageWidth becomes imageWidth - 1, y2 at or
// past imageHeight becomes imageHeight - 1. Call in round-to-nearest mode (RoundToNearestScope).
MarkerBox GrowMarkerBox(const ZAVImageRect &region, int32_t imageWidth,
                        int32_t imageHeight) noexcept;

// Codes 0 and 1 (and every code without a colour of its own): 0xFF0000, red in a BGR buffer.
// 2: 0x00FF00 green; 3: 0x0000FF blue; 4: 0xFFFF00 yellow; 5: 0xFFFFFF white; 6: 0 black.
uint32_t MarkerPackedColour(int32_t code) noexcept;

// The value each channel of an outline pixel receives. 8-bit images with more than one channel
// take byte k of the packed number in channel k (read as a signed byte for 8-bit signed images);
// every other image takes the whole number in every channel, saturated to the channel's range.
cv::Scalar MarkerChannelValues(uint32_t packed, int32_t depth, int32_t channels) noexcept;

// Saves the thread's whole floating-point environment (rounding mode, exception flags and masks,
// on x86-64 both the x87 control word and MXCSR), switches to round-to-nearest, and puts the saved
// environment back on destruction, exactly as it was found.
class RoundToNearestScope {
  public:
    RoundToNearestScope() noexcept {
        m_saved = std::fegetenv(&m_env) == 0;
        std::fesetround(FE_TONEAREST);
    }
    ~RoundToNearestScope() {
        if (m_saved) {
            std::fesetenv(&m_env);
        }
    }
    RoundToNearestScope(const RoundToNearestScope &) = delete;
    RoundToNearestScope &operator=(const RoundToNearestScope &) = delete;

  private:
    std::fenv_t m_env{};
    bool m_saved = false;
};

// Keeps the compiler from computing with v before this point (for instance before the rounding
// mode was set): v is taken as changed here, behind a barrier no memory access crosses.
inline double OpaqueDouble(double v) noexcept {
#if defined(__GNUC__)
    asm volatile("" : "+m"(v) : : "memory");
#endif
    return v;
}

// Draws the marker box around the region in the colour of `color`; returns 1.
int32_t DrawMarker(const ZAVImageStruct *pImage, ZAVImageRect thisImageRect, int32_t color);

}  // namespace zav
