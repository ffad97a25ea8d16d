// JPEG marker walking for the quantization tables.
#include "host_jpeg.h"

#include <cstddef>

namespace zavtest {

const std::array<int, 64> kAnnexKLuminance = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

const std::array<int, 64> kAnnexKChrominance = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

namespace {

// Natural-order index of each position of the zigzag sequence.
const int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                         12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                         35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                         58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

}  // namespace

std::map<int, std::array<int, 64>> QuantizationTables(const std::vector<unsigned char> &file) {
    std::map<int, std::array<int, 64>> tables;
    if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) {
        return {};
    }
    std::size_t pos = 2;
    while (pos + 4 <= file.size() && file[pos] == 0xFF) {
        const int marker = file[pos + 1];
        const std::size_t length = (file[pos + 2] << 8) | file[pos + 3];
        if (marker == 0xDA || pos + 2 + length > file.size()) {
            break;  // start of scan: every table has been seen
        }
        if (marker == 0xDB) {
            std::size_t p = pos + 4;
            while (p + 65 <= pos + 2 + length) {
                if ((file[p] >> 4) != 0) {
                    return {};  // 16-bit tables
                }
                std::array<int, 64> table{};
                for (int k = 0; k < 64; ++k) {
                    table[kZigzag[k]] = file[p + 1 + k];
                }
                tables[file[p] & 15] = table;
                p += 65;
            }
        }
        pos += 2 + length;
    }
    return tables;
}

}  // namespace zavtest
