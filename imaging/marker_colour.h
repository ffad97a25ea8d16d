// The marker's colour: a colour code, the packed number it selects, and the channel values that
// number gives in an image of a given depth and channel count.
#pragma once

#include <cstdint>

#include <opencv2/core/types.hpp>

namespace zav {

// Codes 0 and 1 (and every code without a colour of its own): 0xFF0000, red in a BGR buffer.
// 2: 0x00FF00 green; 3: 0x0000FF blue; 4: 0xFFFF00 yellow; 5: 0xFFFFFF white; 6: 0 black.
uint32_t MarkerPackedColour(int32_t code) noexcept;

// The value each channel of an outline pixel receives. 8-bit images with more than one channel
// take byte k of the packed number in channel k (read as a signed byte for 8-bit signed images);
// every other image takes the whole number in every channel, saturated to the channel's range.
cv::Scalar MarkerChannelValues(uint32_t packed, int32_t depth, int32_t channels) noexcept;

}  // namespace zav
