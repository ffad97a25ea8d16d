// Reading the quantization tables of a baseline JPEG file.
#pragma once

#include <array>
#include <map>
#include <vector>

namespace zavtest {

// Tables by their identifier, each in natural (row-major) order; empty when the file is not a
// JPEG file with 8-bit tables.
std::map<int, std::array<int, 64>> QuantizationTables(const std::vector<unsigned char> &file);

// ITU-T T.81 Annex K tables K.1 (luminance) and K.2 (chrominance), natural order.
extern const std::array<int, 64> kAnnexKLuminance;
extern const std::array<int, 64> kAnnexKChrominance;

}  // namespace zavtest
